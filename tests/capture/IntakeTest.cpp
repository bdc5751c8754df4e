#include "capture/Intake.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <tuple>

#include "capture/CaptureTestSupport.h"
#include "packet/Colors.h"

namespace lumeno {
namespace {

using test::Bytes;

// Decodes an Ethernet frame and runs it through the intake.
bool Feed(const Bytes& frame, std::string_view monitor, test::CollectingSink& sink) {
    DecodedPacket p;
    DecodeFrame(linktype::kEthernet, frame, static_cast<std::uint32_t>(frame.size()), p);
    return IntakePacket(p, monitor, sink);
}

// The record faces the monitored host: for an outgoing packet both ends swap, MAC
// addresses with them, and the record carries the whole frame in the colour of its class.
// The destination is tested first, the monitor is a text prefix of the address (the empty
// one matches all; IPv6 by its canonical text, case-sensitive, so another spelling of the
// address matches nothing), and anything else gives no record and leaves the colour alone.
TEST(Intake, RecordsFaceTheMonitoredHostAndOthersChangeNothing) {
    const std::string srcMac = "00:1a:2b:3c:4d:5e", dstMac = "aa:bb:cc:dd:ee:ff";
    constexpr Rgb kUntouched = MakeRgb(7, 7, 7);
    // Protocol, source, destination, the monitor, the record's class (none when empty) and
    // the colour then set.
    const std::tuple<std::uint8_t, const char*, const char*, const char*, std::string, Rgb>
        cases[] = {
            {6, "8.8.8.8", "10.1.1.1", "10.1.1.1", "incomingTCP", colorIncomingTCP},
            {6, "10.1.1.1", "8.8.8.8", "10.1.1.1", "outgoingTCP", colorOutgoingTCP},
            {17, "8.8.8.8", "10.1.1.1", "10.1.1.1", "incomingUDP", colorIncomingUDP},
            {17, "10.1.1.1", "10.1.1.1", "10.1.1.1", "incomingUDP", colorIncomingUDP},
            {6, "8.8.8.8", "1.2.3.4", "", "incomingTCP", colorIncomingTCP},
            {6, "8.8.8.8", "10.1.1.1", "10.1.1.11", "", kUntouched},
            {1, "8.8.8.8", "10.1.1.1", "10.1.1.1", "", kUntouched},  // ICMP
            {6, "2001:db8:0:1::65", "2a00:1450::1", "2001:db8:", "outgoingTCP", colorOutgoingTCP},
            {17, "fe80::21a:2bff:fe3c:4d5e", "ff02::fb", "fe80::", "outgoingUDP", colorOutgoingUDP},
            {17, "2a00:1450::1", "::ffff:192.0.2.1", "::ffff:192.0.2.", "incomingUDP",
             colorIncomingUDP},
            {6, "2a00:1450::1", "2001:db8::10", "2001:db8::1", "incomingTCP", colorIncomingTCP},
            {6, "2a00:1450::1", "2001:db8::1", "2001:DB8::1", "", kUntouched},
            {58, "2a00:1450::1", "2001:db8::1", "2001:db8::1", "", kUntouched},  // ICMPv6
        };
    for (const auto& [protocol, src, dst, monitor, type, color] : cases) {
        SCOPED_TRACE(testing::Message() << src << " -> " << dst << ", monitor " << monitor);
        currentColor = kUntouched;
        test::CollectingSink sink;
        test::Ipv6Fields v6{.next = protocol, .sourcePort = 443, .destinationPort = 50000};
        v6.source.resize(16), v6.destination.resize(16);
        const bool ipv6 = ::inet_pton(AF_INET6, src, v6.source.data()) == 1;
        ASSERT_EQ(::inet_pton(AF_INET6, dst, v6.destination.data()) == 1, ipv6);
        const Bytes frame = ipv6 ? test::Ethernet(test::Ipv6(v6), {}, 0x86DD)
                                 : test::Ethernet(test::Ipv4({protocol, ntohl(inet_addr(src)),
                                                              ntohl(inet_addr(dst)), 443, 50000}));
        EXPECT_EQ(Feed(frame, monitor, sink), !type.empty());
        EXPECT_EQ(currentColor, color);
        const int size = static_cast<int>(frame.size());
        std::vector<test::Row> expected;
        if (type.starts_with("incoming")) {
            expected.push_back({srcMac, src, 443, dstMac, dst, 50000, type, size, frame});
        } else if (!type.empty()) {
            expected.push_back({dstMac, dst, 50000, srcMac, src, 443, type, size, frame});
        }
        EXPECT_EQ(sink.rows, expected);
    }
}

// Frames longer than a record can describe are cut to 32767 bytes, not dropped.
TEST(Intake, LongFramesAreCutTo32767Bytes) {
    for (std::size_t payload : {32729u, 32730u}) {  // frames of 32767 and 32768 bytes
        const Bytes frame = test::Ethernet(test::Ipv4({.payload = payload}));
        test::CollectingSink sink;
        ASSERT_TRUE(Feed(frame, "", sink));
        const std::size_t kept = std::min<std::size_t>(frame.size(), 32767);
        EXPECT_EQ(sink.rows[0].packetLen, static_cast<int>(kept)) << frame.size();
        EXPECT_EQ(sink.rows[0].packetTxt, Bytes(frame.begin(), frame.begin() + kept));
    }
}

}  // namespace
}  // namespace lumeno
