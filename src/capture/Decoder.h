#pragma once

#include <cstdint>
#include <span>

#include "packet/FixedText.h"

namespace lumeno {

// Protocol kinds as the packet event reports them.
inline constexpr std::int32_t kProtocolOther = 0;
inline constexpr std::int32_t kProtocolUDP = 3;
inline constexpr std::int32_t kProtocolTCP = 4;

// Link-layer types the decoder understands (libpcap's DLT_ values).
namespace linktype {
inline constexpr int kNull = 0;           // BSD loopback, family in host byte order
inline constexpr int kEthernet = 1;       // DLT_EN10MB
inline constexpr int kRaw = 12;           // DLT_RAW on Linux
inline constexpr int kRawOpenBSD = 14;    // DLT_RAW where it is 14
inline constexpr int kRawLinktype = 101;  // LINKTYPE_RAW, should a file report it unmapped
inline constexpr int kLoop = 108;         // OpenBSD loopback, family in network byte order
inline constexpr int kLinuxSll = 113;
inline constexpr int kIPv4 = 228;
inline constexpr int kIPv6 = 229;
inline constexpr int kLinuxSll2 = 276;
}  // namespace linktype

// The properties of one captured frame, as the capture control hands them to the intake.
// data points at the captured bytes, which stay valid for the packet event only.
struct DecodedPacket {
    std::int32_t dataLength = 0;         // captured length
    std::span<const std::uint8_t> data;  // the whole captured frame from its first byte
    std::int32_t protocolKind = kProtocolOther;
    MacText sourceMAC;  // empty where the link layer carries none
    MacText destinationMAC;
    IpText sourceIP;  // dotted decimal or RFC 5952 text; set for TCP and UDP only
    IpText destinationIP;
    std::int32_t sourcePort = 0;
    std::int32_t destinationPort = 0;
    std::uint32_t wireLength = 0;  // length on the wire, for statistics only
};

// Decodes a frame of the given link type. Anything that is not a whole IPv4 or IPv6 header
// (with its extension headers) and both TCP or UDP ports inside the captured bytes comes
// out as kProtocolOther: a short or malformed frame is never guessed at. Tunnels are not
// entered: the outermost IP header decides.
void DecodeFrame(int linkType, std::span<const std::uint8_t> bytes, std::uint32_t wireLength,
                 DecodedPacket& out);
// Whether DecodeFrame reads frames of this link type at all.
bool DecodesLinkType(int linkType);

// Text forms used by the decoder, exposed for tests and tools.
void FormatMac(std::span<const std::uint8_t, 6> mac, MacText& out);
void FormatIPv4(std::uint32_t address, IpText& out);
// RFC 5952: lower case, no leading zeros, the longest run of two or more zero groups
// (the first on a tie) as "::", and IPv4-mapped addresses as ::ffff:a.b.c.d.
void FormatIPv6(std::span<const std::uint8_t, 16> address, IpText& out);

}  // namespace lumeno
