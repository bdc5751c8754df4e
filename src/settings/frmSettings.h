#pragma once

#include <QColor>
#include <QFrame>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

#include "packet/Colors.h"

namespace lumeno {

// The colour settings window. Its swatches carry the default colours when it is built;
// LoadColors copies them into the colour variables at start-up.
class frmSettings : public QWidget {
    Q_OBJECT

  public:
    // Opens a colour chooser on a colour; the chosen colour, or nothing when cancelled.
    using ColorChooser = std::function<std::optional<Rgb>(Rgb current, QWidget* parent)>;

    frmSettings();

    Rgb FillColor(int index) const { return fills_.at(index); }
    QFrame* Shape1(int index) const { return shape1_.at(index); }
    QPushButton* ColorButton(int index) const { return buttons_.at(index); }
    QPushButton* btnDone() const { return btnDone_; }
    bool ClosedByUser() const { return closedByUser_; }

    void SetColorChooser(ColorChooser chooser) { chooser_ = std::move(chooser); }
    // Called after "Background Color" has set colorBackground.
    void SetBackgroundApplier(std::function<void()> apply) { applyBackground_ = std::move(apply); }

    // The colour pick of button k (0: UDP in, 1: UDP out, 2: TCP in, 3: TCP out,
    // 4: background).
    void PickColor(int index);

    // The platform's chooser (QColorDialog), opened on the given colour.
    static std::optional<Rgb> PlatformChooser(Rgb current, QWidget* parent);

  protected:
    void closeEvent(QCloseEvent* event) override;
    // The first showing keeps the window on the screen.
    void showEvent(QShowEvent* event) override;

  private:
    void SetFill(int index, Rgb color);

    std::array<QFrame*, 5> shape1_{};
    std::array<QPushButton*, 5> buttons_{};
    std::array<Rgb, 5> fills_{};
    QPushButton* btnDone_;
    ColorChooser chooser_ = &frmSettings::PlatformChooser;
    std::function<void()> applyBackground_;
    bool closedByUser_ = false;
    bool shownOnce_ = false;
};

// Copies the swatch colours into the colour variables.
void LoadColors(const frmSettings& settings);

}  // namespace lumeno
