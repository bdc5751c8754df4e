#include "capture/Intake.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>

#include "capture/CaptureTestSupport.h"
#include "packet/Colors.h"

namespace lumeno {
namespace {

using test::Bytes;
using test::Ipv4Fields;

class IntakeTest : public testing::Test {
  protected:
    void SetUp() override {
        colorIncomingTCP = kDefaultIncomingTCP;
        colorOutgoingTCP = kDefaultOutgoingTCP;
        colorIncomingUDP = kDefaultIncomingUDP;
        colorOutgoingUDP = kDefaultOutgoingUDP;
        currentColor = kUntouched;
    }

    // Decodes an Ethernet frame and runs it through the intake.
    bool Feed(const Ipv4Fields& fields, std::string_view monitor, std::size_t extra = 0) {
        Ipv4Fields s = fields;
        s.payload += extra;
        frame_ = test::Ethernet(test::Ipv4(s));
        DecodeFrame(linktype::kEthernet, frame_, static_cast<std::uint32_t>(frame_.size()),
                    packet_);
        return IntakePacket(packet_, monitor, sink_);
    }

    static Ipv4Fields Tcp(const char* src, int sport, const char* dst, int dport) {
        return {.source = ntohl(inet_addr(src)),
                .destination = ntohl(inet_addr(dst)),
                .sourcePort = static_cast<std::uint16_t>(sport),
                .destinationPort = static_cast<std::uint16_t>(dport)};
    }

    static constexpr Rgb kUntouched = MakeRgb(7, 7, 7);
    Bytes frame_;
    DecodedPacket packet_;
    test::CollectingSink sink_;
};

// The record faces the monitored host: for an outgoing packet both ends swap, MAC
// addresses with them, and the record carries the whole frame. The destination is tested
// first, and with no monitor every TCP and UDP packet is incoming.
TEST_F(IntakeTest, RecordsAreTurnedToFaceTheMonitoredHost) {
    const std::string srcMac = "00:1a:2b:3c:4d:5e", dstMac = "aa:bb:cc:dd:ee:ff";
    const std::map<std::string, Rgb> colors = {{"incomingTCP", colorIncomingTCP},
                                               {"outgoingTCP", colorOutgoingTCP},
                                               {"incomingUDP", colorIncomingUDP},
                                               {"outgoingUDP", colorOutgoingUDP}};
    const struct {
        int protocol;
        const char* src;
        int sport;
        const char* dst;
        int dport;
        const char* monitor;
        std::string type;
    } cases[] = {
        {6, "10.0.0.1", 80, "192.168.1.101", 1025, "192.168.1.101", "incomingTCP"},
        {17, "192.168.1.101", 1030, "10.1.1.1", 53, "192.168.1.101", "outgoingUDP"},
        {6, "192.168.1.101", 1025, "10.0.0.1", 80, "192.168.1.101", "outgoingTCP"},
        {17, "10.1.1.1", 53, "192.168.1.101", 1030, "192.168.1.101", "incomingUDP"},
        {6, "192.168.1.5", 22, "192.168.1.101", 50000, "192.168.", "incomingTCP"},
        {6, "8.8.8.8", 443, "1.2.3.4", 5555, "", "incomingTCP"},
        {17, "1.2.3.4", 5555, "8.8.8.8", 53, "", "incomingUDP"},
    };
    for (const auto& c : cases) {
        currentColor = kUntouched;
        Ipv4Fields packet = Tcp(c.src, c.sport, c.dst, c.dport);
        packet.protocol = static_cast<std::uint8_t>(c.protocol);
        ASSERT_TRUE(Feed(packet, c.monitor));
        const int size = static_cast<int>(frame_.size());
        const test::Row expected =
            c.type.starts_with("outgoing")
                ? test::Row{dstMac, c.dst, c.dport, srcMac, c.src, c.sport, c.type, size, frame_}
                : test::Row{srcMac, c.src, c.sport, dstMac, c.dst, c.dport, c.type, size, frame_};
        EXPECT_EQ(sink_.rows.back(), expected);
        EXPECT_EQ(currentColor, colors.at(c.type)) << c.type;
    }
}

TEST_F(IntakeTest, TheMonitorIsATextPrefix) {
    const Ipv4Fields tcp;  // 10.0.0.1:80 to 192.168.1.101:1025
    EXPECT_TRUE(Feed(tcp, "192.168.1.10"));
    EXPECT_EQ(sink_.rows.back().transportType, "incomingTCP");
    EXPECT_TRUE(Feed(tcp, "192.168."));
    EXPECT_TRUE(Feed(tcp, "1"));  // 192.168.1.101 begins with "1"
    EXPECT_FALSE(Feed(tcp, "192.168.1.1010"));
    EXPECT_FALSE(Feed(tcp, "192.168.1.101 "));
    EXPECT_FALSE(Feed(tcp, " 192.168.1.101"));
    // Shorter than the monitor text: no match, so the source is tried and also fails.
    EXPECT_FALSE(Feed(Tcp("1.1.1.1", 1, "2.2.2.2", 2), "2.2.2.22"));
}

TEST_F(IntakeTest, OtherPacketsChangeNothing) {
    EXPECT_FALSE(Feed({.protocol = 1}, "192.168.1.101"));  // ICMP
    // ARP (not IPv4).
    frame_ = test::Ethernet(test::Ipv4(), {}, 0x0806);
    DecodeFrame(linktype::kEthernet, frame_, 0, packet_);
    EXPECT_FALSE(IntakePacket(packet_, "", sink_));
    // TCP between two hosts neither of which is monitored: not even the colour changes.
    EXPECT_FALSE(Feed(Tcp("10.0.0.1", 80, "10.0.0.2", 1025), "192.168.1.101"));
    EXPECT_TRUE(sink_.rows.empty());
    EXPECT_EQ(currentColor, kUntouched);
}

TEST_F(IntakeTest, LongFramesAreCutTo32767Bytes) {
    for (std::size_t extra : {32720u, 32721u, 40000u}) {  // frames of 32766, 32767, 40046 bytes
        sink_.rows.clear();
        ASSERT_TRUE(Feed({}, "", extra));
        const std::size_t kept = std::min<std::size_t>(frame_.size(), 32767);
        EXPECT_EQ(sink_.rows[0].packetLen, static_cast<int>(kept)) << frame_.size();
        EXPECT_EQ(sink_.rows[0].packetTxt, Bytes(frame_.begin(), frame_.begin() + kept));
    }
}

}  // namespace
}  // namespace lumeno
