#include "capture/Decoder.h"

#include <limits>

#include "packet/ByteReader.h"

namespace lumeno {

namespace {

constexpr std::uint16_t kEtherIPv4 = 0x0800;
constexpr std::uint16_t kEtherVlan = 0x8100;
constexpr std::uint16_t kEtherQinQ = 0x88A8;
constexpr std::uint16_t kEtherQinQOld = 0x9100;
constexpr std::uint32_t kFamilyInet = 2;  // AF_INET on every system that writes these
constexpr std::uint8_t kIpTCP = 6;
constexpr std::uint8_t kIpUDP = 17;

bool IsVlanTag(std::uint16_t etherType) {
    return etherType == kEtherVlan || etherType == kEtherQinQ || etherType == kEtherQinQOld;
}

// Decodes the IPv4 header at offset and its TCP or UDP ports.
void DecodeIPv4(const ByteReader& frame, std::size_t offset, DecodedPacket& out) {
    std::uint8_t versionIhl = 0;
    if (!frame.u8(offset, versionIhl) || (versionIhl >> 4) != 4) return;
    const std::size_t headerLen = std::size_t{versionIhl & 0x0Fu} * 4;
    if (headerLen < 20 || !frame.has(offset, headerLen)) return;

    std::uint16_t totalLen = 0, fragment = 0;
    std::uint8_t protocol = 0;
    std::uint32_t source = 0, destination = 0;
    frame.u16be(offset + 2, totalLen);
    frame.u16be(offset + 6, fragment);
    frame.u8(offset + 9, protocol);
    frame.u32be(offset + 12, source);
    frame.u32be(offset + 16, destination);

    if ((fragment & 0x1FFF) != 0) return;  // a later fragment has no ports
    if (protocol != kIpTCP && protocol != kIpUDP) return;

    // The datagram ends where its total length says, or at the end of the capture if that
    // comes first. A total length of 0 is what segmentation offload leaves behind: the
    // capture then is the datagram. Anything else below the header length is malformed.
    ByteReader datagram = frame;
    if (totalLen != 0) {
        if (totalLen < headerLen) return;
        datagram = frame.prefix(offset + totalLen);
    }
    std::uint16_t sourcePort = 0, destinationPort = 0;
    if (!datagram.u16be(offset + headerLen, sourcePort) ||
        !datagram.u16be(offset + headerLen + 2, destinationPort)) {
        return;
    }

    out.protocolKind = protocol == kIpTCP ? kProtocolTCP : kProtocolUDP;
    FormatIPv4(source, out.sourceIP);
    FormatIPv4(destination, out.destinationIP);
    out.sourcePort = sourcePort;
    out.destinationPort = destinationPort;
}

// Follows an EtherType, through any stack of VLAN tags behind the header, to IPv4.
void DecodeEtherType(const ByteReader& frame, std::size_t typeOffset, std::size_t offset,
                     DecodedPacket& out) {
    std::uint16_t etherType = 0;
    if (!frame.u16be(typeOffset, etherType)) return;
    while (IsVlanTag(etherType)) {
        // A tag is two bytes of tag control and the next EtherType.
        if (!frame.u16be(offset + 2, etherType)) return;
        offset += 4;
    }
    if (etherType == kEtherIPv4) DecodeIPv4(frame, offset, out);
}

void SetMac(const ByteReader& frame, std::size_t offset, MacText& out) {
    std::span<const std::uint8_t> mac;
    if (frame.bytes(offset, 6, mac)) FormatMac(mac.first<6>(), out);
}

void DecodeEthernet(const ByteReader& frame, DecodedPacket& out) {
    if (!frame.has(0, 14)) return;
    SetMac(frame, 0, out.destinationMAC);
    SetMac(frame, 6, out.sourceMAC);
    DecodeEtherType(frame, 12, 14, out);
}

// Linux cooked capture carries one address, the sender's.
void DecodeCooked(const ByteReader& frame, unsigned addrLen, std::size_t addrOffset,
                  std::size_t typeOffset, std::size_t headerLen, DecodedPacket& out) {
    if (!frame.has(0, headerLen)) return;
    if (addrLen == 6) SetMac(frame, addrOffset, out.sourceMAC);
    DecodeEtherType(frame, typeOffset, headerLen, out);
}

void DecodeLoopback(const ByteReader& frame, DecodedPacket& out) {
    std::uint32_t big = 0, little = 0;
    if (!frame.u32be(0, big) || !frame.u32le(0, little)) return;
    if (big == kFamilyInet || little == kFamilyInet) DecodeIPv4(frame, 4, out);
}

void AppendDecimal(unsigned value, IpText& out) {
    if (value >= 100) out.push_back(static_cast<char>('0' + value / 100));
    if (value >= 10) out.push_back(static_cast<char>('0' + value / 10 % 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

}  // namespace

void FormatMac(std::span<const std::uint8_t, 6> mac, MacText& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.clear();
    for (std::size_t i = 0; i < 6; ++i) {
        if (i) out.push_back(':');
        out.push_back(kHex[mac[i] >> 4]);
        out.push_back(kHex[mac[i] & 0x0F]);
    }
}

void FormatIPv4(std::uint32_t address, IpText& out) {
    out.clear();
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24) out.push_back('.');
        AppendDecimal((address >> shift) & 0xFF, out);
    }
}

void DecodeFrame(int linkType, std::span<const std::uint8_t> bytes, std::uint32_t wireLength,
                 DecodedPacket& out) {
    out.dataLength = bytes.size() > std::size_t{std::numeric_limits<std::int32_t>::max()}
                         ? std::numeric_limits<std::int32_t>::max()
                         : static_cast<std::int32_t>(bytes.size());
    out.data = bytes;
    out.wireLength = wireLength;
    out.protocolKind = kProtocolOther;
    out.sourceMAC.clear();
    out.destinationMAC.clear();
    out.sourceIP.clear();
    out.destinationIP.clear();
    out.sourcePort = 0;
    out.destinationPort = 0;

    const ByteReader frame(bytes);
    switch (linkType) {
        case linktype::kEthernet:
            DecodeEthernet(frame, out);
            break;
        case linktype::kLinuxSll: {
            // type(2) ARPHRD(2) address length(2) address(8) protocol(2)
            std::uint16_t addrLen = 0;
            frame.u16be(4, addrLen);
            DecodeCooked(frame, addrLen, 6, 14, 16, out);
            break;
        }
        case linktype::kLinuxSll2: {
            // protocol(2) reserved(2) ifindex(4) ARPHRD(2) type(1) address length(1) address(8)
            std::uint8_t addrLen = 0;
            frame.u8(11, addrLen);
            DecodeCooked(frame, addrLen, 12, 0, 20, out);
            break;
        }
        case linktype::kRaw:
        case linktype::kRawOpenBSD:
        case linktype::kRawLinktype:
        case linktype::kIPv4:
            DecodeIPv4(frame, 0, out);
            break;
        case linktype::kNull:
        case linktype::kLoop:
            DecodeLoopback(frame, out);
            break;
        default:
            break;
    }
    if (out.protocolKind == kProtocolOther) {
        // Keep "another protocol" free of half-decoded fields.
        out.sourcePort = out.destinationPort = 0;
    }
}

bool DecodesLinkType(int linkType) {
    switch (linkType) {
        case linktype::kEthernet:
        case linktype::kLinuxSll:
        case linktype::kLinuxSll2:
        case linktype::kRaw:
        case linktype::kRawOpenBSD:
        case linktype::kRawLinktype:
        case linktype::kIPv4:
        case linktype::kNull:
        case linktype::kLoop:
            return true;
        default:
            return false;
    }
}

}  // namespace lumeno
