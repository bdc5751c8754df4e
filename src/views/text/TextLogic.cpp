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

void FormatHeaderLine(const HeaderFields& f, const bool (&chosen)[7], std::string& line) {
    line.clear();
    auto text = [&](std::string_view v) {
        line += v;
        line += '\t';
    };
    auto number = [&](std::int32_t v) {
        char digits[12];
        const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
        line.append(digits, end);
        line += '\t';
    };
    if (chosen[0]) text(f.sourceMAC);
    if (chosen[1]) text(f.sourceIP);
    if (chosen[2]) number(f.sourcePort);
    if (chosen[3]) text(f.dstMAC);
    if (chosen[4]) text(f.dstIP);
    if (chosen[5]) number(f.dstPort);
    if (chosen[6]) text(f.transportType);
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
