#include "capture/Decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::Bytes;
using test::Ipv4;

// A link-layer header in front of the datagram.
Bytes Wrap(Bytes header, const Bytes& payload = Ipv4()) {
    header.insert(header.end(), payload.begin(), payload.end());
    return header;
}

// Linux cooked captures, version 1 and 2, sent by 00:1a:2b:3c:4d:5e.
Bytes Sll(std::uint16_t addrLen, std::uint16_t protocol = 0x0800) {
    return Wrap({0, 0, 0, 1, std::uint8_t(addrLen >> 8), std::uint8_t(addrLen), 0x00, 0x1A, 0x2B,
                 0x3C, 0x4D, 0x5E, 0, 0, std::uint8_t(protocol >> 8), std::uint8_t(protocol)});
}
Bytes Sll2(std::uint8_t addrLen) {
    return Wrap(
        {0x08, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, addrLen, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0, 0});
}

// Every frame, cut at every byte from the whole frame down, decoded into one reused result.
// Nothing is read past the cut (each prefix lives in a heap block of exactly its size, so
// the address sanitizer sees any over-read); the frame is the default TCP datagram, with
// the MACs its link layer carries, exactly when the prefix holds the bytes up to both ports,
// and otherwise another protocol with no address or port, nothing of the previous, longer
// frame's result left behind. Frames of the wrong protocol, or whose IPv4 header gives no
// readable ports, are never TCP; odd but valid headers still give their ports.
TEST(Decoder, EveryFrameTruncatedAtEveryByte) {
    constexpr std::size_t kNever = SIZE_MAX;
    Bytes longHeader = Ipv4();
    longHeader[0] = 0x4F;  // a 60-byte header claimed, 32 bytes captured
    // What, the link type, the frame, the shortest prefix that is TCP and the MACs it then
    // has (2: both, 1: the source only, 0: none).
    const std::tuple<const char*, int, Bytes, std::size_t, int> cases[] = {
        {"Ethernet", linktype::kEthernet, test::Ethernet(Ipv4()), 38, 2},
        {"each VLAN tag, stacked", linktype::kEthernet,
         test::Ethernet(Ipv4(), {0x88A8, 0x9100, 0x8100}), 50, 2},
        {"cooked", linktype::kLinuxSll, Sll(6), 40, 1},
        // An address that is not six bytes is no MAC; a 16-bit length of 0x0106 is not 6.
        {"cooked, no MAC", linktype::kLinuxSll, Sll(0x0106), 40, 0},
        {"cooked v2", linktype::kLinuxSll2, Sll2(6), 44, 1},
        {"cooked v2, no MAC", linktype::kLinuxSll2, Sll2(0), 44, 0},
        {"raw", linktype::kRaw, Ipv4(), 24, 0},
        {"raw (OpenBSD)", linktype::kRawOpenBSD, Ipv4(), 24, 0},
        {"BSD loopback, little-endian", linktype::kNull, Wrap({2, 0, 0, 0}), 28, 0},
        {"BSD loopback, big-endian", linktype::kLoop, Wrap({0, 0, 0, 2}), 28, 0},
        {"IPv6", linktype::kEthernet, test::Ethernet(Ipv4(), {}, 0x86DD), kNever, 0},
        {"version 6 as IPv4", linktype::kEthernet, test::Ethernet(Ipv4({.version = 6})), kNever, 0},
        {"cooked IPv6", linktype::kLinuxSll, Sll(6, 0x86DD), kNever, 0},
        {"BSD IPv6 (family 24)", linktype::kNull, Wrap({24, 0, 0, 0}), kNever, 0},
        {"unknown link type", -1, test::Ethernet(Ipv4()), kNever, 0},
        {"ICMP", linktype::kRaw, Ipv4({.protocol = 1}), kNever, 0},
        {"IHL 4", linktype::kRaw, Ipv4({.ihl = 4}), kNever, 0},
        {"IHL beyond the capture", linktype::kRaw, longHeader, kNever, 0},
        {"ports past the total length", linktype::kRaw, Ipv4({.totalLength = 23}), kNever, 0},
        {"later fragment", linktype::kRaw, Ipv4({.fragment = 0x0001}), kNever, 0},
        {"fragment offset's top bit", linktype::kRaw, Ipv4({.fragment = 0x1000}), kNever, 0},
        {"IHL 15: the ports follow the options", linktype::kRaw, Ipv4({.ihl = 15}), 64, 0},
        {"total length beyond the capture", linktype::kRaw, Ipv4({.totalLength = 60000}), 24, 0},
        {"total length 0, as offload leaves it", linktype::kRaw, Ipv4({.totalLength = 0}), 24, 0},
        {"total length just covering the ports", linktype::kRaw, Ipv4({.totalLength = 24}), 24, 0},
        {"first fragment, don't fragment", linktype::kRaw, Ipv4({.fragment = 0x6000}), 24, 0},
    };
    DecodedPacket p;
    for (const auto& [what, linkType, frame, tcpFrom, macs] : cases) {
        for (std::size_t n = frame.size() + 1; n-- > 0;) {
            SCOPED_TRACE(testing::Message() << what << ", cut at " << n);
            auto cut = std::make_unique<std::uint8_t[]>(n ? n : 1);
            std::copy_n(frame.begin(), n, cut.get());
            DecodeFrame(linkType, std::span<const std::uint8_t>(cut.get(), n),
                        static_cast<std::uint32_t>(frame.size()), p);
            // The packet's bytes are the whole frame from its first byte.
            EXPECT_TRUE(p.data.data() == cut.get() && p.data.size() == n && p.dataLength == int(n));
            const bool tcp = n >= tcpFrom;
            EXPECT_EQ(p.protocolKind, tcp ? kProtocolTCP : kProtocolOther);
            EXPECT_EQ(p.sourceIP.view(), tcp ? "10.0.0.1" : "");
            EXPECT_EQ(p.destinationIP.view(), tcp ? "192.168.1.101" : "");
            EXPECT_EQ(p.sourcePort, tcp ? 80 : 0);
            EXPECT_EQ(p.destinationPort, tcp ? 1025 : 0);
            if (tcp || n < 14) {  // no link header with addresses is shorter
                EXPECT_EQ(p.sourceMAC.view(), tcp && macs > 0 ? "00:1a:2b:3c:4d:5e" : "");
                EXPECT_EQ(p.destinationMAC.view(), tcp && macs > 1 ? "aa:bb:cc:dd:ee:ff" : "");
            }
        }
    }
}

}  // namespace
}  // namespace lumeno
