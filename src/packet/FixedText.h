#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace lumeno {

// A short text held inline, so that building a packet's addresses allocates nothing.
template <std::size_t Capacity>
class FixedText {
  public:
    FixedText() = default;
    explicit FixedText(std::string_view text) { assign(text); }

    void assign(std::string_view text) {
        size_ = std::min(text.size(), Capacity);
        std::copy_n(text.data(), size_, chars_);
    }
    void clear() { size_ = 0; }
    void push_back(char c) {
        if (size_ < Capacity) chars_[size_++] = c;
    }

    std::string_view view() const { return {chars_, size_}; }
    operator std::string_view() const { return view(); }
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }

  private:
    char chars_[Capacity]{};
    std::size_t size_ = 0;
};

using MacText = FixedText<17>;  // "00:1a:2b:3c:4d:5e"
// The longest text an IPv6 address can be given in, e.g.
// "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255"; ours are at most 39 characters.
inline constexpr std::size_t kIpTextCapacity = 45;
using IpText = FixedText<kIpTextCapacity>;

}  // namespace lumeno
