#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "views/WindowKit.h"
#include "views/scrolling/ScrollingPlots.h"

namespace lumeno {

// The four scrolling views: one pixel column or row per packet, wrapping when full.
class ScrollingWindow : public GraphWindow {
    Q_OBJECT

  public:
    using GraphWindow::GraphWindow;
    // Clears the picture and starts again at the first column or row.
    virtual void reset();
};

class visTimeSequence : public ScrollingWindow {
    Q_OBJECT

  public:
    visTimeSequence();
    void Plot(std::string_view packetType) { plot_.Plot(packetType); }
    void reset() override { plot_.Reset(); }
    ScrollingPlot& Scroll() { return plot_; }

    std::int16_t scrollLocation() const { return plot_.scrollLocation(); }
    QLabel* Label1(int k) const { return label1_[k]; }

  protected:
    void LayOut(QSize client) override;

  private:
    TimeSequencePlot plot_{Surface()};
    std::array<QLabel*, 4> label1_{};
};

class visRunningPort : public ScrollingWindow {
    Q_OBJECT

  public:
    visRunningPort();
    void Plot(std::string_view sourceIPString, std::int32_t srcPort, std::string_view destIPString,
              std::int32_t destPort) {
        plot_.Plot(sourceIPString, srcPort, destIPString, destPort);
    }
    void reset() override { plot_.Reset(); }
    ScrollingPlot& Scroll() { return plot_; }

    std::int16_t scrollLocation() const { return plot_.scrollLocation(); }
    QComboBox* cmbVerticalType() const { return cmbVerticalType_; }
    QLabel* lblVerticalMax() const { return lblVerticalMax_; }
    QLabel* lblVerticalMin() const { return lblVerticalMin_; }

  protected:
    void LayOut(QSize client) override;

  private:
    void SelectionChanged(int index);

    RunningPortPlot plot_{Surface()};
    QComboBox* cmbVerticalType_;
    QLabel* lblVerticalMax_;
    QLabel* lblVerticalMin_;
};

// The two row views share their frame: corner labels, the running-images box, a minimum
// window size, and an image saved at every wrap while the box is ticked.
class RowScrollingWindow : public ScrollingWindow {
    Q_OBJECT

  public:
    RowScrollingWindow(const QString& caption, QSize clientTwips, QPoint positionTwips,
                       const QString& runningSuffix);
    QLabel* Label1(int k) const { return label1_[k]; }
    QCheckBox* chkSnapshots() const { return chkSnapshots_; }
    std::int16_t snapshotCount() const { return images_.snapshotCount(); }
    bool SavesRunningImages() const { return images_.enabled; }
    // Grows whenever any row view's box is ticked or cleared: a drawing thread looks at it for
    // every record, where the windows themselves lie beside what it draws into.
    static std::uint32_t SwitchChanges() { return switchChanges_; }

    static constexpr int kMinOuterWidthTwips = 3250;
    static constexpr int kMinOuterHeightTwips = 2500;

  protected:
    void LayOut(QSize client) override;
    // Places the right-hand labels once the surface is placed.
    virtual void PlaceRightLabels(int surfaceWidth, int surfaceHeight) = 0;
    void Wrapped() { images_.OnWrap(Surface(), RunningImageContext()); }

    std::array<QLabel*, 4> label1_{};

  private:
    QCheckBox* chkSnapshots_;
    RunningImages images_;
    alignas(128) static inline std::uint32_t switchChanges_ = 0;
};

class visBitData : public RowScrollingWindow {
    Q_OBJECT

  public:
    visBitData();
    void Graph(std::span<const std::uint8_t> packetTxt, std::int16_t packetLen) {
        if (plot_.Graph(packetTxt, packetLen)) Wrapped();
    }
    // Draws and saves no running image: for a drawing thread, given only packets that came
    // while none were saved.
    void GraphOnly(std::span<const std::uint8_t> packetTxt, std::int16_t packetLen) {
        plot_.Graph(packetTxt, packetLen);
    }
    void reset() override { plot_.Reset(); }
    ScrollingPlot& Scroll() { return plot_; }

    std::int16_t scrollLocation() const { return plot_.scrollLocation(); }
    std::int16_t maxBits() const { return plot_.maxBits; }

  protected:
    void PlaceRightLabels(int surfaceWidth, int surfaceHeight) override;

  private:
    BitRainPlot plot_{Surface()};
};

class visWaterfallData : public RowScrollingWindow {
    Q_OBJECT

  public:
    visWaterfallData();
    void PlotData(std::int16_t packetLen) {
        if (plot_.PlotData(packetLen)) Wrapped();
    }
    // Draws and saves no running image, as GraphOnly.
    void PlotDataOnly(std::int16_t packetLen) { plot_.PlotData(packetLen); }
    void reset() override { plot_.Reset(); }
    ScrollingPlot& Scroll() { return plot_; }

    std::int16_t scrollLocation() const { return plot_.scrollLocation(); }

  protected:
    void PlaceRightLabels(int surfaceWidth, int surfaceHeight) override;

  private:
    WaterfallPlot plot_{Surface()};
};

}  // namespace lumeno
