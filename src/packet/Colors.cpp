#include "packet/Colors.h"

#include "packet/PacketRecord.h"

namespace lumeno {

Rgb colorIncomingTCP = kDefaultIncomingTCP;
Rgb colorOutgoingTCP = kDefaultOutgoingTCP;
Rgb colorIncomingUDP = kDefaultIncomingUDP;
Rgb colorOutgoingUDP = kDefaultOutgoingUDP;
Rgb colorBackground = kDefaultBackground;
thread_local Rgb currentColor = MakeRgb(0, 0, 0);

void SetPacketColor(std::string_view transportType) {
    if (transportType == kIncomingUDP) {
        currentColor = colorIncomingUDP;
    } else if (transportType == kOutgoingUDP) {
        currentColor = colorOutgoingUDP;
    } else if (transportType == kIncomingTCP) {
        currentColor = colorIncomingTCP;
    } else if (transportType == kOutgoingTCP) {
        currentColor = colorOutgoingTCP;
    }
}

}  // namespace lumeno
