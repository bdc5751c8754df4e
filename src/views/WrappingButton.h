#pragma once

#include <QPushButton>

namespace lumeno {

// A push button whose caption wraps onto several lines when it is wider than the button.
class WrappingButton : public QPushButton {
  public:
    WrappingButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace lumeno
