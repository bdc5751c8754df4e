#include "views/scrolling/ScrollingPlots.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "packet/Colors.h"

namespace lumeno {
namespace {

constexpr Rgb kBlack = MakeRgb(0, 0, 0);
constexpr Rgb kWhite = MakeRgb(255, 255, 255);
constexpr Rgb kPaint = MakeRgb(10, 20, 30);

// Colours of column x top to bottom, or of row y left to right.
std::vector<Rgb> Column(const PlotSurface& s, int x, bool row = false) {
    std::vector<Rgb> out;
    for (int i = 0; i < (row ? s.Width() : s.Height()); ++i)
        out.push_back(row ? s.PixelAt(i, x) : s.PixelAt(x, i));
    return out;
}
std::vector<Rgb> Row(const PlotSurface& s, int y) {
    return Column(s, y, true);
}
std::vector<int> Lit(const std::vector<Rgb>& line, Rgb color = kPaint) {
    std::vector<int> out;
    for (int i = 0; i < static_cast<int>(line.size()); ++i)
        if (line[i] == color) out.push_back(i);
    return out;
}
std::vector<int> Range(int from, int to) {
    std::vector<int> out;
    for (int i = from; i < to; ++i) out.push_back(i);
    return out;
}

// The default class colours (distinct, none black or white); records paint in kPaint.
class ScrollingPlot : public ::testing::Test {
  protected:
    void SetUp() override {
        colorIncomingTCP = kDefaultIncomingTCP;
        colorOutgoingTCP = kDefaultOutgoingTCP;
        colorIncomingUDP = kDefaultIncomingUDP;
        colorOutgoingUDP = kDefaultOutgoingUDP;
        currentColor = kPaint;
    }
};

// Guards the class bands: each class paints only its own quarter, the borders at H/4, H/2
// and 3H/4 rounded halves to even with no gap and no overlap (an empty band at H = 3).
TEST_F(ScrollingPlot, TimeSequenceBandsHaveBordersRoundedHalfToEven) {
    const char* const kinds[] = {"incomingTCP", "outgoingTCP", "incomingUDP", "outgoingUDP"};
    const Rgb colours[] = {colorIncomingTCP, colorOutgoingTCP, colorIncomingUDP, colorOutgoingUDP};
    for (auto [h, starts] :
         {std::pair{6, std::array{0, 2, 3, 4, 6}}, {10, {0, 2, 5, 8, 10}}, {3, {0, 1, 2, 2, 3}}}) {
        PlotSurface s(5, h, kBlack);
        TimeSequencePlot plot(s);
        for (int band = 0; band < 4; ++band) {
            plot.Plot(kinds[band]);
            const std::vector<Rgb> column = Column(s, band);
            EXPECT_EQ(Lit(column, colours[band]), Range(starts[band], starts[band + 1])) << h;
            EXPECT_EQ(int(Lit(column, kBlack).size()), h - (starts[band + 1] - starts[band])) << h;
        }
    }
}

// Guards the scroll at the last column: the cursor goes off the surface, the position wraps,
// the next packet erases column 0 first; a type in the wrong case paints nothing but still
// advances.
TEST_F(ScrollingPlot, TimeSequenceWrapsAfterTheLastColumn) {
    PlotSurface s(3, 4, kBlack);
    TimeSequencePlot plot(s);
    plot.Plot("outgoingUDP");
    plot.Plot("IncomingTCP");
    EXPECT_EQ(Column(s, 1), std::vector<Rgb>(4, kBlack));
    EXPECT_EQ(Column(s, 2), std::vector<Rgb>(4, kWhite));
    plot.Plot("incomingTCP");  // the last column: cursor off the surface
    EXPECT_EQ(plot.scrollLocation(), 0);
    EXPECT_EQ(Lit(Column(s, 2), colorIncomingTCP), (std::vector<int>{0}));
    EXPECT_TRUE(Lit(Row(s, 0), kWhite).empty());
    plot.Plot("incomingUDP");
    EXPECT_EQ(Column(s, 0), (std::vector<Rgb>{kBlack, kBlack, colorIncomingUDP, kBlack}));
    EXPECT_EQ(Column(s, 1), std::vector<Rgb>(4, kWhite));
}

// Guards the running plot's rows: a value lands one row above its scaled row (65535 just
// off the top), the chosen quantity is the one drawn and a new choice clears in place, addresses go
// by their first two octets, and a text that is no address draws nothing but still advances.
TEST_F(ScrollingPlot, RunningPortValuesLandOneRowAboveTheirScaledRow) {
    PlotSurface s(4, 400, kBlack);
    RunningPortPlot plot(s);  // external port by default
    for (const int port : {0, 65535, 32768}) plot.Plot("10.0.0.1", port, "192.168.1.101", 1025);
    EXPECT_EQ(Lit(Column(s, 0)), (std::vector<int>{399}));
    EXPECT_EQ(Column(s, 1), std::vector<Rgb>(400, kBlack));
    EXPECT_EQ(Lit(Column(s, 2)), (std::vector<int>{199}));  // 200.003 -> 200, row 199
    plot.Select(RunningPortPlot::InternalPort);             // clears the picture, keeps the column
    EXPECT_TRUE(Lit(Column(s, 0)).empty());
    EXPECT_EQ(plot.scrollLocation(), 3);
    plot.Plot("10.0.0.1", 0, "192.168.1.101", 65535);
    EXPECT_TRUE(Lit(Column(s, 3)).empty());
    plot.Plot("10.0.0.1", 70000, "192.168.1.101", 0);
    EXPECT_EQ(Lit(Column(s, 0)), (std::vector<int>{399}));

    PlotSurface a(2, 201, kBlack);
    RunningPortPlot addresses(a);
    addresses.Select(RunningPortPlot::InternalIP);
    addresses.Plot("192.168.1.101", 80, "10.1.200.3", 1025);  // 2561 -> row 193, point on 192
    EXPECT_EQ(Lit(Column(a, 0)), (std::vector<int>{192}));
    addresses.Plot("192.168", 80, "10.1", 1025);
    EXPECT_TRUE(Lit(Column(a, 1)).empty());
    EXPECT_EQ(addresses.scrollLocation(), 0);
}

// Guards the bit order (most significant first, eight columns per byte), the cut at
// maxBits with clear bits and the rest of the row erased, a length bounded by the bytes
// given, a length of 0 or less still scrolling, and the wrap reported for the packet
// that drew the bottom row.
TEST_F(ScrollingPlot, BitRainOrderCutAndWrap) {
    PlotSurface s(200, 3, kBlack);
    BitRainPlot plot(s);
    plot.maxBits = 180;
    const std::uint8_t bytes[] = {0x80, 0xFF, 0x01, 0x5A};
    EXPECT_FALSE(plot.Graph(bytes, 4));
    std::vector<int> expected = {0, 8, 9, 10, 11, 12, 13, 14, 15, 23, 25, 27, 28, 30};
    EXPECT_EQ(Lit(Row(s, 0)), expected);
    EXPECT_EQ(Lit(Row(s, 0), kBlack).size(), 200 - expected.size());
    std::vector<std::uint8_t> ones(1514, 0xFF);
    EXPECT_FALSE(plot.Graph(ones, 1514));      // over the cursor: the rest of the row erased
    EXPECT_EQ(Lit(Row(s, 1)), Range(0, 181));  // columns 0..180
    EXPECT_EQ(Lit(Row(s, 1), kBlack), Range(181, 200));
    // The bottom row completes a sweep; the top row stays for the saved picture until the
    // next packet erases it.
    EXPECT_TRUE(plot.Graph(std::span(ones.data(), 2), 1514));
    EXPECT_EQ(Lit(Row(s, 2)), Range(0, 16));
    EXPECT_EQ(Lit(Row(s, 0)), expected);
    EXPECT_FALSE(plot.Graph(ones, 0));
    EXPECT_TRUE(Lit(Row(s, 0)).empty());
    plot.Graph(ones, -5);
    EXPECT_EQ(plot.scrollLocation(), 2);
}

// Guards the bar lengths: 1518 bytes span the width, exact halves round to the even
// neighbour, and lengths past the edge are cut to it.
TEST_F(ScrollingPlot, WaterfallBarLengthsRoundHalvesToEven) {
    PlotSurface s(180, 5, kBlack);
    WaterfallPlot plot(s);
    for (std::int16_t length : {60, 1514, 759, 32767, 0}) plot.PlotData(length);
    EXPECT_EQ(Lit(Row(s, 0)), Range(0, 7));    // 7.11
    EXPECT_EQ(Lit(Row(s, 1)), Range(0, 180));  // 179.53
    EXPECT_EQ(Lit(Row(s, 2)), Range(0, 90));   // exactly half
    EXPECT_EQ(Lit(Row(s, 3)), Range(0, 180));
    EXPECT_TRUE(Lit(Row(s, 4)).empty());
    for (auto [width, bar] : {std::pair{5, 2}, {7, 4}, {3, 2}, {1, 0}, {1518, 759}}) {
        PlotSurface narrow(width, 1, kBlack);
        EXPECT_EQ(WaterfallPlot(narrow).ScaleLength(759), bar) << width;
    }
}

// Guards stepping over a packet whose line a later one paints over before anyone looks: in
// each of the four plots, over runs shorter and longer than a sweep, the picture (cursor
// included) and the position are those of drawing every packet.
TEST_F(ScrollingPlot, APacketWhoseLineIsPaintedAgainIsOnlySteppedOver) {
    std::mt19937 rng(3);
    auto check = [&](const char* name, auto make, auto draw) {
        SCOPED_TRACE(name);
        PlotSurface all(7, 5, kBlack), stepped(7, 5, kBlack);
        auto plotAll = make(all), plotStepped = make(stepped);
        for (const int run : {3, 1, 12, 7, 6, 30}) {
            for (int i = 0; i < run; ++i) {
                currentColor = MakeRgb(rng() % 256, 1, 2);
                const std::uint32_t packet = rng();
                draw(plotAll, packet);
                if (run - 1 - i >= plotStepped.Lines()) {
                    plotStepped.Skip();
                } else {
                    draw(plotStepped, packet);
                }
            }
            EXPECT_EQ(all.Image(), stepped.Image()) << "run of " << run;
            EXPECT_EQ(plotAll.scrollLocation(), plotStepped.scrollLocation());
        }
    };
    const char* const kinds[] = {"incomingTCP", "outgoingTCP", "incomingUDP", "outgoingUDP"};
    check(
        "time", [](PlotSurface& s) { return TimeSequencePlot(s); },
        [&](TimeSequencePlot& p, std::uint32_t r) { p.Plot(kinds[r % 4]); });
    check(
        "port", [](PlotSurface& s) { return RunningPortPlot(s); },
        [](RunningPortPlot& p, std::uint32_t r) { p.Plot("10.0.0.1", r % 65536, "10.0.0.2", 80); });
    check(
        "waterfall", [](PlotSurface& s) { return WaterfallPlot(s); },
        [](WaterfallPlot& p, std::uint32_t r) { p.PlotData(static_cast<std::int16_t>(r % 1600)); });
    check(
        "rain",
        [](PlotSurface& s) {
            BitRainPlot p(s);
            p.maxBits = 6;
            return p;
        },
        [](BitRainPlot& p, std::uint32_t r) {
            const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(r >> 16), 0x81};
            p.Graph(bytes, static_cast<std::int16_t>(r % 1600));
        });
}

}  // namespace
}  // namespace lumeno
