#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <tuple>
#include <vector>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::ExpectMatches;
using test::Lumeno;
using test::ProgramRun;

// Whether the process has its own handlers for both SIGINT and SIGTERM in place.
bool CatchesStopSignals(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (!line.startsWith("SigCgt:")) continue;
        const qulonglong caught = line.mid(7).trimmed().toULongLong(nullptr, 16);
        const qulonglong wanted = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1));
        return (caught & wanted) == wanted;
    }
    return false;
}

// Sends the signals, in turn, half a second after the program is ready to take them.
std::function<void(QProcess&)> SignalSoon(std::vector<int> sent) {
    return [sent](QProcess& process) {
        QElapsedTimer waited;
        waited.start();
        while (!CatchesStopSignals(process.processId()) && waited.elapsed() < 60000 &&
               process.state() == QProcess::Running) {
            QTest::qWait(20);
        }
        QTest::qWait(500);
        for (const int signal : sent) ::kill(static_cast<pid_t>(process.processId()), signal);
    };
}

int BmpCount(const QString& dir) {
    return static_cast<int>(QDir(dir).entryList({"*.bmp"}, QDir::Files).size());
}

// A run must never pass a failure off as success: each case is checked for its exit status
// (128 + the signal for an interrupted run, -2 for one killed), what standard error and
// the summary say, and how many images it left.
TEST(Headless, EveryFailureAndInterruptionShowsInTheStatusAndTheMessage) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString sample = LUMENO_SAMPLE_CAPTURE;
    const QString named = dir.filePath("named"), empty = dir.filePath("empty");
    ASSERT_TRUE(QDir().mkpath(named) && QDir().mkpath(empty));
    ASSERT_TRUE(QFile::copy(sample, named + "/lo"));
    const QString unknown = dir.filePath("linktype12345.pcap"),
                  wifi = dir.filePath("linktype105.pcap");
    test::WriteLinkTypeFile(unknown, 12345, 3);
    test::WriteLinkTypeFile(wifi, 105, 2);
    const QString socketPath = dir.filePath("socket");
    const int listener = test::UnixSocket(socketPath);
    ASSERT_GE(listener, 0);
    const bool root = geteuid() == 0;

    struct Case {
        const char* what = "";
        QStringList arguments{};  // after --headless --snapshot-dir IMAGES
        int status = 0;
        QStringList err{}, out{};  // patterns each must match
        int images = -1;           // -1: not checked
        QString workingDir{}, stdoutFile{};
        std::function<void(QProcess&)> whileRunning{};
        bool needsRoot = false;
    };
    const Case cases[] = {
        {.what = "records into a full device stop the reading",
         .arguments = {"--records", "--loop", "3", sample},
         .status = 1,
         .err = {"^lumeno: records not written: No space left on device\\n(?![\\s\\S]*records not "
                 "written)",
                 "packets read +[0-9]{1,4}\\n"},
         .images = 10,
         .stdoutFile = "/dev/full"},
        {.what = "a summary into a full device",
         .arguments = {sample},
         .status = 1,
         .err = {"summary not written: No space left on device"},
         .images = 10,
         .stdoutFile = "/dev/full"},
        {.what = "a file named like an adapter is read as the file",
         .arguments = {"lo"},
         .status = 0,
         .out = {"^Replayed lo ", "packets read +4325\\n"},
         .images = 10,
         .workingDir = named},
        {.what = "a name that is no file says how to capture from the adapter",
         .arguments = {"lo"},
         .status = 1,
         .err = {"\"lo\": No such file or directory", "--capture-on lo --seconds S"},
         .images = 0,
         .workingDir = empty},
        {.what = "a missing path",
         .arguments = {"/nonexistent/x.pcap"},
         .status = 1,
         .err = {"No such file or directory"},
         .images = 0},
        {.what = "a directory",
         .arguments = {named},
         .status = 1,
         .err = {"is a directory"},
         .images = 0},
        {.what = "a socket",
         .arguments = {socketPath},
         .status = 1,
         .err = {"is not a regular file"},
         .images = 0},
        {.what = "a link type libpcap has no name for",
         .arguments = {unknown},
         .status = 1,
         .err = {"^lumeno: Frames of link type 12345 cannot be decoded"},
         .out = {"packets read +3\\n", "accepted +0\\n"},
         .images = 10},
        {.what = "a link type named but not decoded",
         .arguments = {wifi},
         .status = 1,
         .err = {"Frames of link type 105 \\(IEEE802_11: 802.11\\) cannot be decoded"},
         .images = 10},
        {.what = "SIGTERM during a replay",
         .arguments = {"--loop", "100000", sample},
         .status = 143,
         .out = {"^Replayed .*, interrupted by SIGTERM\\n", "packets read +[1-9]"},
         .images = 10,
         .whileRunning = SignalSoon({SIGTERM})},
        {.what = "a second signal ends at once",
         .arguments = {"--loop", "100000", sample},
         .status = -2,
         .whileRunning = SignalSoon({SIGINT, SIGTERM})},
        {.what = "SIGINT during a 30-second live capture",
         .arguments = {"--capture-on", "lo", "--seconds", "30", "--filter", "udp port 9"},
         .status = 130,
         .out = {"^Captured on lo .*, interrupted by SIGINT\\n", "packets read +[0-9]"},
         .images = 10,
         .whileRunning = SignalSoon({SIGINT}),
         .needsRoot = true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && !root) {
            std::printf("[  SKIPPED ] %s: capturing needs root\n", c.what);
            continue;
        }
        const QString images = dir.filePath(QStringLiteral("images-%1").arg(&c - cases));
        ASSERT_TRUE(QDir().mkpath(images));
        QElapsedTimer took;
        took.start();
        const ProgramRun run =
            Lumeno(QStringList{"--headless", "--snapshot-dir", images} + c.arguments,
                   {.workingDir = c.workingDir,
                    .stdoutFile = c.stdoutFile,
                    .whileRunning = c.whileRunning});
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        // The signals come within seconds; the live capture would run 30.
        EXPECT_LT(took.elapsed(), 25000);
        ExpectMatches(run.err, c.err);
        ExpectMatches(run.out, c.out);
        EXPECT_TRUE(c.images < 0 || BmpCount(images) == c.images) << BmpCount(images);
    }
    ::close(listener);
}

// A mistake on the command line exits 2 naming the option; one found while running (a file
// that cannot be read, a directory that cannot be written, an unknown adapter) exits 1
// naming what failed.
TEST(Headless, FailuresExitNonZeroWithAClearMessage) {
    QTemporaryDir dir;
    const QString sample = LUMENO_SAMPLE_CAPTURE;
    const std::tuple<QStringList, int, QString> cases[] = {
        {{"--snapshot-dir", "/sys", sample}, 1, "image not saved: /sys/"},
        {{"--capture-on", "nosuchadapter0", "--seconds", "1"},
         1,
         "no adapter named \"nosuchadapter0\""},
        {{}, 2, "capture file"},
        {{"--speed", "fast", sample}, 2, "--speed"},
        {{"--threads", "3", sample}, 2, "--threads"},
        {{"--loop", "0", sample}, 2, "--loop"},
        {{"--capture-on", "lo"}, 2, "--seconds"},
        {{"--capture-on", "lo", "--seconds", "soon"}, 2, "'soon'"},
    };
    for (const auto& [arguments, status, message] : cases) {
        const ProgramRun run = Lumeno(QStringList{"--headless"} + arguments);
        EXPECT_EQ(run.status, status) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(message)) << run.err.toStdString();
    }
}

// The bundled sample is what a newcomer runs first: its figures are pinned to what tshark
// counts in it (ip.dst / ip.src of the monitored host, by transport), three times over, as a
// file replayed in a loop counts every round. The parallel views may draw on a second
// thread; what comes out must be what one thread draws, pixel for pixel.
TEST(Headless, TheSampleGivesTsharksFiguresAndTheSamePicturesOnOneThreadOrTwo) {
    QTemporaryDir one, two;
    for (const auto& [threads, dir] : {std::pair{"1", one.path()}, std::pair{"2", two.path()}}) {
        const ProgramRun run =
            Lumeno({"--headless", "--threads", threads, "--loop", "3", "--monitor", "192.168.1.101",
                    "--snapshot-dir", dir, LUMENO_SAMPLE_CAPTURE});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        ExpectMatches(run.out, {"packets read +12975", "accepted +12615", "incomingTCP +5097",
                                "outgoingTCP +4812", "incomingUDP +2640", "outgoingUDP +66",
                                "not the monitored host +216", "dropped as other +144",
                                "busiest addresses.*\n +192\\.168\\.1\\.50 +144\n"
                                " +198\\.51\\.100\\.90 +72\n +8\\.8\\.8\\.8 +72\n",
                                "rate +[0-9]+ packets/s", "peak memory +[0-9.]+ MB"});
    }
    const QStringList a = QDir(one.path()).entryList({"*.bmp"}, QDir::Files, QDir::Name),
                      b = QDir(two.path()).entryList({"*.bmp"}, QDir::Files, QDir::Name);
    ASSERT_TRUE(a.size() == 10 && b.size() == 10);
    for (int i = 0; i < 10; ++i) {
        const QImage image(QDir(one.path()).filePath(a[i]));
        EXPECT_FALSE(image.isNull()) << a[i].toStdString();
        EXPECT_EQ(image, QImage(QDir(two.path()).filePath(b[i]))) << a[i].toStdString();
    }
}

// A Stop asked for from outside while a replay runs at full speed must take effect within a
// second, and the probe says how long the event loop went without a timer event.
TEST(Headless, AStopEndsAFullSpeedReplaySoon) {
    QTemporaryDir dir;
    const ProgramRun run = Lumeno({"--headless", "--probe-stop", "0.5", "--loop", "100000",
                                   "--snapshot-dir", dir.path(), LUMENO_SAMPLE_CAPTURE});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    ExpectMatches(run.out, {"stop took effect after +[0-9]{1,3}(\\.[0-9]+)? ms",
                            "worst event-loop gap +[0-9.]+ ms", "packets read +[1-9]"});
}

// Live on loopback for the time given, with a record line per accepted packet: the
// datagrams sent to the monitored 127.0.0.1 arrive incoming, oriented to face it, each
// once, and the summary counts the records.
TEST(Headless, CapturesLiveOnLoopbackAndPrintsItsRecords) {
    if (geteuid() != 0) GTEST_SKIP() << "capturing needs root";
    QTemporaryDir dir;
    std::uint16_t port = 0, sendPort = 0;
    const int receiver = test::BoundSocket(SOCK_DGRAM, port);
    const int sender = test::BoundSocket(SOCK_DGRAM, sendPort);
    ASSERT_TRUE(receiver >= 0 && sender >= 0);
    const sockaddr_in to = test::Loopback(port);
    const ProgramRun run = Lumeno(
        {"--headless", "--records", "--capture-on", "lo", "--seconds", "3", "--monitor",
         "127.0.0.1", "--filter", QStringLiteral("udp dst port %1").arg(port), "--snapshot-dir",
         dir.path()},
        {.whileRunning = [&](QProcess& process) {
            for (int i = 0; i < 150 && process.state() == QProcess::Running; ++i) {
                ::sendto(sender, "lumeno", 6, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
                QTest::qWait(40);
            }
        }});
    ::close(sender);
    ::close(receiver);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty()) << run.err.toStdString();
    EXPECT_LE(lines.size(), 150);
    const QRegularExpression record(
        QStringLiteral("^incomingUDP\t[0-9a-f:]{17}\t127\\.0\\.0\\.1\t%1\t"
                       "[0-9a-f:]{17}\t127\\.0\\.0\\.1\t%2\t48$")
            .arg(sendPort)
            .arg(port));
    for (const QString& line : lines) {
        ASSERT_TRUE(record.match(line).hasMatch()) << line.toStdString();
    }
    ExpectMatches(run.err,
                  {QString("accepted +%1\n").arg(lines.size()), "lost by the kernel +0\n"});
}

}  // namespace
}  // namespace lumeno
