#include "capture/CaptureCtrl.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace lumeno {

namespace {

QString PermissionAdvice() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const QString program = ec ? QStringLiteral("lumeno") : QString::fromStdString(exe.string());
    return QStringLiteral(
               "To capture without running Lumeno as root, give the program the capture "
               "capability:\n    sudo setcap cap_net_raw,cap_net_admin=eip %1\n"
               "(a rebuild or reinstall of the program removes it again).")
        .arg(program);
}

double StampSeconds(const timeval& tv) {
    return tv.tv_sec + tv.tv_usec / 1e6;
}

}  // namespace

QString Adapter::displayName() const {
    QString text = QString::fromStdString(name);
    if (!isFile && !description.empty()) {
        text += QStringLiteral(" — ") + QString::fromStdString(description);
    }
    return text;
}

CaptureCtrl::CaptureCtrl(QObject* parent) : QObject(parent) {
    replayTimer_.setSingleShot(true);
    connect(&replayTimer_, &QTimer::timeout, this, &CaptureCtrl::OnReplayTick);
}

CaptureCtrl::~CaptureCtrl() {
    Stop();
    busyDepth_ = 0;
    CloseRetired();
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
    fileCapture_ = current_.isFile;
    const bool ok = current_.isFile ? StartFile(error) : StartLive(error);
    if (!ok) CloseHandle();
    return ok;
}

bool CaptureCtrl::StartLive(QString* error) {
    const QString device = QString::fromStdString(current_.name);
    auto fail = [&](const QString& text) {
        if (error) *error = text;
        return false;
    };
    if (current_.name.empty()) return fail(QStringLiteral("No adapter is chosen."));

    char errbuf[PCAP_ERRBUF_SIZE] = {};
    handle_ = pcap_create(current_.name.c_str(), errbuf);
    if (!handle_) {
        return fail(QStringLiteral("Cannot open adapter %1: %2")
                        .arg(device, QString::fromLocal8Bit(errbuf)));
    }
    pcap_set_snaplen(handle_, kSnapLength);
    pcap_set_promisc(handle_, 1);
    pcap_set_immediate_mode(handle_, 1);
    pcap_set_buffer_size(handle_, kBufferBytes);
    const int status = pcap_activate(handle_);
    if (status < 0) {
        QString text = QStringLiteral("Cannot capture on %1: %2")
                           .arg(device, QString::fromLocal8Bit(pcap_geterr(handle_)));
        if (status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED) {
            text += QStringLiteral("\n") + PermissionAdvice();
        } else if (status == PCAP_ERROR_NO_SUCH_DEVICE) {
            text += QStringLiteral("\nNo adapter of that name exists on this machine.");
        }
        return fail(text);
    }
    if (pcap_setnonblock(handle_, 1, errbuf) != 0) {
        return fail(
            QStringLiteral("Cannot capture on %1: %2").arg(device, QString::fromLocal8Bit(errbuf)));
    }
    const int fd = pcap_get_selectable_fd(handle_);
    if (fd < 0) {
        return fail(
            QStringLiteral("Cannot capture on %1: the adapter cannot be watched.").arg(device));
    }
    linkType_ = pcap_datalink(handle_);
    live_ = true;
    capturing_ = true;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &CaptureCtrl::OnLiveReadable);
    return true;
}

bool CaptureCtrl::StartFile(QString* error) {
    const QString path = QString::fromStdString(current_.name);
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    handle_ = pcap_open_offline(current_.name.c_str(), errbuf);
    if (!handle_) {
        if (error) {
            *error = QStringLiteral("Cannot read capture file %1: %2")
                         .arg(path, QString::fromLocal8Bit(errbuf));
        }
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

void CaptureCtrl::CloseHandle() {
    if (handle_) {
        pcap_close(handle_);
        handle_ = nullptr;
    }
    pendingHeader_ = nullptr;
    pendingBytes_ = nullptr;
    live_ = false;
}

void CaptureCtrl::CloseRetired() {
    if (busyDepth_ > 0) return;
    for (pcap_t* handle : retired_) pcap_close(handle);
    retired_.clear();
}

CaptureStats CaptureCtrl::Statistics() const {
    CaptureStats stats = stats_;
    if (fileCapture_) {
        stats.received = stats.seen;
    } else if (capturing_ && live_ && handle_) {
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

void CaptureCtrl::Deliver(const pcap_pkthdr* header, const u_char* bytes) {
    ++stats_.seen;
    DecodeFrame(linkType_, std::span<const std::uint8_t>(bytes, header->caplen), header->len,
                packet_);
    ++busyDepth_;
    if (handler_) handler_(packet_);
    --busyDepth_;
}

void CaptureCtrl::LiveCallback(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    auto* self = reinterpret_cast<CaptureCtrl*>(user);
    if (!self->capturing_) return;  // stopped by an earlier packet of this batch
    self->Deliver(header, bytes);
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
    CloseRetired();
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
                return;
            }
        }
        const pcap_pkthdr* header = pendingHeader_;
        const u_char* bytes = pendingBytes_;
        pendingHeader_ = nullptr;
        Deliver(header, bytes);
        CloseRetired();
        if (budget.elapsed() >= kBatchMillis) break;
    }
    if (capturing_) replayTimer_.start(0);
}

void CaptureCtrl::Fail(const QString& message) {
    Stop();
    emit failed(message);
}

}  // namespace lumeno
