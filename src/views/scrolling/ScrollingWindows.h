#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "views/WindowKit.h"

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
    void Plot(std::string_view packetType);

  protected:
    void LayOut(QSize client) override;
};

class visRunningPort : public ScrollingWindow {
    Q_OBJECT

  public:
    visRunningPort();
    void Plot(std::string_view sourceIPString, std::int32_t srcPort, std::string_view destIPString,
              std::int32_t destPort);

  protected:
    void LayOut(QSize client) override;
};

class visBitData : public ScrollingWindow {
    Q_OBJECT

  public:
    visBitData();
    void Graph(std::span<const std::uint8_t> packetTxt, std::int16_t packetLen);

  protected:
    void LayOut(QSize client) override;
};

class visWaterfallData : public ScrollingWindow {
    Q_OBJECT

  public:
    visWaterfallData();
    void PlotData(std::int16_t packetLen);

  protected:
    void LayOut(QSize client) override;
};

}  // namespace lumeno
