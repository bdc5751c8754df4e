#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lumeno {

// The only way packet bytes are read. Every read is checked against the captured
// length; a read past the end fails and leaves the caller to give up, so no length
// field in the packet can make us look beyond what was captured.
class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t size() const { return bytes_.size(); }

    bool has(std::size_t offset, std::size_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }

    bool u8(std::size_t offset, std::uint8_t& out) const {
        if (!has(offset, 1)) return false;
        out = bytes_[offset];
        return true;
    }

    bool u16be(std::size_t offset, std::uint16_t& out) const {
        if (!has(offset, 2)) return false;
        out = static_cast<std::uint16_t>((bytes_[offset] << 8) | bytes_[offset + 1]);
        return true;
    }

    bool u32be(std::size_t offset, std::uint32_t& out) const {
        if (!has(offset, 4)) return false;
        out = (std::uint32_t{bytes_[offset]} << 24) | (std::uint32_t{bytes_[offset + 1]} << 16) |
              (std::uint32_t{bytes_[offset + 2]} << 8) | std::uint32_t{bytes_[offset + 3]};
        return true;
    }

    bool u32le(std::size_t offset, std::uint32_t& out) const {
        if (!has(offset, 4)) return false;
        out = (std::uint32_t{bytes_[offset + 3]} << 24) |
              (std::uint32_t{bytes_[offset + 2]} << 16) | (std::uint32_t{bytes_[offset + 1]} << 8) |
              std::uint32_t{bytes_[offset]};
        return true;
    }

    // A view of count bytes at offset; fails rather than shortening the view.
    bool bytes(std::size_t offset, std::size_t count, std::span<const std::uint8_t>& out) const {
        if (!has(offset, count)) return false;
        out = bytes_.subspan(offset, count);
        return true;
    }

    // The same bytes, cut to at most limit; used where a header says the content ends early.
    ByteReader prefix(std::size_t limit) const {
        return ByteReader(bytes_.first(limit < bytes_.size() ? limit : bytes_.size()));
    }

  private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace lumeno
