// File-name masks: "*" stands for any run of characters (possibly empty), "?"
// for exactly one. One mask against one name; a run's whole mask, several
// ";"-separated tokens with exclusions, is a FileMask (file_mask.h), which
// decides through these. Nothing here touches the file system.
//
// The matcher is deliberately not a full glob: it scans once from left to
// right and never backtracks. A literal run between two stars is taken at its
// first occurrence in what is left of the name, and the run after the last
// star is compared right-aligned with the end of the whole name. Consequences
// users see:
//   "*.*"       fits only names that hold a dot ("." and ".." too), not "README";
//   "ab*bc"     fits "abc" (the tail may reuse characters matched before the star);
//   "q*ab*ba*"  does not fit "qaba" (the first "ab" is taken, and "ba" is not after it);
//   "abc?*"     fits "abc" (lenient end: once the name is used up, a mask that
//               ends with "*" fits whatever of it is left);
//   "*N*x*b*"   fits "nxyNx" but not when case is ignored (folded, the first
//               "N" is the name's first byte, and "b" is not found after "x").
// In a name, "*" and "?" are ordinary bytes, while in the mask they are
// wildcards wherever they stand: "a*" fits "a*b", and "?" fits "*".
// Positions are 1-based; 0 means "not found".
#pragma once

#include "core/byte_search.h"

#include <string>
#include <string_view>

namespace quillet::finder {

// Position in `text` of the first occurrence of `sought`, where a "?" in
// `sought` fits any one byte of `text` (a "?" in `text` is an ordinary byte).
// 0 when there is none, and for an empty `sought`.
// PosWithJoker("a?c", "xxabcx") == 3; PosWithJoker("a?", "a") == 0.
core::Pos PosWithJoker(std::string_view sought, std::string_view text);

// Position of the first "*" in `text`, 0 when there is none. When there is one,
// `text` is cut in place to the bytes before it; otherwise it is left alone.
core::Pos CutAtStar(std::string& text);

// True when `name` fits `mask` (see above). With ignoreCase both are compared
// through UpperTable. A mask equal to the name byte for byte always fits, and a
// mask made of stars only fits every name, the empty one included. Apart from
// those, an empty name or an empty mask fits nothing.
bool MatchesWildcard(std::string_view name, std::string_view mask, bool ignoreCase);

} // namespace quillet::finder
