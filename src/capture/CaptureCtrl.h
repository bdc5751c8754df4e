#pragma once

#include <pcap/pcap.h>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/Decoder.h"
#include "capture/PcapStream.h"

class QProcess;
class QSocketNotifier;

namespace lumeno {

// One entry of the adapter list: a network device, or a capture file to replay.
struct Adapter {
    std::string name;  // device name, or the file's path
    std::string description;
    bool isFile = false;
    std::vector<std::string> addresses{};  // the device's IPv4 and IPv6 addresses, as text

    // "eth0 — Intel Ethernet", "lo", or the file's path.
    QString displayName() const;
};

struct CaptureStats {
    std::uint64_t seen = 0;       // frames delivered to the decoder
    std::uint64_t received = 0;   // frames the kernel handed to the capture (live)
    std::uint64_t dropped = 0;    // dropped by the kernel for lack of buffer room
    std::uint64_t ifDropped = 0;  // dropped by the interface or its driver
};

// How live capture reaches the adapter: in this process, which then needs the capture
// privilege, or through the capture helper, the one small program that holds it.
enum class LiveMode {
    kAuto,  // in this process when it may capture (root, or the capability), else helper
    kInProcess,
    kHelper,
};

// Capture on a network adapter or from a capture file, over libpcap. Packet events are
// delivered on the GUI thread from the event loop, in bounded batches (by count and by
// time) so that a flood never starves the windows; what is left waits for the next turn.
class CaptureCtrl : public QObject {
    Q_OBJECT

  public:
    using PacketHandler = std::function<void(const DecodedPacket&)>;

    // One turn of the event loop handles at most this many packets, or this many ms.
    static constexpr int kBatchPackets = 4096;
    static constexpr int kBatchMillis = 4;
    // Packets between looks at the clock within a batch (a look costs as much as a small
    // packet's decoding).
    static constexpr int kClockEvery = 16;

    explicit CaptureCtrl(QObject* parent = nullptr);
    ~CaptureCtrl() override;

    // The preparatory call: reads the adapter list afresh.
    void Prepare();
    const std::vector<Adapter>& Adapters() const { return adapters_; }
    // Position 1 is the first adapter; nullptr when there is none at that position.
    const Adapter* AdapterAt(int position) const;
    // Why the last Prepare found no adapters, if libpcap said.
    const QString& ListError() const { return listError_; }

    static Adapter FileAdapter(const std::string& path);

    void SetCurrentAdapter(const Adapter& adapter) { current_ = adapter; }
    const Adapter& CurrentAdapter() const { return current_; }

    // Replay pace of capture files: 1 is the recorded pace, 2 twice as fast, and 0 (or any
    // value that is not positive) as fast as possible.
    void SetReplaySpeed(double factor) { speed_ = factor; }
    double ReplaySpeed() const { return speed_; }

    void SetPacketHandler(PacketHandler handler) { handler_ = std::move(handler); }
    // Called after every batch of packet events, before control goes back to the event
    // loop or a finished/failed signal is sent.
    void SetBatchEndHandler(std::function<void()> handler) { batchEnd_ = std::move(handler); }

    // A BPF expression that every capture (live or file) applies from the next Start;
    // empty lets everything through. An invalid one is refused with libpcap's message and
    // the filter stays as it was.
    bool SetFilter(const QString& expression, QString* error);
    const QString& Filter() const { return filter_; }

    void SetLiveMode(LiveMode mode) { liveMode_ = mode; }
    // The capture helper's path; by default lumeno-capture beside this program.
    void SetHelperPath(const QString& path) { helperPath_ = path; }
    const QString& HelperPath() const { return helperPath_; }
    // Whether this process itself may open adapters for capture.
    static bool MayCaptureInProcess();
    // The running helper's process id, or 0.
    qint64 HelperProcessId() const;

    // Starts capturing on the current adapter. On failure returns false, leaves capture
    // stopped and puts libpcap's message (with what to do about it, where known) in error.
    bool Start(QString* error);
    // No packet event is delivered after Stop returns, even when called from inside one.
    void Stop();
    bool IsCapturing() const { return capturing_; }
    int LinkType() const { return linkType_; }

    // Figures of the running capture, or of the last one once it has stopped.
    CaptureStats Statistics() const;
    // Seconds from the delivery of the first packet of this capture to the end of the batch
    // that delivered the latest one: the time the whole path took, start-up excluded.
    double DeliverySeconds() const { return static_cast<double>(lastDeliveryNs_) * 1e-9; }

  signals:
    // A capture file came to its end; capture has stopped.
    void finished(const QString& message);
    // Capture broke off (a file corrupt in the middle, a device gone); capture has stopped.
    void failed(const QString& message);

  private:
    bool StartLive(QString* error);
    bool StartHelper(QString* error);
    bool StartFile(QString* error);
    void OnLiveReadable();
    void OnReplayTick();
    void OnHelperOutput();
    void OnHelperMessages();
    void OnHelperFinished();
    // Takes one message line of the helper; false when it is not one of the known kinds.
    bool TakeHelperLine(const QByteArray& line);
    void StopHelper();
    void Deliver(std::span<const std::uint8_t> bytes, std::uint32_t wireLength);
    void EndBatch();
    void Fail(const QString& message);
    void ReadLiveStats();
    // Opens a capture file for reading in large blocks.
    pcap_t* OpenFile(const std::string& name, char* errbuf);
    // Closes a handle, and frees the read buffer of a file's.
    void ClosePcap(pcap_t* handle);
    void CloseHandle();
    void CloseRetired();
    static void LiveCallback(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

    std::vector<Adapter> adapters_;
    QString listError_;
    Adapter current_;
    double speed_ = 1.0;
    PacketHandler handler_;
    std::function<void()> batchEnd_;
    QString filter_;
    LiveMode liveMode_ = LiveMode::kAuto;
    QString helperPath_;

    // Live capture through the helper: its process, the stream read so far, its last error
    // text, and a zero timer that brings back records left over from a bounded batch.
    QProcess* helper_ = nullptr;
    std::unique_ptr<PcapStreamReader> stream_;
    // Readers stopped while a packet event still used their bytes.
    std::vector<std::unique_ptr<PcapStreamReader>> retiredStreams_;
    QByteArray helperLine_;
    QString helperError_;
    QTimer helperTimer_;

    pcap_t* handle_ = nullptr;
    // Handles stopped while libpcap or a packet event was still using them; closed as soon
    // as the outermost of those returns.
    std::vector<pcap_t*> retired_;
    // The stdio buffers of open files' streams.
    std::vector<std::pair<pcap_t*, std::unique_ptr<char[]>>> readBuffers_;
    int busyDepth_ = 0;
    int linkType_ = -1;
    bool capturing_ = false;
    bool live_ = false;
    bool fileCapture_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer replayTimer_;

    // Replay pacing: the first packet's time and the wall clock when it was delivered; a
    // packet read but not yet due waits here (libpcap keeps its bytes until the next read).
    QElapsedTimer replayClock_;
    double firstStamp_ = 0;
    bool haveFirstStamp_ = false;
    pcap_pkthdr* pendingHeader_ = nullptr;
    const u_char* pendingBytes_ = nullptr;

    DecodedPacket packet_;
    CaptureStats stats_;
    QElapsedTimer deliveryClock_;
    std::int64_t lastDeliveryNs_ = 0;
};

}  // namespace lumeno
