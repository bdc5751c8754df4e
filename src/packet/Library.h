#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
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

// An address's place on the 16-bit axes.
// IPv4: first octet x 256 + second octet. Only the first two of at least four dot-separated
// parts count; a part that does not begin with a digit reads as 0. A text with fewer than
// four parts has no number.
// IPv6 (a text with a ':' among its first five characters): IPv6ToNumber of the address; a
// text that is no IPv6 address has no number.
std::optional<std::int32_t> IPToNumber(std::string_view address);

// An IPv6 address's number: one /48 network at one height, networks spread over the whole
// axis. The first 48 bits times 0x9E3779B97F4A7C15 (2^64 over the golden ratio), modulo
// 2^64, give the number as their top 16 bits: neighbouring networks land far apart and no
// part of the address space piles up at one end. An IPv4-mapped address (::ffff:a.b.c.d)
// is an IPv4 host and takes its IPv4 number, a x 256 + b.
std::int32_t IPv6ToNumber(std::span<const std::uint8_t, 16> address);

// Reads IPv6 text: eight groups of one to four hexadecimal digits, one "::" for a run of
// zero groups, and an optional dotted IPv4 tail in place of the last two groups.
bool ParseIPv6(std::string_view text, std::array<std::uint8_t, 16>& address);

// Row of a port on a surface of the given height: port 0 at the bottom row (height),
// 65535 at the top (0). A port outside 0..65535, or a height of 0, gives row 0.
std::int16_t ScalePort(std::int32_t port, std::int16_t height);

// Row of an address by IPToNumber, on the same scale as ScalePort.
// No row for an address text that has no number.
std::optional<std::int16_t> ScaleIP(std::string_view address, std::int16_t height);

}  // namespace lumeno
