#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "views/PlotSurface.h"

namespace lumeno {

// The plotting shared by the six parallel-coordinate views: a 16-bit value scale on every
// axis (0 at the bottom, 65535 at the top) and one polyline per record across the axes,
// drawn in the record's colour. The views differ only in which fields go on which axis.
class ParallelPlot {
  public:
    explicit ParallelPlot(PlotSurface& surface) : surface_(surface) {}

    // Vertical position of a value in 0..65535 on the surface as it is now.
    std::int32_t ConvertPort(std::int32_t Port) const;
    // The position of an address by its first two octets; false (and IPout untouched) for
    // a text that is no four-part address, which the view then skips.
    bool ConvertIP(std::string_view IPin, std::int32_t& IPout) const;

    // One segment from the left edge at y0 to the right edge at y1.
    void TwoAxes(std::int32_t y0, std::int32_t y1, Rgb color);
    // Three segments through axes at 0, W/3, (W/3)*2 and W (unrounded).
    void FourAxes(std::array<std::int32_t, 4> y, Rgb color);
    // The record on four axes, ports on the outer axes and addresses on the inner ones, or
    // (portsInside) the other way round.
    void Dual(std::string_view sourceIP, std::int32_t sourcePort, std::string_view destIP,
              std::int32_t destPort, bool portsInside, Rgb color);
    // A segment from the left edge at a to each of the five category positions of the right
    // edge whose box text equals the internal address, character for character.
    void Categories(std::int32_t a, std::span<const std::string_view, 5> boxes,
                    std::string_view destIP, Rgb color);

  private:
    // True when these positions and colour are those drawn last, with nothing drawn or
    // erased since: drawing them again would leave the picture as it is. Runs of packets of
    // one flow, as a busy link brings them, cost no more than their conversion.
    bool Repeats(std::array<std::int32_t, 4> y, Rgb color) {
        if (surface_.Version() == lastVersion_ && y == lastY_ && color == lastColor_) return true;
        lastY_ = y;
        lastColor_ = color;
        return false;
    }

    double Factor() const {
        if (surface_.Height() != factorHeight_) NewFactor();
        return factor_;
    }
    void NewFactor() const;

    PlotSurface& surface_;
    // The scale factor for the height it was computed for: the same height gives the same
    // factor, so it is worked out again only when the height changes.
    mutable int factorHeight_ = -1;
    mutable double factor_ = 0;
    std::array<std::int32_t, 4> lastY_{};
    Rgb lastColor_ = 0;
    std::uint64_t lastVersion_ = ~std::uint64_t{0};
};

// IPToNumber of an address text, remembering the last two texts converted on this thread:
// the views take the same two addresses of every record, and a run of one flow's packets the
// same ones again.
std::optional<std::int32_t> AddressNumber(std::string_view text);

// The numbers of one record's two addresses, worked out once for all the views that draw it
// on this thread while this object lives: a view given one of these very texts (the same
// characters in memory, not merely equal ones) takes its number from here.
class KnownAddresses {
  public:
    KnownAddresses(std::string_view source, std::optional<std::int32_t> sourceNumber,
                   std::string_view dst, std::optional<std::int32_t> dstNumber);
    ~KnownAddresses();
    KnownAddresses(const KnownAddresses&) = delete;
    KnownAddresses& operator=(const KnownAddresses&) = delete;
};

// The vertical position rule on a surface of height H: the factor is the reciprocal of
// 65535 / H, and both steps round halves to even.
std::int32_t AxisPosition(std::int32_t value, double H);

}  // namespace lumeno
