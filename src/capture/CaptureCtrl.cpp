#include "capture/CaptureCtrl.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "capture/FileSource.h"
#include "capture/HelperSource.h"
#include "capture/LiveOpen.h"
#include "capture/LiveSource.h"
#include "capture/PipeSource.h"
#include "capture/SshSource.h"

namespace lumeno {

namespace {

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
    if (!isFile && kind == SourceKind::kAdapter && !description.empty()) {
        text += QStringLiteral(" — ") + QString::fromStdString(description);
    }
    return text;
}

CaptureCtrl::CaptureCtrl(QObject* parent) : QObject(parent), helperPath_(DefaultHelperPath()) {}

CaptureCtrl::~CaptureCtrl() {
    Stop();
    // Sources stopped but not yet destroyed go with their parent, this control.
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
    if (auto* helper = dynamic_cast<HelperSource*>(source_)) return helper->ProcessId();
    if (auto* ssh = dynamic_cast<SshSource*>(source_)) return ssh->ProcessId();
    return 0;
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
    adapter.kind = SourceKind::kFile;
    return adapter;
}

std::optional<Adapter> CaptureCtrl::StreamAdapter(const QString& text) {
    const QString t = text.trimmed();
    Adapter adapter;
    adapter.name = t.toStdString();
    if (t == QStringLiteral("-")) {
        adapter.kind = SourceKind::kStdin;
    } else if (t.startsWith(QStringLiteral("pcap-over-ip://"), Qt::CaseInsensitive)) {
        adapter.kind = SourceKind::kPcapOverIp;
    } else if (t.startsWith(QStringLiteral("ssh://"), Qt::CaseInsensitive)) {
        adapter.kind = SourceKind::kSsh;
    } else {
        struct stat st {};
        if (t.isEmpty() || ::stat(t.toLocal8Bit().constData(), &st) != 0) return std::nullopt;
        if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISSOCK(st.st_mode)) {
            return std::nullopt;
        }
        adapter.kind = SourceKind::kPipe;
    }
    return adapter;
}

QStringList CaptureCtrl::StreamHints() {
    return {QStringLiteral("ssh://host/eth0"), QStringLiteral("pcap-over-ip://host:57012"),
            QStringLiteral("-")};
}

void CaptureCtrl::SetReplaySpeed(double factor) {
    speed_ = factor;
    if (source_) source_->SetPace(speed_, maxGap_);
}

void CaptureCtrl::SetMaxGap(double seconds) {
    maxGap_ = seconds;
    if (source_) source_->SetPace(speed_, maxGap_);
}

void CaptureCtrl::SetPaused(bool paused) {
    if (source_ && source_->CanPause()) source_->SetPaused(paused);
}

bool CaptureCtrl::IsPaused() const {
    return source_ && source_->IsPaused();
}

bool CaptureCtrl::CanPause() const {
    if (source_) return source_->CanPause();
    const SourceKind kind = current_.isFile ? SourceKind::kFile : current_.kind;
    return kind != SourceKind::kAdapter && kind != SourceKind::kSsh;
}

ReplayPosition CaptureCtrl::Position() const {
    ReplayPosition position = source_ ? source_->Position() : lastPosition_;
    position.lastStamp = lastStamp_;
    return position;
}

CaptureSource* CaptureCtrl::MakeSource() {
    const std::string filter = filter_.toStdString();
    const SourceKind kind = current_.isFile ? SourceKind::kFile : current_.kind;
    switch (kind) {
        case SourceKind::kFile:
            return new FileSource(*this, current_.name, filter);
        case SourceKind::kStdin:
        case SourceKind::kPipe:
        case SourceKind::kPcapOverIp:
            return new PipeSource(*this, kind, current_.name, filter);
        case SourceKind::kSsh:
            return new SshSource(*this, sshCommand_, current_.name, filter_);
        case SourceKind::kAdapter:
            break;
    }
    const bool helper =
        liveMode_ == LiveMode::kHelper || (liveMode_ == LiveMode::kAuto && !MayCaptureInProcess() &&
                                           QFileInfo(helperPath_).isExecutable());
    if (helper) return new HelperSource(*this, helperPath_, current_.name, filter_);
    // The helper is the way for a normal user; without one, the program itself.
    const std::string program =
        QFileInfo(helperPath_).isExecutable() ? helperPath_.toStdString() : SelfPath("lumeno");
    return new LiveSource(*this, current_.name, filter, program);
}

bool CaptureCtrl::Start(QString* error) {
    Stop();
    stats_ = {};
    lastStats_ = {};
    lastPosition_ = {};
    lastStamp_ = 0;
    lastDeliveryNs_ = 0;
    linkType_ = -1;
    CaptureSource* source = MakeSource();
    source->setParent(this);
    source->SetPace(speed_, maxGap_);
    if (!source->Open(error)) {
        delete source;
        return false;
    }
    if (!writePath_.isEmpty()) {
        writer_ = std::make_unique<CaptureWriter>();
        writeFailureReported_ = false;
        if (std::string why; !writer_->Open(writePath_.toStdString(), filter_.toStdString(), why)) {
            writer_.reset();
            delete source;
            if (error) *error = QString::fromStdString(why);
            return false;
        }
    }
    source_ = source;
    linkType_ = source->LinkType();
    capturing_ = true;
    source->Start();
    return true;
}

void CaptureCtrl::Stop() {
    if (!source_) return;
    CaptureSource* source = source_;
    source_ = nullptr;
    capturing_ = false;
    source->Stop();
    // Its frames' bytes go with it.
    if (expire_) expire_();
    lastStats_ = source->Statistics();
    lastPosition_ = source->Position();
    // A packet event, or the source's own code further up the stack, may still use it.
    source->deleteLater();
    CloseWriter();
}

void CaptureCtrl::CloseWriter() {
    if (!writer_) return;
    writer_->Close(linkType_);
    ReportWriteFailure();
    writer_.reset();
}

CaptureStats CaptureCtrl::Statistics() const {
    CaptureStats stats = stats_;
    const SourceStats s = source_ ? source_->Statistics() : lastStats_;
    stats.received = std::max(s.received, stats.seen);
    stats.dropped = s.dropped;
    stats.ifDropped = s.ifDropped;
    stats.dropsKnown = s.dropsKnown;
    return stats;
}

bool CaptureCtrl::Deliver(const SourceFrame& frame) {
    if (!capturing_) return false;
    if (stats_.seen++ == 0) deliveryClock_.start();
    linkType_ = frame.linkType;
    lastStamp_ = frame.Stamp();
    if (writer_) writer_->Write(frame);
    DecodeFrame(linkType_, frame.bytes, frame.wireLength, packet_);
    ++busyDepth_;
    if (handler_) handler_(packet_);
    --busyDepth_;
    return capturing_;
}

void CaptureCtrl::EndBatch() {
    if (batchEnd_) batchEnd_();
    if (stats_.seen > 0) lastDeliveryNs_ = deliveryClock_.nsecsElapsed();
    if (writer_) {
        writer_->Flush();
        ReportWriteFailure();
    }
}

void CaptureCtrl::ReportWriteFailure() {
    if (!writer_->HasFailed() || writeFailureReported_) return;
    writeFailureReported_ = true;
    emit writeFailed(QString::fromStdString(writer_->Error()));
}

void CaptureCtrl::Finished(const QString& message) {
    Stop();
    emit finished(message);
}

void CaptureCtrl::Failed(const QString& message) {
    Stop();
    EndBatch();
    emit failed(message);
}

}  // namespace lumeno
