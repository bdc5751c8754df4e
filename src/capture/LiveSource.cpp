#include "capture/LiveSource.h"

#include <algorithm>

#include "capture/LiveOpen.h"

namespace lumeno {

LiveSource::LiveSource(SourceSink& sink, std::string device, std::string filter,
                       std::string program)
    : CaptureSource(sink),
      device_(std::move(device)),
      filter_(std::move(filter)),
      program_(std::move(program)) {}

LiveSource::~LiveSource() {
    notifier_.reset();
    if (handle_) pcap_close(handle_);
}

bool LiveSource::Open(QString* error) {
    LiveOpenResult open = OpenLive(device_, filter_);
    if (!open.handle) {
        QString text = QString::fromStdString(open.error);
        if (open.failure == OpenFailure::kPermission) {
            text += QStringLiteral("\n") + QString::fromStdString(PermissionAdvice(program_));
        }
        if (error) *error = text;
        return false;
    }
    handle_ = open.handle;
    linkType_ = pcap_datalink(handle_);
    return true;
}

void LiveSource::Start() {
    running_ = true;
    notifier_ =
        std::make_unique<QSocketNotifier>(pcap_get_selectable_fd(handle_), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &LiveSource::OnReadable);
}

void LiveSource::Stop() {
    if (running_) last_ = Statistics();
    running_ = false;
    if (notifier_) notifier_->setEnabled(false);
    // Inside a packet event libpcap is still in its read loop, and the event may still read
    // the packet's bytes: the loop is asked to leave, the handle closed with the source.
    if (handle_) pcap_breakloop(handle_);
}

SourceStats LiveSource::Statistics() const {
    if (!running_ || !handle_) return last_;
    SourceStats stats;
    pcap_stat ps{};
    if (pcap_stats(handle_, &ps) == 0) {
        stats.received = ps.ps_recv;
        stats.dropped = ps.ps_drop;
        stats.ifDropped = ps.ps_ifdrop;
    }
    return stats;
}

void LiveSource::Callback(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    auto* self = reinterpret_cast<LiveSource*>(user);
    if (!self->running_) return;  // stopped by an earlier packet of this batch
    SourceFrame frame;
    frame.bytes = {bytes, header->caplen};
    frame.wireLength = header->len;
    SetStamp(frame, header->ts);
    frame.linkType = self->linkType_;
    if (!self->sink_.Deliver(frame)) pcap_breakloop(self->handle_);
}

void LiveSource::OnReadable() {
    Budget budget;
    int handled = 0;
    while (running_ && handled < kBatchPackets) {
        const int n = pcap_dispatch(handle_, std::min(256, kBatchPackets - handled), &Callback,
                                    reinterpret_cast<u_char*>(this));
        if (n == PCAP_ERROR_BREAK || n == 0 || !running_) break;
        if (n < 0) {
            running_ = false;
            sink_.Failed(QStringLiteral("Capture on %1 stopped: %2")
                             .arg(QString::fromStdString(device_),
                                  QString::fromLocal8Bit(pcap_geterr(handle_))));
            return;
        }
        handled += n;
        if (budget.TimeUp()) break;
    }
    sink_.EndBatch();
    // The notifier is level-triggered: it brings us back on the next turn if packets are left.
}

}  // namespace lumeno
