#include "capture/Intake.h"

#include <algorithm>

#include "packet/Colors.h"

namespace lumeno {

std::optional<PacketRecord> ClassifyPacket(const DecodedPacket& packet, std::string_view monitor) {
    std::string_view incoming, outgoing;
    if (packet.protocolKind == kProtocolTCP) {
        incoming = kIncomingTCP;
        outgoing = kOutgoingTCP;
    } else if (packet.protocolKind == kProtocolUDP) {
        incoming = kIncomingUDP;
        outgoing = kOutgoingUDP;
    } else {
        return std::nullopt;
    }

    PacketRecord record;
    if (MatchesMonitor(packet.destinationIP, monitor)) {
        record.sourceMAC = packet.sourceMAC;
        record.sourceIP = packet.sourceIP;
        record.sourcePort = packet.sourcePort;
        record.dstMAC = packet.destinationMAC;
        record.dstIP = packet.destinationIP;
        record.dstPort = packet.destinationPort;
        record.transportType = incoming;
    } else if (MatchesMonitor(packet.sourceIP, monitor)) {
        record.sourceMAC = packet.destinationMAC;
        record.sourceIP = packet.destinationIP;
        record.sourcePort = packet.destinationPort;
        record.dstMAC = packet.sourceMAC;
        record.dstIP = packet.sourceIP;
        record.dstPort = packet.sourcePort;
        record.transportType = outgoing;
    } else {
        return std::nullopt;
    }

    // Frames longer than a record can describe are cut, not dropped, so they still show.
    const std::int32_t length = std::clamp<std::int32_t>(packet.dataLength, 0, kMaxPacketLen);
    const std::size_t available = std::min<std::size_t>(length, packet.data.size());
    record.packetLen = static_cast<std::int16_t>(available);
    record.packetTxt = packet.data.first(available);
    return record;
}

bool IntakePacket(const DecodedPacket& packet, std::string_view monitor, RecordSink& sink) {
    const auto record = ClassifyPacket(packet, monitor);
    if (!record) return false;
    SetPacketColor(record->transportType);
    if (record->sourceIP.empty() || record->dstIP.empty()) return false;
    sink.PlotPacket(*record);
    return true;
}

}  // namespace lumeno
