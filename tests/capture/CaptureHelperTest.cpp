#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

const QString kHelper = QStringLiteral(LUMENO_CAPTURE_HELPER);

using test::ExpectContains;
using test::WaitUntil;

// Capture through the helper, with the packets and the end of capture recorded.
struct HelperRun {
    CaptureCtrl capture;
    int frames = 0;
    bool ended = false;
    QString endMessage;

    explicit HelperRun(const QString& helper) {
        capture.SetLiveMode(LiveMode::kHelper);
        capture.SetHelperPath(helper);
        Adapter adapter;
        adapter.name = "lo";
        capture.SetCurrentAdapter(adapter);
        capture.SetPacketHandler([this](const DecodedPacket&) { ++frames; });
        QObject::connect(&capture, &CaptureCtrl::failed, [this](const QString& m) {
            ended = true;
            endMessage = m;
        });
    }
};

// A stand-in helper: a shell script that says ready and then sends what the test wants.
QString FakeHelper(const QTemporaryDir& dir, const QString& body) {
    const QString path = dir.filePath(QStringLiteral("fake-helper"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(("#!/bin/sh\n" + body + "\n").toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

// A pcap stream of three small frames, cut inside the third, in dir.
QString CutStreamFile(const QTemporaryDir& dir) {
    const test::Bytes frame = test::Ethernet(test::Ipv4());
    const std::string path = dir.filePath(QStringLiteral("cut.pcap")).toStdString();
    test::WriteCaptureFile(path, linktype::kEthernet, {{1, frame}, {2, frame}, {3, frame}});
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 5);
    return QString::fromStdString(path);
}

// As a user without the capability, the helper refuses with the one command that fixes it,
// and the window program passes that text on unchanged.
TEST(CaptureHelper, WithoutTheCapabilityItSaysExactlyWhatToDo) {
    QTemporaryDir dir;
    const auto anyoneMayRun = QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                              QFileDevice::ReadOther | QFileDevice::ExeOther;
    QFile::setPermissions(dir.path(), anyoneMayRun | QFileDevice::WriteOwner);
    QString helper = kHelper;
    if (::geteuid() == 0) {
        // Root may capture anyway: run a copy as nobody, through setpriv.
        const QString copy = dir.filePath(QStringLiteral("lumeno-capture"));
        ASSERT_TRUE(QFile::copy(kHelper, copy));
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
    EXPECT_FALSE(run.capture.IsCapturing());
}

// A helper that dies or sends garbage ends the capture with a message saying which, after
// drawing what came whole, and is not left running.
TEST(CaptureHelper, ABrokenStreamEndsCaptureAndTheHelper) {
    QTemporaryDir dir;
    const struct {
        QString script;
        int frames;
        QStringList parts;
    } cases[] = {
        {"cat '" + CutStreamFile(dir) + "'\nkill -9 $$", 2, {"middle of a packet", "crashed"}},
        {"printf 'HTTP/1.1 200 OK\\r\\nContent-Length: 9999\\r\\n'\nexec sleep 30", 0, {"damaged"}},
    };
    for (const auto& c : cases) {
        HelperRun run(FakeHelper(dir, "echo ready 1 >&2\n" + c.script));
        QString error;
        ASSERT_TRUE(run.capture.Start(&error)) << error.toStdString();
        const qint64 pid = run.capture.HelperProcessId();
        EXPECT_TRUE(WaitUntil([&] { return run.ended; }, 5000));
        EXPECT_EQ(run.frames, c.frames);
        for (const QString& part : c.parts) ExpectContains(run.endMessage, {part});
        EXPECT_FALSE(run.capture.IsCapturing());
        EXPECT_TRUE(
            WaitUntil([&] { return !QDir(QStringLiteral("/proc/%1").arg(pid)).exists(); }, 3000));
    }
}

TEST(CaptureHelper, StopWhileAPacketIsHalfThereReturnsAtOnce) {
    QTemporaryDir dir;
    HelperRun run(
        FakeHelper(dir, "echo ready 1 >&2\ncat '" + CutStreamFile(dir) + "'\nexec sleep 30"));
    QString error;
    ASSERT_TRUE(run.capture.Start(&error)) << error.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return run.frames == 2; }, 5000));
    QElapsedTimer clock;
    clock.start();
    run.capture.Stop();
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_FALSE(run.capture.IsCapturing());
    QTest::qWait(100);
    EXPECT_EQ(run.frames, 2);
    EXPECT_FALSE(run.ended);  // stopped by the user: no failure to report
}

TEST(CaptureHelper, AHelperThatEndsWithoutAWordOrIsMissingIsReported) {
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(HelperRun(FakeHelper(dir, "exit 3")).capture.Start(&error));
    ExpectContains(error, {"ended without a word"});
    EXPECT_FALSE(HelperRun(dir.filePath(QStringLiteral("no-such-helper"))).capture.Start(&error));
    ExpectContains(error, {"missing"});
}

TEST(CaptureFilter, AnInvalidFilterIsRefusedWithLibpcapsWords) {
    CaptureCtrl capture;
    QString error;
    ASSERT_TRUE(capture.SetFilter(QStringLiteral("udp"), &error));
    EXPECT_FALSE(capture.SetFilter(QStringLiteral("tcp port ("), &error));
    ExpectContains(error, {"Invalid capture filter \"tcp port (\"", "syntax error"});
    EXPECT_EQ(capture.Filter(), QStringLiteral("udp"));  // the last good one stays
}

TEST(CaptureFilter, AFileIsFilteredLikeAnAdapter) {
    std::vector<test::TimedFrame> frames;
    for (int i = 0; i < 12; ++i) {
        const auto protocol = static_cast<std::uint8_t>(i % 3 == 0 ? 17 : 6);
        const auto port = static_cast<std::uint16_t>(i % 2 ? 80 : 443);
        frames.push_back(
            {1.0 + i, test::Ethernet(test::Ipv4({.protocol = protocol, .sourcePort = port}))});
    }
    const std::string path = test::WriteEthernetFile("filtered.pcap", frames);
    const test::FileRun web = test::ReplayFile(path, "192.168.1.101", 0, 10000, "tcp src port 80");
    ASSERT_TRUE(web.finished) << web.startError.toStdString();
    EXPECT_EQ(web.rows.size(), 4u);  // odd i that are not multiples of three: 1, 5, 7, 11
    for (const auto& r : web.rows) EXPECT_EQ(r.sourcePort, 80);
}

}  // namespace
}  // namespace lumeno
