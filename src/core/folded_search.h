// The case-insensitive literal search: FindFromNoCase and FindBackNoCase, and
// FoldedNeedle, a pattern prepared once for callers that search for it many
// times (replace-all, the pieces of a '*' pattern).
//
// What matches: the text and the pattern are read as rows of characters,
// each either a valid UTF-8 sequence (one code point) or a single byte that
// does not begin one (as UTF-8 decoders read broken text: one byte, then on).
// A match is a row of the text's characters that equals the pattern's, a code
// point where the code points fold (FoldCase) alike, a byte where the bytes
// are the same. So "привет" finds "ПРИВЕТ", "café" finds "CAFÉ", "σ" finds
// "ς", and a stray byte such as \xE9 finds \xE9 alone, never the first byte
// of "é" (\xC3\xA9 in the text reads as one character) nor a byte inside one.
// Whether a byte begins a character can depend on up to three bytes before it
// and after it, and those are read even where they lie outside the range
// searched (but inside s).
//
// A match need not be as long as the pattern: "k" matches the Kelvin sign
// (3 bytes), "s" matches "ſ" (2 bytes), and the other way round. Callers take
// the length each search reports, never the pattern's.
//
// How it searches: a pattern whose units all match only their own bytes
// (a..z folded) goes to the byte search of byte_search.h, unchanged. Any other
// pattern is searched for twice, and the earlier match wins:
// - spelled with partners of the pattern's own UTF-8 lengths (k or K for k,
//   é or É for é), so that every match is as long as the pattern: by the same
//   byte search where those partners are a..z pairs ("search"), otherwise by a
//   vector scan for two rare places whose bytes have at most two forms (the
//   second bytes of "п" or "é": \xBF or \x9F, \xA9 or \x89), then, where
//   such candidates come thick, by a skip loop over byte classes (for each
//   place, every byte a partner can have there); each candidate is then
//   compared character by character;
// - holding a partner of another length (the Kelvin sign, ſ, the rounded
//   Cyrillic forms such as U+1C80): the text is scanned for such characters,
//   which are rare, up to the first match, and the few places where a match
//   around one could begin are compared. Both go block by block (64 KiB), so
//   that the second reads what the first has just brought into the cache. Where those partners are ASCII (a
//   pattern that holds the Kelvin sign also takes k), this scan is slow.
// These routes compare more bytes than the byte search on texts full of near
// matches: the worst case is the text's length times the pattern's, not
// linear.
#pragma once

#include "core/byte_search.h"
#include "core/case_fold.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::core {

class FoldedNeedle {
public:
    // Prepares `pattern`; an empty pattern never matches.
    explicit FoldedNeedle(std::string_view pattern);

    // As FindFromNoCase (byte_search.h): the leftmost match that begins at or
    // after position f and ends at or before position e (f below 1 counts as
    // 1), or 0; its length in bytes goes to matchLen.
    Pos findFrom(std::string_view s, Pos e, Pos f, Pos& matchLen) const;
    // As FindBackNoCase: the rightmost match that begins at or before f
    // (0: anywhere) and ends at or before e, or 0.
    Pos findBack(std::string_view s, Pos e, Pos f, Pos& matchLen) const;

    // The fewest and the most bytes a match can span.
    Pos minLength() const { return m_minLen; }
    Pos maxLength() const { return m_maxLen; }

private:
    struct Unit {
        Pos Offset = 0;     // where it starts in the pattern
        int Len = 1;        // its bytes in the pattern
        bool Valid = false; // a code point; otherwise one byte that must be equal
        char32_t Fold = 0;
        FoldClass Partners;
    };

    bool byteMatches(const Unit& u, const char* text, Pos at, Pos size) const;
    Pos matchForward(const char* text, Pos size, Pos at, Pos limit) const;
    bool startsHere(const char* text, Pos size, Pos start) const;
    Pos findSameLength(std::string_view s, Pos low, Pos e, Pos& end) const;
    Pos findWithOtherLength(std::string_view s, Pos low, Pos e, Pos before, Pos& end) const;
    template <class EachByte>
    void choosePair(const EachByte& eachByte);

    std::string m_pattern;
    std::vector<Unit> m_units;
    bool m_bytesOnly = false; // the byte search finds exactly the matches
    Pos m_minLen = 0;
    Pos m_maxLen = 0;
    // The search for matches as long as the pattern.
    bool m_sameBytesOnly = false; // by the byte search
    bool m_byPair = false;        // two places, looked for before the skip loop
    Pos m_pairAt[2] = {0, 0};
    char m_pairForms[2][2] = {};
    TSkipTable m_shift{};
    std::array<bool, 256> m_lastClass{}; // bytes the last place can hold
    // The search for matches that hold a partner of another length.
    std::vector<char32_t> m_otherLength; // those partners, sorted
    std::array<bool, 256> m_otherLead{}; // the bytes they begin with
    int m_otherLeadCount = 0;
    char m_otherLeads[2] = {};
    std::array<bool, 256> m_firstBytes{}; // bytes a match can begin with
};

} // namespace quillet::core
