#include "views/PlotSurface.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <type_traits>
#include <utility>

#include "packet/Library.h"
#include "views/ImageFiles.h"

namespace lumeno {

namespace {

// Cuts the segment to the box [lo, hiX] x [lo, hiY] (Liang-Barsky). False when nothing of it
// lies inside. Only used for end points far off the surface, so that an absurd coordinate
// cannot make a line walk millions of pixels that are never drawn.
bool ClipToBox(double& x0, double& y0, double& x1, double& y1, double lo, double hiX, double hiY) {
    double t0 = 0, t1 = 1;
    const double dx = x1 - x0, dy = y1 - y0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - lo, hiX - x0, y0 - lo, hiY - y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
        if (t0 > t1) return false;
    }
    const double nx0 = x0 + t0 * dx, ny0 = y0 + t0 * dy;
    x1 = x0 + t1 * dx;
    y1 = y0 + t1 * dy;
    x0 = nx0;
    y0 = ny0;
    return true;
}

// Bresenham's walk of dMajor steps: visit plots the current pixel and moves one step along
// the major axis, and along the minor one too when told.
template <typename Visit>
inline void Walk(int dMajor, int dMinor, Visit&& visit) {
    int err = dMajor / 2;
    for (int i = 0; i < dMajor; ++i) {
        err -= dMinor;
        const bool minorStep = err < 0;
        if (minorStep) err += dMajor;
        visit(minorStep);
    }
}

// Longest line whose pixels are placed in fixed point rather than walked (error bound below).
constexpr int kExactSteps = 1 << 15;

// Where a pixel lies in the tiles along one axis, from a given column or row on (at): across,
// column at + q, whose offsets jump at every strip; down, row at + q, 8 * (at + q) bytes
// into its strip.
struct Across {
    static constexpr bool kJumps = true;
    const std::ptrdiff_t* offsets;
    int at;
    std::ptrdiff_t Base() const { return 0; }
    std::ptrdiff_t operator()(std::ptrdiff_t q) const { return offsets[at + q]; }
};
struct Down {
    static constexpr bool kJumps = false;
    int at;
    std::ptrdiff_t Base() const { return std::ptrdiff_t{at} * 8; }
    std::ptrdiff_t operator()(std::ptrdiff_t q) const { return q * 8; }
};

// A line's pixels in the tiles: pixel i lies i major steps of Dir and m >> 48 minor ones
// from the start, m = m0 + i * s (s < 0 for a line whose minor coordinate falls; see
// DrawLine). Along the major axis the next pixel is Dir * Near bytes on, except where a
// column crosses into the next strip, so the line goes in steps of eight pixels between
// such crossings, each pixel at a fixed offset from the step's first: a shift, perhaps a
// load, and a store.
// The shift that takes a position to its whole steps (48) comes as a value the compiler
// cannot see through: with BMI2 that makes it one three-operand shift per pixel instead of
// a copy and a shift.
template <int Dir, int Near, typename Major, typename Minor>
[[gnu::always_inline]] inline void TileRunBody(std::uint8_t* tiles, Major major, Minor minor, int n,
                                               std::int64_t m, std::int64_t s, std::uint8_t number,
                                               int whole) {
    tiles += minor.Base();
    int i = 0;
    const int c = major.at;
    const int lead =
        !Major::kJumps ? 0 : std::min(n, Dir > 0 ? (8 - (c & 7)) & 7 : ((c & 7) + 1) & 7);
    for (; i < lead; ++i, m += s) tiles[major(Dir * i) + major.Base() + minor(m >> whole)] = number;
    for (; i + 8 <= n; i += 8) {
        std::uint8_t* tile = tiles + major.Base() + major(Dir * i);
        [&]<int... K>(std::integer_sequence<int, K...>) {
            ((tile[Dir * Near * K + minor(m >> whole)] = number, m += s), ...);
        }
        (std::make_integer_sequence<int, 8>{});
    }
    for (; i < n; ++i, m += s) tiles[major(Dir * i) + major.Base() + minor(m >> whole)] = number;
}

// Kept out of line: inlined, its loop would share the registers of the line's set-up.
template <int Dir, int Near, typename Major, typename Minor>
[[gnu::noinline]] void TileRun(std::uint8_t* tiles, Major major, Minor minor, int n, std::int64_t m,
                               std::int64_t s, std::uint8_t number) {
    TileRunBody<Dir, Near>(tiles, major, minor, n, m, s, number, 48);
}

#if defined(__x86_64__) && defined(__GNUC__)
template <int Dir, int Near, typename Major, typename Minor>
[[gnu::noinline, gnu::target("bmi2")]] void TileRunBmi2(std::uint8_t* tiles, Major major,
                                                        Minor minor, int n, std::int64_t m,
                                                        std::int64_t s, std::uint8_t number) {
    int whole = 48;
    asm("" : "+r"(whole));
    TileRunBody<Dir, Near>(tiles, major, minor, n, m, s, number, whole);
}

bool HasBmi2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("bmi2") != 0;
    }();
    return has;
}
#endif

// The walk for a line's direction, the quickest this processor has.
template <int Dir, int Near, typename Major, typename Minor>
void TileWalk(std::uint8_t* tiles, Major major, Minor minor, int n, std::int64_t m, std::int64_t s,
              std::uint8_t number) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (HasBmi2()) return TileRunBmi2<Dir, Near>(tiles, major, minor, n, m, s, number);
#endif
    TileRun<Dir, Near>(tiles, major, minor, n, m, s, number);
}

}  // namespace

PlotSurface::PlotSurface(int width, int height, Rgb background) : background_(background) {
    Resize(width, height);
}

void PlotSurface::Resize(int width, int height) {
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    columns_.clear();
    tiles_.clear();
    if (width_ == 0 || height_ == 0) {
        image_ = QImage();
        bits_ = nullptr;
        xStride_ = yStride_ = 0;
    } else {
        image_ = QImage(width_, height_, QImage::Format_RGB32);
        if (layout_ == Layout::kColumns) {
            columns_.resize(static_cast<std::size_t>(width_) * height_);
            bits_ = columns_.data();
            xStride_ = height_;
            yStride_ = 1;
        } else {
            bits_ = reinterpret_cast<std::uint32_t*>(image_.bits());
            xStride_ = 1;
            yStride_ = image_.bytesPerLine() / 4;
        }
        if (layout_ == Layout::kTiles) {
            // A strip (a column of tiles) is one run of memory, and a tile eight rows of
            // eight bytes: row y of a strip is 8 * y bytes into it.
            const std::ptrdiff_t strip = static_cast<std::ptrdiff_t>((height_ + 7) / 8) * 64;
            tiles_.resize(static_cast<std::size_t>(strip) * ((width_ + 7) / 8));
            tileX_.resize(width_);
            for (int x = 0; x < width_; ++x) tileX_[x] = (x >> 3) * strip + (x & 7);
        }
    }
    Erase();
}

void PlotSurface::SetLayout(Layout layout) {
    layout_ = layout;
    Resize(width_, height_);
}

void PlotSurface::Erase() {
    pendingCount_ = 0;  // drawn before the erase, so gone with it
    spanPending_ = false;
    const std::uint32_t background = ToQRgb(background_);
    tiled_ = !tiles_.empty();  // back in the tiles, should a full palette have left them
    if (tiled_) {
        std::fill(tiles_.begin(), tiles_.end(), std::uint8_t{0});
        palette_[0] = background;
        paletteSize_ = 1;
        recent_.fill({});
        imageStale_ = true;
    } else if (layout_ == Layout::kColumns) {
        std::fill(columns_.begin(), columns_.end(), background);
        imageStale_ = true;
    } else if (bits_) {
        image_.fill(background);
        ImageBits();
    }
    changed_ = true;
    ++version_;
}

int PlotSurface::NewTileNumber(std::uint32_t pixel) {
    const auto used = palette_.begin() + paletteSize_;
    auto known = std::find(palette_.begin(), used, pixel);
    if (known == used) {
        if (paletteSize_ == static_cast<int>(palette_.size())) {
            LeaveTiles();
            return -1;
        }
        palette_[paletteSize_++] = pixel;
    }
    const auto number = static_cast<std::uint8_t>(known - palette_.begin());
    recent_[RecentSlot(pixel)] = {pixel, number};
    return number;
}

void PlotSurface::LeaveTiles() {
    WriteImage();
    tiled_ = false;
}

void PlotSurface::Polyline(std::span<const Segment> segments, Rgb color) {
    const int n = static_cast<int>(std::min<std::size_t>(segments.size(), kMaxPolyline));
    if (n == 0) return;
    ++version_;
    if (n == pendingCount_ &&
        std::equal(segments.begin(), segments.begin() + n, pending_.begin())) {
        pendingColor_ = color;
        return;
    }
    Flush();
    for (int i = 0; i < n; ++i) pending_[i] = segments[i];
    pendingCount_ = n;
    pendingColor_ = color;
}

void PlotSurface::FlushPending() const {
    // Drawing the waiting polyline is what the picture already is to anyone looking.
    auto* self = const_cast<PlotSurface*>(this);
    const int n = pendingCount_;
    pendingCount_ = 0;
    const std::uint64_t version = version_;
    for (int i = 0; i < n; ++i) {
        const Segment& s = pending_[i];
        self->DrawLine(s.x0, s.y0, s.x1, s.y1, pendingColor_);
    }
    if (spanPending_) {
        spanPending_ = false;
        const LaterSpan& l = spanLater_;
        self->Span(l.column, l.at, l.from, l.to, l.color);
    }
    self->version_ = version;
}

std::uint32_t* PlotSurface::ImageBits() {
    auto* bits = reinterpret_cast<std::uint32_t*>(image_.bits());
    if (layout_ != Layout::kColumns) bits_ = bits;
    return bits;
}

void PlotSurface::WriteImage() {
    if (imageStale_ && !image_.isNull()) {
        const std::ptrdiff_t stride = image_.bytesPerLine() / 4;
        std::uint32_t* out = ImageBits();
        if (tiled_) {
            // A row of the image is eight bytes in each strip.
            const std::ptrdiff_t strip = width_ > 8 ? tileX_[8] : 0;
            for (int y = 0; y < height_; ++y) {
                std::uint32_t* row = out + y * stride;
                const std::uint8_t* tile = tiles_.data() + Down{y}.Base();
                int x = 0;
                for (; x + 8 <= width_; x += 8, tile += strip) {
                    for (int k = 0; k < 8; ++k) row[x + k] = palette_[tile[k]];
                }
                for (int k = 0; x < width_; ++x, ++k) row[x] = palette_[tile[k]];
            }
        } else if (layout_ == Layout::kColumns) {
            for (int x = 0; x < width_; ++x) {
                const std::uint32_t* column =
                    columns_.data() + static_cast<std::ptrdiff_t>(x) * height_;
                for (int y = 0; y < height_; ++y) out[y * stride + x] = column[y];
            }
        }
    }
    imageStale_ = false;
}

const QImage& PlotSurface::Image() const {
    Flush();
    const_cast<PlotSurface*>(this)->WriteImage();  // what the picture already is
    return image_;
}

void PlotSurface::SetBackground(Rgb color) {
    background_ = color;
    Erase();
}

void PlotSurface::Line(float x0, float y0, float x1, float y1, Rgb color) {
    Flush();
    DrawLine(x0, y0, x1, y1, color);
}

void PlotSurface::DrawLine(float fx0, float fy0, float fx1, float fy1, Rgb color) {
    if (!bits_) return;
    double x0 = fx0, y0 = fy0, x1 = fx1, y1 = fy1;
    // The sum of four floats, in double, is finite exactly when all four are.
    if (!std::isfinite(x0 + y0 + x1 + y1)) return;
    const double margin = 4;
    auto far = [&](double x, double y) {
        return x < -margin || y < -margin || x > width_ + margin || y > height_ + margin;
    };
    if (far(x0, y0) || far(x1, y1)) {
        if (!ClipToBox(x0, y0, x1, y1, -margin, width_ + margin, height_ + margin)) return;
    }
    int x = static_cast<int>(RoundHalfEven(x0));
    int y = static_cast<int>(RoundHalfEven(y0));
    const int ex = static_cast<int>(RoundHalfEven(x1));
    const int ey = static_cast<int>(RoundHalfEven(y1));
    const int dx = std::abs(ex - x), dy = std::abs(ey - y);
    const int sx = ex > x ? 1 : -1, sy = ey > y ? 1 : -1;
    const std::uint32_t pixel = ToQRgb(color);
    const int number = tiled_ ? TileNumber(pixel) : -1;
    MarkDrawn();
    const bool shallow = dx >= dy;
    const int dMajor = shallow ? dx : dy, dMinor = shallow ? dy : dx;
    if (dMajor == 0) return;
    if (dMajor < kExactSteps) {
        // Bresenham's i-th pixel is floor((i * dMinor + c) / dMajor) minor steps along,
        // c = dMajor - 1 - dMajor / 2. Worked out in 16.48 fixed point, no pixel's place
        // waits on the last one's, nor on a branch that the slope makes as good as random:
        // twice as fast as the step-by-step walk. unit exceeds 2^48 / dMajor by less than 1,
        // so position i is off by less than i * dMinor + c < dMajor^2 units of 2^-48, less
        // than any exact value's distance (at least 2^48 / dMajor) from the next whole step:
        // the floor is exact.
        const std::uint64_t unit = ((std::uint64_t{1} << 48) + dMajor - 1) / dMajor;
        const std::uint64_t start = static_cast<std::uint64_t>(dMajor - 1 - dMajor / 2) * unit;
        const std::uint64_t step = static_cast<std::uint64_t>(dMinor) * unit;
        // The pixels covered lie between the start and the last one, whose major coordinate
        // is one short of the end's: a line that ends on the far edge has its end point just
        // off the surface but its last pixel on it. When all of them are on the surface, no
        // pixel needs a bounds check.
        const int lastMinor = static_cast<int>((start + (dMajor - 1) * step) >> 48);
        const int lastX = shallow ? ex - sx : x + sx * lastMinor;
        const int lastY = shallow ? y + sy * lastMinor : ey - sy;
        if (std::min(x, lastX) >= 0 && std::max(x, lastX) < width_ && std::min(y, lastY) >= 0 &&
            std::max(y, lastY) < height_) {
            if (tiled_) {
                // A falling minor coordinate, start - floor(A / 2^48), is start plus
                // floor((2^48 - 1 - A) / 2^48), which an arithmetic shift gives as it is.
                const bool rising = shallow ? sy > 0 : sx > 0;
                const auto a = static_cast<std::int64_t>(start);
                const auto s = static_cast<std::int64_t>(step);
                const std::int64_t m = rising ? a : (std::int64_t{1} << 48) - 1 - a;
                const std::int64_t ms = rising ? s : -s;
                const auto n = static_cast<std::uint8_t>(number);
                std::uint8_t* t = tiles_.data();
                if (shallow) {
                    (sx > 0 ? TileWalk<1, 1, Across, Down>
                            : TileWalk<-1, 1, Across, Down>)(t, Across{tileX_.data(), x}, Down{y},
                                                             dMajor, m, ms, n);
                } else {
                    (sy > 0 ? TileWalk<1, 8, Down, Across>
                            : TileWalk<-1, 8, Down, Across>)(t, Down{y}, Across{tileX_.data(), x},
                                                             dMajor, m, ms, n);
                }
                return;
            }
            std::uint32_t* p = At(x, y);
            const std::ptrdiff_t stepX = sx * xStride_, stepY = sy * yStride_;
            const std::ptrdiff_t major = shallow ? stepX : stepY, minor = shallow ? stepY : stepX;
            std::uint64_t at = start;
            for (int i = 0; i < dMajor; ++i, p += major, at += step) {
                p[static_cast<std::ptrdiff_t>(at >> 48) * minor] = pixel;
            }
            return;
        }
    }
    const int mx = shallow ? sx : 0, my = shallow ? 0 : sy;
    Walk(dMajor, dMinor, [&](bool minorStep) {
        if (!tiled_) {
            Plot(x, y, pixel);
        } else if (static_cast<unsigned>(x) < static_cast<unsigned>(width_) &&
                   static_cast<unsigned>(y) < static_cast<unsigned>(height_)) {
            tiles_[tileX_[x] + Down{y}.Base()] = static_cast<std::uint8_t>(number);
        }
        x += mx;
        y += my;
        if (minorStep) {
            x += sx - mx;
            y += sy - my;
        }
    });
}

namespace {

// The pixels [from, to) of a straight run, or (to, from] when it runs backwards, cut to
// [0, extent); false when none is left.
// n pixels from p on, step pixels apart.
void Run(std::uint32_t* p, std::ptrdiff_t step, int n, std::uint32_t pixel) {
    if (step == 1) {
        std::fill_n(p, n, pixel);
        return;
    }
    for (int i = 0; i < n; ++i, p += step) *p = pixel;
}

bool RunRange(int from, int to, int extent, int& first, int& end) {
    first = from <= to ? from : to + 1;
    end = from <= to ? to : from + 1;
    first = std::max(first, 0);
    end = std::min(end, extent);
    return first < end;
}

}  // namespace

void PlotSurface::SpanLater(bool column, int at, int from, int to, Rgb color) {
    Flush();
    if (!bits_ || from == to) return;
    spanLater_ = {column, at, from, to, color};
    spanPending_ = true;
    changed_ = true;
    ++version_;
}

void PlotSurface::RowSpan(int y, int x0, int x1, Rgb color) {
    Span(false, y, x0, x1, color);
}

void PlotSurface::ColumnSpan(int x, int y0, int y1, Rgb color) {
    Span(true, x, y0, y1, color);
}

void PlotSurface::Span(bool column, int at, int from, int to, Rgb color) {
    Flush();
    if (tiled_) LeaveTiles();  // the tiles are for lines; anything else is drawn in rows
    if (!bits_ || from == to) return;
    MarkDrawn();
    const int across = column ? width_ : height_, along = column ? height_ : width_;
    int first, end;
    if (static_cast<unsigned>(at) >= static_cast<unsigned>(across) ||
        !RunRange(from, to, along, first, end)) {
        return;
    }
    Run(column ? At(at, first) : At(first, at), column ? yStride_ : xStride_, end - first,
        ToQRgb(color));
}

int PlotSurface::RowBits(int y, std::span<const std::uint8_t> bits, int lastColumn, Rgb color,
                         std::optional<Rgb> clear) {
    Flush();
    if (tiled_) LeaveTiles();
    if (!bits_) return 0;
    MarkDrawn();
    if (static_cast<unsigned>(y) >= static_cast<unsigned>(height_) || lastColumn < 0) return 0;
    const int columns = static_cast<int>(std::min<std::int64_t>(
        {std::int64_t{lastColumn} + 1, width_, static_cast<std::int64_t>(bits.size()) * 8}));
    const std::uint32_t pixel = ToQRgb(color);
    std::uint32_t* row = At(0, y);
    // No branch on each bit (packet bytes are as good as random to a branch predictor),
    // and a whole byte at a time where it fits.
    auto put = [&](int c, std::uint32_t set) {
        std::uint32_t& p = row[static_cast<std::ptrdiff_t>(c) * xStride_];
        p = (pixel & (0u - set)) | (p & (set - 1u));
    };
    // Every pixel written, the clear bits' too; with a stride known to be 1 (kept by rows,
    // as the bit rainfall is) the compiler writes a byte's eight pixels in a few vector
    // instructions.
    const std::uint32_t off = clear ? ToQRgb(*clear) : 0u, flip = pixel ^ off;
    auto write = [&](auto stride) {
        return [&, stride](int c, std::uint32_t set) {
            row[static_cast<std::ptrdiff_t>(c) * stride] = off ^ (flip & (0u - set));
        };
    };
    auto each = [&](auto&& visit) {
        int c = 0;
        for (; c + 8 <= columns; c += 8) {
            const std::uint32_t byte = bits[static_cast<std::size_t>(c) >> 3];
            for (int k = 0; k < 8; ++k) visit(c + k, (byte >> (7 - k)) & 1u);
        }
        for (; c < columns; ++c) {
            visit(c, (bits[static_cast<std::size_t>(c) >> 3] >> (7 - (c & 7))) & 1u);
        }
    };
    if (clear && xStride_ == 1) {
#if defined(__SSE2__)
        // Eight pixels a byte in two stores: each lane picks its bit, and becomes all ones
        // where the bit is set, which chooses the colour.
        const __m128i high = _mm_set_epi32(0x10, 0x20, 0x40, 0x80);
        const __m128i low = _mm_set_epi32(0x01, 0x02, 0x04, 0x08);
        const __m128i offs = _mm_set1_epi32(static_cast<int>(off));
        const __m128i flips = _mm_set1_epi32(static_cast<int>(flip));
        int c = 0;
        for (; c + 8 <= columns; c += 8) {
            const __m128i byte = _mm_set1_epi32(bits[static_cast<std::size_t>(c) >> 3]);
            const __m128i a = _mm_cmpeq_epi32(_mm_and_si128(byte, high), high);
            const __m128i b = _mm_cmpeq_epi32(_mm_and_si128(byte, low), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + c),
                             _mm_xor_si128(offs, _mm_and_si128(flips, a)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + c + 4),
                             _mm_xor_si128(offs, _mm_and_si128(flips, b)));
        }
        const auto put1 = write(std::integral_constant<std::ptrdiff_t, 1>{});
        for (; c < columns; ++c) {
            put1(c, (bits[static_cast<std::size_t>(c) >> 3] >> (7 - (c & 7))) & 1u);
        }
#else
        each(write(std::integral_constant<std::ptrdiff_t, 1>{}));
#endif
    } else if (clear) {
        each(write(xStride_));
    } else {
        each(put);
    }
    return columns;
}

void PlotSurface::Point(float x, float y, Rgb color) {
    Flush();
    if (tiled_) LeaveTiles();
    if (!bits_ || !std::isfinite(x) || !std::isfinite(y)) return;
    if (x < -1 || y < -1 || x > width_ + 1 || y > height_ + 1) return;
    Plot(static_cast<int>(RoundHalfEven(x)), static_cast<int>(RoundHalfEven(y)), ToQRgb(color));
    MarkDrawn();
}

Rgb PlotSurface::PixelAt(int x, int y) const {
    Flush();
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return background_;
    const std::uint32_t p = tiled_ ? palette_[tiles_[tileX_[x] + Down{y}.Base()]] : *At(x, y);
    return MakeRgb((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

QString PlotSurface::SaveBmp(const QString& path) const {
    return SaveImage(path, "bmp");
}

QString PlotSurface::SaveImage(const QString& path, const char* format) const {
    // An empty surface still gives a valid (1 x 1, background) file rather than none.
    QImage image = Image();
    if (image.isNull()) {
        image = QImage(1, 1, QImage::Format_RGB32);
        image.fill(ToQRgb(background_));
    }
    return WriteImageFile(image, path, format);
}

}  // namespace lumeno
