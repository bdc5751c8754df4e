#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>
#include <numeric>
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
        {night, 2, 1, {kNight - 1, 2}, 1.1, 1.9},  // (0.2 + 1 + 0.2 + 1) / 2
        {shortGaps, 1, 0, {}, 0.55, 1.2},          // no limit: as recorded
        {night, 0, 1, {}, 0, 1.0},                 // as fast as possible: no pace, nothing cut
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
        EXPECT_THAT(run.gaps, testing::Pointwise(testing::DoubleNear(1e-3), cuts)) << what;
        const ReplayPosition at = run.capture.Position();
        EXPECT_NEAR(at.skippedSeconds, std::accumulate(cuts.begin(), cuts.end(), 0.0), 1e-3);
        EXPECT_EQ(at.bytesRead, at.totalBytes) << what;
        EXPECT_GT(at.lastStamp, 999.0) << what;
    }
}

// A change of pace mid-replay applies at once and from where the replay stands: the part
// of a wait already spent counts at the old pace and the rest at the new one, so slowing
// down neither stalls nor jumps ahead, and speeding up does not wait out a wait counted at
// the old pace (not even a long gap kept whole). Every packet still arrives.
TEST(ReplayPacing, AChangeOfPaceMidReplayGoesOnFromWhereItStands) {
    const test::Bytes frame = test::Ethernet(test::Ipv4());
    std::vector<test::TimedFrame> steady;  // 2 s of recording, a packet every 10 ms
    for (int i = 0; i < 200; ++i) steady.push_back({3000 + 0.01 * i, frame});
    const std::string even = test::WriteEthernetFile("even.pcap", steady);
    const std::string night = test::WriteEthernetFile(
        "night-kept.pcap", {{3000, frame}, {3000.05, frame}, {3000.05 + 20 * 3600, frame}});
    // what, file, pace, largest gap, packets delivered before the change, the new pace
    const std::tuple<const char*, std::string, double, double, int, double> cases[] = {
        {"slowed from 10 to 1", even, 10, 1, 50, 1},
        {"sped up from 1 to as fast as possible", even, 1, 1, 20, 0},
        {"slowed from 10 to 1 while a cut gap is waited for", night, 10, 1, 2, 1},
        {"sped up while a long gap is kept whole", night, 1, 0, 2, 0},
    };
    for (const auto& [what, path, from, maxGap, after, to] : cases) {
        SCOPED_TRACE(what);
        PacedRun run(path, from, maxGap);
        QElapsedTimer sinceLast;
        run.capture.SetPacketHandler([&](const DecodedPacket&) {
            ++run.frames;
            sinceLast.start();
        });
        ASSERT_TRUE(run.capture.Start(nullptr));
        ASSERT_TRUE(WaitUntil([&] { return run.frames >= after; }));
        QElapsedTimer clock;
        clock.start();
        run.capture.SetReplaySpeed(to);
        // Recorded time from the last packet delivered to the end, as the pace sees it.
        const double toEnd = path == even ? (200 - run.frames) * 0.01 : maxGap;
        const double left = std::max(0.0, toEnd - sinceLast.elapsed() / 1000.0 * from);
        const double expected = to > 0 ? left / to : 0;
        ASSERT_TRUE(WaitUntil([&] { return run.ended; }, 10000));
        const double seconds = clock.elapsed() / 1000.0;
        EXPECT_GE(seconds, expected * 0.9 - 0.1);
        EXPECT_LE(seconds, expected + 0.35);
        EXPECT_EQ(run.capture.Statistics().seen, path == even ? 200u : 3u);
    }
}

}  // namespace
}  // namespace lumeno
