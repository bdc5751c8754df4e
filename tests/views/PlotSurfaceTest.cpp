#include "views/PlotSurface.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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

// The pixels of one colour, as "x,y" pairs in row order.
std::vector<std::pair<int, int>> PixelsOf(const PlotSurface& s, Rgb color) {
    std::vector<std::pair<int, int>> out;
    for (int y = 0; y < s.Height(); ++y) {
        for (int x = 0; x < s.Width(); ++x) {
            if (s.PixelAt(x, y) == color) out.emplace_back(x, y);
        }
    }
    return out;
}

using Pixels = std::vector<std::pair<int, int>>;

// The same small linear congruential sequence every run: next(lo, hi) is in [lo, hi].
struct Random {
    std::uint32_t seed;
    int operator()(int lo, int hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(hi - lo + 1));
    }
};

TEST(PlotSurface, StartsAndErasesToItsBackground) {
    PlotSurface s(4, 3, kBlue);
    EXPECT_EQ(PixelsOf(s, kBlue).size(), 12u);
    s.Line(0, 0, 4, 0, kRed);
    s.Erase();
    EXPECT_EQ(PixelsOf(s, kBlue).size(), 12u);
    s.SetBackground(kBlack);  // a new background erases too
    EXPECT_EQ(PixelsOf(s, kBlack).size(), 12u);
    s.Line(0, 0, 4, 0, kRed);
    s.Resize(5, 2);
    EXPECT_EQ(PixelsOf(s, kBlack).size(), 10u);
}

// A copy of the picture taken before an erase keeps what it showed, and the surface draws
// on into a picture of its own, in every layout.
TEST(PlotSurface, AKeptCopyOfThePictureIsLeftAloneByLaterDrawing) {
    for (auto layout :
         {PlotSurface::Layout::kRows, PlotSurface::Layout::kColumns, PlotSurface::Layout::kTiles}) {
        PlotSurface s(6, 4, kBlack);
        s.SetLayout(layout);
        s.Line(0, 1, 6, 1, kRed);
        const QImage before = s.Image();
        s.Erase();
        s.Line(0, 2, 6, 2, kBlue);
        EXPECT_EQ(before.pixel(3, 1), ToQRgb(kRed));
        EXPECT_EQ(before.pixel(3, 2), ToQRgb(kBlack));
        EXPECT_EQ(s.Image().pixel(3, 1), ToQRgb(kBlack));
        EXPECT_EQ(s.Image().pixel(3, 2), ToQRgb(kBlue));
    }
}

// A line leaves out its last point, and its end points round halves to even.
TEST(PlotSurface, LinesStopBeforeTheirEndRoundedHalfToEven) {
    struct Case {
        float x0, y0, x1, y1;
        Pixels drawn;
    };
    const Case cases[] = {
        {1, 2, 4, 2, {{1, 2}, {2, 2}, {3, 2}}},
        {4, 5, 4, 1, {{4, 2}, {4, 3}, {4, 4}, {4, 5}}},        // upwards: from row 5, not to row 1
        {3, 3, 3, 3, {}},                                      // no length: nothing
        {0.5f, 1, 3.5f, 1, {{0, 1}, {1, 1}, {2, 1}, {3, 1}}},  // 0 .. 4
        {1.5f, 0, 2.5f, 0, {}},                                // 2 .. 2
    };
    PlotSurface s(10, 6, kBlack);
    for (const Case& c : cases) {
        s.Erase();
        s.Line(c.x0, c.y0, c.x1, c.y1, kRed);
        EXPECT_EQ(PixelsOf(s, kRed), c.drawn) << c.x0 << "," << c.y0 << " " << c.x1 << "," << c.y1;
    }
    s.Point(2.5f, 1.5f, kRed);   // (2, 2)
    s.Point(3.5f, 0.5f, kBlue);  // (4, 0)
    EXPECT_EQ(s.PixelAt(2, 2), kRed);
    EXPECT_EQ(s.PixelAt(4, 0), kBlue);
}

TEST(PlotSurface, EverythingIsClippedToTheSurface) {
    PlotSurface s(10, 10, kBlack);
    s.Line(-5, 5, 15, 5, kRed);
    EXPECT_EQ(PixelsOf(s, kRed).size(), 10u);
    s.Erase();
    for (auto [x, y] : {std::pair{-1, 3}, {3, -1}, {10, 3}, {3, 10}}) s.Point(x, y, kRed);
    s.Line(0, -1, 10, -1, kRed);  // the row above the surface
    s.Line(20, 20, 30, 30, kRed);
    EXPECT_TRUE(PixelsOf(s, kRed).empty());
    EXPECT_EQ(s.PixelAt(-1, 0), kBlack);  // off the surface reads as background
}

TEST(PlotSurface, AbsurdCoordinatesAreCheapAndHarmless) {
    PlotSurface s(200, 200, kBlack);
    QElapsedTimer clock;
    clock.start();
    const float big = 3e9f;
    for (int i = 0; i < 1000; ++i) {
        s.Line(-big, -big, big, big, kRed);
        s.Line(0, big, 100, -big, kRed);
    }
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(s.PixelAt(100, 100), kRed);  // the diagonal still crosses the surface
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    s.Erase();
    s.Line(nan, 0, 10, 10, kRed);
    s.Line(0, 0, inf, 10, kRed);
    s.Point(nan, nan, kRed);
    EXPECT_TRUE(PixelsOf(s, kRed).empty());
}

TEST(PlotSurface, ASurfaceOfNoSizeDrawsNothingAndStillSaves) {
    PlotSurface s(0, 50, kBlack);
    s.Line(0, 0, 10, 10, kRed);
    s.Point(0, 0, kRed);
    EXPECT_EQ(s.Width(), 0);
    QTemporaryDir dir;
    EXPECT_EQ(s.SaveBmp(dir.filePath("empty.bmp")), QString());
    EXPECT_FALSE(QImage(dir.filePath("empty.bmp")).isNull());
    PlotSurface negative(-5, -5);
    EXPECT_EQ(negative.Width(), 0);
    EXPECT_EQ(negative.Height(), 0);
}

TEST(PlotSurface, SavesAPixelExactBmp) {
    PlotSurface s(7, 5, MakeRgb(10, 20, 30));
    s.Line(0, 0, 7, 5, MakeRgb(255, 128, 0));
    s.Point(6, 0, MakeRgb(1, 2, 3));
    QTemporaryDir dir;
    const QString path = dir.filePath("x.bmp");
    ASSERT_EQ(s.SaveBmp(path), QString());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(2), QByteArray("BM"));
    const QImage back(path);
    ASSERT_EQ(back.size(), QSize(7, 5));
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            const Rgb want = s.PixelAt(x, y);
            const QRgb got = back.pixel(x, y);
            EXPECT_EQ(MakeRgb(qRed(got), qGreen(got), qBlue(got)), want) << x << "," << y;
        }
    }
}

TEST(PlotSurface, AFailedSaveSaysWhyAndLeavesNoFile) {
    PlotSurface s(50, 50, kBlack);
    EXPECT_NE(s.SaveBmp("/nonexistent-dir/x.bmp"), QString());
    // A full disk: every write fails.
    if (QFile::exists("/dev/full")) {
        const QString reason = s.SaveBmp("/dev/full");
        EXPECT_TRUE(reason.contains("space", Qt::CaseInsensitive)) << reason.toStdString();
    }
}

// The fast unchecked walk and the clipped one must cover the same pixels as a plain,
// checked Bresenham that knows nothing of either: random lines, on and just off the
// surface, many ending on the far edges (far-off ends are cut to the surface first,
// which the test leaves aside). Kept in rows or in tiles (whose sizes here are no
// multiple of the tile's), in every direction.
TEST(PlotSurface, LinesMatchAPlainBresenhamOnAndOffTheSurface) {
    for (auto [kW, kH, lines, layout] : {std::tuple{37, 23, 4000, PlotSurface::Layout::kRows},
                                         std::tuple{1900, 1300, 600, PlotSurface::Layout::kRows},
                                         std::tuple{37, 23, 4000, PlotSurface::Layout::kTiles},
                                         std::tuple{211, 90, 2000, PlotSurface::Layout::kTiles}}) {
        PlotSurface s(kW, kH, kBlack);
        s.SetLayout(layout);
        std::vector<Rgb> reference(kW * kH, kBlack);
        Random next{12345u};
        for (int n = 0; n < lines; ++n) {
            const int x0 = next(-4, kW + 4), y0 = next(-4, kH + 4);
            int x1 = next(-4, kW + 4), y1 = next(-4, kH + 4);
            // Lines ending just past the far edge have their last pixel on it.
            if (n % 3 == 0) x1 = kW;
            if (n % 3 == 1) y1 = kH;
            const Rgb c = MakeRgb(next(1, 255), next(0, 255), 7);
            s.Line(x0, y0, x1, y1, c);
            const int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
            const int sx = x1 > x0 ? 1 : -1, sy = y1 > y0 ? 1 : -1;
            const int major = std::max(dx, dy), minor = std::min(dx, dy);
            int x = x0, y = y0, err = major / 2;
            for (int i = 0; i < major; ++i) {
                if (x >= 0 && x < kW && y >= 0 && y < kH) reference[y * kW + x] = c;
                err -= minor;
                const bool step = err < 0;
                if (step) err += major;
                if (dx >= dy) {
                    x += sx;
                    if (step) y += sy;
                } else {
                    y += sy;
                    if (step) x += sx;
                }
            }
            if (n % 500 == 499 || n == lines - 1) {
                for (int py = 0; py < kH; ++py)
                    for (int px = 0; px < kW; ++px)
                        ASSERT_EQ(s.PixelAt(px, py), reference[py * kW + px])
                            << n << ": " << px << "," << py;
            }
        }
    }
}

// The whole-pixel spans and bit rows are the lines they stand for, and a surface kept by
// columns gives the same picture as one kept by rows.
TEST(PlotSurface, SpansBitRowsAndColumnOrderGiveTheSamePicture) {
    constexpr int kW = 29, kH = 17;
    for (bool columns : {false, true}) {
        PlotSurface fast(kW, kH, kBlack), lines(kW, kH, kBlack);
        fast.SetLayout(columns ? PlotSurface::Layout::kColumns : PlotSurface::Layout::kRows);
        Random next{99u};
        for (int n = 0; n < 3000; ++n) {
            const Rgb c = MakeRgb(next(1, 255), 3, next(0, 255));
            const int p = next(-2, kW + 2), a = next(-3, kH + 3), b = next(-3, kH + 3);
            if (n % 3 == 0) {
                fast.ColumnSpan(p, a, b, c);
                lines.Line(p, a, p, b, c);
            } else if (n % 3 == 1) {
                const int y = next(-2, kH + 2), x0 = next(-3, kW + 3), x1 = next(-3, kW + 3);
                fast.RowSpan(y, x0, x1, c);
                lines.Line(x0, y, x1, y, c);
            } else {
                const int y = next(-1, kH);
                const std::uint8_t bytes[4] = {
                    std::uint8_t(next(0, 255)), std::uint8_t(next(0, 255)),
                    std::uint8_t(next(0, 255)), std::uint8_t(next(0, 255))};
                const int last = next(-1, 40);
                const bool clearing = n % 2 == 0;  // clear bits painted too, or left alone
                const int covered = fast.RowBits(
                    y, bytes, last, c, clearing ? std::optional<Rgb>(kBlack) : std::nullopt);
                EXPECT_EQ(covered,
                          y >= 0 && y < kH ? std::max(0, std::min({last + 1, kW, 32})) : 0);
                for (int col = 0; col < 32 && col <= last; ++col) {
                    if ((bytes[col / 8] >> (7 - col % 8)) & 1) {
                        lines.Point(col, y, c);
                    } else if (clearing) {
                        lines.Point(col, y, kBlack);
                    }
                }
            }
        }
        EXPECT_EQ(fast.Image(), lines.Image()) << (columns ? "by columns" : "by rows");
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) ASSERT_EQ(fast.PixelAt(x, y), lines.PixelAt(x, y));
    }
}

// Tiles number the colours drawn since the last erase; a 257th colour, or drawing other
// than lines, puts the pixels back in rows, and the next erase brings the tiles back. The
// picture is the rows' one throughout, looked at in between or not.
TEST(PlotSurface, TilesGiveTheRowsPictureThroughAnyNumberOfColours) {
    constexpr int kW = 45, kH = 30;
    PlotSurface tiles(kW, kH, kBlue), rows(kW, kH, kBlue);
    tiles.SetLayout(PlotSurface::Layout::kTiles);
    Random next{777u};
    auto same = [&](int n) {
        ASSERT_EQ(tiles.Image(), rows.Image()) << n;
        for (int i = 0; i < 20; ++i) {
            const int x = next(0, kW - 1), y = next(0, kH - 1);
            ASSERT_EQ(tiles.PixelAt(x, y), rows.PixelAt(x, y)) << n << ": " << x << "," << y;
        }
    };
    for (int n = 0; n < 2400; ++n) {
        // A few hundred colours at first, then only a handful again after the erase.
        const Rgb c = n < 1000 ? MakeRgb(next(0, 255), next(0, 255), 9) : MakeRgb(n % 5, 0, 0);
        const float x0 = next(-3, kW + 3), y0 = next(-3, kH + 3);
        const float x1 = next(-3, kW + 3), y1 = next(-3, kH + 3);
        tiles.Line(x0, y0, x1, y1, c);
        rows.Line(x0, y0, x1, y1, c);
        if (n % 97 == 0) same(n);
        if (n == 1000) {
            tiles.SetBackground(kRed);
            rows.SetBackground(kRed);
        }
        if (n == 2000) {  // something other than a line
            tiles.Point(3, 4, kBlue);
            rows.Point(3, 4, kBlue);
            tiles.RowSpan(5, 0, kW, kBlack);
            rows.RowSpan(5, 0, kW, kBlack);
        }
    }
    same(-1);
    QTemporaryDir dir;
    ASSERT_EQ(tiles.SaveBmp(dir.filePath("t.bmp")), QString());
    EXPECT_EQ(QImage(dir.filePath("t.bmp")).convertToFormat(QImage::Format_RGB32), rows.Image());

    // The numbering starts again at every erase: colours drawn before it, drawn again in
    // another order among new ones, keep their own colours.
    PlotSurface t(8, 3, kBlack), r(8, 3, kBlack);
    t.SetLayout(PlotSurface::Layout::kTiles);
    auto both = [&](float y, Rgb c) {
        t.Line(0, y, 8, y, c);
        r.Line(0, y, 8, y, c);
    };
    both(0, kRed);
    both(1, kBlue);
    t.Erase();
    r.Erase();
    both(0, kBlue);
    both(1, MakeRgb(0, 255, 0));
    both(2, kRed);
    EXPECT_EQ(t.Image(), r.Image());
}

// A polyline or a later span waits until something else is drawn or the picture is looked
// at; whenever one looks, the picture is the one drawing them at once would give. Runs of
// polylines on the same segments (in other colours), other drawing, lines painted anew,
// erases and looks come in random order.
TEST(PlotSurface, PolylinesLookAsIfDrawnAtOnce) {
    constexpr int kW = 31, kH = 19;
    PlotSurface s(kW, kH, kBlack), at(kW, kH, kBlack);
    Random next{4242u};
    std::vector<PlotSurface::Segment> shape;
    auto newShape = [&] {
        shape.resize(static_cast<std::size_t>(next(1, PlotSurface::kMaxPolyline)));
        for (auto& g : shape) {
            g = {float(next(-3, kW + 3)), float(next(-3, kH + 3)), float(next(-3, kW + 3)),
                 float(next(-3, kH + 3))};
        }
    };
    newShape();
    for (int n = 0; n < 6000; ++n) {
        const int what = next(0, 99);
        const Rgb c = MakeRgb(next(1, 255), next(0, 255), 9);
        if (what < 70) {
            if (what < 20) newShape();
            s.Polyline(shape, c);
            for (const auto& g : shape) at.Line(g.x0, g.y0, g.x1, g.y1, c);
        } else if (what < 78) {
            const float x0 = float(next(0, kW)), y0 = float(next(0, kH));
            const float x1 = float(next(0, kW)), y1 = float(next(0, kH));
            s.Line(x0, y0, x1, y1, c);
            at.Line(x0, y0, x1, y1, c);
        } else if (what < 81) {
            const int y = next(0, kH - 1), x0 = next(0, kW), x1 = next(0, kW);
            s.RowSpan(y, x0, x1, c);
            at.RowSpan(y, x0, x1, c);
        } else if (what < 84) {  // a span that waits, like a polyline
            const bool column = what == 81;
            const int line = next(-1, column ? kW : kH), a = next(-2, kH + 2), b = next(-2, kH + 2);
            s.SpanLater(column, line, a, b, c);
            column ? at.ColumnSpan(line, a, b, c) : at.RowSpan(line, a, b, c);
        } else if (what < 86) {  // a whole line painted anew: what waited on it never shows
            const int x = next(0, kW - 1);
            s.WillCoverLine(true, x);
            s.ColumnSpan(x, 0, kH, c);
            at.ColumnSpan(x, 0, kH, c);
        } else if (what < 88) {
            s.Erase();
            at.Erase();
        } else if (what < 94) {
            const int x = next(0, kW - 1), y = next(0, kH - 1);
            ASSERT_EQ(s.PixelAt(x, y), at.PixelAt(x, y)) << n;
        } else {
            ASSERT_EQ(s.Image(), at.Image()) << n;
        }
    }
    EXPECT_EQ(s.Image(), at.Image());
    // A look also tells the window that there is something new to show.
    s.Polyline(shape, kRed);
    EXPECT_TRUE(s.TakeChanged());
    EXPECT_FALSE(s.TakeChanged());
}

}  // namespace
}  // namespace lumeno
