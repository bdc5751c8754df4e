#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ExpectContains;
using test::ReplayFile;

std::string Capture(const std::string& name) {
    return (fs::path(LUMENO_CAPTURES_DIR) / name).string();
}

bool HaveCaptures() {
    return fs::is_directory(LUMENO_CAPTURES_DIR);
}

#define REQUIRE_CAPTURES() \
    if (!HaveCaptures()) GTEST_SKIP() << "no capture folder at " << LUMENO_CAPTURES_DIR

// Every real capture file, many of them deliberately malformed, goes through the capture
// control, the decoder and the intake. Under the sanitizers any over-read fails the run;
// here each file must either be refused with a message naming it, or be read to its end
// or to a clear failure.
TEST(CaptureFiles, EveryRealFileIsReadOrRefusedClearly) {
    REQUIRE_CAPTURES();
    int files = 0, opened = 0;
    std::uint64_t tcpUdp = 0;
    for (const auto& entry : fs::directory_iterator(LUMENO_CAPTURES_DIR)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".pcap" && ext != ".pcapng") continue;
        ++files;
        const std::string path = entry.path().string();
        const test::FileRun run = ReplayFile(path, "", 0);
        const QString name = QString::fromStdString(entry.path().filename().string());
        if (!run.started) {
            EXPECT_TRUE(run.startError.contains(name)) << run.startError.toStdString();
            EXPECT_GT(run.startError.size(), name.size() + 25) << run.startError.toStdString();
            continue;
        }
        ++opened;
        EXPECT_TRUE(run.finished || run.failed) << path << " did not end";
        EXPECT_TRUE(run.endMessage.contains(name)) << run.endMessage.toStdString();
        tcpUdp += run.tcpUdp;
        // With the empty monitor every TCP and UDP frame is accepted, and every record is
        // the frame's first bytes, never more than were captured.
        EXPECT_EQ(run.rows.size(), run.tcpUdp) << path;
        for (const test::Row& row : run.rows) {
            ASSERT_EQ(static_cast<std::size_t>(row.packetLen), row.packetTxt.size());
            ASSERT_TRUE(row.transportType == "incomingTCP" || row.transportType == "incomingUDP");
            ASSERT_FALSE(row.sourceIP.empty());
            ASSERT_FALSE(row.dstIP.empty());
        }
    }
    EXPECT_GT(files, 500);
    EXPECT_GT(opened, files * 8 / 10);
    EXPECT_GT(tcpUdp, 1000u);
}

std::string Describe(const test::Row& r) {
    return r.transportType + " " + r.sourceIP + ":" + std::to_string(r.sourcePort) + " " + r.dstIP +
           ":" + std::to_string(r.dstPort) + " " + std::to_string(r.packetLen);
}

// Counts of frames and of IPv4 TCP/UDP frames (not later fragments), and the first records
// turned to face the monitor, as tshark shows them.
TEST(CaptureFiles, CountsAndRecordsAgreeWithTshark) {
    REQUIRE_CAPTURES();
    const struct {
        const char* file;
        const char* monitor;
        std::uint64_t frames, tcpUdp;
    } cases[] = {
        {"802.1ad_QinQ.pcap", "", 2, 0},                      // QinQ-tagged ARP
        {"tcp-handshake-nano.pcap", "131.155.215.69", 3, 3},  // Linux cooked, nanoseconds
        {"resp_1_benchmark.pcap", "", 150, 150},              // Linux cooked
        {"dns-badcookie.pcap", "127.0.0.1", 4, 4},            // BSD loopback
        {"LINKTYPE_IPV4.pcap", "192.168.1.100", 1, 1},        // raw IPv4
        {"LINKTYPE_RAW_ipv4.pcap", "192.168.1.100", 1, 1},    // raw
        {"quic_handshake.pcap", "", 18, 0},                   // loopback, IPv6 only
        {"babel.pcap", "", 25, 0},                            // Linux cooked, IPv6 only
    };
    const std::map<std::string, std::vector<std::string>> records = {
        {"tcp-handshake-nano.pcap",
         {"outgoingTCP 137.116.81.94:80 131.155.215.69:46656 76",
          "incomingTCP 137.116.81.94:80 131.155.215.69:46656 76",
          "outgoingTCP 137.116.81.94:80 131.155.215.69:46656 68"}},
        {"dns-badcookie.pcap",
         {"incomingUDP 127.0.0.1:54954 127.0.0.1:53 72",
          "incomingUDP 127.0.0.1:53 127.0.0.1:54954 88"}},
        {"LINKTYPE_IPV4.pcap", {"outgoingUDP 9.9.9.9:53 192.168.1.100:12345 57"}},
        {"LINKTYPE_RAW_ipv4.pcap", {"outgoingUDP 9.9.9.9:53 192.168.1.100:12345 57"}},
    };
    for (const auto& e : cases) {
        const test::FileRun run = ReplayFile(Capture(e.file), e.monitor, 0);
        ASSERT_TRUE(run.started) << e.file << ": " << run.startError.toStdString();
        EXPECT_TRUE(run.finished) << e.file << ": " << run.endMessage.toStdString();
        EXPECT_EQ(run.seen, e.frames) << e.file;
        EXPECT_EQ(run.tcpUdp, e.tcpUdp) << e.file;
        if (!records.contains(e.file)) continue;
        const std::vector<std::string>& expected = records.at(e.file);
        ASSERT_GE(run.rows.size(), expected.size()) << e.file;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(Describe(run.rows[i]), expected[i]) << e.file;
        }
    }
}

TEST(CaptureFiles, MissingAndNonCaptureFilesAreRefusedWithTheReason) {
    const test::FileRun missing = ReplayFile("/nonexistent/none.pcap", "");
    EXPECT_FALSE(missing.started);
    ExpectContains(missing.startError, {"/nonexistent/none.pcap", "No such file"});

    const std::string text = test::TempPath("notes.pcap");
    std::ofstream(text) << "this is not a capture file, just some words\n";
    const test::FileRun notCapture = ReplayFile(text, "");
    EXPECT_FALSE(notCapture.started);
    ExpectContains(notCapture.startError, {"notes.pcap"});

    const std::string empty = test::TempPath("empty.pcap");
    std::ofstream{empty};
    EXPECT_FALSE(ReplayFile(empty, "").started);
}

TEST(CaptureFiles, AFileDamagedInTheMiddleFailsAfterItsGoodPackets) {
    const test::Bytes frame = test::Ethernet(test::Ipv4());
    const std::string good =
        test::WriteEthernetFile("good.pcap", std::vector<test::TimedFrame>(5, {1, frame}));
    // Cut the file in the middle of the fourth record's bytes.
    const std::string cut = test::TempPath("cut.pcap");
    fs::copy_file(good, cut, fs::copy_options::overwrite_existing);
    fs::resize_file(cut, 24 + 3 * (16 + frame.size()) + 20);

    const test::FileRun run = ReplayFile(cut, "192.168.1.101");
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(run.failed);
    EXPECT_FALSE(run.finished);
    EXPECT_EQ(run.rows.size(), 3u);
    ExpectContains(run.endMessage, {"cut.pcap", "after 3 packets"});

    const test::FileRun whole = ReplayFile(good, "192.168.1.101");
    EXPECT_TRUE(whole.finished);
    EXPECT_EQ(whole.rows.size(), 5u);
    ExpectContains(whole.endMessage, {"5 packets"});
}

TEST(CaptureFiles, ReplayKeepsTheRecordedPaceScaledBySpeed) {
    std::vector<test::TimedFrame> frames;
    for (int i = 0; i < 4; ++i) frames.push_back({5000.0 + 0.2 * i, test::Ethernet(test::Ipv4())});
    const std::string path = test::WriteEthernetFile("paced.pcap", frames);

    const test::FileRun recorded = ReplayFile(path, "", 1.0);
    EXPECT_EQ(recorded.rows.size(), 4u);
    EXPECT_GE(recorded.seconds, 0.55);
    EXPECT_LT(recorded.seconds, 3.0);

    const test::FileRun faster = ReplayFile(path, "", 4.0);
    EXPECT_EQ(faster.rows.size(), 4u);
    EXPECT_GE(faster.seconds, 0.13);
    EXPECT_LT(faster.seconds, recorded.seconds);
}

TEST(CaptureFiles, StopFromInsideAPacketEventEndsDeliveryAtOnce) {
    std::vector<test::TimedFrame> frames;
    for (int i = 0; i < 50; ++i) frames.push_back({1.0 + i * 1e-3, test::Ethernet(test::Ipv4())});
    const std::string path = test::WriteEthernetFile("stop.pcap", frames);

    CaptureCtrl capture;
    capture.SetCurrentAdapter(CaptureCtrl::FileAdapter(path));
    capture.SetReplaySpeed(0);
    int events = 0;
    bool ended = false;
    capture.SetPacketHandler([&](const DecodedPacket& p) {
        ++events;
        if (events == 10) {
            capture.Stop();
            // The packet's bytes are still readable for the rest of this event.
            EXPECT_EQ(p.data.size(), frames[0].bytes.size());
            EXPECT_EQ(p.data[0], frames[0].bytes[0]);
        }
    });
    QObject::connect(&capture, &CaptureCtrl::finished, [&] { ended = true; });
    QString error;
    ASSERT_TRUE(capture.Start(&error)) << error.toStdString();
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(events, 10);
    EXPECT_FALSE(ended);
    EXPECT_FALSE(capture.IsCapturing());

    // The control can start again afterwards, from the beginning.
    events = 0;
    ASSERT_TRUE(capture.Start(&error));
    capture.SetPacketHandler([&](const DecodedPacket&) { ++events; });
    QObject::connect(&capture, &CaptureCtrl::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(events, 50);
    EXPECT_TRUE(ended);
    EXPECT_EQ(capture.Statistics().seen, 50u);
}

}  // namespace
}  // namespace lumeno
