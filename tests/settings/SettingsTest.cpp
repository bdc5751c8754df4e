#include "settings/frmSettings.h"

#include <gtest/gtest.h>

#include <QTest>

#include "app/frmMain.h"
#include "packet/Colors.h"

namespace lumeno {
namespace {

Rgb SwatchColor(const frmSettings& s, int k) {
    const QColor c = s.Shape1(k)->palette().color(QPalette::Window);
    return MakeRgb(c.red(), c.green(), c.blue());
}

TEST(ColorSettings, DefaultsComeFromTheSwatches) {
    frmMain w;
    frmSettings& s = w.Settings();
    const Rgb defaults[5] = {MakeRgb(192, 64, 0), MakeRgb(255, 128, 0), MakeRgb(0, 128, 0),
                             MakeRgb(0, 255, 0), MakeRgb(0, 0, 0)};
    const Rgb* inUse[5] = {&colorIncomingUDP, &colorOutgoingUDP, &colorIncomingTCP,
                           &colorOutgoingTCP, &colorBackground};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(SwatchColor(s, k), defaults[k]) << k;
        EXPECT_EQ(*inUse[k], defaults[k]) << k;
    }
}

TEST(ColorSettings, APickAppliesFromTheNextPacketAndCancelKeepsTheColour) {
    frmMain w;
    frmSettings& s = w.Settings();
    Rgb offered = 0;
    std::optional<Rgb> answer = MakeRgb(10, 20, 30);
    s.SetColorChooser([&](Rgb current, QWidget*) {
        offered = current;
        return answer;
    });
    QTest::mouseClick(s.ColorButton(2), Qt::LeftButton);  // "TCP in Color"
    EXPECT_EQ(offered, MakeRgb(0, 128, 0));               // opened on the current colour
    EXPECT_EQ(colorIncomingTCP, MakeRgb(10, 20, 30));
    EXPECT_EQ(SwatchColor(s, 2), MakeRgb(10, 20, 30));
    SetPacketColor("incomingTCP");
    EXPECT_EQ(currentColor, MakeRgb(10, 20, 30));

    answer = std::nullopt;  // cancelled
    QTest::mouseClick(s.ColorButton(2), Qt::LeftButton);
    EXPECT_EQ(colorIncomingTCP, MakeRgb(10, 20, 30));
    EXPECT_EQ(SwatchColor(s, 2), MakeRgb(10, 20, 30));
    EXPECT_EQ(colorOutgoingTCP, MakeRgb(0, 255, 0));
}

TEST(ColorSettings, ANewBackgroundRepaintsOnlyThePortToPortView) {
    frmMain w;
    frmSettings& s = w.Settings();
    PlotSurface& port = w.Views().Parallel().Surface();
    PlotSurface& ip = w.Views().ParallelIP().Surface();
    port.Line(0, 3, 100, 3, MakeRgb(0, 255, 0));
    ip.Line(0, 3, 100, 3, MakeRgb(0, 255, 0));
    s.SetColorChooser([](Rgb, QWidget*) { return MakeRgb(0, 0, 90); });
    s.PickColor(4);
    EXPECT_EQ(colorBackground, MakeRgb(0, 0, 90));
    EXPECT_EQ(port.Background(), MakeRgb(0, 0, 90));
    EXPECT_EQ(port.PixelAt(50, 3), MakeRgb(0, 0, 90));  // erased to the new colour
    EXPECT_EQ(ip.Background(), MakeRgb(0, 0, 0));
    EXPECT_EQ(ip.PixelAt(50, 3), MakeRgb(0, 255, 0));
}

TEST(ColorSettings, ClosedAndReopenedItShowsTheDefaultsButTheChoiceStays) {
    frmMain w;
    frmSettings* first = &w.Settings();
    first->SetColorChooser([](Rgb, QWidget*) { return MakeRgb(1, 1, 1); });
    first->PickColor(0);
    first->show();
    first->close();
    frmSettings& again = w.Settings();
    EXPECT_NE(&again, first);
    EXPECT_EQ(SwatchColor(again, 0), MakeRgb(192, 64, 0));
    EXPECT_EQ(colorIncomingUDP, MakeRgb(1, 1, 1));
}

}  // namespace
}  // namespace lumeno
