#pragma once

#include <cmath>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace lumeno {

// Every coordinate that is brought to a whole number goes to the nearest one, halves to
// the even neighbour (the default floating-point rounding mode).
inline double RoundHalfEven(double value) {
    // Adding and taking away 1.5 * 2^52 leaves no fraction bits, so the sum is rounded by
    // the mode itself: the same result as nearbyint, without its library call (every line
    // drawn rounds four times). Larger values are whole already, or not numbers at all.
    constexpr double kShift = 6755399441055744.0;                                // 1.5 * 2^52
    if (!(std::fabs(value) < 2251799813685248.0)) return std::nearbyint(value);  // 2^51
    return (value + kShift) - kShift;  // not folded: without -ffast-math this is no identity
}

// Local date and time as "yyyymmdd_hhnnss", e.g. 20261205_183907; one-second resolution.
std::string GetTimeStamp();
std::string FormatTimeStamp(const std::tm& local);

// An address's first octet x 256 + second octet. Only the first two of at least four
// dot-separated parts count; a part that does not begin with a digit reads as 0. A text
// with fewer than four parts has no number.
std::optional<std::int32_t> IPToNumber(std::string_view address);

// Row of a port on a surface of the given height: port 0 at the bottom row (height),
// 65535 at the top (0). A port outside 0..65535, or a height of 0, gives row 0.
std::int16_t ScalePort(std::int32_t port, std::int16_t height);

// Row of an address by its first two octets, on the same scale as ScalePort.
// No row for an address text that has no number.
std::optional<std::int16_t> ScaleIP(std::string_view address, std::int16_t height);

}  // namespace lumeno
