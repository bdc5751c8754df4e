#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

namespace fs = std::filesystem;
using test::ExpectContains;
using test::ReplayFile;

// Every real capture file, many of them deliberately malformed, goes through the capture
// control, the decoder and the intake. Under the sanitizers any over-read fails the run;
// here each file must either be refused, or be read to its end or to a clear failure, with
// a message naming it and saying why; and every record must be a TCP or UDP frame's
// captured bytes, incoming (the empty monitor matches all), with both addresses. The
// records whose outermost IP header is IPv6 are, in order, what tshark shows
// (ipv6-tshark-records.sh wrote them into ipv6-tshark-records.tsv), and no other file gives
// one. Among the files: DLT_IPV6, Linux cooked (v1 and v2), raw IP by its version, BSD
// loopback, a jumbogram, tunnels (the outer header decides), routing and hop-by-hop headers.
TEST(CaptureFiles, EveryRealFileIsReadOrRefusedClearlyAndItsIPv6RecordsAgreeWithTshark) {
    if (!fs::is_directory(LUMENO_CAPTURES_DIR)) GTEST_SKIP() << "no " << LUMENO_CAPTURES_DIR;
    std::map<std::string, std::vector<std::string>> expected;
    std::ifstream table(fs::path(__FILE__).parent_path() / "ipv6-tshark-records.tsv");
    for (std::string line; std::getline(table, line);) {
        const std::size_t tab = line.find('\t');
        expected[line.substr(0, tab)].push_back(line.substr(tab + 1));
    }
    ASSERT_EQ(expected.size(), 36u);
    // BIG TCP: a payload length of 0 with no jumbo option, which tshark and tcpdump call
    // malformed. The capture is the datagram, as for an IPv4 total length of 0; the ports
    // are those in the bytes.
    expected["bigtcp-ipv6.pcap"] = {
        "incomingTCP\t2604:1380:4091:ce00::b\t43267\t2604:1380:4091:ce00::d\t41219\t32767"};
    expected["bigtcp-ipv6-vxlan-ipv4.pcap"] = {
        "incomingUDP\t2604:1380:4091:ce00::d\t52238\t2604:1380:4091:ce00::b\t4789\t32767"};
    expected["bigtcp-ipv6-vxlan-ipv6.pcap"] = {
        "incomingUDP\t2604:1380:4091:ce00::d\t37059\t2604:1380:4091:ce00::b\t4789\t32767"};
    expected["bigtcp-ipv6-geneve-ipv6.pcap"] = {
        "incomingUDP\t2604:1380:4091:ce00::d\t23733\t2604:1380:4091:ce00::b\t6081\t32767"};

    int files = 0, opened = 0;
    std::uint64_t tcpUdp = 0;
    std::size_t records = 0;
    for (const auto& entry : fs::directory_iterator(LUMENO_CAPTURES_DIR)) {
        const fs::path& path = entry.path();
        if (path.extension() != ".pcap" && path.extension() != ".pcapng") continue;
        const test::FileRun run = ReplayFile(path.string(), "");
        const std::string file = path.filename().string();
        const QString name = QString::fromStdString(file);
        const QString& message = run.started ? run.endMessage : run.startError;
        const qsizetype reason = message.lastIndexOf(name) + name.size();  // what follows it
        EXPECT_TRUE(message.contains(name) && message.size() > reason + 10)
            << path << ": " << message.toStdString();
        ++files;
        opened += run.started;
        tcpUdp += run.tcpUdp;
        EXPECT_EQ(run.rows.size(), run.tcpUdp) << path;
        std::vector<std::string> lines;
        for (const test::Row& r : run.rows) {
            ASSERT_TRUE(r.packetLen == int(r.packetTxt.size()) && !r.sourceIP.empty() &&
                        !r.dstIP.empty() && r.transportType.starts_with("incoming"))
                << path << ": " << testing::PrintToString(r);
            if (r.sourceIP.find(':') == std::string::npos) continue;
            std::ostringstream line;
            line << r.transportType << '\t' << r.sourceIP << '\t' << r.sourcePort << '\t' << r.dstIP
                 << '\t' << r.dstPort << '\t' << r.packetLen;
            lines.push_back(line.str());
        }
        records += lines.size();
        const auto found = expected.find(file);
        EXPECT_EQ(lines, found == expected.end() ? std::vector<std::string>{} : found->second)
            << file;
    }
    EXPECT_GT(files, 500);
    EXPECT_GT(opened, files * 8 / 10);
    EXPECT_GT(tcpUdp, 1000u);
    EXPECT_EQ(records, 337u);
}

// Real files of each IPv4 link type (IPv6: the sweep above): the counts of frames and of
// TCP/UDP frames, and the first record turned to face the monitor, as tshark shows them.
TEST(CaptureFiles, CountsAndRecordsAgreeWithTshark) {
    if (!fs::is_directory(LUMENO_CAPTURES_DIR)) GTEST_SKIP() << "no " << LUMENO_CAPTURES_DIR;
    const std::tuple<const char*, const char*, std::uint64_t, std::uint64_t, const char*> cases[] =
        {
            {"dns-badvers.pcap", "172.30.42.67", 4, 4,  // Ethernet
             "outgoingUDP a0:21:b7:ac:48:7c 192.5.5.241:53 -> 8c:85:90:8d:92:57 "
             "172.30.42.67:64888 length 82, 82 bytes"},
            {"tcp-handshake-nano.pcap", "131.155.215.69", 3, 3,  // Linux cooked, nanoseconds
             "outgoingTCP  137.116.81.94:80 ->  131.155.215.69:46656 length 76, 76 bytes"},
            {"dns-badcookie.pcap", "127.0.0.1", 4, 4,  // BSD loopback
             "incomingUDP  127.0.0.1:54954 ->  127.0.0.1:53 length 72, 72 bytes"},
            {"LINKTYPE_IPV4.pcap", "192.168.1.100", 1, 1,
             "outgoingUDP  9.9.9.9:53 ->  192.168.1.100:12345 length 57, 57 bytes"},
            {"LINKTYPE_RAW_ipv4.pcap", "192.168.1.100", 1, 1,
             "outgoingUDP  9.9.9.9:53 ->  192.168.1.100:12345 length 57, 57 bytes"},
        };
    for (const auto& [file, monitor, frames, tcpUdp, first] : cases) {
        const test::FileRun run =
            ReplayFile((fs::path(LUMENO_CAPTURES_DIR) / file).string(), monitor);
        ASSERT_TRUE(run.finished) << file << ": " << run.startError.toStdString();
        EXPECT_EQ(std::tuple(run.seen, run.tcpUdp), std::tuple(frames, tcpUdp)) << file;
        EXPECT_EQ(run.rows.empty() ? "" : testing::PrintToString(run.rows[0]), first) << file;
    }
}

// An empty file is refused, and a file cut inside its fourth record fails after drawing
// the three whole ones, each naming the file and why (missing files, folders and files of
// no capture format: the command line's and the window's tests).
TEST(CaptureFiles, BadFilesFailNamingTheFileAndWhy) {
    const std::string empty = test::TempPath("empty.pcap");
    std::ofstream{empty};
    const test::Bytes frame = test::Ethernet(test::Ipv4());
    const std::string cut =
        test::WriteEthernetFile("cut.pcap", std::vector<test::TimedFrame>(5, {1, frame}));
    fs::resize_file(cut, 24 + 3 * (16 + frame.size()) + 20);
    for (const auto& [path, reason, rows] :
         {std::tuple<std::string, QString, std::size_t>{empty, "truncated", 0},
          {cut, "damaged after 3 packets", 3}}) {
        const test::FileRun run = ReplayFile(path, "192.168.1.101");
        ExpectContains(run.started ? run.endMessage : run.startError,
                       {QString::fromStdString(path), reason});
        EXPECT_FALSE(run.finished);
        EXPECT_EQ(run.rows.size(), rows);
    }
}

// Stop inside a packet event ends delivery at once yet leaves that packet's bytes readable
// (libpcap is still in its read loop); the control then starts again from the beginning.
TEST(CaptureFiles, StopFromInsideAPacketEventEndsDeliveryAtOnce) {
    const test::Bytes frame = test::Ethernet(test::Ipv4());
    CaptureCtrl capture;
    capture.SetCurrentAdapter(CaptureCtrl::FileAdapter(
        test::WriteEthernetFile("stop.pcap", std::vector<test::TimedFrame>(50, {1, frame}))));
    capture.SetReplaySpeed(0);
    int events = 0, stopAt = 10;
    bool ended = false;
    capture.SetPacketHandler([&](const DecodedPacket& p) {
        if (++events != stopAt) return;
        capture.Stop();
        EXPECT_EQ(test::Bytes(p.data.begin(), p.data.end()), frame);
    });
    QObject::connect(&capture, &CaptureCtrl::finished, [&] { ended = true; });
    ASSERT_TRUE(capture.Start(nullptr));
    QTest::qWait(300);
    EXPECT_TRUE(events == 10 && !ended && !capture.IsCapturing()) << events << " events";
    events = stopAt = 0;
    ASSERT_TRUE(capture.Start(nullptr));
    EXPECT_TRUE(test::WaitUntil([&] { return ended; }));
    EXPECT_TRUE(events == 50 && capture.Statistics().seen == 50u) << events << " events";
}

}  // namespace
}  // namespace lumeno
