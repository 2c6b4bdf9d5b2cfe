// The six operations applied to one whole text held in memory.
#pragma once

#include "core/byte_search.h"
#include "core/pattern.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <optional>
#include <vector>

namespace quillet::core {

// Operation codes; also the item index of the window's "Operation" group.
enum Operation : std::uint8_t {
    OpOnlySearch = 0,
    OpReplaceText = 1,
    OpInsertBefore = 2,
    OpInsertAfter = 3,
    OpRemoveScript = 4,
    OpStripWordHtml = 5,
};

// What the front ends need to know of each operation, in one place.
struct OperationInfo {
    Operation Code;
    std::string_view CliName; // the command line's OPERATION word
    std::string_view Caption; // the window's name for it, as in its "Operation" group
    // A fixed clean-up recipe: takes neither pattern nor new text, and
    // rebuilds the text rather than changing it at matches.
    bool Recipe;
    // Operands after the command line's OPERATION word: PATTERN (1), PATTERN
    // and NEWTEXT (2), none (the recipes).
    int Arguments;
};

inline constexpr std::array<OperationInfo, 6> kOperations{{
    {OpOnlySearch, "search", "Only Search", false, 1},
    {OpReplaceText, "replace", "Replace Text", false, 2},
    {OpInsertBefore, "insert-before", "Insert Before", false, 2},
    {OpInsertAfter, "insert-after", "Insert After", false, 2},
    {OpRemoveScript, "remove-script", "Remove Script", true, 0},
    {OpStripWordHtml, "strip-word-html", "Strip Word HTML", true, 0},
}};

namespace detail {
constexpr bool codesAreIndices() {
    for (std::size_t i = 0; i < kOperations.size(); ++i)
        if (static_cast<std::size_t>(kOperations[i].Code) != i ||
            (kOperations[i].Recipe && kOperations[i].Arguments != 0))
            return false;
    return true;
}
} // namespace detail
// FindOperation(code) indexes the table; a recipe takes no operands.
static_assert(detail::codesAreIndices());

// The entry of an operation code; null for a code that names none.
constexpr const OperationInfo* FindOperation(std::uint8_t operation) {
    return operation < kOperations.size() ? &kOperations[operation] : nullptr;
}

// The entry whose CliName is `cliName` exactly; null if none.
constexpr const OperationInfo* FindOperation(std::string_view cliName) {
    for (const OperationInfo& info : kOperations)
        if (info.CliName == cliName)
            return &info;
    return nullptr;
}

// Whether `operation` is one of the clean-up recipes (false for an unknown code).
constexpr bool IsRecipe(std::uint8_t operation) {
    const OperationInfo* info = FindOperation(operation);
    return info != nullptr && info->Recipe;
}

// How the operations 0 to 3 choose their matches and write their new text,
// beyond the pattern. Off by default: every match counts, the new text goes
// in as written.
struct MatchOptions {
    // A match counts only when it does not cut a word: at its start, the
    // character before it and its first character are not both word
    // characters (word_case.h: letters, marks, decimal digits, '_'); at its
    // end, its last character and the one after it are not either. The start
    // and the end of the text are not word characters. A match that begins
    // and ends with word characters (a word as typed: "foo", "x_1") so
    // begins and ends at word boundaries, a letter, digit or '_' on one side
    // and not on the other; a match whose first or last character is not a
    // word character (" foo", "(foo)", "<b>*</b>") only needs not to split a
    // word beside it. With a '*' at an end of the pattern the same rule is
    // applied where the match ends: a leading '*' covers the text from where
    // the search starts, so such a match starts where no word is cut; a
    // trailing '*' runs to the end of the text, which always passes.
    // A match that fails is passed over and the search goes on from the byte
    // after its start, so "cat" finds the word in "concat cat". The rule is
    // the same for every operation and for TextMatches: a text Only Search
    // finds is one Replace Text changes, and counts agree.
    // (Each failed match costs a search, so a '*' pattern with many failing
    // starts far from its last piece can take time quadratic in the text.)
    bool WholeWord = false;
    // Replace Text only (the others ignore it): where the matched text is all
    // lower case, all upper case or capitalised (word_case.h, ShapeOf), the
    // new text is written in the same case ("foo" -> "bar": "Foo" -> "Bar",
    // "FOO" -> "BAR"); otherwise as written. In a template only the text
    // written around the references takes the case: captures are copied as
    // they stand in the text, and the first cased letter of that written text
    // is the one capitalised ("{$1}bar" -> "{$1}Bar").
    bool KeepCase = false;
    // The writing operations only (Only Search and the recipes ignore it):
    // which of the matches found are applied, by number in the text's order,
    // match n at Selection[n - 1]. A match not selected, or past the end of
    // the vector, stays as it was in the result and is not counted; it still
    // counts towards maxCount, so that the numbers are those of a run without
    // a selection, and the search goes on after it as after any match. No
    // selection applies every match; so does one that selects each.
    std::optional<std::vector<bool>> Selection;
};

inline constexpr std::string_view kTagOpen = "{$";
inline constexpr std::string_view kTagClose = "}";

// Applies `operation` to `text`; result always receives the new text (equal
// to text when nothing matched). Returns whether at least one match was found
// (and, with MatchOptions::Selection, selected) for operations 0 to 3, and true always for 4 and 5, whose fixed recipes
// ignore pattern, newText, caseSensitive and isPattern.
//
// Matches never overlap: each search starts right after the previous match,
// and the new text is never searched again. Operation 0 stops at the first
// match and leaves the text as it is. maxCount > 0 limits the matches handled;
// any other value means no limit. With isPattern, newText is a template whose
// tagOpen + n + tagClose references are expanded per match (ExpandCaptures);
// otherwise it is inserted literally. An empty pattern finds nothing.
// `options` can pass over matches that cut words and keep the case of the
// replaced text (MatchOptions); the recipes ignore them.
bool ProcessText(std::string& result, std::string_view text, std::uint8_t operation, std::string_view pattern,
                 bool caseSensitive, std::string_view newText, bool isPattern, std::string_view tagOpen,
                 std::string_view tagClose, std::int64_t maxCount, const MatchOptions& options = {});

// Where ProcessText can put the new text instead of a std::string, for a
// caller that keeps it in a buffer of its own.
class TextSink {
public:
    virtual ~TextSink() = default;
    virtual void clear() = 0;
    // A hint: room for this many bytes in all.
    virtual void reserve(std::size_t bytes) = 0;
    virtual void append(std::string_view bytes) = 0;
    // A stretch of the input text carried over unchanged: `piece` points into
    // the text that ProcessText was given, and pieces come in the text's
    // order, never overlapping. A sink that knows the input can record where
    // the text changed (for a diff) or write the unchanged stretches straight
    // from the input instead of copying them.
    virtual void keep(std::string_view piece) { append(piece); }
};

// One match ProcessText handled: bytes [Start, End) of the text (0-based),
// and for the writing operations what stands in their place in the result:
// the new text (expanded), followed by the match for Insert Before, after it
// for Insert After. Empty for Only Search. The view lives until the call
// returns.
struct TextMatch {
    std::size_t Start = 0;
    std::size_t End = 0;
    std::string_view Replacement;
};
using MatchObserver = std::function<void(const TextMatch& match)>;

// `matches`, where given, receives the number of matches handled: those
// replaced or inserted at (at most maxCount when it is positive), 1 or 0
// for Only Search, and -1 for the clean-up recipes, which rebuild the text
// in several passes and count no matches. `observer`, where given, is called
// for each match handled, in the text's order; Only Search then goes on past
// the first match to every one (at most maxCount) and counts them all. The
// recipes report none.
bool ProcessText(TextSink& result, std::string_view text, std::uint8_t operation, std::string_view pattern,
                 bool caseSensitive, std::string_view newText, bool isPattern, std::string_view tagOpen,
                 std::string_view tagClose, std::int64_t maxCount, std::int64_t* matches = nullptr,
                 const MatchOptions& options = {}, const MatchObserver* observer = nullptr);

// Whether pattern matches anywhere in text: the answer of ProcessText for
// Only Search, without building a result.
bool TextMatches(std::string_view text, std::string_view pattern, bool caseSensitive, const MatchOptions& options = {});

// Clean-up recipe for script-laden pages: strips the attributes of the first
// <body> tag, removes <link ...> tags and <script ... /script> elements (these
// two at most maxCount times each when maxCount > 0). Always true.
bool RemoveScripts(std::string& result, std::string_view text, std::int64_t maxCount);

// Clean-up recipe for pages saved by a word processor: rebuilds the head from
// its content type and title, and deletes inline styles, Office namespace
// tags, lang=EN-US, every <!...> construct and class attributes. Always true.
bool StripWordHtml(std::string& result, std::string_view text);

} // namespace quillet::core
