#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>

#include "packet/Colors.h"
#include "packet/PacketRecord.h"
#include "views/parallel/ParallelLayout.h"
#include "views/parallel/ParallelWindows.h"

namespace lumeno {
namespace {

// Pixels of the surface in the colour c.
int CountColour(const PlotSurface& s, Rgb c) {
    int n = 0;
    for (int y = 0; y < s.Height(); ++y)
        for (int x = 0; x < s.Width(); ++x) n += s.PixelAt(x, y) == c;
    return n;
}

bool Blank(const PlotSurface& s) {
    return CountColour(s, s.Background()) == s.Width() * s.Height();
}

TEST(ParallelScale, PositionsOnA400PixelAxis) {
    PlotSurface surface(300, 400);
    ParallelPlot plot(surface);
    // 32767 -> 199.997, 32768 -> 200.003.
    for (auto [port, row] : {std::pair{0, 400}, {65535, 0}, {443, 397}, {32767, 200}, {32768, 200}})
        EXPECT_EQ(plot.ConvertPort(port), row) << port;
    std::int32_t y = -1;
    // Only the first two octets count.
    for (auto [address, row] : {std::pair{"10.1.200.7", 384},
                                {"10.1.3.4", 384},
                                {"192.168.1.5", 99},
                                {"255.255.255.255", 0},
                                {"0.0.0.0", 400}}) {
        ASSERT_TRUE(plot.ConvertIP(address, y));
        EXPECT_EQ(y, row) << address;
    }
    // Texts converted just before are remembered, so texts of one length that differ in a
    // single character, in turn, must each keep their own position.
    for (int round = 0; round < 2; ++round) {
        for (auto [address, row] : {std::pair{"100.20.3.4", 244},
                                    {"190.20.3.4", 103},
                                    {"150.20.3.4", 165},
                                    {"200.201.202.203", 86},
                                    {"100.201.202.203", 243},
                                    {"200.201.202.2034", 86},
                                    {"100.201.202.2034", 243},
                                    {"000000100.2.3.4", 244},
                                    {"000000101.2.3.4", 242},
                                    {"1.2.3.4", 398},
                                    {"9.2.3.4", 386}}) {
            ASSERT_TRUE(plot.ConvertIP(address, y));
            EXPECT_EQ(y, row) << address;
        }
    }
    // The height is read afresh: a new size gives new positions at once.
    surface.Resize(300, 100);
    EXPECT_EQ(plot.ConvertPort(32768), 50);
    // A text that is no four-part address has no position and leaves the output alone.
    y = 7;
    EXPECT_FALSE(plot.ConvertIP("10.1.2", y));
    EXPECT_EQ(y, 7);
}

TEST(ParallelScale, BothStepsRoundHalvesToTheEvenNeighbour) {
    // At H = 32767.5 the factor is exactly 0.5: odd values give halves in the first step,
    // and H - y0 gives halves in the second.
    EXPECT_EQ(AxisPosition(1, 32767.5), 32768);  // 0.5 -> 0, 32767.5 -> 32768
    EXPECT_EQ(AxisPosition(3, 32767.5), 32766);  // 1.5 -> 2, 32765.5 -> 32766
    EXPECT_EQ(AxisPosition(5, 32767.5), 32766);  // 2.5 -> 2, 32765.5 -> 32766
    EXPECT_EQ(AxisPosition(32767, 1), 1);        // 0.49999 -> 0
    EXPECT_EQ(AxisPosition(32768, 1), 0);        // 0.50001 -> 1
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

TEST_F(ParallelViewTest, TwoAxisViewsDrawOneSegmentEdgeToEdgeInTheClassColour) {
    visParallel view;
    PlotSurface& s = view.Surface();
    ASSERT_EQ(s.Height(), 380);
    const int w = s.Width();
    // Ports 32767 and 32768 both at row 190: a horizontal line over every column.
    view.parallelPort2Port(32767, 32768);
    for (int x = 0; x < w; ++x) EXPECT_EQ(s.PixelAt(x, 190), colorIncomingTCP) << x;
    EXPECT_EQ(CountColour(s, colorIncomingTCP), w);

    // A later line of another class paints over the crossing.
    SetPacketColor(kOutgoingUDP);
    view.parallelPort2Port(65535, 0);  // from the top left to the bottom right
    EXPECT_EQ(s.PixelAt(0, 0), colorOutgoingUDP);
    const int crossing = w / 2;
    bool overdrawn = false;
    for (int x = crossing - 2; x <= crossing + 2; ++x) {
        overdrawn = overdrawn || s.PixelAt(x, 190) == colorOutgoingUDP;
    }
    EXPECT_TRUE(overdrawn);
    EXPECT_EQ(s.PixelAt(w - 1, 379), colorOutgoingUDP);
}

TEST_F(ParallelViewTest, AddressViewsPlaceByTheFirstTwoOctetsAndSkipWhatIsNoAddress) {
    visParallelIP ip;
    visParallelIPPort ipPort;
    // 10.0.x.x and 10.0.y.y fall on one row: the second record changes nothing.
    ip.parallelIP2IP("10.0.0.1", "192.168.1.101");
    const QImage first = ip.Surface().Image().copy();
    ip.parallelIP2IP("10.0.200.9", "192.168.77.3");
    EXPECT_EQ(ip.Surface().Image(), first);

    const std::uint64_t before = ipPort.Surface().Version();
    ip.parallelIP2IP("10.1.2", "192.168.1.101");
    ipPort.Graph("not an address", 80);
    EXPECT_EQ(ip.Surface().Image(), first);
    EXPECT_EQ(ipPort.Surface().Version(), before);
}

TEST_F(ParallelViewTest, FourAxisViewsMeetAtUnroundedThirds) {
    for (int width : {300, 301}) {
        PlotSurface s(width, 300), expected(width, 300);
        ParallelPlot plot(s);
        plot.FourAxes({300, 0, 300, 0}, colorIncomingTCP);
        const float w = static_cast<float>(width);
        expected.Line(0, 300, w / 3, 0, colorIncomingTCP);
        expected.Line(w / 3, 0, (w / 3) * 2, 300, colorIncomingTCP);
        expected.Line((w / 3) * 2, 300, w, 0, colorIncomingTCP);
        EXPECT_EQ(s.Image(), expected.Image()) << width;
        if (width == 301) {
            // Rounding the meeting points (100, 200) would give another picture.
            PlotSurface rounded(width, 300);
            rounded.Line(0, 300, 100, 0, colorIncomingTCP);
            rounded.Line(100, 0, 200, 300, colorIncomingTCP);
            rounded.Line(200, 300, w, 0, colorIncomingTCP);
            EXPECT_NE(s.Image(), rounded.Image());
        }
    }
}

TEST_F(ParallelViewTest, FourAxisViewsPutTheFieldsOnTheirAxes) {
    visParallelDual piip;
    visParallelDual_IPPI ippi;
    // External port 65535 and address 0.x: the first segment of the port-first view falls
    // from the top left, that of the address-first view rises from the bottom left.
    piip.parallelDual("0.0.0.1", 65535, "192.168.1.101", 0);
    ippi.parallelDual("0.0.0.1", 65535, "192.168.1.101", 0);
    EXPECT_EQ(piip.Surface().PixelAt(0, 0), colorIncomingTCP);
    EXPECT_EQ(ippi.Surface().PixelAt(0, 0), ippi.Surface().Background());
    EXPECT_EQ(ippi.Surface().PixelAt(1, ippi.Surface().Height() - 1), colorIncomingTCP);
}

TEST_F(ParallelViewTest, TheCustomViewDrawsToEveryBoxThatHoldsTheAddressExactly) {
    visParallelIPcustom view;
    PlotSurface& s = view.Surface();
    ASSERT_EQ(QSize(s.Width(), s.Height()), QSize(208, 376));
    auto rightEdge = [&](int from, int to) {
        int n = 0;
        for (int y = from; y <= to; ++y)
            for (int x = 196; x < 208; ++x) n += s.PixelAt(x, y) == colorIncomingTCP;
        return n;
    };
    // Empty boxes never match, nor does the address with a trailing blank.
    view.Text1(1)->setText("192.168.1.101 ");
    view.parallelIP2IPcustom("10.0.0.1", "192.168.1.101");
    EXPECT_TRUE(Blank(s));
    // The same address in the top and the bottom box: one segment to each corner.
    view.Text1(0)->setText("192.168.1.101");
    view.Text1(4)->setText("192.168.1.101");
    view.parallelIP2IPcustom("10.0.0.1", "192.168.1.101");
    EXPECT_GT(rightEdge(0, 2), 0);
    EXPECT_GT(rightEdge(373, 375), 0);
    EXPECT_EQ(rightEdge(80, 300), 0);
    // Case and form count: no parsing of either text.
    view.Surface().Erase();
    view.Text1(0)->setText("192.168.001.101");
    view.Text1(4)->clear();
    view.parallelIP2IPcustom("10.0.0.1", "192.168.1.101");
    EXPECT_TRUE(Blank(s));
}

TEST(ParallelCategories, PositionsOnA402PixelAxisRoundHalvesToEven) {
    // Category k at 0, 100 (100.5), 201, 302 (301.5), 402: a level line from the same row
    // on the left proves the row on the right.
    const int rows[5] = {0, 100, 201, 302, 402};
    for (int k = 0; k < 5; ++k) {
        PlotSurface s(208, 402);
        ParallelPlot plot(s);
        std::array<std::string_view, 5> boxes{};
        boxes[k] = "192.168.1.101";
        plot.Categories(rows[k], boxes, "192.168.1.101", colorIncomingTCP);
        if (rows[k] == 402) {
            EXPECT_TRUE(Blank(s));  // the bottom edge row lies off the surface
            continue;
        }
        EXPECT_EQ(CountColour(s, colorIncomingTCP), 208) << k;
        for (int x = 0; x < 208; ++x) ASSERT_EQ(s.PixelAt(x, rows[k]), colorIncomingTCP) << k;
    }
}

TEST_F(ParallelViewTest, ARepeatedRecordIsSkippedOnlyWhenThatLeavesThePictureAsItIs) {
    visParallel view;
    PlotSurface& s = view.Surface();
    view.parallelPort2Port(0, 65535);
    const std::uint64_t drawn = s.Version();
    view.parallelPort2Port(0, 65535);
    EXPECT_EQ(s.Version(), drawn);  // nothing to do
    // After a crossing line of another colour, the same record must paint over it again.
    SetPacketColor(kOutgoingUDP);
    view.parallelPort2Port(65535, 0);
    SetPacketColor(kIncomingTCP);
    view.parallelPort2Port(0, 65535);
    // Steep: one pixel per row, but for row 380 (port 0), which lies just off the surface.
    EXPECT_EQ(CountColour(s, colorIncomingTCP), s.Height() - 1);
    // And after an erase, it is drawn afresh.
    s.Erase();
    view.parallelPort2Port(0, 65535);
    EXPECT_FALSE(Blank(s));
}

TEST_F(ParallelViewTest, EveryResizeEmptiesThePictureAndMinimumSizesHold) {
    visParallel two;
    visParallelDual four;
    visParallelIPcustom custom;
    for (ParallelWindow* w : std::initializer_list<ParallelWindow*>{&two, &four, &custom})
        w->show();
    QTest::qWait(10);
    two.parallelPort2Port(1000, 60000);
    four.parallelDual("1.2.3.4", 5, "6.7.8.9", 10);
    ASSERT_FALSE(Blank(two.Surface()));
    two.resize(two.width() + 1, two.height());
    four.resize(four.width(), four.height() + 1);
    QTest::qWait(10);
    EXPECT_TRUE(Blank(two.Surface()));
    EXPECT_TRUE(Blank(four.Surface()));
    EXPECT_EQ(two.Surface().Width(), two.width());
    EXPECT_EQ(two.Surface().Height(), two.height() - 60);

    // Dragged smaller, they snap back to their minimum outer size, frame included.
    two.resize(100, 100);
    four.resize(100, 100);
    QTest::qWait(10);
    EXPECT_EQ(two.frameGeometry().size(), QSize(Twips(3250), Twips(2500)));
    EXPECT_EQ(four.frameGeometry().size(), QSize(Twips(5500), Twips(2500)));
    EXPECT_EQ(two.Surface().Height(), two.height() - 60);
    // The custom window keeps its built size.
    custom.resize(500, 500);
    QTest::qWait(10);
    EXPECT_EQ(custom.size(), QSize(Twips(5085), Twips(6600)));
    EXPECT_EQ(custom.picGraph()->geometry(), QRect(0, 32, 208, 376));
}

TEST(ParallelLayout, TwoAxisLabelsAt210By440) {
    LabelBoxes labels{{{"65535", 615},
                       {"0", 615},
                       {"65535", 615},
                       {"0", 615},
                       {"External", 855},
                       {"Internal", 855, LabelBox::kRight}}};
    const ParallelPlaces p = PlaceTwoAxes({210, 440}, labels, 37, 10);
    EXPECT_EQ(p.surface, QRect(0, 20, 210, 380));
    const QPoint corners[] = {{0, 5}, {0, 400}, {210 - 37, 5}, {200, 400}, {0, 420}, {150, 420}};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(p.labels[i].topLeft(), corners[i]) << i;
    EXPECT_EQ(p.labels[5].size(), QSize(57, 17));
}

TEST(ParallelLayout, FourAxisMarkersAndCentredLabels) {
    LabelBoxes labels{};
    for (LabelBox& l : labels) l = {"x", 615};
    labels[6].widthTwips = 1455;  // 97 pixels
    for (int width : {300, 301}) {
        const ParallelPlaces p = PlaceFourAxes({width, 260}, labels);
        EXPECT_EQ(p.markerA, 100);
        EXPECT_EQ(p.markerB, 200);
        EXPECT_EQ(p.markerHeight, 200);
        EXPECT_EQ(p.labels[2].left(), width - 41);  // flush right
        EXPECT_EQ(p.labels[9].top(), 220);
    }
    EXPECT_EQ(PlaceFourAxes({300, 260}, labels).labels[6].left(), 52);  // 100 - 48.5, to even
}

}  // namespace
}  // namespace lumeno
