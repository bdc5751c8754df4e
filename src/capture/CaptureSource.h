#pragma once

#include <sys/time.h>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <span>

namespace lumeno {

// One frame as a source hands it over; the bytes stay valid until the source reads again
// or is destroyed.
struct SourceFrame {
    std::span<const std::uint8_t> bytes;
    std::uint32_t wireLength = 0;
    std::int64_t seconds = 0;  // capture clock, since the epoch
    std::int32_t nanos = 0;
    int linkType = -1;

    double Stamp() const { return static_cast<double>(seconds) + nanos * 1e-9; }
};

// A libpcap time stamp, whose microseconds a damaged file may put out of their range.
inline void SetStamp(SourceFrame& frame, const timeval& tv) {
    const std::int64_t micros = static_cast<std::int64_t>(tv.tv_usec);
    std::int64_t carry = micros / 1000000, rest = micros % 1000000;
    if (rest < 0) {
        rest += 1000000;
        --carry;
    }
    frame.seconds = static_cast<std::int64_t>(tv.tv_sec) + carry;
    frame.nanos = static_cast<std::int32_t>(rest * 1000);
}

// Where a replay stands, for a progress display.
struct ReplayPosition {
    std::uint64_t bytesRead = 0, totalBytes = 0;  // totalBytes 0: not known (a stream)
    double lastStamp = 0;       // capture clock of the last packet delivered; 0: none yet
    double skippedSeconds = 0;  // recorded time left out by cutting long gaps
};

// Figures a source knows of itself; the control counts the frames it delivers.
struct SourceStats {
    std::uint64_t received = 0;  // frames the kernel handed over (live), else 0
    std::uint64_t dropped = 0, ifDropped = 0;
    bool dropsKnown = true;  // false: the source cannot say what was lost before it
};

// What a source calls, always on the window thread.
class SourceSink {
  public:
    virtual ~SourceSink() = default;
    // One frame; false when capture was stopped meanwhile (the batch must end).
    virtual bool Deliver(const SourceFrame& frame) = 0;
    // After every batch, before control goes back to the event loop.
    virtual void EndBatch() = 0;
    // The source came to its end (message says so) or broke off (message says why). The
    // source must not touch itself after either call: the control stops it at once.
    virtual void Finished(const QString& message) = 0;
    virtual void Failed(const QString& message) = 0;
    virtual void GapSkipped(double seconds) = 0;
    // For a source whose frames stay (CaptureSource::FramesStay): the bytes of the frames
    // delivered so far are about to be overwritten.
    virtual void FramesExpire() {}
};

// Where packets come from: an adapter, the capture helper, a file, a stream. A source wakes
// itself from the event loop (socket notifier, timer, process output) and delivers bounded
// batches, so a flood never starves the windows; what is left waits for the next turn.
class CaptureSource : public QObject {
  public:
    // One turn of the event loop handles at most this many packets, or this many ms.
    static constexpr int kBatchPackets = 16384;
    static constexpr int kBatchMillis = 4;
    // Packets between looks at the clock within a batch (a look costs as much as a small
    // packet's decoding).
    static constexpr int kClockEvery = 16;

    explicit CaptureSource(SourceSink& sink) : sink_(sink) {}

    // Acquires what the source reads from. On failure says why, in words for the user.
    virtual bool Open(QString* error) = 0;
    // Deliveries begin from the next turn of the event loop.
    virtual void Start() = 0;
    // No delivery after this returns, even when called from inside one; the bytes of the
    // frame being delivered stay readable until the source is destroyed.
    virtual void Stop() = 0;
    virtual SourceStats Statistics() const = 0;
    // The frames' link type, -1 while not known (a stream before its header).
    virtual int LinkType() const = 0;
    // Whether a delivered frame's bytes stay readable after its delivery, until the source
    // calls FramesExpire or is destroyed, instead of only until it reads again.
    virtual bool FramesStay() const { return false; }

    // Replay pacing, for the sources that replay recorded time.
    virtual void SetPace(double /*speed*/, double /*maxGap*/) {}
    virtual bool CanPause() const { return false; }
    virtual void SetPaused(bool /*paused*/) {}
    virtual bool IsPaused() const { return false; }
    virtual ReplayPosition Position() const { return {}; }

  protected:
    // Counts one delivered packet of a batch; true when the batch has had its share.
    class Budget {
      public:
        Budget() { clock_.start(); }
        bool Spent() {
            ++handled_;
            return handled_ >= kBatchPackets ||
                   (handled_ % kClockEvery == 0 && clock_.elapsed() >= kBatchMillis);
        }
        int Handled() const { return handled_; }
        bool TimeUp() const { return clock_.elapsed() >= kBatchMillis; }

      private:
        QElapsedTimer clock_;
        int handled_ = 0;
    };

    SourceSink& sink_;
};

}  // namespace lumeno
