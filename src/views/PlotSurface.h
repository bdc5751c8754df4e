#pragma once

#include <QImage>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "packet/Colors.h"

namespace lumeno {

// QImage's 0xAARRGGBB form of a colour.
constexpr std::uint32_t ToQRgb(Rgb c) {
    return 0xFF000000u | (std::uint32_t{RedOf(c)} << 16) | (std::uint32_t{GreenOf(c)} << 8) |
           BlueOf(c);
}

// The drawing surface of a graphical view: a persistent 32-bit image of everything drawn
// since the last erase, kept whether or not its window is shown.
//
// Pixel rules, which every view relies on:
//  - Coordinates are pixels, origin top left; x grows right up to Width(), y down to Height().
//    Pixel (x, y) is the unit square whose top-left corner is (x, y).
//  - A line's end points are rounded to whole pixels, halves to the even neighbour.
//  - A line covers the pixels from its rounded start up to, but not including, its rounded
//    end (so (p, 0)-(p, H) covers exactly the H pixels of column p, and two lines that meet
//    at a point share no pixel). A line whose rounded ends coincide draws nothing.
//  - Between its ends a line steps one pixel along its major axis at a time (Bresenham);
//    steep and shallow lines alike are one pixel wide with no gaps.
//  - Everything is clipped to the surface: pixels outside it are simply not drawn.
//  - A point sets the one pixel under its rounded coordinates, if that is on the surface.
//  - Later drawing paints over earlier drawing; there is no blending.
class PlotSurface {
  public:
    struct Segment {
        float x0, y0, x1, y1;
        bool operator==(const Segment&) const = default;
    };
    static constexpr int kMaxPolyline = 5;

    explicit PlotSurface(int width = 0, int height = 0, Rgb background = kDefaultBackground);

    int Width() const { return width_; }
    int Height() const { return height_; }

    // How the pixels are kept. The picture is the same in every layout.
    enum class Layout {
        kRows,     // 32-bit pixels row by row: the image itself
        kColumns,  // 32-bit pixels column by column, for views that draw whole columns
        // Colour numbers, a byte each, in tiles of 8 x 8 pixels, for views that draw long
        // lines all over: a line then writes a few pixels to each cache line it touches,
        // where rows give it a new cache line at every row. More than 256 colours since the
        // last erase turn the surface back into rows until the next erase.
        kTiles,
    };

    // A new size erases the picture.
    void Resize(int width, int height);
    // Erases the picture too.
    void SetLayout(Layout layout);
    void Erase();
    // Takes the new background colour and erases to it.
    void SetBackground(Rgb color);
    Rgb Background() const { return background_; }

    void Line(float x0, float y0, float x1, float y1, Rgb color);
    // Draws up to kMaxPolyline segments in order, as one record's lines. A polyline with the
    // same segments as the one before it covers exactly its pixels, so a run of them (one
    // flow's packets in both directions) leaves only the last one's colours: each waits
    // until something else is drawn or the picture is looked at, and is then drawn once.
    void Polyline(std::span<const Segment> segments, Rgb color);
    // Line(x0, y, x1, y) and Line(x, y0, x, y1) for whole-pixel ends, without the general
    // line's rounding and stepping: the scrolling views draw several per packet.
    void RowSpan(int y, int x0, int x1, Rgb color);
    void ColumnSpan(int x, int y0, int y1, Rgb color);
    // A span that waits, like a polyline, until something else is drawn or the picture is
    // looked at, unless the caller says first that it will paint its whole line anew:
    // the scrolling views' cursor, which the next packet's line always covers.
    void SpanLater(bool column, int at, int from, int to, Rgb color);
    // The caller is about to paint every pixel of this column (or row): a span waiting on
    // it need not be drawn.
    void WillCoverLine(bool column, int at) {
        if (spanPending_ && spanLater_.column == column && spanLater_.at == at) {
            spanPending_ = false;
        }
    }
    // Sets pixel (c, y) for every set bit c of bits (most significant bit of each byte
    // first) with c <= lastColumn; other pixels stay as they are, or with clear given, the
    // pixels of the clear bits get that colour. Returns how many columns the bits covered.
    int RowBits(int y, std::span<const std::uint8_t> bits, int lastColumn, Rgb color,
                std::optional<Rgb> clear = std::nullopt);
    void Point(float x, float y, Rgb color);

    // Draws a waiting polyline now. Every look at the picture does this first.
    void Flush() const {
        if (pendingCount_ > 0 || spanPending_) FlushPending();
    }

    // The colour at a pixel; the background for pixels off the surface.
    Rgb PixelAt(int x, int y) const;
    // The picture as an image (made up to date first when kept by columns).
    const QImage& Image() const;

    // Writes the image as a BMP file. Returns an empty text on success, otherwise why not.
    QString SaveBmp(const QString& path) const;
    // The same in another format ("bmp", "png").
    QString SaveImage(const QString& path, const char* format) const;

    // Grows with every drawing and erasing: equal versions mean an unchanged picture, which
    // lets a view skip drawing what would leave it as it is.
    std::uint64_t Version() const { return version_; }

    // True once after anything was drawn or erased; lets windows repaint only what changed.
    bool TakeChanged() {
        Flush();
        const bool changed = changed_;
        changed_ = false;
        return changed;
    }

  private:
    void DrawLine(float x0, float y0, float x1, float y1, Rgb color);
    // Something was drawn: the picture changed, and the image lags when not kept in it.
    void MarkDrawn() {
        changed_ = true;
        imageStale_ = layout_ == Layout::kColumns || tiled_;
        ++version_;
    }
    // The number of a colour in the tiles; -1 (and the pixels back in rows) when all 256
    // numbers are taken by other colours.
    int TileNumber(std::uint32_t pixel) {
        const Recent& r = recent_[RecentSlot(pixel)];
        return r.pixel == pixel ? r.number : NewTileNumber(pixel);
    }
    static std::size_t RecentSlot(std::uint32_t pixel) { return (pixel * 0x9E3779B1u) >> 28; }
    int NewTileNumber(std::uint32_t pixel);
    // Writes the tiles' pixels into the image and keeps the pixels there from now on.
    void LeaveTiles();
    // Brings the image up to date with the pixels kept elsewhere.
    void WriteImage();
    // The image's pixels, to write. A copy of the image kept by a caller makes Qt give the
    // image a buffer of its own here, so the surface's pointer to its rows is taken anew.
    std::uint32_t* ImageBits();
    void FlushPending() const;
    // A whole-pixel run along a column (at = x) or a row (at = y), end excluded.
    void Span(bool column, int at, int from, int to, Rgb color);
    std::uint32_t* At(int x, int y) const {
        return bits_ + static_cast<std::ptrdiff_t>(x) * xStride_ +
               static_cast<std::ptrdiff_t>(y) * yStride_;
    }
    void Plot(int x, int y, std::uint32_t pixel) {
        if (static_cast<unsigned>(x) < static_cast<unsigned>(width_) &&
            static_cast<unsigned>(y) < static_cast<unsigned>(height_)) {
            *At(x, y) = pixel;
        }
    }

    mutable QImage image_;
    Layout layout_ = Layout::kRows;
    std::vector<std::uint32_t> columns_;  // the pixels, when kept by columns
    // The pixels, while kept in tiles: tiles_[tileX_[x] + 8 * y] is the number of the
    // colour of pixel (x, y) in palette_.
    bool tiled_ = false;
    std::vector<std::uint8_t> tiles_;
    std::vector<std::ptrdiff_t> tileX_;
    // The colours numbered so far, paletteSize_ of them.
    std::array<std::uint32_t, 256> palette_{};
    int paletteSize_ = 0;
    // Colours numbered lately, by a hash of the colour, so that a record's colour (which
    // changes from record to record) is found without a search; an empty slot holds 0,
    // which no colour is (ToQRgb sets the alpha bits).
    struct Recent {
        std::uint32_t pixel = 0;
        std::uint8_t number = 0;
    };
    std::array<Recent, 16> recent_{};
    mutable bool imageStale_ = false;
    std::uint32_t* bits_ = nullptr;
    std::ptrdiff_t xStride_ = 0, yStride_ = 0;  // pixels from one column, one row to the next
    int width_ = 0;
    int height_ = 0;
    Rgb background_;
    bool changed_ = true;
    std::uint64_t version_ = 0;
    // The polyline not drawn yet (pendingCount_ == 0: none).
    std::array<Segment, kMaxPolyline> pending_{};
    mutable int pendingCount_ = 0;
    Rgb pendingColor_ = 0;
    // The span not drawn yet, if spanPending_ (never together with a polyline).
    struct LaterSpan {
        bool column;
        int at, from, to;
        Rgb color;
    } spanLater_{};
    mutable bool spanPending_ = false;
};

}  // namespace lumeno
