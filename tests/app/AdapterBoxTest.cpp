#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <filesystem>
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
// once a file has come to its end, and what the case needs of this machine.
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

// The adapter box takes adapter names and file paths alike. A file wins over an adapter of
// the same name only when written as a path or chosen with "…", the window says which it
// took, and a path that is no capture file is refused with the reason.
TEST(AdapterBox, AFileWinsOnlyAsAPathOrWhenChosenAndTheWindowSaysWhichItTook) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    ASSERT_TRUE(QFile::copy(QStringLiteral(LUMENO_SAMPLE_CAPTURE), dir.filePath("lo")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(LUMENO_SAMPLE_CAPTURE), dir.filePath("sample")));
    ASSERT_TRUE(QDir().mkdir("folder"));
    const int listener = test::UnixSocket("socket");
    ASSERT_GE(listener, 0);
    // Two all-zero frames of 802.11, a link type the decoder does not read.
    const QString wifi = dir.filePath("linktype105.pcap");
    test::WriteLinkTypeFile(wifi, 105, 2, 24);

    frmMain w;
    w.SetReplaySpeed(0);
    const bool haveLo = w.cmbInterface()->findText("lo", Qt::MatchExactly) >= 0;
    const bool mayCapture = geteuid() == 0;
    const auto type = [&](const QString& text) {
        return [&w, text] { w.cmbInterface()->setEditText(text); };
    };
    const QString wifiText = "Frames of link type 105 (IEEE802_11: 802.11) cannot be decoded";
    const Case cases[] = {
        Row("a bare name is the adapter", type("lo"),
            {"Capturing on lo (the adapter, not the file of that name", "./lo"}, {}, kCaptureOnLo),
        Row("written as a path it is the file", type("./lo"), {"Replaying ./lo"},
            {"End of capture file ./lo: 4325 packets read"}, kLo),
        Row(
            "chosen with the button it is the file", [&] { w.ChooseFile("lo"); },
            {"Replaying lo (the file, not the adapter lo)"},
            {"End of capture file lo: 4325 packets read"}, kLo),
        Row("a bare name of a file and no adapter", type("sample"), {"Replaying sample"}),
        Row("no adapter and no file", type("nosuch0"),
            {"\"nosuch0\" is neither an adapter in the list nor a file (No such file or "
             "directory)"}),
        Row("a missing path", type("/nonexistent/x.pcap"),
            {"\"/nonexistent/x.pcap\": No such file or directory"}),
        Row("a directory", type("folder"), {"\"folder\" is a directory"}),
        Row("a socket", type("socket"), {"is not a regular file"}),
        Row("frames it cannot decode", type(wifi), {wifiText}, {"End of capture file", wifiText}),
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if ((c.needs >= kLo && !haveLo) || (c.needs == kCaptureOnLo && !mayCapture)) continue;
        c.choose();
        QSignalSpy ended(&w, &frmMain::captureEnded);
        w.StartCapture();
        for (const QString& part : c.message) ExpectContains(w.MessageText(), {part});
        if (!c.atEnd.isEmpty()) {
            ASSERT_TRUE(WaitUntil([&] { return !ended.isEmpty(); }));
            for (const QString& part : c.atEnd) ExpectContains(w.MessageText(), {part});
        }
        w.StopCapture();
    }
    ::close(listener);
    QDir::setCurrent(home);
}

// The warning about link types must never hit a capture whose frames do decode: over the
// real captures, every link type with a single TCP or UDP frame decoded is one the decoder
// says it knows, and the window's note is empty for it.
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
        EXPECT_TRUE(DecodesLinkType(linkType)) << linkType << " in " << file;
        EXPECT_TRUE(UndecodableLinkTypeText(linkType).isEmpty()) << linkType;
    }
    EXPECT_FALSE(DecodesLinkType(12345));
}

}  // namespace
}  // namespace lumeno
