#include "views/scrolling/ScrollingWindows.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <utility>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::ExpectContains;

// Guards the running images: one per completed sweep while ticked, none while clear, named
// with a counter that a failed write (reported with its path) still uses up and a clear
// keeps, and a failed write does not stop the plot.
TEST(visWaterfallData, OneRunningImagePerWrapWhileTickedAndFailuresDoNotStopIt) {
    const test::RunningImagesHere images;
    const QString dir = images.dir.path();
    QString shown;
    RunningImageContext().showStatus = [&](const QString& t) { shown = t; };
    visWaterfallData w;
    auto sweep = [&](int rows) {
        for (int i = 0; i < rows; ++i) w.PlotData(60);
    };
    const int rows = w.Surface().Height();
    sweep(rows);
    EXPECT_EQ(w.snapshotCount(), 1);
    w.chkSnapshots()->setChecked(true);
    sweep(rows - 1);
    EXPECT_EQ(shown, "");
    sweep(1);  // bottom row drawn: one image
    EXPECT_TRUE(shown.startsWith("Running image saved: " + dir + "/")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("_runningwater1.bmp") && QFile::exists(shown.section(": ", 1)));
    RunningImageContext().directory = dir + "/missing";
    sweep(rows);
    ExpectContains(shown, {dir + "/missing/", "_runningwater2.bmp"});
    w.PlotData(1518);
    EXPECT_EQ(w.scrollLocation(), 1);
    w.reset();
    RunningImageContext().directory = dir;
    sweep(rows);
    EXPECT_TRUE(shown.endsWith("_runningwater3.bmp"));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 2);
}

// Guards the placing of the time sequence's class labels at the band tops and of the running
// port plot's list centred beside the plot: fractional positions go to the nearest pixel,
// halves to the even one, not down.
TEST(ScrollingWindows, LabelsAndListStandAtTheNearestPixelHalvesToEven) {
    visTimeSequence t;
    t.show();
    t.resize(600, 150);
    const int labelTops[] = {0, 38, 75, 112};  // 37.5 and 112.5
    for (int k = 0; k < 4; ++k) EXPECT_EQ(t.Label1(k)->y(), labelTops[k]) << "label " << k;
    // With a list 22 high: 92.5 - 11 and 94.5 - 11.
    visRunningPort r;
    r.show();
    r.cmbVerticalType()->setFixedHeight(22);
    for (const auto& [height, top] : {std::pair{185, 82}, {189, 84}}) {
        r.resize(600, height);
        EXPECT_EQ(r.cmbVerticalType()->y(), top) << "H " << height;
    }
}

}  // namespace
}  // namespace lumeno
