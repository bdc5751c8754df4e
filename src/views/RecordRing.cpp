#include "views/RecordRing.h"

#include <algorithm>

#include "packet/PacketRecord.h"

namespace lumeno {
namespace {

// The class texts a slot names by number.
constexpr std::array<std::string_view, 4> kTypes = {kIncomingTCP, kOutgoingTCP, kIncomingUDP,
                                                    kOutgoingUDP};

int TypeNumber(std::string_view type) {
    for (std::size_t i = 0; i < kTypes.size(); ++i) {
        if (type.data() == kTypes[i].data() || type == kTypes[i]) return static_cast<int>(i);
    }
    return -1;
}

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

RecordRing::RecordRing() : ring_(std::make_unique<Entry[]>(kSize)) {}

int RecordRing::SlotType(const DrawFields& f) {
    const std::size_t room = std::tuple_size_v<decltype(Entry::sourceIP)>;
    return f.sourceIP.size() <= room && f.dstIP.size() <= room ? TypeNumber(f.transportType) : -1;
}

bool RecordRing::Full() {
    if (written_ - seenTail_ < kSize) return false;
    seenTail_ = tail_.load(std::memory_order_acquire);
    return written_ - seenTail_ >= kSize;
}

void RecordRing::Push(const DrawFields& f, int type, const AddressNumbers& numbers, bool rows) {
    Entry& e = ring_[written_ & (kSize - 1)];
    std::copy(f.sourceIP.begin(), f.sourceIP.end(), e.sourceIP.begin());
    std::copy(f.dstIP.begin(), f.dstIP.end(), e.dstIP.begin());
    e.sourceLength = static_cast<std::uint8_t>(f.sourceIP.size());
    e.dstLength = static_cast<std::uint8_t>(f.dstIP.size());
    e.type = static_cast<std::uint8_t>(type);
    e.sourcePort = f.sourcePort;
    e.dstPort = f.dstPort;
    e.sourceKnown = numbers.source.has_value();
    e.dstKnown = numbers.dst.has_value();
    e.sourceNumber = numbers.source.value_or(0);
    e.dstNumber = numbers.dst.value_or(0);
    e.color = f.color;
    e.packetLen = f.packetLen;
    e.rows = rows;
    if (rows) {
        // The rainfall reads no further than its width, which these bytes cover.
        const std::size_t n = std::min(f.packetTxt.size(), kRowBytes);
        std::copy_n(f.packetTxt.begin(), n, e.bytes.begin());
        e.bytesLength = static_cast<std::uint8_t>(n);
    }
    ++written_;
    // Waking a sleeping thread costs a system call too: a handful of records at a time,
    // and at the latest in Drain.
    if ((written_ & (kPublishEvery - 1)) == 0) Publish();
}

void RecordRing::Publish() {
    head_.store(written_, std::memory_order_release);
    // Orders the store above before the look at readerWaiting_ (the reader does the
    // opposite before it sleeps), so one of the two always sees the other.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (readerWaiting_.load(std::memory_order_relaxed)) {
        std::lock_guard lock(mutex_);
        readerWake_.notify_one();
    }
}

void RecordRing::Drain() {
    const std::uint64_t head = written_;
    if (head == tail_.load(std::memory_order_acquire)) return;
    Publish();
    std::unique_lock lock(mutex_);
    drainWaiting_.store(true, std::memory_order_seq_cst);
    drainWake_.wait(lock, [&] { return tail_.load(std::memory_order_seq_cst) == head; });
    drainWaiting_.store(false, std::memory_order_relaxed);
}

void RecordRing::Quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    readerWake_.notify_one();
}

std::uint64_t RecordRing::Wait(std::uint64_t tail) {
    for (;;) {
        std::uint64_t head = head_.load(std::memory_order_acquire);
        // Records come in bursts: look again for a little while before going to sleep.
        for (int spin = 0; head == tail && spin < 4000; ++spin) {
            Pause();
            head = head_.load(std::memory_order_acquire);
        }
        if (head != tail) return head;
        std::unique_lock lock(mutex_);
        readerWaiting_.store(true, std::memory_order_seq_cst);
        readerWake_.wait(lock, [&] {
            return quit_.load(std::memory_order_relaxed) ||
                   head_.load(std::memory_order_seq_cst) != tail;
        });
        readerWaiting_.store(false, std::memory_order_relaxed);
        if (head_.load(std::memory_order_acquire) == tail) return tail;  // told to quit
    }
}

RecordRing::Taken RecordRing::At(std::uint64_t index) const {
    const Entry& e = ring_[index & (kSize - 1)];
    auto number = [](bool known, std::int32_t n) {
        return known ? std::optional<std::int32_t>(n) : std::nullopt;
    };
    return {{{e.sourceIP.data(), e.sourceLength},
             e.sourcePort,
             {e.dstIP.data(), e.dstLength},
             e.dstPort,
             kTypes[e.type],
             e.color,
             {e.bytes.data(), e.rows ? e.bytesLength : std::size_t{0}},
             e.packetLen},
            {number(e.sourceKnown, e.sourceNumber), number(e.dstKnown, e.dstNumber)},
            e.rows};
}

void RecordRing::Done(std::uint64_t tail) {
    tail_.store(tail, std::memory_order_seq_cst);
    if (drainWaiting_.load(std::memory_order_seq_cst)) {
        std::lock_guard lock(mutex_);
        drainWake_.notify_one();
    }
}

}  // namespace lumeno
