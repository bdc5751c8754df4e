#pragma once

#include <QLabel>
#include <QLineEdit>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "views/WindowKit.h"
#include "views/parallel/ParallelLayout.h"
#include "views/parallel/ParallelPlot.h"

namespace lumeno {

// The six parallel-coordinate views. Each draws every record as a line across its axes;
// they differ only in their axes, the fields on them and their labels.
class ParallelWindow : public GraphWindow {
    Q_OBJECT

  public:
    enum class Axes { kTwo, kFour, kFixed };
    struct Design {
        const char* caption;
        QSize clientTwips;
        std::optional<QPoint> positionTwips;
        Axes axes;
        LabelBoxes labels;
        int d2 = 0, d3 = 0;  // two-axis views: right-hand label offsets
    };

    explicit ParallelWindow(const Design& design);

    QLabel* Label1(int index) const { return label1_.at(index); }
    QWidget* Line1(int index) const { return line1_.at(index); }
    // The smallest outer size the window keeps, in twips (none for the fixed window).
    QSize MinimumOuterTwips() const;

  protected:
    void LayOut(QSize client) override;
    ParallelPlot& Plot() { return plot_; }

  private:
    Design design_;
    ParallelPlot plot_;
    std::array<QLabel*, 10> label1_{};
    std::array<QWidget*, 2> line1_{};
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

  private:
    std::array<QLineEdit*, 5> text1_{};
    // The boxes' texts as the records compare them, kept current as the user types.
    std::array<std::string, 5> boxText_;
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
