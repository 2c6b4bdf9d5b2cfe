// The six operations applied to one whole text held in memory.
#pragma once

#include "core/byte_search.h"
#include "core/pattern.h"

#include <cstdint>
#include <string>
#include <string_view>

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

inline constexpr std::string_view kTagOpen = "{$";
inline constexpr std::string_view kTagClose = "}";

// Applies `operation` to `text`; result always receives the new text (equal
// to text when nothing matched). Returns whether at least one match was found
// for operations 0 to 3, and true always for 4 and 5, whose fixed recipes
// ignore pattern, newText, caseSensitive and isPattern.
//
// Matches never overlap: each search starts right after the previous match,
// and the new text is never searched again. Operation 0 stops at the first
// match and leaves the text as it is. maxCount > 0 limits the matches handled;
// any other value means no limit. With isPattern, newText is a template whose
// tagOpen + n + tagClose references are expanded per match (ExpandCaptures);
// otherwise it is inserted literally. An empty pattern finds nothing.
bool ProcessText(std::string& result, std::string_view text, std::uint8_t operation, std::string_view pattern,
                 bool caseSensitive, std::string_view newText, bool isPattern, std::string_view tagOpen,
                 std::string_view tagClose, std::int64_t maxCount);

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

bool ProcessText(TextSink& result, std::string_view text, std::uint8_t operation, std::string_view pattern,
                 bool caseSensitive, std::string_view newText, bool isPattern, std::string_view tagOpen,
                 std::string_view tagClose, std::int64_t maxCount);

// Whether pattern matches anywhere in text: the answer of ProcessText for
// Only Search, without building a result.
bool TextMatches(std::string_view text, std::string_view pattern, bool caseSensitive);

// Clean-up recipe for script-laden pages: strips the attributes of the first
// <body> tag, removes <link ...> tags and <script ... /script> elements (these
// two at most maxCount times each when maxCount > 0). Always true.
bool RemoveScripts(std::string& result, std::string_view text, std::int64_t maxCount);

// Clean-up recipe for pages saved by a word processor: rebuilds the head from
// its content type and title, and deletes inline styles, Office namespace
// tags, lang=EN-US, every <!...> construct and class attributes. Always true.
bool StripWordHtml(std::string& result, std::string_view text);

} // namespace quillet::core
