#pragma once

#include <QString>
#include <cstdint>
#include <span>
#include <string_view>

#include "views/PlotSurface.h"
#include "views/WindowKit.h"
#include "views/scrolling/ScrollRule.h"

namespace lumeno {

// What the four scrolling plots share: their surface, the rule, and the position in it.
class ScrollingPlot {
  public:
    void Reset() {
        surface_.Erase();
        rule_.Reset();
    }
    std::int16_t scrollLocation() const { return rule_.scrollLocation(); }
    int Lines() const { return rule_.Lines(surface_); }
    // Moves on one line without drawing it: for a packet whose line a later one paints
    // over before the picture is looked at.
    void Skip() { rule_.Skip(surface_); }

  protected:
    ScrollingPlot(PlotSurface& surface, ScrollRule::Form form) : surface_(surface), rule_(form) {}

    PlotSurface& surface_;
    ScrollRule rule_;
};

// Traffic class per column: each class paints its own quarter of the column.
class TimeSequencePlot : public ScrollingPlot {
  public:
    explicit TimeSequencePlot(PlotSurface& surface)
        : ScrollingPlot(surface, ScrollRule::Form::Column) {}
    void Plot(std::string_view packetType);
};

// One chosen port or address per column, smallest value at the bottom.
class RunningPortPlot : public ScrollingPlot {
  public:
    enum Quantity { InternalPort = 0, ExternalPort = 1, InternalIP = 2, ExternalIP = 3 };

    explicit RunningPortPlot(PlotSurface& surface)
        : ScrollingPlot(surface, ScrollRule::Form::Column) {}
    void Plot(std::string_view sourceIPString, std::int32_t srcPort, std::string_view destIPString,
              std::int32_t destPort);
    // A new quantity clears the picture but keeps the column.
    void Select(Quantity quantity);
    Quantity Selected() const { return quantity_; }

  private:
    Quantity quantity_ = ExternalPort;
};

// Saves the picture at every wrap while enabled, as directory/timestamp suffix N.bmp with
// N counting up from 1 for the life of the view.
class RunningImages {
  public:
    explicit RunningImages(QString suffix) : suffix_(std::move(suffix)) {}
    bool enabled = false;
    std::int16_t snapshotCount() const { return snapshotCount_; }
    // Writes one image if enabled. A failed write is reported and still uses its number, so
    // that names never repeat.
    void OnWrap(const PlotSurface& surface, const ImageContext& context);

  private:
    QString suffix_;
    std::int16_t snapshotCount_ = 1;
};

// Each packet's bits in one row, eight columns per byte, most significant bit first.
class BitRainPlot : public ScrollingPlot {
  public:
    explicit BitRainPlot(PlotSurface& surface) : ScrollingPlot(surface, ScrollRule::Form::Row) {}
    // True when this packet completed a sweep.
    bool Graph(std::span<const std::uint8_t> packetTxt, std::int16_t packetLen);
    std::int16_t maxBits = 0;
};

// Each packet's length as a bar from the left, 1518 bytes spanning the width.
class WaterfallPlot : public ScrollingPlot {
  public:
    explicit WaterfallPlot(PlotSurface& surface) : ScrollingPlot(surface, ScrollRule::Form::Row) {}
    // True when this packet completed a sweep.
    bool PlotData(std::int16_t packetLen);
    std::int16_t ScaleLength(std::int16_t packetLen) const;
};

}  // namespace lumeno
