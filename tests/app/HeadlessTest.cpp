#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <map>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

struct ProcessRun {
    int status = -1;
    QString out, err;
};

// The program with no display to show windows on.
ProcessRun Lumeno(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(LUMENO_EXECUTABLE), arguments);
    ProcessRun run;
    if (!process.waitForFinished(120000)) return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// Every pattern turns up in the summary.
void ExpectFigures(const QString& out, std::initializer_list<const char*> patterns) {
    for (const char* pattern : patterns) {
        EXPECT_TRUE(out.contains(QRegularExpression(pattern))) << pattern << "\n"
                                                               << out.toStdString();
    }
}

TEST(Headless, FailuresExitNonZeroWithTheMessage) {
    QTemporaryDir dir;
    ProcessRun run = Lumeno({"--headless", "--snapshot-dir", dir.path(), "/nonexistent/x.pcap"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.contains("/nonexistent/x.pcap")) << run.err.toStdString();

    run = Lumeno({"--headless", "--snapshot-dir", "/sys", LUMENO_SAMPLE_CAPTURE});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.contains("image not saved")) << run.err.toStdString();

    run = Lumeno({"--headless", "--speed", "fast", "x.pcap"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains("--speed")) << run.err.toStdString();
    const QString file = LUMENO_SAMPLE_CAPTURE;
    for (const QStringList& bad :
         {QStringList{}, QStringList{"--threads", "3", file}, QStringList{"--loop", "0", file},
          QStringList{"--capture-on", "lo"},
          QStringList{"--capture-on", "lo", "--seconds", "soon"}}) {
        run = Lumeno(QStringList{"--headless"} + bad);
        EXPECT_EQ(run.status, 2) << bad.join(' ').toStdString();
        EXPECT_FALSE(run.err.isEmpty());
    }
    run = Lumeno({"--headless", "--capture-on", "nosuchadapter0", "--seconds", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("no adapter named \"nosuchadapter0\"")) << run.err.toStdString();
}

std::map<QString, QImage> Snapshots(const QString& dir) {
    std::map<QString, QImage> images;
    for (const QString& name : QDir(dir).entryList({"*.bmp"}, QDir::Files)) {
        images[name.section('_', 2)] = QImage(QDir(dir).filePath(name));
    }
    return images;
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
                                "rate +[0-9]+ packets/s", "peak memory +[0-9.]+ MB"});
        for (const QString& image : QDir(dir).entryList({"*.bmp"}, QDir::Files)) {
            EXPECT_TRUE(run.out.contains(QDir(dir).filePath(image))) << image.toStdString();
        }
    }
    const auto first = Snapshots(one.path()), second = Snapshots(two.path());
    ASSERT_EQ(first.size(), 10u);
    ASSERT_EQ(second.size(), 10u);
    for (const auto& [suffix, image] : first) {
        ASSERT_TRUE(second.count(suffix)) << suffix.toStdString();
        EXPECT_FALSE(image.isNull()) << suffix.toStdString();
        EXPECT_EQ(image, second.at(suffix)) << suffix.toStdString();
    }
}

// A Stop asked for from outside while a replay runs at full speed ends it soon, and the
// probe says how long the event loop went without a timer event.
TEST(Headless, TheProbeReportsTheEventLoopAndAStopEndsAFullSpeedReplay) {
    QTemporaryDir dir;
    const ProcessRun run = Lumeno({"--headless", "--probe-stop", "0.5", "--loop", "100000",
                                   "--snapshot-dir", dir.path(), LUMENO_SAMPLE_CAPTURE});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QRegularExpressionMatch stop =
        QRegularExpression("stop took effect after +([0-9.]+) ms").match(run.out);
    ASSERT_TRUE(stop.hasMatch()) << run.out.toStdString();
    EXPECT_LT(stop.captured(1).toDouble(), 1000);
    EXPECT_TRUE(run.out.contains(QRegularExpression("worst event-loop gap +[0-9.]+ ms")));
    const QRegularExpressionMatch read =
        QRegularExpression("packets read +([0-9]+)").match(run.out);
    ASSERT_TRUE(read.hasMatch());
    EXPECT_GT(read.captured(1).toLongLong(), 0);
    EXPECT_LT(read.captured(1).toLongLong(), 100000LL * 4325);
}

// Live on loopback for the time given, with a record line per accepted packet: the
// datagrams sent to the monitored 127.0.0.1 arrive incoming, oriented to face it.
TEST(Headless, CapturesLiveOnLoopbackAndPrintsItsRecords) {
    if (geteuid() != 0) GTEST_SKIP() << "capturing needs root";
    QTemporaryDir dir;
    std::uint16_t port = 0, sendPort = 0;
    const int receiver = test::BoundSocket(SOCK_DGRAM, port);
    const int sender = test::BoundSocket(SOCK_DGRAM, sendPort);
    ASSERT_TRUE(receiver >= 0 && sender >= 0);
    const sockaddr_in to = test::Loopback(port);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(LUMENO_EXECUTABLE),
                  {"--headless", "--records", "--capture-on", "lo", "--seconds", "3", "--monitor",
                   "127.0.0.1", "--filter", QStringLiteral("udp dst port %1").arg(port),
                   "--snapshot-dir", dir.path()});
    ASSERT_TRUE(process.waitForStarted());
    for (int i = 0; i < 150 && process.state() == QProcess::Running; ++i) {
        ::sendto(sender, "lumeno", 6, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        QTest::qWait(40);
    }
    ::close(sender);
    ::close(receiver);
    ASSERT_TRUE(process.state() == QProcess::NotRunning || process.waitForFinished(30000));
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    ASSERT_EQ(process.exitCode(), 0) << err.toStdString();
    const QStringList lines =
        QString::fromLocal8Bit(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty()) << err.toStdString();
    EXPECT_LE(lines.size(), 150);
    const QString record = QStringLiteral(
                               "^incomingUDP\t[0-9a-f:]{17}\t127\\.0\\.0\\.1\t%1\t"
                               "[0-9a-f:]{17}\t127\\.0\\.0\\.1\t%2\t48$")
                               .arg(sendPort)
                               .arg(port);
    for (const QString& line : lines) {
        ASSERT_TRUE(QRegularExpression(record).match(line).hasMatch()) << line.toStdString();
    }
    ExpectFigures(err, {QString("accepted +%1\n").arg(lines.size()).toUtf8().constData(),
                        "lost by the kernel +0\n"});
}

}  // namespace
}  // namespace lumeno
