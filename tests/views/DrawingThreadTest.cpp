#include "views/DrawingThread.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <array>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "capture/CaptureTestSupport.h"
#include "packet/Colors.h"
#include "views/parallel/ParallelWindows.h"
#include "views/scrolling/ScrollingWindows.h"

namespace lumeno {
namespace {

// The six parallel views and the scrolling views drawn with them.
struct Six {
    visParallel port;
    visParallelIP ip;
    visParallelIPPort ipPort;
    visParallelIPcustom custom;
    visParallelDual dual;
    visParallelDual_IPPI ippi;
    visTimeSequence timeSequence;
    visRunningPort runningPort;
    visWaterfallData waterfall;
    visBitData bitData;
    DrawingThread::Views Views() {
        return {&dual,   &ippi,         &port,        &ip,        &ipPort,
                &custom, &timeSequence, &runningPort, &waterfall, &bitData};
    }
    std::vector<PlotSurface*> Surfaces() {
        return {&port.Surface(),         &ip.Surface(),          &ipPort.Surface(),
                &custom.Surface(),       &dual.Surface(),        &ippi.Surface(),
                &timeSequence.Surface(), &runningPort.Surface(), &waterfall.Surface(),
                &bitData.Surface()};
    }
};

// A record and the storage its fields point into.
struct Record {
    std::string sourceIP, dstIP;
    std::int32_t sourcePort, dstPort;
    Rgb color = kDefaultIncomingTCP;
    const char* type = "incomingTCP";
    std::vector<std::uint8_t> bytes = {};
    std::int16_t packetLen = 0;
};

// Runs of one flow, texts that are no address (one too long to hand over, drawn here in its
// turn); one flow in five over IPv6, some with the longest text there is; in the middle third
// only packets unlike the one before. Bytes beyond what a record carries, lengths beyond them.
std::vector<Record> Stream(int n) {
    std::mt19937 rng(5);
    const Rgb colors[4] = {kDefaultIncomingTCP, kDefaultOutgoingTCP, kDefaultIncomingUDP,
                           kDefaultOutgoingUDP};
    const char* types[4] = {"incomingTCP", "outgoingTCP", "incomingUDP", "outgoingUDP"};
    auto octet = [&] { return std::to_string(rng() % 256); };
    std::vector<Record> out;
    while (static_cast<int>(out.size()) < n) {
        const bool scattered = out.size() >= n / 3u && out.size() < 2u * n / 3u;
        const int v6 = rng() % 10;
        const std::string source = v6 == 0   ? "2001:db8:" + octet() + "::" + octet()
                                   : v6 == 1 ? "ffff:ffff:ffff:ffff:ffff:ffff:ffff:" + octet()
                                             : octet() + "." + octet() + ".7." + octet();
        const Record flow{source,
                          (v6 < 2 ? "2001:db8:1::" : "192.168.1.") + std::to_string(rng() % 4),
                          int(rng() % 65536), int(rng() % 65536)};
        for (int k = scattered ? 0 : int(rng() % 20); k >= 0; --k) {
            Record& r = out.emplace_back(flow);
            r.color = colors[rng() % 4];
            r.type = types[rng() % 4];
            r.bytes.resize(rng() % 100);
            for (std::uint8_t& b : r.bytes) b = static_cast<std::uint8_t>(rng());
            r.packetLen = static_cast<std::int16_t>(r.bytes.size() + rng() % 2 * (rng() % 1600));
        }
        for (const char* bad :
             {"10.1.2", "010.000.000.001.000", "0010.0000.0000.0001.0000.0000.0000.0000.1"}) {
            if (!scattered && rng() % 50 == 0) out.push_back({bad, "192.168.1.1", 1, 2});
        }
    }
    return out;
}

// Guards the drawing thread: every picture exactly as on one thread, through runs longer than
// its queue, size and box text changes between batches, views changing hands (long batches
// leave it behind, short ones let it catch up), the work taken back and handed over again
// mid-batch, and running images saved now and then, just as many.
TEST(DrawingThread, TheDrawingThreadGivesTheSamePicturesAsOne) {
    const test::RunningImagesHere images;
    Six one, two;
    DrawingThread direct, threaded;
    threaded.SetThreaded(true);
    ASSERT_TRUE(threaded.Threaded());  // else the test would compare one thread with itself
    for (Six* six : {&one, &two}) {
        six->custom.Text1(0)->setText("192.168.1.1");
        six->custom.Text1(3)->setText("192.168.1.2");
    }
    auto same = [&](std::size_t batch) {
        const auto a = one.Surfaces(), c = two.Surfaces();
        for (std::size_t i = 0; i < a.size(); ++i)
            ASSERT_EQ(a[i]->Image(), c[i]->Image()) << "view " << i << ", batch " << batch;
    };
    const std::vector<Record> records = Stream(30000);
    const std::size_t batches[] = {1, 700, 12000, 4096, 50, 30000};
    std::size_t at = 0;
    for (std::size_t b = 0; at < records.size(); ++b) {
        for (const std::size_t end = std::min(records.size(), at + batches[b % 6]); at < end;
             ++at) {
            const Record& r = records[at];
            const DrawingThread::Fields fields{r.sourceIP, r.sourcePort, r.dstIP, r.dstPort,
                                               r.type,     r.color,      r.bytes, r.packetLen};
            // Ticked and cleared in the middle of batches, as well as between them.
            if (at % 6000 == 4000)
                for (Six* six : {&one, &two}) six->bitData.chkSnapshots()->toggle();
            if (at % 9000 == 2000) threaded.SetTakenBack(true);
            if (at % 9000 == 5000) {
                EXPECT_FALSE(threaded.Sharing());
                threaded.SetTakenBack(false);
            }
            direct.Plot(one.Views(), fields);
            threaded.Plot(two.Views(), fields);
        }
        threaded.Sync();
        threaded.SetViewsDrawnHere(static_cast<int>(b % 5));
        if (b == 2) {
            for (Six* six : {&one, &two}) {
                PlotSurface& s = six->port.Surface();
                s.Resize(s.Width() + 13, s.Height() + 7);
                six->custom.Text1(2)->setText("192.168.1.3");
                six->runningPort.cmbVerticalType()->setCurrentIndex(RunningPortPlot::ExternalIP);
            }
        }
        if (b % 2 == 1) same(b);
    }
    same(~std::size_t{0});
    EXPECT_GT(one.bitData.snapshotCount(), 1);
    EXPECT_EQ(one.bitData.snapshotCount(), two.bitData.snapshotCount());
    threaded.SetThreaded(false);
}

// The hand-over judged from what stretches of work cost: wall time per record
// while shared and while drawing alone, phase by phase (a core busy elsewhere, then free).
TEST(DrawingThread, WorkComesBackWhileSharingDoesNotGainAndGoesOverWhenItDoes) {
    // Each phase: until when (s), then wall time per record (in some unit) shared and alone.
    using Phases = std::vector<std::array<double, 3>>;
    // The phases, how often the work came back, the least and most fraction of the time
    // shared, and whether shared at the end.
    const std::tuple<const char*, Phases, int, double, double, bool> cases[] = {
        {"quiet machine", {{20, 0.55, 1.0}}, 0, 1.0, 1.0, true},
        // Retries after 0.2, 0.4, ... 3.2 s, then every 3.2 s: 10 in 20 s, a few ms each.
        {"sharing gains too little", {{20, 0.93, 1.0}}, 10, 0.0, 0.02, false},
        // A retry within 3.2 s of the core coming free; from then on shared.
        {"busy, then free", {{5, 1.1, 1.0}, {20, 0.55, 1.0}}, 5, 0.6, 0.8, true},
        // Shared again at the first retry after the core is free; busy again, retried after
        // 0.2 s again, not after the longest interval seen before (6 take-backs, not 3).
        {"busy twice", {{1, .55, 1}, {9, 1.1, 1}, {13, .55, 1}, {20, 1.1, 1}}, 12, .15, .25, false},
        // A loaded machine where one thread gets only 2/3 of a core: sharing still gains.
        {"everything slower", {{20, 1.2, 1.5}}, 1, 0.98, 1.0, true},
    };
    for (const auto& [name, phases, backs, least, most, sharedAtEnd] : cases) {
        SCOPED_TRACE(name);
        HandOver handOver;
        const double stretch = 0.004;  // a batch
        double now = 0, shared = 0;
        int takeBacks = 0;
        std::size_t phase = 0;
        for (int i = 0; now < phases.back()[0]; ++i) {
            while (now >= phases[phase][0]) ++phase;
            const bool wasShared = handOver.Shared();
            const double ratio = phases[phase][wasShared ? 1 : 2];
            now = (i + 1) * stretch;
            if (wasShared) shared += stretch;
            if (handOver.Add({stretch, stretch / ratio}, now) && wasShared) ++takeBacks;
        }
        EXPECT_EQ(takeBacks, backs);
        EXPECT_GE(shared / now, least - 1e-9);
        EXPECT_LE(shared / now, most + 1e-9);
        EXPECT_EQ(handOver.Shared(), sharedAtEnd);
    }
}

}  // namespace
}  // namespace lumeno
