// Which lines show a file's matches, and which part of a long line: the one
// rule that the command line's `--matches` listing and the window's matches
// view share, so that the two never group, number or cut differently.
//
// A group is the lines of matches that share or span lines; `before` and
// `after` context lines stand around each group, a context line shown once
// even when two groups want it, and a gap comes between two groups of the
// same text whose lines do not touch (as `grep -C` prints "--"). Lines are
// numbered and split by core/text_lines.h ("\n" ends a line; a "\r" before
// it belongs to the line). The text is read forward only, once.
#pragma once

#include "engine/run/prepare.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quillet::engine {

// A line longer than this many bytes is shown cut around its first match.
inline constexpr std::size_t kShownLineWidth = 300;

struct TextSpan {
    std::size_t Start = 0; // bytes [Start, End) of the text
    std::size_t End = 0;

    bool operator==(const TextSpan&) const = default;
};

// The part of the line [start, end) of `text` to show: the whole line, or,
// past kShownLineWidth bytes, that many bytes from a little before `anchor`
// (a match's start in the line; `start` for a context line), widened so as
// never to split a UTF-8 character. The caller writes "[...]" for each side
// left out.
TextSpan ShownPartOfLine(std::string_view text, std::size_t start, std::size_t end, std::size_t anchor);

struct ShownLine {
    bool IsMatch = false; // holds (a part of) a match; else a context line
    std::int64_t Number = 0;
    std::size_t Start = 0; // the line's bytes, without its "\n"
    std::size_t End = 0;
    // The parts of the matches that lie in the line, in order (empty for a
    // context line). Valid during the call only.
    const std::vector<TextSpan>* Marks = nullptr;
    // The column of the first match that starts in the line, or 1 when the
    // line only continues a match begun above; 0 for a context line.
    std::int64_t FirstColumn = 0;
};

class MatchLineSink {
public:
    virtual ~MatchLineSink() = default;
    // Between two groups of the text whose lines do not touch.
    virtual void gap() = 0;
    virtual void line(const ShownLine& line) = 0;
    // After the match lines of the group of matches [firstMatch, endMatch),
    // which span the text's bytes [blockStart, blockEnd) (from the start of
    // the group's first line to the end of its last, without its "\n"); its
    // after-context comes later.
    virtual void groupEnd(std::size_t /*firstMatch*/, std::size_t /*endMatch*/, std::size_t /*blockStart*/,
                          std::size_t /*blockEnd*/) {}
};

// Feeds `sink` the lines that show `matches` of `text` with their context.
// Precondition: `matches` in order, not overlapping, within `text`, their
// lines numbered by core/text_lines.h.
void ShowMatchLines(std::string_view text, const std::vector<MatchLocation>& matches, std::int64_t before,
                    std::int64_t after, MatchLineSink& sink);

} // namespace quillet::engine
