#include "app/frmMain.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <tuple>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::Addr;
using test::ExpectContains;
using test::WaitUntil;

bool Idle(frmMain& w) {
    return w.Start()->isEnabled() && !w.Stop()->isEnabled() && w.txtIP()->isEnabled();
}

// Start must lock the fields and the end of the file or Stop unlock them; every packet is
// counted in its class and the filter applies; an unknown adapter, a file that is no capture
// or a bad filter is reported by name while the window stays usable.
TEST(MainWindow, ReplaysCountsAndReportsWhatCannotStart) {
    frmMain w;
    w.SetReplaySpeed(0);
    // One second apart: incoming TCP, outgoing TCP, a packet between two other hosts,
    // incoming UDP and ARP.
    test::Ipv4Fields in, out, other, udp;
    out.source = Addr(192, 168, 1, 101);
    out.destination = Addr(8, 8, 8, 8);
    other.destination = Addr(10, 0, 0, 2);
    udp.protocol = 17;
    std::vector<test::TimedFrame> frames;
    for (const auto& f : {in, out, other, udp})
        frames.push_back({frames.size() + 1.0, test::Ethernet(test::Ipv4(f))});
    frames.push_back({5, test::Ethernet(test::Ipv4(in), {}, 0x0806)});
    const QString path = QString::fromStdString(test::WriteEthernetFile("mixed.pcap", frames));
    w.cmbInterface()->setEditText(path);
    QSignalSpy ended(&w, &frmMain::captureEnded);
    QTest::mouseClick(w.Start(), Qt::LeftButton);
    EXPECT_FALSE(w.Start()->isEnabled() || w.txtIP()->isEnabled() || w.txtFilter()->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return ended.count() > 0; }));
    EXPECT_TRUE(Idle(w));
    ExpectContains(w.MessageText(), {"End of capture file"});
    const CaptureCounts& c = w.Counts();
    EXPECT_EQ(std::tuple(c.accepted, c.incomingTCP, c.outgoingTCP, c.incomingUDP, c.notMonitored,
                         c.other),
              std::tuple(3u, 1u, 1u, 1u, 1u, 1u));

    w.txtFilter()->setText("udp");
    w.StartCapture();
    ASSERT_TRUE(WaitUntil([&] { return !w.IsCapturing(); }));
    EXPECT_EQ(w.Counts().accepted, 1u);

    const std::string notes = test::TempPath("notes.txt");
    std::ofstream(notes) << "hello\n";
    const std::tuple<QString, QString, QString> wrong[] = {
        {"eth99-does-not-exist", "", "eth99-does-not-exist"},
        {QString::fromStdString(notes), "", "notes.txt"},
        {path, "tcp port (", "Invalid capture filter"},
    };
    for (const auto& [source, filter, message] : wrong) {
        w.cmbInterface()->setEditText(source);
        w.txtFilter()->setText(filter);
        w.StartCapture();
        EXPECT_TRUE(Idle(w));
        ExpectContains(w.MessageText(), {message});
    }

    w.SetReplaySpeed(1);
    w.txtFilter()->clear();
    w.cmbInterface()->setEditText(path);
    w.StartCapture();
    ASSERT_TRUE(w.IsCapturing());
    QTest::mouseClick(w.Stop(), Qt::LeftButton);
    EXPECT_TRUE(Idle(w));
}

// A switch must show and hide its view, and a view closed by the user come back, as a new
// window, at the next click of any switch.
TEST(MainWindow, SwitchesShowAndHideTheirViews) {
    frmMain w;
    w.show();
    w.Views().View(kSwitchParallelPort).close();
    QTest::mouseClick(w.chkVis(kSwitchTimeSequence), Qt::LeftButton);
    EXPECT_TRUE(w.Views().View(kSwitchTimeSequence).isVisible());
    EXPECT_TRUE(w.Views().View(kSwitchParallelPort).isVisible());
    QTest::mouseClick(w.chkVis(kSwitchTimeSequence), Qt::LeftButton);
    EXPECT_FALSE(w.Views().View(kSwitchTimeSequence).isVisible());
}

// A snapshot must write all ten views, each at its size and under one timestamp, or name
// the file it could not write; Clear must then empty every one of them and both text views.
TEST(MainWindow, SnapshotsAndClearReachAllTenViews) {
    frmMain w;
    QTemporaryDir dir;
    w.SetSnapshotDir(dir.path());
    w.Views().Parallel().Surface().Line(0, 5, 100, 5, MakeRgb(0, 255, 0));
    const SnapshotResult result = w.SaveSnapshots();
    ExpectContains(w.MessageText(), {"Saved 10 images"});
    EXPECT_EQ(QImage(dir.filePath(result.timestamp + "_parallel_port.bmp")).pixel(50, 5),
              qRgb(0, 255, 0));
    const QStringList files = QDir(dir.path()).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 10);
    std::vector<PlotSurface*> surfaces;
    for (const QString& name : files) {
        ASSERT_TRUE(name.startsWith(result.timestamp + "_")) << name.toStdString();
        GraphWindow* view = w.Views().GraphBySuffix(name.mid(result.timestamp.size()));
        ASSERT_NE(view, nullptr) << name.toStdString();
        PlotSurface& surface = view->Surface();
        EXPECT_EQ(QImage(dir.filePath(name)).size(), QSize(surface.Width(), surface.Height()));
        surface.Line(0, 1, 50, 1, MakeRgb(200, 0, 0));
        surfaces.push_back(&surface);
    }

    // Not even root may create files in sysfs; a directory that is gone fails for anyone.
    for (const QString& bad : {QStringLiteral("/sys"), QStringLiteral("/nonexistent/snapshots")}) {
        w.SetSnapshotDir(bad);
        const QString timestamp = w.SaveSnapshots().timestamp;
        ExpectContains(w.MessageText(),
                       {"Saved 0 of 10", bad + "/" + timestamp + "_parallel_port.bmp"});
    }

    w.Views().Txt().txtPacket()->setPlainText("log");
    w.Views().TxtBody().txtPacketHex()->setPlainText("41 ");
    QTest::mouseClick(w.btnClear(), Qt::LeftButton);
    for (PlotSurface* s : surfaces) EXPECT_EQ(s->PixelAt(10, 1), s->Background());
    EXPECT_TRUE(w.Views().Txt().txtPacket()->toPlainText().isEmpty());
    EXPECT_TRUE(w.Views().TxtBody().txtPacketHex()->toPlainText().isEmpty());
}

}  // namespace
}  // namespace lumeno
