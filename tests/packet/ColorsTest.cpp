#include "packet/Colors.h"

#include <gtest/gtest.h>

namespace lumeno {
namespace {

// A class must take its own colour, not another's; a near miss (case, a trailing space) or
// an unknown class must leave the colour as it was.
TEST(Colors, EachClassTakesItsOwnColourAndOtherTextsNone) {
    for (auto [type, colour] : {std::pair{"incomingUDP", kDefaultIncomingUDP},
                                {"outgoingUDP", kDefaultOutgoingUDP},
                                {"incomingTCP", kDefaultIncomingTCP},
                                {"outgoingTCP", kDefaultOutgoingTCP}}) {
        SetPacketColor(type);
        EXPECT_EQ(currentColor, colour) << type;
        for (const char* other : {"IncomingTCP", "incomingTCP ", "", "ICMP"}) {
            SetPacketColor(other);
            EXPECT_EQ(currentColor, colour) << '"' << other << '"';
        }
    }
}

}  // namespace
}  // namespace lumeno
