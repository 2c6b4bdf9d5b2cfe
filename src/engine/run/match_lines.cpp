#include "engine/run/match_lines.h"

#include "core/checks.h"
#include "core/text_lines.h"

#include <algorithm>

namespace quillet::engine {

namespace {

// How much of a cut line stands before its first match.
constexpr std::size_t kCutLead = 100;

bool continues(std::string_view text, std::size_t at) {
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
}

} // namespace

TextSpan ShownPartOfLine(std::string_view text, std::size_t start, std::size_t end, std::size_t anchor) {
    QUILLET_ASSERT(start <= end && end <= text.size(), "the line lies within the text");
    if (end - start <= kShownLineWidth)
        return {start, end};
    anchor = std::clamp(anchor, start, end);
    std::size_t from = anchor - std::min(kCutLead, anchor - start);
    std::size_t to = std::min(end, from + kShownLineWidth);
    for (int widened = 0; widened < 3 && from > start && continues(text, from); ++widened)
        --from;
    for (int widened = 0; widened < 3 && to < end && continues(text, to); ++widened)
        ++to;
    return {from, to};
}

bool MatchLines::LineWalk::go(std::int64_t number) {
    while (m_number < number && m_start < m_text.size()) {
        m_start = core::LineEndAt(m_text, m_start) + 1;
        ++m_number;
    }
    return m_number == number && m_start < m_text.size();
}

std::size_t MatchLines::LineWalk::end() const {
    return core::LineEndAt(m_text, m_start);
}

MatchLines::MatchLines(std::string_view text, std::int64_t before, std::int64_t after, MatchLineSink& sink)
    : m_text(text), m_before(before), m_after(after), m_sink(sink), m_walk(text) {}

void MatchLines::contextLines(std::int64_t from, std::int64_t to) {
    m_marks.clear();
    for (std::int64_t n = std::max(from, m_shown + 1); n <= to && m_walk.go(n); ++n) {
        m_sink.line(ShownLine{false, n, m_walk.start(), m_walk.end(), &m_marks, 0});
        m_shown = n;
    }
}

void MatchLines::beginGroup(std::int64_t first) {
    contextLines(m_shown + 1, std::min(m_contextTo, first - 1));
    const std::int64_t groupStart = std::max(m_shown + 1, first - m_before);
    if (m_shown > 0 && groupStart > m_shown + 1)
        m_sink.gap();
    contextLines(groupStart, first - 1);
    m_inGroup = true;
    m_groupLast = first;
    m_blockEnd = 0;
    m_sink.groupBegin(m_walk.go(first) ? m_walk.start() : 0, first);
}

void MatchLines::showUntil(std::int64_t last) {
    if (m_pending == 0 || m_pending > last)
        return;
    m_sink.line(ShownLine{true, m_pending, m_pendingStart, m_pendingEnd, &m_marks, m_pendingColumn});
    m_shown = m_pending;
    m_blockEnd = m_pendingEnd;
    m_pending = 0;
}

void MatchLines::endGroup() {
    showUntil(m_groupLast);
    m_sink.groupEnd(m_blockEnd);
    m_contextTo = m_groupLast + m_after;
    m_inGroup = false;
}

void MatchLines::pend(std::int64_t number, std::int64_t column) {
    m_pending = number;
    m_pendingStart = m_walk.start();
    m_pendingEnd = m_walk.end();
    m_pendingColumn = column;
    m_marks.clear();
}

void MatchLines::mark(std::size_t start, std::size_t end) {
    const TextSpan span{std::max(start, m_pendingStart), std::min(end, m_pendingEnd)};
    if (m_marks.empty())
        m_shownTo = ShownPartOfLine(m_text, m_pendingStart, m_pendingEnd, span.Start).End;
    else if (span.Start > m_shownTo)
        return; // past what shows of a long line: millions may follow
    m_marks.push_back(span);
}

void MatchLines::add(const MatchLocation& match) {
    QUILLET_ASSERT(match.Start <= match.End && match.End <= m_text.size() && match.FirstLine <= match.LastLine,
                   "a match within the text");
    QUILLET_ASSERT(match.Start >= m_lastEnd && match.FirstLine >= std::max(m_pending, m_shown),
                   "matches in order, not overlapping");
    if (m_inGroup && match.FirstLine > m_groupLast)
        endGroup();
    if (!m_inGroup)
        beginGroup(match.FirstLine);
    m_sink.groupMatch(match);
    showUntil(match.FirstLine - 1);
    if (m_pending != match.FirstLine) {
        if (!m_walk.go(match.FirstLine))
            return;
        pend(match.FirstLine, match.FirstColumn);
    }
    mark(match.Start, match.End);
    // The lines after its first are its own, up to its last, which the
    // next match may share.
    for (std::int64_t n = match.FirstLine + 1; n <= match.LastLine; ++n) {
        showUntil(n - 1);
        if (!m_walk.go(n))
            break;
        pend(n, 1);
        mark(match.Start, match.End);
    }
    m_lastEnd = match.End;
    m_groupLast = std::max(m_groupLast, match.LastLine);
}

void MatchLines::finish() {
    if (m_inGroup)
        endGroup();
    contextLines(m_shown + 1, m_contextTo);
}

void ShowMatchLines(std::string_view text, const std::vector<MatchLocation>& matches, std::int64_t before,
                    std::int64_t after, MatchLineSink& sink) {
    MatchLines lines(text, before, after, sink);
    for (const MatchLocation& match : matches)
        lines.add(match);
    lines.finish();
}

} // namespace quillet::engine
