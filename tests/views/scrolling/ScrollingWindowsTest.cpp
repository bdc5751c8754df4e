#include "views/scrolling/ScrollingWindows.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "capture/CaptureTestSupport.h"
#include "packet/Colors.h"

namespace lumeno {
namespace {

constexpr Rgb kWhite = MakeRgb(255, 255, 255);

using test::WaitUntil;

// Resizes a shown window and waits until the layout has run for the size it ends at.
void ResizeShown(QWidget& w, QSize size) {
    w.resize(size);
    QTest::qWait(20);
}

int WhiteColumn(const PlotSurface& s) {
    for (int x = 0; x < s.Width(); ++x) {
        if (s.PixelAt(x, 0) == kWhite && s.PixelAt(x, s.Height() - 1) == kWhite) return x;
    }
    return -1;
}

TEST(visTimeSequence, ResizeBlanksRestartsAndPutsTheLegendBesideEachBand) {
    visTimeSequence w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    for (int i = 0; i < 5; ++i) w.Plot("incomingTCP");
    EXPECT_EQ(w.scrollLocation(), 5);
    ResizeShown(w, QSize(400, 203));
    EXPECT_EQ(w.scrollLocation(), 0);
    EXPECT_EQ(WhiteColumn(w.Surface()), -1);
    EXPECT_EQ(w.picGraph()->geometry(), QRect(0, 0, 320, 203));
    const int tops[] = {0, 50, 101, 152};  // k * 203 / 4
    for (int k = 0; k < 4; ++k) EXPECT_EQ(w.Label1(k)->pos(), QPoint(330, tops[k])) << k;
    // A client too narrow for the plot gives an empty surface, not a negative one, and
    // packets still go through.
    ResizeShown(w, QSize(50, 100));
    EXPECT_EQ(w.Surface().Width(), 0);
    EXPECT_EQ(w.picGraph()->width(), 0);
    w.Plot("outgoingUDP");
    EXPECT_EQ(w.scrollLocation(), 0);
}

TEST(visRunningPort, SelectionClearsInPlaceAndResizeRecentresTheList) {
    const Rgb saved = currentColor;
    currentColor = MakeRgb(9, 9, 9);
    visRunningPort w;
    QComboBox* list = w.cmbVerticalType();

    w.Plot("10.0.0.1", 0, "192.168.1.101", 1025);
    w.Plot("10.0.0.1", 0, "192.168.1.101", 1025);
    list->setCurrentIndex(3);
    EXPECT_EQ(w.lblVerticalMax()->text(), QStringLiteral("255.255.255.255"));
    EXPECT_EQ(w.Surface().PixelAt(0, w.Surface().Height() - 1), MakeRgb(0, 0, 0));
    EXPECT_EQ(w.scrollLocation(), 2);
    w.Plot("0.0.0.1", 80, "192.168.1.101", 1025);
    EXPECT_EQ(w.Surface().PixelAt(2, w.Surface().Height() - 1), currentColor);

    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ResizeShown(w, QSize(500, 301));
    EXPECT_EQ(w.scrollLocation(), 0);
    const QRect plot = w.picGraph()->geometry();
    EXPECT_EQ(plot, QRect(0, 0, 500 - list->width() - 10, 301));
    EXPECT_EQ(list->x(), plot.width() + 5);
    EXPECT_EQ(list->y(), 301 / 2 - list->height() / 2);
    ResizeShown(w, QSize(60, 100));
    EXPECT_EQ(w.Surface().Width(), 0);
    currentColor = saved;
}

TEST(visBitData, SpringsBackToItsMinimumAndLabelsTheBitCount) {
    visBitData w;
    // Built usable while hidden, never below 3250 x 2500 twips.
    EXPECT_GE(w.width() * 15, 3250);
    EXPECT_EQ(w.maxBits(), w.Surface().Width());
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ResizeShown(w, QSize(240, 400));
    EXPECT_EQ(w.picGraph()->geometry(), QRect(0, 20, 240, 340));
    EXPECT_EQ(w.maxBits(), 240);
    EXPECT_EQ(w.Label1(2)->text(), QStringLiteral("240 bits"));
    const std::uint8_t bytes[] = {0xFF};
    w.Graph(bytes, 1);
    ResizeShown(w, QSize(100, 60));
    // 3250 x 2500 twips, rounded up to whole pixels, hold for the outer size: the client
    // plus whatever frame the platform draws.
    const QSize frame = w.frameGeometry().size() - w.geometry().size();
    const QSize minimum = QSize(217, 167) - frame;
    EXPECT_TRUE(WaitUntil([&] { return w.size() == minimum; })) << w.width() << "x" << w.height();
    EXPECT_EQ(w.scrollLocation(), 0);
    EXPECT_EQ(w.Surface().Width(), minimum.width());
    EXPECT_EQ(w.Surface().Height(), minimum.height() - 60);
    EXPECT_EQ(w.Surface().PixelAt(0, 0), MakeRgb(0, 0, 0));
    // Only one dimension too small: only that one springs back.
    ResizeShown(w, QSize(300, 100));
    EXPECT_TRUE(WaitUntil([&] { return w.size() == QSize(300, minimum.height()); }));
}

TEST(visWaterfallData, OneRunningImagePerWrapWhileTickedAndFailuresDoNotStopIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ImageContext& context = RunningImageContext();
    const ImageContext saved = context;
    QStringList shown;
    context.directory = dir.path();
    context.showStatus = [&](const QString& t) { shown << t; };

    visWaterfallData w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QSize frame = w.frameGeometry().size() - w.geometry().size();
    ResizeShown(w, QSize(250, 100));  // below the minimum height: springs back
    const int minimumHeight = 167 - frame.height();
    ASSERT_TRUE(WaitUntil([&] { return w.Surface().Height() == minimumHeight - 60; }))
        << w.Surface().Height() << " " << w.size().height() << " " << minimumHeight;
    const int rows = w.Surface().Height();

    auto sweep = [&] {
        for (int i = 0; i < rows; ++i) w.PlotData(60);
    };
    sweep();  // box clear: nothing saved, counter kept
    EXPECT_EQ(w.snapshotCount(), 1);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    w.chkSnapshots()->setChecked(true);
    for (int i = 0; i < rows - 1; ++i) w.PlotData(60);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    w.PlotData(60);  // bottom row drawn: one image
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
    // Shown as "/" + timestamp + suffix + number + ".bmp", written in the directory.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^/\\d{8}_\\d{6}_runningwater1\\.bmp$"))
                    .match(shown.last())
                    .hasMatch())
        << shown.last().toStdString();
    EXPECT_TRUE(QFile::exists(dir.path() + shown.last()));
    sweep();
    EXPECT_TRUE(shown.last().endsWith("_runningwater2.bmp"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);

    // A directory that cannot be written: reported with its path, the plot goes on and the
    // number is used up.
    context.directory = dir.path() + "/missing";
    sweep();
    EXPECT_TRUE(shown.last().contains(dir.path() + "/missing/"));
    EXPECT_TRUE(shown.last().contains("_runningwater3.bmp"));
    EXPECT_EQ(w.snapshotCount(), 4);
    w.PlotData(1518);
    EXPECT_EQ(w.scrollLocation(), 1);
    // Clear keeps the counter.
    w.reset();
    context.directory = dir.path();
    sweep();
    EXPECT_TRUE(shown.last().endsWith("_runningwater4.bmp"));
    context = saved;
}

}  // namespace
}  // namespace lumeno
