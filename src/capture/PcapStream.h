#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumeno {

// One record of a pcap stream; bytes stay valid until the reader is next written to.
struct StreamFrame {
    std::int64_t seconds = 0;
    std::int32_t micros = 0;
    std::uint32_t wireLength = 0;
    std::span<const std::uint8_t> bytes;
};

// Reads the pcap savefile format, or pcapng, from a stream that arrives in pieces of any
// size (a pipe from the capture helper, standard input, a socket), without ever waiting for
// the rest of a record. The stream is not trusted: a header, block or record that no capture
// could produce ends it as damaged.
class PcapStreamReader {
  public:
    enum class Status { kFrame, kNeedMore, kDamaged };

    // No record holds more than this: libpcap's largest snap length.
    static constexpr std::uint32_t kMaxRecordBytes = 262144;
    // No pcapng block is longer than this (a record, its headers and its options).
    static constexpr std::uint32_t kMaxBlockBytes = kMaxRecordBytes + 65536;
    // Interfaces one pcapng section may describe.
    static constexpr std::size_t kMaxInterfaces = 256;

    // Room for up to n more bytes; Commit says how many were written there.
    std::span<std::uint8_t> WriteArea(std::size_t n);
    void Commit(std::size_t n);
    void Append(std::span<const std::uint8_t> data);

    Status Next(StreamFrame& frame);

    bool HaveHeader() const { return haveHeader_; }
    // The link type of the last frame (before any: of the stream's first interface).
    int LinkType() const { return linkType_; }
    // Bytes received but not yet taken as a record: a stream that ends here ended
    // in the middle of a header or record.
    std::size_t Buffered() const { return end_ - start_; }
    const std::string& Error() const { return error_; }

  private:
    struct Interface {
        int linkType = 0;
        std::uint32_t snapLength = 0;
        std::uint64_t unitsPerSecond = 1000000;  // of its time stamps
    };

    std::uint32_t Read32(std::size_t offset) const;
    std::uint16_t Read16(std::size_t offset) const;
    Status Damaged(std::string why);
    Status NextPcapng(StreamFrame& frame);
    // Reads an interface description block of the given length at the front.
    Status TakeInterface(std::uint32_t length);

    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0, end_ = 0;
    bool haveHeader_ = false;
    bool swapped_ = false;
    bool nanos_ = false;
    int linkType_ = -1;
    bool pcapng_ = false;
    std::vector<Interface> interfaces_;
    std::string error_;
};

}  // namespace lumeno
