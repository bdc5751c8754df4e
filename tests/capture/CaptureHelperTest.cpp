#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::ExpectContains;
using test::WaitUntil;

// Capture on lo through the helper at the path, with the packets and the failure recorded.
struct HelperRun {
    CaptureCtrl capture;
    int frames = 0;
    QString failure;

    explicit HelperRun(const QString& helper) {
        capture.SetLiveMode(LiveMode::kHelper);
        capture.SetHelperPath(helper);
        capture.SetCurrentAdapter({"lo", {}, false});
        capture.SetPacketHandler([this](const DecodedPacket&) { ++frames; });
        QObject::connect(&capture, &CaptureCtrl::failed, [this](const QString& m) { failure = m; });
    }
};

// A stand-in helper: a shell script that sends what the test wants.
QString FakeHelper(const QTemporaryDir& dir, const QString& body) {
    const QString path = dir.filePath(QStringLiteral("fake-helper"));
    std::ofstream(path.toStdString()) << "#!/bin/sh\n" << body.toStdString() << "\n";
    std::filesystem::permissions(path.toStdString(), std::filesystem::perms::owner_all);
    return path;
}

// As a user without the capability, the helper refuses with the one command that fixes it,
// and the capture control passes that text on unchanged.
TEST(CaptureHelper, WithoutTheCapabilityItSaysExactlyWhatToDo) {
    QTemporaryDir dir;
    const auto anyoneMayRun = QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                              QFileDevice::ReadOther | QFileDevice::ExeOther;
    QFile::setPermissions(dir.path(), anyoneMayRun | QFileDevice::WriteOwner);
    QString helper = QStringLiteral(LUMENO_CAPTURE_HELPER);
    if (::geteuid() == 0) {
        // Root may capture anyway: run a copy as nobody, through setpriv.
        const QString copy = dir.filePath(QStringLiteral("lumeno-capture"));
        ASSERT_TRUE(QFile::copy(helper, copy));
        QFile::setPermissions(copy, anyoneMayRun);
        helper = FakeHelper(
            dir, "exec setpriv --reuid=65534 --regid=65534 --clear-groups " + copy + " \"$@\"");
        QFile::setPermissions(helper, anyoneMayRun);
    } else if (CaptureCtrl::MayCaptureInProcess()) {
        GTEST_SKIP() << "this user may capture";
    }
    HelperRun run(helper);
    QString error;
    if (run.capture.Start(&error)) {
        run.capture.Stop();
        GTEST_SKIP() << "the helper has the capability here";
    }
    ExpectContains(error, {"Cannot capture on lo", "sudo setcap cap_net_raw,cap_net_admin=eip ",
                           "lumeno-capture"});
}

// A helper that dies or sends garbage ends the capture with a message saying which, after
// drawing what came whole; stopped by the user while a packet is half there, it returns at
// once with no failure to report. Either way nothing more is drawn and no helper is left.
TEST(CaptureHelper, ABrokenStreamOrAStopEndsCaptureAndTheHelper) {
    QTemporaryDir dir;
    const test::Bytes frame = test::Ethernet(test::Ipv4());
    const std::string stream =
        test::WriteEthernetFile("helper.pcap", {{1, frame}, {2, frame}, {3, frame}});
    // Cut inside the third frame.
    std::filesystem::resize_file(stream, std::filesystem::file_size(stream) - 5);
    const QString cut = "cat '" + QString::fromStdString(stream) + "'\n";
    // What the helper does after it is ready, the frames drawn, and the failure's words (none
    // when the user stops it).
    const std::tuple<QString, int, QStringList> cases[] = {
        {cut + "kill -9 $$", 2, {"middle of a packet", "crashed"}},
        {"printf 'HTTP/1.1 200 OK\\r\\nContent-Length: 9999\\r\\n'\nexec sleep 30", 0, {"damaged"}},
        {cut + "exec sleep 30", 2, {}},
    };
    for (const auto& [script, frames, failure] : cases) {
        HelperRun run(FakeHelper(dir, "echo ready 1 >&2\n" + script));
        ASSERT_TRUE(run.capture.Start(nullptr));
        const qint64 pid = run.capture.HelperProcessId();
        EXPECT_TRUE(WaitUntil(
            [&] { return run.frames == frames && run.failure.isEmpty() == failure.isEmpty(); }));
        QElapsedTimer clock;
        clock.start();
        run.capture.Stop();
        EXPECT_LT(clock.elapsed(), 1500);
        QTest::qWait(100);
        EXPECT_EQ(run.frames, frames);
        EXPECT_EQ(run.failure.isEmpty(), failure.isEmpty()) << run.failure.toStdString();
        for (const QString& part : failure) ExpectContains(run.failure, {part});
        EXPECT_FALSE(run.capture.IsCapturing());
        EXPECT_TRUE(WaitUntil([&] { return !QDir(QStringLiteral("/proc/%1").arg(pid)).exists(); }));
    }
}

// A helper that ends before it is ready, or is not there at all, is reported as such.
TEST(CaptureHelper, AHelperThatEndsWithoutAWordOrIsMissingIsReported) {
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(HelperRun(FakeHelper(dir, "exit 3")).capture.Start(&error));
    ExpectContains(error, {"ended without a word"});
    EXPECT_FALSE(HelperRun(dir.filePath(QStringLiteral("no-such-helper"))).capture.Start(&error));
    ExpectContains(error, {"missing"});
}

}  // namespace
}  // namespace lumeno
