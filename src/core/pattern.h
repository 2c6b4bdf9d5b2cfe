// '*' patterns: splitting a pattern into literal pieces, finding the next
// match with the stretches each star covered (the captures), and expanding
// the numbered references "{$1}", "{$2}", ... of a new text with them.
//
// The pattern language has one metacharacter, '*': any run of bytes, possibly
// empty. There is no escape. Positions are 1-based, 0 means "not found".
#pragma once

#include "core/byte_search.h"
#include "core/folded_search.h"

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::core {

// One piece of a match, or after capture computation one capture.
// Pos may be 0 and Len negative where overlapping pieces leave them so; such a
// capture reads as empty (see Copy).
struct TSubStrPos {
    std::int64_t Pos = 0;
    std::int64_t Len = 0;
};
using TSubStrPosArray = std::vector<TSubStrPos>;

using CharSet = std::bitset<256>;

// The part of s that starts at 1-based position i and is n bytes long,
// clamped: i below 1 counts as 1; i past the end, a negative n or an empty s
// give the empty text; n reaching past the end stops there.
std::string_view Copy(std::string_view s, Pos i, Pos n);

// Splits text at every byte in charSet into list (cleared first). Empty pieces
// are kept only with keepEmpty, and an empty final piece never is: 'A**B' and
// '*A*B*' both give 'A', 'B' without keepEmpty.
void SplitByChars(std::vector<std::string>& list, std::string_view text, const CharSet& charSet, bool keepEmpty);

// A pattern split once into its pieces, for callers that match it many times.
struct CompiledPattern {
    std::string Text;                 // the pattern as given
    std::vector<std::string> Pieces;  // literal runs between stars, none empty
    std::vector<FoldedNeedle> Folded; // the pieces prepared for case-insensitive search
    bool LeadingStar = false;
    bool TrailingStar = false;
};
CompiledPattern CompilePattern(std::string_view pattern);
// CompilePattern(pattern), kept by the calling thread until it asks for
// another pattern: a run asks for one pattern with every file, and preparing
// it (the folded needles, several allocations) per file costs a tenth of a
// search over a tree of small files. The holder keeps it alive whatever the
// thread asks for meanwhile (a callback that matches another pattern).
std::shared_ptr<const CompiledPattern> CompiledForThisThread(std::string_view pattern);

// Piece i of `pattern` searched for as MatchPattern does: its leftmost match
// that begins at or after position f and ends at or before position e, or 0.
// The match's length goes to matchLen; without regard to case it can differ
// from the piece's (see folded_search.h).
Pos FindPiece(const CompiledPattern& pattern, std::size_t i, bool caseSensitive, std::string_view text, Pos e, Pos f,
              Pos& matchLen);
// The most bytes a match of piece i can span.
Pos LongestPieceMatch(const CompiledPattern& pattern, std::size_t i, bool caseSensitive);

// Finds the first match of pattern in text[1..textLen] that starts at or after
// `from`. On success sets matchStart and matchEnd (inclusive) and fills
// ranges; returns false when there is none, when textLen < from, when the text
// or the pattern is empty, and always for a pattern of stars only other than
// '*' itself ('**' has no pieces and never matches).
//
// Each piece is first taken at its leftmost occurrence after the previous one.
// Without regard to case, pieces compare as FindFromNoCase compares, and
// the captures and the match's end follow the bytes each piece matched in
// the text, whose length can differ from the piece's.
// With `shortest`, a match of two or more pieces is then re-anchored to start
// as late as possible before the same last piece ('<b>*</b>' in '<b>x<b>y</b>'
// matches '<b>y</b>'); the bounds of that step let pieces overlap, so a capture
// can come out with a negative length, which reads as empty.
//
// With needCaptures, ranges then holds the captures in order followed by one
// extra element: the gaps between pieces, preceded by the text from `from` to
// the first piece when the pattern starts with '*', and followed by the text
// after the last piece when it ends with '*' (but not both: '*A*B*' offers the
// leading text and the gap only). With a leading star the match starts at
// `from`; with a trailing star it ends at textLen.
bool MatchPattern(Pos& matchStart, Pos& matchEnd, TSubStrPosArray& ranges, std::string_view text,
                  std::string_view pattern, Pos textLen, bool shortest, Pos from, bool caseSensitive,
                  bool needCaptures);
bool MatchPattern(Pos& matchStart, Pos& matchEnd, TSubStrPosArray& ranges, std::string_view text,
                  const CompiledPattern& pattern, Pos textLen, bool shortest, Pos from, bool caseSensitive,
                  bool needCaptures);

// result := newText with every reference tagOpen + n + tagClose replaced by
// capture n of the match in `ranges` (captures are ranges[0 .. size-2]).
// One left-to-right pass: an inserted capture is never read again, so text
// taken from a file that happens to read "{$2}" stays as it is. A reference is
// a decimal number from 1 to the number of captures without leading zeros;
// anything else ("{$3}" with two captures, "{$01}", "{$}") stays as written,
// and "{$1}" never matches inside "{$10}".
void ExpandCaptures(std::string_view text, const TSubStrPosArray& ranges, std::string_view newText,
                    std::string_view tagOpen, std::string_view tagClose, std::string& result);

} // namespace quillet::core
