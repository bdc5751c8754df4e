#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>

namespace lumeno {

// How the drawing is shared between the capture thread and the drawing thread. The drawing
// thread falls behind on packets that each draw long new lines; the capture thread then takes
// back work in steps, for a while: from one step the waterfall and rainfall, from two also the
// last steps - 1 of the six parallel views. A step changes only when both threads are idle, so
// each view is drawn by one thread at a time and the pictures stay the same.
//
// The steps follow the CPU time each thread spent on the last stretch of records: the one
// that worked clearly longer gives a step to the other. The capture thread reads and decodes
// as well, so on large packets it is the one that gives.
class DrawingShare {
  public:
    static constexpr int kViews = 6;

    // Read by the capture thread for each record, by the drawing thread for each run of them.
    int Steps() const { return steps_.load(std::memory_order_relaxed); }
    static int ViewsHere(int steps) { return steps > 1 ? steps - 1 : 0; }
    static bool RowsHere(int steps) { return steps > 0; }

    // After a stretch of records, both threads idle: here and there are the CPU time the
    // capture thread and the drawing thread spent on it.
    void AfterStretch(double here, double there) {
        const int steps = Steps();
        if (there > here * (1 + kMargin) && steps < kMostViewsHere + 1) {
            steps_.store(steps + 1, std::memory_order_relaxed);
        } else if (here > there * (1 + kMargin) && steps > 0) {
            steps_.store(steps - 1, std::memory_order_relaxed);
        }
    }
    // Only while both threads are idle.
    void SetViewsHere(int views) {
        views = std::clamp(views, 0, kViews);
        steps_.store(views > 0 ? views + 1 : 0, std::memory_order_relaxed);
    }

  private:
    static constexpr int kMostViewsHere = 3;
    // A smaller difference is no reason to move work.
    static constexpr double kMargin = 0.1;
    std::atomic<int> steps_{0};
};

// Whether handing records to the drawing thread pays at all. It does not while the drawing
// thread waits for a core (another program keeps one busy) or the capture thread waits on it
// longer than drawing the records itself would take; then everything is drawn on the capture
// thread for a while, and handed over again now and then to see whether a core is free again,
// at ever longer intervals while it is not.
//
// It judges by wall time per record: the capture thread's time from its first record to the
// end of its wait for the drawing thread, over the records meanwhile, shared against drawn
// alone just before. Sharing both divides the work and saves some (the drawing thread steps
// over scrolling lines that are painted again before anyone looks), so the time per record
// tells what the CPU time alone would not.
class HandOver {
  public:
    struct Cost {
        double wall = 0;     // seconds
        double records = 0;  // records drawn meanwhile
    };
    // Stretches of work are judged together until they add up to this much wall time: the
    // scheduler shares a core among threads in slices of a few milliseconds.
    static constexpr double kJudgeAfter = 0.02;
    // Sharing must save at least this fraction of the time to go on.
    static constexpr double kLeastGain = 0.1;
    static constexpr double kFirstRetry = 0.2, kLastRetry = 3.2;

    bool Shared() const { return shared_; }
    // Seconds until the next attempt at sharing, once the work has been taken back.
    double Retry() const { return retry_; }

    // Adds a stretch of work (both threads idle at its end); now is a steady clock's
    // seconds. Returns whether Shared() changed.
    bool Add(Cost cost, double now) {
        judged_.wall += cost.wall;
        judged_.records += cost.records;
        if (judged_.wall < kJudgeAfter) return false;
        const double ratio = judged_.wall / std::max(judged_.records, 1e-9);
        judged_ = {};
        if (!shared_) {
            alone_ = ratio;
            if (now < retryAt_) return false;
            shared_ = probing_ = true;
            return true;
        }
        if (ratio > alone_ * (1 - kLeastGain)) {
            shared_ = probing_ = false;
            retryAt_ = now + retry_;
            retry_ = std::min(retry_ * 2, kLastRetry);
            return true;
        }
        if (probing_) retry_ = kFirstRetry;  // a core is free again
        probing_ = false;
        return false;
    }
    // Sharing from now on, judged afresh.
    void Reset() { *this = HandOver(); }
    // Nothing shared until Reset.
    void TakeBack() {
        shared_ = probing_ = false;
        retryAt_ = std::numeric_limits<double>::infinity();
    }

  private:
    bool shared_ = true;
    bool probing_ = false;
    // The wall time per record drawing everything on one thread, as last seen.
    double alone_ = 1;
    Cost judged_;
    double retry_ = kFirstRetry;
    double retryAt_ = 0;
};

}  // namespace lumeno
