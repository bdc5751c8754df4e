#include "capture/HostTally.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace lumeno {

void HostTally::Load(std::string_view address, Key& key) {
    // Whole words from the start, then the last eight characters, which may overlap the
    // words before; a text shorter than a word as its first and its last four. Given the
    // length, that holds every character, and no loop over single characters is needed.
    const std::size_t n = std::min(address.size(), kMaxText);
    const char* p = address.data();
    key.length = n;
    if (n >= 8) {
        const std::size_t whole = n / 8;
        for (std::size_t i = 0; i < whole; ++i) std::memcpy(&key.words[i], p + 8 * i, 8);
        if (n % 8 != 0) std::memcpy(&key.words[whole], p + n - 8, 8);
        return;
    }
    char word[8] = {};
    if (n >= 4) {
        std::memcpy(word, p, 4);
        std::memcpy(word + 4, p + n - 4, 4);
    } else {
        for (std::size_t i = 0; i < n; ++i) word[i] = p[i];
    }
    std::memcpy(&key.words[0], word, 8);
}

std::string HostTally::Text(const Words& words, std::size_t n) {
    std::string text(n, '\0');
    char word[8];
    if (n >= 8) {
        const std::size_t whole = n / 8;
        for (std::size_t i = 0; i < whole; ++i) std::memcpy(&text[8 * i], &words[i], 8);
        if (n % 8 != 0) std::memcpy(&text[n - 8], &words[whole], 8);
        return text;
    }
    std::memcpy(word, &words[0], 8);
    if (n >= 4) {
        std::memcpy(&text[0], word, 4);
        std::memcpy(&text[n - 4], word + 4, 4);
    } else {
        std::memcpy(text.data(), word, n);
    }
    return text;
}

void HostTally::Hash(Key& key) {
    // Only the words that hold characters are mixed: an IPv4 text takes two.
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ key.length;
    for (std::size_t i = 0; i * 8 < key.length; ++i) {
        h = (h ^ key.words[i]) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    key.hash = h | 1;  // 0 marks a free slot
}

bool HostTally::SameText(const Words& a, const Words& b, std::size_t length) {
    for (std::size_t i = 0; i * 8 < length; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

void HostTally::Clear() {
    for (Set& set : sets_) {
        set.hash.fill(0);
        set.count.fill(0);
        set.error.fill(0);
    }
    total_ = 0;
    for (Recent& r : recent_) r.length = 0;
}

void HostTally::Count(std::string_view address) {
    if (address.empty()) return;
    Key key;
    Load(address, key);
    ++total_;
    for (std::size_t i = 0; i < recent_.size(); ++i) {
        Recent& r = recent_[i];
        if (r.length == key.length && SameText(r.words, key.words, key.length)) {
            ++*r.count;
            recentNext_ = 1 - i;
            return;
        }
    }
    Hash(key);
    Recent& r = recent_[recentNext_];
    recentNext_ = 1 - recentNext_;
    r.count = Put(key, 1, 0);
    r.words = key.words;
    r.length = key.length;
}

void HostTally::Count(std::string_view address, std::uint64_t packets) {
    if (address.empty() || packets == 0) return;
    Key key;
    Load(address, key);
    Hash(key);
    total_ += packets;
    Put(key, packets, 0);
}

std::uint64_t* HostTally::Put(const Key& key, std::uint64_t packets, std::uint64_t error) {
    Set& set = sets_[(key.hash >> 40) % kSets];
    std::size_t least = 0;
    std::size_t slot = kWays;
    for (std::size_t i = 0; i < kWays; ++i) {
        if (set.hash[i] == key.hash && set.length[i] == key.length &&
            SameText(set.text[i], key.words, key.length)) {
            set.count[i] += packets;
            set.error[i] += error;
            return &set.count[i];
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
        for (Recent& r : recent_) {
            if (r.count == &set.count[slot]) r.length = 0;
        }
    }
    set.hash[slot] = key.hash;
    set.length[slot] = static_cast<std::uint8_t>(key.length);
    set.text[slot] = key.words;
    set.count[slot] = inherited + packets;
    set.error[slot] = inherited + error;
    return &set.count[slot];
}

void HostTally::Add(const HostTally& other) {
    for (const Set& set : other.sets_) {
        for (std::size_t i = 0; i < kWays && set.hash[i] != 0; ++i) {
            const Key key{set.text[i], set.length[i], set.hash[i]};
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
            host.address = Text(set.text[i], set.length[i]);
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
