#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

struct ProgramRun {
    int status = -1;
    QString out, err;
};

// The program, headless, with its standard input from the file (empty: none).
ProgramRun Headless(const QStringList& arguments, const QString& input = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    process.setProcessEnvironment(env);
    process.setStandardInputFile(input.isEmpty() ? QProcess::nullDevice() : input);
    process.start(QStringLiteral(LUMENO_EXECUTABLE), QStringList{"--headless"} + arguments);
    ProgramRun run;
    if (!process.waitForStarted() || !process.waitForFinished(120000)) return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// A headless replay runs as fast as possible unless a pace is asked for; at a pace, a
// recording with a 20-hour gap still takes well under two seconds, and the summary says how
// much time was skipped.
TEST(HeadlessSources, AnExplicitPaceIsKeptAndTheSkippedTimeReported) {
    const test::Bytes frame = test::Ethernet(test::Ipv4());
    const QString night = QString::fromStdString(test::WriteEthernetFile(
        "headless-night.pcap", {{50, frame}, {50.1, frame}, {50.1 + 72000, frame}}));
    QTemporaryDir dir;
    const QStringList common{"--snapshot-dir", dir.path()};
    // arguments, the skipped-time line (empty: none)
    const std::pair<QStringList, QString> cases[] = {
        {{night}, ""},
        {{"--speed", "1", night}, "time skipped +71999\\.000 s \\(gaps longer than 1 s cut\\)"},
        {{"--max-gap", "0.3", night}, "time skipped +71999\\.700 s"},
        {{"--max-gap", "-1", night}, ""},
    };
    for (const auto& [arguments, skipped] : cases) {
        QElapsedTimer clock;
        clock.start();
        const ProgramRun run = Headless(common + arguments);
        const std::string what = arguments.join(' ').toStdString();
        if (arguments.contains("-1")) {
            EXPECT_EQ(run.status, 2) << what;
            EXPECT_TRUE(run.err.contains("--max-gap")) << run.err.toStdString();
            continue;
        }
        ASSERT_EQ(run.status, 0) << what << run.err.toStdString();
        EXPECT_LT(clock.elapsed(), 8000) << what;
        EXPECT_TRUE(run.out.contains("packets read            3")) << run.out.toStdString();
        if (skipped.isEmpty()) {
            EXPECT_FALSE(run.out.contains("time skipped")) << what;
        } else {
            EXPECT_TRUE(run.out.contains(QRegularExpression(skipped))) << run.out.toStdString();
        }
    }
}

}  // namespace
}  // namespace lumeno
