#include "capture/FileSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "capture/LiveOpen.h"

namespace lumeno {

namespace {

constexpr std::size_t kFileReadBuffer = 256 * 1024;

}  // namespace

FileSource::FileSource(SourceSink& sink, std::string path, std::string filter)
    : CaptureSource(sink), path_(std::move(path)), filter_(std::move(filter)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &FileSource::OnTick);
    pacer_.onGapSkipped = [this](double seconds) { sink_.GapSkipped(seconds); };
}

FileSource::~FileSource() {
    if (handle_) pcap_close(handle_);  // closes file_ too
}

bool FileSource::Open(QString* error) {
    const QString path = QString::fromStdString(path_);
    auto fail = [&](const QString& why) {
        if (error) *error = QStringLiteral("Cannot read capture file %1: %2").arg(path, why);
        return false;
    };
    std::FILE* file = std::fopen(path_.c_str(), "rb");
    if (!file) {
        return fail(QString::fromStdString(path_ + ": " + std::strerror(errno)));
    }
    readBuffer_ = std::make_unique<char[]>(kFileReadBuffer);
    std::setvbuf(file, readBuffer_.get(), _IOFBF, kFileReadBuffer);
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    handle_ = pcap_fopen_offline(file, errbuf);
    if (!handle_) {
        std::fclose(file);  // not closed by libpcap when it refuses the file
        return fail(QString::fromLocal8Bit(errbuf));
    }
    file_ = file;
    struct stat st {};
    const bool regular = ::fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode);
    if (regular) totalBytes_ = static_cast<std::uint64_t>(st.st_size);
    if (std::string why; !ApplyFilter(handle_, filter_, why)) {
        if (error) *error = QString::fromStdString(why);
        return false;
    }
    // A filter is libpcap's to apply: such files stay with it.
    if (regular && filter_.empty()) {
        // The file libpcap opened, read at offsets of the reader's own.
        const int fd = ::fcntl(fileno(file), F_DUPFD_CLOEXEC, 0);
        std::uint8_t header[24];
        if (fd >= 0 && ::pread(fd, header, sizeof header, 0) == sizeof header &&
            PcapFileReader::Suits(header, pcap_datalink(handle_)) && pcap_snapshot(handle_) > 0) {
            reader_ = std::make_unique<PcapFileReader>(
                fd, header, static_cast<std::uint32_t>(pcap_snapshot(handle_)));
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    return true;
}

void FileSource::Start() {
    running_ = true;
    pacer_.Reset();
    pending_.waiting = false;
    delivered_ = 0;
    timer_.start(0);
}

void FileSource::Stop() {
    running_ = false;
    timer_.stop();
    // Inside a packet event libpcap may still be in its read loop: the handle is closed
    // when the source is destroyed.
}

void FileSource::SetPace(double speed, double maxGap) {
    pacer_.SetPace(speed, maxGap);
    // A packet waiting for its time is asked again at the new pace: a wait counted at the
    // old one (up to an hour for a gap kept whole) must not hold back a faster pace.
    if (running_ && !pacer_.IsPaused() && timer_.isActive()) timer_.start(0);
}

void FileSource::SetPaused(bool paused) {
    pacer_.SetPaused(paused);
    if (!running_) return;
    if (paused) {
        timer_.stop();
    } else {
        timer_.start(0);
    }
}

ReplayPosition FileSource::Position() const {
    ReplayPosition position;
    position.totalBytes = totalBytes_;
    if (reader_) {
        position.bytesRead = reader_->Consumed();
    } else if (file_ && handle_) {
        const long at = std::ftell(file_);
        if (at > 0) position.bytesRead = static_cast<std::uint64_t>(at);
    }
    position.skippedSeconds = pacer_.SkippedSeconds();
    return position;
}

FileSource::Read FileSource::ReadRecord(QString& damage) {
    if (reader_) {
        if (reader_->MovesBytes()) sink_.FramesExpire();
        PcapFileReader::Record record;
        switch (reader_->Next(record)) {
            case PcapFileReader::Status::kRecord:
                pending_ = {true, record.ts, record.wireLength, record.bytes};
                return Read::kRecord;
            case PcapFileReader::Status::kEnd:
                return Read::kEnd;
            case PcapFileReader::Status::kDamaged:
                damage = QString::fromStdString(reader_->Error());
                return Read::kDamaged;
        }
    }
    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    const int status = pcap_next_ex(handle_, &header, &bytes);
    if (status == PCAP_ERROR_BREAK) return Read::kEnd;
    if (status != 1) {
        damage = QString::fromLocal8Bit(pcap_geterr(handle_));
        return Read::kDamaged;
    }
    pending_ = {true, header->ts, header->len, {bytes, header->caplen}};
    return Read::kRecord;
}

void FileSource::OnTick() {
    if (!running_ || !handle_ || pacer_.IsPaused()) return;
    Budget budget;
    while (running_) {
        if (!pending_.waiting) {
            QString damage;
            const Read status = ReadRecord(damage);
            if (status == Read::kEnd) {
                sink_.EndBatch();
                running_ = false;
                sink_.Finished(QStringLiteral("End of capture file %1: %2 packets read.")
                                   .arg(QString::fromStdString(path_))
                                   .arg(delivered_));
                return;
            }
            if (status == Read::kDamaged) {
                running_ = false;
                sink_.Failed(QStringLiteral("Capture file %1 is damaged after %2 packets: %3")
                                 .arg(QString::fromStdString(path_))
                                 .arg(delivered_)
                                 .arg(damage));
                return;
            }
        }
        if (pacer_.Paced()) {
            const double stamp = pending_.ts.tv_sec + pending_.ts.tv_usec / 1e6;
            const double waitMs = pacer_.WaitMillis(stamp);
            if (waitMs > 0) {
                timer_.start(static_cast<int>(std::min(std::ceil(waitMs), 1000.0 * 3600)));
                sink_.EndBatch();
                return;
            }
        }
        pending_.waiting = false;
        SourceFrame frame;
        frame.bytes = pending_.bytes;
        frame.wireLength = pending_.wireLength;
        SetStamp(frame, pending_.ts);
        frame.linkType = pcap_datalink(handle_);
        ++delivered_;
        if (!sink_.Deliver(frame) || budget.Spent()) break;
    }
    sink_.EndBatch();
    if (running_) timer_.start(0);
}

}  // namespace lumeno
