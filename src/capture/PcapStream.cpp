#include "capture/PcapStream.h"

#include <algorithm>
#include <cstring>

namespace lumeno {

namespace {

constexpr std::size_t kFileHeaderBytes = 24;
constexpr std::size_t kRecordHeaderBytes = 16;
constexpr std::uint32_t kMagicMicros = 0xA1B2C3D4;
constexpr std::uint32_t kMagicNanos = 0xA1B23C4D;

std::uint32_t Swap32(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

}  // namespace

std::span<std::uint8_t> PcapStreamReader::WriteArea(std::size_t n) {
    // Move the unread rest to the front once the consumed part dominates, so the buffer
    // stays about as large as the largest record plus one read.
    if (start_ > 0 && (start_ == end_ || start_ >= buffer_.size() / 2)) {
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (buffer_.size() < end_ + n) buffer_.resize(end_ + n);
    return {buffer_.data() + end_, n};
}

void PcapStreamReader::Commit(std::size_t n) {
    end_ = std::min(end_ + n, buffer_.size());
}

void PcapStreamReader::Append(std::span<const std::uint8_t> data) {
    std::span<std::uint8_t> area = WriteArea(data.size());
    if (!data.empty()) std::memcpy(area.data(), data.data(), data.size());
    Commit(data.size());
}

std::uint32_t PcapStreamReader::Read32(std::size_t offset) const {
    std::uint32_t v;
    std::memcpy(&v, buffer_.data() + start_ + offset, sizeof v);
    return swapped_ ? Swap32(v) : v;
}

PcapStreamReader::Status PcapStreamReader::Damaged(std::string why) {
    error_ = std::move(why);
    start_ = end_;  // nothing after a damaged spot can be trusted
    return Status::kDamaged;
}

PcapStreamReader::Status PcapStreamReader::Next(StreamFrame& frame) {
    if (!error_.empty()) return Status::kDamaged;
    if (!haveHeader_) {
        if (Buffered() < kFileHeaderBytes) return Status::kNeedMore;
        const std::uint32_t magic = Read32(0);
        if (magic == Swap32(kMagicMicros) || magic == Swap32(kMagicNanos)) swapped_ = true;
        const std::uint32_t own = Read32(0);
        if (own != kMagicMicros && own != kMagicNanos) {
            return Damaged("the stream does not begin with a pcap header");
        }
        nanos_ = own == kMagicNanos;
        std::uint16_t major;
        std::memcpy(&major, buffer_.data() + start_ + 4, sizeof major);
        if (swapped_) major = static_cast<std::uint16_t>((major >> 8) | (major << 8));
        if (major != 2) return Damaged("the stream's pcap version is not 2");
        // The upper bits of the link-type word may carry FCS information.
        linkType_ = static_cast<int>(Read32(20) & 0x03FFFFFF);
        haveHeader_ = true;
        start_ += kFileHeaderBytes;
    }
    if (Buffered() < kRecordHeaderBytes) return Status::kNeedMore;
    const std::uint32_t captured = Read32(8);
    if (captured > kMaxRecordBytes) {
        return Damaged("a record claims " + std::to_string(captured) +
                       " bytes, more than any capture holds");
    }
    const std::uint32_t fraction = Read32(4);
    if (fraction >= (nanos_ ? 1000000000u : 1000000u)) {
        return Damaged("a record's time stamp is not a valid time");
    }
    if (Buffered() < kRecordHeaderBytes + captured) return Status::kNeedMore;
    frame.seconds = Read32(0);
    frame.micros = static_cast<std::int32_t>(nanos_ ? fraction / 1000 : fraction);
    frame.wireLength = std::max(Read32(12), captured);
    frame.bytes = {buffer_.data() + start_ + kRecordHeaderBytes, captured};
    start_ += kRecordHeaderBytes + captured;
    return Status::kFrame;
}

}  // namespace lumeno
