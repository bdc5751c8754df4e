#include "capture/HostTally.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace lumeno {

void HostTally::MakeKey(std::string_view address, Key& key) {
    key.length = std::min(address.size(), kMaxText);
    key.words.fill(0);
    std::memcpy(key.words.data(), address.data(), key.length);
    // Only the words that hold characters are mixed: an IPv4 text takes two.
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ key.length;
    for (std::size_t i = 0; i * 8 < key.length; ++i) {
        h = (h ^ key.words[i]) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    key.hash = h | 1;  // 0 marks a free slot
}

void HostTally::Clear() {
    for (Set& set : sets_) {
        set.hash.fill(0);
        set.count.fill(0);
        set.error.fill(0);
    }
    total_ = 0;
}

void HostTally::Count(std::string_view address, std::uint64_t packets) {
    if (address.empty() || packets == 0) return;
    Key key;
    MakeKey(address, key);
    total_ += packets;
    Put(key, packets, 0);
}

void HostTally::Put(const Key& key, std::uint64_t packets, std::uint64_t error) {
    Set& set = sets_[(key.hash >> 40) % kSets];
    std::size_t least = 0;
    std::size_t slot = kWays;
    for (std::size_t i = 0; i < kWays; ++i) {
        if (set.hash[i] == key.hash && set.length[i] == key.length && set.text[i] == key.words) {
            set.count[i] += packets;
            set.error[i] += error;
            return;
        }
        // Slots fill in order and stay taken until Clear: nothing lies past a free one.
        if (set.hash[i] == 0) {
            slot = i;
            break;
        }
        if (set.count[i] < set.count[least]) least = i;
    }
    std::uint64_t inherited = 0;
    if (slot == kWays) {
        slot = least;
        inherited = set.count[least];
    }
    set.hash[slot] = key.hash;
    set.length[slot] = static_cast<std::uint8_t>(key.length);
    set.text[slot] = key.words;
    set.count[slot] = inherited + packets;
    set.error[slot] = inherited + error;
}

void HostTally::Add(const HostTally& other) {
    for (const Set& set : other.sets_) {
        for (std::size_t i = 0; i < kWays && set.hash[i] != 0; ++i) {
            const Key key{set.text[i], set.hash[i], set.length[i]};
            Put(key, set.count[i], set.error[i]);
        }
    }
    total_ += other.total_;
}

std::vector<HostTally::Host> HostTally::Busiest(std::size_t n) const {
    std::vector<Host> hosts;
    for (const Set& set : sets_) {
        for (std::size_t i = 0; i < kWays && set.hash[i] != 0; ++i) {
            Host host;
            host.address.resize(set.length[i]);
            std::memcpy(host.address.data(), set.text[i].data(), set.length[i]);
            host.packets = set.count[i] - set.error[i];
            host.exact = set.error[i] == 0;
            hosts.push_back(std::move(host));
        }
    }
    std::sort(hosts.begin(), hosts.end(), [](const Host& a, const Host& b) {
        return a.packets != b.packets ? a.packets > b.packets : a.address < b.address;
    });
    if (hosts.size() > n) hosts.resize(n);
    return hosts;
}

}  // namespace lumeno
