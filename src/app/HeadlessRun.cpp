#include "app/HeadlessRun.h"

#include <QEventLoop>
#include <cstdio>

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
    std::fprintf(out, "  packets read            %llu\n",
                 static_cast<unsigned long long>(stats.seen));
    std::fprintf(out, "  accepted                %llu\n",
                 static_cast<unsigned long long>(c.accepted));
    std::fprintf(out, "    incomingTCP           %llu\n",
                 static_cast<unsigned long long>(c.incomingTCP));
    std::fprintf(out, "    outgoingTCP           %llu\n",
                 static_cast<unsigned long long>(c.outgoingTCP));
    std::fprintf(out, "    incomingUDP           %llu\n",
                 static_cast<unsigned long long>(c.incomingUDP));
    std::fprintf(out, "    outgoingUDP           %llu\n",
                 static_cast<unsigned long long>(c.outgoingUDP));
    std::fprintf(out, "  not the monitored host  %llu\n",
                 static_cast<unsigned long long>(c.notMonitored));
    std::fprintf(out, "  dropped as other        %llu\n", static_cast<unsigned long long>(c.other));
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
