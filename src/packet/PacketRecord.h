#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace lumeno {

// The four traffic classes; the texts are the ones the views compare and print.
inline constexpr std::string_view kIncomingTCP = "incomingTCP";
inline constexpr std::string_view kOutgoingTCP = "outgoingTCP";
inline constexpr std::string_view kIncomingUDP = "incomingUDP";
inline constexpr std::string_view kOutgoingUDP = "outgoingUDP";

// The largest packetLen a record can carry; longer frames are cut to it.
inline constexpr std::int32_t kMaxPacketLen = 32767;

// One accepted packet, oriented by the monitored host: "source" is always the external
// end, "dst" the internal (monitored) end. It lives for one packet event only; its texts
// and bytes point into the decoded frame, which outlives the fan-out.
struct PacketRecord {
    std::string_view sourceMAC;
    std::string_view sourceIP;
    std::int32_t sourcePort = 0;
    std::string_view dstMAC;
    std::string_view dstIP;
    std::int32_t dstPort = 0;
    std::string_view transportType;
    std::int16_t packetLen = 0;
    std::span<const std::uint8_t> packetTxt;  // packetLen bytes
};

}  // namespace lumeno
