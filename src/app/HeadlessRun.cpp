#include "app/HeadlessRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>

#include "app/SourcePath.h"
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

// The first SIGINT or SIGTERM asks the run to stop cleanly; the handler only writes to a
// pipe that the event loop watches, and puts the default actions back, so that a second
// signal ends the process at once. Any thread may take a signal, so two can be in the
// handler together: the atomic decides which one was first.
std::atomic<int> caughtSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
int signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int signal) {
    const int saved = errno;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    if (int none = 0; !caughtSignal.compare_exchange_strong(none, signal)) {
        // The second: held back until this handler returns, then it ends the process.
        sigaction(signal, &fallback, nullptr);
        raise(signal);
        errno = saved;
        return;
    }
    sigaction(SIGINT, &fallback, nullptr);
    sigaction(SIGTERM, &fallback, nullptr);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

class StopSignals {
  public:
    explicit StopSignals(std::function<void()> onSignal) {
        caughtSignal = 0;
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
        notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [onSignal] {
            char bytes[8];
            while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
            }
            onSignal();
        });
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        // Either signal's handler runs with both held back: the first one decides.
        sigaddset(&action.sa_mask, SIGINT);
        sigaddset(&action.sa_mask, SIGTERM);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~StopSignals() {
        if (!notifier_) return;
        if (caughtSignal.load() == 0) {
            sigaction(SIGINT, &oldInt_, nullptr);
            sigaction(SIGTERM, &oldTerm_, nullptr);
        }
        notifier_.reset();
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // SIGINT or SIGTERM once one came, else 0.
    static int Caught() { return caughtSignal.load(); }

  private:
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

// Writes to one stream and keeps the first failure's reason: a summary cut short by a full
// disk must not pass for a whole one.
class CheckedOutput {
  public:
    explicit CheckedOutput(std::FILE* stream) : stream_(stream) {}

    [[gnu::format(printf, 2, 3)]] void Print(const char* format, ...) {
        std::va_list arguments;
        va_start(arguments, format);
        if (std::vfprintf(stream_, format, arguments) < 0 && error_ == 0) error_ = Errno();
        va_end(arguments);
    }
    // Flushes; 0 when everything written so far has reached the system, else why not.
    int Finish() {
        if (std::fflush(stream_) != 0 && error_ == 0) error_ = Errno();
        if (error_ == 0 && std::ferror(stream_)) error_ = EIO;
        return error_;
    }

  private:
    static int Errno() { return errno != 0 ? errno : EIO; }
    std::FILE* stream_;
    int error_ = 0;
};

bool ChooseSource(frmMain& window, const HeadlessOptions& options) {
    if (CaptureCtrl::StreamAdapter(options.source)) {
        window.cmbInterface()->setEnabled(true);
        window.cmbInterface()->setEditText(options.source);
        return true;
    }
    if (!options.live) {
        window.ChooseFile(options.source);
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

// The hosts that the TCP and UDP packets not accepted came from or went to, most first:
// what to monitor when little or nothing was accepted.
void PrintBusiestHosts(CheckedOutput& out, const HostTally& hosts) {
    const auto busiest = hosts.Busiest(5);
    if (busiest.empty()) return;
    out.Print("  busiest addresses of the TCP/UDP packets not accepted\n");
    for (const HostTally::Host& host : busiest) {
        out.Print("    %-39s %s%llu\n", host.address.c_str(), host.exact ? "" : "over ",
                  static_cast<unsigned long long>(host.packets));
    }
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
                         // Ctrl-C in a terminal reaches the whole process group: a capture
                         // helper that it ended is part of the interruption, no failure.
                         failed = didFail && StopSignals::Caught() == 0;
                         endMessage = message;
                         loop.quit();
                     });
    QTimer liveEnd;
    liveEnd.setSingleShot(true);
    QObject::connect(&liveEnd, &QTimer::timeout, &loop, [&] {
        window.StopCapture();
        loop.quit();
    });

    int interruptedBy = 0;
    StopSignals stopSignals([&] {
        interruptedBy = StopSignals::Caught();
        if (window.IsCapturing()) window.StopCapture();
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
    auto hosts = std::make_unique<HostTally>();  // too big for the stack's liking
    double skipped = 0;
    QString writeFailure;
    QObject::connect(&window.Capture(), &CaptureCtrl::writeFailed, &loop,
                     [&](const QString& message) {
                         writeFailure = message;
                         std::fprintf(stderr, "lumeno: %s\n", qPrintable(message));
                     });
    double seconds = 0;
    bool undecodable = false;
    // A stream, once read, is gone: it is read once.
    const int loops = options.live || stream ? 1 : std::max(1, options.loops);
    for (int run = 0; run < loops && !failed && StopSignals::Caught() == 0; ++run) {
        window.StartCapture();
        if (!window.IsCapturing()) {
            std::fprintf(stderr, "lumeno: %s\n", qPrintable(window.MessageText()));
            return 1;
        }
        if (!undecodable && !window.LinkTypeNote().isEmpty()) {
            undecodable = true;
            std::fprintf(stderr, "lumeno: %s\n", qPrintable(window.LinkTypeNote()));
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
        // A stream's link type is known only once its header has come.
        if (!undecodable && !window.LinkTypeNote().isEmpty()) {
            undecodable = true;
            std::fprintf(stderr, "lumeno: %s\n", qPrintable(window.LinkTypeNote()));
        }
        counts += window.Counts();
        hosts->Add(window.Hosts());
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
    // A signal that came after the loop still counts: the figures may be short of it.
    if (interruptedBy == 0) interruptedBy = StopSignals::Caught();
    // The records go to standard output; whatever of them is still buffered goes first.
    int recordsError = 0;
    if (options.summaryToStderr && std::fflush(stdout) != 0) recordsError = errno ? errno : EIO;
    CheckedOutput out(options.summaryToStderr ? stderr : stdout);
    out.Print("%s %s (monitor \"%s\")%s\n", options.live ? "Captured on" : "Replayed",
              qPrintable(options.source), qPrintable(window.txtIP()->text()),
              interruptedBy == SIGINT    ? ", interrupted by SIGINT"
              : interruptedBy == SIGTERM ? ", interrupted by SIGTERM"
                                         : "");
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
            out.Print("%s  not known\n", label);  // a stream does not say
            continue;
        }
        out.Print("%s  %llu\n", label, static_cast<unsigned long long>(value));
    }
    if (skipped > 0) {
        out.Print("  time skipped            %.3f s (gaps longer than %g s cut)\n", skipped,
                  window.Capture().MaxGap());
    }
    PrintBusiestHosts(out, *hosts);
    if (seconds > 0) {
        out.Print("  rate                    %.0f packets/s (%.3f s from first to last)\n",
                  static_cast<double>(stats.seen) / seconds, seconds);
    }
    out.Print("  peak memory             %.1f MB\n",
              static_cast<double>(PeakResidentBytes()) / (1024.0 * 1024.0));
    if (options.probe) {
        out.Print("  worst event-loop gap    %.1f ms (%lld timer events every %d ms)\n",
                  gaps.WorstMs(), gaps.Events(), GapProbe::kIntervalMs);
        if (options.stopAfter > 0) {
            if (stopTookNs >= 0) {
                out.Print("  stop took effect after  %.1f ms\n",
                          static_cast<double>(stopTookNs) * 1e-6);
            } else {
                out.Print("  stop                    not asked: capture ended first\n");
            }
        }
    }
    out.Print("Images (%lld) in %s:\n", static_cast<long long>(snapshots.written.size()),
              qPrintable(window.SnapshotDir()));
    for (const QString& path : snapshots.written) out.Print("  %s\n", qPrintable(path));
    const int summaryError = out.Finish();

    int status = 0;
    CheckedOutput errors(stderr);
    if (!writeFailure.isEmpty()) status = 1;
    if (failed) {
        errors.Print("lumeno: %s\n", qPrintable(endMessage));
        status = 1;
    }
    // The window has said so already when the failing write came with a record.
    if (const QString records = QStringLiteral("records not written: %1")
                                    .arg(QString::fromLocal8Bit(std::strerror(recordsError)));
        recordsError != 0 && !(failed && endMessage == records)) {
        errors.Print("lumeno: %s\n", qPrintable(records));
        status = 1;
    }
    if (summaryError != 0) {
        errors.Print("lumeno: summary not written: %s\n", std::strerror(summaryError));
        status = 1;
    }
    for (const QString& failure : snapshots.failures) {
        errors.Print("lumeno: image not saved: %s\n", qPrintable(failure));
        status = 1;
    }
    // Not one packet could be decoded: an empty picture is no result.
    if (undecodable && stats.seen > 0) status = 1;
    if (errors.Finish() != 0) status = 1;
    if (interruptedBy != 0) status = 128 + interruptedBy;
    return status;
}

}  // namespace lumeno
