#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumeno {

// Counts packets per address to name the busiest hosts of a capture, so that a user who
// sees nothing drawn is told what to monitor. It keeps a small fixed table and allocates
// nothing while counting: each address falls into one set of a few slots; when the set is
// full, the least counted slot gives way and the newcomer takes over its count (which then
// overstates the newcomer by at most that much). While a set holds every address that
// reaches it, its counts are exact; an address that carries more than a share of its set's
// traffic always keeps its slot.
class HostTally {
  public:
    // Long enough for any IPv4 or IPv6 address text; longer texts are counted by their
    // first kMaxText characters.
    static constexpr std::size_t kMaxText = 48;
    static constexpr std::size_t kWays = 8;
    static constexpr std::size_t kSets = 64;

    struct Host {
        std::string address;
        std::uint64_t packets = 0;  // at least this many
        bool exact = true;          // false when a part of the count may be another host's
    };

    HostTally() { Clear(); }

    void Clear();
    // One packet to or from address; an empty address is not counted.
    void Count(std::string_view address);
    void Count(std::string_view address, std::uint64_t packets);
    // Adds another tally's counts (the hosts of several runs).
    void Add(const HostTally& other);

    // Addresses counted since the last Clear (each packet counts its two ends).
    std::uint64_t Total() const { return total_; }
    // The n addresses with the most packets, most first; ties in order of the address text.
    std::vector<Host> Busiest(std::size_t n) const;

  private:
    using Words = std::array<std::uint64_t, kMaxText / 8>;
    struct Key {
        Words words;  // the text, zero after its end in its last word; later words unused
        std::size_t length;
        std::uint64_t hash;
    };
    // The text into key.words, and its length; the hash is left to Hash.
    static void Load(std::string_view address, Key& key);
    // The text back from its words.
    static std::string Text(const Words& words, std::size_t length);
    static void Hash(Key& key);
    static bool SameText(const Words& a, const Words& b, std::size_t length);
    // Adds packets (of which error may be another host's) to the key's slot; gives the
    // slot's count.
    std::uint64_t* Put(const Key& key, std::uint64_t packets, std::uint64_t error);

    // Per set: the hashes side by side (0: a free slot), so that one cache line answers
    // most look-ups, then the counts and the addresses.
    struct Set {
        std::array<std::uint64_t, kWays> hash;
        std::array<std::uint64_t, kWays> count;
        std::array<std::uint64_t, kWays> error;  // the part of count inherited from a loser
        std::array<std::uint8_t, kWays> length;
        std::array<std::array<std::uint64_t, kMaxText / 8>, kWays> text;
    };
    std::array<Set, kSets> sets_;
    std::uint64_t total_ = 0;

    // The two addresses counted last, which a packet's two ends and the next packets of a
    // flow mostly repeat: a match costs a comparison instead of a look-up.
    struct Recent {
        Words words;
        std::size_t length = 0;  // 0: none
        std::uint64_t* count = nullptr;
    };
    std::array<Recent, 2> recent_;
    std::size_t recentNext_ = 0;  // the one used longer ago, replaced next
};

}  // namespace lumeno
