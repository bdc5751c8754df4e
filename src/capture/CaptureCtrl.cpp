#include "capture/CaptureCtrl.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "capture/LiveOpen.h"

namespace lumeno {

namespace {

// Lines of text the helper sends; more than this without a line break is not the helper.
constexpr int kMaxHelperLine = 4096;
// The stream read ahead of the views is bounded: the rest waits in the pipe, where the
// helper's kernel buffer (and its drop counter) take over.
constexpr std::size_t kMaxStreamAhead = 4 * 1024 * 1024;
constexpr std::size_t kStreamRead = 256 * 1024;
constexpr int kHelperStartMillis = 5000;
// libpcap reads a file a record at a time through stdio, whose own buffer is one disk
// block: a read system call every few packets. This many bytes per call instead.
constexpr std::size_t kFileReadBuffer = 256 * 1024;

double StampSeconds(const timeval& tv) {
    return tv.tv_sec + tv.tv_usec / 1e6;
}

QString DefaultHelperPath() {
    const QString own =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    return (own.isEmpty() ? QStringLiteral(".") : own) + QStringLiteral("/lumeno-capture");
}

}  // namespace

bool CaptureCtrl::MayCaptureInProcess() {
    if (::geteuid() == 0) return true;
    // CAP_NET_RAW in the effective set, as /proc reports it.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("CapEff:")) {
            bool ok = false;
            const qulonglong caps = line.mid(7).trimmed().toULongLong(&ok, 16);
            return ok && (caps & (1ull << 13)) != 0;
        }
    }
    return false;
}

QString Adapter::displayName() const {
    QString text = QString::fromStdString(name);
    if (!isFile && !description.empty()) {
        text += QStringLiteral(" — ") + QString::fromStdString(description);
    }
    return text;
}

CaptureCtrl::CaptureCtrl(QObject* parent) : QObject(parent), helperPath_(DefaultHelperPath()) {
    replayTimer_.setSingleShot(true);
    connect(&replayTimer_, &QTimer::timeout, this, &CaptureCtrl::OnReplayTick);
    helperTimer_.setSingleShot(true);
    connect(&helperTimer_, &QTimer::timeout, this, &CaptureCtrl::OnHelperOutput);
}

CaptureCtrl::~CaptureCtrl() {
    Stop();
    busyDepth_ = 0;
    CloseRetired();
}

bool CaptureCtrl::SetFilter(const QString& expression, QString* error) {
    const QString text = expression.trimmed();
    std::string why;
    if (!CheckFilter(text.toStdString(), why)) {
        if (error) *error = QString::fromStdString(why);
        return false;
    }
    filter_ = text;
    return true;
}

qint64 CaptureCtrl::HelperProcessId() const {
    return helper_ ? helper_->processId() : 0;
}

void CaptureCtrl::Prepare() {
    adapters_.clear();
    listError_.clear();
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) != 0) {
        listError_ = QString::fromLocal8Bit(errbuf);
        return;
    }
    for (const pcap_if_t* d = devices; d; d = d->next) {
        Adapter adapter;
        adapter.name = d->name ? d->name : "";
        if (d->description) adapter.description = d->description;
        // Its addresses, which the window offers as the host to monitor.
        for (const pcap_addr_t* a = d->addresses; a; a = a->next) {
            if (!a->addr) continue;
            const void* raw = nullptr;
            if (a->addr->sa_family == AF_INET) {
                raw = &reinterpret_cast<const sockaddr_in*>(a->addr)->sin_addr;
            } else if (a->addr->sa_family == AF_INET6) {
                raw = &reinterpret_cast<const sockaddr_in6*>(a->addr)->sin6_addr;
            }
            char text[INET6_ADDRSTRLEN] = {};
            if (raw && inet_ntop(a->addr->sa_family, raw, text, sizeof text)) {
                adapter.addresses.emplace_back(text);
            }
        }
        adapters_.push_back(std::move(adapter));
    }
    pcap_freealldevs(devices);
}

const Adapter* CaptureCtrl::AdapterAt(int position) const {
    if (position < 1 || position > static_cast<int>(adapters_.size())) return nullptr;
    return &adapters_[position - 1];
}

Adapter CaptureCtrl::FileAdapter(const std::string& path) {
    Adapter adapter;
    adapter.name = path;
    adapter.isFile = true;
    return adapter;
}

bool CaptureCtrl::Start(QString* error) {
    Stop();
    stats_ = {};
    lastDeliveryNs_ = 0;
    fileCapture_ = current_.isFile;
    const bool ok = current_.isFile ? StartFile(error) : StartLive(error);
    if (!ok) CloseHandle();
    return ok;
}

bool CaptureCtrl::StartLive(QString* error) {
    const bool helper =
        liveMode_ == LiveMode::kHelper || (liveMode_ == LiveMode::kAuto && !MayCaptureInProcess() &&
                                           QFileInfo(helperPath_).isExecutable());
    if (helper) return StartHelper(error);

    LiveOpenResult open = OpenLive(current_.name, filter_.toStdString());
    if (!open.handle) {
        QString text = QString::fromStdString(open.error);
        if (open.failure == OpenFailure::kPermission) {
            // The helper is the way for a normal user; without one, the program itself.
            const std::string program = QFileInfo(helperPath_).isExecutable()
                                            ? helperPath_.toStdString()
                                            : SelfPath("lumeno");
            text += QStringLiteral("\n") + QString::fromStdString(PermissionAdvice(program));
        }
        if (error) *error = text;
        return false;
    }
    handle_ = open.handle;
    linkType_ = pcap_datalink(handle_);
    live_ = true;
    capturing_ = true;
    notifier_ =
        std::make_unique<QSocketNotifier>(pcap_get_selectable_fd(handle_), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &CaptureCtrl::OnLiveReadable);
    return true;
}

bool CaptureCtrl::StartHelper(QString* error) {
    const QString device = QString::fromStdString(current_.name);
    auto fail = [&](const QString& text) {
        StopHelper();
        if (error) *error = text;
        return false;
    };
    if (current_.name.empty()) return fail(QStringLiteral("No adapter is chosen."));
    if (!QFileInfo(helperPath_).isExecutable()) {
        return fail(QStringLiteral("Cannot capture on %1: the capture helper %2 is missing. "
                                   "Build or install Lumeno with it.")
                        .arg(device, helperPath_));
    }
    if (busyDepth_ > 0 && stream_) retiredStreams_.push_back(std::move(stream_));
    stream_ = std::make_unique<PcapStreamReader>();
    helperLine_.clear();
    helperError_.clear();

    helper_ = new QProcess(this);
    QStringList arguments{device};
    if (!filter_.isEmpty()) arguments << filter_;
    helper_->start(helperPath_, arguments);
    if (!helper_->waitForStarted(kHelperStartMillis)) {
        return fail(QStringLiteral("Cannot start the capture helper %1: %2")
                        .arg(helperPath_, helper_->errorString()));
    }
    // The helper says "ready" once the adapter is open, or why it could not open it; the
    // packets it sends meanwhile wait in the process's buffer.
    helper_->setReadChannel(QProcess::StandardError);
    QElapsedTimer waited;
    waited.start();
    bool ready = false;
    while (!ready && helperError_.isEmpty() && waited.elapsed() < kHelperStartMillis) {
        while (!ready && helper_->canReadLine()) {
            const QByteArray line = helper_->readLine(kMaxHelperLine).trimmed();
            if (line.startsWith("ready")) {
                ready = true;
            } else {
                TakeHelperLine(line);
            }
        }
        if (ready || !helperError_.isEmpty()) break;
        if (helper_->state() == QProcess::NotRunning) {
            helper_->waitForReadyRead(0);
            if (!helper_->canReadLine()) break;
            continue;
        }
        helper_->waitForReadyRead(100);
    }
    helper_->setReadChannel(QProcess::StandardOutput);
    if (!ready) {
        if (helperError_.isEmpty()) {
            helperError_ = helper_->state() == QProcess::NotRunning
                               ? QStringLiteral("the capture helper ended without a word")
                               : QStringLiteral("the capture helper did not answer");
            helperError_ = QStringLiteral("Cannot capture on %1: %2").arg(device, helperError_);
        }
        return fail(helperError_);
    }
    connect(helper_, &QProcess::readyReadStandardOutput, this, &CaptureCtrl::OnHelperOutput);
    connect(helper_, &QProcess::readyReadStandardError, this, &CaptureCtrl::OnHelperMessages);
    connect(helper_, &QProcess::finished, this, &CaptureCtrl::OnHelperFinished);
    live_ = true;
    capturing_ = true;
    OnHelperMessages();
    helperTimer_.start(0);  // packets that came with the greeting
    return true;
}

bool CaptureCtrl::StartFile(QString* error) {
    const QString path = QString::fromStdString(current_.name);
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    handle_ = OpenFile(current_.name, errbuf);
    if (!handle_) {
        if (error) {
            *error = QStringLiteral("Cannot read capture file %1: %2")
                         .arg(path, QString::fromLocal8Bit(errbuf));
        }
        return false;
    }
    if (std::string why; !ApplyFilter(handle_, filter_.toStdString(), why)) {
        if (error) *error = QString::fromStdString(why);
        return false;
    }
    linkType_ = pcap_datalink(handle_);
    live_ = false;
    capturing_ = true;
    haveFirstStamp_ = false;
    pendingHeader_ = nullptr;
    pendingBytes_ = nullptr;
    replayClock_.start();
    replayTimer_.start(0);
    return true;
}

void CaptureCtrl::Stop() {
    StopHelper();
    if (!handle_ && !capturing_) return;
    if (live_ && capturing_) ReadLiveStats();
    capturing_ = false;
    replayTimer_.stop();
    if (notifier_) {
        // This may run inside the notifier's own signal: let the event loop delete it.
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
    if (busyDepth_ > 0 && handle_) {
        // Inside a packet event libpcap is still in its read loop, and the event may still
        // read the packet's bytes: ask the loop to leave and close the handle afterwards.
        pcap_breakloop(handle_);
        retired_.push_back(handle_);
        handle_ = nullptr;
    }
    CloseHandle();
}

pcap_t* CaptureCtrl::OpenFile(const std::string& name, char* errbuf) {
    if (name == "-") return pcap_open_offline(name.c_str(), errbuf);  // standard input
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", name.c_str(), std::strerror(errno));
        return nullptr;
    }
    auto buffer = std::make_unique<char[]>(kFileReadBuffer);
    std::setvbuf(file, buffer.get(), _IOFBF, kFileReadBuffer);
    pcap_t* handle = pcap_fopen_offline(file, errbuf);
    if (!handle) {
        std::fclose(file);  // not closed by libpcap when it refuses the file
        return nullptr;
    }
    // The buffer must outlive the stream, which pcap_close closes.
    readBuffers_.emplace_back(handle, std::move(buffer));
    return handle;
}

void CaptureCtrl::ClosePcap(pcap_t* handle) {
    pcap_close(handle);
    std::erase_if(readBuffers_, [handle](const auto& b) { return b.first == handle; });
}

void CaptureCtrl::CloseHandle() {
    if (handle_) {
        ClosePcap(handle_);
        handle_ = nullptr;
    }
    pendingHeader_ = nullptr;
    pendingBytes_ = nullptr;
    live_ = false;
}

void CaptureCtrl::CloseRetired() {
    if (busyDepth_ > 0) return;
    for (pcap_t* handle : retired_) ClosePcap(handle);
    retired_.clear();
    retiredStreams_.clear();
}

void CaptureCtrl::StopHelper() {
    helperTimer_.stop();
    if (!helper_) return;
    QProcess* helper = helper_;
    helper_ = nullptr;
    helper->disconnect(this);
    // Closing its input asks the helper to finish; it answers with its last figures.
    helper->closeWriteChannel();
    if (busyDepth_ == 0 && helper->state() != QProcess::NotRunning) {
        helper->terminate();
        helper->waitForFinished(500);
    }
    if (helper->state() != QProcess::NotRunning) helper->kill();
    helper->setReadChannel(QProcess::StandardError);
    while (helper->canReadLine()) TakeHelperLine(helper->readLine(kMaxHelperLine).trimmed());
    // This may run inside one of the process's own signals: let the event loop delete it.
    connect(helper, &QProcess::finished, helper, &QObject::deleteLater);
    if (helper->state() == QProcess::NotRunning) helper->deleteLater();
    live_ = false;
    capturing_ = false;
}

bool CaptureCtrl::TakeHelperLine(const QByteArray& line) {
    if (line.startsWith("stats ")) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 4) {
            stats_.received = f[1].toULongLong();
            stats_.dropped = f[2].toULongLong();
            stats_.ifDropped = f[3].toULongLong();
            return true;
        }
    } else if (line.startsWith("error ")) {
        QByteArray text = line.mid(6);
        text.replace('\x1f', '\n');
        helperError_ = QString::fromLocal8Bit(text);
        return true;
    } else if (line.startsWith("ready")) {
        return true;
    }
    return false;
}

void CaptureCtrl::OnHelperMessages() {
    if (!helper_) return;
    helperLine_ += helper_->readAllStandardError();
    qsizetype end;
    while ((end = helperLine_.indexOf('\n')) >= 0) {
        const QByteArray line = helperLine_.left(end).trimmed();
        helperLine_.remove(0, end + 1);
        if (!TakeHelperLine(line) && !line.isEmpty()) {
            // Anything else (a sanitizer, the loader) is kept as the reason should it end.
            helperError_ = QString::fromLocal8Bit(line);
        }
    }
    if (helperLine_.size() > kMaxHelperLine) helperLine_.clear();
}

void CaptureCtrl::OnHelperOutput() {
    if (!capturing_ || !helper_ || !stream_) return;
    QElapsedTimer budget;
    budget.start();
    int handled = 0;
    bool more = false;
    while (capturing_ && helper_) {
        StreamFrame frame;
        PcapStreamReader::Status status = stream_->Next(frame);
        if (status == PcapStreamReader::Status::kNeedMore) {
            if (stream_->Buffered() >= kMaxStreamAhead || helper_->bytesAvailable() <= 0) break;
            std::span<std::uint8_t> area = stream_->WriteArea(kStreamRead);
            const qint64 n = helper_->read(reinterpret_cast<char*>(area.data()),
                                           static_cast<qint64>(area.size()));
            stream_->Commit(n > 0 ? static_cast<std::size_t>(n) : 0);
            if (n <= 0) break;
            continue;
        }
        if (status == PcapStreamReader::Status::kDamaged) {
            Fail(QStringLiteral("Capture on %1 stopped: the capture helper's stream is damaged "
                                "(%2).")
                     .arg(QString::fromStdString(current_.name),
                          QString::fromStdString(stream_->Error())));
            return;
        }
        linkType_ = stream_->LinkType();
        Deliver(frame.bytes, frame.wireLength);
        CloseRetired();
        ++handled;
        if (handled >= kBatchPackets ||
            (handled % kClockEvery == 0 && budget.elapsed() >= kBatchMillis)) {
            more = true;
            break;
        }
    }
    EndBatch();
    if (more && capturing_) helperTimer_.start(0);
}

void CaptureCtrl::OnHelperFinished() {
    if (!capturing_ || !helper_) return;
    // What the helper sent before it ended is still drawn.
    OnHelperMessages();
    do {
        helperTimer_.stop();
        OnHelperOutput();
        if (!capturing_ || !helper_) return;
    } while (helperTimer_.isActive());
    const QString device = QString::fromStdString(current_.name);
    QString text;
    if (stream_->Buffered() > 0) {
        text = QStringLiteral(
                   "Capture on %1 stopped: the capture helper ended in the middle "
                   "of a packet")
                   .arg(device);
    } else {
        text = QStringLiteral("Capture on %1 stopped: the capture helper ended").arg(device);
    }
    if (!helperError_.isEmpty()) text += QStringLiteral(": ") + helperError_;
    if (helper_->exitStatus() == QProcess::CrashExit) text += QStringLiteral(" (it crashed)");
    Fail(text + QLatin1Char('.'));
}

CaptureStats CaptureCtrl::Statistics() const {
    CaptureStats stats = stats_;
    if (fileCapture_) {
        stats.received = stats.seen;
    } else if (capturing_ && live_ && handle_) {  // the helper's figures come as it sends them
        pcap_stat ps{};
        if (pcap_stats(handle_, &ps) == 0) {
            stats.received = ps.ps_recv;
            stats.dropped = ps.ps_drop;
            stats.ifDropped = ps.ps_ifdrop;
        }
    }
    return stats;
}

void CaptureCtrl::ReadLiveStats() {
    pcap_stat ps{};
    if (handle_ && pcap_stats(handle_, &ps) == 0) {
        stats_.received = ps.ps_recv;
        stats_.dropped = ps.ps_drop;
        stats_.ifDropped = ps.ps_ifdrop;
    }
}

void CaptureCtrl::Deliver(std::span<const std::uint8_t> bytes, std::uint32_t wireLength) {
    if (stats_.seen++ == 0) deliveryClock_.start();
    DecodeFrame(linkType_, bytes, wireLength, packet_);
    ++busyDepth_;
    if (handler_) handler_(packet_);
    --busyDepth_;
}

void CaptureCtrl::EndBatch() {
    if (batchEnd_) batchEnd_();
    if (stats_.seen > 0) lastDeliveryNs_ = deliveryClock_.nsecsElapsed();
    CloseRetired();
}

void CaptureCtrl::LiveCallback(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    auto* self = reinterpret_cast<CaptureCtrl*>(user);
    if (!self->capturing_) return;  // stopped by an earlier packet of this batch
    self->Deliver({bytes, header->caplen}, header->len);
}

void CaptureCtrl::OnLiveReadable() {
    QElapsedTimer budget;
    budget.start();
    int handled = 0;
    while (capturing_ && handle_ && handled < kBatchPackets) {
        pcap_t* handle = handle_;
        ++busyDepth_;
        const int n = pcap_dispatch(handle, std::min(256, kBatchPackets - handled), &LiveCallback,
                                    reinterpret_cast<u_char*>(this));
        --busyDepth_;
        if (n == PCAP_ERROR_BREAK || n == 0 || handle != handle_) break;
        if (n < 0) {
            Fail(QStringLiteral("Capture on %1 stopped: %2")
                     .arg(QString::fromStdString(current_.name),
                          QString::fromLocal8Bit(pcap_geterr(handle))));
            break;
        }
        handled += n;
        if (budget.elapsed() >= kBatchMillis) break;
    }
    EndBatch();
    // The notifier is level-triggered: it brings us back on the next turn if packets are left.
}

void CaptureCtrl::OnReplayTick() {
    if (!capturing_ || !handle_) return;
    QElapsedTimer budget;
    budget.start();
    const bool paced = speed_ > 0 && std::isfinite(speed_);
    for (int handled = 0; capturing_ && handled < kBatchPackets; ++handled) {
        if (!pendingHeader_) {
            const int status = pcap_next_ex(handle_, &pendingHeader_, &pendingBytes_);
            if (status == PCAP_ERROR_BREAK) {
                EndBatch();
                const std::uint64_t count = stats_.seen;
                const QString path = QString::fromStdString(current_.name);
                Stop();
                emit finished(QStringLiteral("End of capture file %1: %2 packets read.")
                                  .arg(path)
                                  .arg(count));
                return;
            }
            if (status != 1) {
                pendingHeader_ = nullptr;
                Fail(QStringLiteral("Capture file %1 is damaged after %2 packets: %3")
                         .arg(QString::fromStdString(current_.name))
                         .arg(stats_.seen)
                         .arg(QString::fromLocal8Bit(pcap_geterr(handle_))));
                return;
            }
        }
        if (paced) {
            const double stamp = StampSeconds(pendingHeader_->ts);
            if (!haveFirstStamp_) {
                firstStamp_ = stamp;
                haveFirstStamp_ = true;
                replayClock_.restart();
            }
            // Packets recorded out of order are due at once.
            const double dueMs = std::max(0.0, (stamp - firstStamp_) / speed_ * 1000.0);
            const double waitMs = dueMs - static_cast<double>(replayClock_.elapsed());
            if (waitMs > 0) {
                replayTimer_.start(static_cast<int>(std::min(waitMs, 1000.0 * 3600)));
                EndBatch();
                return;
            }
        }
        const pcap_pkthdr* header = pendingHeader_;
        const u_char* bytes = pendingBytes_;
        pendingHeader_ = nullptr;
        Deliver({bytes, header->caplen}, header->len);
        CloseRetired();
        if ((handled + 1) % kClockEvery == 0 && budget.elapsed() >= kBatchMillis) break;
    }
    EndBatch();
    if (capturing_) replayTimer_.start(0);
}

void CaptureCtrl::Fail(const QString& message) {
    Stop();
    EndBatch();
    emit failed(message);
}

}  // namespace lumeno
