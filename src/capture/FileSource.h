#pragma once

#include <pcap/pcap.h>

#include <QTimer>
#include <memory>
#include <string>

#include "capture/CaptureSource.h"
#include "capture/PcapFileReader.h"
#include "capture/ReplayPacer.h"

namespace lumeno {

// A capture file (pcap or pcapng) read through libpcap, at the recorded pace or faster; a
// plain pcap file that libpcap would hand over as stored is read by PcapFileReader instead.
class FileSource : public CaptureSource {
  public:
    FileSource(SourceSink& sink, std::string path, std::string filter);
    ~FileSource() override;

    bool Open(QString* error) override;
    void Start() override;
    void Stop() override;
    SourceStats Statistics() const override { return {}; }
    int LinkType() const override { return handle_ ? pcap_datalink(handle_) : -1; }
    bool FramesStay() const override { return reader_ != nullptr; }

    void SetPace(double speed, double maxGap) override;
    bool CanPause() const override { return true; }
    void SetPaused(bool paused) override;
    bool IsPaused() const override { return pacer_.IsPaused(); }
    ReplayPosition Position() const override;

  private:
    enum class Read { kRecord, kEnd, kDamaged };
    // Reads the next record into pending_; on damage says why in damage.
    Read ReadRecord(QString& damage);
    void OnTick();

    std::string path_, filter_;
    pcap_t* handle_ = nullptr;
    std::FILE* file_ = nullptr;  // libpcap's stream, for the position
    // libpcap reads a file a record at a time through stdio, whose own buffer is one disk
    // block: a read system call every few packets. A large buffer instead; it must outlive
    // the stream, which pcap_close closes.
    std::unique_ptr<char[]> readBuffer_;
    std::uint64_t totalBytes_ = 0;
    bool running_ = false;
    QTimer timer_;
    ReplayPacer pacer_;
    std::unique_ptr<PcapFileReader> reader_;
    std::uint64_t delivered_ = 0;
    // A packet read but not yet due waits here (its bytes stay until the next read).
    struct Pending {
        bool waiting = false;
        timeval ts{};
        std::uint32_t wireLength = 0;
        std::span<const std::uint8_t> bytes;
    } pending_;
};

}  // namespace lumeno
