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

// Bit k of Views feeds view k: time sequence, running port, waterfall, bit rainfall.
template <unsigned Views>
void BM_Scrolling(benchmark::State& state) {
    visTimeSequence timeSequence;
    visRunningPort runningPort;
    visBitData bitData;
    visWaterfallData waterfall;
    Traffic traffic;
    currentColor = colorIncomingTCP;
    int i = 0;
    for (auto _ : state) {
        if constexpr ((Views & 1) != 0) timeSequence.Plot(kClasses[i & 3]);
        if constexpr ((Views & 2) != 0) {
            runningPort.Plot("10.0.0.1", (i * 997) & 0xFFFF, "192.168.1.101", 1025);
        }
        if constexpr ((Views & 4) != 0) waterfall.PlotData(1514);
        if constexpr ((Views & 8) != 0) bitData.Graph(traffic.Next(), 1514);
        ++i;
    }
    state.SetLabel("built sizes, 1514-byte packets; time is per packet");
}
BENCHMARK(BM_Scrolling<15>)->Name("BM_ScrollingViewsTogether")->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Scrolling<1>)->Name("BM_TimeSequence")->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Scrolling<2>)->Name("BM_RunningPort")->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Scrolling<4>)->Name("BM_Waterfall")->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Scrolling<8>)->Name("BM_BitRainfall")->Unit(benchmark::kNanosecond);

}  // namespace
}  // namespace lumeno
