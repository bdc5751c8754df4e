#include "capture/Decoder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <tuple>

#include "capture/CaptureTestSupport.h"
#include "packet/Library.h"

namespace lumeno {
namespace {

using test::Bytes;
using test::Ipv4;
using test::Sll;
using test::Sll2;

constexpr std::size_t kNever = SIZE_MAX;

// A frame, the shortest prefix of it that is TCP or UDP (kind), and the MACs it then has
// (2: both, 1: the source only, 0: none).
struct Cut {
    const char* what;
    int linkType;
    Bytes frame;
    std::size_t from;
    int macs = 0;
    int kind = kProtocolTCP;
};

// Cuts each frame at every byte from the whole frame down, each prefix in a heap block of
// exactly its size (so the address sanitizer sees any over-read), and decodes it into one
// reused result: the packet's bytes are the prefix, and it is the datagram from source to
// destination, ports 80 to 1025, exactly from the given prefix on; before, another protocol
// with no address, port or MAC, nothing of the previous, longer frame's result left behind.
void DecodeEveryCut(const std::vector<Cut>& cuts, const char* source, const char* destination) {
    for (const Cut& c : cuts) {
        SCOPED_TRACE(c.what);
        DecodedPacket p;
        for (std::size_t n = c.frame.size() + 1; n-- > 0;) {
            SCOPED_TRACE(testing::Message() << "cut at " << n);
            auto cut = std::make_unique<std::uint8_t[]>(n ? n : 1);
            std::copy_n(c.frame.begin(), n, cut.get());
            DecodeFrame(c.linkType, std::span<const std::uint8_t>(cut.get(), n),
                        static_cast<std::uint32_t>(c.frame.size()), p);
            EXPECT_TRUE(p.data.data() == cut.get() && p.data.size() == n && p.dataLength == int(n));
            const bool decoded = n >= c.from;
            EXPECT_EQ(p.protocolKind, decoded ? c.kind : kProtocolOther);
            EXPECT_EQ(p.sourceIP.view(), decoded ? source : "");
            EXPECT_EQ(p.destinationIP.view(), decoded ? destination : "");
            EXPECT_EQ(p.sourcePort, decoded ? 80 : 0);
            EXPECT_EQ(p.destinationPort, decoded ? 1025 : 0);
            if (decoded || n < 14) {  // no link header with addresses is shorter
                EXPECT_EQ(p.sourceMAC.view(), decoded && c.macs > 0 ? "00:1a:2b:3c:4d:5e" : "");
                EXPECT_EQ(p.destinationMAC.view(),
                          decoded && c.macs > 1 ? "aa:bb:cc:dd:ee:ff" : "");
            }
        }
    }
}

// IPv4 on every link layer: frames of the wrong protocol, or whose header gives no readable
// ports, are never TCP; odd but valid headers still give their ports.
TEST(Decoder, EveryFrameTruncatedAtEveryByte) {
    Bytes longHeader = Ipv4();
    longHeader[0] = 0x4F;  // a 60-byte header claimed, 32 bytes captured
    DecodeEveryCut(
        {
            {"Ethernet", linktype::kEthernet, test::Ethernet(Ipv4()), 38, 2},
            {"each VLAN tag, stacked", linktype::kEthernet,
             test::Ethernet(Ipv4(), {0x88A8, 0x9100, 0x8100}), 50, 2},
            {"cooked", linktype::kLinuxSll, Sll(Ipv4()), 40, 1},
            // An address that is not six bytes is no MAC; a 16-bit length of 0x0106 is not 6.
            {"cooked, no MAC", linktype::kLinuxSll, Sll(Ipv4(), 0x0106), 40},
            {"cooked v2", linktype::kLinuxSll2, Sll2(Ipv4()), 44, 1},
            {"cooked v2, no MAC", linktype::kLinuxSll2, Sll2(Ipv4(), 0), 44},
            {"raw", linktype::kRaw, Ipv4(), 24},
            {"BSD loopback, little-endian", linktype::kNull, test::Behind({2, 0, 0, 0}, Ipv4()),
             28},
            {"version 6 as IPv4", linktype::kEthernet, test::Ethernet(Ipv4({.version = 6})),
             kNever},
            {"unknown link type", -1, test::Ethernet(Ipv4()), kNever},
            {"ICMP", linktype::kRaw, Ipv4({.protocol = 1}), kNever},
            {"IHL 4", linktype::kRaw, Ipv4({.ihl = 4}), kNever},
            {"IHL beyond the capture", linktype::kRaw, longHeader, kNever},
            {"ports past the total length", linktype::kRaw, Ipv4({.totalLength = 23}), kNever},
            {"later fragment", linktype::kRaw, Ipv4({.fragment = 0x0001}), kNever},
            {"IHL 15: the ports follow the options", linktype::kRaw, Ipv4({.ihl = 15}), 64},
            {"total length beyond the capture", linktype::kRaw, Ipv4({.totalLength = 60000}), 24},
            {"total length 0, as offload leaves it", linktype::kRaw, Ipv4({.totalLength = 0}), 24},
            {"first fragment, don't fragment", linktype::kRaw, Ipv4({.fragment = 0x6000}), 24},
        },
        "10.0.0.1", "192.168.1.101");
}

// The same for IPv6 on every link layer, behind extension-header chains: the frame is the
// datagram's TCP or UDP (kind) exactly when the prefix holds the bytes up to both ports and
// nothing in the chain ends it. Later fragments, ESP, "no next header", unknown headers,
// tunnels and over-long chains are another protocol; the payload length bounds the
// datagram as the IPv4 total length does.
TEST(Decoder, EveryIPv6FrameTruncatedAtEveryByte) {
    using test::Authentication;
    using test::Fragment;
    using test::Ipv6;
    using test::Options;
    const Bytes v6 = Ipv6();
    const auto loopback = [&](std::uint32_t family, bool big) {
        Bytes head(4, 0);
        for (int i = 0; i < 4; ++i) head[big ? 3 - i : i] = std::uint8_t(family >> (8 * i));
        return test::Behind(head, v6);
    };
    const std::vector<test::Extension> chain = {Options(0, 0), Options(43, 2), Options(60, 1),
                                                Fragment(0, true), Authentication(1)};
    const std::vector<test::Extension> sixteen(16, Options(60)), seventeen(17, Options(60));
    DecodeEveryCut(
        {
            {"Ethernet", linktype::kEthernet, test::Ethernet(v6, {}, 0x86DD), 58, 2},
            {"stacked VLAN tags", linktype::kEthernet, test::Ethernet(v6, {0x88A8, 0x8100}, 0x86DD),
             66, 2},
            {"cooked", linktype::kLinuxSll, Sll(v6, 6, 0x86DD), 60, 1},
            {"cooked v2", linktype::kLinuxSll2, Sll2(v6, 6, 0x86DD), 64, 1},
            {"raw, by the version", linktype::kRaw, v6, 44},
            {"raw (OpenBSD)", linktype::kRawOpenBSD, v6, 44},
            {"raw (LINKTYPE_RAW)", linktype::kRawLinktype, v6, 44},
            {"DLT_IPV6", linktype::kIPv6, v6, 44},
            {"DLT_IPV4 holds no IPv6", linktype::kIPv4, v6, kNever},
            {"DLT_IPV6 holds no IPv4", linktype::kIPv6, Ipv4(), kNever},
            {"BSD loopback 10", linktype::kNull, loopback(10, false), 48},
            {"BSD loopback 24, big-endian", linktype::kNull, loopback(24, true), 48},
            {"BSD loopback 2 holds no IPv6", linktype::kNull, loopback(2, false), kNever},
            {"BSD loopback 23", linktype::kNull, loopback(23, false), kNever},
            {"version 4 under 0x86DD", linktype::kEthernet, test::Ethernet(Ipv4(), {}, 0x86DD),
             kNever},
            {"version 6 under 0x0800", linktype::kEthernet, test::Ethernet(v6), kNever},
            {"UDP", linktype::kRaw, Ipv6({.next = 17}), 44, 0, kProtocolUDP},
            {"every kind of extension header", linktype::kRaw, Ipv6({.extensions = chain}),
             40 + 68 + 4},
            {"mobility, HIP, shim6, experimental", linktype::kRaw,
             Ipv6({.next = 17,
                   .extensions = {Options(135, 1), Options(139), Options(140), Options(253),
                                  Options(254)}}),
             40 + 48 + 4, 0, kProtocolUDP},
            {"sixteen headers", linktype::kRaw, Ipv6({.extensions = sixteen}), 40 + 128 + 4},
            {"seventeen headers", linktype::kRaw, Ipv6({.extensions = seventeen}), kNever},
            {"first fragment", linktype::kRaw, Ipv6({.extensions = {Fragment(0, true)}}), 52},
            {"later fragment", linktype::kRaw, Ipv6({.extensions = {Fragment(1, false)}}), kNever},
            {"last fragment's top offset bit", linktype::kRaw,
             Ipv6({.extensions = {Fragment(0x1000, false)}}), kNever},
            {"ESP", linktype::kRaw, Ipv6({.next = 50}), kNever},
            {"no next header", linktype::kRaw, Ipv6({.next = 59}), kNever},
            {"an unknown header", linktype::kRaw, Ipv6({.extensions = {Options(99)}}), kNever},
            {"IPv4 in IPv6", linktype::kRaw, test::Behind(Ipv6({.next = 4, .payload = 0}), Ipv4()),
             kNever},
            {"IPv6 in IPv4", linktype::kRaw, test::Behind(Ipv4({.protocol = 41, .payload = 0}), v6),
             kNever},
            {"payload length short of the ports", linktype::kRaw, Ipv6({.payloadLength = 3}),
             kNever},
            {"payload length just covering the ports", linktype::kRaw, Ipv6({.payloadLength = 4}),
             44},
            {"payload length ending inside the chain", linktype::kRaw,
             Ipv6({.extensions = {Options(0, 1)}, .payloadLength = 12}), kNever},
            {"payload length 0, a jumbogram", linktype::kRaw,
             Ipv6({.extensions = {Options(0)}, .payloadLength = 0}), 52},
        },
        "2001:db8::1", "2001:db8:0:1::65");
}

// Address text by RFC 5952 (lower case, no leading zeros, the first longest run of zero
// groups as "::", IPv4-mapped addresses dotted): the C library's text for every pattern of
// zero groups, read back to the same bytes; a table for what the C library prints otherwise.
TEST(Decoder, IPv6TextIsCanonical) {
    const std::pair<std::array<std::uint16_t, 8>, const char*> cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, "::"},
        {{0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
        {{0, 0, 0, 0, 0, 0xffff, 0xc000, 0x0201}, "::ffff:192.0.2.1"},
        {{0, 0, 0, 0, 0, 0xffff, 0, 0}, "::ffff:0.0.0.0"},
        {{0, 0, 0, 0, 0xffff, 0, 0xc000, 0x0201}, "::ffff:0:c000:201"},  // not mapped
        {{0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff},
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},  // the longest, 39 characters
    };
    const auto bytesOf = [](const std::array<std::uint16_t, 8>& groups) {
        std::array<std::uint8_t, 16> a;
        for (int i = 0; i < 8; ++i) a[2 * i] = groups[i] >> 8, a[2 * i + 1] = groups[i] & 0xFF;
        return a;
    };
    IpText text;
    for (const auto& [groups, expected] : cases) {
        FormatIPv6(bytesOf(groups), text);
        EXPECT_EQ(text.view(), expected);
    }
    // Every pattern of zero and non-zero groups, the non-zero ones of one to four digits.
    for (unsigned pattern = 0; pattern < 256; ++pattern) {
        std::array<std::uint16_t, 8> groups;
        for (int i = 0; i < 8; ++i) {
            groups[i] = (pattern >> i) & 1 ? std::uint16_t(0x1 << (4 * ((pattern + i) % 4))) : 0;
        }
        const std::array<std::uint8_t, 16> address = bytesOf(groups);
        FormatIPv6(address, text);
        std::array<std::uint8_t, 16> back{};
        EXPECT_TRUE(ParseIPv6(text, back) && back == address) << text.view();
        if ((pattern & 0x3F) == 0) continue;  // the C library prints ::a.b.c.d here
        char reference[INET6_ADDRSTRLEN];
        ::inet_ntop(AF_INET6, address.data(), reference, sizeof reference);
        EXPECT_EQ(text.view(), reference);
    }
}

// The IPv4 and MAC texts, written from tables of each byte's text: the C library's for every
// byte value in every place.
TEST(Decoder, IPv4AndMacTextsAreTheCLibrarys) {
    IpText ip;
    MacText mac;
    char reference[INET_ADDRSTRLEN];
    for (std::uint32_t v = 0; v < 256; ++v) {
        for (const std::uint32_t address :
             {v << 24 | 0x000A00FF, 0x0A00FF00 | v, v * 0x01010101u, (v << 16) | (v ^ 0x5A) << 8}) {
            const std::uint32_t network = htonl(address);
            ::inet_ntop(AF_INET, &network, reference, sizeof reference);
            FormatIPv4(address, ip);
            EXPECT_EQ(ip.view(), reference);
        }
        const std::array<std::uint8_t, 6> bytes = {
            std::uint8_t(v), 0x0F, 0xA0, std::uint8_t(~v), std::uint8_t(v * 7), 0};
        char macReference[18];
        std::snprintf(macReference, sizeof macReference, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0],
                      bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]);
        FormatMac(bytes, mac);
        EXPECT_EQ(mac.view(), macReference);
    }
}

}  // namespace
}  // namespace lumeno
