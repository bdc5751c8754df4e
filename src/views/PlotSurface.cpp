#include "views/PlotSurface.h"

#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <type_traits>

#include "packet/Library.h"

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

}  // namespace

PlotSurface::PlotSurface(int width, int height, Rgb background) : background_(background) {
    Resize(width, height);
}

void PlotSurface::Resize(int width, int height) {
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    columns_.clear();
    if (width_ == 0 || height_ == 0) {
        image_ = QImage();
        bits_ = nullptr;
        xStride_ = yStride_ = 0;
    } else {
        image_ = QImage(width_, height_, QImage::Format_RGB32);
        if (columnMajor_) {
            columns_.resize(static_cast<std::size_t>(width_) * height_);
            bits_ = columns_.data();
            xStride_ = height_;
            yStride_ = 1;
        } else {
            bits_ = reinterpret_cast<std::uint32_t*>(image_.bits());
            xStride_ = 1;
            yStride_ = image_.bytesPerLine() / 4;
        }
    }
    Erase();
}

void PlotSurface::SetColumnMajor(bool columns) {
    columnMajor_ = columns;
    Resize(width_, height_);
}

void PlotSurface::Erase() {
    pendingCount_ = 0;  // drawn before the erase, so gone with it
    spanPending_ = false;
    if (columnMajor_) {
        std::fill(columns_.begin(), columns_.end(), ToQRgb(background_));
        imageStale_ = true;
    } else if (bits_) {
        image_.fill(ToQRgb(background_));
    }
    changed_ = true;
    ++version_;
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

const QImage& PlotSurface::Image() const {
    Flush();
    if (imageStale_ && columnMajor_ && !image_.isNull()) {
        const int stride = image_.bytesPerLine() / 4;
        auto* out = reinterpret_cast<std::uint32_t*>(image_.bits());
        for (int x = 0; x < width_; ++x) {
            const std::uint32_t* column =
                columns_.data() + static_cast<std::ptrdiff_t>(x) * height_;
            for (int y = 0; y < height_; ++y)
                out[static_cast<std::ptrdiff_t>(y) * stride + x] = column[y];
        }
    }
    imageStale_ = false;
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
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) {
        return;
    }
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
    changed_ = true;
    imageStale_ = columnMajor_;
    ++version_;
    // The pixels covered lie between the start and the end, the end's major coordinate
    // excluded; when all of them are on the surface, walk a pointer without bounds checks.
    const bool shallow = dx >= dy;
    const int dMajor = shallow ? dx : dy, dMinor = shallow ? dy : dx;
    // The last pixel's minor offset, as the loop below works it out: a line that ends on
    // the far edge has its end point just off the surface but its last pixel on it.
    const int lastMinor = dMajor == 0
                              ? 0
                              : static_cast<int>((static_cast<std::int64_t>(dMajor - 1) * dMinor +
                                                  (dMajor - 1 - dMajor / 2)) /
                                                 dMajor);
    const int lastX = shallow ? ex - sx : x + sx * lastMinor;
    const int lastY = shallow ? y + sy * lastMinor : ey - sy;
    const bool inside = std::min(x, lastX) >= 0 && std::max(x, lastX) < width_ &&
                        std::min(y, lastY) >= 0 && std::max(y, lastY) < height_;
    if (dMajor == 0) return;
    if (inside && dMajor < kExactSteps) {
        std::uint32_t* p = At(x, y);
        const std::ptrdiff_t stepX = sx * xStride_, stepY = sy * yStride_;
        const std::ptrdiff_t major = shallow ? stepX : stepY, minor = shallow ? stepY : stepX;
        // Bresenham's i-th pixel is floor((i * dMinor + c) / dMajor) minor steps along,
        // c = dMajor - 1 - dMajor / 2. Worked out in 16.48 fixed point, no pixel's place
        // waits on the last one's, nor on a branch that the slope makes as good as random:
        // twice as fast as the step-by-step walk. unit exceeds 2^48 / dMajor by less than 1,
        // so position i is off by less than i * dMinor + c < dMajor^2 units of 2^-48, less
        // than any exact value's distance (at least 2^48 / dMajor) from the next whole step:
        // the floor is exact.
        const std::uint64_t unit = ((std::uint64_t{1} << 48) + dMajor - 1) / dMajor;
        std::uint64_t at = static_cast<std::uint64_t>(dMajor - 1 - dMajor / 2) * unit;
        const std::uint64_t step = static_cast<std::uint64_t>(dMinor) * unit;
        for (int i = 0; i < dMajor; ++i, p += major, at += step) {
            p[static_cast<std::ptrdiff_t>(at >> 48) * minor] = pixel;
        }
        return;
    }
    const int mx = shallow ? sx : 0, my = shallow ? 0 : sy;
    Walk(dMajor, dMinor, [&](bool minorStep) {
        Plot(x, y, pixel);
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
    if (!bits_ || from == to) return;
    changed_ = true;
    imageStale_ = columnMajor_;
    ++version_;
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
    if (!bits_) return 0;
    changed_ = true;
    imageStale_ = columnMajor_;
    ++version_;
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
        each(write(std::integral_constant<std::ptrdiff_t, 1>{}));
    } else if (clear) {
        each(write(xStride_));
    } else {
        each(put);
    }
    return columns;
}

void PlotSurface::Point(float x, float y, Rgb color) {
    Flush();
    if (!bits_ || !std::isfinite(x) || !std::isfinite(y)) return;
    if (x < -1 || y < -1 || x > width_ + 1 || y > height_ + 1) return;
    Plot(static_cast<int>(RoundHalfEven(x)), static_cast<int>(RoundHalfEven(y)), ToQRgb(color));
    changed_ = true;
    imageStale_ = columnMajor_;
    ++version_;
}

Rgb PlotSurface::PixelAt(int x, int y) const {
    Flush();
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return background_;
    const std::uint32_t p = *At(x, y);
    return MakeRgb((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

QString PlotSurface::SaveBmp(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return file.errorString();
    // An empty surface still gives a valid (1 x 1, background) file rather than none.
    QImage image = Image();
    if (image.isNull()) {
        image = QImage(1, 1, QImage::Format_RGB32);
        image.fill(ToQRgb(background_));
    }
    QImageWriter writer(&file, "bmp");
    QString reason;
    if (!writer.write(image)) {
        reason = file.error() != QFile::NoError ? file.errorString() : writer.errorString();
    } else if (!file.flush()) {
        reason = file.errorString();
    }
    file.close();
    if (reason.isEmpty() && file.error() != QFile::NoError) reason = file.errorString();
    if (!reason.isEmpty()) {
        // Leave no half-written image that could pass for a saved one (but never remove
        // what is not a plain file, such as a device).
        if (QFileInfo(path).isFile()) QFile::remove(path);
        return reason.isEmpty() ? QStringLiteral("write failed") : reason;
    }
    return {};
}

}  // namespace lumeno
