#include "app/frmMain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <set>
#include <tuple>

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
    EXPECT_EQ(w.txtIP()->text(), QStringLiteral("192.168.1.101"));
    ExpectIdle(w);
    ASSERT_GT(w.cmbInterface()->count(), 0);
    EXPECT_EQ(w.cmbInterface()->currentText(), w.Capture().AdapterAt(1)->displayName());
    const std::set<QString> expected = {"Port to Port",         "Lumeno Packet Headers",
                                        "Lumeno Packet Length", "External IP to Internal Port",
                                        "Time Sequence Plot",   "bit Rainfall"};
    EXPECT_EQ(VisibleViewCaptions(), expected);
}

// Start locks the fields, the end of the file or Stop unlocks them; the filter field
// filters, and what the user got wrong is reported while the window stays usable.
TEST(MainWindow, ReplaysFilesAndReportsWhatCannotStart) {
    frmMain w;
    w.SetReplaySpeed(0);
    const QString path = QString::fromStdString(SmallCapture("replay.pcap", 20));
    w.cmbInterface()->setEditText(path);
    QSignalSpy ended(&w, &frmMain::captureEnded);
    QTest::mouseClick(w.Start(), Qt::LeftButton);
    EXPECT_TRUE(w.IsCapturing());
    EXPECT_FALSE(w.Start()->isEnabled() || w.txtIP()->isEnabled() || w.txtFilter()->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return ended.count() > 0; }));
    ExpectIdle(w);
    EXPECT_EQ(w.Counts().incomingTCP, 20u);
    ExpectContains(w.MessageText(), {"End of capture file"});

    // Source ports run 80, 81, 82, 80, …: seven of the twenty are port 80.
    w.txtFilter()->setText("src port 80");
    w.StartCapture();
    ASSERT_TRUE(WaitUntil([&] { return !w.IsCapturing(); }));
    EXPECT_EQ(w.Counts().accepted, 7u);

    const std::string notes = test::TempPath("notes.txt");
    std::ofstream(notes) << "hello\n";
    const std::pair<QString, QString> wrong[] = {
        {"eth99-does-not-exist", "eth99-does-not-exist"},
        {QString::fromStdString(notes), "notes.txt"},
        {path, "Invalid capture filter"},
    };
    for (const auto& [source, message] : wrong) {
        w.cmbInterface()->setEditText(source);
        w.txtFilter()->setText(message.startsWith("Invalid") ? "tcp port (" : "");
        w.StartCapture();
        EXPECT_FALSE(w.IsCapturing());
        ExpectIdle(w);
        ExpectContains(w.MessageText(), {message});
    }

    w.SetReplaySpeed(1);
    w.txtFilter()->clear();
    w.txtIP()->setText("10.");
    w.cmbInterface()->setEditText(path);
    w.StartCapture();
    ASSERT_TRUE(w.IsCapturing());
    QTest::mouseClick(w.Stop(), Qt::LeftButton);
    EXPECT_FALSE(w.IsCapturing());
    ExpectIdle(w);
    EXPECT_EQ(w.txtIP()->text(), QStringLiteral("10."));
}

// A view closed by the user comes back, as a new window, at the next click of any switch.
TEST(MainWindow, SwitchesShowAndHideTheirViews) {
    frmMain w;
    w.show();
    ViewWindow* timeSequence = &w.Views().View(kSwitchTimeSequence);
    QTest::mouseClick(w.chkVis(kSwitchTimeSequence), Qt::LeftButton);
    EXPECT_TRUE(timeSequence->isVisible());
    QTest::mouseClick(w.chkVis(kSwitchTimeSequence), Qt::LeftButton);
    EXPECT_FALSE(timeSequence->isVisible());

    w.Views().View(kSwitchParallelPort).close();
    QTest::mouseClick(w.chkVis(kSwitchBody), Qt::LeftButton);
    EXPECT_TRUE(w.Views().View(kSwitchParallelPort).isVisible());
    EXPECT_TRUE(w.Views().View(kSwitchBody).isVisible());
}

TEST(MainWindow, ClearEmptiesEveryViewAndChangesNothingElse) {
    frmMain w;
    w.txtIP()->setText("10.1.");
    ViewManager& v = w.Views();
    std::vector<PlotSurface*> surfaces;
    for (const char* suffix :
         {"_parallel_port.bmp", "_parallel_PIIP.bmp", "_parallel_IPPI.bmp", "_parallel_IP.bmp",
          "_time_sequence.bmp", "_running_port.bmp", "_waterfall_length.bmp", "_bitdata.bmp",
          "_parallel_IP_port.bmp", "_parallel_IPcustom.bmp"}) {
        surfaces.push_back(&v.GraphBySuffix(suffix)->Surface());
        surfaces.back()->Line(0, 1, 50, 1, MakeRgb(200, 0, 0));
    }
    v.Txt().txtPacket()->setPlainText("log");
    v.TxtBody().txtPacketHex()->setPlainText("41 ");
    QTest::mouseClick(w.btnClear(), Qt::LeftButton);
    for (PlotSurface* s : surfaces) EXPECT_EQ(s->PixelAt(10, 1), s->Background());
    EXPECT_TRUE(v.Txt().txtPacket()->toPlainText().isEmpty());
    EXPECT_TRUE(v.TxtBody().txtPacketHex()->toPlainText().isEmpty());
    EXPECT_EQ(w.txtIP()->text(), QStringLiteral("10.1."));
    ExpectIdle(w);
}

TEST(MainWindow, ASnapshotWritesTenImagesWithOneTimestampOrSaysWhyNot) {
    frmMain w;
    QTemporaryDir dir;
    w.SetSnapshotDir(dir.path());
    w.Views().Parallel().Surface().Line(0, 5, 100, 5, MakeRgb(0, 255, 0));
    const SnapshotResult result = w.SaveSnapshots();
    EXPECT_TRUE(result.failures.isEmpty());
    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 10);
    for (const QString& name : files) {
        ASSERT_TRUE(name.startsWith(result.timestamp + "_")) << name.toStdString();
        GraphWindow* view = w.Views().GraphBySuffix(name.mid(result.timestamp.size()));
        ASSERT_NE(view, nullptr) << name.toStdString();
        EXPECT_EQ(QImage(dir.filePath(name)).size(),
                  QSize(view->Surface().Width(), view->Surface().Height()));
    }
    EXPECT_EQ(QImage(dir.filePath(result.timestamp + "_parallel_port.bmp")).pixel(50, 5),
              qRgb(0, 255, 0));
    ExpectContains(w.MessageText(), {"Saved 10 images"});

    // Not even root may create files in sysfs; a directory that is gone fails for anyone.
    for (const QString& bad : {QStringLiteral("/sys"), QStringLiteral("/nonexistent/snapshots")}) {
        w.SetSnapshotDir(bad);
        const SnapshotResult failed = w.SaveSnapshots();
        EXPECT_TRUE(failed.written.isEmpty());
        EXPECT_EQ(failed.failures.size(), 10);
        ExpectContains(w.MessageText(),
                       {"Saved 0 of 10", bad + "/" + failed.timestamp + "_parallel_port.bmp"});
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
    EXPECT_EQ(std::tuple(c.accepted, c.incomingTCP, c.outgoingTCP, c.incomingUDP, c.notMonitored,
                         c.other),
              std::tuple(3u, 1u, 1u, 1u, 1u, 1u));
}

}  // namespace
}  // namespace lumeno
