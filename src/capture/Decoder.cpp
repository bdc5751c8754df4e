#include "capture/Decoder.h"

#include <cstring>
#include <limits>

#include "packet/ByteReader.h"

namespace lumeno {

namespace {

constexpr std::uint16_t kEtherIPv4 = 0x0800;
constexpr std::uint16_t kEtherIPv6 = 0x86DD;
constexpr std::uint16_t kEtherVlan = 0x8100;
constexpr std::uint16_t kEtherQinQ = 0x88A8;
constexpr std::uint16_t kEtherQinQOld = 0x9100;
constexpr std::uint32_t kFamilyInet = 2;  // AF_INET on every system that writes these
// AF_INET6 differs: Linux 10, NetBSD and OpenBSD 24, FreeBSD and DragonFly 28, macOS 30.
constexpr std::uint32_t kFamiliesInet6[] = {10, 24, 28, 30};
constexpr std::uint8_t kIpTCP = 6;
constexpr std::uint8_t kIpUDP = 17;

// IPv6 next-header values the chain walk knows.
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kAuthentication = 51;
constexpr std::uint8_t kDestinationOptions = 60;
constexpr std::uint8_t kMobility = 135;
constexpr std::uint8_t kHostIdentity = 139;
constexpr std::uint8_t kShim6 = 140;
constexpr std::uint8_t kExperimental1 = 253;
constexpr std::uint8_t kExperimental2 = 254;
constexpr std::size_t kIPv6HeaderLen = 40;
// Real chains hold a handful of headers; a crafted one longer than this is given up on
// rather than walked through a whole jumbo frame eight bytes at a time.
constexpr int kMaxExtensionHeaders = 16;

bool IsVlanTag(std::uint16_t etherType) {
    return etherType == kEtherVlan || etherType == kEtherQinQ || etherType == kEtherQinQOld;
}

// Decodes the IPv4 header at offset and its TCP or UDP ports.
// The ports of a TCP or UDP header at offset, with the protocol; nothing is set when the
// capture ends before them.
bool TakePorts(const ByteReader& datagram, std::size_t offset, std::uint8_t protocol,
               DecodedPacket& out) {
    std::uint16_t sourcePort = 0, destinationPort = 0;
    if (!datagram.u16be(offset, sourcePort) || !datagram.u16be(offset + 2, destinationPort)) {
        return false;
    }
    out.protocolKind = protocol == kIpTCP ? kProtocolTCP : kProtocolUDP;
    out.sourcePort = sourcePort;
    out.destinationPort = destinationPort;
    return true;
}

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
    if (!TakePorts(datagram, offset + headerLen, protocol, out)) return;
    FormatIPv4(source, out.sourceIP);
    FormatIPv4(destination, out.destinationIP);
}

// Headers whose length is their second byte in 8-byte units, not counting the first 8.
bool HasStandardLength(std::uint8_t header) {
    switch (header) {
        case kHopByHop:
        case kRouting:
        case kDestinationOptions:
        case kMobility:
        case kHostIdentity:
        case kShim6:
        case kExperimental1:
        case kExperimental2:
            return true;
        default:
            return false;
    }
}

// Decodes the IPv6 header at offset, walks its extension headers and takes the TCP or UDP
// ports behind them. ESP, "no next header" and anything unknown end the walk as another
// protocol, as does a fragment other than the first.
void DecodeIPv6(const ByteReader& frame, std::size_t offset, DecodedPacket& out) {
    std::uint8_t version = 0;
    if (!frame.u8(offset, version) || (version >> 4) != 6) return;
    std::uint16_t payloadLen = 0;
    std::uint8_t next = 0;
    std::span<const std::uint8_t> source, destination;
    if (!frame.u16be(offset + 4, payloadLen) || !frame.u8(offset + 6, next) ||
        !frame.bytes(offset + 8, 16, source) || !frame.bytes(offset + 24, 16, destination)) {
        return;
    }
    // As for IPv4's total length: the datagram ends where the payload length says, or at
    // the end of the capture if that comes first. A payload length of 0 is a jumbogram or
    // what segmentation offload leaves behind: the capture then is the datagram.
    const ByteReader datagram =
        payloadLen != 0 ? frame.prefix(offset + kIPv6HeaderLen + payloadLen) : frame;
    std::size_t at = offset + kIPv6HeaderLen;
    for (int headers = 0; next != kIpTCP && next != kIpUDP; ++headers) {
        if (headers == kMaxExtensionHeaders) return;
        std::uint8_t following = 0, length = 0;
        if (!datagram.u8(at, following) || !datagram.u8(at + 1, length)) return;
        if (HasStandardLength(next)) {
            at += (std::size_t{length} + 1) * 8;
        } else if (next == kFragment) {
            std::uint16_t offsetFlags = 0;
            if (!datagram.u16be(at + 2, offsetFlags)) return;
            if ((offsetFlags >> 3) != 0) return;  // a later fragment has no ports
            at += 8;
        } else if (next == kAuthentication) {
            at += (std::size_t{length} + 2) * 4;
        } else {
            return;
        }
        next = following;
    }
    if (!TakePorts(datagram, at, next, out)) return;
    FormatIPv6(source.first<16>(), out.sourceIP);
    FormatIPv6(destination.first<16>(), out.destinationIP);
}

// Raw IP: the version nibble says which.
void DecodeRawIP(const ByteReader& frame, DecodedPacket& out) {
    std::uint8_t version = 0;
    if (!frame.u8(0, version)) return;
    if ((version >> 4) == 6) {
        DecodeIPv6(frame, 0, out);
    } else {
        DecodeIPv4(frame, 0, out);
    }
}

// Follows an EtherType, through any stack of VLAN tags behind the header, to IPv4 or IPv6.
void DecodeEtherType(const ByteReader& frame, std::size_t typeOffset, std::size_t offset,
                     DecodedPacket& out) {
    std::uint16_t etherType = 0;
    if (!frame.u16be(typeOffset, etherType)) return;
    while (IsVlanTag(etherType)) {
        // A tag is two bytes of tag control and the next EtherType.
        if (!frame.u16be(offset + 2, etherType)) return;
        offset += 4;
    }
    if (etherType == kEtherIPv4) {
        DecodeIPv4(frame, offset, out);
    } else if (etherType == kEtherIPv6) {
        DecodeIPv6(frame, offset, out);
    }
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
    if (big == kFamilyInet || little == kFamilyInet) {
        DecodeIPv4(frame, 4, out);
        return;
    }
    for (std::uint32_t family : kFamiliesInet6) {
        if (big == family || little == family) {
            DecodeIPv6(frame, 4, out);
            return;
        }
    }
}

void AppendDecimal(unsigned value, IpText& out) {
    if (value >= 100) out.push_back(static_cast<char>('0' + value / 100));
    if (value >= 10) out.push_back(static_cast<char>('0' + value / 10 % 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

constexpr char kHexDigits[] = "0123456789abcdef";

// A group in hexadecimal without leading zeros.
void AppendGroup(unsigned group, IpText& out) {
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const unsigned digit = (group >> shift) & 0xF;
        started = started || digit != 0 || shift == 0;
        if (started) out.push_back(kHexDigits[digit]);
    }
}

void AppendDottedQuad(std::span<const std::uint8_t, 4> octets, IpText& out) {
    for (std::size_t i = 0; i < 4; ++i) {
        if (i) out.push_back('.');
        AppendDecimal(octets[i], out);
    }
}

}  // namespace

namespace {

// Every frame's two MACs and every IPv4 packet's two addresses are written: from tables of
// each byte's text, a few stores each.
struct ByteTexts {
    char hex[256][2];
    char decimal[256][4];  // the digits, then a dot
    std::uint8_t decimalLength[256];
};

constexpr ByteTexts MakeByteTexts() {
    ByteTexts t{};
    for (unsigned v = 0; v < 256; ++v) {
        t.hex[v][0] = kHexDigits[v >> 4];
        t.hex[v][1] = kHexDigits[v & 0x0F];
        unsigned n = 0;
        if (v >= 100) t.decimal[v][n++] = static_cast<char>('0' + v / 100);
        if (v >= 10) t.decimal[v][n++] = static_cast<char>('0' + v / 10 % 10);
        t.decimal[v][n++] = static_cast<char>('0' + v % 10);
        t.decimal[v][n] = '.';
        t.decimalLength[v] = static_cast<std::uint8_t>(n);
    }
    return t;
}

constexpr ByteTexts kByteTexts = MakeByteTexts();

}  // namespace

void FormatMac(std::span<const std::uint8_t, 6> mac, MacText& out) {
    char text[18] = "00:00:00:00:00:00";
    for (std::size_t i = 0; i < 6; ++i) std::memcpy(text + 3 * i, kByteTexts.hex[mac[i]], 2);
    out.assign({text, 17});
}

void FormatIPv4(std::uint32_t address, IpText& out) {
    char text[16];  // four texts of up to three digits and a dot, the last dot cut off
    std::size_t n = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned value = (address >> shift) & 0xFF;
        std::memcpy(text + n, kByteTexts.decimal[value], 4);
        n += kByteTexts.decimalLength[value] + 1u;
    }
    out.assign({text, n - 1});
}

void FormatIPv6(std::span<const std::uint8_t, 16> address, IpText& out) {
    unsigned groups[8];
    for (std::size_t i = 0; i < 8; ++i)
        groups[i] = (unsigned{address[2 * i]} << 8) | address[2 * i + 1];
    if (groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 && groups[4] == 0 &&
        groups[5] == 0xFFFF) {
        out.assign("::ffff:");
        AppendDottedQuad(address.last<4>(), out);
        return;
    }
    out.clear();
    // The longest run of zero groups, the first of equal ones; a single zero group stays.
    int bestStart = -1, bestLength = 1;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int end = i;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - i > bestLength) {
            bestStart = i;
            bestLength = end - i;
        }
        i = end;
    }
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            out.push_back(':');
            out.push_back(':');
            i += bestLength - 1;
            continue;
        }
        if (i != 0 && i != bestStart + bestLength) out.push_back(':');
        AppendGroup(groups[i], out);
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
            DecodeRawIP(frame, out);
            break;
        case linktype::kIPv4:
            DecodeIPv4(frame, 0, out);
            break;
        case linktype::kIPv6:
            DecodeIPv6(frame, 0, out);
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
        case linktype::kIPv6:
        case linktype::kNull:
        case linktype::kLoop:
            return true;
        default:
            return false;
    }
}

}  // namespace lumeno
