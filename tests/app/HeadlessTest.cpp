#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

struct ProcessRun {
    int status = -1;
    QString out, err;
};

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

std::string MixedCapture() {
    std::vector<test::TimedFrame> frames;
    for (int i = 0; i < 30; ++i) {
        test::Ipv4Fields s;
        if (i % 3 == 1) {  // outgoing UDP
            s.protocol = 17;
            s.source = test::Addr(192, 168, 1, 101);
            s.destination = test::Addr(10, 1, 1, 1);
            s.sourcePort = 1030;
            s.destinationPort = 53;
        }
        frames.push_back({2000.0 + i, test::Ethernet(test::Ipv4(s))});
    }
    frames.push_back({3000.0, test::Ethernet(test::Ipv4(), {}, 0x0806)});
    const std::string path = test::TempPath("headless.pcap");
    test::WriteCaptureFile(path, linktype::kEthernet, frames);
    return path;
}

TEST(Headless, ReplaysSavesTheSnapshotsAndSummarises) {
    QTemporaryDir dir;
    const QString file = QString::fromStdString(MixedCapture());
    // The recorded pace would take half a minute: headless runs go as fast as they can.
    const ProcessRun run = Lumeno({"--headless", "--snapshot-dir", dir.path(), file});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression("packets read +31"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression("incomingTCP +20"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression("outgoingUDP +10"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression("dropped as other +1")))
        << run.out.toStdString();
    const QStringList images = QDir(dir.path()).entryList({"*.bmp"}, QDir::Files);
    EXPECT_EQ(images.size(), 10);
    for (const QString& image : images) {
        EXPECT_TRUE(run.out.contains(dir.filePath(image))) << image.toStdString();
        EXPECT_FALSE(QImage(dir.filePath(image)).isNull());
    }
}

// The bundled sample is what a newcomer runs first: its figures are pinned to what tshark
// counts in it (ip.dst / ip.src of the monitored host, by transport).
TEST(Headless, TheBundledSampleReplaysWithTheFiguresTsharkCounts) {
    QTemporaryDir dir;
    const ProcessRun run = Lumeno({"--headless", "--monitor", "192.168.1.101", "--snapshot-dir",
                                   dir.path(), LUMENO_SAMPLE_CAPTURE});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    for (const char* figure : {"packets read +4325", "accepted +4205", "incomingTCP +1699",
                               "outgoingTCP +1604", "incomingUDP +880", "outgoingUDP +22",
                               "not the monitored host +48", "dropped as other +72"}) {
        EXPECT_TRUE(run.out.contains(QRegularExpression(figure))) << figure << "\n"
                                                                  << run.out.toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList({"*.bmp"}, QDir::Files).size(), 10);
}

TEST(Headless, RecordsAreOneTabSeparatedLinePerAcceptedPacket) {
    QTemporaryDir dir;
    const ProcessRun run =
        Lumeno({"--headless", "--records", "--snapshot-dir", dir.path(), "--monitor",
                "192.168.1.101", QString::fromStdString(MixedCapture())});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 30);
    EXPECT_EQ(lines[0],
              "incomingTCP\t00:1a:2b:3c:4d:5e\t10.0.0.1\t80\taa:bb:cc:dd:ee:ff\t"
              "192.168.1.101\t1025\t46");
    EXPECT_EQ(lines[1],
              "outgoingUDP\taa:bb:cc:dd:ee:ff\t10.1.1.1\t53\t00:1a:2b:3c:4d:5e\t"
              "192.168.1.101\t1030\t46");
    EXPECT_TRUE(run.err.contains("packets read")) << run.err.toStdString();
}

TEST(Headless, FailuresExitNonZeroWithTheMessage) {
    QTemporaryDir dir;
    ProcessRun run = Lumeno({"--headless", "--snapshot-dir", dir.path(), "/nonexistent/x.pcap"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.contains("/nonexistent/x.pcap")) << run.err.toStdString();

    run = Lumeno({"--headless", "--snapshot-dir", "/sys", QString::fromStdString(MixedCapture())});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.contains("image not saved")) << run.err.toStdString();

    run = Lumeno({"--headless"});
    EXPECT_EQ(run.status, 2);
    run = Lumeno({"--headless", "--speed", "fast", "x.pcap"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains("--speed")) << run.err.toStdString();
}

TEST(Headless, VersionAndHelp) {
    ProcessRun run = Lumeno({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains(LUMENO_VERSION)) << run.out.toStdString();
    run = Lumeno({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--replay", "--speed", "--monitor", "--snapshot-dir", "--headless",
                               "--records", "--version"}) {
        EXPECT_TRUE(run.out.contains(option)) << option;
    }
}

}  // namespace
}  // namespace lumeno
