#include "views/parallel/ParallelFan.h"

#include <algorithm>

#include "views/parallel/ParallelWindows.h"
#include "views/scrolling/ScrollingWindows.h"

namespace lumeno {
namespace {

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

ParallelFan::ParallelFan() : ring_(std::make_unique<Entry[]>(kRing)) {}

ParallelFan::~ParallelFan() {
    SetThreaded(false);
}

void ParallelFan::SetThreaded(bool threaded) {
    if (threaded == Threaded()) return;
    if (threaded) {
        quit_ = false;
        worker_ = std::thread([this] { Run(); });
        return;
    }
    Sync();
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    workerWake_.notify_one();
    worker_.join();
}

bool ParallelFan::RowsThere(const Views& v) {
    return !v.waterfall->SavesRunningImages() && !v.bitData->SavesRunningImages() &&
           v.bitData->maxBits() / 8 + 1 <= static_cast<int>(kRowBytes);
}

void ParallelFan::Draw(const Views& v, const Fields& f, int from, int to, bool scrolling, bool rows,
                       bool onDrawingThread) {
    // The views take their colour as the intake set it, on the thread that draws.
    currentColor = f.color;
    if (scrolling) {
        v.timeSequence->Plot(f.transportType);
        v.runningPort->Plot(f.sourceIP, f.sourcePort, f.dstIP, f.dstPort);
    }
    if (rows) {
        // Only this thread saves running images: the drawing thread gets these two only
        // while none are saved, and must not start to when the box is ticked meanwhile.
        if (onDrawingThread) {
            v.waterfall->PlotDataOnly(f.packetLen);
            v.bitData->GraphOnly(f.packetTxt, f.packetLen);
        } else {
            v.waterfall->PlotData(f.packetLen);
            v.bitData->Graph(f.packetTxt, f.packetLen);
        }
    }
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
}

void ParallelFan::Plot(const Views& views, const Fields& f) {
    if (views != views_) {
        Sync();  // a window made anew: the old one gets nothing more
        views_ = views;
    }
    const std::size_t room = std::tuple_size_v<decltype(Entry::sourceIP)>;
    if (!Threaded() || f.sourceIP.size() > room || f.dstIP.size() > room ||
        f.transportType.size() > std::tuple_size_v<decltype(Entry::transportType)>) {
        // Texts no address can be are drawn here, in their turn.
        Sync();
        Draw(views_, f, 0, kViews, true, true, false);
        return;
    }
    const int steps = onCaller_.load(std::memory_order_relaxed);
    const bool rowsThere = steps == 0 && RowsThere(views_);
    if (rowsThere != rowsThere_) {
        Sync();
        rowsThere_ = rowsThere;
    }
    const std::uint64_t head = written_;
    if (head - seenTail_ >= kRing) {
        seenTail_ = tail_.load(std::memory_order_acquire);
        while (head - seenTail_ >= kRing) {
            Sync();
            seenTail_ = tail_.load(std::memory_order_acquire);
        }
    }
    Entry& e = ring_[head & (kRing - 1)];
    std::copy(f.sourceIP.begin(), f.sourceIP.end(), e.sourceIP.begin());
    std::copy(f.dstIP.begin(), f.dstIP.end(), e.dstIP.begin());
    std::copy(f.transportType.begin(), f.transportType.end(), e.transportType.begin());
    e.sourceLength = static_cast<std::uint8_t>(f.sourceIP.size());
    e.dstLength = static_cast<std::uint8_t>(f.dstIP.size());
    e.typeLength = static_cast<std::uint8_t>(f.transportType.size());
    e.sourcePort = f.sourcePort;
    e.dstPort = f.dstPort;
    e.color = f.color;
    e.packetLen = f.packetLen;
    e.rows = rowsThere;
    if (rowsThere) {
        // The rainfall reads no further than its width, which these bytes cover.
        const std::size_t n = std::min(f.packetTxt.size(), kRowBytes);
        std::copy_n(f.packetTxt.begin(), n, e.bytes.begin());
        e.bytesLength = static_cast<std::uint8_t>(n);
    }
    written_ = head + 1;
    const int onCaller = ViewsHere(steps);
    if (onCaller > 0 || !rowsThere) {
        Draw(views_, f, kViews - onCaller, kViews, false, !rowsThere, false);
    }
    // Waking a sleeping thread costs a system call too: a handful of records at a time,
    // and at the latest in Sync.
    if ((written_ & (kPublishEvery - 1)) == 0) Publish();
}

void ParallelFan::Publish() {
    head_.store(written_, std::memory_order_release);
    // Orders the store above before the look at workerWaiting_ (the drawing thread does the
    // opposite before it sleeps), so one of the two always sees the other.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (workerWaiting_.load(std::memory_order_relaxed)) {
        std::lock_guard lock(mutex_);
        workerWake_.notify_one();
    }
}

void ParallelFan::Sync() {
    if (!Threaded()) return;
    const std::uint64_t head = written_;
    const std::uint64_t behind = head - tail_.load(std::memory_order_acquire);
    const int onCaller = onCaller_.load(std::memory_order_relaxed);
    if (behind == 0) return;
    Publish();
    std::unique_lock lock(mutex_);
    syncWaiting_.store(true, std::memory_order_seq_cst);
    syncWake_.wait(lock, [&] { return tail_.load(std::memory_order_seq_cst) == head; });
    syncWaiting_.store(false, std::memory_order_relaxed);
    // Both threads are done: a view can change hands.
    if (behind >= kBehind && onCaller < kMostOnCaller + 1) {
        onCaller_.store(onCaller + 1, std::memory_order_relaxed);
    } else if (behind < kPublishEvery && onCaller > 0) {
        onCaller_.store(onCaller - 1, std::memory_order_relaxed);
    }
}

void ParallelFan::SetViewsDrawnHere(int views) {
    Sync();
    views = std::clamp(views, 0, kViews);
    onCaller_.store(views > 0 ? views + 1 : 0, std::memory_order_relaxed);
}

void ParallelFan::Run() {
    std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    for (;;) {
        std::uint64_t head = head_.load(std::memory_order_acquire);
        // Records come in bursts: look again for a little while before going to sleep.
        for (int spin = 0; head == tail && spin < 4000; ++spin) {
            Pause();
            head = head_.load(std::memory_order_acquire);
        }
        if (head == tail) {
            std::unique_lock lock(mutex_);
            workerWaiting_.store(true, std::memory_order_seq_cst);
            workerWake_.wait(lock, [&] {
                return quit_.load(std::memory_order_relaxed) ||
                       head_.load(std::memory_order_seq_cst) != tail;
            });
            workerWaiting_.store(false, std::memory_order_relaxed);
            if (head_.load(std::memory_order_acquire) == tail) return;  // told to quit
            continue;
        }
        // Both only changed after a Sync, when this thread is idle.
        const Views views = views_;
        const int mine = kViews - ViewsHere(onCaller_.load(std::memory_order_relaxed));
        for (; tail != head; ++tail) {
            const Entry& e = ring_[tail & (kRing - 1)];
            const Fields f{{e.sourceIP.data(), e.sourceLength},
                           e.sourcePort,
                           {e.dstIP.data(), e.dstLength},
                           e.dstPort,
                           {e.transportType.data(), e.typeLength},
                           e.color,
                           {e.bytes.data(), e.rows ? e.bytesLength : std::size_t{0}},
                           e.packetLen};
            Draw(views, f, 0, mine, true, e.rows, true);
            // Hand back in steps, so the other thread's wait for room ends early.
            if ((tail & 255) == 255) tail_.store(tail + 1, std::memory_order_release);
        }
        tail_.store(tail, std::memory_order_seq_cst);
        if (syncWaiting_.load(std::memory_order_seq_cst)) {
            std::lock_guard lock(mutex_);
            syncWake_.notify_one();
        }
    }
}

}  // namespace lumeno
