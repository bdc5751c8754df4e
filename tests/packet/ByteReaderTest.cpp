#include "packet/ByteReader.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace lumeno {
namespace {

TEST(ByteReader, ReadsInsideAndRefusesPastTheEnd) {
    const std::array<std::uint8_t, 5> bytes{0x01, 0x02, 0x03, 0x04, 0x05};
    const ByteReader r(bytes);
    std::uint8_t b = 0;
    std::uint16_t w = 0;
    std::uint32_t d = 0;
    EXPECT_TRUE(r.u8(4, b));
    EXPECT_EQ(b, 0x05);
    EXPECT_FALSE(r.u8(5, b));
    EXPECT_TRUE(r.u16be(3, w));
    EXPECT_EQ(w, 0x0405);
    EXPECT_FALSE(r.u16be(4, w));
    EXPECT_TRUE(r.u32be(1, d));
    EXPECT_EQ(d, 0x02030405u);
    EXPECT_TRUE(r.u32le(0, d));
    EXPECT_EQ(d, 0x04030201u);
    EXPECT_FALSE(r.u32be(2, d));
    EXPECT_EQ(d, 0x04030201u);  // a failed read leaves the output alone
}

TEST(ByteReader, HugeOffsetsDoNotWrapAround) {
    const std::array<std::uint8_t, 4> bytes{};
    const ByteReader r(bytes);
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    std::uint16_t w = 0;
    EXPECT_FALSE(r.has(huge, 2));
    EXPECT_FALSE(r.has(2, huge));
    EXPECT_FALSE(r.u16be(huge - 1, w));
    EXPECT_TRUE(r.has(4, 0));
    EXPECT_FALSE(r.has(5, 0));
}

TEST(ByteReader, PrefixCutsButNeverGrows) {
    const std::array<std::uint8_t, 6> bytes{1, 2, 3, 4, 5, 6};
    const ByteReader r(bytes);
    EXPECT_EQ(r.prefix(3).size(), 3u);
    EXPECT_EQ(r.prefix(100).size(), 6u);
    std::span<const std::uint8_t> view;
    EXPECT_FALSE(r.prefix(3).bytes(2, 2, view));
    EXPECT_TRUE(r.bytes(2, 2, view));
    EXPECT_EQ(view[0], 3);
}

}  // namespace
}  // namespace lumeno
