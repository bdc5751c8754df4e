#include "packet/Colors.h"

#include <gtest/gtest.h>

namespace lumeno {
namespace {

// Each class takes its colour (the intake's test); a near miss (case, a trailing space) or
// an unknown class must leave the colour as it was.
TEST(Colors, OtherTextsLeaveTheColourAlone) {
    SetPacketColor("outgoingUDP");
    for (const char* other : {"IncomingTCP", "incomingTCP ", "", "ICMP"}) {
        SetPacketColor(other);
        EXPECT_EQ(currentColor, colorOutgoingUDP) << '"' << other << '"';
    }
}

}  // namespace
}  // namespace lumeno
