#include "app/HeadlessRun.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <thread>
#include <utility>

#include "app/frmMain.h"

namespace lumeno {
namespace {

// The event loop's responsiveness: the longest stretch between two firings of a fast timer.
class GapProbe {
  public:
    static constexpr int kIntervalMs = 5;

    GapProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kIntervalMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            worstNs_ = std::max(worstNs_, now - lastNs_);
            lastNs_ = now;
            ++events_;
        });
    }
    void Start() {
        clock_.start();
        lastNs_ = 0;
        timer_.start();
    }
    void Stop() { timer_.stop(); }
    double WorstMs() const { return static_cast<double>(worstNs_) * 1e-6; }
    long long Events() const { return events_; }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastNs_ = 0;
    qint64 worstNs_ = 0;
    long long events_ = 0;
};

bool ChooseSource(frmMain& window, const HeadlessOptions& options) {
    if (!options.live || CaptureCtrl::StreamAdapter(options.source)) {
        window.cmbInterface()->setEnabled(true);
        window.cmbInterface()->setEditText(options.source);
        return true;
    }
    const auto& adapters = window.Capture().Adapters();
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        if (QString::fromStdString(adapters[i].name) == options.source) {
            window.cmbInterface()->setCurrentIndex(static_cast<int>(i));
            return true;
        }
    }
    QString names;
    for (const Adapter& adapter : adapters) {
        names += QLatin1Char(' ') + QString::fromStdString(adapter.name);
    }
    std::fprintf(stderr, "lumeno: there is no adapter named \"%s\"; there are:%s\n",
                 qPrintable(options.source),
                 names.isEmpty() ? " none (capturing may need more rights)" : qPrintable(names));
    return false;
}

}  // namespace

long long PeakResidentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
    }
    return 0;
}

int RunHeadless(frmMain& window, const HeadlessOptions& options) {
    const bool stream = CaptureCtrl::StreamAdapter(options.source).has_value();
    if ((!options.live || stream) && !options.keepPace) window.SetReplaySpeed(0);
    if (!ChooseSource(window, options)) return 1;

    bool failed = false;
    QString endMessage;
    QEventLoop loop;
    QObject::connect(&window, &frmMain::captureEnded, &loop,
                     [&](bool didFail, const QString& message) {
                         failed = didFail;
                         endMessage = message;
                         loop.quit();
                     });
    QTimer liveEnd;
    liveEnd.setSingleShot(true);
    QObject::connect(&liveEnd, &QTimer::timeout, &loop, [&] {
        window.StopCapture();
        loop.quit();
    });

    GapProbe gaps;
    // The Stop request comes from another thread, as a click comes from the window system:
    // it waits in the event queue behind whatever the loop is doing.
    std::atomic<qint64> stopAskedNs{-1};
    qint64 stopTookNs = -1;
    QElapsedTimer probeClock;
    std::thread stopper;

    CaptureCounts counts;
    CaptureStats stats;
    double skipped = 0;
    QString writeFailure;
    QObject::connect(&window.Capture(), &CaptureCtrl::writeFailed, &loop,
                     [&](const QString& message) {
                         writeFailure = message;
                         std::fprintf(stderr, "lumeno: %s\n", qPrintable(message));
                     });
    double seconds = 0;
    // A stream, once read, is gone: it is read once.
    const int loops = options.live || stream ? 1 : std::max(1, options.loops);
    for (int run = 0; run < loops && !failed; ++run) {
        window.StartCapture();
        if (!window.IsCapturing()) {
            std::fprintf(stderr, "lumeno: %s\n", qPrintable(window.MessageText()));
            return 1;
        }
        if (options.live && options.seconds > 0) {
            liveEnd.start(static_cast<int>(options.seconds * 1000));
        }
        if (options.probe && run == 0) {
            gaps.Start();
            probeClock.start();
            if (options.stopAfter > 0) {
                stopper = std::thread([&] {
                    std::this_thread::sleep_for(std::chrono::duration<double>(options.stopAfter));
                    stopAskedNs = probeClock.nsecsElapsed();
                    QMetaObject::invokeMethod(
                        &window,
                        [&] {
                            if (!window.IsCapturing()) return;
                            window.StopCapture();
                            stopTookNs = probeClock.nsecsElapsed() - stopAskedNs;
                            loop.quit();
                        },
                        Qt::QueuedConnection);
                });
            }
        }
        loop.exec();
        counts += window.Counts();
        const CaptureStats s = window.Capture().Statistics();
        stats.seen += s.seen;
        stats.received += s.received;
        stats.dropped += s.dropped;
        stats.ifDropped += s.ifDropped;
        stats.dropsKnown = stats.dropsKnown && s.dropsKnown;
        skipped += window.Capture().Position().skippedSeconds;
        seconds += window.Capture().DeliverySeconds();
        if (stopTookNs >= 0) break;
    }
    gaps.Stop();
    if (stopper.joinable()) {
        stopper.join();
        // The request may have been posted after the file ended: let it run now.
        QCoreApplication::sendPostedEvents(&window);
    }

    const SnapshotResult snapshots = window.SaveSnapshots();
    std::FILE* out = options.summaryToStderr ? stderr : stdout;
    std::fflush(stdout);
    std::fprintf(out, "%s %s (monitor \"%s\")\n", options.live ? "Captured on" : "Replayed",
                 qPrintable(options.source), qPrintable(window.txtIP()->text()));
    const std::pair<const char*, std::uint64_t> figures[] = {
        {"  packets read          ", stats.seen},
        {"  accepted              ", counts.accepted},
        {"    incomingTCP         ", counts.incomingTCP},
        {"    outgoingTCP         ", counts.outgoingTCP},
        {"    incomingUDP         ", counts.incomingUDP},
        {"    outgoingUDP         ", counts.outgoingUDP},
        {"  not the monitored host", counts.notMonitored},
        {"  dropped as other      ", counts.other},
        {"  lost by the kernel    ", stats.dropped},
        {"  lost by the adapter   ", stats.ifDropped},
    };
    for (const auto& [label, value] : figures) {
        if (!stats.dropsKnown && std::string_view(label).starts_with("  lost")) {
            std::fprintf(out, "%s  not known\n", label);  // a stream does not say
            continue;
        }
        std::fprintf(out, "%s  %llu\n", label, static_cast<unsigned long long>(value));
    }
    if (skipped > 0) {
        std::fprintf(out, "  time skipped            %.3f s (gaps longer than %g s cut)\n", skipped,
                     window.Capture().MaxGap());
    }
    if (seconds > 0) {
        std::fprintf(out, "  rate                    %.0f packets/s (%.3f s from first to last)\n",
                     static_cast<double>(stats.seen) / seconds, seconds);
    }
    std::fprintf(out, "  peak memory             %.1f MB\n",
                 static_cast<double>(PeakResidentBytes()) / (1024.0 * 1024.0));
    if (options.probe) {
        std::fprintf(out, "  worst event-loop gap    %.1f ms (%lld timer events every %d ms)\n",
                     gaps.WorstMs(), gaps.Events(), GapProbe::kIntervalMs);
        if (options.stopAfter > 0) {
            if (stopTookNs >= 0) {
                std::fprintf(out, "  stop took effect after  %.1f ms\n",
                             static_cast<double>(stopTookNs) * 1e-6);
            } else {
                std::fprintf(out, "  stop                    not asked: capture ended first\n");
            }
        }
    }
    std::fprintf(out, "Images (%lld) in %s:\n", static_cast<long long>(snapshots.written.size()),
                 qPrintable(window.SnapshotDir()));
    for (const QString& path : snapshots.written) std::fprintf(out, "  %s\n", qPrintable(path));
    std::fflush(out);

    int status = 0;
    if (!writeFailure.isEmpty()) status = 1;
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
