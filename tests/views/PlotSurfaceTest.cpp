#include "views/PlotSurface.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace lumeno {
namespace {

constexpr Rgb kBlack = MakeRgb(0, 0, 0);
constexpr Rgb kRed = MakeRgb(255, 0, 0);
constexpr Rgb kBlue = MakeRgb(0, 0, 255);
using Layout = PlotSurface::Layout;
using Pixels = std::vector<std::pair<int, int>>;

// The pixels of one colour, as (x, y) pairs in row order.
Pixels PixelsOf(const PlotSurface& s, Rgb color) {
    Pixels out;
    for (int y = 0; y < s.Height(); ++y)
        for (int x = 0; x < s.Width(); ++x)
            if (s.PixelAt(x, y) == color) out.emplace_back(x, y);
    return out;
}

// The same small linear congruential sequence every run: next(lo, hi) is in [lo, hi].
struct Random {
    std::uint32_t seed;
    int operator()(int lo, int hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(hi - lo + 1));
    }
};

// Guards halves-to-even rounding of line ends (along either axis; a half-pixel line may
// vanish) and of points. Integer ends are left to the Bresenham cross-check below.
TEST(PlotSurface, LineEndsAndPointsRoundHalvesToEven) {
    PlotSurface s(10, 6, kBlack);
    s.Line(0.5f, 1, 3.5f, 1, kRed);  // 0 .. 4
    s.Line(1.5f, 0, 2.5f, 0, kRed);  // 2 .. 2: nothing
    s.Line(5, 0.5f, 5, 2.5f, kRed);  // 0 .. 2
    s.Point(2.5f, 1.5f, kBlue);      // (2, 2)
    s.Point(3.5f, 0.5f, kBlue);      // (4, 0)
    EXPECT_EQ(PixelsOf(s, kRed), (Pixels{{5, 0}, {0, 1}, {1, 1}, {2, 1}, {3, 1}, {5, 1}}));
    EXPECT_EQ(PixelsOf(s, kBlue), (Pixels{{4, 0}, {2, 2}}));
}

// Guards clipping against huge, infinite and NaN coordinates (no endless walk, no stray
// pixel), points off the surface, and surfaces of no size.
TEST(PlotSurface, AbsurdCoordinatesAreCheapAndHarmless) {
    PlotSurface s(200, 200, kBlack);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 1000; ++i) {
        s.Line(-3e9f, -3e9f, 3e9f, 3e9f, kRed);
        s.Line(0, 3e9f, 100, -3e9f, kRed);
    }
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(s.PixelAt(100, 100), kRed);  // the diagonal still crosses the surface
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    s.Erase();
    s.Line(nan, 0, 10, 10, kRed);
    s.Line(0, 0, inf, 10, kRed);
    s.Point(nan, nan, kRed);
    for (auto [x, y] : {std::pair{-1, 3}, {3, -1}, {200, 3}, {3, 200}}) s.Point(x, y, kRed);
    EXPECT_TRUE(PixelsOf(s, kRed).empty());
    EXPECT_EQ(s.PixelAt(-1, 0), kBlack);
    // A surface of no size (or a negative one) still writes a readable BMP.
    PlotSurface none(0, 50, kBlack), negative(-5, -5);
    none.Line(0, 0, 10, 10, kRed);
    EXPECT_EQ(negative.Width(), 0);
    QTemporaryDir dir;
    ASSERT_EQ(none.SaveBmp(dir.filePath("empty.bmp")), QString());
    EXPECT_FALSE(QImage(dir.filePath("empty.bmp")).isNull());
}

// Guards the fast unchecked walk and the clipped one against a plain checked Bresenham:
// random lines on and just off the surface, many ending on the far edges, kept in rows or
// in tiles (sizes no multiple of the tile's), in every direction.
TEST(PlotSurface, LinesMatchAPlainBresenhamOnAndOffTheSurface) {
    for (auto [kW, kH, lines, layout] :
         {std::tuple{37, 23, 4000, Layout::kRows}, std::tuple{1900, 1300, 600, Layout::kRows},
          std::tuple{37, 23, 4000, Layout::kTiles}, std::tuple{211, 90, 2000, Layout::kTiles}}) {
        PlotSurface s(kW, kH, kBlack);
        s.SetLayout(layout);
        QImage reference(kW, kH, QImage::Format_RGB32);
        reference.fill(ToQRgb(kBlack));
        Random next{12345u};
        for (int n = 0; n < lines; ++n) {
            const int x0 = next(-4, kW + 4), y0 = next(-4, kH + 4);
            const int x1 = n % 3 == 0 ? kW : next(-4, kW + 4);
            const int y1 = n % 3 == 1 ? kH : next(-4, kH + 4);
            const Rgb c = MakeRgb(next(1, 255), next(0, 255), 7);
            s.Line(x0, y0, x1, y1, c);
            const int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
            const int sx = x1 > x0 ? 1 : -1, sy = y1 > y0 ? 1 : -1;
            const int major = std::max(dx, dy), minor = std::min(dx, dy);
            int x = x0, y = y0, err = major / 2;
            for (int i = 0; i < major; ++i) {
                if (x >= 0 && x < kW && y >= 0 && y < kH) reference.setPixel(x, y, ToQRgb(c));
                err -= minor;
                const bool step = err < 0;
                if (step) err += major;
                if (dx >= dy || step) x += sx;
                if (dx < dy || step) y += sy;
            }
            if (n % 500 == 499 || n == lines - 1) {
                ASSERT_EQ(s.Image(), reference) << n;
            }
        }
    }
}

// Guards the fast paths against plain lines and points, in every layout: polylines and
// later spans wait until something else is drawn or the picture is looked at (a run of the
// same polyline, a line painted anew over a waiting span); whole-pixel spans and bit rows
// (and the columns they report) are the lines and points they stand for. Tiles: past 256
// colours back to rows, tiles again after an erase with the numbers started afresh (a few
// colours met before come back in another order). A picture taken before an erase is a copy
// later drawing leaves alone; the BMP is the picture.
TEST(PlotSurface, FastDrawingLooksLikePlainLinesWheneverLookedAt) {
    constexpr int kW = 31, kH = 19;
    for (Layout layout : {Layout::kRows, Layout::kColumns, Layout::kTiles}) {
        PlotSurface s(kW, kH, kBlack), at(kW, kH, kBlack);
        s.SetLayout(layout);
        Random next{4242u};
        std::vector<PlotSurface::Segment> shape;
        QImage kept, keptPixels;
        for (int n = 0; n < 9000; ++n) {
            const int what = next(0, 99);
            const Rgb c = n % 3000 < 1500 ? MakeRgb(next(1, 255), next(0, 255), 9)
                                          : MakeRgb(next(0, 6), 0, 0);
            if (what < 60) {
                if (what < 15 || shape.empty()) {
                    shape.resize(static_cast<std::size_t>(next(1, PlotSurface::kMaxPolyline)));
                    for (auto& g : shape) {
                        g = {float(next(-3, kW + 3)), float(next(-3, kH + 3)),
                             float(next(-3, kW + 3)), float(next(-3, kH + 3))};
                    }
                }
                s.Polyline(shape, c);
                for (const auto& g : shape) at.Line(g.x0, g.y0, g.x1, g.y1, c);
            } else if (what < 66) {
                const float x0 = next(0, kW), y0 = next(0, kH), x1 = next(0, kW), y1 = next(0, kH);
                for (PlotSurface* both : {&s, &at}) both->Line(x0, y0, x1, y1, c);
            } else if (what < 74) {  // spans, drawn at once or later
                const bool column = what % 2 == 0;
                const int along = column ? kH : kW, across = column ? kW : kH;
                const int p = next(-2, across + 2), a = next(-3, along + 3),
                          b = next(-3, along + 3);
                if (what >= 70) {
                    s.SpanLater(column, p, a, b, c);
                } else {
                    column ? s.ColumnSpan(p, a, b, c) : s.RowSpan(p, a, b, c);
                }
                column ? at.Line(p, a, p, b, c) : at.Line(a, p, b, p, c);
            } else if (what < 80) {
                const int y = next(-1, kH), last = next(-1, 40);
                std::uint8_t bytes[4];
                for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(next(0, 255));
                const bool clearing = what % 2 == 0;  // clear bits painted too, or left alone
                EXPECT_EQ(s.RowBits(y, bytes, last, c,
                                    clearing ? std::optional<Rgb>(kBlack) : std::nullopt),
                          y >= 0 && y < kH ? std::max(0, std::min({last + 1, kW, 32})) : 0);
                for (int col = 0; col < 32 && col <= last; ++col) {
                    if ((bytes[col / 8] >> (7 - col % 8)) & 1) {
                        at.Point(col, y, c);
                    } else if (clearing) {
                        at.Point(col, y, kBlack);
                    }
                }
            } else if (what < 83) {  // a whole line painted anew: what waited on it never shows
                const int x = next(0, kW - 1);
                s.WillCoverLine(true, x);
                s.ColumnSpan(x, 0, kH, c);
                at.Line(x, 0, x, kH, c);
            } else if (what < 85) {
                if (next(0, 9) > 0) continue;      // rare, so that tiles meet over 256 colours
                ASSERT_EQ(kept, keptPixels) << n;  // a picture taken before the last erase
                kept = s.Image();
                keptPixels = kept.copy();
                for (PlotSurface* both : {&s, &at}) {
                    if (what == 84) both->SetBackground(c);
                    both->Erase();
                }
            } else if (what < 93) {
                const int x = next(0, kW - 1), y = next(0, kH - 1);
                ASSERT_EQ(s.PixelAt(x, y), at.PixelAt(x, y)) << n;
            } else {
                ASSERT_EQ(s.Image(), at.Image()) << n;
            }
        }
        EXPECT_EQ(s.Image(), at.Image());
        EXPECT_EQ(kept, keptPixels);
        QTemporaryDir dir;
        ASSERT_EQ(s.SaveBmp(dir.filePath("t.bmp")), QString());
        EXPECT_EQ(QImage(dir.filePath("t.bmp")).convertToFormat(QImage::Format_RGB32), at.Image());
        // A waiting polyline still tells the window there is something new to show.
        s.Polyline(shape, kRed);
        EXPECT_TRUE(s.TakeChanged());
        EXPECT_FALSE(s.TakeChanged());
    }
}

}  // namespace
}  // namespace lumeno
