#pragma once

#include <QLineEdit>
#include <array>
#include <cstdint>
#include <string_view>

#include "views/WindowKit.h"

namespace lumeno {

// The six parallel-coordinate views. Each draws every record as a line across its axes.
class ParallelWindow : public GraphWindow {
    Q_OBJECT

  public:
    ParallelWindow(const QString& caption, QSize clientTwips, std::optional<QPoint> position,
                   bool resizable = true);

  protected:
    void LayOut(QSize client) override;
};

class visParallel : public ParallelWindow {
    Q_OBJECT

  public:
    visParallel();
    void parallelPort2Port(std::int32_t sourcePort, std::int32_t destPort);
};

class visParallelIP : public ParallelWindow {
    Q_OBJECT

  public:
    visParallelIP();
    void parallelIP2IP(std::string_view sourceIPString, std::string_view destIPString);
};

class visParallelIPPort : public ParallelWindow {
    Q_OBJECT

  public:
    visParallelIPPort();
    void Graph(std::string_view sourceIPString, std::int32_t destPort);
};

class visParallelIPcustom : public ParallelWindow {
    Q_OBJECT

  public:
    visParallelIPcustom();
    void parallelIP2IPcustom(std::string_view sourceIPString, std::string_view destIPString);
    QLineEdit* Text1(int index) const { return text1_.at(index); }

  protected:
    void LayOut(QSize client) override;

  private:
    std::array<QLineEdit*, 5> text1_{};
};

class visParallelDual : public ParallelWindow {
    Q_OBJECT

  public:
    visParallelDual();
    void parallelDual(std::string_view sourceIPString, std::int32_t sourcePortIn,
                      std::string_view destIPString, std::int32_t destPortIn);
};

class visParallelDual_IPPI : public ParallelWindow {
    Q_OBJECT

  public:
    visParallelDual_IPPI();
    void parallelDual(std::string_view sourceIPString, std::int32_t sourcePortIn,
                      std::string_view destIPString, std::int32_t destPortIn);
};

}  // namespace lumeno
