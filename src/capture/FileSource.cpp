#include "capture/FileSource.h"

#include <sys/stat.h>

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
    if (::fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode)) {
        totalBytes_ = static_cast<std::uint64_t>(st.st_size);
    }
    if (std::string why; !ApplyFilter(handle_, filter_, why)) {
        if (error) *error = QString::fromStdString(why);
        return false;
    }
    return true;
}

void FileSource::Start() {
    running_ = true;
    pacer_.Reset();
    pendingHeader_ = nullptr;
    delivered_ = 0;
    timer_.start(0);
}

void FileSource::Stop() {
    running_ = false;
    timer_.stop();
    // Inside a packet event libpcap may still be in its read loop: the handle is closed
    // when the source is destroyed.
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
    if (file_ && handle_) {
        const long at = std::ftell(file_);
        if (at > 0) position.bytesRead = static_cast<std::uint64_t>(at);
    }
    position.skippedSeconds = pacer_.SkippedSeconds();
    return position;
}

void FileSource::OnTick() {
    if (!running_ || !handle_ || pacer_.IsPaused()) return;
    Budget budget;
    while (running_) {
        if (!pendingHeader_) {
            const int status = pcap_next_ex(handle_, &pendingHeader_, &pendingBytes_);
            if (status == PCAP_ERROR_BREAK) {
                pendingHeader_ = nullptr;
                sink_.EndBatch();
                running_ = false;
                sink_.Finished(QStringLiteral("End of capture file %1: %2 packets read.")
                                   .arg(QString::fromStdString(path_))
                                   .arg(delivered_));
                return;
            }
            if (status != 1) {
                pendingHeader_ = nullptr;
                running_ = false;
                sink_.Failed(QStringLiteral("Capture file %1 is damaged after %2 packets: %3")
                                 .arg(QString::fromStdString(path_))
                                 .arg(delivered_)
                                 .arg(QString::fromLocal8Bit(pcap_geterr(handle_))));
                return;
            }
        }
        if (pacer_.Paced()) {
            const double stamp = pendingHeader_->ts.tv_sec + pendingHeader_->ts.tv_usec / 1e6;
            const double waitMs = pacer_.WaitMillis(stamp);
            if (waitMs > 0) {
                timer_.start(static_cast<int>(std::min(std::ceil(waitMs), 1000.0 * 3600)));
                sink_.EndBatch();
                return;
            }
        }
        const pcap_pkthdr* header = pendingHeader_;
        pendingHeader_ = nullptr;
        SourceFrame frame;
        frame.bytes = {pendingBytes_, header->caplen};
        frame.wireLength = header->len;
        SetStamp(frame, header->ts);
        frame.linkType = pcap_datalink(handle_);
        ++delivered_;
        if (!sink_.Deliver(frame) || budget.Spent()) break;
    }
    sink_.EndBatch();
    if (running_) timer_.start(0);
}

}  // namespace lumeno
