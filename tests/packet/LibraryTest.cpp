#include "packet/Library.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace lumeno {
namespace {

// Rounding half away from zero (std::round) or truncating would move every tie by a row.
TEST(RoundHalfEven, TiesGoToTheEvenNeighbour) {
    const std::pair<double, std::int32_t> cases[] = {{0.5, 0},   {1.5, 2},       {2.5, 2},
                                                     {-1.5, -2}, {2.5000001, 3}, {301.03, 301}};
    for (auto [value, rounded] : cases) EXPECT_EQ(RoundHalfEven(value), rounded) << value;
}

// Both ends of the scale must land on the edge rows at every height, the middle must round
// (32768 -> 200.003, 32767 -> 199.997), and ports or heights out of range go to row 0.
// Addresses use the same scale by their first two octets; a text with no number has no row.
TEST(ScalePort, BothEndsTheMiddleAndOutOfRange) {
    const std::pair<std::int32_t, std::int32_t> at400[] = {
        {0, 400},   {65535, 0}, {32768, 200}, {32767, 200},
        {443, 397}, {65536, 0}, {-1, 0},      {std::numeric_limits<std::int32_t>::min(), 0}};
    for (auto [port, row] : at400) EXPECT_EQ(ScalePort(port, 400), row) << port;
    for (std::int16_t h : {0, 1, 2, 3, 7, 201, 400, 1000, 32767}) {
        EXPECT_EQ(ScalePort(0, h), h) << "height " << h;
        EXPECT_EQ(ScalePort(65535, h), 0) << "height " << h;
    }
    EXPECT_EQ(ScaleIP("192.168.1.101", 400), 99);  // 49320 * 400 / 65535 = 301.03
    EXPECT_EQ(ScaleIP("255.255.255.255", 400), 0);
    EXPECT_EQ(ScaleIP("192.168.1.1", 0), 0);
    EXPECT_EQ(ScaleIP("1.2.3", 400), std::nullopt);
}

// First octet times 256 plus the second: fewer than four parts (an empty last part counts)
// is no address, a part that does not begin with a digit reads as zero, and absurd digits
// saturate, never overflow.
TEST(IPToNumber, FirstTwoOctetsOfAFourPartText) {
    const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
        {"192.168.1.101", 49320}, {"", std::nullopt},
        {"10.1.2", std::nullopt}, {"10.1.2.", 2561},
        {"10.1.2.3.4", 2561},     {"x.5.1.1", 5},
        {"10. 5.1.1", 2560},      {"12abc.7z.1.1", 12 * 256 + 7}};
    for (const auto& [text, number] : cases) EXPECT_EQ(IPToNumber(text), number) << text;
    EXPECT_EQ(IPToNumber("99999999999999999999.99999999999.1.1"),
              std::numeric_limits<std::int32_t>::max());
}

// IPv6: one /48 at one height whatever follows it, the next /48 far away, IPv4-mapped
// addresses at their IPv4 height, and a text that is no IPv6 address has no number. The
// numbers are pinned: pictures of one capture must look the same in every version.
TEST(IPToNumber, IPv6ByItsFirst48Bits) {
    const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
        {"2001:db8::1", 46999},
        {"2001:db8:0:ffff::2", 46999},  // the same /48
        {"2001:0DB8:0000::", 46999},    // any spelling of it
        {"2001:db8:1::1", 21966},
        {"2001:db9::1", 12624},
        {"fe80::1", 35930},
        {"ff02::fb", 12333},
        {"::1", 0},
        {"::ffff:192.168.1.101", 49320},
        {"::ffff:c0a8:165", 49320},
        {"::192.168.1.101", 0},  // not mapped: the first 48 bits are zero
        // Refused forms (the parser's own test covers the rest), once seen as a valid neighbour.
        {"2001:db8::1%eth0", std::nullopt},
        {"2001:db8:::1", std::nullopt},
        {"::ffff:192.168.1.256", std::nullopt},
    };
    // Each text twice in turn: what is remembered of earlier texts never answers for another.
    for (int round = 0; round < 2; ++round) {
        for (const auto& [text, number] : cases) EXPECT_EQ(IPToNumber(text), number) << text;
    }
    EXPECT_EQ(ScaleIP("2001:db8::1", 400), 113);  // 46999 * 400 / 65535 = 286.86
}

// Reading IPv6 text agrees with the C library on valid and invalid forms alike.
TEST(IPToNumber, IPv6TextIsReadAsTheCLibraryReadsIt) {
    std::istringstream texts(
        ":: ::1 1:: 1:2:3:4:5:6:7:8 1:2:3:4:5:6:7:: ::2:3:4:5:6:7:8 1::8 abcd:EF01:: "
        "::ffff:1.2.3.4 ::1.2.3.4 1:2:3:4:5:6:1.2.3.4 1:2:3:4:5:6:7:1.2.3.4 1::2::3 ::: 1::: "
        "1:2:3:4:5:6:7:8: :1:2:3:4:5:6:7:8 00000:: 0000:: g:: ::1.2.3 ::1.2.3.4.5 ::1.2.3.04 "
        "1.2.3.4::");
    std::vector<std::string> all = {""};
    for (std::string text; texts >> text;) all.push_back(text);
    for (const std::string& text : all) {
        std::array<std::uint8_t, 16> ours{}, theirs{};
        const bool read = ParseIPv6(text, ours);
        EXPECT_EQ(read, ::inet_pton(AF_INET6, text.c_str(), theirs.data()) == 1) << text;
        EXPECT_TRUE(!read || ours == theirs) << text;
    }
}

// Snapshot names need the tm offsets (year 1900, month 0) undone and every field padded.
TEST(FormatTimeStamp, UndoesTheOffsetsAndPadsEveryField) {
    std::tm t{};
    t.tm_year = 99, t.tm_mon = 0, t.tm_mday = 5, t.tm_hour = 18, t.tm_min = 9;
    EXPECT_EQ(FormatTimeStamp(t), "19990105_180900");
}

}  // namespace
}  // namespace lumeno
