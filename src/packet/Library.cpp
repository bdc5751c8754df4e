#include "packet/Library.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "packet/FixedText.h"

namespace lumeno {

namespace {

// The factor is formed as the reciprocal of 65535 / height, as the scale is defined.
std::int16_t RowOnScale(double value, std::int16_t height) {
    if (height == 0) return 0;
    const double factor = 1.0 / (65535.0 / height);
    const double row = height - RoundHalfEven(value * factor);
    return static_cast<std::int16_t>(std::clamp(row, -32768.0, 32767.0));
}

// The value of a hexadecimal digit, or 16 for any other character.
unsigned HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    const char lower = static_cast<char>(c | 0x20);
    if (lower >= 'a' && lower <= 'f') return static_cast<unsigned>(lower - 'a' + 10);
    return 16;
}

// Exactly four decimal parts of one to three digits, each at most 255, without leading
// zeros (which some read as octal).
bool ParseDottedQuad(std::string_view text, std::uint8_t (&octets)[4]) {
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        const std::size_t first = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        if (digits > 1 && text[first] == '0') return false;
        octets[part] = static_cast<std::uint8_t>(value);
    }
    return at == text.size();
}

std::optional<std::int32_t> IPv6TextNumber(std::string_view text) {
    std::array<std::uint8_t, 16> address;
    if (!ParseIPv6(text, address)) return std::nullopt;
    return IPv6ToNumber(address);
}

// The numbers of the last two IPv6 texts asked for on this thread: every view asks for the
// same two addresses of a record, and a flow's packets for the same ones again.
std::optional<std::int32_t> RememberedIPv6Number(std::string_view text) {
    if (text.size() > kIpTextCapacity) return IPv6TextNumber(text);
    struct Remembered {
        std::size_t length = kIpTextCapacity + 1;  // none yet
        char chars[kIpTextCapacity];
        std::optional<std::int32_t> number;
    };
    thread_local Remembered remembered[2];
    thread_local unsigned newest = 0;
    for (const Remembered& r : remembered) {
        if (r.length == text.size() && std::memcmp(r.chars, text.data(), text.size()) == 0) {
            return r.number;
        }
    }
    newest ^= 1;
    Remembered& r = remembered[newest];
    r.length = text.size();
    std::memcpy(r.chars, text.data(), text.size());
    r.number = IPv6TextNumber(text);
    return r.number;
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
    // A group has at most four digits, so IPv6 text shows a ':' within five characters.
    if (address.substr(0, 5).find(':') != std::string_view::npos) {
        return RememberedIPv6Number(address);
    }
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

std::int32_t IPv6ToNumber(std::span<const std::uint8_t, 16> a) {
    static constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(a.data(), kMappedPrefix, sizeof kMappedPrefix) == 0) return a[12] * 256 + a[13];
    std::uint64_t network = 0;
    for (std::size_t i = 0; i < 6; ++i) network = (network << 8) | a[i];
    return static_cast<std::int32_t>((network * 0x9E3779B97F4A7C15ULL) >> 48);
}

bool ParseIPv6(std::string_view text, std::array<std::uint8_t, 16>& address) {
    std::uint16_t groups[8];
    int count = 0, gap = -1;  // gap: where "::" stands among the groups
    std::size_t at = 0;
    if (text.starts_with("::")) {
        gap = 0;
        at = 2;
    }
    while (at < text.size()) {
        std::size_t end = at;
        unsigned value = 0;
        while (end < text.size() && end - at < 5 && HexValue(text[end]) < 16) {
            value = value * 16 + HexValue(text[end]);
            ++end;
        }
        if (end == at) return false;
        if (end < text.size() && text[end] == '.') {
            // A dotted IPv4 tail: the last two groups, and the end of the text.
            std::uint8_t octets[4];
            if (count > 6 || !ParseDottedQuad(text.substr(at), octets)) return false;
            groups[count++] = static_cast<std::uint16_t>((octets[0] << 8) | octets[1]);
            groups[count++] = static_cast<std::uint16_t>((octets[2] << 8) | octets[3]);
            break;
        }
        if (end - at > 4 || count == 8) return false;
        groups[count++] = static_cast<std::uint16_t>(value);
        if (end == text.size()) break;
        if (text[end] != ':' || end + 1 == text.size()) return false;
        at = end + 1;
        if (text[at] == ':') {
            if (gap >= 0) return false;
            gap = count;
            ++at;
        }
    }
    if (gap < 0 ? count != 8 : count > 7) return false;
    address.fill(0);
    const int tail = gap < 0 ? 0 : count - gap;  // groups after the "::"
    for (int i = 0; i < count; ++i) {
        const int position = i < count - tail ? i : 8 - (count - i);
        address[2 * position] = static_cast<std::uint8_t>(groups[i] >> 8);
        address[2 * position + 1] = static_cast<std::uint8_t>(groups[i]);
    }
    return true;
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
