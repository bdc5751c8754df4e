#include "views/parallel/ParallelPlot.h"

#include <algorithm>
#include <cstring>

#include "packet/Library.h"

namespace lumeno {

namespace {

double ScaleFactor(double H) {
    const double q = 65535.0 / H;
    return 1.0 / q;
}

std::int32_t Position(std::int32_t value, double f, double H) {
    const double y0 = RoundHalfEven(value * f);
    return static_cast<std::int32_t>(RoundHalfEven(H - y0));
}

struct Known {
    std::string_view source, dst;
    std::optional<std::int32_t> sourceNumber, dstNumber;
};
thread_local Known known;

bool Same(std::string_view a, std::string_view b) {
    return a.data() == b.data() && a.size() == b.size();
}

// IPToNumber, quicker for the usual text: one to three digits, a dot, one to three digits, a
// dot, and one more dot further on is exactly the first two numbers, whatever else follows.
// Anything else takes the general rule.
std::optional<std::int32_t> Number(std::string_view text) {
    std::int32_t n[2] = {0, 0};
    std::size_t at = 0;
    for (std::int32_t& v : n) {
        const std::size_t start = at;
        while (at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9') {
            v = v * 10 + (text[at] - '0');
            ++at;
        }
        if (at == start || at == text.size() || text[at] != '.') return IPToNumber(text);
        ++at;
    }
    if (text.find('.', at) == std::string_view::npos) return IPToNumber(text);
    return n[0] * 256 + n[1];
}

}  // namespace

// A text is known by its length and its first and last eight characters, which for a text of
// 8 to 16 characters are all of them.
std::optional<std::int32_t> AddressNumber(std::string_view text) {
    const std::size_t length = text.size();
    if (length < 8 || length > 16) return Number(text);
    std::uint64_t head, tail;
    std::memcpy(&head, text.data(), 8);
    std::memcpy(&tail, text.data() + length - 8, 8);
    struct Remembered {
        std::size_t length = 0;
        std::uint64_t head = 0, tail = 0;
        std::optional<std::int32_t> number;
    };
    thread_local std::array<Remembered, 2> remembered;
    thread_local std::size_t newest = 0;
    for (const Remembered& r : remembered) {
        if (r.length == length && r.head == head && r.tail == tail) return r.number;
    }
    newest ^= 1;
    remembered[newest] = {length, head, tail, Number(text)};
    return remembered[newest].number;
}

KnownAddresses::KnownAddresses(std::string_view source, std::optional<std::int32_t> sourceNumber,
                               std::string_view dst, std::optional<std::int32_t> dstNumber) {
    known = {source, dst, sourceNumber, dstNumber};
}

KnownAddresses::~KnownAddresses() {
    known = {};
}

std::int32_t AxisPosition(std::int32_t value, double H) {
    return Position(value, ScaleFactor(H), H);
}

void ParallelPlot::NewFactor() const {
    factorHeight_ = surface_.Height();
    factor_ = ScaleFactor(factorHeight_);
}

// The surface's height is whole, so H - y0 is whole too and needs no second rounding.
std::int32_t ParallelPlot::ConvertPort(std::int32_t Port) const {
    const double f = Factor();
    return surface_.Height() - static_cast<std::int32_t>(RoundHalfEven(Port * f));
}

bool ParallelPlot::ConvertIP(std::string_view IPin, std::int32_t& IPout) const {
    const std::optional<std::int32_t> number = Same(IPin, known.source) ? known.sourceNumber
                                               : Same(IPin, known.dst)  ? known.dstNumber
                                                                        : AddressNumber(IPin);
    if (!number) return false;
    IPout = ConvertPort(*number);
    return true;
}

void ParallelPlot::TwoAxes(std::int32_t y0, std::int32_t y1, Rgb color) {
    if (Repeats({y0, y1, 0, 0}, color)) return;
    const float w = static_cast<float>(surface_.Width());
    const PlotSurface::Segment line{0, static_cast<float>(y0), w, static_cast<float>(y1)};
    surface_.Polyline({&line, 1}, color);
    lastVersion_ = surface_.Version();
}

void ParallelPlot::FourAxes(std::array<std::int32_t, 4> y, Rgb color) {
    if (Repeats(y, color)) return;
    const float w = static_cast<float>(surface_.Width());
    const float x[4] = {0, w / 3, (w / 3) * 2, w};
    std::array<PlotSurface::Segment, 3> lines;
    for (int i = 0; i < 3; ++i) {
        lines[i] = {x[i], static_cast<float>(y[i]), x[i + 1], static_cast<float>(y[i + 1])};
    }
    surface_.Polyline(lines, color);
    lastVersion_ = surface_.Version();
}

void ParallelPlot::Dual(std::string_view sourceIP, std::int32_t sourcePort, std::string_view destIP,
                        std::int32_t destPort, bool portsInside, Rgb color) {
    std::int32_t s, d;
    if (!ConvertIP(sourceIP, s) || !ConvertIP(destIP, d)) return;
    const std::int32_t sp = ConvertPort(sourcePort), dp = ConvertPort(destPort);
    FourAxes(portsInside ? std::array{s, sp, dp, d} : std::array{sp, s, d, dp}, color);
}

void ParallelPlot::Categories(std::int32_t a, std::span<const std::string_view, 5> boxes,
                              std::string_view destIP, Rgb color) {
    std::array<PlotSurface::Segment, 5> lines;
    int n = 0;
    for (int k = 0; k < 5; ++k) {
        // An empty box stands for no address at all.
        if (boxes[k].empty() || boxes[k] != destIP) continue;
        const double H = surface_.Height();
        const double c[5] = {0, H / 4, H / 2, (H / 4) * 3, H};
        lines[n++] = {0, static_cast<float>(a), static_cast<float>(surface_.Width()),
                      static_cast<float>(RoundHalfEven(c[k]))};
    }
    surface_.Polyline(std::span(lines).first(n), color);
}

}  // namespace lumeno
