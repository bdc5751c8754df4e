#pragma once

#include <pcap/pcap.h>

#include <QProcess>
#include <QTimer>
#include <cstdint>
#include <string>

#include "capture/CaptureSource.h"
#include "capture/PcapStream.h"
#include "capture/ReplayPacer.h"

namespace lumeno {

// A pcap stream that arrives in pieces of any size: from the capture helper, ssh, standard
// input, a named pipe or a TCP connection. Everything is read through the bounds-checked
// stream reader, and never blocks: what is not there yet is waited for in the event loop.
class StreamSource : public CaptureSource {
  public:
    explicit StreamSource(SourceSink& sink);
    ~StreamSource() override;

    void Start() override;
    void Stop() override;
    int LinkType() const override { return reader_.LinkType(); }

    // Streams of recorded packets may be paced and paused; live ones say no.
    void SetPace(double speed, double maxGap) override;
    bool CanPause() const override { return pausable_; }
    void SetPaused(bool paused) override;
    bool IsPaused() const override { return pacer_.IsPaused(); }
    ReplayPosition Position() const override;

  protected:
    enum class ReadResult { kData, kNothingNow, kEnd };
    // Reads up to size bytes into data without waiting; n gets how many.
    virtual ReadResult ReadSome(char* data, std::int64_t size, std::int64_t& n) = 0;
    // The stream ended; damagedTail: in the middle of a header or record.
    virtual void OnEnd(bool damagedTail) = 0;
    // Whether more bytes are wanted from the transport (false while a paced frame waits).
    virtual void SetReading(bool /*reading*/) {}
    // What the failure message calls the stream ("the capture helper's stream").
    virtual QString StreamName() const = 0;

    // Reads and delivers one bounded batch; true when more is left for another turn.
    bool Pump();
    // Delivers everything still in the transport, then calls OnEnd (the transport is done).
    void Drain();
    bool Running() const { return running_; }
    // Inside a batch (a packet event may be calling back into the source).
    bool Pumping() const { return pumping_ > 0; }
    // Another batch soon: more has arrived.
    void Wake();
    void SetPausable(bool pausable) { pausable_ = pausable; }
    // A capture filter applied here, for streams whose writer applied none.
    void SetLocalFilter(std::string filter) { filter_ = std::move(filter); }
    std::uint64_t Delivered() const { return delivered_; }
    // Takes a child process from its member before ending it: none of its signals reach
    // this source any more, and a second call finds nothing to end.
    QProcess* TakeProcess(QProcess*& process);
    // Lets an ended or killed child process go: the event loop deletes it, since this may
    // run inside one of its own signals.
    static void LetGo(QProcess* process);

    PcapStreamReader reader_;

  private:
    bool PumpBatch();
    // Whether the filter lets the frame through; compiled once the link type is known.
    bool Passes(const StreamFrame& frame);

    bool running_ = false;
    bool pausable_ = true;
    bool ended_ = false;
    QTimer timer_;  // the next batch, or the next paced frame
    ReplayPacer pacer_;
    StreamFrame pending_;
    bool havePending_ = false;
    std::uint64_t bytesRead_ = 0;
    int pumping_ = 0;
    std::uint64_t delivered_ = 0;
    std::string filter_;
    bpf_program program_{};
    bool compiled_ = false;
};

}  // namespace lumeno
