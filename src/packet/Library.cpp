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

// Leading decimal digits of a part; saturates instead of overflowing on absurd input.
std::int64_t LeadingNumber(std::string_view part) {
    std::int64_t n = 0;
    for (char c : part) {
        if (c < '0' || c > '9') break;
        n = std::min<std::int64_t>(n * 10 + (c - '0'), std::numeric_limits<std::int32_t>::max());
    }
    return n;
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
    std::string_view parts[2];
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = address.find('.', start);
        const std::string_view part = address.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (count < 2) parts[count] = part;
        ++count;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (count < 4) return std::nullopt;
    const std::int64_t number = LeadingNumber(parts[0]) * 256 + LeadingNumber(parts[1]);
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(number, std::numeric_limits<std::int32_t>::max()));
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
