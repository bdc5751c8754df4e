#include "capture/Decoder.h"

#include <gtest/gtest.h>

#include <memory>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::Bytes;
using test::Ipv4;
using test::Ipv4Fields;

DecodedPacket Decode(int linkType, const Bytes& frame) {
    DecodedPacket p;
    DecodeFrame(linkType, frame, static_cast<std::uint32_t>(frame.size()), p);
    return p;
}

void ExpectTcp(const DecodedPacket& p, std::string_view srcIp = "10.0.0.1",
               std::string_view dstIp = "192.168.1.101", int sport = 80, int dport = 1025) {
    EXPECT_EQ(p.protocolKind, kProtocolTCP);
    EXPECT_EQ(p.sourceIP.view(), srcIp);
    EXPECT_EQ(p.destinationIP.view(), dstIp);
    EXPECT_EQ(p.sourcePort, sport);
    EXPECT_EQ(p.destinationPort, dport);
}

// Every link layer, cut at every byte: nothing is read past the cut (each prefix lives in
// a heap block of exactly its size, so the address sanitizer sees any over-read), the frame
// is TCP exactly when both ports are inside the prefix, and then it carries the MACs the
// link layer has.
TEST(Decoder, EveryLinkLayerTruncatedAtEveryByte) {
    const std::string src = "00:1a:2b:3c:4d:5e", dst = "aa:bb:cc:dd:ee:ff";
    const struct {
        int linkType;
        Bytes frame;
        std::size_t linkHeader;
        std::string srcMac, dstMac;
    } cases[] = {
        {linktype::kEthernet, test::Ethernet(Ipv4()), 14, src, dst},
        {linktype::kEthernet, test::Ethernet(Ipv4(), {0x8100}), 18, src, dst},
        {linktype::kEthernet, test::Ethernet(Ipv4(), {0x88A8, 0x8100}), 22, src, dst},
        {linktype::kEthernet, test::Ethernet(Ipv4(), {0x9100, 0x8100}), 22, src, dst},
        {linktype::kEthernet, test::Ethernet(Ipv4(), {0x88A8, 0x88A8, 0x8100}), 26, src, dst},
        {linktype::kLinuxSll, test::LinuxSll(Ipv4()), 16, src, ""},
        {linktype::kLinuxSll2, test::LinuxSll2(Ipv4()), 20, src, ""},
        // An address that is not six bytes is no MAC address; a 16-bit length of 0x0106 is
        // not 6.
        {linktype::kLinuxSll, test::LinuxSll(Ipv4(), 4), 16, "", ""},
        {linktype::kLinuxSll, test::LinuxSll(Ipv4(), 0x0106), 16, "", ""},
        {linktype::kLinuxSll2, test::LinuxSll2(Ipv4(), 0), 20, "", ""},
        {linktype::kRaw, Ipv4(), 0, "", ""},
        {linktype::kRawOpenBSD, Ipv4(), 0, "", ""},
        {linktype::kRawLinktype, Ipv4(), 0, "", ""},
        {linktype::kIPv4, Ipv4(), 0, "", ""},
        {linktype::kNull, test::BsdLoopback(Ipv4(), false), 4, "", ""},
        {linktype::kNull, test::BsdLoopback(Ipv4(), true), 4, "", ""},
        {linktype::kLoop, test::BsdLoopback(Ipv4(), false), 4, "", ""},
        {linktype::kLoop, test::BsdLoopback(Ipv4(), true), 4, "", ""},
    };
    for (const auto& c : cases) {
        for (std::size_t n = 0; n <= c.frame.size(); ++n) {
            SCOPED_TRACE(testing::Message() << "link type " << c.linkType << ", " << c.frame.size()
                                            << " bytes cut at " << n);
            auto cut = std::make_unique<std::uint8_t[]>(n ? n : 1);
            std::copy_n(c.frame.begin(), n, cut.get());
            DecodedPacket p;
            DecodeFrame(c.linkType, std::span<const std::uint8_t>(cut.get(), n),
                        static_cast<std::uint32_t>(c.frame.size()), p);
            EXPECT_EQ(p.dataLength, static_cast<int>(n));
            EXPECT_EQ(p.data.data(), cut.get());  // the whole frame from its first byte
            EXPECT_EQ(p.data.size(), n);
            if (n >= c.linkHeader + 24) {
                ExpectTcp(p);
                EXPECT_EQ(p.sourceMAC.view(), c.srcMac);
                EXPECT_EQ(p.destinationMAC.view(), c.dstMac);
            } else {
                EXPECT_EQ(p.protocolKind, kProtocolOther);
                EXPECT_EQ(p.sourcePort, 0);
            }
        }
    }
}

TEST(Decoder, NonIPv4FramesAndUnknownLinkTypesAreOther) {
    // IPv6, ARP, an 802.3 length field, LLDP.
    for (std::uint16_t type : {0x86DD, 0x0806, 0x0040, 0x88CC}) {
        EXPECT_EQ(Decode(linktype::kEthernet, test::Ethernet(Ipv4(), {}, type)).protocolKind,
                  kProtocolOther);
    }
    EXPECT_EQ(Decode(linktype::kEthernet, test::Ethernet(Ipv4({.version = 6}))).protocolKind,
              kProtocolOther);
    EXPECT_EQ(Decode(linktype::kLinuxSll, test::LinuxSll(Ipv4(), 6, 0x86DD)).protocolKind,
              kProtocolOther);
    // Address family 24 is IPv6 on the BSDs.
    Bytes v6 = test::BsdLoopback(Ipv4(), false);
    v6[0] = 24;
    EXPECT_EQ(Decode(linktype::kNull, v6).protocolKind, kProtocolOther);
    for (int type : {-1, 6, 105, 127, 100000}) {
        EXPECT_EQ(Decode(type, test::Ethernet(Ipv4())).protocolKind, kProtocolOther) << type;
    }
}

// What in the IPv4 header decides whether the ports are read, and from where.
TEST(Decoder, Ipv4HeaderRules) {
    const struct {
        const char* what;
        Ipv4Fields fields;
        bool tcp;
    } cases[] = {
        {"ICMP", {.protocol = 1}, false},
        {"version 6", {.version = 6}, false},
        {"IHL 0", {.ihl = 0}, false},
        {"IHL 4", {.ihl = 4}, false},
        {"IHL 15: the ports follow the options", {.ihl = 15}, true},
        {"total length beyond the capture", {.totalLength = 60000}, true},
        {"total length 0, as segmentation offload leaves it", {.totalLength = 0}, true},
        {"total length just covering the ports", {.totalLength = 24}, true},
        {"ports past the total length", {.totalLength = 23}, false},
        {"total length inside the header", {.totalLength = 19}, false},
        {"first fragment", {.fragment = 0x2000}, true},
        {"don't fragment", {.fragment = 0x4000}, true},
        {"later fragment", {.fragment = 0x0001}, false},
        {"later fragment, more to come", {.fragment = 0x2001}, false},
        {"last possible offset", {.fragment = 0x1FFF}, false},
    };
    for (const auto& c : cases) {
        const DecodedPacket p = Decode(linktype::kRaw, Ipv4(c.fields));
        SCOPED_TRACE(c.what);
        if (c.tcp) {
            ExpectTcp(p);
        } else {
            EXPECT_EQ(p.protocolKind, kProtocolOther);
        }
    }
    // An IHL that claims more header than was captured.
    Bytes cut = Ipv4();
    cut[0] = 0x4F;
    EXPECT_EQ(Decode(linktype::kRaw, cut).protocolKind, kProtocolOther);
}

TEST(Decoder, TheLastResultDoesNotLeakIntoTheNext) {
    DecodedPacket p;
    const Bytes tcp = test::Ethernet(Ipv4());
    DecodeFrame(linktype::kEthernet, tcp, 0, p);
    DecodeFrame(linktype::kRaw, Bytes{0x45}, 1, p);
    EXPECT_EQ(p.protocolKind, kProtocolOther);
    EXPECT_EQ(p.sourceIP.view(), "");
    EXPECT_EQ(p.sourcePort, 0);
    EXPECT_EQ(p.sourceMAC.view(), "");
    EXPECT_EQ(p.dataLength, 1);
}

TEST(Decoder, EndlessVlanTagsEndAtTheCapture) {
    Bytes frame(test::kDstMac);
    frame.insert(frame.end(), test::kSrcMac.begin(), test::kSrcMac.end());
    for (int i = 0; i < 5000; ++i) {
        frame.push_back(0x81);
        frame.push_back(0x00);
    }
    EXPECT_EQ(Decode(linktype::kEthernet, frame).protocolKind, kProtocolOther);
}

}  // namespace
}  // namespace lumeno
