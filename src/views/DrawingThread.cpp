#include "views/DrawingThread.h"

#include <time.h>

#include <algorithm>
#include <optional>

#include "views/parallel/ParallelWindows.h"
#include "views/scrolling/ScrollingWindows.h"
#include "views/text/TextWindows.h"

namespace lumeno {

namespace {

std::int64_t Nanoseconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// The calling thread's CPU time: what drawing cost, whatever else ran on its core.
std::int64_t CpuNow() {
    return Nanoseconds(CLOCK_THREAD_CPUTIME_ID);
}

std::int64_t WallNow() {
    return Nanoseconds(CLOCK_MONOTONIC);
}

}  // namespace

DrawingThread::~DrawingThread() {
    SetThreaded(false);
}

void DrawingThread::SetThreaded(bool threaded) {
    if (threaded == Threaded()) return;
    if (threaded) {
        handOver_.Reset();
        stretch_ = false;
        ring_.Restart();
        worker_ = std::thread([this] { Run(); });
        return;
    }
    Sync();
    ring_.Quit();
    worker_.join();
}

bool DrawingThread::RowsThere() {
    const std::uint32_t switches = RowScrollingWindow::SwitchChanges();
    if (!rowsFitKnown_ || switches != switchesSeen_) {
        rowsFit_ = !views_.waterfall->SavesRunningImages() &&
                   !views_.bitData->SavesRunningImages() &&
                   views_.bitData->maxBits() / 8 + 1 <= static_cast<int>(RecordRing::kRowBytes);
        rowsFitKnown_ = true;
        switchesSeen_ = switches;
    }
    return rowsFit_;
}

void DrawingThread::Draw(const Views& v, const Fields& f, const AddressNumbers& numbers, int from,
                         int to, bool scrolling, bool rows, bool onDrawingThread,
                         std::uint64_t later) {
    // The views take their colour as the intake set it, on the thread that draws.
    currentColor = f.color;
    // The parallel views find the record's address numbers here instead of working them out.
    std::optional<KnownAddresses> known;
    if (from < to) known.emplace(f.sourceIP, numbers.source, f.dstIP, numbers.dst);
    for (int i = from; i < to; ++i) {
        switch (i) {
            case 0:
                v.dual->parallelDual(f.sourceIP, f.sourcePort, f.dstIP, f.dstPort);
                break;
            case 1:
                v.dualIPPI->parallelDual(f.sourceIP, f.sourcePort, f.dstIP, f.dstPort);
                break;
            case 2:
                v.port->parallelPort2Port(f.sourcePort, f.dstPort);
                break;
            case 3:
                v.ip->parallelIP2IP(f.sourceIP, f.dstIP);
                break;
            case 4:
                v.ipPort->Graph(f.sourceIP, f.dstPort);
                break;
            default:
                v.custom->parallelIP2IPcustom(f.sourceIP, f.dstIP);
                break;
        }
    }
    // A line painted again within this run is only stepped over: a busy link fills these
    // views many times over between two looks at them.
    auto paintedAgain = [later](ScrollingPlot& plot) {
        const int lines = plot.Lines();
        if (lines <= 0 || later < static_cast<std::uint64_t>(lines)) return false;
        plot.Skip();
        return true;
    };
    if (scrolling) {
        if (!paintedAgain(v.timeSequence->Scroll())) v.timeSequence->Plot(f.transportType);
        if (!paintedAgain(v.runningPort->Scroll())) {
            v.runningPort->Plot(f.sourceIP, f.sourcePort, f.dstIP, f.dstPort);
        }
    }
    // The drawing thread must not start saving running images when the box is ticked
    // meanwhile: that waits for the calling thread.
    if (rows) {
        if (onDrawingThread) {
            if (!paintedAgain(v.waterfall->Scroll())) v.waterfall->PlotDataOnly(f.packetLen);
        } else {
            v.waterfall->PlotData(f.packetLen);
        }
    }
    if (!onDrawingThread && v.body) v.body->PrintBody(f.packetTxt, f.packetLen);
    if (rows) {
        if (onDrawingThread) {
            if (!paintedAgain(v.bitData->Scroll())) v.bitData->GraphOnly(f.packetTxt, f.packetLen);
        } else {
            v.bitData->Graph(f.packetTxt, f.packetLen);
        }
    }
}

void DrawingThread::Plot(const Views& views, const Fields& f) {
    if (views != views_) {
        Sync();  // a window made anew: the old one gets nothing more
        views_ = views;
        rowsFitKnown_ = false;
    }
    // Each address is converted once, for all the views.
    const AddressNumbers numbers{AddressNumber(f.sourceIP), AddressNumber(f.dstIP)};
    if (!Threaded()) {
        Draw(views_, f, numbers, 0, DrawingShare::kViews, true, true, false);
        return;
    }
    if (!stretch_) StartStretch();
    ++stretchRecords_;
    const int type = handOver_.Shared() ? RecordRing::SlotType(f) : -1;
    if (type < 0) {
        // Not shared, or texts no address can be: drawn here, in their turn.
        ring_.Drain();
        Draw(views_, f, numbers, 0, DrawingShare::kViews, true, true, false);
        return;
    }
    const int steps = share_.Steps();
    const bool rowsThere = !DrawingShare::RowsHere(steps) && RowsThere();
    if (rowsThere != rowsThere_) {
        ring_.Drain();
        rowsThere_ = rowsThere;
    }
    while (ring_.Full()) ring_.Drain();
    ring_.Push(f, type, numbers, rowsThere);
    const int here = DrawingShare::ViewsHere(steps);
    Draw(views_, f, numbers, DrawingShare::kViews - here, DrawingShare::kViews, false, !rowsThere,
         false);
}

void DrawingThread::Sync() {
    rowsFitKnown_ = false;  // the windows may change now
    if (!Threaded()) return;
    ring_.Drain();
    if (stretch_) EndStretch();
}

void DrawingThread::StartStretch() {
    stretch_ = true;
    stretchWall_ = WallNow();
    stretchRecords_ = 0;
    stretchHere_ = CpuNow();
    stretchThere_ = drawnCpu_.load(std::memory_order_relaxed);
}

void DrawingThread::EndStretch() {
    stretch_ = false;
    const std::int64_t wall = WallNow();
    const std::int64_t here = CpuNow() - stretchHere_;
    const std::int64_t there = drawnCpu_.load(std::memory_order_relaxed) - stretchThere_;
    // Both threads are idle here, so views and records can change hands.
    if (handOver_.Shared()) {
        share_.AfterStretch(static_cast<double>(here), static_cast<double>(there));
    }
    if (!adaptive_) return;
    handOver_.Add(
        {static_cast<double>(wall - stretchWall_) * 1e-9, static_cast<double>(stretchRecords_)},
        static_cast<double>(wall) * 1e-9);
}

void DrawingThread::SetAdaptive(bool adaptive) {
    Sync();
    adaptive_ = adaptive;
    handOver_.Reset();
}

void DrawingThread::SetTakenBack(bool takenBack) {
    Sync();
    handOver_.Reset();
    if (takenBack) handOver_.TakeBack();
}

void DrawingThread::SetViewsDrawnHere(int views) {
    Sync();
    share_.SetViewsHere(views);
}

void DrawingThread::Run() {
    // The parallel views draw each record at once (up to next); the scrolling views lag
    // behind (up to tail) by a sweep of the widest of them, so that a record whose line a
    // later one paints over is only stepped over. They catch up whenever no record is
    // waiting, which a Drain waits for: nobody looks at the pictures before that, the
    // windows and their share of the views change only after it, and so do the rows.
    std::uint64_t tail = ring_.Drawn(), next = tail;
    std::int64_t start = -1;  // CPU time when drawing began, -1 while idle
    auto scroll = [&](const Views& views, std::uint64_t later) {
        const RecordRing::Taken t = ring_.At(tail);
        Draw(views, t.fields, t.numbers, 0, 0, true, t.rows, true, later);
    };
    for (;;) {
        std::uint64_t head = ring_.Published();
        if (head == next) {
            for (; tail != next; ++tail) scroll(views_, next - 1 - tail);
            // Counted before the records are given back, so that a Drain sees it.
            if (start >= 0) drawnCpu_.fetch_add(CpuNow() - start, std::memory_order_relaxed);
            start = -1;
            ring_.Done(next);
            head = ring_.Wait(next);
            if (head == next) return;  // told to quit
        }
        if (start < 0) start = CpuNow();
        const Views views = views_;
        const int mine = DrawingShare::kViews - DrawingShare::ViewsHere(share_.Steps());
        const std::uint64_t lag = static_cast<std::uint64_t>(
            std::max({views.timeSequence->Scroll().Lines(), views.runningPort->Scroll().Lines(),
                      views.waterfall->Scroll().Lines(), views.bitData->Scroll().Lines(), 0}));
        for (; next != head; ++next) {
            const RecordRing::Taken t = ring_.At(next);
            Draw(views, t.fields, t.numbers, 0, mine, false, false, true);
            if (next - tail >= lag) {
                scroll(views, next - tail);
                ++tail;
            }
            // Hand back in steps, so the other thread's wait for room ends early.
            if ((next & 255) == 255) ring_.Release(tail);
        }
    }
}

}  // namespace lumeno
