#include "views/DrawingThread.h"

#include "views/parallel/ParallelWindows.h"
#include "views/scrolling/ScrollingWindows.h"
#include "views/text/TextWindows.h"

namespace lumeno {

DrawingThread::~DrawingThread() {
    SetThreaded(false);
}

void DrawingThread::SetThreaded(bool threaded) {
    if (threaded == Threaded()) return;
    if (threaded) {
        ring_.Restart();
        worker_ = std::thread([this] { Run(); });
        return;
    }
    Sync();
    ring_.Quit();
    worker_.join();
}

bool DrawingThread::RowsThere(const Views& v) {
    return !v.waterfall->SavesRunningImages() && !v.bitData->SavesRunningImages() &&
           v.bitData->maxBits() / 8 + 1 <= static_cast<int>(RecordRing::kRowBytes);
}

void DrawingThread::Draw(const Views& v, const Fields& f, int from, int to, bool scrolling,
                         bool rows, bool onDrawingThread) {
    // The views take their colour as the intake set it, on the thread that draws.
    currentColor = f.color;
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
    if (scrolling) {
        v.timeSequence->Plot(f.transportType);
        v.runningPort->Plot(f.sourceIP, f.sourcePort, f.dstIP, f.dstPort);
    }
    // The drawing thread must not start saving running images when the box is ticked
    // meanwhile: that waits for the calling thread.
    if (rows) {
        if (onDrawingThread) {
            v.waterfall->PlotDataOnly(f.packetLen);
        } else {
            v.waterfall->PlotData(f.packetLen);
        }
    }
    if (!onDrawingThread && v.body) v.body->PrintBody(f.packetTxt, f.packetLen);
    if (rows) {
        if (onDrawingThread) {
            v.bitData->GraphOnly(f.packetTxt, f.packetLen);
        } else {
            v.bitData->Graph(f.packetTxt, f.packetLen);
        }
    }
}

void DrawingThread::Plot(const Views& views, const Fields& f) {
    if (views != views_) {
        Sync();  // a window made anew: the old one gets nothing more
        views_ = views;
    }
    if (!Threaded() || !RecordRing::Fits(f)) {
        // Texts no address can be are drawn here, in their turn.
        Sync();
        Draw(views_, f, 0, DrawingShare::kViews, true, true, false);
        return;
    }
    const int steps = share_.Steps();
    const bool rowsThere = !DrawingShare::RowsHere(steps) && RowsThere(views_);
    if (rowsThere != rowsThere_) {
        Sync();
        rowsThere_ = rowsThere;
    }
    while (ring_.Full()) Sync();
    ring_.Push(f, rowsThere);
    const int here = DrawingShare::ViewsHere(steps);
    Draw(views_, f, DrawingShare::kViews - here, DrawingShare::kViews, false, !rowsThere, false);
}

void DrawingThread::Sync() {
    if (!Threaded()) return;
    const std::uint64_t behind = ring_.Drain();
    // Both threads are done: a view can change hands.
    if (behind > 0) share_.AfterDrain(behind, RecordRing::kPublishEvery);
}

void DrawingThread::SetViewsDrawnHere(int views) {
    Sync();
    share_.SetViewsHere(views);
}

void DrawingThread::Run() {
    std::uint64_t tail = ring_.Drawn();
    for (;;) {
        const std::uint64_t head = ring_.Wait(tail);
        if (head == tail) return;  // told to quit
        const Views views = views_;
        const int mine = DrawingShare::kViews - DrawingShare::ViewsHere(share_.Steps());
        for (; tail != head; ++tail) {
            const RecordRing::Taken t = ring_.At(tail);
            Draw(views, t.fields, 0, mine, true, t.rows, true);
            // Hand back in steps, so the other thread's wait for room ends early.
            if ((tail & 255) == 255) ring_.Release(tail + 1);
        }
        ring_.Done(tail);
    }
}

}  // namespace lumeno
