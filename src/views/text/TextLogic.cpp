#include "views/text/TextLogic.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace lumeno {

std::size_t HeaderLog::CharacterCount(std::string_view utf8) {
    // Every byte but a continuation byte (10xxxxxx) starts a character; eight bytes at a
    // time, as this runs for every packet's line.
    constexpr std::uint64_t kHigh = 0x8080808080808080u;
    std::size_t continuations = 0, i = 0;
    for (; i + 8 <= utf8.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, utf8.data() + i, sizeof w);
        // A 1 in the byte of each continuation byte, summed by a multiply (a population count
        // instruction is not there on every x86-64).
        const std::uint64_t marks = (w & ~(w << 1) & kHigh) >> 7;
        continuations += static_cast<std::size_t>((marks * 0x0101010101010101u) >> 56);
    }
    for (; i < utf8.size(); ++i) {
        continuations += (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80;
    }
    return utf8.size() - continuations;
}

void HeaderLog::DropOldestLine() {
    const std::string_view text = Text();
    const std::size_t crlf = text.find("\r\n");
    if (crlf != std::string_view::npos) {
        characters_ -= CharacterCount(text.substr(0, crlf + 2));
        start_ += crlf + 2;
        ++droppedLines_;
    } else {
        // No line break at all: the first character goes (all of its bytes).
        std::size_t n = 1;
        while (n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) ++n;
        characters_ -= 1;
        start_ += n;
    }
    // Keep the dropped part from growing without bound.
    if (start_ > 4 * kTrimAbove) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
}

void HeaderLog::Add(std::string_view line) {
    if (characters_ > kTrimAbove) DropOldestLine();
    if (buffer_.size() > start_) {
        buffer_ += "\r\n";
        characters_ += 2;
        appended_ += 2;
    }
    buffer_ += line;
    characters_ += CharacterCount(line);
    appended_ += line.size();
}

void HeaderLog::AddLines(std::string_view joined, std::span<const std::uint32_t> ends) {
    // Add, line by line, on the lines' sizes only: the log as it stands (old, from oldAt
    // while oldLive) followed, after a CR LF when both are there, by the live given lines
    // (pieces_ from first) joined by CR LF. Only what is left at the end is copied.
    const std::string_view old = Text();
    std::size_t oldAt = 0;
    bool oldLive = !old.empty();
    // Header fields are plain ASCII, a character a byte; anything else is counted. A line
    // with a break of its own is lines to the log: those go the long way.
    if (joined.find('\r') != std::string_view::npos) {
        std::size_t at = 0;
        for (const std::uint32_t end : ends) {
            Add(joined.substr(at, end - at));
            at = end;
        }
        return;
    }
    const bool plain = CharacterCount(joined) == joined.size();
    auto count = [&](std::string_view text) { return plain ? text.size() : CharacterCount(text); };
    auto text = [&](const Piece& p) { return joined.substr(p.at, p.bytes); };
    // Bytes of the character that begins text (a lead byte and its continuation bytes).
    auto firstCharacter = [](std::string_view text) {
        std::size_t n = 1;
        while (n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) ++n;
        return n;
    };
    pieces_.clear();
    std::size_t first = 0;
    std::size_t characters = characters_;
    std::uint64_t appended = appended_, dropped = droppedLines_;

    std::size_t from = 0;
    for (const std::uint32_t end : ends) {
        const std::size_t live = pieces_.size() - first;
        if (characters > kTrimAbove) {
            const std::string_view rest = old.substr(oldAt);
            const std::size_t crlf = oldLive ? rest.find("\r\n") : std::string_view::npos;
            if (crlf != std::string_view::npos) {
                characters -= CharacterCount(rest.substr(0, crlf + 2));
                oldAt += crlf + 2;
                oldLive = oldAt < old.size() || live > 0;
                ++dropped;
            } else if (oldLive && live > 0) {  // the old text's last line and the CR LF after it
                characters -= CharacterCount(rest) + 2;
                oldLive = false;
                ++dropped;
            } else if (oldLive) {  // one line without a break: its first character goes
                const std::size_t n = firstCharacter(rest);
                characters -= 1;
                oldAt += n;
                oldLive = oldAt < old.size();
            } else if (live > 1) {
                characters -= count(text(pieces_[first])) + 2;
                ++first;
                ++dropped;
            } else if (live == 1) {
                Piece& p = pieces_[first];
                const std::size_t n = firstCharacter(text(p));
                characters -= 1;
                p.at += n;
                p.bytes -= n;
                if (p.bytes == 0) ++first;
            }
        }
        const Piece line{from, end - from};
        from = end;
        const bool empty = !oldLive && pieces_.size() == first;
        if (empty && line.bytes == 0) continue;  // an empty line leaves an empty log empty
        const std::size_t separator = empty ? 0 : 2;
        characters += separator + count(text(line));
        appended += separator + line.bytes;
        pieces_.push_back(line);
    }

    std::string result;
    if (oldLive) result.assign(old.substr(oldAt));
    for (std::size_t i = first; i < pieces_.size(); ++i) {
        if (oldLive || i > first) result += "\r\n";
        result += text(pieces_[i]);
    }
    buffer_ = std::move(result);
    start_ = 0;
    characters_ = characters;
    appended_ = appended;
    droppedLines_ = dropped;
}

void HeaderLog::Assign(std::string_view text) {
    buffer_.assign(text);
    start_ = 0;
    characters_ = CharacterCount(text);
}

void HeaderLog::Clear() {
    buffer_.clear();
    start_ = 0;
    characters_ = 0;
    appended_ = 0;
    droppedLines_ = 0;
}

void FormatHeaderLine(const HeaderFields& f, const bool (&chosen)[7], std::string& line,
                      std::size_t (&lengths)[7]) {
    // The line's length first, then one resize and plain copies: this runs for every packet.
    char sourceDigits[12], dstDigits[12];
    const std::string_view values[7] = {
        f.sourceMAC,
        f.sourceIP,
        {sourceDigits,
         static_cast<std::size_t>(std::to_chars(sourceDigits, sourceDigits + 12, f.sourcePort).ptr -
                                  sourceDigits)},
        f.dstMAC,
        f.dstIP,
        {dstDigits, static_cast<std::size_t>(
                        std::to_chars(dstDigits, dstDigits + 12, f.dstPort).ptr - dstDigits)},
        f.transportType};
    std::size_t length = 0;
    for (int i = 0; i < 7; ++i) {
        lengths[i] = values[i].size();
        if (chosen[i]) length += values[i].size() + 1;
    }
    std::size_t at = line.size();
    line.resize(at + length);
    for (int i = 0; i < 7; ++i) {
        if (!chosen[i]) continue;
        if (!values[i].empty()) std::memcpy(line.data() + at, values[i].data(), values[i].size());
        at += values[i].size();
        line[at++] = '\t';
    }
}

void FormatBody(std::span<const std::uint8_t> bytes, std::string& hex, std::string& ascii) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    hex.resize(bytes.size() * 3);
    ascii.resize(bytes.size() * 2);
    char* h = hex.data();
    char* a = ascii.data();
    for (std::uint8_t b : bytes) {
        *h++ = kDigits[b >> 4];
        *h++ = kDigits[b & 0x0F];
        *h++ = ' ';
        *a++ = b < 32 || b > 126 ? '.' : static_cast<char>(b);
        *a++ = ' ';
    }
}

void FormatBodyRows(std::span<const std::uint8_t> bytes, int perRow, std::string& hex,
                    std::string& ascii) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    hex.clear();
    ascii.clear();
    std::string hexRow, asciiRow;
    const std::size_t step = static_cast<std::size_t>(std::max(perRow, 1));
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        if (at > 0) {
            hex += '\n';
            ascii += '\n';
        }
        // Packets are at most 65535 bytes: four digits always do.
        for (int shift = 12; shift >= 0; shift -= 4) hex += kDigits[(at >> shift) & 0x0F];
        hex += "  ";
        FormatBody(bytes.subspan(at, std::min(step, bytes.size() - at)), hexRow, asciiRow);
        hex += hexRow;
        ascii += asciiRow;
    }
}

}  // namespace lumeno
