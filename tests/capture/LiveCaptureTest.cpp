#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTest>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

// The effective capability set of a process, all bits set when it cannot be read.
std::uint64_t EffectiveCapabilities(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("CapEff:");
    return at < 0 ? ~0ull : text.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16);
}

// Captures on the loopback interface, in this process or through the helper (which must
// drop its capabilities and be gone after Stop), while this test sends a bounded number of
// UDP datagrams to 127.0.0.1 and as many to another port that the filter must keep out.
// Every one arrives, counted and oriented, and nothing after Stop. Needs the capture
// privilege; without it the test says why and is skipped.
class LiveCapture : public testing::TestWithParam<LiveMode> {};

TEST_P(LiveCapture, FilteredLoopbackTrafficArrivesClassified) {
    const bool helper = GetParam() == LiveMode::kHelper;
    std::uint16_t port = 0, sendPort = 0;
    const int receiver = test::BoundSocket(SOCK_DGRAM, port),
              sender = test::BoundSocket(SOCK_DGRAM, sendPort);
    ASSERT_TRUE(receiver >= 0 && sender >= 0);
    CaptureCtrl capture;
    capture.SetLiveMode(GetParam());
    capture.SetHelperPath(QStringLiteral(LUMENO_CAPTURE_HELPER));
    capture.SetCurrentAdapter({"lo", {}, false});
    test::CollectingSink sink;
    capture.SetPacketHandler([&](const DecodedPacket& p) { IntakePacket(p, "127.0.0.1", sink); });
    QString failure, error;
    QObject::connect(&capture, &CaptureCtrl::failed, [&](const QString& m) { failure = m; });
    ASSERT_TRUE(capture.SetFilter(QStringLiteral("udp dst port %1").arg(port), &error));
    if (!capture.Start(&error)) {
        if (error.contains("setcap")) GTEST_SKIP() << error.toStdString();
        FAIL() << error.toStdString();
    }
    const qint64 pid = capture.HelperProcessId();
    EXPECT_EQ(helper ? EffectiveCapabilities(pid) : 0, 0u) << "the helper kept its capabilities";

    constexpr std::size_t kDatagrams = 25;
    const sockaddr_in to = test::Loopback(port), other = test::Loopback(port == 9 ? 10 : 9);
    for (std::size_t i = 0; i < kDatagrams; ++i) {
        const char payload[32] = "lumeno live capture test";
        ::sendto(sender, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
        ::sendto(sender, "x", 1, 0, reinterpret_cast<const sockaddr*>(&other), sizeof other);
    }
    ::close(sender);
    ::close(receiver);
    test::WaitUntil([&] { return sink.rows.size() >= kDatagrams; });
    QTest::qWait(100);  // anything that should not come would by now
    capture.Stop();
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
    ASSERT_EQ(sink.rows.size(), kDatagrams);
    // Both ends are 127.0.0.1; the destination is tested first, so it is incoming.
    const std::string expected =
        "incomingUDP 00:00:00:00:00:00 127.0.0.1:" + std::to_string(sendPort) +
        " -> 00:00:00:00:00:00 127.0.0.1:" + std::to_string(port) + " length 74, 74 bytes";
    for (const auto& r : sink.rows) EXPECT_EQ(testing::PrintToString(r), expected);
    // The helper's figures arrive with the last word it sends.
    const CaptureStats stats = capture.Statistics();
    EXPECT_EQ(stats.seen, kDatagrams);
    EXPECT_GE(stats.received, stats.seen);
    EXPECT_FALSE(helper && QDir(QStringLiteral("/proc/%1").arg(pid)).exists()) << "left running";
    QTest::qWait(50);
    EXPECT_EQ(sink.rows.size(), kDatagrams);
}

INSTANTIATE_TEST_SUITE_P(InProcessAndHelper, LiveCapture,
                         testing::Values(LiveMode::kInProcess, LiveMode::kHelper));

}  // namespace
}  // namespace lumeno
