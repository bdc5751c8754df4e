#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTest>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

std::uint64_t EffectiveCapabilities(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return ~0ull;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("CapEff:")) return line.mid(7).trimmed().toULongLong(nullptr, 16);
    }
    return ~0ull;
}

// Captures on the loopback interface, in this process or through the helper, while this
// test sends a bounded number of UDP datagrams to 127.0.0.1 and as many to another port
// that the filter must keep out. Needs the capture privilege; without it the test says
// why and is skipped.
class LiveCapture : public testing::TestWithParam<LiveMode> {};

TEST_P(LiveCapture, FilteredLoopbackTrafficArrivesClassified) {
    const bool helper = GetParam() == LiveMode::kHelper;
    std::uint16_t port = 0, sendPort = 0;
    const int receiver = test::BoundSocket(SOCK_DGRAM, port);
    const int sender = test::BoundSocket(SOCK_DGRAM, sendPort);
    ASSERT_GE(receiver, 0);
    ASSERT_GE(sender, 0);

    CaptureCtrl capture;
    capture.SetLiveMode(GetParam());
    capture.SetHelperPath(QStringLiteral(LUMENO_CAPTURE_HELPER));
    capture.Prepare();
    const Adapter* lo = nullptr;
    for (int i = 1; capture.AdapterAt(i); ++i) {
        if (capture.AdapterAt(i)->name == "lo") lo = capture.AdapterAt(i);
    }
    ASSERT_NE(lo, nullptr) << "no loopback adapter in the list";
    capture.SetCurrentAdapter(*lo);
    test::CollectingSink sink;
    capture.SetPacketHandler([&](const DecodedPacket& p) { IntakePacket(p, "127.0.0.1", sink); });
    QString failure;
    QObject::connect(&capture, &CaptureCtrl::failed, [&](const QString& m) { failure = m; });
    QString error;
    ASSERT_TRUE(capture.SetFilter(QStringLiteral("udp dst port %1").arg(port), &error))
        << error.toStdString();
    if (!capture.Start(&error)) {
        if (error.contains("setcap")) GTEST_SKIP() << error.toStdString();
        FAIL() << error.toStdString();
    }
    const qint64 pid = capture.HelperProcessId();
    if (helper) {
        ASSERT_GT(pid, 0);
        EXPECT_EQ(EffectiveCapabilities(pid), 0u) << "the helper kept its capabilities";
    }

    constexpr int kDatagrams = 25;
    const sockaddr_in to = test::Loopback(port);
    const sockaddr_in other = test::Loopback(port == 9 ? 10 : 9);
    for (int i = 0; i < kDatagrams; ++i) {
        const char payload[32] = "lumeno live capture test";
        ::sendto(sender, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
        ::sendto(sender, "x", 1, 0, reinterpret_cast<const sockaddr*>(&other), sizeof other);
    }
    ::close(sender);
    ::close(receiver);

    EXPECT_TRUE(test::WaitUntil([&] { return sink.rows.size() >= kDatagrams; }, 5000));
    QTest::qWait(100);  // anything that should not come would by now
    capture.Stop();
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
    ASSERT_EQ(sink.rows.size(), static_cast<std::size_t>(kDatagrams));
    for (const auto& r : sink.rows) {
        // Both ends are 127.0.0.1; the destination is tested first, so it is incoming.
        EXPECT_EQ(r.transportType, "incomingUDP");
        EXPECT_EQ(r.sourceIP, "127.0.0.1");
        EXPECT_EQ(r.dstIP, "127.0.0.1");
        EXPECT_EQ(r.sourcePort, sendPort);
        EXPECT_EQ(r.dstPort, port);
        EXPECT_EQ(r.sourceMAC, "00:00:00:00:00:00");
        EXPECT_EQ(r.packetLen, 14 + 20 + 8 + 32);
    }
    // The helper's figures arrive with the last word it sends.
    const CaptureStats stats = capture.Statistics();
    EXPECT_EQ(stats.seen, static_cast<std::uint64_t>(kDatagrams));
    EXPECT_GE(stats.received, stats.seen);
    if (helper) {
        EXPECT_FALSE(QDir(QStringLiteral("/proc/%1").arg(pid)).exists()) << "helper left running";
    }

    // After Stop nothing more is delivered.
    QTest::qWait(50);
    EXPECT_EQ(sink.rows.size(), static_cast<std::size_t>(kDatagrams));
}

INSTANTIATE_TEST_SUITE_P(InProcessAndHelper, LiveCapture,
                         testing::Values(LiveMode::kInProcess, LiveMode::kHelper));

TEST(LiveCaptureError, AnAdapterThatDoesNotExistIsRefusedWithTheReason) {
    CaptureCtrl capture;
    Adapter none;
    none.name = "nosuchadapter0";
    capture.SetCurrentAdapter(none);
    QString error;
    EXPECT_FALSE(capture.Start(&error));
    EXPECT_FALSE(capture.IsCapturing());
    test::ExpectContains(error, {"nosuchadapter0"});
}

}  // namespace
}  // namespace lumeno
