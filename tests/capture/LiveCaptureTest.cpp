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
// datagrams to 127.0.0.1, and checks what the intake made of them. Needs the capture
// privilege; without it the test says why and is skipped.
TEST(LiveCapture, LoopbackTrafficArrivesClassified) {
    CaptureCtrl capture;
    capture.Prepare();
    const Adapter* lo = nullptr;
    for (int i = 1; capture.AdapterAt(i); ++i) {
        if (capture.AdapterAt(i)->name == "lo") lo = capture.AdapterAt(i);
    }
    ASSERT_NE(lo, nullptr) << "no loopback adapter in the list";
    capture.SetCurrentAdapter(*lo);

    test::CollectingSink sink;
    capture.SetPacketHandler([&](const DecodedPacket& p) { IntakePacket(p, "127.0.0.1", sink); });
    QString error;
    if (!capture.Start(&error)) {
        if (error.contains("setcap")) GTEST_SKIP() << error.toStdString();
        FAIL() << error.toStdString();
    }

    std::uint16_t udpPort = 0, sendPort = 0;
    const int receiver = test::BoundSocket(SOCK_DGRAM, udpPort);
    const int sender = test::BoundSocket(SOCK_DGRAM, sendPort);
    ASSERT_GE(receiver, 0);
    ASSERT_GE(sender, 0);
    constexpr int kDatagrams = 25;
    const sockaddr_in to = test::Loopback(udpPort);
    for (int i = 0; i < kDatagrams; ++i) {
        const char payload[32] = "lumeno live capture test";
        ::sendto(sender, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    ::close(sender);
    ::close(receiver);

    auto ours = [&] {
        std::vector<test::Row> rows;
        for (const auto& r : sink.rows) {
            if (r.dstPort == udpPort) rows.push_back(r);
        }
        return rows;
    };
    test::WaitUntil([&] { return ours().size() >= kDatagrams; }, 5000);
    const CaptureStats stats = capture.Statistics();
    capture.Stop();

    ASSERT_EQ(ours().size(), static_cast<std::size_t>(kDatagrams));
    for (const auto& r : ours()) {
        // Both ends are 127.0.0.1; the destination is tested first, so it is incoming.
        EXPECT_EQ(r.transportType, "incomingUDP");
        EXPECT_EQ(r.sourceIP, "127.0.0.1");
        EXPECT_EQ(r.dstIP, "127.0.0.1");
        EXPECT_EQ(r.sourcePort, sendPort);
        EXPECT_EQ(r.sourceMAC, "00:00:00:00:00:00");
        EXPECT_EQ(r.packetLen, 14 + 20 + 8 + 32);
    }
    EXPECT_GE(stats.seen, static_cast<std::uint64_t>(kDatagrams));
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

}  // namespace
}  // namespace lumeno
