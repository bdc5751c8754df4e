#include "capture/StreamSource.h"

#include <algorithm>
#include <cmath>

namespace lumeno {

namespace {

// The stream read ahead of the views is bounded: the rest waits in the pipe or socket,
// where the writer's kernel buffer (and its drop counter) take over.
constexpr std::size_t kMaxStreamAhead = 4 * 1024 * 1024;
constexpr std::size_t kStreamRead = 256 * 1024;

}  // namespace

StreamSource::StreamSource(SourceSink& sink) : CaptureSource(sink) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &StreamSource::Wake);
    pacer_.onGapSkipped = [this](double seconds) { sink_.GapSkipped(seconds); };
}

StreamSource::~StreamSource() {
    if (compiled_) pcap_freecode(&program_);
}

bool StreamSource::Passes(const StreamFrame& frame) {
    if (filter_.empty()) return true;
    if (!compiled_) {
        pcap_t* dead = pcap_open_dead(reader_.LinkType(), PcapStreamReader::kMaxRecordBytes);
        if (!dead) return true;
        std::string why;
        if (pcap_compile(dead, &program_, filter_.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
            why = pcap_geterr(dead);
            pcap_close(dead);
            running_ = false;
            SetReading(false);
            sink_.Failed(QStringLiteral("%1 cannot be filtered: invalid capture filter \"%2\" "
                                        "for its link type %3: %4")
                             .arg(StreamName(), QString::fromStdString(filter_))
                             .arg(reader_.LinkType())
                             .arg(QString::fromStdString(why)));
            return false;
        }
        pcap_close(dead);
        compiled_ = true;
    }
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(frame.bytes.size());
    header.len = frame.wireLength;
    return pcap_offline_filter(&program_, &header, frame.bytes.data()) != 0;
}

void StreamSource::Start() {
    running_ = true;
    ended_ = false;
    havePending_ = false;
    pacer_.Reset();
    SetReading(true);
    timer_.start(0);  // what came before the start
}

void StreamSource::Stop() {
    running_ = false;
    timer_.stop();
    SetReading(false);
}

void StreamSource::SetPace(double speed, double maxGap) {
    pacer_.SetPace(pausable_ ? speed : 0, maxGap);
    // A frame waiting for its time is asked again at the new pace.
    if (running_ && !pacer_.IsPaused() && havePending_ && timer_.isActive()) timer_.start(0);
}

void StreamSource::SetPaused(bool paused) {
    if (!pausable_) return;
    pacer_.SetPaused(paused);
    if (!running_) return;
    SetReading(!paused && !havePending_);
    if (paused) {
        timer_.stop();
    } else {
        timer_.start(0);
    }
}

ReplayPosition StreamSource::Position() const {
    ReplayPosition position;
    position.bytesRead = bytesRead_;
    position.skippedSeconds = pacer_.SkippedSeconds();
    return position;
}

void StreamSource::Wake() {
    if (!running_ || pacer_.IsPaused()) return;
    if (Pump() && running_) timer_.start(0);
}

bool StreamSource::Pump() {
    ++pumping_;
    const bool more = PumpBatch();
    --pumping_;
    return more;
}

bool StreamSource::PumpBatch() {
    if (!running_ || pacer_.IsPaused()) return false;
    Budget budget;
    bool more = false;
    while (running_) {
        if (!havePending_) {
            const PcapStreamReader::Status status = reader_.Next(pending_);
            if (status == PcapStreamReader::Status::kNeedMore) {
                if (reader_.Buffered() >= kMaxStreamAhead) break;
                std::span<std::uint8_t> area = reader_.WriteArea(kStreamRead);
                std::int64_t n = 0;
                const ReadResult result = ReadSome(reinterpret_cast<char*>(area.data()),
                                                   static_cast<std::int64_t>(area.size()), n);
                reader_.Commit(result == ReadResult::kData ? static_cast<std::size_t>(n) : 0);
                if (result == ReadResult::kData) {
                    bytesRead_ += static_cast<std::uint64_t>(n);
                    continue;
                }
                if (result == ReadResult::kEnd) ended_ = true;
                break;
            }
            if (status == PcapStreamReader::Status::kDamaged) {
                running_ = false;
                SetReading(false);
                sink_.Failed(QStringLiteral("%1 is damaged (%2).")
                                 .arg(StreamName(), QString::fromStdString(reader_.Error())));
                return false;
            }
            if (!Passes(pending_)) {
                if (!running_) return false;  // the filter does not fit the stream
                if (budget.Spent()) {
                    more = true;
                    break;
                }
                continue;
            }
            havePending_ = true;
        }
        if (pacer_.Paced()) {
            const double waitMs =
                pacer_.WaitMillis(static_cast<double>(pending_.seconds) + pending_.micros * 1e-6);
            if (waitMs > 0) {
                // Nothing more is read while this frame waits for its time.
                SetReading(false);
                timer_.start(static_cast<int>(std::min(std::ceil(waitMs), 1000.0 * 3600)));
                sink_.EndBatch();
                return false;
            }
        }
        havePending_ = false;
        SetReading(true);
        SourceFrame frame;
        frame.bytes = pending_.bytes;
        frame.wireLength = pending_.wireLength;
        frame.seconds = pending_.seconds;
        frame.nanos = pending_.micros * 1000;
        frame.linkType = reader_.LinkType();
        ++delivered_;
        if (!sink_.Deliver(frame)) break;
        if (budget.Spent()) {
            more = true;
            break;
        }
    }
    sink_.EndBatch();
    if (ended_ && running_ && !more) {
        running_ = false;
        SetReading(false);
        OnEnd(reader_.Buffered() > 0);
        return false;
    }
    return more && running_;
}

void StreamSource::Drain() {
    // Pacing does not hold back the last of a stream that has ended.
    pacer_.SetPace(0, 0);
    pacer_.SetPaused(false);
    SetReading(true);
    while (running_ && !ended_) {
        if (!Pump()) break;
    }
    if (running_) {
        running_ = false;
        OnEnd(reader_.Buffered() > 0);
    }
}

QProcess* StreamSource::TakeProcess(QProcess*& process) {
    QProcess* taken = process;
    process = nullptr;
    if (taken) taken->disconnect(this);
    return taken;
}

void StreamSource::LetGo(QProcess* process) {
    process->setParent(nullptr);
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    if (process->state() == QProcess::NotRunning) process->deleteLater();
}

}  // namespace lumeno
