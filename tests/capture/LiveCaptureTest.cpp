#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTest>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

// Captures on the loopback interface while this test sends a bounded number of UDP
// datagrams and one short TCP connection to 127.0.0.1, and checks what the intake made of
// them. Needs the capture privilege; without it the test says why and is skipped.
TEST(LiveCapture, LoopbackTrafficArrivesClassified) {
    CaptureCtrl capture;
    capture.Prepare();
    const Adapter* lo = nullptr;
    for (int i = 1; capture.AdapterAt(i); ++i) {
        if (capture.AdapterAt(i)->name == "lo") lo = capture.AdapterAt(i);
    }
    ASSERT_NE(lo, nullptr) << "no loopback adapter in the list";
    EXPECT_TRUE(lo->displayName().startsWith("lo"));
    capture.SetCurrentAdapter(*lo);

    test::CollectingSink sink;
    capture.SetPacketHandler([&](const DecodedPacket& p) { IntakePacket(p, "127.0.0.1", sink); });
    QString error;
    if (!capture.Start(&error)) {
        if (error.contains("setcap")) GTEST_SKIP() << error.toStdString();
        FAIL() << error.toStdString();
    }

    std::uint16_t udpPort = 0, sendPort = 0, tcpPort = 0, clientPort = 0;
    const int receiver = test::BoundSocket(SOCK_DGRAM, udpPort);
    const int sender = test::BoundSocket(SOCK_DGRAM, sendPort);
    const int listener = test::BoundSocket(SOCK_STREAM, tcpPort);
    ASSERT_GE(receiver, 0);
    ASSERT_GE(sender, 0);
    ASSERT_GE(listener, 0);
    ASSERT_EQ(::listen(listener, 1), 0);

    constexpr int kDatagrams = 25;
    const sockaddr_in to = test::Loopback(udpPort);
    for (int i = 0; i < kDatagrams; ++i) {
        const char payload[32] = "lumeno live capture test";
        ::sendto(sender, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    const int client = test::BoundSocket(SOCK_STREAM, clientPort);
    const sockaddr_in server = test::Loopback(tcpPort);
    ASSERT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&server), sizeof server), 0);
    const int accepted = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    ASSERT_EQ(::send(client, "hello", 5, 0), 5);
    char buffer[8];
    ASSERT_EQ(::recv(accepted, buffer, sizeof buffer, 0), 5);
    for (int fd : {client, accepted, listener, sender, receiver}) ::close(fd);

    // Let the event loop deliver until everything has arrived or five seconds pass.
    auto countUdp = [&] {
        int n = 0;
        for (const auto& r : sink.rows)
            n += r.transportType == "incomingUDP" && r.dstPort == udpPort;
        return n;
    };
    auto countTcp = [&] {
        int n = 0;
        for (const auto& r : sink.rows) {
            n += r.transportType == "incomingTCP" &&
                 (r.dstPort == tcpPort || r.sourcePort == tcpPort);
        }
        return n;
    };
    test::WaitUntil([&] { return countUdp() >= kDatagrams && countTcp() >= 6; }, 5000);
    const CaptureStats stats = capture.Statistics();
    capture.Stop();

    EXPECT_EQ(countUdp(), kDatagrams);
    // SYN, SYN-ACK, ACK, data, its ACK, and the closing segments: at least six.
    EXPECT_GE(countTcp(), 6);
    for (const auto& r : sink.rows) {
        if (r.dstPort != udpPort) continue;
        // Both ends are 127.0.0.1; the destination is tested first, so it is incoming.
        EXPECT_EQ(r.sourceIP, "127.0.0.1");
        EXPECT_EQ(r.dstIP, "127.0.0.1");
        EXPECT_EQ(r.sourcePort, sendPort);
        EXPECT_EQ(r.sourceMAC, "00:00:00:00:00:00");
        EXPECT_EQ(r.packetLen, 14 + 20 + 8 + 32);
    }
    EXPECT_GE(stats.seen, static_cast<std::uint64_t>(kDatagrams + 6));
    EXPECT_GE(stats.received, stats.seen);

    // After Stop nothing more is delivered.
    const std::size_t before = sink.rows.size();
    QTest::qWait(50);
    EXPECT_EQ(sink.rows.size(), before);
}

TEST(LiveCapture, AnAdapterThatDoesNotExistIsRefusedWithTheReason) {
    CaptureCtrl capture;
    Adapter none;
    none.name = "nosuchadapter0";
    capture.SetCurrentAdapter(none);
    QString error;
    EXPECT_FALSE(capture.Start(&error));
    EXPECT_FALSE(capture.IsCapturing());
    test::ExpectContains(error, {"nosuchadapter0"});
}

TEST(LiveCapture, AdapterNamesAndPositions) {
    CaptureCtrl capture;
    capture.Prepare();
    EXPECT_EQ(capture.AdapterAt(0), nullptr);
    EXPECT_EQ(capture.AdapterAt(static_cast<int>(capture.Adapters().size()) + 1), nullptr);
    if (!capture.Adapters().empty()) {
        EXPECT_EQ(capture.AdapterAt(1), &capture.Adapters()[0]);
    }

    Adapter eth{"eth0", "Intel Ethernet", false};
    EXPECT_EQ(eth.displayName(), QStringLiteral("eth0 — Intel Ethernet"));
    EXPECT_EQ(CaptureCtrl::FileAdapter("/tmp/x.pcap").displayName(), QStringLiteral("/tmp/x.pcap"));
}

}  // namespace
}  // namespace lumeno
