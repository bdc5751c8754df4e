#include "packet/Library.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace lumeno {

namespace {

// The factor is formed as the reciprocal of 65535 / height, as the scale is defined.
std::int16_t RowOnScale(double value, std::int16_t height) {
    if (height == 0) return 0;
    const double factor = 1.0 / (65535.0 / height);
    const double row = height - RoundHalfEven(value * factor);
    return static_cast<std::int16_t>(std::clamp(row, -32768.0, 32767.0));
}

}  // namespace

std::string FormatTimeStamp(const std::tm& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string GetTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return FormatTimeStamp(local);
}

std::optional<std::int32_t> IPToNumber(std::string_view address) {
    // One pass: the leading digits of the first two parts, and whether there are four.
    // Without a branch on the characters, which come as good as at random.
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t number[2] = {0, 0};
    std::size_t part = 0;
    bool leading = true;  // still in the leading digits of the current part
    for (char c : address) {
        const bool dot = c == '.';
        const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
        const bool isDigit = digit < 10;
        const bool take = isDigit & leading & (part < 2);
        std::int64_t& n = number[part < 2 ? part : 0];
        const std::int64_t next = std::min(n * 10 + digit, kMax);
        n = take ? next : n;
        leading = dot | (leading & isDigit);
        part += dot;
    }
    if (part < 3) return std::nullopt;
    return static_cast<std::int32_t>(std::min(number[0] * 256 + number[1], kMax));
}

std::int16_t ScalePort(std::int32_t port, std::int16_t height) {
    if (port < 0 || port > 65535) return 0;
    return RowOnScale(port, height);
}

std::optional<std::int16_t> ScaleIP(std::string_view address, std::int16_t height) {
    const auto number = IPToNumber(address);
    if (!number) return std::nullopt;
    return RowOnScale(*number, height);
}

}  // namespace lumeno
