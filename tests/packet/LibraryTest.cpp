#include "packet/Library.h"

#include <gtest/gtest.h>

#include <regex>

namespace lumeno {
namespace {

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(100.5), 100);
    EXPECT_EQ(RoundHalfEven(301.5), 302);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(200.003), 200);
    EXPECT_EQ(RoundHalfEven(301.03), 301);
    EXPECT_EQ(RoundHalfEven(2.5000001), 3);
}

TEST(ScalePort, ExamplesAtHeight400) {
    EXPECT_EQ(ScalePort(0, 400), 400);
    EXPECT_EQ(ScalePort(65535, 400), 0);
    EXPECT_EQ(ScalePort(32768, 400), 200);  // 200.003
    EXPECT_EQ(ScalePort(32767, 400), 200);  // 199.997
    EXPECT_EQ(ScalePort(443, 400), 397);    // 2.704
}

TEST(ScalePort, OutOfRangePortsGoToTheTopRow) {
    EXPECT_EQ(ScalePort(70000, 400), 0);
    EXPECT_EQ(ScalePort(65536, 400), 0);
    EXPECT_EQ(ScalePort(-1, 400), 0);
    EXPECT_EQ(ScalePort(std::numeric_limits<std::int32_t>::min(), 400), 0);
}

TEST(ScalePort, BothEndsOfTheRangeAtManyHeights) {
    for (std::int16_t h : {1, 2, 3, 7, 201, 400, 1000, 32767}) {
        EXPECT_EQ(ScalePort(0, h), h) << "height " << h;
        EXPECT_EQ(ScalePort(65535, h), 0) << "height " << h;
    }
}

TEST(ScalePort, HeightZeroGivesRowZero) {
    EXPECT_EQ(ScalePort(0, 0), 0);
    EXPECT_EQ(ScalePort(65535, 0), 0);
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

TEST(IPToNumber, FirstOctetTimes256PlusSecond) {
    EXPECT_EQ(IPToNumber("10.0.0.1"), 2560);
    EXPECT_EQ(IPToNumber("10.0.255.255"), 2560);
    EXPECT_EQ(IPToNumber("192.168.1.101"), 49320);
    EXPECT_EQ(IPToNumber("255.255.255.255"), 65535);
    EXPECT_EQ(IPToNumber("0.0.0.0"), 0);
}

TEST(IPToNumber, NeedsFourParts) {
    EXPECT_EQ(IPToNumber(""), std::nullopt);
    EXPECT_EQ(IPToNumber("10"), std::nullopt);
    EXPECT_EQ(IPToNumber("10.1.2"), std::nullopt);
    EXPECT_EQ(IPToNumber("10.1.2."), 2561);  // four parts, the last empty
    EXPECT_EQ(IPToNumber("10.1.2.3.4"), 2561);
}

TEST(IPToNumber, PartsThatDoNotBeginWithADigitReadAsZero) {
    EXPECT_EQ(IPToNumber("x.5.1.1"), 5);
    EXPECT_EQ(IPToNumber("10. 5.1.1"), 2560);
    EXPECT_EQ(IPToNumber("..."), 0);
    EXPECT_EQ(IPToNumber("12abc.7z.1.1"), 12 * 256 + 7);
}

TEST(IPToNumber, AbsurdDigitsSaturateInsteadOfOverflowing) {
    const auto n = IPToNumber("99999999999999999999.99999999999.1.1");
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(*n, std::numeric_limits<std::int32_t>::max());
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
    t.tm_year = 1999 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 1;
    t.tm_hour = 0;
    t.tm_min = 0;
    t.tm_sec = 0;
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
