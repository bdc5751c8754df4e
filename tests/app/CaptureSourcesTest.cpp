#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <thread>

#include "app/frmMain.h"
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
    // pcapng comes through a pipe as well (dumpcap and tshark write it by default).
    const QString pcapng = QStringLiteral(LUMENO_CAPTURES_DIR "/of13_ericsson.pcapng");
    if (!QFileInfo::exists(pcapng)) GTEST_SKIP() << "no " << pcapng.toStdString();
    const QStringList all{"--records", "--monitor", "", "--snapshot-dir", dir.path()};
    const ProgramRun direct = Headless(all + QStringList{pcapng});
    const ProgramRun streamed = Headless(all + QStringList{"-"}, {.feed = pcapng});
    ASSERT_EQ(streamed.status, 0) << streamed.err.toStdString();
    EXPECT_GT(direct.out.count('\n'), 100);
    EXPECT_TRUE(streamed.out == direct.out) << streamed.out.toStdString();
}

// Live on loopback with --write: the file gives the same records when replayed, and tshark
// reads as many packets from it as were captured.
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
    ASSERT_GT(live.out.count('\n'), 0) << live.err.toStdString();
    const ProgramRun back = Headless(common + QStringList{written});
    ASSERT_EQ(back.status, 0) << back.err.toStdString();
    EXPECT_TRUE(back.out == live.out) << back.out.toStdString() << "\n---\n"
                                      << live.out.toStdString();
    QProcess tshark;
    tshark.start("tshark", {"-r", written});
    if (!tshark.waitForStarted()) GTEST_SKIP() << "no tshark here";
    ASSERT_TRUE(tshark.waitForFinished(60000));
    EXPECT_EQ(tshark.exitCode(), 0) << tshark.readAllStandardError().toStdString();
    EXPECT_EQ(tshark.readAllStandardOutput().count('\n'), live.out.count('\n'));
}

// In the window: a named pipe typed into the adapter box is read as a stream; the capture goes to
// the file chosen to save it in, and a file that cannot be written is refused at Start, saying why.
TEST(WindowSources, PipesHintsAndSavingTheCapture) {
    frmMain w;
    w.SetReplaySpeed(0);
    const std::string fifo = test::TempPath("window.fifo");
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    QTemporaryDir dir;
    const QString saved = dir.filePath("saved.pcapng");
    w.SetCaptureFile(saved);
    EXPECT_TRUE(w.chkSaveCapture()->isChecked());
    w.cmbInterface()->setEditText(QString::fromStdString(fifo));
    QSignalSpy ended(&w, &frmMain::captureEnded);
    w.StartCapture();
    ASSERT_TRUE(w.IsCapturing()) << w.MessageText().toStdString();
    // The writer comes after the reader, as a shell's `mkfifo p; tcpdump -w p` would.
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        test::WriteInPieces(fd, test::ReadFile(LUMENO_SAMPLE_CAPTURE), 7);
        ::close(fd);
    });
    const bool done = test::WaitUntil([&] { return ended.count() > 0; }, 20000);
    writer.join();
    ASSERT_TRUE(done);
    EXPECT_FALSE(ended.at(0).at(0).toBool()) << w.MessageText().toStdString();
    EXPECT_TRUE(w.MessageText().contains("4325 packets read")) << w.MessageText().toStdString();
    EXPECT_EQ(w.Counts().accepted, 4205u);
    EXPECT_EQ(test::ReplayFile(saved.toStdString(), "192.168.1.101").rows.size(), 4205u);

    w.SetCaptureFile("/nonexistent/saved.pcapng");
    w.cmbInterface()->setEditText(LUMENO_SAMPLE_CAPTURE);
    w.StartCapture();
    EXPECT_FALSE(w.IsCapturing());
    EXPECT_TRUE(w.MessageText().contains("/nonexistent/saved.pcapng: No such file or directory"))
        << w.MessageText().toStdString();
    w.SetCaptureFile({});
    EXPECT_FALSE(w.chkSaveCapture()->isChecked());
}

}  // namespace
}  // namespace lumeno
