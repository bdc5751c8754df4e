#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/CaptureSource.h"

namespace lumeno {

// Writes every frame read to a pcapng file: a section header, one interface with the link
// type and the capture filter, then one enhanced packet block per frame (nanosecond time
// stamps). Writes go out at the end of each batch; a failing write is reported with the
// system's reason, nothing more is written, and the file is cut back to its last whole
// block so that it stays a valid capture.
class CaptureWriter {
  public:
    CaptureWriter() = default;
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Creates (or empties) the file; false with the reason in error.
    bool Open(const std::string& path, const std::string& filter, std::string& error);
    // Buffers one frame; the header goes out before the first (its link type is the file's).
    void Write(const SourceFrame& frame);
    // Writes what is buffered; false once a write has failed (Error() says why).
    bool Flush();
    // linkType: what an empty capture's header says (-1: none known, the file stays empty).
    void Close(int linkType = -1);

    bool IsOpen() const { return fd_ >= 0; }
    bool HasFailed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }
    std::uint64_t Written() const { return written_; }

  private:
    void Put(const void* data, std::size_t n);
    void Put32(std::uint32_t v) { Put(&v, 4); }
    void Put16(std::uint16_t v) { Put(&v, 2); }
    void WriteHeader(int linkType);

    int fd_ = -1;
    std::string path_, filter_, error_;
    int linkType_ = -1;
    std::vector<std::uint8_t> buffer_;  // whole blocks only
    std::uint64_t committed_ = 0;       // bytes in the file, all of them whole blocks
    std::uint64_t written_ = 0;         // frames in the file or buffered
};

}  // namespace lumeno
