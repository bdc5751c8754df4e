#include "capture/Intake.h"

#include <gtest/gtest.h>

#include "capture/CaptureTestSupport.h"
#include "packet/Colors.h"

namespace lumeno {
namespace {

using test::Addr;
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

    static Ipv4Fields Tcp(std::uint32_t src, int sport, std::uint32_t dst, int dport) {
        Ipv4Fields s;
        s.source = src;
        s.sourcePort = static_cast<std::uint16_t>(sport);
        s.destination = dst;
        s.destinationPort = static_cast<std::uint16_t>(dport);
        return s;
    }
    static Ipv4Fields Udp(std::uint32_t src, int sport, std::uint32_t dst, int dport) {
        Ipv4Fields s = Tcp(src, sport, dst, dport);
        s.protocol = 17;
        return s;
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
    const std::string mac1 = "00:1a:2b:3c:4d:5e", mac2 = "aa:bb:cc:dd:ee:ff";
    struct Case {
        Ipv4Fields packet;
        const char* monitor;
        test::Row row;  // but for the length and bytes, which are the frame's
        Rgb color;
    };
    const Case cases[] = {
        {Tcp(Addr(10, 0, 0, 1), 80, Addr(192, 168, 1, 101), 1025),
         "192.168.1.101",
         {mac1, "10.0.0.1", 80, mac2, "192.168.1.101", 1025, "incomingTCP", 0, {}},
         colorIncomingTCP},
        {Udp(Addr(192, 168, 1, 101), 1030, Addr(10, 1, 1, 1), 53),
         "192.168.1.101",
         {mac2, "10.1.1.1", 53, mac1, "192.168.1.101", 1030, "outgoingUDP", 0, {}},
         colorOutgoingUDP},
        {Tcp(Addr(192, 168, 1, 101), 1025, Addr(10, 0, 0, 1), 80),
         "192.168.1.101",
         {mac2, "10.0.0.1", 80, mac1, "192.168.1.101", 1025, "outgoingTCP", 0, {}},
         colorOutgoingTCP},
        {Udp(Addr(10, 1, 1, 1), 53, Addr(192, 168, 1, 101), 1030),
         "192.168.1.101",
         {mac1, "10.1.1.1", 53, mac2, "192.168.1.101", 1030, "incomingUDP", 0, {}},
         colorIncomingUDP},
        {Tcp(Addr(192, 168, 1, 5), 22, Addr(192, 168, 1, 101), 50000),
         "192.168.",
         {mac1, "192.168.1.5", 22, mac2, "192.168.1.101", 50000, "incomingTCP", 0, {}},
         colorIncomingTCP},
        {Tcp(Addr(8, 8, 8, 8), 443, Addr(1, 2, 3, 4), 5555),
         "",
         {mac1, "8.8.8.8", 443, mac2, "1.2.3.4", 5555, "incomingTCP", 0, {}},
         colorIncomingTCP},
        {Udp(Addr(1, 2, 3, 4), 5555, Addr(8, 8, 8, 8), 53),
         "",
         {mac1, "1.2.3.4", 5555, mac2, "8.8.8.8", 53, "incomingUDP", 0, {}},
         colorIncomingUDP},
    };
    for (const Case& c : cases) {
        currentColor = kUntouched;
        ASSERT_TRUE(Feed(c.packet, c.monitor));
        test::Row expected = c.row;
        expected.packetLen = static_cast<int>(frame_.size());
        expected.packetTxt = frame_;
        EXPECT_EQ(sink_.rows.back(), expected);
        EXPECT_EQ(currentColor, c.color) << c.row.transportType;
    }
}

TEST_F(IntakeTest, TheMonitorIsATextPrefix) {
    const auto tcp = Tcp(Addr(10, 0, 0, 1), 80, Addr(192, 168, 1, 101), 1025);
    EXPECT_TRUE(Feed(tcp, "192.168.1.10"));
    EXPECT_EQ(sink_.rows.back().transportType, "incomingTCP");
    EXPECT_TRUE(Feed(tcp, "192.168."));
    EXPECT_TRUE(Feed(tcp, "1"));  // 192.168.1.101 begins with "1"
    EXPECT_FALSE(Feed(tcp, "192.168.1.1010"));
    EXPECT_FALSE(Feed(tcp, "192.168.1.101 "));
    EXPECT_FALSE(Feed(tcp, " 192.168.1.101"));
    // Shorter than the monitor text: no match, so the source is tried and also fails.
    EXPECT_FALSE(Feed(Tcp(Addr(1, 1, 1, 1), 1, Addr(2, 2, 2, 2), 2), "2.2.2.22"));
}

TEST_F(IntakeTest, OtherPacketsChangeNothing) {
    Ipv4Fields icmp = Tcp(Addr(10, 0, 0, 1), 0, Addr(192, 168, 1, 101), 0);
    icmp.protocol = 1;
    EXPECT_FALSE(Feed(icmp, "192.168.1.101"));
    // ARP (not IPv4).
    frame_ = test::Ethernet(test::Ipv4(), {}, 0x0806);
    DecodeFrame(linktype::kEthernet, frame_, 0, packet_);
    EXPECT_FALSE(IntakePacket(packet_, "", sink_));
    // TCP between two hosts neither of which is monitored: not even the colour changes.
    EXPECT_FALSE(Feed(Tcp(Addr(10, 0, 0, 1), 80, Addr(10, 0, 0, 2), 1025), "192.168.1.101"));
    EXPECT_TRUE(sink_.rows.empty());
    EXPECT_EQ(currentColor, kUntouched);
}

TEST_F(IntakeTest, LongFramesAreCutTo32767Bytes) {
    ASSERT_TRUE(Feed(Tcp(Addr(10, 0, 0, 1), 80, Addr(192, 168, 1, 101), 1025), "", 40000));
    ASSERT_GT(frame_.size(), 32767u);
    EXPECT_EQ(sink_.rows[0].packetLen, 32767);
    EXPECT_EQ(sink_.rows[0].packetTxt.size(), 32767u);
    EXPECT_TRUE(
        std::equal(sink_.rows[0].packetTxt.begin(), sink_.rows[0].packetTxt.end(), frame_.begin()));

    sink_.rows.clear();
    frame_.resize(32767);
    DecodeFrame(linktype::kEthernet, frame_, 0, packet_);
    ASSERT_TRUE(IntakePacket(packet_, "", sink_));
    EXPECT_EQ(sink_.rows[0].packetLen, 32767);
}

TEST_F(IntakeTest, ClassifyIsPureAndLeavesTheColourAlone) {
    frame_ = test::Ethernet(test::Ipv4());
    DecodeFrame(linktype::kEthernet, frame_, 0, packet_);
    const auto record = ClassifyPacket(packet_, "192.168.1.101");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->transportType, "incomingTCP");
    EXPECT_EQ(currentColor, kUntouched);
}

}  // namespace
}  // namespace lumeno
