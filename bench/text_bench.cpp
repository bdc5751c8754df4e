// The header log and the body view together, shown, with 1514-byte packets: the cost per
// packet, including the pushes into the boxes (at most about 30 a second).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cstdint>
#include <vector>

#include "views/text/TextWindows.h"

namespace {

void BM_TextViewsShown(benchmark::State& state) {
    lumeno::visTxt headers;
    lumeno::visTxtBody body;
    headers.show();
    body.show();
    std::vector<std::uint8_t> packet(1514);
    for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<std::uint8_t>(i * 7);
    std::int32_t port = 1024;
    for (auto _ : state) {
        port = port == 65535 ? 1024 : port + 1;
        body.PrintBody(packet, 1514);
        headers.PrintHeader("00:1a:2b:3c:4d:5e", "203.0.113.9", port, "aa:bb:cc:dd:ee:ff",
                            "192.168.1.101", 443, "incomingTCP");
        headers.Refresh();
        body.Refresh();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextViewsShown)->MinTime(2.0);

}  // namespace
