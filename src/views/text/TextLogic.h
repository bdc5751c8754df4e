#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumeno {

// The header log: lines separated by CR LF, none after the last, held near 3000
// characters by dropping the oldest line before a new one is added. Kept apart from the
// text box so that a packet costs the same however long the capture runs.
class HeaderLog {
  public:
    static constexpr std::size_t kTrimAbove = 3000;

    // Trims (at most one line, only when over the bound) and then appends the line.
    void Add(std::string_view line);
    // The same as Add for each line in turn, the lines given joined (ends: where each one
    // ends in joined), but only the lines the trimming leaves are copied: a busy link adds
    // thousands of lines between two looks at the log, of which a few dozen stay.
    void AddLines(std::string_view joined, std::span<const std::uint32_t> ends);
    // Replaces the log, for text the user typed into the box.
    void Assign(std::string_view text);
    void Clear();

    std::string_view Text() const { return {buffer_.data() + start_, buffer_.size() - start_}; }
    std::size_t Length() const { return characters_; }
    // Bytes added by Add since the log was made or cleared, and whole lines dropped: what a
    // box that showed the log at some moment lacks at its end and has too many at its start.
    std::uint64_t Appended() const { return appended_; }
    std::uint64_t DroppedLines() const { return droppedLines_; }

    // Characters, not bytes: the user may have typed any text into the box.
    static std::size_t CharacterCount(std::string_view utf8);

  private:
    void DropOldestLine();
    // Where a line AddLines was given lies in joined.
    struct Piece {
        std::size_t at, bytes;
    };
    std::vector<Piece> pieces_;  // kept from call to call, for its memory

    std::string buffer_;
    std::size_t start_ = 0;       // the log begins here; what lies before was trimmed
    std::size_t characters_ = 0;  // kept as the log changes, so that no packet counts it all
    std::uint64_t appended_ = 0;
    std::uint64_t droppedLines_ = 0;
};

// Appends one log line to line: each chosen field followed by a TAB, in the fixed field
// order. lengths: each field's length in characters, chosen or not.
struct HeaderFields {
    std::string_view sourceMAC, sourceIP;
    std::int32_t sourcePort;
    std::string_view dstMAC, dstIP;
    std::int32_t dstPort;
    std::string_view transportType;
};
void FormatHeaderLine(const HeaderFields& fields, const bool (&chosen)[7], std::string& line,
                      std::size_t (&lengths)[7]);

// The body view's two texts for a packet's bytes: two upper-case hex digits and a space per
// byte; the byte itself (32 to 126) or "." and a space.
void FormatBody(std::span<const std::uint8_t> bytes, std::string& hex, std::string& ascii);
// The same units in rows of perRow bytes, one per line ("\n" between), each hexadecimal row
// starting with its offset in four hex digits and two spaces.
void FormatBodyRows(std::span<const std::uint8_t> bytes, int perRow, std::string& hex,
                    std::string& ascii);

}  // namespace lumeno
