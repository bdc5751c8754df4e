#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <tuple>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

struct ProcessRun {
    int status = -1;
    QString out, err;
};

// The program with no display to show windows on; whileRunning runs once it has started.
ProcessRun Lumeno(const QStringList& arguments,
                  const std::function<void(QProcess&)>& whileRunning = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(LUMENO_EXECUTABLE), arguments);
    ProcessRun run;
    if (!process.waitForStarted()) return run;
    if (whileRunning) whileRunning(process);
    if (!process.waitForFinished(120000) && process.state() != QProcess::NotRunning) return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// Every pattern turns up in the text.
void ExpectFigures(const QString& text, std::initializer_list<QString> patterns) {
    for (const QString& pattern : patterns) {
        EXPECT_TRUE(text.contains(QRegularExpression(pattern))) << pattern.toStdString() << "\n"
                                                                << text.toStdString();
    }
}

// A mistake on the command line exits 2 naming the option; one found while running (a file
// that cannot be read, a directory that cannot be written, an unknown adapter) exits 1
// naming what failed.
TEST(Headless, FailuresExitNonZeroWithAClearMessage) {
    QTemporaryDir dir;
    const QString sample = LUMENO_SAMPLE_CAPTURE;
    const std::tuple<QStringList, int, QString> cases[] = {
        {{"--snapshot-dir", dir.path(), "/nonexistent/x.pcap"}, 1, "\"/nonexistent/x.pcap\""},
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
        const ProcessRun run = Lumeno(QStringList{"--headless"} + arguments);
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
        const ProcessRun run =
            Lumeno({"--headless", "--threads", threads, "--loop", "3", "--monitor", "192.168.1.101",
                    "--snapshot-dir", dir, LUMENO_SAMPLE_CAPTURE});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        ExpectFigures(run.out, {"packets read +12975", "accepted +12615", "incomingTCP +5097",
                                "outgoingTCP +4812", "incomingUDP +2640", "outgoingUDP +66",
                                "not the monitored host +144", "dropped as other +216",
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
    const ProcessRun run = Lumeno({"--headless", "--probe-stop", "0.5", "--loop", "100000",
                                   "--snapshot-dir", dir.path(), LUMENO_SAMPLE_CAPTURE});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    ExpectFigures(run.out, {"stop took effect after +[0-9]{1,3}(\\.[0-9]+)? ms",
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
    const ProcessRun run = Lumeno(
        {"--headless", "--records", "--capture-on", "lo", "--seconds", "3", "--monitor",
         "127.0.0.1", "--filter", QStringLiteral("udp dst port %1").arg(port), "--snapshot-dir",
         dir.path()},
        [&](QProcess& process) {
            for (int i = 0; i < 150 && process.state() == QProcess::Running; ++i) {
                ::sendto(sender, "lumeno", 6, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
                QTest::qWait(40);
            }
        });
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
    ExpectFigures(run.err,
                  {QString("accepted +%1\n").arg(lines.size()), "lost by the kernel +0\n"});
}

}  // namespace
}  // namespace lumeno
