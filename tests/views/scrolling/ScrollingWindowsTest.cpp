#include "views/scrolling/ScrollingWindows.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

}  // namespace
}  // namespace lumeno
