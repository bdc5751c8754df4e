#include "views/scrolling/ScrollingWindows.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <array>
#include <utility>

namespace lumeno {
namespace {

// Guards the running images: one per completed sweep while ticked, none while clear, named
// with a counter that a failed write (reported with its path) still uses up and a clear
// keeps, and a failed write does not stop the plot.
TEST(visWaterfallData, OneRunningImagePerWrapWhileTickedAndFailuresDoNotStopIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ImageContext& context = RunningImageContext();
    const ImageContext saved = context;
    QStringList shown;
    context.directory = dir.path();
    context.showStatus = [&](const QString& t) { shown << t; };
    auto files = [&] { return QDir(dir.path()).entryList(QDir::Files).size(); };

    visWaterfallData w;
    const int rows = w.Surface().Height();
    ASSERT_GT(rows, 1);
    auto sweep = [&] {
        for (int i = 0; i < rows; ++i) w.PlotData(60);
    };
    sweep();
    EXPECT_EQ(w.snapshotCount(), 1);
    EXPECT_EQ(files(), 0);

    w.chkSnapshots()->setChecked(true);
    for (int i = 0; i < rows - 1; ++i) w.PlotData(60);
    EXPECT_EQ(files(), 0);
    w.PlotData(60);  // bottom row drawn: one image
    EXPECT_EQ(files(), 1);
    EXPECT_TRUE(shown.last().startsWith("Running image saved: " + dir.path() + "/"))
        << shown.last().toStdString();
    EXPECT_TRUE(shown.last().endsWith("_runningwater1.bmp")) << shown.last().toStdString();
    EXPECT_TRUE(QFile::exists(shown.last().section(": ", 1)));

    context.directory = dir.path() + "/missing";
    sweep();
    EXPECT_TRUE(shown.last().contains(dir.path() + "/missing/"));
    EXPECT_TRUE(shown.last().contains("_runningwater2.bmp"));
    w.PlotData(1518);
    EXPECT_EQ(w.scrollLocation(), 1);
    w.reset();
    context.directory = dir.path();
    sweep();
    EXPECT_TRUE(shown.last().endsWith("_runningwater3.bmp"));
    EXPECT_EQ(files(), 2);
    context = saved;
}

// Guards the placing of the time sequence's class labels at the band tops and of the running
// port plot's list centred beside the plot: fractional positions go to the nearest pixel,
// halves to the even one, not down.
TEST(ScrollingWindows, LabelsAndListStandAtTheNearestPixelHalvesToEven) {
    struct Case {
        int height;
        std::array<int, 4> labelTops;
    };
    const Case labels[] = {
        {150, {0, 38, 75, 112}},  // 37.5 and 112.5
        {146, {0, 36, 73, 110}},  // 36.5 and 109.5
        {200, {0, 50, 100, 150}},
    };
    visTimeSequence t;
    t.show();
    for (const Case& c : labels) {
        t.resize(600, c.height);
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(t.Label1(k)->y(), c.labelTops[k]) << "H " << c.height << ", label " << k;
    }
    // With a list 22 high: 92.5 - 11, 93.5 - 11, 94.5 - 11 and 100 - 11.
    const std::pair<int, int> listTops[] = {{185, 82}, {187, 82}, {189, 84}, {200, 89}};
    visRunningPort r;
    r.show();
    r.cmbVerticalType()->setFixedHeight(22);
    for (const auto& [height, top] : listTops) {
        r.resize(600, height);
        EXPECT_EQ(r.cmbVerticalType()->y(), top) << "H " << height;
    }
}

}  // namespace
}  // namespace lumeno
