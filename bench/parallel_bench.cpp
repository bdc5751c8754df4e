// The six parallel-coordinate views at their built sizes, fed record fields as the fan-out
// does: nanoseconds per packet for all six together.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "packet/Colors.h"
#include "views/parallel/ParallelWindows.h"

namespace {

struct Fields {
    std::string sourceIP, dstIP;
    int sourcePort, dstPort;
    lumeno::Rgb color;
};

std::string Address(std::mt19937& rng, bool internal) {
    std::uniform_int_distribution<int> octet(0, 255);
    if (internal) return "192.168.1." + std::to_string(octet(rng));
    return std::to_string(octet(rng)) + "." + std::to_string(octet(rng)) + "." +
           std::to_string(octet(rng)) + "." + std::to_string(octet(rng));
}

// Bursty: a few hundred flows, each sending runs of packets, as on a real link.
std::vector<Fields> Bursty(int n) {
    std::mt19937 rng(7);
    const lumeno::Rgb colors[4] = {lumeno::colorIncomingTCP, lumeno::colorOutgoingTCP,
                                   lumeno::colorIncomingUDP, lumeno::colorOutgoingUDP};
    std::vector<Fields> flows;
    for (int i = 0; i < 300; ++i) {
        flows.push_back({Address(rng, false), Address(rng, true), int(rng() % 65536),
                         int(rng() % 65536), colors[rng() % 4]});
    }
    std::vector<Fields> out;
    std::geometric_distribution<int> run(0.1);  // runs of ten packets on average
    while (static_cast<int>(out.size()) < n) {
        const Fields& f = flows[rng() % flows.size()];
        for (int k = run(rng) + 1; k > 0 && static_cast<int>(out.size()) < n; --k) out.push_back(f);
    }
    return out;
}

// Worst case: no packet like the one before it.
std::vector<Fields> Scattered(int n) {
    std::mt19937 rng(11);
    const lumeno::Rgb colors[4] = {lumeno::colorIncomingTCP, lumeno::colorOutgoingTCP,
                                   lumeno::colorIncomingUDP, lumeno::colorOutgoingUDP};
    std::vector<Fields> out;
    for (int i = 0; i < n; ++i) {
        out.push_back({Address(rng, false), Address(rng, true), int(rng() % 65536),
                       int(rng() % 65536), colors[i % 4]});
    }
    return out;
}

struct SixViews {
    lumeno::visParallel port;
    lumeno::visParallelIP ip;
    lumeno::visParallelIPPort ipPort;
    lumeno::visParallelIPcustom custom;
    lumeno::visParallelDual dual;
    lumeno::visParallelDual_IPPI ippi;

    SixViews() {
        custom.Text1(0)->setText("192.168.1.10");
        custom.Text1(2)->setText("192.168.1.20");
    }
    void Plot(const Fields& f) {
        lumeno::currentColor = f.color;
        dual.parallelDual(f.sourceIP, f.sourcePort, f.dstIP, f.dstPort);
        ippi.parallelDual(f.sourceIP, f.sourcePort, f.dstIP, f.dstPort);
        port.parallelPort2Port(f.sourcePort, f.dstPort);
        ip.parallelIP2IP(f.sourceIP, f.dstIP);
        ipPort.Graph(f.sourceIP, f.dstPort);
        custom.parallelIP2IPcustom(f.sourceIP, f.dstIP);
    }
};

void Run(benchmark::State& state, const std::vector<Fields>& stream) {
    SixViews views;
    std::size_t i = 0;
    for (auto _ : state) {
        views.Plot(stream[i]);
        if (++i == stream.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());  // items: packets through all six views
}

void BM_SixParallelViews_Bursty(benchmark::State& state) {
    static const std::vector<Fields> stream = Bursty(1 << 20);
    Run(state, stream);
}
void BM_SixParallelViews_WorstCase(benchmark::State& state) {
    static const std::vector<Fields> stream = Scattered(1 << 20);
    Run(state, stream);
}
BENCHMARK(BM_SixParallelViews_Bursty)->MinTime(2.0);
BENCHMARK(BM_SixParallelViews_WorstCase)->MinTime(2.0);

}  // namespace

namespace {
// Random lines across a two-axis view's surface: what one line and one pixel cost, with the
// pixels kept in rows (argument 0) or in tiles (1), as the parallel views keep them.
void BM_LinesAcrossOneSurface(benchmark::State& state) {
    lumeno::PlotSurface surface(217, 380);
    if (state.range(0) == 1) surface.SetLayout(lumeno::PlotSurface::Layout::kTiles);
    std::mt19937 rng(5);
    std::vector<float> ys(4096);
    for (float& y : ys) y = static_cast<float>(rng() % 381);
    std::size_t i = 0;
    std::int64_t pixels = 0;
    for (auto _ : state) {
        const float y0 = ys[i], y1 = ys[i + 1];
        surface.Line(0, y0, 217, y1, lumeno::colorIncomingTCP + (i & 3));
        pixels += std::max<std::int64_t>(217, static_cast<std::int64_t>(std::abs(y1 - y0)));
        i = (i + 2) & 4095;
    }
    state.SetItemsProcessed(pixels);  // items: pixels
}
BENCHMARK(BM_LinesAcrossOneSurface)->Arg(0)->Arg(1);

// What a look at a two-axis view costs when its pixels are kept in tiles: the image is
// written out afresh after each change (a shown window, at most ~60 times a second).
void BM_LookAtATiledSurface(benchmark::State& state) {
    lumeno::PlotSurface surface(217, 380);
    surface.SetLayout(lumeno::PlotSurface::Layout::kTiles);
    float y = 0;
    for (auto _ : state) {
        surface.Line(0, y, 217, 380 - y, lumeno::colorIncomingTCP);
        y = y < 379 ? y + 1 : 0;
        benchmark::DoNotOptimize(surface.Image().constBits());
    }
}
BENCHMARK(BM_LookAtATiledSurface);
}  // namespace
