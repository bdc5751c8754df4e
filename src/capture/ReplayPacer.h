#pragma once

#include <QElapsedTimer>
#include <functional>

namespace lumeno {

// Keeps recorded time at a pace: a packet is due when as much wall time has passed since
// the first one as recorded time, divided by the speed. A gap longer than the largest one
// allowed is cut to it (the time left out is added up), and paused time does not count.
class ReplayPacer {
  public:
    // speed: 1 the recorded pace, 2 twice as fast, 0 (or anything not positive and finite)
    // as fast as possible. maxGap: seconds, 0 for no limit. Counts from the next packet on.
    void SetPace(double speed, double maxGap);
    // A new run: nothing delivered, nothing skipped.
    void Reset();
    bool Paced() const { return speed_ > 0; }

    // Milliseconds until the packet stamped so (capture clock, seconds) is due; 0 when it
    // is due now. May be asked again for the same packet until it is due.
    double WaitMillis(double stamp);

    void SetPaused(bool paused);
    bool IsPaused() const { return paused_; }
    double SkippedSeconds() const { return skipped_; }

    // Told of each cut gap, with the seconds left out.
    std::function<void(double)> onGapSkipped;

  private:
    double ElapsedMillis() const;

    double speed_ = 1.0;
    double maxGap_ = 1.0;
    bool haveBase_ = false;
    double baseStamp_ = 0;      // the packet the pace counts from
    double skippedAtBase_ = 0;  // skipped_ when it was taken
    double lastStamp_ = 0;      // the latest recorded time seen
    double skipped_ = 0;
    QElapsedTimer clock_;      // wall time since the base packet
    double pausedMillis_ = 0;  // paused time since the base packet
    QElapsedTimer pausedSince_;
    bool paused_ = false;
};

}  // namespace lumeno
