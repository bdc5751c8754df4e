#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "views/DrawingShare.h"
#include "views/RecordRing.h"

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
class visTxtBody;

// Hands each record to the graphical views and the body view in their fixed order, the
// graphical ones on a second core when threaded: the six parallel views cost the most per
// packet, and the time sequence, running port plot, waterfall and rainfall need only the
// record's fields. Records reach the drawing thread in order, so the pictures are the same
// as when drawn on one thread. Whoever looks at or changes these windows calls Sync first.
class DrawingThread {
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
        // Drawn by the calling thread only, in its turn between the waterfall and rainfall.
        visTxtBody* body = nullptr;
        bool operator==(const Views&) const = default;
    };
    using Fields = DrawFields;

    DrawingThread() = default;
    ~DrawingThread();
    DrawingThread(const DrawingThread&) = delete;
    DrawingThread& operator=(const DrawingThread&) = delete;

    // Starts or ends the drawing thread (after drawing everything handed over).
    void SetThreaded(bool threaded);
    bool Threaded() const { return worker_.joinable(); }
    // Whether the drawing thread gives its work back while it does not gain (the default),
    // or keeps it whatever it costs.
    void SetAdaptive(bool adaptive);
    bool Adaptive() const { return adaptive_; }
    // Whether records go to the drawing thread now: threaded, and not taken back.
    bool Sharing() const { return Threaded() && handOver_.Shared(); }
    // Takes all the work back until told otherwise (or hands it over again, judged afresh);
    // syncs first.
    void SetTakenBack(bool takenBack);

    void Plot(const Views& views, const Fields& fields);
    // Returns once every record handed over is drawn.
    void Sync();
    // How many of the six parallel views (the last ones) the calling thread draws itself;
    // Sync changes it as the drawing thread falls behind or keeps up. Setting it syncs first.
    int ViewsDrawnHere() const { return DrawingShare::ViewsHere(share_.Steps()); }
    void SetViewsDrawnHere(int views);

  private:
    // Draws the parallel views from..to-1 of the six, in their fixed order, then with
    // scrolling the time sequence and running port plot, and with rows the waterfall and
    // rainfall; on the calling thread also the body view, between those two. later: records
    // the drawing thread draws after this one before anyone can look; a scrolling view
    // whose line for this record one of them paints over only moves on.
    static void Draw(const Views& views, const Fields& f, const AddressNumbers& numbers, int from,
                     int to, bool scrolling, bool rows, bool onDrawingThread,
                     std::uint64_t later = 0);
    // Whether the waterfall and rainfall can be drawn on the drawing thread: only the calling
    // thread saves running images, and the rainfall's row must fit the bytes a record carries.
    bool RowsThere();
    void Run();
    // What the records since the first after the last Sync cost, which decides whether the
    // next ones are shared.
    void StartStretch();
    void EndStretch();

    Views views_;  // changed only after a Sync, when the drawing thread is idle
    RecordRing ring_;
    DrawingShare share_;
    // Where the last record's waterfall and rainfall went: a change waits for the drawing
    // thread, so that their rows stay in order.
    bool rowsThere_ = false;
    // RowsThere as last worked out: again after a Sync (the rainfall's width changes only
    // with the window's layout, which waits for one) and after a running-images box changed.
    // Looking at the windows for every record would take their cache lines from the drawing
    // thread, which writes beside them.
    bool rowsFit_ = false;
    bool rowsFitKnown_ = false;
    std::uint32_t switchesSeen_ = 0;  // SwitchChanges when rowsFit_ was worked out
    bool adaptive_ = true;
    HandOver handOver_;
    bool stretch_ = false;  // records came since the last Sync
    std::int64_t stretchWall_ = 0, stretchHere_ = 0, stretchThere_ = 0;  // ns at its start
    std::uint64_t stretchRecords_ = 0;
    // CPU time the drawing thread spent drawing, ns.
    std::atomic<std::int64_t> drawnCpu_{0};
    std::thread worker_;
};

}  // namespace lumeno
