// Literal byte searches on which all text processing rests: a forward
// Boyer-Moore-Horspool search (one table of 256 shifts, looked up with the text
// byte under the last position of the window) and a plain backward search,
// each in a case-sensitive form and a NoCase form. FindFromNoCase and
// FindBackNoCase fold case by Unicode simple case folding (case_fold.h), so a
// match may be longer or shorter than the pattern; BuildSkipTableNoCase and
// ScanForwardNoCase stay byte scans that compare UpperTable entries.
//
// Over ranges of 256 bytes or more the forward search first looks for the
// pattern's rarest byte (memchr, or both case forms of it and of a second
// byte, 16 window starts at a time, 32 with AVX2); where that byte proves
// common it pairs it with the pattern byte farthest from it, and only then
// uses the table. Every route gives the leftmost match.
//
// No search is slower than linear in the text and pattern lengths: the quick
// scans count the bytes they compare, and once that is more than twice the
// bytes they have passed (plus twice the pattern), the rest of the range goes
// to a Two-Way search, whose worst case is linear. Both give the same match.
// (The folded searches of patterns beyond plain a..z are not bounded so; see
// folded_search.h.)
//
// Texts are byte strings; positions are 1-based and 0 means "not found".
// Lengths and positions are 64-bit, so texts over 2 GiB work.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quillet::core {

using Pos = std::int64_t;

// Shift per byte value for one pattern. Lives on the stack of the routine
// that searches with it; never on the heap.
using TSkipTable = std::array<Pos, 256>;

// Fills `table` for the m bytes at `pattern`: every entry m, then for
// i = 1 .. m-1 the entry of pattern[i] is m - i (the rightmost occurrence among
// the first m-1 bytes wins; the last byte gets no entry of its own, except that
// a one-byte pattern sets its byte's entry to 0, which is never used as a
// shift). Throws quillet::Error("BufferLen is 0") for m = 0.
void BuildSkipTable(const char* pattern, Pos m, TSkipTable& table);
// The same, with the entries of UpperTable[pattern[i]]; the table is looked up
// with upper-cased text bytes only.
void BuildSkipTableNoCase(const char* pattern, Pos m, TSkipTable& table);

// Leftmost match of the m pattern bytes inside the n bytes starting at
// `range`; a match may end on the range's last byte, never beyond. Returns the
// location of the match's first byte, or nullptr. n < m gives nullptr at once.
// `table` must come from the builder of the same case mode.
const char* ScanForward(const char* range, const char* pattern, Pos n, Pos m, const TSkipTable& table);
const char* ScanForwardNoCase(const char* range, const char* pattern, Pos n, Pos m, const TSkipTable& table);

// Leftmost match of the first m bytes of `p` in s that begins at or after
// position f and ends at or before position e; 0 when there is none, when
// m < 1 or when e < m. The caller keeps f >= 1 and e <= size of s.
Pos FindFrom(std::string_view s, std::string_view p, Pos e, Pos m, Pos f);
// The same without regard to case: text and pattern are read as UTF-8
// characters, which compare by their simple case folding (a..z with A..Z
// among them); bytes that are not valid UTF-8 compare as they are and never
// match part of a character. The match's length in bytes goes to
// *matchLen (when given): the Kelvin sign (3 bytes) matches "k" (1 byte), so
// a match can even be shorter than the pattern, and e < m does not rule one
// out. Details with FoldedNeedle (folded_search.h).
Pos FindFromNoCase(std::string_view s, std::string_view p, Pos e, Pos m, Pos f, Pos* matchLen = nullptr);

// Rightmost match that begins at or before position f (0: no limit) and ends
// at or before position e (s is taken to end there); 0 when there is none.
// A plain scan from the back with a first-byte test; no skip table.
Pos FindBack(std::string_view s, std::string_view p, Pos e, Pos m, Pos f);
Pos FindBackNoCase(std::string_view s, std::string_view p, Pos e, Pos m, Pos f, Pos* matchLen = nullptr);

// Picks the twin by the flag every caller carries (true: case-sensitive).
inline Pos findFrom(bool caseSensitive, std::string_view s, std::string_view p, Pos e, Pos f) {
    const auto m = static_cast<Pos>(p.size());
    return caseSensitive ? FindFrom(s, p, e, m, f) : FindFromNoCase(s, p, e, m, f);
}
inline Pos findBack(bool caseSensitive, std::string_view s, std::string_view p, Pos e, Pos f) {
    const auto m = static_cast<Pos>(p.size());
    return caseSensitive ? FindBack(s, p, e, m, f) : FindBackNoCase(s, p, e, m, f);
}

// Implementation details only, past this point.
namespace detail {

// The Two-Way search the routines above hand over to, declared for the tests
// that check it on its own: the leftmost (Forward) or rightmost (Backward)
// match inside the n bytes at `range`, or nullptr; n < m or m < 1 give nullptr.
const char* TwoWayForward(const char* range, const char* pattern, Pos n, Pos m, bool caseSensitive);
const char* TwoWayBackward(const char* range, const char* pattern, Pos n, Pos m, bool caseSensitive);

// FindFrom and FindBack with a..z folded to A..Z and every other byte exact,
// whatever the locale: the NoCase searches hand a pattern over to these when
// folding cannot change what its bytes match.
Pos FindFromAscii(std::string_view s, std::string_view p, Pos e, Pos m, Pos f);
Pos FindBackAscii(std::string_view s, std::string_view p, Pos e, Pos m, Pos f);

// The first start s in [from, lastStart] with s[offset1] one of the two bytes
// forms1 and s[offset2] one of forms2 (a byte may be given twice), or
// nullptr; 16 or 32 starts at a time. Reads only bytes of those windows.
const char* FindBytePair(const char* from, const char* lastStart, Pos offset1, const char* forms1, Pos offset2,
                         const char* forms2);
// The first byte in [from, to) that equals a or b, or nullptr; 16 or 64
// bytes at a time.
const char* FindEither(const char* from, const char* to, char a, char b);
// How often byte b comes in the texts searched, in parts per million (a
// guess from measured texts): the frequencies of two case forms add up.
int ByteRank(std::uint8_t b);

} // namespace detail

} // namespace quillet::core
