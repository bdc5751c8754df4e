#include "app/frmMain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <set>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::Addr;
using test::ExpectContains;
using test::WaitUntil;

// A capture file of n TCP packets from 10.0.0.1:80 to 192.168.1.101:1025, 1 ms apart.
std::string SmallCapture(const std::string& name, int n = 20) {
    std::vector<test::TimedFrame> frames;
    for (int i = 0; i < n; ++i) {
        test::Ipv4Fields s;
        s.sourcePort = static_cast<std::uint16_t>(80 + i % 3);
        frames.push_back({1000.0 + i * 1e-3, test::Ethernet(test::Ipv4(s))});
    }
    return test::WriteEthernetFile(name, frames);
}

std::set<QString> VisibleViewCaptions() {
    std::set<QString> captions;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && dynamic_cast<ViewWindow*>(w)) captions.insert(w->windowTitle());
    }
    return captions;
}

void ExpectIdle(frmMain& w) {
    EXPECT_TRUE(w.Start()->isEnabled());
    EXPECT_FALSE(w.Stop()->isEnabled());
    EXPECT_TRUE(w.txtIP()->isEnabled());
}

TEST(MainWindow, StartsIdleWithTheDefaultViewsShown) {
    frmMain w;
    w.show();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Lumeno " LUMENO_VERSION));
    EXPECT_EQ(w.txtIP()->text(), QStringLiteral("192.168.1.101"));
    EXPECT_EQ(w.size(), QSize(647, 317));
    ExpectIdle(w);
    // The adapter list holds libpcap's adapters in its order, the first one shown.
    ASSERT_GT(w.cmbInterface()->count(), 0);
    EXPECT_EQ(w.cmbInterface()->count(), static_cast<int>(w.Capture().Adapters().size()));
    EXPECT_EQ(w.cmbInterface()->currentIndex(), 0);
    EXPECT_EQ(w.cmbInterface()->currentText(), w.Capture().AdapterAt(1)->displayName());

    const std::set<QString> expected = {"Port to Port",         "Lumeno Packet Headers",
                                        "Lumeno Packet Length", "External IP to Internal Port",
                                        "Time Sequence Plot",   "bit Rainfall"};
    EXPECT_EQ(VisibleViewCaptions(), expected);
    const bool defaults[12] = {1, 1, 0, 0, 0, 1, 0, 0, 1, 1, 0, 1};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(w.chkVis(i)->isChecked(), defaults[i]) << i;
        EXPECT_EQ(w.chkVis(i)->text(), QString::fromLatin1(kSwitchCaptions[i]));
    }
}

TEST(MainWindow, ReplaysAFileAndReturnsToIdleAtItsEnd) {
    frmMain w;
    w.SetReplaySpeed(0);
    const QString path = QString::fromStdString(SmallCapture("replay.pcap", 20));
    w.cmbInterface()->setEditText(path);
    QSignalSpy ended(&w, &frmMain::captureEnded);
    QTest::mouseClick(w.Start(), Qt::LeftButton);
    EXPECT_TRUE(w.IsCapturing());
    EXPECT_FALSE(w.Start()->isEnabled());
    EXPECT_TRUE(w.Stop()->isEnabled());
    EXPECT_FALSE(w.txtIP()->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return ended.count() > 0; }));
    ExpectIdle(w);
    EXPECT_EQ(w.Counts().accepted, 20u);
    EXPECT_EQ(w.Counts().incomingTCP, 20u);
    ExpectContains(w.MessageText(), {"End of capture file"});
}

TEST(MainWindow, StopReturnsToTheStartUpState) {
    frmMain w;
    w.SetReplaySpeed(1);
    w.cmbInterface()->setEditText(QString::fromStdString(SmallCapture("stop.pcap", 5)));
    w.txtIP()->setText("10.");
    w.StartCapture();
    ASSERT_TRUE(w.IsCapturing());
    QTest::mouseClick(w.Stop(), Qt::LeftButton);
    EXPECT_FALSE(w.IsCapturing());
    ExpectIdle(w);
    EXPECT_EQ(w.txtIP()->text(), QStringLiteral("10."));
}

TEST(MainWindow, ATextThatIsNoAdapterNorFileIsReported) {
    frmMain w;
    w.cmbInterface()->setEditText("eth99-does-not-exist");
    w.StartCapture();
    EXPECT_FALSE(w.IsCapturing());
    ExpectIdle(w);
    ExpectContains(w.MessageText(), {"eth99-does-not-exist"});

    // A file that is not a capture: libpcap's reason, and still idle.
    const QString notes = QString::fromStdString(test::TempPath("notes.txt"));
    QFile f(notes);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("hello\n");
    f.close();
    w.cmbInterface()->setEditText(notes);
    w.StartCapture();
    EXPECT_FALSE(w.IsCapturing());
    ExpectContains(w.MessageText(), {"notes.txt"});

    // And it goes on working: a good file afterwards replays.
    w.SetReplaySpeed(0);
    w.cmbInterface()->setEditText(QString::fromStdString(SmallCapture("after.pcap", 3)));
    w.StartCapture();
    EXPECT_TRUE(w.IsCapturing());
    ASSERT_TRUE(WaitUntil([&] { return !w.IsCapturing(); }));
    EXPECT_EQ(w.Counts().accepted, 3u);
}

TEST(MainWindow, TheFilterFieldFiltersAndAnInvalidOneKeepsTheWindowIdle) {
    frmMain w;
    w.SetReplaySpeed(0);
    w.cmbInterface()->setEditText(QString::fromStdString(SmallCapture("filter.pcap", 20)));
    w.txtFilter()->setText("tcp port (");
    w.StartCapture();
    EXPECT_FALSE(w.IsCapturing());
    ExpectIdle(w);
    ExpectContains(w.MessageText(), {"Invalid capture filter"});

    // Source ports run 80, 81, 82, 80, …: seven of the twenty are port 80.
    w.txtFilter()->setText("src port 80");
    w.StartCapture();
    EXPECT_FALSE(w.txtFilter()->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return !w.IsCapturing(); }));
    EXPECT_TRUE(w.txtFilter()->isEnabled());
    EXPECT_EQ(w.Counts().accepted, 7u);
}

TEST(MainWindow, AdapterShortcuts) {
    frmMain w;
    const int count = static_cast<int>(w.Capture().Adapters().size());
    ASSERT_GE(count, 1);
    w.AdapterShortcut(1);
    EXPECT_EQ(w.Label1()->text(), w.Capture().AdapterAt(1)->displayName());
    EXPECT_EQ(w.Capture().CurrentAdapter().name, w.Capture().AdapterAt(1)->name);
    ExpectIdle(w);
    const QString label = w.Label1()->text();
    w.AdapterShortcut(count + 1);
    EXPECT_EQ(w.Label1()->text(), label);  // nothing else changes
    EXPECT_TRUE(w.MessageText().contains(QString::number(count + 1)));
    ExpectIdle(w);
}

TEST(MainWindow, SwitchesShowAndHideTheirViews) {
    frmMain w;
    w.show();
    ViewWindow* timeSequence = &w.Views().View(kSwitchTimeSequence);
    EXPECT_FALSE(timeSequence->isVisible());
    QTest::mouseClick(w.chkVis(kSwitchTimeSequence), Qt::LeftButton);
    EXPECT_TRUE(w.chkVis(kSwitchTimeSequence)->isChecked());
    EXPECT_TRUE(timeSequence->isVisible());
    QTest::mouseClick(w.chkVis(kSwitchTimeSequence), Qt::LeftButton);
    EXPECT_FALSE(timeSequence->isVisible());

    // A view closed by the user comes back, as a new window, at the next click of any switch.
    ViewWindow* port = &w.Views().View(kSwitchParallelPort);
    ASSERT_TRUE(port->isVisible());
    port->close();
    QTest::mouseClick(w.chkVis(kSwitchBody), Qt::LeftButton);
    ViewWindow* again = &w.Views().View(kSwitchParallelPort);
    EXPECT_TRUE(again->isVisible());
    EXPECT_EQ(again->windowTitle(), QStringLiteral("Port to Port"));
    EXPECT_TRUE(w.Views().View(kSwitchBody).isVisible());
}

TEST(MainWindow, AHiddenViewKeepsWhatItDrewWhenShown) {
    frmMain w;
    w.show();
    PlotSurface& ip = w.Views().ParallelIP().Surface();
    ip.Line(0, 10, 100, 10, MakeRgb(1, 2, 3));
    QTest::mouseClick(w.chkVis(kSwitchParallelIP), Qt::LeftButton);
    ASSERT_TRUE(w.Views().ParallelIP().isVisible());
    QTest::qWait(30);
    EXPECT_EQ(ip.PixelAt(50, 10), MakeRgb(1, 2, 3));
}

TEST(MainWindow, ClearEmptiesEveryViewAndChangesNothingElse) {
    frmMain w;
    w.txtIP()->setText("10.1.");
    ViewManager& v = w.Views();
    std::vector<PlotSurface*> surfaces = {
        &v.Parallel().Surface(),       &v.ParallelIP().Surface(),
        &v.ParallelIPPort().Surface(), &v.ParallelIPcustom().Surface(),
        &v.ParallelDual().Surface(),   &v.ParallelDualIPPI().Surface(),
        &v.TimeSequence().Surface(),   &v.RunningPort().Surface(),
        &v.BitData().Surface(),        &v.WaterfallData().Surface()};
    for (PlotSurface* s : surfaces) s->Line(0, 1, 50, 1, MakeRgb(200, 0, 0));
    v.Txt().txtPacket()->setPlainText("log");
    v.TxtBody().txtPacketHex()->setPlainText("41 ");
    v.TxtBody().txtPacketASCII()->setPlainText("A");
    QTest::mouseClick(w.btnClear(), Qt::LeftButton);
    for (PlotSurface* s : surfaces) {
        EXPECT_EQ(s->PixelAt(10, 1), s->Background());
    }
    EXPECT_TRUE(v.Txt().txtPacket()->toPlainText().isEmpty());
    EXPECT_TRUE(v.TxtBody().txtPacketHex()->toPlainText().isEmpty());
    EXPECT_TRUE(v.TxtBody().txtPacketASCII()->toPlainText().isEmpty());
    EXPECT_EQ(w.txtIP()->text(), QStringLiteral("10.1."));
    EXPECT_TRUE(w.chkVis(kSwitchParallelPort)->isChecked());
    ExpectIdle(w);
}

TEST(MainWindow, ASnapshotWritesTenImagesWithOneTimestamp) {
    frmMain w;
    QTemporaryDir dir;
    w.SetSnapshotDir(dir.path());
    w.Views().Parallel().Surface().Line(0, 5, 100, 5, MakeRgb(0, 255, 0));
    const SnapshotResult result = w.SaveSnapshots();
    EXPECT_TRUE(result.failures.isEmpty());
    ASSERT_EQ(result.written.size(), 10);
    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 10);
    const std::set<QString> suffixes = {"_parallel_port.bmp",    "_parallel_PIIP.bmp",
                                        "_parallel_IPPI.bmp",    "_parallel_IP.bmp",
                                        "_time_sequence.bmp",    "_running_port.bmp",
                                        "_waterfall_length.bmp", "_bitdata.bmp",
                                        "_parallel_IP_port.bmp", "_parallel_IPcustom.bmp"};
    std::set<QString> seen;
    for (const QString& name : files) {
        EXPECT_TRUE(name.startsWith(result.timestamp + "_")) << name.toStdString();
        const QString suffix = name.mid(result.timestamp.size());
        seen.insert(suffix);
        const QImage image(dir.filePath(name));
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        const PlotSurface& s = w.Views().GraphBySuffix(suffix)->Surface();
        EXPECT_EQ(image.size(), QSize(s.Width(), s.Height())) << name.toStdString();
    }
    EXPECT_EQ(seen, suffixes);
    EXPECT_EQ(QImage(dir.filePath(result.timestamp + "_parallel_port.bmp")).pixel(50, 5),
              qRgb(0, 255, 0));
    ExpectContains(w.MessageText(), {"Saved 10 images"});

    // Saving again in the same second overwrites the same ten names.
    const SnapshotResult again = w.SaveSnapshots();
    if (again.timestamp == result.timestamp) {
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 10);
    }
}

TEST(MainWindow, AnUnwritableSnapshotDirectoryIsReported) {
    frmMain w;
    // Not even root may create files in sysfs; a directory that is gone fails for anyone.
    for (const QString& dir : {QStringLiteral("/sys"), QStringLiteral("/nonexistent/snapshots")}) {
        w.SetSnapshotDir(dir);
        const SnapshotResult result = w.SaveSnapshots();
        EXPECT_TRUE(result.written.isEmpty());
        EXPECT_EQ(result.failures.size(), 10);
        const QString message = w.MessageText();
        ExpectContains(message,
                       {"Saved 0 of 10", dir + "/" + result.timestamp + "_parallel_port.bmp"});
        EXPECT_FALSE(message.contains("Saved 10"));
    }
}

TEST(MainWindow, PacketsReachEveryViewOnlyWhenTheyConcernTheMonitoredHost) {
    frmMain w;
    w.SetReplaySpeed(0);
    test::Ipv4Fields in, out, other, udp;
    out.source = Addr(192, 168, 1, 101);
    out.destination = Addr(8, 8, 8, 8);
    other.source = Addr(10, 0, 0, 1);
    other.destination = Addr(10, 0, 0, 2);
    udp.protocol = 17;
    const std::vector<test::TimedFrame> frames = {{1, test::Ethernet(test::Ipv4(in))},
                                                  {2, test::Ethernet(test::Ipv4(out))},
                                                  {3, test::Ethernet(test::Ipv4(other))},
                                                  {4, test::Ethernet(test::Ipv4(udp))},
                                                  {5, test::Ethernet(test::Ipv4(in), {}, 0x0806)}};
    w.cmbInterface()->setEditText(
        QString::fromStdString(test::WriteEthernetFile("mixed.pcap", frames)));
    w.StartCapture();
    ASSERT_TRUE(WaitUntil([&] { return !w.IsCapturing(); }));
    const CaptureCounts& c = w.Counts();
    EXPECT_EQ(c.accepted, 3u);
    EXPECT_EQ(c.incomingTCP, 1u);
    EXPECT_EQ(c.outgoingTCP, 1u);
    EXPECT_EQ(c.incomingUDP, 1u);
    EXPECT_EQ(c.notMonitored, 1u);
    EXPECT_EQ(c.other, 1u);
    EXPECT_EQ(w.Capture().Statistics().seen, 5u);
}

}  // namespace
}  // namespace lumeno
