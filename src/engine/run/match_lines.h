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
// never to split a UTF-8 character (by at most its three continuation bytes
// on each side: a run of stray ones is cut anywhere). The caller writes
// "[...]" for each side left out.
TextSpan ShownPartOfLine(std::string_view text, std::size_t start, std::size_t end, std::size_t anchor);

// No byte of a line at or past its anchor + kShownPastAnchor shows: a mark
// that begins there need not be kept.
inline constexpr std::size_t kShownPastAnchor = kShownLineWidth + 3;

struct ShownLine {
    bool IsMatch = false; // holds (a part of) a match; else a context line
    std::int64_t Number = 0;
    std::size_t Start = 0; // the line's bytes, without its "\n"
    std::size_t End = 0;
    // The parts of the matches that lie in the line, in order (empty for a
    // context line), as far as the part of the line that shows: in a line
    // longer than kShownLineWidth, those that begin past ShownPartOfLine
    // (anchored at the first) are left out. Valid during the call only.
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
    // A group of matches begins, before its lines: `blockStart` is the
    // start of its first line, numbered `firstLine`.
    virtual void groupBegin(std::size_t /*blockStart*/, std::int64_t /*firstLine*/) {}
    // Each match of the group, in order, before the lines after its first
    // one; valid during the call only.
    virtual void groupMatch(const MatchLocation& /*match*/) {}
    // After the match lines of the group, whose last line ends (without its
    // "\n") at `blockEnd`; its after-context comes later.
    virtual void groupEnd(std::size_t /*blockEnd*/) {}
};

// Feeds a sink the lines that show the matches of `text` with their
// context, the matches given one by one as they are found: each line goes
// out as soon as no later match can touch it, and no more than the match
// before is kept, so that a file with millions of matches costs no more
// memory than one.
class MatchLines {
public:
    // `text` and `sink` are borrowed; `text` is read forward only, once.
    MatchLines(std::string_view text, std::int64_t before, std::int64_t after, MatchLineSink& sink);
    // Precondition: matches in order, not overlapping, within the text, their
    // lines numbered by core/text_lines.h.
    void add(const MatchLocation& match);
    // After the last match: the last group ends and its after-context goes out.
    void finish();

private:
    class LineWalk {
    public:
        explicit LineWalk(std::string_view text) : m_text(text) {}
        // Moves to line `number` (not before the current one); false past the
        // text's last line.
        bool go(std::int64_t number);
        std::size_t start() const { return m_start; }
        std::size_t end() const;

    private:
        std::string_view m_text;
        std::int64_t m_number = 1;
        std::size_t m_start = 0;
    };

    void contextLines(std::int64_t from, std::int64_t to);
    void beginGroup(std::int64_t first);
    void endGroup();
    // Shows the group's lines up to `last`, the pending one first.
    void showUntil(std::int64_t last);
    // Makes `number` the pending line, the first match touching it
    // deciding its column.
    void pend(std::int64_t number, std::int64_t column);
    void mark(std::size_t start, std::size_t end);

    std::string_view m_text;
    std::int64_t m_before;
    std::int64_t m_after;
    MatchLineSink& m_sink;
    LineWalk m_walk;
    std::vector<TextSpan> m_marks; // of the pending line
    std::int64_t m_shown = 0;      // the last line shown
    std::int64_t m_contextTo = 0;  // after-context still due up to this line
    bool m_inGroup = false;
    std::int64_t m_groupLast = 0; // the last line of the group so far
    std::size_t m_blockEnd = 0;
    // The line that later matches may still mark, not shown yet (0: none).
    std::int64_t m_pending = 0;
    std::size_t m_pendingStart = 0;
    std::size_t m_pendingEnd = 0;
    std::int64_t m_pendingColumn = 0;
    std::size_t m_shownTo = 0; // where the pending line's shown part ends, once it has a mark
    std::size_t m_lastEnd = 0; // the end of the match before, which may cover lines after its first
};

// Feeds `sink` the lines that show `matches` of `text` with their context,
// as MatchLines does.
void ShowMatchLines(std::string_view text, const std::vector<MatchLocation>& matches, std::int64_t before,
                    std::int64_t after, MatchLineSink& sink);

} // namespace quillet::engine
