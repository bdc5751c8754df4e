#include "capture/CaptureWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumeno {

namespace {

constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescription = 1;
constexpr std::uint32_t kEnhancedPacket = 6;
constexpr std::uint16_t kOptionEnd = 0, kIfFilter = 11, kIfTsResol = 9, kShbUserAppl = 4;
// Larger than this, the buffer is written out before the batch ends.
constexpr std::size_t kFlushAt = 1 << 20;

std::size_t Padded(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

}  // namespace

CaptureWriter::~CaptureWriter() {
    Close();
}

bool CaptureWriter::Open(const std::string& path, const std::string& filter, std::string& error) {
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error = "Cannot write the capture to " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    filter_ = filter;
    error_.clear();
    linkType_ = -1;
    committed_ = 0;
    written_ = 0;
    buffer_.clear();
    buffer_.reserve(kFlushAt + 300000);
    return true;
}

void CaptureWriter::Put(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + n);
}

void CaptureWriter::WriteHeader(int linkType) {
    linkType_ = linkType;
    static constexpr char kApplication[] = "Lumeno";
    const std::size_t appl = sizeof kApplication - 1;
    const std::uint32_t shbLength = static_cast<std::uint32_t>(28 + 4 + Padded(appl) + 4);
    Put32(kSectionHeader);
    Put32(shbLength);
    Put32(0x1A2B3C4D);  // byte-order magic, in this machine's order
    Put16(1);
    Put16(0);
    Put32(0xFFFFFFFF);  // section length not known
    Put32(0xFFFFFFFF);
    Put16(kShbUserAppl);
    Put16(static_cast<std::uint16_t>(appl));
    Put(kApplication, appl);
    buffer_.resize(buffer_.size() + Padded(appl) - appl, 0);
    Put32(0);  // end of options
    Put32(shbLength);

    // The filter option holds a string no longer than an option may be.
    const std::size_t filterBytes = std::min<std::size_t>(filter_.size(), 60000);
    const std::size_t filterOption = filterBytes > 0 ? 4 + Padded(1 + filterBytes) : 0;
    const std::uint32_t idbLength = static_cast<std::uint32_t>(20 + 8 + filterOption + 4);
    Put32(kInterfaceDescription);
    Put32(idbLength);
    Put16(static_cast<std::uint16_t>(linkType));
    Put16(0);
    Put32(0);  // no snap length limit
    Put16(kIfTsResol);
    Put16(1);
    const std::uint8_t nanos[4] = {9, 0, 0, 0};
    Put(nanos, 4);
    if (filterBytes > 0) {
        Put16(kIfFilter);
        Put16(static_cast<std::uint16_t>(1 + filterBytes));
        const std::uint8_t kind = 0;  // a filter expression as libpcap takes it
        Put(&kind, 1);
        Put(filter_.data(), filterBytes);
        buffer_.resize(buffer_.size() + Padded(1 + filterBytes) - 1 - filterBytes, 0);
    }
    Put16(kOptionEnd);
    Put16(0);
    Put32(idbLength);
}

void CaptureWriter::Write(const SourceFrame& frame) {
    if (fd_ < 0 || !error_.empty()) return;
    // One file holds one link type: frames of another (a stream cannot change it) are left out.
    if (linkType_ < 0) WriteHeader(frame.linkType);
    if (frame.linkType != linkType_) return;
    const std::size_t captured = frame.bytes.size();
    const auto length = static_cast<std::uint32_t>(32 + Padded(captured));
    const std::uint64_t stamp = static_cast<std::uint64_t>(frame.seconds) * 1000000000ull +
                                static_cast<std::uint64_t>(frame.nanos);
    Put32(kEnhancedPacket);
    Put32(length);
    Put32(0);  // interface 0
    Put32(static_cast<std::uint32_t>(stamp >> 32));
    Put32(static_cast<std::uint32_t>(stamp));
    Put32(static_cast<std::uint32_t>(captured));
    Put32(std::max<std::uint32_t>(frame.wireLength, static_cast<std::uint32_t>(captured)));
    if (captured > 0) Put(frame.bytes.data(), captured);
    buffer_.resize(buffer_.size() + Padded(captured) - captured, 0);
    Put32(length);
    ++written_;
    if (buffer_.size() >= kFlushAt) Flush();
}

bool CaptureWriter::Flush() {
    if (fd_ < 0) return false;
    if (!error_.empty()) return false;
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = "Writing the capture to " + path_ +
                     " failed: " + (n < 0 ? std::strerror(errno) : "nothing could be written") +
                     ". Capture goes on without it; the file holds the packets up to then.";
            // Cut a block written in part, so that the file ends with a whole one. The
            // buffer holds whole blocks, each with its length after its type.
            std::size_t whole = 0;
            while (whole + 8 <= done) {
                std::uint32_t length = 0;
                std::memcpy(&length, buffer_.data() + whole + 4, sizeof length);
                if (length == 0 || whole + length > done) break;
                whole += length;
            }
            if (::ftruncate(fd_, static_cast<off_t>(committed_ + whole)) != 0) {
                error_ += " (It could not be cut back to its last whole packet.)";
            }
            buffer_.clear();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    committed_ += buffer_.size();
    buffer_.clear();
    return true;
}

void CaptureWriter::Close(int linkType) {
    if (fd_ < 0) return;
    if (linkType_ < 0 && linkType >= 0 && error_.empty()) WriteHeader(linkType);
    Flush();
    ::close(fd_);
    fd_ = -1;
}

}  // namespace lumeno
