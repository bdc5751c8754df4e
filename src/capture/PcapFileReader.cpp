#include "capture/PcapFileReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/Decoder.h"

namespace lumeno {

namespace {

// Room for the largest record and its header, and reads large enough that a system call is
// rare, small enough that the buffer stays in the cache.
constexpr std::size_t kReadSize = 256 * 1024;
constexpr std::size_t kBufferSize = kReadSize + PcapFileReader::kMaxRecord + 16;

std::uint32_t Native32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::string Format(const char* format, unsigned long long a, unsigned long long b) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

bool PcapFileReader::Suits(std::span<const std::uint8_t> header, int linkType) {
    if constexpr (std::endian::native != std::endian::little) return false;
    if (header.size() < 24) return false;
    const std::uint32_t magic = Native32(header.data());
    if (magic != 0xA1B2C3D4 && magic != 0xA1B23C4D) return false;
    // Older versions swap or may swap the two lengths.
    if (header[4] != 2 || header[5] != 0 || header[6] != 4 || header[7] != 0) return false;
    // The link types the decoder knows: libpcap neither fixes their records up nor allows
    // them past kMaxRecord.
    return DecodesLinkType(linkType);
}

PcapFileReader::PcapFileReader(int fd, std::span<const std::uint8_t> header, std::uint32_t snapshot)
    : fd_(fd),
      snapshot_(snapshot),
      nanoseconds_(header.size() >= 4 && Native32(header.data()) == 0xA1B23C4D) {
    // A small file gets a buffer its size; one that grows meanwhile gets the full one when a
    // record needs it.
    struct stat st {};
    capacity_ = kBufferSize;
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        capacity_ =
            std::clamp<std::size_t>(static_cast<std::size_t>(st.st_size), 4096, kBufferSize);
    }
    buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(capacity_);
}

PcapFileReader::~PcapFileReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool PcapFileReader::Have(std::size_t n) {
    if (end_ - start_ >= n) return true;
    if (start_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (n > capacity_) {
        auto bigger = std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize);
        std::memcpy(bigger.get(), buffer_.get(), end_);
        buffer_ = std::move(bigger);
        capacity_ = kBufferSize;
    }
    while (end_ < n && !atEnd_) {
        const ssize_t got =
            ::pread(fd_, buffer_.get() + end_, std::min(kReadSize, capacity_ - end_),
                    static_cast<off_t>(fileOffset_));
        if (got < 0) {
            if (errno == EINTR) continue;
            error_ = std::string("error reading dump file: ") + std::strerror(errno);
            return false;
        }
        if (got == 0) atEnd_ = true;
        end_ += static_cast<std::size_t>(got);
        fileOffset_ += static_cast<std::uint64_t>(got);
    }
    return end_ >= n;
}

bool PcapFileReader::MovesBytes() const {
    const std::size_t held = end_ - start_;
    return held < 16 || held - 16 < Native32(buffer_.get() + start_ + 8);
}

PcapFileReader::Status PcapFileReader::Damaged(std::string why) {
    error_ = std::move(why);
    atEnd_ = true;
    start_ = end_ = 0;
    return Status::kDamaged;
}

PcapFileReader::Status PcapFileReader::Next(Record& record) {
    if (!error_.empty()) return Status::kDamaged;
    if (!Have(16)) {
        if (!error_.empty()) return Damaged(error_);
        const std::size_t got = end_ - start_;
        if (got == 0) return Status::kEnd;
        return Damaged(
            Format("truncated dump file; tried to read %llu header bytes, only got %llu", 16, got));
    }
    const std::uint8_t* h = buffer_.get() + start_;
    // The time stamp's two fields are signed, as libpcap reads them.
    const auto seconds = static_cast<std::int32_t>(Native32(h));
    const auto fraction = static_cast<std::int32_t>(Native32(h + 4));
    const std::uint32_t captured = Native32(h + 8);
    const std::uint32_t wire = Native32(h + 12);
    if (captured > kMaxRecord) {
        return Damaged(
            captured > snapshot_
                ? Format("invalid packet capture length %llu, bigger than snaplen of %llu",
                         captured, snapshot_)
                : Format("invalid packet capture length %llu, bigger than maximum of %llu",
                         captured, kMaxRecord));
    }
    // A record longer than the snapshot length is cut to it, the rest skipped.
    const std::uint32_t kept = std::min(captured, snapshot_);
    if (!Have(16 + std::size_t{captured})) {
        if (!error_.empty()) return Damaged(error_);
        const std::size_t got = end_ - start_ - 16;
        return Damaged(
            Format("truncated dump file; tried to read %llu captured bytes, only got %llu",
                   got < kept ? kept : captured, got));
    }
    h = buffer_.get() + start_;
    record.ts.tv_sec = seconds;
    record.ts.tv_usec = nanoseconds_ ? fraction / 1000 : fraction;
    record.wireLength = wire;
    record.bytes = {h + 16, kept};
    start_ += 16 + std::size_t{captured};
    consumed_ += 16 + std::uint64_t{captured};
    return Status::kRecord;
}

}  // namespace lumeno
