#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <tuple>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

namespace fs = std::filesystem;
using test::ExpectContains;

// A replay that also writes what it reads: every frame goes to the file (those the intake
// refuses too), with the link type and the filter in its header, so that reading the file
// back gives the same frames and records, and the Wireshark tools read it as well.
TEST(CaptureWriter, WhatIsReadIsWrittenAndReadsBackTheSame) {
    const fs::path captures = LUMENO_CAPTURES_DIR;
    if (!fs::is_directory(captures)) GTEST_SKIP() << "no " << captures;
    // file, filter, monitor, link type as capinfos names it
    const std::tuple<std::string, QString, const char*, const char*> cases[] = {
        {LUMENO_SAMPLE_CAPTURE, "udp or arp", "192.168.1.101", "Ethernet"},
        {(captures / "tcp-handshake-nano.pcap").string(), "", "", "Linux cooked-mode capture v1"},
    };
    QTemporaryDir dir;
    for (const auto& [path, filter, monitor, linkType] : cases) {
        const std::string written = dir.filePath("written.pcapng").toStdString();
        CaptureCtrl capture;
        capture.SetWriteFile(QString::fromStdString(written));
        ASSERT_TRUE(capture.SetFilter(filter, nullptr));
        capture.SetCurrentAdapter(CaptureCtrl::FileAdapter(path));
        capture.SetReplaySpeed(0);
        bool ended = false, writeFailed = false;
        QObject::connect(&capture, &CaptureCtrl::finished, [&] { ended = true; });
        QObject::connect(&capture, &CaptureCtrl::writeFailed, [&] { writeFailed = true; });
        ASSERT_TRUE(capture.Start(nullptr));
        ASSERT_TRUE(test::WaitUntil([&] { return ended; }, 20000)) << path;
        EXPECT_FALSE(writeFailed);

        const test::FileRun original = test::ReplayFile(path, monitor, 0, filter);
        const test::FileRun again = test::ReplayFile(written, monitor);
        ASSERT_TRUE(again.finished)
            << again.startError.toStdString() << again.endMessage.toStdString();
        EXPECT_EQ(again.seen, original.seen) << path;
        EXPECT_TRUE(again.rows == original.rows) << path;
        const test::ProgramRun capinfos =
            test::RunProgram("capinfos", {dir.filePath("written.pcapng")});
        if (capinfos.status == -1) continue;  // no Wireshark tools here
        const QString info = capinfos.out + capinfos.err;
        EXPECT_EQ(capinfos.status, 0) << info.toStdString();
        ExpectContains(
            info, {QStringLiteral("Number of packets:   %1").arg(original.seen),
                   QStringLiteral("Encapsulation = ") + linkType, "Capture application: Lumeno"});
        EXPECT_EQ(info.contains("Filter string = " + filter), !filter.isEmpty())
            << info.toStdString();
    }
}

// A write that fails (here: a full file system) is reported at once with the system's
// reason, while capture goes on to the end; the file holds whole packets up to then and
// reads back without complaint.
TEST(CaptureWriter, AFullFileSystemIsReportedAndTheFileStaysReadable) {
    const test::TinyDisk disk("64k");
    if (disk.Path().isEmpty())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.Why().toStdString();
    const std::string written = disk.Path().toStdString() + "/full.pcapng";
    QString failure;
    bool ended = false, capturingAtFailure = false;
    {
        CaptureCtrl capture;
        capture.SetWriteFile(QString::fromStdString(written));
        capture.SetCurrentAdapter(CaptureCtrl::FileAdapter(LUMENO_SAMPLE_CAPTURE));
        capture.SetReplaySpeed(0);
        QObject::connect(&capture, &CaptureCtrl::finished, [&] { ended = true; });
        QObject::connect(&capture, &CaptureCtrl::writeFailed, [&](const QString& m) {
            EXPECT_TRUE(failure.isEmpty()) << "reported twice";
            failure = m;
            capturingAtFailure = capture.IsCapturing();
        });
        ASSERT_TRUE(capture.Start(nullptr));
        EXPECT_TRUE(test::WaitUntil([&] { return ended; }, 20000));
        EXPECT_EQ(capture.Statistics().seen, 4325u);  // capture went on
    }
    ExpectContains(failure, {QString::fromStdString(written), "No space left on device"});
    EXPECT_TRUE(capturingAtFailure);
    const test::FileRun again = test::ReplayFile(written, "");
    EXPECT_TRUE(again.finished) << again.endMessage.toStdString() << again.startError.toStdString();
    EXPECT_GT(again.seen, 10u);
    EXPECT_LT(again.seen, 4325u);
    const test::ProgramRun capinfos =
        test::RunProgram("capinfos", {QString::fromStdString(written)});
    EXPECT_TRUE(capinfos.status == -1 || capinfos.status == 0) << capinfos.err.toStdString();
}

}  // namespace
}  // namespace lumeno
