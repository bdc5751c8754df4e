#include "capture/PcapStream.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace lumeno {

namespace {

constexpr std::size_t kFileHeaderBytes = 24;
constexpr std::size_t kRecordHeaderBytes = 16;
constexpr std::uint32_t kMagicMicros = 0xA1B2C3D4;
constexpr std::uint32_t kMagicNanos = 0xA1B23C4D;
// pcapng: the section header block's type reads the same in either byte order.
constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint32_t kInterfaceBlock = 1, kObsoletePacket = 2, kSimplePacket = 3,
                        kEnhancedPacket = 6;

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

std::uint16_t PcapStreamReader::Read16(std::size_t offset) const {
    std::uint16_t v;
    std::memcpy(&v, buffer_.data() + start_ + offset, sizeof v);
    return swapped_ ? static_cast<std::uint16_t>((v >> 8) | (v << 8)) : v;
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
    if (pcapng_) return NextPcapng(frame);
    if (!haveHeader_) {
        if (Buffered() < 4) return Status::kNeedMore;
        std::uint32_t first;
        std::memcpy(&first, buffer_.data() + start_, sizeof first);
        if (first == kSectionHeader) {
            pcapng_ = true;
            return NextPcapng(frame);
        }
        if (Buffered() < kFileHeaderBytes) return Status::kNeedMore;
        const std::uint32_t magic = Read32(0);
        if (magic == Swap32(kMagicMicros) || magic == Swap32(kMagicNanos)) swapped_ = true;
        const std::uint32_t own = Read32(0);
        if (own != kMagicMicros && own != kMagicNanos) {
            return Damaged("the stream does not begin with a pcap or pcapng header");
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

PcapStreamReader::Status PcapStreamReader::TakeInterface(std::uint32_t length) {
    if (length < 20) return Damaged("an interface block is too short");
    if (interfaces_.size() >= kMaxInterfaces) return Damaged("too many interfaces");
    Interface i;
    i.linkType = Read16(8);
    i.snapLength = Read32(12);
    // Options: code, length, value padded to four bytes; if_tsresol (9) sets the clock.
    std::size_t at = 16;
    while (at + 4 <= length - 4) {
        const std::uint16_t code = Read16(at), size = Read16(at + 2);
        if (code == 0) break;
        const std::size_t padded = (std::size_t{size} + 3) & ~std::size_t{3};
        if (at + 4 + padded > length - 4) return Damaged("an interface option runs past its block");
        if (code == 9 && size >= 1) {
            const std::uint8_t v = buffer_[start_ + at + 4];
            const unsigned exponent = v & 0x7F;
            std::uint64_t units = 1;
            const unsigned base = (v & 0x80) ? 2 : 10;
            // Finer than a nanosecond's thousandth no clock is.
            if (exponent > (base == 2 ? 63u : 18u))
                return Damaged("an interface's clock is not valid");
            for (unsigned k = 0; k < exponent; ++k) units *= base;
            i.unitsPerSecond = units;
        }
        at += 4 + padded;
    }
    if (interfaces_.empty()) linkType_ = i.linkType;
    interfaces_.push_back(i);
    return Status::kNeedMore;  // not a frame; the caller goes on
}

PcapStreamReader::Status PcapStreamReader::NextPcapng(StreamFrame& frame) {
    for (;;) {
        // A section header's magic gives the byte order of the blocks after it.
        if (Buffered() < 12) return Status::kNeedMore;
        std::uint32_t type;
        std::memcpy(&type, buffer_.data() + start_, sizeof type);
        if (type == kSectionHeader) {
            std::uint32_t magic;
            std::memcpy(&magic, buffer_.data() + start_ + 8, sizeof magic);
            if (magic == kByteOrderMagic) {
                swapped_ = false;
            } else if (magic == Swap32(kByteOrderMagic)) {
                swapped_ = true;
            } else {
                return Damaged("a pcapng section header has no valid byte-order magic");
            }
        } else if (!haveHeader_) {
            return Damaged("the stream does not begin with a pcap or pcapng header");
        } else {
            type = Read32(0);
        }
        const std::uint32_t length = Read32(4);
        if (length < 12 || length % 4 != 0 || length > kMaxBlockBytes) {
            return Damaged("a pcapng block claims " + std::to_string(length) +
                           " bytes, which no capture writes");
        }
        if (Buffered() < length) return Status::kNeedMore;
        if (Read32(length - 4) != length) {
            return Damaged("a pcapng block's two lengths differ");
        }
        if (type == kSectionHeader) {
            if (length < 28 || Read16(12) != 1) {
                return Damaged("the stream's pcapng version is not 1");
            }
            haveHeader_ = true;
            interfaces_.clear();  // each section describes its own
            start_ += length;
            continue;
        }
        if (type == kInterfaceBlock) {
            if (TakeInterface(length) == Status::kDamaged) return Status::kDamaged;
            start_ += length;
            continue;
        }
        std::uint32_t interface = 0, captured = 0, wire = 0;
        std::uint64_t stamp = 0;
        std::size_t data = 0;
        if (type == kEnhancedPacket || type == kObsoletePacket) {
            if (length < 32) return Damaged("a packet block is too short");
            interface = type == kEnhancedPacket ? Read32(8) : Read16(8);
            stamp = (std::uint64_t{Read32(12)} << 32) | Read32(16);
            captured = Read32(20);
            wire = Read32(24);
            data = 28;
            if (captured > length - 32) return Damaged("a packet runs past its block");
        } else if (type == kSimplePacket) {
            if (length < 16) return Damaged("a packet block is too short");
            wire = Read32(8);
            data = 12;
            captured = std::min(wire, length - 16);
        } else {
            start_ += length;  // statistics, names, comments: nothing to draw
            continue;
        }
        if (interface >= interfaces_.size()) {
            return Damaged("a packet names interface " + std::to_string(interface) +
                           ", which was not described");
        }
        const Interface& i = interfaces_[interface];
        if (type == kSimplePacket && i.snapLength > 0) captured = std::min(captured, i.snapLength);
        if (captured > kMaxRecordBytes) {
            return Damaged("a record claims " + std::to_string(captured) +
                           " bytes, more than any capture holds");
        }
        const std::uint64_t seconds = stamp / i.unitsPerSecond;
        const std::uint64_t fraction = stamp % i.unitsPerSecond;
        frame.seconds = static_cast<std::int64_t>(std::min<std::uint64_t>(seconds, INT64_MAX));
        frame.micros = static_cast<std::int32_t>(static_cast<unsigned __int128>(fraction) *
                                                 1000000u / i.unitsPerSecond);
        frame.wireLength = std::max(wire, captured);
        frame.bytes = {buffer_.data() + start_ + data, captured};
        linkType_ = i.linkType;
        start_ += length;
        return Status::kFrame;
    }
}

}  // namespace lumeno
