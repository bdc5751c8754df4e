#include "packet/Library.h"

#include <gtest/gtest.h>

#include <regex>

namespace lumeno {
namespace {

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour) {
    const std::pair<double, std::int32_t> cases[] = {{0.5, 0},       {1.5, 2},      {2.5, 2},
                                                     {100.5, 100},   {301.5, 302},  {-1.5, -2},
                                                     {200.003, 200}, {301.03, 301}, {2.5000001, 3}};
    for (auto [value, rounded] : cases) EXPECT_EQ(RoundHalfEven(value), rounded) << value;
}

TEST(ScalePort, ExamplesOutOfRangeAndBothEnds) {
    // 32768 -> 200.003, 32767 -> 199.997, 443 -> 2.704; out of range goes to the top row.
    const std::pair<std::int32_t, std::int32_t> at400[] = {
        {0, 400},     {65535, 0}, {32768, 200},
        {32767, 200}, {443, 397}, {70000, 0},
        {65536, 0},   {-1, 0},    {std::numeric_limits<std::int32_t>::min(), 0}};
    for (auto [port, row] : at400) EXPECT_EQ(ScalePort(port, 400), row) << port;
    for (std::int16_t h : {0, 1, 2, 3, 7, 201, 400, 1000, 32767}) {
        EXPECT_EQ(ScalePort(0, h), h) << "height " << h;
        EXPECT_EQ(ScalePort(65535, h), 0) << "height " << h;
    }
    EXPECT_EQ(ScaleIP("192.168.1.1", 0), 0);
}

TEST(ScaleIP, PlacesByTheFirstTwoOctets) {
    EXPECT_EQ(ScaleIP("192.168.1.101", 400), 99);  // 49320 * 400 / 65535 = 301.03
    EXPECT_EQ(ScaleIP("10.1.200.7", 400), 384);
    EXPECT_EQ(ScaleIP("10.1.3.4", 400), 384);
    EXPECT_EQ(ScaleIP("255.255.255.255", 400), 0);
    EXPECT_EQ(ScaleIP("0.0.0.0", 400), 400);
    EXPECT_EQ(ScaleIP("1.2.3", 400), std::nullopt);
}

// First octet times 256 plus the second; fewer than four parts is no address, and a part
// that does not begin with a digit reads as zero.
TEST(IPToNumber, FirstTwoOctetsOfAFourPartText) {
    const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
        {"10.0.0.1", 2560},
        {"10.0.255.255", 2560},
        {"192.168.1.101", 49320},
        {"255.255.255.255", 65535},
        {"0.0.0.0", 0},
        {"", std::nullopt},
        {"10", std::nullopt},
        {"10.1.2", std::nullopt},
        {"10.1.2.", 2561},  // four parts, the last empty
        {"10.1.2.3.4", 2561},
        {"x.5.1.1", 5},
        {"10. 5.1.1", 2560},
        {"...", 0},
        {"12abc.7z.1.1", 12 * 256 + 7},
        // Absurd digits saturate instead of overflowing.
        {"99999999999999999999.99999999999.1.1", std::numeric_limits<std::int32_t>::max()}};
    for (const auto& [text, number] : cases) EXPECT_EQ(IPToNumber(text), number) << text;
}

TEST(GetTimeStamp, FormatsLocalTime) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 5;
    t.tm_hour = 18;
    t.tm_min = 39;
    t.tm_sec = 7;
    EXPECT_EQ(FormatTimeStamp(t), "20261205_183907");
    t = std::tm{};
    t.tm_year = 1999 - 1900;
    t.tm_mday = 1;
    EXPECT_EQ(FormatTimeStamp(t), "19990101_000000");
}

TEST(GetTimeStamp, PatternAndOneSecondResolution) {
    EXPECT_TRUE(std::regex_match(GetTimeStamp(), std::regex("[0-9]{8}_[0-9]{6}")));
    // Two calls in the same second agree; retry in case a second boundary fell between.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::string a = GetTimeStamp(), b = GetTimeStamp();
        if (std::time(nullptr) == before) {
            EXPECT_EQ(a, b);
            return;
        }
    }
}

}  // namespace
}  // namespace lumeno
