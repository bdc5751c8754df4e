#pragma once

#include <sys/time.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace lumeno {

// Reads the records of a classic pcap file in this machine's byte order straight into a
// large buffer of its own and hands them out where they lie. libpcap reads each record
// through stdio into a buffer of its own: two calls and two copies per packet, which a
// replay as fast as possible notices. Only files whose records libpcap hands over as they
// are stored come here (Suits); of those it gives what pcap_next_ex gives, damage and its
// words included.
class PcapFileReader {
  public:
    // The largest record libpcap takes for the link types read here.
    static constexpr std::uint32_t kMaxRecord = 262144;

    struct Record {
        timeval ts{};  // as libpcap gives it: microseconds, out of their range in a damaged file
        std::uint32_t wireLength = 0;
        std::span<const std::uint8_t> bytes;
    };
    enum class Status { kRecord, kEnd, kDamaged };

    // Whether a file that begins with header (its first 24 bytes or fewer), of the link type
    // libpcap reports for it, is read here: version 2.4, this machine's byte order,
    // microsecond or nanosecond time stamps, and a link type whose records libpcap neither
    // fixes up nor allows past kMaxRecord.
    static bool Suits(std::span<const std::uint8_t> header, int linkType);

    // Reads from fd (closed with the reader; its offset is not used) the records after the
    // header of a file that Suits with this header and has libpcap's snapshot length for it.
    PcapFileReader(int fd, std::span<const std::uint8_t> header, std::uint32_t snapshot);
    ~PcapFileReader();
    PcapFileReader(const PcapFileReader&) = delete;
    PcapFileReader& operator=(const PcapFileReader&) = delete;

    // The next record; its bytes stay valid until the next call. After kDamaged, Error()
    // says why in libpcap's words, and every later call says the same.
    Status Next(Record& record);
    const std::string& Error() const { return error_; }
    // Whether the next call may move or overwrite the bytes of the records handed out: they
    // stay where they are as long as the next record lies whole in the buffer already.
    bool MovesBytes() const;
    // Bytes of the file taken so far, its header included.
    std::uint64_t Consumed() const { return consumed_; }

  private:
    // Makes at least n bytes lie from start_ on, if the file has them; false at its end or on a
    // read error (error_ set).
    bool Have(std::size_t n);
    Status Damaged(std::string why);

    int fd_;
    std::uint32_t snapshot_;
    bool nanoseconds_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t start_ = 0, end_ = 0;
    bool atEnd_ = false;
    std::uint64_t fileOffset_ = 24;  // of the next read
    std::uint64_t consumed_ = 24;
    std::string error_;
};

}  // namespace lumeno
