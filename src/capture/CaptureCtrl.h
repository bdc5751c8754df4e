#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/CaptureSource.h"
#include "capture/CaptureWriter.h"
#include "capture/Decoder.h"

namespace lumeno {

// What an entry of the adapter list reads from.
enum class SourceKind {
    kAdapter,     // a network device, in this process or through the capture helper
    kFile,        // a capture file, replayed
    kStdin,       // "-": a pcap stream on standard input
    kPipe,        // a named pipe (or other non-file path), read as a stream
    kPcapOverIp,  // "pcap-over-ip://HOST:PORT": a TCP connection that carries a pcap stream
    kSsh,         // "ssh://[USER@]HOST[:PORT]/ADAPTER": tcpdump on another host, over ssh
};

// One entry of the adapter list: a network device, or a capture file to replay.
struct Adapter {
    std::string name;  // device name, or the file's path
    std::string description;
    bool isFile = false;
    std::vector<std::string> addresses{};    // the device's IPv4 and IPv6 addresses, as text
    SourceKind kind = SourceKind::kAdapter;  // kFile whenever isFile

    // "eth0 — Intel Ethernet", "lo", or the file's path.
    QString displayName() const;
};

struct CaptureStats {
    std::uint64_t seen = 0;       // frames delivered to the decoder
    std::uint64_t received = 0;   // frames the kernel handed to the capture (live)
    std::uint64_t dropped = 0;    // dropped by the kernel for lack of buffer room
    std::uint64_t ifDropped = 0;  // dropped by the interface or its driver
    bool dropsKnown = true;       // false: the source (a stream) cannot say what was lost
};

// How live capture reaches the adapter: in this process, which then needs the capture
// privilege, or through the capture helper, the one small program that holds it.
enum class LiveMode {
    kAuto,  // in this process when it may capture (root, or the capability), else helper
    kInProcess,
    kHelper,
};

// The capture control: keeps the adapter list, and picks and drives one source (an adapter,
// the capture helper, a capture file, a stream). Packet events are delivered on the GUI
// thread from the event loop, in bounded batches (by count and by time) so that a flood
// never starves the windows; what is left waits for the next turn.
class CaptureCtrl : public QObject, private SourceSink {
    Q_OBJECT

  public:
    using PacketHandler = std::function<void(const DecodedPacket&)>;

    // One turn of the event loop handles at most this many packets, or this many ms.
    static constexpr int kBatchPackets = CaptureSource::kBatchPackets;
    static constexpr int kBatchMillis = CaptureSource::kBatchMillis;
    static constexpr int kClockEvery = CaptureSource::kClockEvery;

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
    // The stream a text names: "-", "pcap-over-ip://HOST:PORT", "ssh://[USER@]HOST[:PORT]/
    // ADAPTER", or the path of a named pipe (or character device or socket); nothing for
    // anything else. A malformed address gives an entry whose Start says what is wrong.
    static std::optional<Adapter> StreamAdapter(const QString& text);
    // Examples of the stream forms, for the adapter list.
    static QStringList StreamHints();

    void SetCurrentAdapter(const Adapter& adapter) { current_ = adapter; }
    const Adapter& CurrentAdapter() const { return current_; }

    // Replay pace of capture files and streams: 1 is the recorded pace, 2 twice as fast,
    // and 0 (or any value that is not positive) as fast as possible. Applies at once.
    void SetReplaySpeed(double factor);
    double ReplaySpeed() const { return speed_; }
    // At a finite pace a gap between packets longer than this many seconds is cut to it
    // (0: no limit); the time left out is added up in Position().
    void SetMaxGap(double seconds);
    double MaxGap() const { return maxGap_; }
    // Paused: nothing is read, nothing delivered. Files and streams only.
    void SetPaused(bool paused);
    bool IsPaused() const;
    bool CanPause() const;
    ReplayPosition Position() const;

    void SetPacketHandler(PacketHandler handler) { handler_ = std::move(handler); }
    // Called after every batch of packet events, before control goes back to the event
    // loop or a finished/failed signal is sent.
    void SetBatchEndHandler(std::function<void()> handler) { batchEnd_ = std::move(handler); }
    // Whether the frames of this capture's source stay readable after their packet event;
    // if so, the handler is called before their bytes go (and when capture stops).
    bool FramesStay() const { return source_ && source_->FramesStay(); }
    void SetFramesExpireHandler(std::function<void()> handler) { expire_ = std::move(handler); }

    // A BPF expression that every capture (live, file or stream) applies from the next
    // Start; empty lets everything through. An invalid one is refused with libpcap's
    // message and the filter stays as it was.
    bool SetFilter(const QString& expression, QString* error);
    const QString& Filter() const { return filter_; }

    // From the next Start on, every frame read is also written to this pcapng file
    // (empty: none). A failing write is reported by writeFailed; capture goes on.
    void SetWriteFile(const QString& path) { writePath_ = path; }
    const QString& WriteFile() const { return writePath_; }

    void SetLiveMode(LiveMode mode) { liveMode_ = mode; }
    // The capture helper's path; by default lumeno-capture beside this program.
    void SetHelperPath(const QString& path) { helperPath_ = path; }
    const QString& HelperPath() const { return helperPath_; }
    // The ssh client and any options of its own for ssh:// sources; by default "ssh".
    void SetSshCommand(const QStringList& command) { sshCommand_ = command; }
    // Whether this process itself may open adapters for capture.
    static bool MayCaptureInProcess();
    // The running helper's (or ssh client's) process id, or 0.
    qint64 HelperProcessId() const;

    // Starts capturing on the current adapter. On failure returns false, leaves capture
    // stopped and puts the reason (with what to do about it, where known) in error.
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
    // A capture file or stream came to its end; capture has stopped.
    void finished(const QString& message);
    // Capture broke off (a file corrupt in the middle, a device gone); capture has stopped.
    void failed(const QString& message);
    // At a finite pace, a gap of the recording was cut short by this many seconds.
    void gapSkipped(double seconds);
    // Writing the capture to its file failed (the reason is in message); capture goes on.
    void writeFailed(const QString& message);

  private:
    CaptureSource* MakeSource();
    bool Deliver(const SourceFrame& frame) override;
    void EndBatch() override;
    void Finished(const QString& message) override;
    void Failed(const QString& message) override;
    void GapSkipped(double seconds) override { emit gapSkipped(seconds); }
    void FramesExpire() override {
        if (expire_) expire_();
    }
    void CloseWriter();
    void ReportWriteFailure();

    std::vector<Adapter> adapters_;
    QString listError_;
    Adapter current_;
    double speed_ = 1.0;
    double maxGap_ = 1.0;
    PacketHandler handler_;
    std::function<void()> batchEnd_;
    std::function<void()> expire_;
    QString filter_;
    LiveMode liveMode_ = LiveMode::kAuto;
    QString helperPath_;
    QStringList sshCommand_{QStringLiteral("ssh")};
    QString writePath_;

    // The running source; a stopped one is destroyed from the event loop, as a packet
    // event or the source's own code may still be using it.
    CaptureSource* source_ = nullptr;
    SourceStats lastStats_;
    ReplayPosition lastPosition_;
    int busyDepth_ = 0;
    int linkType_ = -1;
    bool capturing_ = false;

    std::unique_ptr<CaptureWriter> writer_;
    bool writeFailureReported_ = false;
    DecodedPacket packet_;
    CaptureStats stats_;
    double lastStamp_ = 0;
    QElapsedTimer deliveryClock_;
    std::int64_t lastDeliveryNs_ = 0;
};

}  // namespace lumeno
