#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QTest>
#include <algorithm>
#include <set>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

// Captures on the loopback interface, in this process or through the helper (which must
// drop its capabilities and be gone after Stop), while this test sends a bounded number of
// UDP datagrams to 127.0.0.1 and as many to another port that the filter must keep out.
// Every one arrives, counted and oriented, and nothing after Stop. Needs the capture
// privilege; without it the test says why and is skipped.
class LiveCapture : public testing::TestWithParam<LiveMode> {};

// A capture on lo in the test's mode, its records taken in for the monitor.
struct OnLoopback {
    CaptureCtrl capture;
    test::CollectingSink sink;
    QString failure, error;

    OnLoopback(LiveMode mode, const std::string& monitor) {
        capture.SetLiveMode(mode);
        capture.SetHelperPath(QStringLiteral(LUMENO_CAPTURE_HELPER));
        capture.SetCurrentAdapter({"lo", {}, false});
        capture.SetPacketHandler(
            [this, monitor](const DecodedPacket& p) { IntakePacket(p, monitor, sink); });
        QObject::connect(&capture, &CaptureCtrl::failed, [this](const QString& m) { failure = m; });
    }
    // Fails the test where it does not start, but skips it where the privilege is missing.
    void Start(const QString& filter) {
        if (capture.SetFilter(filter, &error) && capture.Start(&error)) return;
        if (error.contains("setcap")) GTEST_SKIP() << error.toStdString();
        FAIL() << error.toStdString();
    }
};

TEST_P(LiveCapture, FilteredLoopbackTrafficArrivesClassified) {
    const bool helper = GetParam() == LiveMode::kHelper;
    const test::LoopbackUdp udp;
    ASSERT_TRUE(udp.Ok());
    OnLoopback live(GetParam(), "127.0.0.1");
    CaptureCtrl& capture = live.capture;
    test::CollectingSink& sink = live.sink;
    live.Start(QStringLiteral("udp dst port %1").arg(udp.port));
    if (IsSkipped() || HasFatalFailure()) return;
    const qint64 pid = capture.HelperProcessId();
    EXPECT_EQ(helper ? test::ProcStatusField(pid, "CapEff").value_or(~0ull) : 0, 0u)
        << "the helper kept its capabilities";

    constexpr std::size_t kDatagrams = 25;
    for (std::size_t i = 0; i < kDatagrams; ++i) {
        const char payload[32] = "lumeno live capture test";
        udp.Send(payload, sizeof payload);
        udp.Send("x", 1, udp.port == 9 ? 10 : 9);
    }
    test::WaitUntil([&] { return sink.rows.size() >= kDatagrams; });
    QTest::qWait(100);  // anything that should not come would by now
    capture.Stop();
    EXPECT_TRUE(live.failure.isEmpty()) << live.failure.toStdString();
    ASSERT_EQ(sink.rows.size(), kDatagrams);
    // Both ends are 127.0.0.1; the destination is tested first, so it is incoming.
    const std::string expected =
        "incomingUDP 00:00:00:00:00:00 127.0.0.1:" + std::to_string(udp.sendPort) +
        " -> 00:00:00:00:00:00 127.0.0.1:" + std::to_string(udp.port) + " length 74, 74 bytes";
    for (const auto& r : sink.rows) EXPECT_EQ(testing::PrintToString(r), expected);
    // The helper's figures arrive with the last word it sends.
    const CaptureStats stats = capture.Statistics();
    EXPECT_EQ(stats.seen, kDatagrams);
    EXPECT_GE(stats.received, stats.seen);
    EXPECT_FALSE(helper && QDir(QStringLiteral("/proc/%1").arg(pid)).exists()) << "left running";
    QTest::qWait(50);
    EXPECT_EQ(sink.rows.size(), kDatagrams);
}

// Over ::1: UDP datagrams and a whole TCP connection (handshake, data, both ends closing)
// arrive classified for the monitor ::1, every one incoming (both ends are ::1), with the
// ports each way and the length of the frame. Loopback only.
TEST_P(LiveCapture, IPv6LoopbackUdpAndTcpArriveClassified) {
    std::uint16_t udpPort = 0, sendPort = 0, tcpPort = 0, clientPort = 0;
    using test::BoundSocket;
    const int receiver = BoundSocket(SOCK_DGRAM, udpPort, AF_INET6),
              sender = BoundSocket(SOCK_DGRAM, sendPort, AF_INET6),
              listener = BoundSocket(SOCK_STREAM, tcpPort, AF_INET6),
              client = BoundSocket(SOCK_STREAM, clientPort, AF_INET6);
    if (receiver < 0 || sender < 0 || listener < 0 || client < 0) GTEST_SKIP() << "no ::1 here";
    ASSERT_EQ(::listen(listener, 1), 0);
    OnLoopback live(GetParam(), "::1");
    CaptureCtrl& capture = live.capture;
    test::CollectingSink& sink = live.sink;
    live.Start(
        QStringLiteral("ip6 and (udp dst port %1 or tcp port %2)").arg(udpPort).arg(tcpPort));
    if (IsSkipped() || HasFatalFailure()) return;

    constexpr std::size_t kDatagrams = 10;
    const sockaddr_in6 to = test::Loopback6(udpPort), server = test::Loopback6(tcpPort);
    const char payload[32] = "lumeno live capture test";
    for (std::size_t i = 0; i < kDatagrams; ++i) {
        ::sendto(sender, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    ASSERT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&server), sizeof server), 0);
    const int accepted = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    ASSERT_EQ(::send(client, "hello", 5, 0), 5);
    char got[5];
    ASSERT_EQ(::recv(accepted, got, sizeof got, MSG_WAITALL), 5);
    for (int fd : {client, accepted, listener, sender, receiver}) ::close(fd);

    const auto count = [&](std::string_view type) {
        return std::count_if(sink.rows.begin(), sink.rows.end(),
                             [&](const test::Row& r) { return r.transportType == type; });
    };
    // SYN, SYN-ACK, ACK, the data, both FINs and the last ACK; other ACKs may ride along.
    test::WaitUntil([&] { return count("incomingUDP") >= 10 && count("incomingTCP") >= 7; });
    QTest::qWait(100);
    capture.Stop();
    EXPECT_EQ(count("incomingUDP"), 10);
    EXPECT_GE(count("incomingTCP"), 7);
    EXPECT_EQ(count("incomingUDP") + count("incomingTCP"), std::ptrdiff_t(sink.rows.size()));
    const std::string udp = "incomingUDP 00:00:00:00:00:00 ::1:" + std::to_string(sendPort) +
                            " -> 00:00:00:00:00:00 ::1:" + std::to_string(udpPort) +
                            " length 94, 94 bytes";  // 14 + 40 + 8 + 32
    const std::set<std::pair<int, int>> tcpPorts = {{clientPort, tcpPort}, {tcpPort, clientPort}};
    bool data = false;
    for (const test::Row& r : sink.rows) {
        if (r.transportType == "incomingUDP") {
            EXPECT_EQ(testing::PrintToString(r), udp);
            continue;
        }
        EXPECT_TRUE(r.sourceIP == "::1" && r.dstIP == "::1" &&
                    tcpPorts.contains({r.sourcePort, r.dstPort}))
            << testing::PrintToString(r);
        data = data || std::string(r.packetTxt.end() - 5, r.packetTxt.end()) == "hello";
    }
    // The connection opens from the client's port: the first segment is its SYN.
    const auto first = std::find_if(sink.rows.begin(), sink.rows.end(), [](const test::Row& r) {
        return r.transportType == "incomingTCP";
    });
    ASSERT_NE(first, sink.rows.end());
    EXPECT_TRUE(first->sourcePort == clientPort && first->dstPort == tcpPort)
        << testing::PrintToString(*first);
    EXPECT_TRUE(data) << "no segment carried the data";
}

INSTANTIATE_TEST_SUITE_P(InProcessAndHelper, LiveCapture,
                         testing::Values(LiveMode::kInProcess, LiveMode::kHelper));

}  // namespace
}  // namespace lumeno
