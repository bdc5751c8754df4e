#include "views/DrawingThread.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <random>
#include <string>
#include <vector>

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

struct Record {
    std::string sourceIP, dstIP;
    std::int32_t sourcePort, dstPort;
    Rgb color;
    const char* type = "incomingTCP";
    std::vector<std::uint8_t> bytes = {};
    std::int16_t packetLen = 0;
};

// Runs of one flow in both directions, scattered packets, and texts that are no address
// (one too long to hand over, drawn on this thread in its turn); in the middle third only
// packets unlike the one before, which leave the drawing thread behind. Bytes up to more
// than a record carries over, and lengths that may claim more than the bytes.
std::vector<Record> Stream(int n) {
    std::mt19937 rng(5);
    const Rgb colors[4] = {kDefaultIncomingTCP, kDefaultOutgoingTCP, kDefaultIncomingUDP,
                           kDefaultOutgoingUDP};
    const char* types[4] = {"incomingTCP", "outgoingTCP", "incomingUDP", "outgoingUDP"};
    auto octet = [&] { return std::to_string(rng() % 256); };
    std::vector<Record> out;
    while (static_cast<int>(out.size()) < n) {
        const bool scattered = out.size() >= n / 3u && out.size() < 2u * n / 3u;
        const Record flow{octet() + "." + octet() + ".7." + octet(),
                          "192.168.1." + std::to_string(rng() % 4), int(rng() % 65536),
                          int(rng() % 65536), colors[0]};
        for (int k = scattered ? 0 : int(rng() % 20); k >= 0; --k) {
            Record& r = out.emplace_back(flow);
            r.color = colors[rng() % 4];
            r.type = types[rng() % 4];
            r.bytes.resize(rng() % 100);
            for (std::uint8_t& b : r.bytes) b = static_cast<std::uint8_t>(rng());
            r.packetLen = static_cast<std::int16_t>(r.bytes.size() + rng() % 2 * (rng() % 1600));
        }
        if (scattered) continue;
        if (rng() % 50 == 0) out.push_back({"10.1.2", "192.168.1.1", 1, 2, colors[0]});
        if (rng() % 50 == 0) out.push_back({"010.000.000.001.000", "192.168.1.2", 3, 4, colors[1]});
    }
    return out;
}

// Guards the drawing thread: it must leave every picture exactly as drawing on one thread
// does, through runs longer than its queue, window size changes and box texts set between
// batches, while views change hands between the threads (long batches leave the drawing
// thread behind, short ones let it catch up), and while the rainfall saves running images
// now and then (drawn on this thread then) with just as many saved.
TEST(DrawingThread, TheDrawingThreadGivesTheSamePicturesAsOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ImageContext& context = RunningImageContext();
    const ImageContext saved = context;
    context.directory = dir.path();
    Six one, two;
    DrawingThread direct, threaded;
    threaded.SetThreaded(true);
    ASSERT_TRUE(threaded.Threaded());
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
            if (at % 6000 == 4000) {
                for (Six* six : {&one, &two}) six->bitData.chkSnapshots()->toggle();
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
    context = saved;
}

}  // namespace
}  // namespace lumeno
