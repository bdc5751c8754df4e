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

// Each button must start from its swatch and open the chooser on the colour in use, set its
// own colour and swatch and no other, keep the colour when cancelled, and apply from the
// next packet; a new background repaints the port-to-port view only; closing the window
// must not lose the choices.
TEST(ColorSettings, EachPickSetsItsOwnColourAndOutlivesTheWindow) {
    frmMain w;
    frmSettings& s = w.Settings();
    PlotSurface& port = w.Views().Parallel().Surface();
    PlotSurface& ip = w.Views().ParallelIP().Surface();
    port.Line(0, 3, 100, 3, MakeRgb(0, 255, 0));
    ip.Line(0, 3, 100, 3, MakeRgb(0, 255, 0));
    Rgb* const inUse[5] = {&colorIncomingUDP, &colorOutgoingUDP, &colorIncomingTCP,
                           &colorOutgoingTCP, &colorBackground};
    Rgb original[5];
    for (int k = 0; k < 5; ++k) original[k] = *inUse[k];
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(SwatchColor(s, k), original[k]) << k;
        Rgb offered = 0;
        std::optional<Rgb> answer = MakeRgb(10, 20, 30 + k);
        s.SetColorChooser([&](Rgb current, QWidget*) {
            offered = current;
            return answer;
        });
        QTest::mouseClick(s.ColorButton(k), Qt::LeftButton);
        EXPECT_EQ(offered, original[k]) << k;
        answer = std::nullopt;  // cancelled
        QTest::mouseClick(s.ColorButton(k), Qt::LeftButton);
        EXPECT_EQ(SwatchColor(s, k), MakeRgb(10, 20, 30 + k)) << k;
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(*inUse[j], j <= k ? MakeRgb(10, 20, 30 + j) : original[j]) << k << j;
        }
    }
    SetPacketColor("incomingTCP");
    EXPECT_EQ(currentColor, MakeRgb(10, 20, 32));
    EXPECT_EQ(port.PixelAt(50, 3), MakeRgb(10, 20, 34));  // erased to the new colour
    EXPECT_EQ(ip.PixelAt(50, 3), MakeRgb(0, 255, 0));

    s.show();
    s.close();
    EXPECT_EQ(SwatchColor(w.Settings(), 0), original[0]);  // a new window, from the defaults
    EXPECT_EQ(colorIncomingUDP, MakeRgb(10, 20, 30));      // but the choice stays
}

}  // namespace
}  // namespace lumeno
