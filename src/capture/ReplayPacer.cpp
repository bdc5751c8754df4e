#include "capture/ReplayPacer.h"

#include <algorithm>
#include <cmath>

namespace lumeno {

void ReplayPacer::SetPace(double speed, double maxGap) {
    speed_ = speed > 0 && std::isfinite(speed) ? speed : 0;
    maxGap_ = maxGap > 0 && std::isfinite(maxGap) ? maxGap : 0;
    // A new pace counts from the next packet, not from the first of the run.
    haveBase_ = false;
}

void ReplayPacer::Reset() {
    haveBase_ = false;
    lastStamp_ = 0;
    skipped_ = 0;
    skippedAtBase_ = 0;
    paused_ = false;
}

double ReplayPacer::ElapsedMillis() const {
    double paused = pausedMillis_;
    if (paused_) paused += static_cast<double>(pausedSince_.elapsed());
    return static_cast<double>(clock_.elapsed()) - paused;
}

double ReplayPacer::WaitMillis(double stamp) {
    if (!haveBase_) {
        // The first packet after a start, or after a change of pace, is due at once, and
        // the gap before it is not cut: it belongs to no pace.
        haveBase_ = true;
        baseStamp_ = stamp;
        skippedAtBase_ = skipped_;
        lastStamp_ = std::max(lastStamp_, stamp);
        clock_.start();
        pausedMillis_ = 0;
        if (paused_) pausedSince_.start();
        return 0;
    }
    if (stamp > lastStamp_) {
        const double gap = stamp - lastStamp_;
        lastStamp_ = stamp;
        if (speed_ > 0 && maxGap_ > 0 && gap > maxGap_) {
            skipped_ += gap - maxGap_;
            if (onGapSkipped) onGapSkipped(gap - maxGap_);
        }
    }
    if (speed_ <= 0) return 0;
    // Packets recorded out of order are due at once.
    const double dueMs =
        std::max(0.0, (stamp - baseStamp_ - (skipped_ - skippedAtBase_)) / speed_ * 1000.0);
    return std::max(0.0, dueMs - ElapsedMillis());
}

void ReplayPacer::SetPaused(bool paused) {
    if (paused == paused_) return;
    paused_ = paused;
    if (paused) {
        pausedSince_.start();
    } else {
        pausedMillis_ += static_cast<double>(pausedSince_.elapsed());
    }
}

}  // namespace lumeno
