#include "app/HeadlessRun.h"

#include <QEventLoop>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "app/frmMain.h"

namespace lumeno {

int RunHeadless(frmMain& window, const QString& file, bool summaryToStderr) {
    window.SetReplaySpeed(0);
    window.cmbInterface()->setEnabled(true);
    window.cmbInterface()->setEditText(file);

    bool failed = false;
    QString endMessage;
    QEventLoop loop;
    QObject::connect(&window, &frmMain::captureEnded, &loop,
                     [&](bool didFail, const QString& message) {
                         failed = didFail;
                         endMessage = message;
                         loop.quit();
                     });
    window.StartCapture();
    if (!window.IsCapturing()) {
        std::fprintf(stderr, "lumeno: %s\n", qPrintable(window.MessageText()));
        return 1;
    }
    loop.exec();

    const SnapshotResult snapshots = window.SaveSnapshots();
    // With --records the packet lines own standard output.
    std::FILE* out = summaryToStderr ? stderr : stdout;
    std::fflush(stdout);
    const CaptureCounts& c = window.Counts();
    const CaptureStats stats = window.Capture().Statistics();
    std::fprintf(out, "Replayed %s (monitor \"%s\")\n", qPrintable(file),
                 qPrintable(window.txtIP()->text()));
    const std::pair<const char*, std::uint64_t> figures[] = {
        {"  packets read          ", stats.seen},     {"  accepted              ", c.accepted},
        {"    incomingTCP         ", c.incomingTCP},  {"    outgoingTCP         ", c.outgoingTCP},
        {"    incomingUDP         ", c.incomingUDP},  {"    outgoingUDP         ", c.outgoingUDP},
        {"  not the monitored host", c.notMonitored}, {"  dropped as other      ", c.other},
        {"  lost by the kernel    ", stats.dropped},  {"  lost by the adapter   ", stats.ifDropped},
    };
    for (const auto& [label, value] : figures) {
        std::fprintf(out, "%s  %llu\n", label, static_cast<unsigned long long>(value));
    }
    std::fprintf(out, "Images (%lld) in %s:\n", static_cast<long long>(snapshots.written.size()),
                 qPrintable(window.SnapshotDir()));
    for (const QString& path : snapshots.written) std::fprintf(out, "  %s\n", qPrintable(path));
    std::fflush(out);

    int status = 0;
    if (failed) {
        std::fprintf(stderr, "lumeno: %s\n", qPrintable(endMessage));
        status = 1;
    }
    for (const QString& failure : snapshots.failures) {
        std::fprintf(stderr, "lumeno: image not saved: %s\n", qPrintable(failure));
        status = 1;
    }
    return status;
}

}  // namespace lumeno
