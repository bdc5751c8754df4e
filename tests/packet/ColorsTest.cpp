#include "packet/Colors.h"

#include <gtest/gtest.h>

namespace lumeno {
namespace {

class ColorsTest : public testing::Test {
  protected:
    void SetUp() override {
        colorIncomingTCP = kDefaultIncomingTCP;
        colorOutgoingTCP = kDefaultOutgoingTCP;
        colorIncomingUDP = kDefaultIncomingUDP;
        colorOutgoingUDP = kDefaultOutgoingUDP;
        currentColor = MakeRgb(1, 2, 3);
    }
};

TEST_F(ColorsTest, EachClassTakesItsColour) {
    for (auto [type, colour] : {std::pair{"incomingUDP", MakeRgb(192, 64, 0)},
                                {"outgoingUDP", MakeRgb(255, 128, 0)},
                                {"incomingTCP", MakeRgb(0, 128, 0)},
                                {"outgoingTCP", MakeRgb(0, 255, 0)}}) {
        SetPacketColor(type);
        EXPECT_EQ(currentColor, colour) << type;
    }
}

TEST_F(ColorsTest, OtherTextsLeaveTheColourAlone) {
    for (const char* text : {"IncomingTCP", "incomingtcp", "incomingTCP ", "", "tcp", "ICMP"}) {
        SetPacketColor(text);
        EXPECT_EQ(currentColor, MakeRgb(1, 2, 3)) << '"' << text << '"';
    }
}
}  // namespace
}  // namespace lumeno
