#include <gtest/gtest.h>

#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::ProgramRun;

ProgramRun Headless(const QStringList& arguments, const test::ProgramSetup& setup = {}) {
    return test::Lumeno(QStringList{"--headless"} + arguments, setup);
}

// `cat FILE | lumeno --headless --records -` prints the same records as reading the file,
// and says that a stream cannot tell what its writer's kernel lost.
TEST(HeadlessSources, StandardInputGivesTheFilesRecords) {
    QTemporaryDir dir;
    const QString sample = LUMENO_SAMPLE_CAPTURE;
    const QStringList common{"--records", "--snapshot-dir", dir.path()};
    const ProgramRun file = Headless(common + QStringList{sample});
    const ProgramRun piped = Headless(common + QStringList{"-"}, {.feed = sample});
    const ProgramRun replay = Headless(common + QStringList{"--replay", "-"}, {.feed = sample});
    ASSERT_EQ(file.status, 0) << file.err.toStdString();
    EXPECT_EQ(file.out.count('\n'), 4205);
    for (const ProgramRun* run : {&piped, &replay}) {
        ASSERT_EQ(run->status, 0) << run->err.toStdString();
        EXPECT_TRUE(run->out == file.out);
        EXPECT_TRUE(run->err.contains("packets read            4325")) << run->err.toStdString();
        EXPECT_TRUE(run->err.contains("lost by the kernel      not known"));
    }
}

// Live on loopback with --records and --write: each datagram sent to the monitored 127.0.0.1
// is one record, incoming and facing it; the file gives the same records when replayed, and
// tshark reads as many packets from it as were captured.
TEST(HeadlessSources, ALiveCaptureWrittenToAFileReadsBackTheSame) {
    if (::geteuid() != 0) GTEST_SKIP() << "capturing needs root";
    QTemporaryDir dir;
    const QString written = dir.filePath("live.pcapng");
    const test::LoopbackUdp udp;
    ASSERT_TRUE(udp.Ok());
    const QStringList common{"--records", "--monitor", "127.0.0.1", "--snapshot-dir", dir.path()};
    const ProgramRun live =
        Headless(common + QStringList{"--capture-on", "lo", "--seconds", "2", "--write", written,
                                      "--filter", QStringLiteral("udp dst port %1").arg(udp.port)},
                 {.whileRunning = udp.WhileRunning("written", 20, 20, 700)});
    ASSERT_EQ(live.status, 0) << live.err.toStdString();
    const QStringList lines = live.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_TRUE(!lines.isEmpty() && lines.size() <= 20) << live.err.toStdString();
    const QRegularExpression record(
        QStringLiteral("^incomingUDP\t[0-9a-f:]{17}\t127\\.0\\.0\\.1\t%1\t"
                       "[0-9a-f:]{17}\t127\\.0\\.0\\.1\t%2\t49$")
            .arg(udp.sendPort)
            .arg(udp.port));
    for (const QString& line : lines)
        EXPECT_TRUE(record.match(line).hasMatch()) << line.toStdString();
    test::ExpectMatches(live.err,
                        {QString("accepted +%1\n").arg(lines.size()), "lost by the kernel +0\n"});
    const ProgramRun back = Headless(common + QStringList{written});
    ASSERT_EQ(back.status, 0) << back.err.toStdString();
    EXPECT_TRUE(back.out == live.out) << back.out.toStdString() << "\n---\n"
                                      << live.out.toStdString();
    QProcess tshark;
    tshark.start("tshark", {"-r", written});
    if (!tshark.waitForStarted()) GTEST_SKIP() << "no tshark here";
    ASSERT_TRUE(tshark.waitForFinished(60000));
    EXPECT_EQ(tshark.exitCode(), 0) << tshark.readAllStandardError().toStdString();
    EXPECT_EQ(tshark.readAllStandardOutput().count('\n'), lines.size());
}

}  // namespace
}  // namespace lumeno
