#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <vector>

#include "app/SourcePath.h"
#include "app/frmMain.h"
#include "capture/CaptureTestSupport.h"
#include "capture/Decoder.h"

namespace lumeno {
namespace {

using test::ExpectContains;
using test::WaitUntil;

// What is typed or chosen, the parts the message must hold once capture has started and
// once it has come to its end, and what the case needs of this machine.
enum Needs { kNothing, kLo, kCaptureOnLo };
struct Case {
    const char* what;
    std::function<void()> choose;
    QStringList message, atEnd = {};
    Needs needs = kNothing;
};

// The adapter box takes adapter names, file paths and named pipes alike. A file wins over an
// adapter of the same name only when written as a path or chosen with "…", the window says
// which it took, and what cannot be read is refused with the reason. A pipe is read as a
// stream even when its writer comes after Start, and the capture goes to the file chosen to
// save it in; a save file that cannot be written and a bad filter are refused at Start.
TEST(AdapterBox, EverySourceIsTakenAsMeantOrRefusedSayingWhy) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = QDir::currentPath(), sample = LUMENO_SAMPLE_CAPTURE;
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    ASSERT_TRUE(QFile::copy(sample, dir.filePath("lo")));
    std::ofstream("notes") << "hello\n";
    ASSERT_TRUE(QDir().mkdir("folder"));
    ASSERT_EQ(::mkfifo("pipe", 0600), 0);
    // Two all-zero frames of 802.11, a link type the decoder does not read.
    const QString wifi = dir.filePath("linktype105.pcap"), saved = dir.filePath("saved.pcapng");
    test::WriteLinkTypeFile(wifi, 105, 2, 24);

    frmMain w;
    w.SetReplaySpeed(0);
    const bool haveLo = w.cmbInterface()->findText("lo", Qt::MatchExactly) >= 0;
    const bool mayCapture = geteuid() == 0;
    const auto type = [&](const QString& text) {
        return [&w, text] { w.cmbInterface()->setEditText(text); };
    };
    QProcess writer;
    const QString wifiText = "Frames of link type 105 (IEEE802_11: 802.11) cannot be decoded";
    const Case cases[] = {
        {"a bare name is the adapter",
         type("lo"),
         {"Capturing on lo (the adapter, not the file of that name", "./lo"},
         {},
         kCaptureOnLo},
        {"written as a path it is the file",
         type("./lo"),
         {"Replaying ./lo"},
         {"End of capture file ./lo: 4325 packets read"},
         kLo},
        {"chosen with the button it is the file",
         [&] { w.ChooseFile("lo"); },
         {"Replaying lo (the file, not the adapter lo)"},
         {"End of capture file lo: 4325 packets read"},
         kLo},
        {"a bare name of a file and no adapter, not a capture",
         type("notes"),
         {"notes", "unknown file format"}},
        {"no adapter and no file",
         type("nosuch0"),
         {"\"nosuch0\" is neither an adapter in the list nor a file (No such file or "
          "directory)"}},
        {"a directory", type("folder"), {"\"folder\" is a directory"}},
        {"frames it cannot decode", type(wifi), {wifiText}, {"End of capture file", wifiText}},
        {"a pipe whose writer comes later, saved",
         [&] {
             w.SetCaptureFile(saved);
             writer.start("sh", {"-c", "sleep 0.5; cat \"$0\" > pipe", sample});
             type("pipe")();
         },
         {},
         {"4325 packets read", "4,205 drawn"}},
        {"a save file that cannot be written",
         [&] {
             w.SetCaptureFile("/nonexistent/saved.pcapng");
             type("./lo")();
         },
         {"/nonexistent/saved.pcapng: No such file or directory"}},
        {"a filter libpcap refuses",
         [&] {
             w.SetCaptureFile({});
             w.txtFilter()->setText("tcp port (");
         },
         {"Invalid capture filter"}},
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
    EXPECT_TRUE(writer.waitForFinished());
    EXPECT_FALSE(w.chkSaveCapture()->isChecked());
    EXPECT_EQ(test::ReplayFile(saved.toStdString(), "192.168.1.101").rows.size(), 4205u);
    QDir::setCurrent(home);
}

// The warning about link types must never hit a capture whose frames do decode: over the
// real captures, no link type with a single TCP or UDP frame decoded gets the window's note.
TEST(AdapterBox, NoWarningForALinkTypeWhoseFramesDecode) {
    namespace fs = std::filesystem;
    if (!fs::is_directory(LUMENO_CAPTURES_DIR)) GTEST_SKIP() << "no " << LUMENO_CAPTURES_DIR;
    std::map<int, std::string> decodedIn;  // link type: the first file that showed it decoding
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
                decodedIn.try_emplace(linkType, entry.path().filename().string());
                break;
            }
        }
        pcap_close(file);
    }
    EXPECT_GE(decodedIn.size(), 3u);
    for (const auto& [linkType, file] : decodedIn) {
        EXPECT_TRUE(UndecodableLinkTypeText(linkType).isEmpty()) << linkType << " in " << file;
    }
}

}  // namespace
}  // namespace lumeno
