#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <thread>

#include "packet/Colors.h"

namespace lumeno {

class visParallel;
class visParallelIP;
class visParallelIPPort;
class visParallelIPcustom;
class visParallelDual;
class visParallelDual_IPPI;
class visTimeSequence;
class visRunningPort;
class visWaterfallData;
class visBitData;

// The six parallel views, fed the fields of each record in a fixed order. They cost the
// most per packet, so with a drawing thread they draw on a second core while this thread
// goes on with the other views; records reach them in order, so the pictures are the
// same as when drawn here. Whoever looks at or changes the six windows calls Sync first.
// When the drawing thread falls behind (packets that each draw long new lines), this
// thread takes back the waterfall and rainfall (below), then some of the six, for a
// while; each view is drawn by one thread at a time and changes hands only when both are
// done, so the pictures stay the same.
// The drawing thread also draws the time sequence and the running port plot, which need
// only the record's fields (and do nothing but draw), and the length waterfall and bit rainfall
// while neither saves running images (which only this thread may do) and the rainfall's row needs
// no more than the bytes a record carries over: that thread has time to spare when packets are
// alike.
class ParallelFan {
  public:
    struct Views {
        visParallelDual* dual = nullptr;
        visParallelDual_IPPI* dualIPPI = nullptr;
        visParallel* port = nullptr;
        visParallelIP* ip = nullptr;
        visParallelIPPort* ipPort = nullptr;
        visParallelIPcustom* custom = nullptr;
        visTimeSequence* timeSequence = nullptr;
        visRunningPort* runningPort = nullptr;
        visWaterfallData* waterfall = nullptr;
        visBitData* bitData = nullptr;
        bool operator==(const Views&) const = default;
    };

    ParallelFan();
    ~ParallelFan();
    ParallelFan(const ParallelFan&) = delete;
    ParallelFan& operator=(const ParallelFan&) = delete;

    // Starts or ends the drawing thread (after drawing everything handed over).
    void SetThreaded(bool threaded);
    bool Threaded() const { return worker_.joinable(); }

    // A record's fields for the views, drawn in color.
    struct Fields {
        std::string_view sourceIP;
        std::int32_t sourcePort;
        std::string_view dstIP;
        std::int32_t dstPort;
        std::string_view transportType;
        Rgb color;
        std::span<const std::uint8_t> packetTxt;
        std::int16_t packetLen;
    };
    void Plot(const Views& views, const Fields& fields);
    // Returns once every record handed over is drawn.
    void Sync();
    // How many of the six (the last ones) this thread draws itself; Sync changes it as
    // the drawing thread falls behind or keeps up. Setting it syncs first.
    int ViewsDrawnHere() const { return ViewsHere(onCaller_.load(std::memory_order_relaxed)); }
    void SetViewsDrawnHere(int views);

  private:
    // The first bytes of a packet a record carries over, enough for the rainfall's built
    // width of 180 bits and a good deal wider.
    static constexpr std::size_t kRowBytes = 64;
    struct Entry {
        std::array<char, 39> sourceIP, dstIP;  // the longest IPv6 text the decoder writes
        std::array<char, 15> transportType;
        std::uint8_t sourceLength, dstLength, typeLength;
        std::int32_t sourcePort, dstPort;
        Rgb color;
        std::int16_t packetLen;
        std::uint8_t bytesLength;
        bool rows;  // the waterfall and rainfall are drawn there
        std::array<std::uint8_t, kRowBytes> bytes;
    };
    static constexpr std::uint32_t kRing = 8192;  // a power of two, over a batch of packets
    // Records are handed over this many at a time: every store to head_ takes its cache
    // line from the drawing thread, which is reading it.
    static constexpr std::uint32_t kPublishEvery = 32;

    static constexpr int kViews = 6;
    static constexpr int kMostOnCaller = 3;
    // Records behind at a Sync that hand one more step of work to this thread (about a
    // fifth of a full batch: waiting for fewer costs less than drawing more here); fewer
    // than one handover's worth (the drawing thread had drawn all it was given) hand one
    // back.
    static constexpr std::uint64_t kBehind = 768;

    // Draws the parallel views from..to-1 of the six, in their fixed order, with scrolling
    // the time sequence and running port plot, and with rows the waterfall and rainfall.
    static void Draw(const Views& views, const Fields& f, int from, int to, bool scrolling,
                     bool rows, bool onDrawingThread);
    // Whether the waterfall and rainfall can be drawn on the drawing thread.
    static bool RowsThere(const Views& views);
    void Run();
    // Makes the records written so far visible to the drawing thread, and wakes it.
    void Publish();

    Views views_;
    std::unique_ptr<Entry[]> ring_;
    // Written by this thread: records handed over. Written by the drawing thread: drawn.
    alignas(64) std::atomic<std::uint64_t> head_{0};
    alignas(64) std::atomic<std::uint64_t> tail_{0};
    // This thread's own: records written, and the drawn count as last seen.
    alignas(64) std::uint64_t written_ = 0;
    std::uint64_t seenTail_ = 0;
    // Where the last record's waterfall and rainfall went: a change waits for the drawing
    // thread, so that their rows stay in order.
    bool rowsThere_ = false;
    // How much of the work this thread takes back: from 1 the waterfall and rainfall, from 2
    // also the last steps - 1 of the six. Changed only when the drawing thread has drawn
    // everything; it reads it after taking new records.
    std::atomic<int> onCaller_{0};
    static int ViewsHere(int steps) { return steps > 1 ? steps - 1 : 0; }
    // Sleeping and waking, only when one side has nothing to do.
    std::mutex mutex_;
    std::condition_variable workerWake_, syncWake_;
    std::atomic<bool> workerWaiting_{false};
    std::atomic<bool> syncWaiting_{false};
    std::atomic<bool> quit_{false};
    std::thread worker_;
};

}  // namespace lumeno
