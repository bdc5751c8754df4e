#include "packet/ByteReader.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace lumeno {
namespace {

// Each width must read up to the last byte in its byte order and refuse one byte more,
// leaving the output alone; offsets or counts near SIZE_MAX must not wrap the bounds check;
// a prefix must cut reads off at its limit but never reach past the bytes it was cut from.
TEST(ByteReader, ReadsUpToTheEndAndNeverPastIt) {
    const std::array<std::uint8_t, 5> bytes{0x01, 0x02, 0x03, 0x04, 0x05};
    const ByteReader r(bytes);
    std::uint8_t b = 0;
    std::uint16_t w = 0;
    std::uint32_t d = 0;
    EXPECT_TRUE(r.u8(4, b) && b == 0x05);
    EXPECT_TRUE(r.u16be(3, w) && w == 0x0405);
    EXPECT_TRUE(r.u32be(1, d) && d == 0x02030405u);
    EXPECT_TRUE(r.u32le(0, d) && d == 0x04030201u);
    EXPECT_FALSE(r.u8(5, b) || r.u16be(4, w) || r.u32be(2, d) || r.u32le(2, d));
    EXPECT_EQ(d, 0x04030201u);

    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    EXPECT_FALSE(r.has(huge, 2) || r.has(2, huge) || r.u16be(huge - 1, w) || r.has(6, 0));
    EXPECT_TRUE(r.has(5, 0));

    std::span<const std::uint8_t> view;
    EXPECT_EQ(r.prefix(100).size(), 5u);
    EXPECT_FALSE(r.prefix(3).bytes(2, 2, view));
    ASSERT_TRUE(r.prefix(4).bytes(2, 2, view));
    EXPECT_EQ(view[0], 3);
}

}  // namespace
}  // namespace lumeno
