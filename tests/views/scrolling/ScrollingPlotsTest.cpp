#include "views/scrolling/ScrollingPlots.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "packet/Colors.h"

namespace lumeno {
namespace {

constexpr Rgb kBlack = MakeRgb(0, 0, 0);
constexpr Rgb kWhite = MakeRgb(255, 255, 255);
constexpr Rgb kPaint = MakeRgb(10, 20, 30);

// Colours of column x, top to bottom.
std::vector<Rgb> Column(const PlotSurface& s, int x) {
    std::vector<Rgb> out;
    for (int y = 0; y < s.Height(); ++y) out.push_back(s.PixelAt(x, y));
    return out;
}
// Colours of row y, left to right.
std::vector<Rgb> Row(const PlotSurface& s, int y) {
    std::vector<Rgb> out;
    for (int x = 0; x < s.Width(); ++x) out.push_back(s.PixelAt(x, y));
    return out;
}
std::vector<int> Lit(const std::vector<Rgb>& line, Rgb color) {
    std::vector<int> out;
    for (int i = 0; i < static_cast<int>(line.size()); ++i) {
        if (line[i] == color) out.push_back(i);
    }
    return out;
}
std::vector<int> Range(int from, int to) {
    std::vector<int> out;
    for (int i = from; i < to; ++i) out.push_back(i);
    return out;
}

// Distinct class colours for the test, the user's put back afterwards.
class ColorsGuard : public ::testing::Test {
  protected:
    void SetUp() override {
        for (std::size_t i = 0; i < colours_.size(); ++i) {
            saved_[i] = *colours_[i];
            *colours_[i] = i < 4 ? MakeRgb(int(i) + 1, 0, 0) : kPaint;
        }
    }
    void TearDown() override {
        for (std::size_t i = 0; i < colours_.size(); ++i) *colours_[i] = saved_[i];
    }
    const std::array<Rgb*, 5> colours_ = {&colorIncomingTCP, &colorOutgoingTCP, &colorIncomingUDP,
                                          &colorOutgoingUDP, &currentColor};
    std::array<Rgb, 5> saved_{};
};

using TimeSequencePlotTest = ColorsGuard;

TEST_F(TimeSequencePlotTest, EachClassPaintsOnlyItsQuarterAndWrongCaseStillAdvances) {
    PlotSurface s(6, 8, kBlack);
    TimeSequencePlot plot(s);
    plot.Plot("incomingTCP");
    plot.Plot("outgoingTCP");
    plot.Plot("incomingUDP");
    plot.Plot("outgoingUDP");
    plot.Plot("IncomingTCP");
    const Rgb a = colorIncomingTCP, b = colorOutgoingTCP, c = colorIncomingUDP,
              d = colorOutgoingUDP, k = kBlack;
    EXPECT_EQ(Column(s, 0), (std::vector<Rgb>{a, a, k, k, k, k, k, k}));
    EXPECT_EQ(Column(s, 1), (std::vector<Rgb>{k, k, b, b, k, k, k, k}));
    EXPECT_EQ(Column(s, 2), (std::vector<Rgb>{k, k, k, k, c, c, k, k}));
    EXPECT_EQ(Column(s, 3), (std::vector<Rgb>{k, k, k, k, k, k, d, d}));
    EXPECT_EQ(Column(s, 4), std::vector<Rgb>(8, kBlack));  // wrong case: nothing painted
    EXPECT_EQ(Column(s, 5), std::vector<Rgb>(8, kWhite));  // but the cursor moved on
    EXPECT_EQ(plot.scrollLocation(), 5);
}

TEST_F(TimeSequencePlotTest, FractionalBordersLeaveNoGapAndNoOverlap) {
    // Borders at H/4, H/2, 3H/4 rounded halves-to-even, each band ending before the next.
    struct Case {
        int h;
        std::vector<int> starts;  // first row of each band, then H
    };
    for (const Case& c :
         {Case{6, {0, 2, 3, 4, 6}}, Case{10, {0, 2, 5, 8, 10}}, Case{7, {0, 2, 4, 5, 7}},
          Case{201, {0, 50, 100, 151, 201}}, Case{3, {0, 1, 2, 2, 3}}}) {
        SCOPED_TRACE(c.h);
        const char* const kinds[] = {"incomingTCP", "outgoingTCP", "incomingUDP", "outgoingUDP"};
        const Rgb colours[] = {colorIncomingTCP, colorOutgoingTCP, colorIncomingUDP,
                               colorOutgoingUDP};
        std::vector<int> covered(c.h, 0);
        for (int band = 0; band < 4; ++band) {
            PlotSurface s(2, c.h, kBlack);
            TimeSequencePlot plot(s);
            plot.Plot(kinds[band]);
            const auto rows = Lit(Column(s, 0), colours[band]);
            EXPECT_EQ(rows, Range(c.starts[band], c.starts[band + 1])) << kinds[band];
            for (int r : rows) ++covered[r];
        }
        EXPECT_EQ(covered, std::vector<int>(c.h, 1));
    }
}

TEST_F(TimeSequencePlotTest, LastColumnHidesTheCursorAndTheNextPacketErasesColumnZero) {
    PlotSurface s(3, 4, kBlack);
    TimeSequencePlot plot(s);
    plot.Plot("outgoingUDP");  // column 0
    plot.Plot("outgoingUDP");  // column 1, cursor on 2
    plot.Plot("incomingTCP");  // column 2 (last): cursor off the surface
    EXPECT_EQ(plot.scrollLocation(), 0);
    EXPECT_EQ(Lit(Column(s, 2), colorIncomingTCP), (std::vector<int>{0}));
    EXPECT_EQ(Lit(Row(s, 0), kWhite), std::vector<int>{});
    plot.Plot("incomingUDP");  // wraps onto column 0, old bottom quarter erased
    EXPECT_EQ(Column(s, 0), (std::vector<Rgb>{kBlack, kBlack, colorIncomingUDP, kBlack}));
    EXPECT_EQ(Column(s, 1), std::vector<Rgb>(4, kWhite));
    // Reset blanks everything and starts over at column 0.
    plot.Reset();
    EXPECT_EQ(plot.scrollLocation(), 0);
    EXPECT_TRUE(Lit(Column(s, 1), kWhite).empty());
}

using RunningPortPlotTest = ColorsGuard;

TEST_F(RunningPortPlotTest, PortsLandOneRowAboveTheirScaledRow) {
    PlotSurface s(4, 400, kBlack);
    RunningPortPlot plot(s);  // external port by default
    plot.Plot("10.0.0.1", 0, "192.168.1.101", 1025);
    plot.Plot("10.0.0.1", 65535, "192.168.1.101", 1025);
    plot.Plot("10.0.0.1", 32768, "192.168.1.101", 1025);
    EXPECT_EQ(Lit(Column(s, 0), kPaint), (std::vector<int>{399}));  // bottom row
    // Row 0 - 1 lies off the surface: only the erased column is left, cursor beside it.
    EXPECT_EQ(Column(s, 1), std::vector<Rgb>(400, kBlack));
    EXPECT_EQ(Lit(Column(s, 2), kPaint), (std::vector<int>{199}));  // 200.003 -> 200, row 199
    EXPECT_EQ(Column(s, 3), std::vector<Rgb>(400, kWhite));
    EXPECT_EQ(plot.scrollLocation(), 3);
    // The internal port is the other parameter.
    plot.Select(RunningPortPlot::InternalPort);
    plot.Plot("10.0.0.1", 0, "192.168.1.101", 65535);
    EXPECT_TRUE(Lit(Column(s, 3), kPaint).empty());
    plot.Plot("10.0.0.1", 70000, "192.168.1.101", 0);
    EXPECT_EQ(Lit(Column(s, 0), kPaint), (std::vector<int>{399}));
}

TEST_F(RunningPortPlotTest, AddressesUseTheirFirstTwoOctets) {
    PlotSurface s(3, 201, kBlack);
    RunningPortPlot plot(s);
    plot.Select(RunningPortPlot::InternalIP);
    plot.Plot("192.168.1.101", 80, "10.1.200.3", 1025);  // 2561 -> row 193, point on 192
    EXPECT_EQ(Lit(Column(s, 0), kPaint), (std::vector<int>{192}));
    plot.Select(RunningPortPlot::ExternalIP);
    plot.Plot("0.0.7.7", 80, "10.1.200.3", 1025);  // bottom of the range
    EXPECT_EQ(Lit(Column(s, 1), kPaint), (std::vector<int>{200}));
    plot.Plot("10.1", 80, "10.1.200.3", 1025);  // no number: nothing drawn, still advances
    EXPECT_TRUE(Lit(Column(s, 2), kPaint).empty());
    EXPECT_EQ(plot.scrollLocation(), 0);
}

using BitRainPlotTest = ColorsGuard;

TEST_F(BitRainPlotTest, BitsRunMostSignificantFirstEightColumnsPerByte) {
    PlotSurface s(40, 3, kBlack);
    BitRainPlot plot(s);
    plot.maxBits = 40;
    const std::uint8_t bytes[] = {0x80, 0xFF, 0x01, 0x5A};
    plot.Graph(std::span(bytes, 1), 1);
    EXPECT_EQ(Lit(Row(s, 0), kPaint), (std::vector<int>{0}));
    plot.Graph(bytes, 4);
    std::vector<int> expected = {0};
    for (int c = 8; c < 16; ++c) expected.push_back(c);
    expected.insert(expected.end(), {23, 25, 27, 28, 30});  // 0x5A = 01011010
    EXPECT_EQ(Lit(Row(s, 1), kPaint), expected);
    EXPECT_EQ(Row(s, 2), std::vector<Rgb>(40, kWhite));
}

TEST_F(BitRainPlotTest, BitsBeyondMaxBitsAreCutAndLengthIsBoundedByTheBytes) {
    PlotSurface s(200, 2, kBlack);
    BitRainPlot plot(s);
    plot.maxBits = 180;
    std::vector<std::uint8_t> bytes(1514, 0xFF);
    plot.Graph(bytes, 1514);
    EXPECT_EQ(Lit(Row(s, 0), kPaint), Range(0, 181));  // columns 0..180
    // A length above the bytes actually given reads no further than they go.
    plot.Graph(std::span(bytes.data(), 2), 1514);
    EXPECT_EQ(Lit(Row(s, 1), kPaint), Range(0, 16));
    // Length 0 (or negative) still erases, draws the cursor and advances.
    plot.Graph(bytes, 0);
    EXPECT_TRUE(Lit(Row(s, 0), kPaint).empty());
    EXPECT_EQ(Row(s, 1), std::vector<Rgb>(200, kWhite));
    plot.Graph(bytes, -5);
    EXPECT_EQ(plot.scrollLocation(), 0);
}

TEST_F(BitRainPlotTest, ReportsTheWrapAfterTheBottomRow) {
    PlotSurface s(8, 3, kBlack);
    BitRainPlot plot(s);
    plot.maxBits = 8;
    const std::uint8_t b[] = {0xFF};
    EXPECT_FALSE(plot.Graph(b, 1));
    EXPECT_FALSE(plot.Graph(b, 1));
    EXPECT_TRUE(plot.Graph(b, 1));
    // The saved picture would hold all three rows; the top row is erased only by the next.
    EXPECT_EQ(Lit(Row(s, 0), kPaint).size(), 8u);
    EXPECT_FALSE(plot.Graph(std::span<const std::uint8_t>(), 0));
    EXPECT_TRUE(Lit(Row(s, 0), kPaint).empty());
}

using WaterfallPlotTest = ColorsGuard;

TEST_F(WaterfallPlotTest, BarLengthsRoundHalvesToEven) {
    PlotSurface s(180, 8, kBlack);
    WaterfallPlot plot(s);
    EXPECT_EQ(plot.ScaleLength(60), 7);  // 7.11
    EXPECT_EQ(plot.ScaleLength(1514), 180);
    EXPECT_EQ(plot.ScaleLength(759), 90);  // exactly half
    plot.PlotData(60);
    plot.PlotData(1514);
    plot.PlotData(759);
    plot.PlotData(32767);  // runs past the edge
    plot.PlotData(0);
    EXPECT_EQ(Lit(Row(s, 0), kPaint), Range(0, 7));
    EXPECT_EQ(Lit(Row(s, 1), kPaint), Range(0, 180));
    EXPECT_EQ(Lit(Row(s, 2), kPaint), Range(0, 90));
    EXPECT_EQ(Lit(Row(s, 3), kPaint), Range(0, 180));
    EXPECT_TRUE(Lit(Row(s, 4), kPaint).empty());
    EXPECT_EQ(Row(s, 5), std::vector<Rgb>(180, kWhite));
    // Exact halves go to the even neighbour: 759 bytes are half of the width.
    for (auto [width, bar] : {std::pair{5, 2}, std::pair{7, 4}, std::pair{3, 2}, std::pair{1, 0}}) {
        PlotSurface narrow(width, 1, kBlack);
        EXPECT_EQ(WaterfallPlot(narrow).ScaleLength(759), bar) << width;
    }
    PlotSurface wide(1518, 1, kBlack);
    WaterfallPlot exact(wide);
    EXPECT_EQ(exact.ScaleLength(1518), 1518);
}

}  // namespace
}  // namespace lumeno
