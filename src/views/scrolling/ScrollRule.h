#pragma once

#include <cstdint>

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

    // Draws one packet; mark(surface, p) paints the view's own mark. True when the position
    // wrapped back to 0 after this packet (the moment a full sweep is complete).
    template <typename Mark>
    bool Step(PlotSurface& surface, Mark&& mark) {
        const int w = surface.Width();
        const int h = surface.Height();
        const int p = scrollLocation_;
        if (form_ == Form::Column) {
            surface.Line(p, 0, p, h, kScrollErase);
            mark(surface, p);
            surface.Line(p + 1, 0, p + 1, h, kScrollCursor);
        } else {
            surface.Line(0, p, w, p, kScrollErase);
            mark(surface, p);
            surface.Line(0, p + 1, w, p + 1, kScrollCursor);
        }
        const int extent = form_ == Form::Column ? w : h;
        int next = p + 1;
        const bool wrapped = next >= extent;
        // An empty surface keeps the position at 0.
        if (wrapped) next = 0;
        scrollLocation_ = static_cast<std::int16_t>(next);
        return wrapped;
    }

  private:
    Form form_;
    std::int16_t scrollLocation_ = 0;
};

}  // namespace lumeno
