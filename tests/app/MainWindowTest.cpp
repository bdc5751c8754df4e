#include "app/frmMain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLocale>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <functional>
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

// A switch must show and hide its view. A view the user closed clears its switch (the box
// shows what is on the screen) and its switch brings it back; a view hidden by other means
// comes back at the next click of any switch while its own is on.
TEST(MainWindow, SwitchesShowWhatIsOnTheScreen) {
    frmMain w;
    w.show();
    struct Step {
        const char* what;
        std::function<void()> act;
        int clicked;                                 // the switch clicked afterwards
        std::vector<std::pair<int, bool>> expected;  // view: switch ticked and view shown
    };
    const Step steps[] = {
        {"a click shows a view", [] {}, kSwitchTimeSequence, {{kSwitchTimeSequence, true}}},
        {"closed by the user",
         [&] { w.Views().View(kSwitchParallelPort).close(); },
         kSwitchTimeSequence,
         {{kSwitchParallelPort, false}, {kSwitchTimeSequence, false}}},
        {"its own switch brings it back",
         [] {},
         kSwitchParallelPort,
         {{kSwitchParallelPort, true}}},
        {"hidden by other means",
         [&] { w.Views().View(kSwitchWaterfall).hide(); },
         kSwitchBody,
         {{kSwitchWaterfall, true}, {kSwitchBody, true}, {kSwitchParallelPort, true}}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        QTest::mouseClick(w.chkVis(step.clicked), Qt::LeftButton);
        for (const auto& [index, on] : step.expected) {
            EXPECT_EQ(w.chkVis(index)->isChecked(), on) << index;
            EXPECT_EQ(w.Views().View(index).isVisible(), on) << index;
        }
    }
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

QString Figure(std::uint64_t n) {
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(n));
}

QStringList Rows(const QListWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
    return rows;
}

// The sample's hosts by their TCP and UDP packets (tshark counts the same).
const std::pair<QString, int> kSampleBusiest[] = {
    {"192.168.1.101", 4205}, {"203.0.113.66", 2050}, {"198.51.100.20", 862},
    {"198.51.100.7", 652},   {"198.51.100.81", 124},
};

// With a monitor text that matches no host of the capture, or hardly any packet, the
// window must say so and offer the busiest hosts of the packets not drawn, with their
// counts; picking one, after the replay (then Enter in Monitor starts again) or during it
// (it starts again by itself), must draw exactly that host's packets.
TEST(MainWindow, NamesTheBusiestHostsWhenNothingIsDrawnAndPickingOneDrawsThem) {
    struct Case {
        const char* what;
        QString monitor;
        bool duringReplay;
        int pick;              // index into kSampleBusiest
        QString why;           // what the message says at the end, or while replaying
        int drawnOfFirst = 0;  // packets of the first host that were drawn, so not counted
    };
    const Case cases[] = {
        {"none, after the end", "10.9.9.9", false, 1,
         "Nothing drawn: none of the 4,277 TCP/UDP packets is to or from \"10.9.9.9\""},
        {"very few, after the end", "162.159.200.1", false, 4,
         "Only 4 of 4,277 TCP/UDP packets are to or from \"162.159.200.1\"", 4},
        {"none, while replaying", "10.9.9.9", true, 3,
         "Nothing drawn: no TCP/UDP packet so far is to or from \"10.9.9.9\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        frmMain w;
        w.show();
        w.SetReplaySpeed(c.duringReplay ? 5 : 0);
        w.txtIP()->setText(c.monitor);
        w.cmbInterface()->setEditText(LUMENO_SAMPLE_CAPTURE);
        QSignalSpy ended(&w, &frmMain::captureEnded);
        w.StartCapture();
        QStringList expected = {"Busiest addresses not drawn:"};
        for (const auto& [host, n] : kSampleBusiest) {
            const int drawn = expected.size() == 1 ? c.drawnOfFirst : 0;
            expected << QString("%1   %2 packets").arg(host, Figure(n - drawn));
        }
        QListWidget* list = w.lstHosts();
        const auto& [host, packets] = kSampleBusiest[c.pick];
        if (c.duringReplay) {
            // The order of the hosts is the order so far: the row is found by its text.
            ASSERT_TRUE(WaitUntil([&] {
                return list->isVisible() &&
                       Rows(list).indexOf(QRegularExpression(host + " .*")) > 0;
            }));
            EXPECT_TRUE(w.IsCapturing());
            ExpectContains(w.MessageText(), {"Replaying", c.why});
            w.SetReplaySpeed(0);
            list->setFocus();
            list->setCurrentRow(Rows(list).indexOf(QRegularExpression(host + " .*")));
            QTest::keyClick(list, Qt::Key_Return);
        } else {
            ASSERT_TRUE(WaitUntil([&] { return ended.count() == 1; }));
            EXPECT_EQ(Rows(list), expected);
            EXPECT_TRUE(list->isVisible());
            ExpectContains(w.MessageText(), {"End of capture file", c.why});
            const QRect row = list->visualItemRect(list->item(1 + c.pick));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
            EXPECT_FALSE(w.IsCapturing());
            EXPECT_EQ(w.Start(), QApplication::focusWidget());
            QTest::keyClick(w.txtIP(), Qt::Key_Return);
        }
        EXPECT_EQ(w.txtIP()->text(), host);
        ASSERT_TRUE(w.IsCapturing());
        ASSERT_TRUE(WaitUntil([&] { return !w.IsCapturing(); }));
        EXPECT_EQ(w.Counts().accepted, std::uint64_t(packets));
        ExpectContains(w.MessageText(), {Figure(packets) + " drawn."});
        EXPECT_FALSE(Rows(list).contains("Busiest addresses not drawn:"));
    }
}

// The adapter list knows each adapter's addresses (here the loopback adapter's), and one
// click in the list of addresses puts one into Monitor without starting anything.
TEST(MainWindow, OffersTheAdaptersOwnAddresses) {
    frmMain w;
    w.show();
    const auto& adapters = w.Capture().Adapters();
    const auto lo = std::find_if(adapters.begin(), adapters.end(),
                                 [](const Adapter& a) { return a.name == "lo"; });
    if (lo == adapters.end()) GTEST_SKIP() << "no loopback adapter listed here";
    const int index = static_cast<int>(lo - adapters.begin());
    w.cmbInterface()->setCurrentIndex(index);
    ExpectContains(w.cmbInterface()->itemData(index, Qt::ToolTipRole).toString(), {"127.0.0.1"});
    QListWidget* list = w.lstHosts();
    ASSERT_TRUE(list->isVisible());
    const QStringList rows = Rows(list);
    EXPECT_EQ(rows.value(0), "Addresses of lo:");
    const int row = rows.indexOf("127.0.0.1");
    ASSERT_GT(row, 0) << rows.join(' ').toStdString();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
    EXPECT_EQ(w.txtIP()->text(), "127.0.0.1");
    EXPECT_FALSE(w.IsCapturing());
    ExpectContains(w.MessageText(), {"Monitor is now 127.0.0.1"});
    // The heading puts nothing into Monitor.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    EXPECT_EQ(w.txtIP()->text(), "127.0.0.1");
}

// After Stop the message says how many packets were read and drawn, at the end of a file
// that the file ended, and no longer that capture runs; Enter in Filter starts as well.
TEST(MainWindow, TheMessageSaysHowCaptureEnded) {
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "Stop" : "end of file");
        frmMain w;
        w.show();
        w.SetReplaySpeed(stop ? 20 : 0);
        w.cmbInterface()->setEditText(LUMENO_SAMPLE_CAPTURE);
        QTest::keyClick(w.txtFilter(), Qt::Key_Return);
        ASSERT_TRUE(w.IsCapturing());
        if (stop) {
            ASSERT_TRUE(WaitUntil([&] { return w.Capture().Statistics().seen >= 1000; }));
            QTest::mouseClick(w.Stop(), Qt::LeftButton);
        } else {
            ASSERT_TRUE(WaitUntil([&] { return !w.IsCapturing(); }));
        }
        const QString read = Figure(w.Capture().Statistics().seen);
        const QString drawn = Figure(w.Counts().accepted) + " drawn.";
        EXPECT_TRUE(read.contains(','));
        if (stop) {
            EXPECT_TRUE(w.MessageText().startsWith("Stopped: " + read + " packets read. " + drawn))
                << w.MessageText().toStdString();
        } else {
            ExpectContains(
                w.MessageText(),
                {"End of capture file",
                 QString("%1 packets read. ").arg(w.Capture().Statistics().seen) + drawn});
        }
        EXPECT_FALSE(w.MessageText().contains("Replaying"));
    }
}

// The widget Tab moves to from a given one: the main window's own control, not its parts.
QString TabFrom(frmMain& w, QWidget* from) {
    from->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* now = QApplication::focusWidget();
    while (now && now->parentWidget() != &w) now = now->parentWidget();
    return now ? now->objectName() : QString("(none)");
}

// Tab goes through every control the user can see, row by row and the switches column by
// column, and never to one out of sight; each button has its own Alt letter, and one of
// them pressed does what a click does.
TEST(MainWindow, TheKeyboardReachesEveryVisibleControlAndNothingElse) {
    frmMain w;
    QTemporaryDir dir;
    w.SetSnapshotDir(dir.path());
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    QStringList expected = {"txtIP",    "cmbInterface",   "btnBrowse", "txtFilter",   "Start",
                            "btnClear", "chkSaveCapture", "btnColor",  "btnSnapShot", "chkVis_4",
                            "chkVis_0", "chkVis_8",       "chkVis_7",  "chkVis_6",    "chkVis_10",
                            "chkVis_5", "chkVis_2",       "chkVis_9",  "chkVis_1",    "chkVis_3",
                            "chkVis_11"};
    // The list of addresses is there when the first adapter has some.
    if (w.lstHosts()->isVisible()) expected << "lstHosts";
    expected << "btnArrange"
             << "btnAnnotated"
             << "txtSnapshotDir"
             << "btnSnapshotDir"
             << "cmbImageFormat";
    QStringList visited = {"txtIP"};
    QWidget* at = w.txtIP();
    for (int i = 0; i < expected.size(); ++i) {
        const QString next = TabFrom(w, at);
        visited << next;
        at = w.findChild<QWidget*>(next);
        if (!at) break;
    }
    expected << "txtIP";
    EXPECT_EQ(visited, expected);

    QStringList letters;
    for (QPushButton* button : w.findChildren<QPushButton*>()) {
        if (!button->isVisibleTo(&w) || !w.rect().intersects(button->geometry())) {
            EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << button->objectName().toStdString();
            continue;
        }
        const QKeySequence key = button->shortcut();
        EXPECT_FALSE(key.isEmpty()) << button->objectName().toStdString();
        letters << key.toString();
    }
    letters.sort();
    EXPECT_EQ(letters.removeDuplicates(), 0) << letters.join(' ').toStdString();

    QSignalSpy cleared(w.btnClear(), &QPushButton::clicked);
    QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
    EXPECT_TRUE(WaitUntil([&] { return cleared.count() == 1; }, 1000));
    QTest::keyClick(&w, Qt::Key_M, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), w.txtIP());
}

}  // namespace
}  // namespace lumeno
