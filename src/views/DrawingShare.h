#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace lumeno {

// How the drawing is shared between the capture thread and the drawing thread. The drawing
// thread falls behind on packets that each draw long new lines; the capture thread then takes
// back work in steps, for a while: from one step the waterfall and rainfall, from two also the
// last steps - 1 of the six parallel views. A step changes only when both threads are idle, so
// each view is drawn by one thread at a time and the pictures stay the same.
class DrawingShare {
  public:
    static constexpr int kViews = 6;

    // Read by the capture thread for each record, by the drawing thread for each run of them.
    int Steps() const { return steps_.load(std::memory_order_relaxed); }
    static int ViewsHere(int steps) { return steps > 1 ? steps - 1 : 0; }
    static bool RowsHere(int steps) { return steps > 0; }

    // After both threads are done with a handover of `behind` records: about a fifth of a
    // full batch takes one more step (waiting for fewer costs less than drawing more here);
    // fewer than one handover's worth (everything given had been drawn) gives one back.
    void AfterDrain(std::uint64_t behind, std::uint64_t handover) {
        const int steps = Steps();
        if (behind >= kBehind && steps < kMostViewsHere + 1) {
            steps_.store(steps + 1, std::memory_order_relaxed);
        } else if (behind < handover && steps > 0) {
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
    static constexpr std::uint64_t kBehind = 768;
    std::atomic<int> steps_{0};
};

}  // namespace lumeno
