#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <map>
#include <vector>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::ExpectMatches;
using test::Lumeno;
using test::ProgramRun;

// Sends the signals, in turn, half a second after the program has its own handlers for both
// SIGINT and SIGTERM in place.
std::function<void(QProcess&)> SignalSoon(std::vector<int> sent) {
    return [sent](QProcess& process) {
        const std::uint64_t wanted = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1));
        QElapsedTimer waited;
        waited.start();
        while ((test::ProcStatusField(process.processId(), "SigCgt").value_or(0) & wanted) !=
                   wanted &&
               waited.elapsed() < 60000 && process.state() == QProcess::Running) {
            QTest::qWait(20);
        }
        QTest::qWait(500);
        for (const int signal : sent) ::kill(static_cast<pid_t>(process.processId()), signal);
    };
}

enum Needs { kNothing, kRoot, kDisk };
// What, the arguments (after --headless --snapshot-dir IMAGES unless they name their own),
// the exit status, the images left (-1: not checked), the patterns standard error and the
// summary must match, how the program runs, and what it needs of this machine.
struct Case {
    const char* what;
    QStringList arguments;
    int status, images;
    QStringList err, out;
    test::ProgramSetup setup;
    Needs needs;
};
Case Row(const char* what, const QStringList& arguments, int status, int images,
         const QStringList& err, const QStringList& out = {}, const test::ProgramSetup& setup = {},
         Needs needs = kNothing) {
    return {what, arguments, status, images, err, out, setup, needs};
}

// A run must never pass a failure off as success: each case is checked for its exit status
// (2 for a mistake on the command line, 1 for one found while running, 128 + the signal for
// an interrupted run, -2 for one killed), what standard error and the summary say, and how
// many images it left. Among them runs that succeed: a replay at full speed unless a pace is
// asked for (at a pace a 20-hour gap is cut, and the summary says how much time was skipped).
TEST(Headless, EveryFailureAndInterruptionShowsInTheStatusAndTheMessage) {
    QTemporaryDir dir;
    const QString sample = LUMENO_SAMPLE_CAPTURE;
    const QString named = dir.filePath("named");
    ASSERT_TRUE(QDir().mkpath(named));
    ASSERT_TRUE(QFile::copy(sample, named + "/lo"));
    const QString unknown = dir.filePath("linktype12345.pcap");
    test::WriteLinkTypeFile(unknown, 12345, 3);
    const QString socketPath = dir.filePath("socket");
    const int listener = test::UnixSocket(socketPath);
    ASSERT_GE(listener, 0);
    const test::Bytes frame = test::Ethernet(test::Ipv4());
    const QString night = QString::fromStdString(test::WriteEthernetFile(
        "headless-night.pcap", {{50, frame}, {50.1, frame}, {50.1 + 72000, frame}}));

    const test::ProgramSetup full{.stdoutFile = "/dev/full"};
    const test::TinyDisk disk("64k");
    const test::LoopbackUdp udp;
    ASSERT_TRUE(udp.Ok());
    const QString written = dir.filePath("live.pcapng");
    const QStringList liveRecords = {"--records", "--monitor", "127.0.0.1"};
    const QString noSpace = "No space left on device";
    const QString busiest =
        "busiest addresses.*\n +192\\.168\\.1\\.50 +144\n +198\\.51\\.100\\.90 +72\n "
        "+8\\.8\\.8\\.8 +72\n";
    const QStringList sampleFigures = {
        "packets read +12975",         "accepted +12615",        "incomingTCP +5097",
        "outgoingTCP +4812",           "incomingUDP +2640",      "outgoingUDP +66",
        "not the monitored host +216", "dropped as other +144",  busiest,
        "rate +[0-9]+ packets/s",      "peak memory +[0-9.]+ MB"};
    const QStringList sampleThrice = {"--loop", "3", "--monitor", "192.168.1.101", sample};
    const Case cases[] = {
        // The sample's figures are what tshark counts (ip.dst / ip.src of the monitored host, by
        // transport), three times over; its pictures on two threads are those of one (below).
        Row("the sample on one thread", QStringList{"--threads", "1"} + sampleThrice, 0, 10, {},
            sampleFigures),
        Row("the sample on two threads", QStringList{"--threads", "2"} + sampleThrice, 0, 10, {},
            sampleFigures),
        // Standard input (`cat FILE | lumeno --headless --records -`) gives the records of the
        // file lo (below), saying that a stream cannot tell what its writer's kernel lost.
        Row("records from standard input", {"--records", "-"}, 0, 10,
            {"packets read +4325\\n", "lost by the kernel +not known"}, {}, {.feed = sample}),
        // Live records written to a file and read back give the same (below).
        Row("live records written to a file",
            liveRecords + QStringList{"--capture-on", "lo", "--seconds", "2", "--write", written,
                                      "--filter", QString("udp dst port %1").arg(udp.port)},
            0, 10, {"lost by the kernel +0\\n"}, {},
            {.whileRunning = udp.WhileRunning("written", 20, 20, 700)}, kRoot),
        Row("the written file read back", liveRecords + QStringList{written}, 0, 10, {}, {}, {},
            kRoot),
        Row("records into a full device stop the reading", {"--records", "--loop", "3", sample}, 1,
            10,
            {"^lumeno: records not written: " + noSpace + "\\n(?![\\s\\S]*records not written)",
             "packets read +[0-9]{1,4}\\n"},
            {}, full),
        Row("a summary into a full device", {sample}, 1, 10, {"summary not written: " + noSpace},
            {}, full),
        Row("a file named like an adapter is read as the file", {"--records", "lo"}, 0, 10,
            {"^Replayed lo ", "packets read +4325\\n"}, {}, {.workingDir = named}),
        Row("a 20-hour gap at a pace, cut to the user's limit",
            {"--speed", "1", "--max-gap", "0.3", night}, 0, -1, {},
            {"packets read +3\\n",
             "time skipped +71999\\.700 s \\(gaps longer than 0\\.3 s cut\\)"}),
        Row("a name that is no file says how to capture from the adapter", {"lo"}, 1, 0,
            {"\"lo\": No such file or directory", "--capture-on lo --seconds S"}, {},
            {.workingDir = "/"}),
        Row("a missing path", {"/nonexistent/x.pcap"}, 1, 0,
            {"\"/nonexistent/x.pcap\": No such file"}),
        Row("a directory", {named}, 1, 0, {"is a directory"}),
        Row("a socket", {socketPath}, 1, 0, {"is not a regular file"}),
        Row("a link type libpcap has no name for", {unknown}, 1, 10,
            {"^lumeno: Frames of link type 12345 cannot be decoded"},
            {"packets read +3\\n", "accepted +0\\n"}),
        Row("snapshots into a tiny disk", {"--snapshot-dir", disk.Path(), sample}, 1, -1,
            {"image not saved: " + disk.Path() + "/.*: " + noSpace}, {}, {}, kDisk),
        Row("an unknown adapter", {"--capture-on", "nosuchadapter0", "--seconds", "1"}, 1, 0,
            {"no adapter named \"nosuchadapter0\""}),
        Row("no file", {}, 2, 0, {"capture file"}),
        Row("a speed that is no number", {"--speed", "fast", sample}, 2, 0, {"--speed"}),
        Row("three threads", {"--threads", "3", sample}, 2, 0, {"--threads"}),
        Row("no rounds", {"--loop", "0", sample}, 2, 0, {"--loop"}),
        Row("an image format neither BMP nor PNG", {"--image-format", "jpg", sample}, 2, 0,
            {"--image-format.*'jpg'"}),
        Row("a negative gap", {"--max-gap", "-1", sample}, 2, 0, {"--max-gap"}),
        Row("live without an end", {"--capture-on", "lo"}, 2, 0, {"--seconds"}),
        Row("an end that is no number", {"--capture-on", "lo", "--seconds", "soon"}, 2, 0,
            {"'soon'"}),
        Row("SIGTERM during a replay", {"--loop", "100000", sample}, 143, 10, {},
            {"^Replayed .*, interrupted by SIGTERM\\n", "packets read +[1-9]"},
            {.whileRunning = SignalSoon({SIGTERM})}),
        Row("a second signal ends at once", {"--loop", "100000", sample}, -2, -1, {}, {},
            {.whileRunning = SignalSoon({SIGINT, SIGTERM})}),
        Row("SIGINT during a 30-second live capture",
            {"--capture-on", "lo", "--seconds", "30", "--filter", "udp port 9"}, 130, 10, {},
            {"^Captured on lo .*, interrupted by SIGINT\\n", "packets read +[0-9]"},
            {.whileRunning = SignalSoon({SIGINT})}, kRoot),
    };
    std::map<QString, ProgramRun> runs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if ((c.needs == kRoot && geteuid() != 0) || (c.needs == kDisk && disk.Path().isEmpty())) {
            std::printf("[  SKIPPED ] %s: %s\n", c.what,
                        c.needs == kRoot ? "capturing needs root" : qPrintable(disk.Why()));
            continue;
        }
        const QString images = dir.filePath(QStringLiteral("images-%1").arg(&c - cases));
        ASSERT_TRUE(QDir().mkpath(images));
        QStringList arguments{"--headless"};
        if (!c.arguments.contains("--snapshot-dir")) arguments << "--snapshot-dir" << images;
        QElapsedTimer took;
        took.start();
        const ProgramRun& run = runs[c.what] = Lumeno(arguments + c.arguments, c.setup);
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        // The signals come within seconds; the live capture would run 30.
        EXPECT_LT(took.elapsed(), 25000);
        ExpectMatches(run.err, c.err);
        ExpectMatches(run.out, c.out);
        const qsizetype bmps = QDir(images).entryList({"*.bmp"}, QDir::Files).size();
        EXPECT_TRUE(c.images < 0 || bmps == c.images) << bmps;
    }
    const QString& records = runs["a file named like an adapter is read as the file"].out;
    EXPECT_EQ(records.count('\n'), 4205);
    EXPECT_TRUE(runs["records from standard input"].out == records);
    ::close(listener);
    // Under two timestamps, the same views in the same order.
    const QDir one(dir.filePath("images-0")), two(dir.filePath("images-1"));
    const QStringList a = one.entryList({"*.bmp"}, QDir::Files, QDir::Name),
                      b = two.entryList({"*.bmp"}, QDir::Files, QDir::Name);
    ASSERT_TRUE(a.size() == 10 && b.size() == 10);
    for (int i = 0; i < 10; ++i) {
        const QImage image(one.filePath(a[i]));
        EXPECT_FALSE(image.isNull()) << a[i].toStdString();
        EXPECT_EQ(image, QImage(two.filePath(b[i]))) << a[i].toStdString();
    }

    // Each datagram sent to the monitored 127.0.0.1 is one record, incoming and facing it; the
    // file written gives the same records, and tshark reads as many packets from it.
    if (geteuid() != 0) GTEST_SKIP() << "capturing needs root";
    const ProgramRun& live = runs["live records written to a file"];
    const QStringList lines = live.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_TRUE(!lines.isEmpty() && lines.size() <= 20) << live.err.toStdString();
    const QString line = QString(
                             "incomingUDP\t00:00:00:00:00:00\t127.0.0.1\t%1\t"
                             "00:00:00:00:00:00\t127.0.0.1\t%2\t49")
                             .arg(udp.sendPort)
                             .arg(udp.port);
    EXPECT_EQ(lines, QStringList(lines.size(), line));
    EXPECT_TRUE(runs["the written file read back"].out == live.out);
    const ProgramRun tshark = test::RunProgram("tshark", {"-r", written});
    if (tshark.status < 0) GTEST_SKIP() << "no tshark here";
    EXPECT_EQ(tshark.status, 0) << tshark.err.toStdString();
    EXPECT_EQ(tshark.out.count('\n'), lines.size());
}

}  // namespace
}  // namespace lumeno
