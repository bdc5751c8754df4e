#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>

#include "packet/Colors.h"

namespace lumeno {

// What the views draw of one record.
struct DrawFields {
    std::string_view sourceIP;
    std::int32_t sourcePort;
    std::string_view dstIP;
    std::int32_t dstPort;
    std::string_view transportType;
    Rgb color;
    std::span<const std::uint8_t> packetTxt;
    std::int16_t packetLen;
};

// The numbers (IPToNumber) of a record's two addresses, worked out once for all its views.
struct AddressNumbers {
    std::optional<std::int32_t> source, dst;
};

// Carries copies of records from the capture thread (the one writer) to the drawing thread
// (the one reader), in order. Each side sleeps only when it has nothing to do.
class RecordRing {
  public:
    // The first bytes of a packet a record carries over, enough for the rainfall's built
    // width of 180 bits and a good deal wider.
    static constexpr std::size_t kRowBytes = 64;
    // Records are handed over this many at a time: every store to head_ takes its cache
    // line from the drawing thread, which is reading it.
    static constexpr std::uint32_t kPublishEvery = 32;

    RecordRing();

    // The slot's number for the record's class when its texts fit a slot (addresses of up
    // to 39 characters, those that do not are no address, and one of the four class texts);
    // -1 when they do not.
    static int SlotType(const DrawFields& f);

    // Writer side.
    // Whether there is no room for another record until the reader takes some.
    bool Full();
    // Copies f (of SlotType type) into the next slot, with its first bytes when rows is set.
    void Push(const DrawFields& f, int type, const AddressNumbers& numbers, bool rows);
    // Makes the records pushed so far visible to the reader, and wakes it.
    void Publish();
    // Hands over everything and waits until the reader has taken it all.
    void Drain();
    // Tells a sleeping reader to return from Wait once the ring is empty.
    void Quit();
    void Restart() { quit_ = false; }

    // Reader side.
    struct Taken {
        DrawFields fields;
        AddressNumbers numbers;
        bool rows;  // the waterfall and rainfall are drawn on the reader's side
    };
    // How many records the reader has drawn, where it starts after a restart.
    std::uint64_t Drawn() const { return tail_.load(std::memory_order_relaxed); }
    // Waits for records after tail; returns the new head, or tail when told to quit.
    std::uint64_t Wait(std::uint64_t tail);
    // The records handed over so far, without waiting.
    std::uint64_t Published() const { return head_.load(std::memory_order_acquire); }
    Taken At(std::uint64_t index) const;
    // Gives back slots up to tail while the reader is still busy.
    void Release(std::uint64_t tail) { tail_.store(tail, std::memory_order_release); }
    // Everything up to tail is drawn: wakes a waiting Drain.
    void Done(std::uint64_t tail);

  private:
    // Three cache lines, the first bytes in the last: a record without them takes two.
    struct alignas(64) Entry {
        std::int32_t sourcePort, dstPort;
        std::int32_t sourceNumber, dstNumber;
        Rgb color;
        std::int16_t packetLen;
        std::uint8_t type;  // in kTypes
        std::uint8_t bytesLength;
        bool rows;
        bool sourceKnown, dstKnown;  // the numbers are addresses' numbers
        std::uint8_t sourceLength, dstLength;
        std::array<char, 39> sourceIP, dstIP;  // the longest IPv6 text the decoder writes
        alignas(64) std::array<std::uint8_t, kRowBytes> bytes;
    };
    static_assert(sizeof(Entry) == 192);
    static constexpr std::uint32_t kSize = 16384;  // a power of two, over a batch of packets

    std::unique_ptr<Entry[]> ring_;
    // Written by the writer: records handed over. Written by the reader: drawn.
    alignas(64) std::atomic<std::uint64_t> head_{0};
    alignas(64) std::atomic<std::uint64_t> tail_{0};
    // The writer's own: records written, and the drawn count as last seen.
    alignas(64) std::uint64_t written_ = 0;
    std::uint64_t seenTail_ = 0;
    std::mutex mutex_;
    std::condition_variable readerWake_, drainWake_;
    std::atomic<bool> readerWaiting_{false};
    std::atomic<bool> drainWaiting_{false};
    std::atomic<bool> quit_{false};
};

}  // namespace lumeno
