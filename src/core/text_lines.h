// Lines and columns of a text, by the one rule that the diffs, the match
// listings of the command line and the window share: a line ends after
// "\n" (a "\r" before it belongs to the line, as `grep` and `diff` read
// it); the last line may lack its "\n". Pure text work, no I/O.
//
// Line numbers and columns are 1-based. A column counts bytes, or with
// `characters` UTF-8 characters (a byte that does not continue one starts
// one), for a text decoded from UTF-16 or UTF-32, whose user counts
// characters, not the bytes of the UTF-8 it was turned into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillet::core {

// Whether byte `offset` of `text` begins a line (offset 0 does).
inline bool IsLineStart(std::string_view text, std::size_t offset) {
    return offset == 0 || text[offset - 1] == '\n';
}

// Where the line holding byte `offset` ends: its "\n", or the end of the text.
std::size_t LineEndAt(std::string_view text, std::size_t offset);

// The column of byte `offset` in the line that starts at `lineStart`.
std::int64_t ColumnAt(std::string_view text, std::size_t lineStart, std::size_t offset, bool characters);

// Numbers lines walking forward only, so that numbering every match of a
// large text costs one pass over it: each call reads the bytes between the
// previous offset and this one.
class LineCounter {
public:
    explicit LineCounter(std::string_view text) : m_text(text) {}

    // Moves to the line holding byte `offset` (at most the text's size; not
    // below the offset of the call before) and returns its number.
    std::int64_t seek(std::size_t offset);
    std::int64_t line() const { return m_line; }
    std::size_t lineStart() const { return m_lineStart; }

private:
    std::string_view m_text;
    std::size_t m_counted = 0; // line breaks before it are counted
    std::size_t m_lineStart = 0;
    std::int64_t m_line = 1;
};

} // namespace quillet::core
