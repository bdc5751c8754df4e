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

// Captures on lo, in this process or through the helper (which must drop its capabilities
// and be gone after Stop), while the test sends bounded traffic over 127.0.0.1 and ::1: UDP
// to both, a whole TCP connection over ::1, and datagrams to another port that the filter
// must keep out. Everything arrives classified for its monitor (both ends are the monitor,
// so incoming), and nothing after Stop. Without the capture privilege the test is skipped.
class LiveCapture : public testing::TestWithParam<LiveMode> {};

TEST_P(LiveCapture, FilteredLoopbackTrafficOverBothVersionsArrivesClassified) {
    const bool helper = GetParam() == LiveMode::kHelper;
    const test::LoopbackUdp udp;
    std::uint16_t udp6Port = 0, sendPort = 0, tcpPort = 0, clientPort = 0;
    using test::BoundSocket;
    const int receiver = BoundSocket(SOCK_DGRAM, udp6Port, AF_INET6),
              sender = BoundSocket(SOCK_DGRAM, sendPort, AF_INET6),
              listener = BoundSocket(SOCK_STREAM, tcpPort, AF_INET6),
              client = BoundSocket(SOCK_STREAM, clientPort, AF_INET6);
    ASSERT_TRUE(udp.Ok());
    if (receiver < 0 || sender < 0 || listener < 0 || client < 0) GTEST_SKIP() << "no ::1 here";
    ASSERT_EQ(::listen(listener, 1), 0);

    CaptureCtrl capture;
    test::CollectingSink sink4, sink6;
    QString failure, error;
    capture.SetLiveMode(GetParam());
    capture.SetHelperPath(QStringLiteral(LUMENO_CAPTURE_HELPER));
    capture.SetCurrentAdapter({"lo", {}, false});
    capture.SetPacketHandler([&](const DecodedPacket& p) {
        IntakePacket(p, "127.0.0.1", sink4);
        IntakePacket(p, "::1", sink6);
    });
    QObject::connect(&capture, &CaptureCtrl::failed, [&](const QString& m) { failure = m; });
    const QString filter =
        QStringLiteral("udp dst port %1 or (ip6 and (udp dst port %2 or tcp port %3))")
            .arg(udp.port)
            .arg(udp6Port)
            .arg(tcpPort);
    if (!capture.SetFilter(filter, &error) || !capture.Start(&error)) {
        if (error.contains("setcap")) GTEST_SKIP() << error.toStdString();
        FAIL() << error.toStdString();
    }
    const qint64 pid = capture.HelperProcessId();
    EXPECT_EQ(helper ? test::ProcStatusField(pid, "CapEff").value_or(~0ull) : 0, 0u)
        << "the helper kept its capabilities";

    constexpr int kDatagrams = 10;
    const sockaddr_in6 to = test::Loopback6(udp6Port), server = test::Loopback6(tcpPort);
    const char payload[32] = "lumeno live capture test";
    for (int i = 0; i < kDatagrams; ++i) {
        udp.Send(payload, sizeof payload);
        udp.Send("x", 1, udp.port == 9 ? 10 : 9);
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
        return std::ranges::count(sink6.rows, type, &test::Row::transportType);
    };
    // SYN, SYN-ACK, ACK, the data, both FINs and the last ACK; other ACKs may ride along.
    test::WaitUntil([&] {
        return sink4.rows.size() >= kDatagrams && count("incomingUDP") >= kDatagrams &&
               count("incomingTCP") >= 7;
    });
    QTest::qWait(100);  // anything that should not come would by now
    capture.Stop();
    const std::size_t rows = sink4.rows.size() + sink6.rows.size();
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
    const std::string udp4 =
        "incomingUDP 00:00:00:00:00:00 127.0.0.1:" + std::to_string(udp.sendPort) +
        " -> 00:00:00:00:00:00 127.0.0.1:" + std::to_string(udp.port) + " length 74, 74 bytes";
    EXPECT_EQ(sink4.rows.size(), std::size_t(kDatagrams));
    for (const auto& r : sink4.rows) EXPECT_EQ(testing::PrintToString(r), udp4);
    const std::string udp6 = "incomingUDP 00:00:00:00:00:00 ::1:" + std::to_string(sendPort) +
                             " -> 00:00:00:00:00:00 ::1:" + std::to_string(udp6Port) +
                             " length 94, 94 bytes";  // 14 + 40 + 8 + 32
    EXPECT_EQ(count("incomingUDP"), kDatagrams);
    EXPECT_GE(count("incomingTCP"), 7);
    EXPECT_EQ(count("incomingUDP") + count("incomingTCP"), std::ptrdiff_t(sink6.rows.size()));
    const std::set<std::pair<int, int>> tcpPorts = {{clientPort, tcpPort}, {tcpPort, clientPort}};
    for (const test::Row& r : sink6.rows) {
        EXPECT_TRUE(r.transportType == "incomingUDP"
                        ? testing::PrintToString(r) == udp6
                        : r.sourceIP == "::1" && r.dstIP == "::1" &&
                              tcpPorts.contains({r.sourcePort, r.dstPort}))
            << testing::PrintToString(r);
    }
    // The helper's figures arrive with the last word it sends.
    const CaptureStats stats = capture.Statistics();
    EXPECT_EQ(stats.seen, rows);
    EXPECT_GE(stats.received, stats.seen);
    EXPECT_FALSE(helper && QDir(QStringLiteral("/proc/%1").arg(pid)).exists()) << "left running";
    QTest::qWait(50);
    EXPECT_EQ(sink4.rows.size() + sink6.rows.size(), rows);
}

INSTANTIATE_TEST_SUITE_P(InProcessAndHelper, LiveCapture,
                         testing::Values(LiveMode::kInProcess, LiveMode::kHelper));

}  // namespace
}  // namespace lumeno
