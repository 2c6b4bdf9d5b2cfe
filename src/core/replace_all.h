// Replace-all over one text: every occurrence of a find text replaced by a
// replacement, in one left-to-right pass with one skip table.
#pragma once

#include "core/byte_search.h"

#include <string>
#include <string_view>

namespace quillet::core {

// Returns a copy of `source` in which every occurrence of `find` is replaced
// by `replacement`. Occurrences are taken left to right and never overlap
// ("aaa", "aa" -> "b" gives "ba"); the replacement is never searched again
// ("a", "a" -> "aa" gives "aa"); once fewer bytes remain than `find` is long
// they are copied unchanged. An empty source or an empty find text gives the
// source unchanged. Case-insensitive mode compares as FindFromNoCase does
// (Unicode simple case folding), so a match can be longer or shorter than
// `find`: "k" replaces the 3-byte Kelvin sign as a whole.
//
// The result is reserved up front at (S * R) div F when the replacement is the
// longer (S when not), falling back to (S + R) * 1.5 when that cannot be had,
// and grows by half, as often as needed, when a match would not fit. The sizes
// are computed without overflow for any 64-bit length.
std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement,
                       bool caseSensitive);

// Copies `count` bytes forwards from `from` to `to`; 0 copies nothing. The two
// ranges never overlap.
void CopyBytes(const char* from, char* to, Pos count);

} // namespace quillet::core
