// Cost per packet of the four scrolling views at their built sizes, fed as the view manager
// feeds them (hidden windows, 1514-byte packets).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "packet/Colors.h"
#include "views/scrolling/ScrollingWindows.h"

namespace lumeno {
namespace {

// Many different packets, so that no branch predictor learns the bytes of one.
struct Traffic {
    static constexpr int kPackets = 256;
    std::vector<std::vector<std::uint8_t>> packets;
    int next = 0;
    Traffic() {
        std::uint32_t seed = 12345;
        for (int p = 0; p < kPackets; ++p) {
            std::vector<std::uint8_t> bytes(1514);
            for (auto& b : bytes) {
                seed = seed * 1103515245u + 12345u;
                b = static_cast<std::uint8_t>(seed >> 16);
            }
            packets.push_back(std::move(bytes));
        }
    }
    const std::vector<std::uint8_t>& Next() {
        next = (next + 1) % kPackets;
        return packets[next];
    }
};

const char* const kClasses[] = {"incomingTCP", "outgoingTCP", "incomingUDP", "outgoingUDP"};

void BM_ScrollingViewsTogether(benchmark::State& state) {
    visTimeSequence timeSequence;
    visRunningPort runningPort;
    visBitData bitData;
    visWaterfallData waterfall;
    Traffic traffic;
    currentColor = colorIncomingTCP;
    std::int32_t port = 0;
    int i = 0;
    for (auto _ : state) {
        timeSequence.Plot(kClasses[i & 3]);
        runningPort.Plot("10.0.0.1", port, "192.168.1.101", 1025);
        waterfall.PlotData(1514);
        bitData.Graph(traffic.Next(), 1514);
        port = (port + 997) & 0xFFFF;
        ++i;
    }
    state.counters["ns_per_packet"] =
        benchmark::Counter(static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel("built sizes, 1514-byte packets");
}
BENCHMARK(BM_ScrollingViewsTogether)->Unit(benchmark::kNanosecond);

template <int View>
void BM_ScrollingViewAlone(benchmark::State& state) {
    visTimeSequence timeSequence;
    visRunningPort runningPort;
    visBitData bitData;
    visWaterfallData waterfall;
    Traffic traffic;
    currentColor = colorIncomingTCP;
    int i = 0;
    for (auto _ : state) {
        if constexpr (View == 0) timeSequence.Plot(kClasses[i & 3]);
        if constexpr (View == 1) runningPort.Plot("10.0.0.1", (i * 997) & 0xFFFF, "1.1.1.1", 1);
        if constexpr (View == 2) waterfall.PlotData(1514);
        if constexpr (View == 3) bitData.Graph(traffic.Next(), 1514);
        ++i;
    }
}
BENCHMARK(BM_ScrollingViewAlone<0>)->Name("BM_TimeSequence")->Unit(benchmark::kNanosecond);
BENCHMARK(BM_ScrollingViewAlone<1>)->Name("BM_RunningPort")->Unit(benchmark::kNanosecond);
BENCHMARK(BM_ScrollingViewAlone<2>)->Name("BM_Waterfall")->Unit(benchmark::kNanosecond);
BENCHMARK(BM_ScrollingViewAlone<3>)->Name("BM_BitRainfall")->Unit(benchmark::kNanosecond);

}  // namespace
}  // namespace lumeno
