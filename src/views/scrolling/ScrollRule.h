#pragma once

#include <algorithm>
#include <cstdint>

#include "packet/Library.h"
#include "views/PlotSurface.h"

namespace lumeno {

inline constexpr Rgb kScrollErase = MakeRgb(0, 0, 0);
inline constexpr Rgb kScrollCursor = MakeRgb(255, 255, 255);

// The rule every scrolling view follows for one packet at position p: erase the whole
// column (or row) at p in black, let the view draw its mark there, draw the white cursor
// at p + 1, then step on, wrapping to 0 at the edge. Written once for the four views.
class ScrollRule {
  public:
    enum class Form { Column, Row };

    explicit ScrollRule(Form form) : form_(form) {}

    std::int16_t scrollLocation() const { return scrollLocation_; }
    void Reset() { scrollLocation_ = 0; }
    // Lines in one sweep: a packet's line is painted again this many packets later.
    int Lines(const PlotSurface& s) const { return form_ == Form::Column ? s.Width() : s.Height(); }

    // Moves on as a step does, without painting the line: for a packet whose line a later
    // packet paints over before anyone looks at the picture. The cursor waits where a step
    // leaves it.
    bool Skip(PlotSurface& surface) { return Finish(surface, Begin(surface)); }

    // Draws one packet; mark(surface, p) paints the view's own mark. True when the position
    // wrapped back to 0 after this packet (the moment a full sweep is complete).
    template <typename Mark>
    bool Step(PlotSurface& surface, Mark&& mark) {
        const int p = Begin(surface);
        Across(surface, p, 0, Length(surface), kScrollErase);
        mark(surface, p);
        return Finish(surface, p);
    }

    // Step for a mark that paints every pixel of the line from 0 up to where it says it
    // stopped: only the rest is erased.
    template <typename Mark>
    bool StepCovering(PlotSurface& surface, Mark&& mark) {
        const int p = Begin(surface);
        const int covered = mark(surface, p);
        Across(surface, p, static_cast<float>(covered), Length(surface), kScrollErase);
        return Finish(surface, p);
    }

    // Step for a mark that is one solid span [from, to) along the line: the span is painted
    // once and only the rest is erased, which leaves the same pixels for fewer writes.
    bool StepSpan(PlotSurface& surface, float from, float to, Rgb color) {
        const int p = Begin(surface);
        const float length = Length(surface);
        from = std::clamp(from, 0.0f, length);
        to = std::clamp(to, from, length);
        Across(surface, p, 0, from, kScrollErase);
        Across(surface, p, from, to, color);
        Across(surface, p, to, length, kScrollErase);
        return Finish(surface, p);
    }

  private:
    // Every step paints its whole line, so the cursor left there by the last one need not
    // be drawn at all: it waits until then (or until the picture is looked at).
    int Begin(PlotSurface& surface) const {
        surface.WillCoverLine(form_ == Form::Column, scrollLocation_);
        return scrollLocation_;
    }
    float Length(const PlotSurface& s) const {
        return static_cast<float>(form_ == Form::Column ? s.Height() : s.Width());
    }
    // The line across the surface at position p, from..to along it.
    void Across(PlotSurface& s, int p, float from, float to, Rgb color) const {
        // Ends rounded as a line rounds them.
        const int a = static_cast<int>(RoundHalfEven(from));
        const int b = static_cast<int>(RoundHalfEven(to));
        if (form_ == Form::Column) {
            s.ColumnSpan(p, a, b, color);
        } else {
            s.RowSpan(p, a, b, color);
        }
    }
    bool Finish(PlotSurface& surface, int p) {
        const bool column = form_ == Form::Column;
        // The whole line: its length is whole pixels already.
        surface.SpanLater(column, p + 1, 0, column ? surface.Height() : surface.Width(),
                          kScrollCursor);
        const int extent = Lines(surface);
        int next = p + 1;
        // An empty surface keeps the position at 0.
        const bool wrapped = next >= extent;
        if (wrapped) next = 0;
        scrollLocation_ = static_cast<std::int16_t>(next);
        return wrapped;
    }

    Form form_;
    std::int16_t scrollLocation_ = 0;
};

}  // namespace lumeno
