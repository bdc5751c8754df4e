#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <tuple>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::WaitUntil;

// A replay driven to its end, with what the pacing reported on the way.
struct PacedRun {
    CaptureCtrl capture;
    int frames = 0;
    bool ended = false;
    std::vector<double> gaps;

    PacedRun(const std::string& path, double speed, double maxGap) {
        capture.SetCurrentAdapter(CaptureCtrl::FileAdapter(path));
        capture.SetReplaySpeed(speed);
        capture.SetMaxGap(maxGap);
        capture.SetPacketHandler([this](const DecodedPacket&) { ++frames; });
        QObject::connect(&capture, &CaptureCtrl::finished, [this] { ended = true; });
        QObject::connect(&capture, &CaptureCtrl::gapSkipped,
                         [this](double seconds) { gaps.push_back(seconds); });
    }
};

// A recording with a night in it replays at its pace without the night: each gap longer
// than the limit is cut to it and the time left out is reported, once per gap and in sum.
// Without a limit, or at full speed, nothing is cut.
TEST(ReplayPacing, LongGapsAreCutToTheLimitAndTheSkippedTimeReported) {
    const test::Bytes frame = test::Ethernet(test::Ipv4());
    constexpr double kNight = 20 * 3600;
    const std::string night = test::WriteEthernetFile("night.pcap", {{1000, frame},
                                                                     {1000.2, frame},
                                                                     {1000.2 + kNight, frame},
                                                                     {1000.4 + kNight, frame},
                                                                     {1000.4 + kNight + 3, frame}});
    const std::string shortGaps =
        test::WriteEthernetFile("short.pcap", {{1000, frame}, {1000.3, frame}, {1000.6, frame}});
    // file, speed, largest gap, the cuts, least and most seconds the replay takes
    const std::tuple<std::string, double, double, std::vector<double>, double, double> cases[] = {
        {night, 1, 0.25, {kNight - 0.25, 2.75}, 0.85, 1.6},  // 0.2 + 0.25 + 0.2 + 0.25
        {night, 2, 1, {kNight - 1, 2}, 1.1, 1.9},            // (0.2 + 1 + 0.2 + 1) / 2
        {shortGaps, 1, 0, {}, 0.55, 1.2},                    // no limit: as recorded
        {shortGaps, 1, 0.1, {0.2, 0.2}, 0.15, 0.7},
        {night, 0, 1, {}, 0, 1.0},  // as fast as possible: no pace, nothing cut
    };
    for (const auto& [path, speed, maxGap, cuts, least, most] : cases) {
        PacedRun run(path, speed, maxGap);
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(run.capture.Start(nullptr));
        ASSERT_TRUE(WaitUntil([&] { return run.ended; }, 10000));
        const double seconds = clock.elapsed() / 1000.0;
        const std::string what =
            path + " at " + std::to_string(speed) + ", gaps up to " + std::to_string(maxGap);
        EXPECT_TRUE(seconds >= least && seconds <= most) << what << ": " << seconds << " s";
        ASSERT_EQ(run.gaps.size(), cuts.size()) << what;
        double sum = 0;
        for (std::size_t i = 0; i < cuts.size(); ++i) {
            EXPECT_NEAR(run.gaps[i], cuts[i], 1e-3) << what;
            sum += cuts[i];
        }
        const ReplayPosition at = run.capture.Position();
        EXPECT_NEAR(at.skippedSeconds, sum, 1e-3) << what;
        EXPECT_EQ(at.bytesRead, at.totalBytes) << what;
        EXPECT_GT(at.lastStamp, 999.0) << what;
    }
}

// Paused, nothing is read or delivered, and the recorded time does not run on; resumed,
// the replay reaches the same end, with the same figures, as one never paused.
TEST(ReplayPacing, PauseStopsDeliveryAndResumeReachesTheSameEnd) {
    std::vector<test::TimedFrame> frames;
    for (int i = 0; i < 40; ++i) {
        test::Ipv4Fields f;
        f.sourcePort = static_cast<std::uint16_t>(1000 + i);
        frames.push_back({2000 + 0.02 * i, test::Ethernet(test::Ipv4(f))});
    }
    const std::string path = test::WriteEthernetFile("pause.pcap", frames);
    const test::FileRun plain = test::ReplayFile(path, "192.168.1.101");
    ASSERT_TRUE(plain.finished);

    PacedRun run(path, 1, 1);
    test::CollectingSink sink;
    run.capture.SetPacketHandler([&](const DecodedPacket& p) {
        ++run.frames;
        IntakePacket(p, "192.168.1.101", sink);
    });
    EXPECT_TRUE(run.capture.CanPause());
    ASSERT_TRUE(run.capture.Start(nullptr));
    ASSERT_TRUE(WaitUntil([&] { return run.frames >= 10; }));
    run.capture.SetPaused(true);
    EXPECT_TRUE(run.capture.IsPaused());
    const int atPause = run.frames;
    const ReplayPosition before = run.capture.Position();
    QTest::qWait(600);  // longer than the rest of the recording
    EXPECT_EQ(run.frames, atPause);
    EXPECT_EQ(run.capture.Position().bytesRead, before.bytesRead);
    EXPECT_LT(before.bytesRead, before.totalBytes);
    QElapsedTimer clock;
    clock.start();
    run.capture.SetPaused(false);
    ASSERT_TRUE(WaitUntil([&] { return run.ended; }));
    // What was left plays at its pace: the pause did not count as recorded time passing.
    EXPECT_GE(clock.elapsed(), (40 - atPause - 2) * 20 - 40);
    EXPECT_EQ(run.frames, 40);
    EXPECT_EQ(run.capture.Statistics().seen, plain.seen);
    EXPECT_EQ(sink.rows, plain.rows);

    // A live adapter cannot be paused.
    CaptureCtrl live;
    live.SetCurrentAdapter({"lo", {}, false});
    EXPECT_FALSE(live.CanPause());
}

}  // namespace
}  // namespace lumeno
