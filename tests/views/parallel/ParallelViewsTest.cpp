#include <gtest/gtest.h>

#include <QString>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "packet/Colors.h"
#include "packet/Library.h"
#include "packet/PacketRecord.h"
#include "views/parallel/ParallelWindows.h"

namespace lumeno {
namespace {

// Pixels of the surface (or of rows top to bottom, columns from left on) in the colour c.
int CountColour(const PlotSurface& s, Rgb c, int top = 0, int bottom = -1, int left = 0) {
    int n = 0;
    for (int y = top; y <= (bottom < 0 ? s.Height() - 1 : bottom); ++y)
        for (int x = left; x < s.Width(); ++x) n += s.PixelAt(x, y) == c;
    return n;
}

bool Blank(const PlotSurface& s) {
    return CountColour(s, s.Background()) == s.Width() * s.Height();
}

// The position of an address text on the plot's axis, where it has one.
std::optional<int> Position(ParallelPlot& plot, std::string_view text) {
    std::int32_t y = -1;
    return plot.ConvertIP(text, y) ? std::optional<int>(y) : std::nullopt;
}

// Guards the position scale on a 400-pixel axis: the ends, either side of the middle,
// addresses by their first two octets, a height read afresh, remembered conversions (texts of
// one length differing in one character keep their own positions), a record's own address
// numbers, and the rounding.
TEST(ParallelScale, PositionsOnA400PixelAxisRoundHalvesToEven) {
    PlotSurface surface(300, 400);
    ParallelPlot plot(surface);
    for (auto [port, row] : {std::pair{0, 400}, {65535, 0}, {32767, 200}, {32768, 200}})
        EXPECT_EQ(plot.ConvertPort(port), row) << port;
    const std::pair<const char*, int> addresses[] = {
        {"10.1.200.7", 384},      {"255.255.255.255", 0},   {"0.0.0.0", 400},
        {"100.20.3.4", 244},      {"190.20.3.4", 103},      {"200.201.202.203", 86},
        {"100.201.202.203", 243}, {"200.201.202.2034", 86}, {"100.201.202.2034", 243},
        {"000000100.2.3.4", 244}, {"000000101.2.3.4", 242}, {"1.2.3.4", 398}};
    for (int round = 0; round < 2; ++round) {
        for (auto [address, row] : addresses) EXPECT_EQ(Position(plot, address), row) << address;
    }
    // A record's address numbers stand only for its very texts while it is drawn; any other
    // text, even an equal copy, is converted by itself.
    const std::string source = "10.1.200.7", dst = "192.168.1.101", copy = source;
    using Rows = std::vector<std::optional<int>>;
    {
        // Numbers unlike the texts', to see which one was taken.
        const KnownAddresses known(source, 65535, dst, std::nullopt);
        EXPECT_EQ((Rows{Position(plot, source), Position(plot, dst), Position(plot, copy),
                        Position(plot, "192.168.1.101")}),
                  (Rows{0, std::nullopt, 384, 99}));
    }
    EXPECT_EQ((Rows{Position(plot, source), Position(plot, dst)}), (Rows{384, 99}));
    surface.Resize(300, 100);
    EXPECT_EQ(plot.ConvertPort(32768), 50);
    std::int32_t y = 7;  // not four numbers: no position, the output left alone
    EXPECT_FALSE(plot.ConvertIP("10.1.2", y));
    EXPECT_EQ(y, 7);
    // Halves to even in both steps: at H = 32767.5 the factor is exactly 0.5.
    EXPECT_EQ(AxisPosition(1, 32767.5), 32768);  // 0.5 -> 0, 32767.5 -> 32768
    EXPECT_EQ(AxisPosition(3, 32767.5), 32766);  // 1.5 -> 2, 32765.5 -> 32766
    EXPECT_EQ(AxisPosition(5, 32767.5), 32766);  // 2.5 -> 2, 32765.5 -> 32766
    EXPECT_EQ(AxisPosition(32767, 1), 1);        // 0.49999 -> 0
    EXPECT_EQ(AxisPosition(32768, 1), 0);        // 0.50001 -> 1
}

// Guards the quick way to an address's number: it must give what IPToNumber gives for dotted
// texts, those just beside them, IPv6 texts and random texts of digits and dots.
TEST(ParallelScale, AnAddressNumberIsIPToNumberWhateverTheText) {
    std::vector<std::string> texts = {"", "1.2.3.4 "};
    for (const QString& t :
         QString("1.2.3.4|255.255.255.255|0.0.0.0|10.1.2|10.1.2.|10.1..|10..1.2|.10.1.2|"
                 "1234.5.6.7|12.3456.7.8|01.002.3.4|999.999.1.1|1.2.3.4.5.6|a.b.c.d|1a.2.3.4|"
                 "1.2b.3.4|1.2.3.4x|...|2147483647.9.9.9|-1.2.3.4|1.2|::1|fe80::1.2.3.4")
             .split('|'))
        texts.push_back(t.toStdString());
    std::mt19937 rng(3);
    for (int i = 0; i < 5000; ++i) {
        std::string t(rng() % 20, ' ');
        for (char& c : t) c = "0123456789..x"[rng() % 13];
        texts.push_back(t);
    }
    for (const std::string& t : texts) EXPECT_EQ(AddressNumber(t), IPToNumber(t)) << t;
}

class ParallelViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        colorIncomingTCP = kDefaultIncomingTCP;
        colorOutgoingUDP = kDefaultOutgoingUDP;
        colorBackground = kDefaultBackground;
        SetPacketColor(kIncomingTCP);
    }
};

// Guards the four-axis views: the meeting points at W/3 and (W/3)*2 unrounded (for W = 301
// another picture than 100 and 200 give), and the order of the fields on the axes.
TEST_F(ParallelViewTest, FourAxisViewsMeetAtUnroundedThirdsWithTheFieldsInOrder) {
    const Rgb c = colorIncomingTCP;
    PlotSurface s(301, 300), expected(301, 300);
    ParallelPlot(s).FourAxes({300, 0, 300, 0}, c);
    const float w = 301.0f;
    expected.Line(0, 300, w / 3, 0, c);
    expected.Line(w / 3, 0, (w / 3) * 2, 300, c);
    expected.Line((w / 3) * 2, 300, w, 0, c);
    EXPECT_EQ(s.Image(), expected.Image());
    // External port 65535 and address 0.x: the port-first view falls from the top left, the
    // address-first view rises from the bottom left; no address: skipped.
    visParallelDual piip;
    visParallelDual_IPPI ippi;
    piip.parallelDual("10.1.2", 65535, "192.168.1.101", 0);  // no address: skipped
    EXPECT_TRUE(Blank(piip.Surface()));
    piip.parallelDual("0.0.0.1", 65535, "192.168.1.101", 0);
    ippi.parallelDual("0.0.0.1", 65535, "192.168.1.101", 0);
    EXPECT_EQ(piip.Surface().PixelAt(0, 0), colorIncomingTCP);
    EXPECT_EQ(ippi.Surface().PixelAt(0, 0), ippi.Surface().Background());
    EXPECT_EQ(ippi.Surface().PixelAt(1, ippi.Surface().Height() - 1), colorIncomingTCP);
}

// Guards the custom view's matching: every box holding the address character for
// character gets a segment; empty boxes, a trailing blank or another form never match.
TEST_F(ParallelViewTest, TheCustomViewDrawsToEveryBoxThatHoldsTheAddressExactly) {
    visParallelIPcustom view;
    PlotSurface& s = view.Surface();
    ASSERT_EQ(QSize(s.Width(), s.Height()), QSize(208, 376));
    auto rightEdge = [&](int from, int to) {
        return CountColour(s, colorIncomingTCP, from, to, 196);
    };
    view.Text1(1)->setText("192.168.1.101 ");
    view.Text1(2)->setText("192.168.001.101");
    view.parallelIP2IPcustom("10.0.0.1", "192.168.1.101");
    EXPECT_TRUE(Blank(s));
    view.Text1(0)->setText("192.168.1.101");
    view.Text1(4)->setText("192.168.1.101");
    view.parallelIP2IPcustom("10.0.0.1", "192.168.1.101");
    EXPECT_GT(rightEdge(0, 2), 0);
    EXPECT_GT(rightEdge(373, 375), 0);
    EXPECT_EQ(rightEdge(80, 300), 0);
}

// Guards the category positions on a 402-pixel axis, 0, 100.5, 201, 301.5 and 402 rounded
// halves to even: a level line from the same row on the left proves the row on the right.
TEST(ParallelCategories, PositionsOnA402PixelAxisRoundHalvesToEven) {
    const int rows[5] = {0, 100, 201, 302, 402};
    for (int k = 0; k < 5; ++k) {
        PlotSurface s(208, 402);
        std::array<std::string_view, 5> boxes{};
        boxes[k] = "192.168.1.101";
        ParallelPlot(s).Categories(rows[k], boxes, "192.168.1.101", kDefaultIncomingTCP);
        // The whole row and nothing else; the bottom edge row lies off the surface.
        EXPECT_EQ(CountColour(s, kDefaultIncomingTCP), k < 4 ? 208 : 0) << k;
        if (k < 4) {
            EXPECT_EQ(CountColour(s, kDefaultIncomingTCP, rows[k], rows[k]), 208) << k;
        }
    }
}

// Guards the two-axis view's orientation (source on the left, 65535 at the top, edge to
// edge) and the skipping of a repeated record only while nothing was drawn or erased since.
TEST_F(ParallelViewTest, ARepeatedRecordIsSkippedOnlyWhenThatLeavesThePictureAsItIs) {
    visParallel view;
    PlotSurface& s = view.Surface();
    view.parallelPort2Port(0, 65535);
    const std::uint64_t drawn = s.Version();
    view.parallelPort2Port(0, 65535);
    EXPECT_EQ(s.Version(), drawn);
    SetPacketColor(kOutgoingUDP);
    view.parallelPort2Port(65535, 0);  // the source on the left, 65535 at the top
    EXPECT_EQ(s.PixelAt(0, 0), colorOutgoingUDP);
    EXPECT_EQ(s.PixelAt(s.Width() - 1, s.Height() - 1), colorOutgoingUDP);
    SetPacketColor(kIncomingTCP);
    view.parallelPort2Port(0, 65535);
    // Steep: one pixel per row, but for row 380 (port 0), which lies just off the surface.
    EXPECT_EQ(CountColour(s, colorIncomingTCP), s.Height() - 1);
    s.Erase();
    view.parallelPort2Port(0, 65535);
    EXPECT_FALSE(Blank(s));
}

}  // namespace
}  // namespace lumeno
