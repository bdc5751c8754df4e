#include "app/frmMain.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <functional>
#include <set>
#include <tuple>

#include "app/SourcePath.h"
#include "capture/CaptureTestSupport.h"
#include "capture/Decoder.h"

namespace lumeno {
namespace {

using test::ExpectContains;
using test::WaitUntil;

bool Idle(frmMain& w) {
    return w.Start()->isEnabled() && !w.Stop()->isEnabled() && w.txtIP()->isEnabled();
}

QString Figure(std::uint64_t n) {
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(n));
}

// Shows the window and waits until it has the keyboard.
bool Active(frmMain& w) {
    w.show();
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
}

QStringList Rows(const QListWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
    return rows;
}

void ClickRow(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}

// The sample's hosts by their TCP and UDP packets (tshark counts the same).
const std::pair<QString, int> kSampleBusiest[] = {
    {"192.168.1.101", 4205}, {"203.0.113.66", 2050}, {"198.51.100.20", 862},
    {"198.51.100.7", 652},   {"198.51.100.81", 124},
};

// A monitor text that matches no host, or hardly any packet, is told together with the
// busiest hosts not drawn; picking one, after the replay (then Enter in Monitor) or during it
// (it starts again by itself), draws exactly that host's packets up to the end of the file.
TEST(MainWindow, NamesTheBusiestHostsWhenNothingIsDrawnAndPickingOneDrawsThem) {
    // Monitor, while replaying, the host picked (of kSampleBusiest), what the message says at
    // the end or while replaying, packets of the first host drawn (so not counted).
    const std::tuple<QString, bool, int, QString, int> cases[] = {
        {"10.9.9.9", false, 1,
         "Nothing drawn: none of the 4,277 TCP/UDP packets is to or from \"10.9.9.9\"", 0},
        {"162.159.200.1", false, 4,
         "Only 4 of 4,277 TCP/UDP packets are to or from \"162.159.200.1\"", 4},
        {"10.9.9.9", true, 3, "Nothing drawn: no TCP/UDP packet so far is to or from \"10.9.9.9\"",
         0},
    };
    for (const auto& [monitor, duringReplay, pick, why, drawnOfFirst] : cases) {
        SCOPED_TRACE(why.toStdString());
        frmMain w;
        w.show();
        w.SetReplaySpeed(duringReplay ? 5 : 0);
        w.txtIP()->setText(monitor);
        w.cmbInterface()->setEditText(LUMENO_SAMPLE_CAPTURE);
        w.StartCapture();
        QStringList expected = {"Busiest addresses not drawn:"};
        for (const auto& [host, n] : kSampleBusiest)
            expected << QString("%1   %2 packets")
                            .arg(host, Figure(n - (expected.size() == 1 ? drawnOfFirst : 0)));
        QListWidget* list = w.lstHosts();
        const auto& [host, packets] = kSampleBusiest[pick];
        // While replaying the hosts are in the order so far: the row is found by its text.
        const auto row = [&] { return Rows(list).indexOf(QRegularExpression(host + " .*")); };
        if (duringReplay) {
            ASSERT_TRUE(WaitUntil([&] { return list->isVisible() && row() > 0; }));
            ExpectContains(w.MessageText(), {"Replaying", why});
            w.SetReplaySpeed(0);
            list->setFocus();
            list->setCurrentRow(row());
            QTest::keyClick(list, Qt::Key_Return);
        } else {
            ASSERT_TRUE(WaitUntil([&] { return !w.IsCapturing(); }));
            EXPECT_EQ(Rows(list), expected);
            ExpectContains(w.MessageText(), {"End of capture file", why});
            ClickRow(list, 1 + pick);
            EXPECT_FALSE(w.IsCapturing());
            EXPECT_EQ(w.Start(), QApplication::focusWidget());
            QTest::keyClick(w.txtIP(), Qt::Key_Return);
        }
        // Only the host's packets drawn: Monitor holds it.
        ASSERT_TRUE(WaitUntil([&] { return Idle(w); }));
        ExpectContains(w.MessageText(),
                       {"End of capture file", QString("%1 packets read. %2 drawn.")
                                                   .arg(w.Capture().Statistics().seen)
                                                   .arg(Figure(packets))});
        EXPECT_FALSE(w.MessageText().contains("Replaying"));
        EXPECT_FALSE(Rows(list).contains("Busiest addresses not drawn:"));
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

// At start-up six views are shown with their switches ticked and the first adapter is chosen,
// only Start usable. Tab goes through every control in sight, row by row and the switches
// column by column; each button has its own Alt letter, and one pressed does what a click
// does. A closed view clears its switch and its switch brings it back; one hidden otherwise
// comes back at the next click of any switch. The loopback adapter's addresses are offered.
TEST(MainWindow, StartsUpAsExpectedAndEveryControlAnswersKeyboardAndMouse) {
    frmMain w;
    const bool shown[kSwitchCount] = {true,  true,  false, false, false, true,
                                      false, false, true,  true,  false, true};
    // Whether the switch is ticked and whether the view is shown.
    const auto state = [&](int i) {
        return std::pair(w.chkVis(i)->checkState(), w.Views().View(i).isVisible());
    };
    for (int i = 0; i < kSwitchCount; ++i)
        EXPECT_EQ(state(i), std::pair(shown[i] ? Qt::Checked : Qt::Unchecked, shown[i])) << i;
    EXPECT_TRUE(Idle(w));
    EXPECT_EQ(w.cmbInterface()->currentText(), w.cmbInterface()->count() > 0
                                                   ? w.cmbInterface()->itemText(0)
                                                   : QString("No adapters found"));

    ASSERT_TRUE(Active(w));
    QStringList expected = {"txtIP",    "cmbInterface",   "btnBrowse", "txtFilter",   "Start",
                            "btnClear", "chkSaveCapture", "btnColor",  "btnSnapShot", "chkVis_4",
                            "chkVis_0", "chkVis_8",       "chkVis_7",  "chkVis_6",    "chkVis_10",
                            "chkVis_5", "chkVis_2",       "chkVis_9",  "chkVis_1",    "chkVis_3",
                            "chkVis_11"};
    // The list of addresses is there when the first adapter has some; Pause only in a replay.
    if (w.lstHosts()->isVisible()) expected << "lstHosts";
    expected += {"cmbSpeed",       "btnArrange",     "btnAnnotated", "txtSnapshotDir",
                 "btnSnapshotDir", "cmbImageFormat", "txtIP"};
    QStringList visited = {"txtIP"};
    for (QWidget* at = w.txtIP(); at && visited.size() < expected.size();
         at = w.findChild<QWidget*>(visited.last()))
        visited << TabFrom(w, at);
    EXPECT_EQ(visited, expected);

    QStringList letters;
    for (QPushButton* button : w.findChildren<QPushButton*>()) {
        if (!button->isVisibleTo(&w) || !w.rect().intersects(button->geometry())) continue;
        EXPECT_FALSE(button->shortcut().isEmpty()) << button->objectName().toStdString();
        letters << button->shortcut().toString();
    }
    // The fields' and switches' letters are the labels' and boxes' own.
    for (QWidget* c : w.findChildren<QWidget*>()) {
        const auto* label = qobject_cast<QLabel*>(c);
        const auto* box = qobject_cast<QCheckBox*>(c);
        const QString text = label ? label->text() : box ? box->text() : QString();
        if (!QKeySequence::mnemonic(text).isEmpty())
            letters << QKeySequence::mnemonic(text).toString();
    }
    letters.sort();
    EXPECT_EQ(letters.removeDuplicates(), 0) << letters.join(' ').toStdString();
    QTest::keyClick(&w, Qt::Key_M, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), w.txtIP());

    const auto click = [&](int i) { QTest::mouseClick(w.chkVis(i), Qt::LeftButton); };
    const std::pair on(Qt::Checked, true), off(Qt::Unchecked, false);
    w.Views().View(kSwitchParallelPort).close();
    w.Views().View(kSwitchWaterfall).hide();
    click(kSwitchTimeSequence);
    for (const int i : {kSwitchTimeSequence, kSwitchWaterfall}) EXPECT_EQ(state(i), on) << i;
    EXPECT_EQ(state(kSwitchParallelPort), off);
    click(kSwitchParallelPort);
    EXPECT_EQ(state(kSwitchParallelPort), on);

    // A click on an address puts it into Monitor without starting; one on the heading nothing.
    const int lo = w.cmbInterface()->findText("lo", Qt::MatchExactly);
    if (lo < 0) GTEST_SKIP() << "no loopback adapter listed here";
    w.cmbInterface()->setCurrentIndex(lo);
    ExpectContains(w.cmbInterface()->itemData(lo, Qt::ToolTipRole).toString(), {"127.0.0.1"});
    QListWidget* list = w.lstHosts();
    const int row = Rows(list).indexOf("127.0.0.1");
    ASSERT_TRUE(list->isVisible() && row > 0) << Rows(list).join(' ').toStdString();
    ClickRow(list, row);
    ClickRow(list, 0);
    EXPECT_FALSE(w.IsCapturing());
    EXPECT_EQ(w.txtIP()->text(), "127.0.0.1");
}

// Guards the body view over a replay whose reading moves packets' bytes under it (a file
// many times its read buffer): stopped in the middle and at the end, it shows the last
// packet drawn, also when frames no view draws came after it.
TEST(MainWindow, BodyShowsTheLastPacketDrawnWhereverTheFileReadingPutItsBytes) {
    std::vector<test::TimedFrame> frames;
    std::vector<test::Bytes> drawn;
    for (int i = 0; i < 3000; ++i) {
        test::Ipv4Fields f;
        f.sourcePort = static_cast<std::uint16_t>(1000 + i);
        f.payload = static_cast<std::size_t>(i * 7919 % 1400);
        frames.push_back({1.0 + i * 1e-3, test::Ethernet(test::Ipv4(f))});
        drawn.push_back(frames.back().bytes);
        if (i % 3 == 0) frames.push_back({1.0 + i * 1e-3, test::Bytes(60 + i % 500, 0xEE)});
    }
    // After the last packet drawn, more than a read buffer of frames no view draws.
    for (int i = 0; i < 800; ++i) frames.push_back({5.0, test::Bytes(1400, 0xEE)});
    const QString file = QString::fromStdString(test::WriteEthernetFile("body.pcap", frames));
    for (const bool stopEarly : {true, false}) {
        SCOPED_TRACE(stopEarly);
        frmMain w;
        w.show();
        w.SetReplaySpeed(stopEarly ? 1 : 0);  // at the recorded pace: stopped after 0.4 s
        w.ChooseFile(file);
        QTest::mouseClick(w.Start(), Qt::LeftButton);
        ASSERT_TRUE(w.IsCapturing());
        if (stopEarly) {
            ASSERT_TRUE(WaitUntil([&] { return w.Counts().accepted >= 400; }));
            QTest::mouseClick(w.Stop(), Qt::LeftButton);
        }
        ASSERT_TRUE(WaitUntil([&] { return !w.IsCapturing(); }));
        const std::uint64_t accepted = w.Counts().accepted;
        ASSERT_TRUE(accepted > 0 && (stopEarly || accepted == drawn.size())) << accepted;
        std::string hex, ascii;
        FormatBody(drawn[accepted - 1], hex, ascii);
        EXPECT_EQ(w.Views().TxtBody().HexText(), hex) << accepted << " drawn";
    }
}

// Each duration is rounded in the unit it is shown in: just under a boundary reads as the
// next unit, never "59 min 60 s". The capture clock cuts the fraction of a second.
TEST(ReplayTexts, DurationsAndCaptureClockAsTheAnalystReadsThem) {
    const double seconds[] = {-3, 0.25, 9.96, 59.6, 185, 3599.6, 86369, 86370, 187200, 1e300};
    const char* texts[] = {"0 s", "0.3 s",       "10 s", "1 min",   "3 min 5 s",
                           "1 h", "23 h 59 min", "1 d",  "2 d 4 h", "11574074074 d 2 h"};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(DurationText(seconds[i]), texts[i]) << seconds[i];
    const double local = double(QDateTime(QDate(2013, 5, 7), QTime(14, 3, 22)).toSecsSinceEpoch());
    EXPECT_EQ(CaptureClockText(local + 0.999), "2013-05-07 14:03:22");
    for (const double outside : {-1.0, 1e18})
        EXPECT_EQ(CaptureClockText(outside), "(time stamp out of range)") << outside;
}

// At the recorded pace a night in the file (20 TCP packets to and from the monitored host
// 10 ms apart, 20 h 22 min of silence, 20 more) is cut to a second and the window says so;
// Pause holds the counter and the position while Clear still empties every view, and Resume
// (Alt+U) reaches the figures of a replay never paused; a faster pace chosen in the night
// need not wait out the second; Start locks the fields and the end unlocks them.
TEST(MainWindow, ReplayControlsSteerAFileWithANightInIt) {
    const double start = double(QDateTime(QDate(2013, 5, 7), QTime(14, 3, 22)).toSecsSinceEpoch());
    test::Ipv4Fields in, out;
    std::swap(out.source, out.destination);
    std::vector<test::TimedFrame> frames;
    for (int i = 0; i < 40; ++i) {
        frames.push_back({start + (i < 20 ? 0 : 73320) + i * 0.01,
                          test::Ethernet(test::Ipv4(i % 2 ? out : in))});
    }
    const QString night = QString::fromStdString(test::WriteEthernetFile("night.pcap", frames));
    // Paused early and resumed at the recorded pace, or sped up once the night is reached.
    for (const bool pausing : {true, false}) {
        SCOPED_TRACE(pausing ? "paused and resumed" : "sped up in the night");
        frmMain w;
        ASSERT_TRUE(Active(w));
        w.ChooseFile(night);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(w.Start(), Qt::LeftButton);
        ASSERT_TRUE(w.IsCapturing() && w.btnPause()->isEnabled() && w.cmbSpeed()->isEnabled());
        EXPECT_FALSE(w.Start()->isEnabled() || w.txtIP()->isEnabled() ||
                     w.txtFilter()->isEnabled());
        EXPECT_EQ(TabFrom(w, w.cmbSpeed()), "btnPause");
        ASSERT_TRUE(
            WaitUntil([&] { return w.Capture().Statistics().seen >= (pausing ? 5u : 20u); }));
        if (pausing) {
            QTest::mouseClick(w.btnPause(), Qt::LeftButton);
            EXPECT_EQ(w.btnPause()->text(), "Res&ume");
            const auto held = [&] {
                return std::tuple(w.Capture().Statistics().seen, w.Counts().accepted,
                                  w.prgPosition()->value());
            };
            const auto before = held();
            QTest::qWait(600);  // longer than the rest of the first 20 packets
            EXPECT_EQ(held(), before);
            EXPECT_GT(std::get<2>(before), 0);
            ExpectContains(w.lblPosition()->text(), {"Paused", "Last packet 2013-05-07"});
            std::vector<PlotSurface*> drawn;
            for (int i = 0; i < kSwitchCount; ++i) {
                if (auto* graph = dynamic_cast<GraphWindow*>(&w.Views().View(i))) {
                    graph->Surface().Line(0, 5, 50, 5, MakeRgb(200, 0, 0));
                    drawn.push_back(&graph->Surface());
                }
            }
            w.Views().TxtBody().txtPacketHex()->setPlainText("41 ");
            QTest::mouseClick(w.btnClear(), Qt::LeftButton);
            EXPECT_EQ(drawn.size(), 10u);
            for (PlotSurface* s : drawn) EXPECT_EQ(s->PixelAt(10, 5), s->Background());
            EXPECT_TRUE(w.Views().TxtBody().txtPacketHex()->toPlainText().isEmpty());
            EXPECT_TRUE(w.Views().Txt().txtPacket()->toPlainText().isEmpty());
            QTest::keyClick(&w, Qt::Key_U, Qt::AltModifier);
            // The night is told while it is waited out.
            EXPECT_TRUE(WaitUntil([&] {
                return w.MessageText().contains("Time jumped: skipped 20 h 22 min of silence.");
            }));
            EXPECT_TRUE(w.IsCapturing());
            ExpectContains(w.lblPosition()->text(),
                           {"Last packet 2013-05-07 14:03:22", "20 h 22 min of silence skipped"});
        } else {
            w.cmbSpeed()->setCurrentIndex(2);
        }
        ASSERT_TRUE(WaitUntil([&] { return !w.IsCapturing(); }));
        EXPECT_GE(clock.elapsed(), pausing ? 1800 : 150);
        EXPECT_LE(clock.elapsed(), pausing ? 3500 : 900);
        const CaptureCounts& c = w.Counts();
        EXPECT_EQ(std::tuple(w.Capture().Statistics().seen, c.incomingTCP, c.outgoingTCP),
                  std::tuple(40u, 20u, 20u));
        EXPECT_EQ(w.prgPosition()->value(), w.prgPosition()->maximum());
        EXPECT_TRUE(Idle(w) && !w.btnPause()->isEnabled());
        ExpectContains(w.lblPosition()->text(), {"Last packet 2013-05-08 10:25:22"});
        ExpectContains(w.MessageText(), {"End of capture file", "40 packets read",
                                         "Time jumped: 20 h 22 min of silence skipped in all"});
    }

    // A factor the choice does not offer becomes an entry of its own, in order, once.
    frmMain w;
    w.show();
    for (const double factor : {20.0, 0.5, 1000.0, 20.0}) w.SetReplaySpeed(factor);
    QStringList speeds = {w.cmbSpeed()->currentText()};
    for (int i = 0; i < w.cmbSpeed()->count(); ++i) speeds << w.cmbSpeed()->itemText(i);
    EXPECT_EQ(speeds.join(','), "×20,×0.5,Recorded pace,×10,×20,×100,×1000,As fast as possible");
    // Started by Enter in Filter and stopped: the message says what was read and drawn.
    w.cmbInterface()->setEditText(LUMENO_SAMPLE_CAPTURE);
    QTest::keyClick(w.txtFilter(), Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return w.Capture().Statistics().seen >= 1000; }));
    QTest::mouseClick(w.Stop(), Qt::LeftButton);
    EXPECT_TRUE(Idle(w));
    EXPECT_TRUE(w.MessageText().startsWith(
        QString("Stopped: %1 packets read. %2 drawn.")
            .arg(Figure(w.Capture().Statistics().seen), Figure(w.Counts().accepted))))
        << w.MessageText().toStdString();
    EXPECT_FALSE(w.MessageText().contains("Replaying"));

    // A live capture draws every packet as it comes: no pace, no pause, no progress.
    w.cmbInterface()->setEditText("lo");
    w.StartCapture();
    if (!w.IsCapturing()) GTEST_SKIP() << "no live capture here: " << w.MessageText().toStdString();
    EXPECT_FALSE(w.btnPause()->isEnabled() || w.cmbSpeed()->isEnabled());
    QTest::qWait(300);
    EXPECT_FALSE(w.prgPosition()->isVisible());
    w.StopCapture();
    EXPECT_TRUE(w.cmbSpeed()->isEnabled());
}

// What is typed or chosen, the parts the message must hold once capture has started and
// once it has come to its end, and what the case needs of this machine.
enum Needs { kNothing, kLo, kCaptureOnLo };
struct Case {
    const char* what;
    std::function<void()> choose;
    QStringList message, atEnd;
    Needs needs;
};
Case Row(const char* what, std::function<void()> choose, const QStringList& message,
         const QStringList& atEnd = {}, Needs needs = kNothing) {
    return {what, std::move(choose), message, atEnd, needs};
}

// The adapter box takes adapter names, file paths and named pipes alike. A file wins over an
// adapter of the same name only when written as a path or chosen with "…", the window says
// which it took, and what cannot be read is refused with the reason. A pipe is read as a
// stream even when its writer comes after Start, and the capture goes to the file chosen to
// save it in; a save file that cannot be written and a bad filter are refused at Start.
TEST(AdapterBox, EverySourceIsTakenAsMeantOrRefusedSayingWhy) {
    QTemporaryDir dir;
    const QString home = QDir::currentPath(), sample = LUMENO_SAMPLE_CAPTURE;
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    ASSERT_TRUE(QFile::copy(sample, dir.filePath("lo")));
    ASSERT_EQ(::mkfifo("pipe", 0600), 0);
    // Two all-zero frames of 802.11, a link type the decoder does not read.
    const QString wifi = dir.filePath("linktype105.pcap"), saved = dir.filePath("saved.pcapng");
    test::WriteLinkTypeFile(wifi, 105, 2, 24);

    frmMain w;
    w.SetReplaySpeed(0);
    const bool haveLo = w.cmbInterface()->findText("lo", Qt::MatchExactly) >= 0;
    const bool mayCapture = geteuid() == 0;
    // Types the source, with the file to save the capture in and the filter.
    const auto type = [&](const QString& text, const QString& saveTo = {},
                          const QString& filter = {}) {
        return [&w, text, saveTo, filter] {
            w.SetCaptureFile(saveTo);
            w.txtFilter()->setText(filter);
            w.cmbInterface()->setEditText(text);
        };
    };
    // The pipe's writer comes after the reader, as a shell's `mkfifo p; tcpdump -w p` would.
    QProcess writer;
    writer.start("sh", {"-c", "sleep 0.5; cat \"$0\" > pipe", sample});
    const QString wifiText = "Frames of link type 105 (IEEE802_11: 802.11) cannot be decoded";
    const Case cases[] = {
        Row("a pipe whose writer comes later, saved", type("pipe", saved), {},
            {"4325 packets read", "4,205 drawn"}),
        Row("a bare name is the adapter", type("lo"),
            {"Capturing on lo (the adapter, not the file of that name", "./lo"}, {}, kCaptureOnLo),
        Row("written as a path it is the file", type("./lo"), {"Replaying ./lo"},
            {"End of capture file ./lo: 4325 packets read"}, kLo),
        Row(
            "chosen with the button it is the file", [&] { w.ChooseFile("lo"); },
            {"Replaying lo (the file, not the adapter lo)"},
            {"End of capture file lo: 4325 packets read"}, kLo),
        Row("no adapter and no file", type("nosuch0"),
            {"\"nosuch0\" is neither an adapter in the list nor a file (No such file or "
             "directory)"}),
        Row("frames it cannot decode", type(wifi), {wifiText}, {"End of capture file", wifiText}),
        Row("a save file that cannot be written", type("./lo", "/nonexistent/saved.pcapng"),
            {"/nonexistent/saved.pcapng: No such file or directory"}),
        Row("a filter libpcap refuses", type("./lo", {}, "tcp port ("), {"Invalid capture filter"}),
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if ((c.needs >= kLo && !haveLo) || (c.needs == kCaptureOnLo && !mayCapture)) continue;
        c.choose();
        QSignalSpy ended(&w, &frmMain::captureEnded);
        w.StartCapture();
        EXPECT_EQ(w.Start()->isEnabled(), !w.IsCapturing());
        for (const QString& part : c.message) ExpectContains(w.MessageText(), {part});
        if (!c.atEnd.isEmpty()) {
            ASSERT_TRUE(WaitUntil([&] { return !ended.isEmpty(); }, 20000));
            for (const QString& part : c.atEnd) ExpectContains(w.MessageText(), {part});
        }
        w.StopCapture();
    }
    EXPECT_FALSE(w.chkSaveCapture()->isChecked());
    EXPECT_EQ(test::ReplayFile(saved.toStdString(), "192.168.1.101").rows.size(), 4205u);
    QDir::setCurrent(home);
}

// The warning about link types must never hit a capture whose frames do decode: over the
// real captures, no link type with a single TCP or UDP frame decoded gets the window's note.
TEST(AdapterBox, NoWarningForALinkTypeWhoseFramesDecode) {
    namespace fs = std::filesystem;
    if (!fs::is_directory(LUMENO_CAPTURES_DIR)) GTEST_SKIP() << "no " << LUMENO_CAPTURES_DIR;
    std::set<int> linkTypes;
    for (const auto& entry : fs::directory_iterator(LUMENO_CAPTURES_DIR)) {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        pcap_t* file = pcap_open_offline(entry.path().c_str(), errbuf);
        if (!file) continue;
        const int linkType = pcap_datalink(file);
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        DecodedPacket packet;
        for (int i = 0; i < 2000 && pcap_next_ex(file, &header, &bytes) == 1; ++i) {
            DecodeFrame(linkType, {bytes, header->caplen}, header->len, packet);
            if (packet.protocolKind != kProtocolOther) {
                EXPECT_TRUE(UndecodableLinkTypeText(linkType).isEmpty()) << entry.path();
                linkTypes.insert(linkType);
                break;
            }
        }
        pcap_close(file);
    }
    EXPECT_GE(linkTypes.size(), 3u);
}

}  // namespace
}  // namespace lumeno
