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

// Lines visited in order, forward only: each step reads one line.
class LineWalk {
public:
    explicit LineWalk(std::string_view text) : m_text(text) {}
    // Moves to line `number` (not before the current one); false past the text's last line.
    bool go(std::int64_t number) {
        while (m_number < number && m_start < m_text.size()) {
            m_start = core::LineEndAt(m_text, m_start) + 1;
            ++m_number;
        }
        return m_number == number && m_start < m_text.size();
    }
    std::size_t start() const { return m_start; }
    std::size_t end() const { return core::LineEndAt(m_text, m_start); }

private:
    std::string_view m_text;
    std::int64_t m_number = 1;
    std::size_t m_start = 0;
};

} // namespace

TextSpan ShownPartOfLine(std::string_view text, std::size_t start, std::size_t end, std::size_t anchor) {
    QUILLET_ASSERT(start <= end && end <= text.size(), "the line lies within the text");
    if (end - start <= kShownLineWidth)
        return {start, end};
    anchor = std::clamp(anchor, start, end);
    std::size_t from = anchor - std::min(kCutLead, anchor - start);
    std::size_t to = std::min(end, from + kShownLineWidth);
    while (from > start && continues(text, from))
        --from;
    while (to < end && continues(text, to))
        ++to;
    return {from, to};
}

void ShowMatchLines(std::string_view text, const std::vector<MatchLocation>& matches, std::int64_t before,
                    std::int64_t after, MatchLineSink& sink) {
    LineWalk walk(text);
    std::vector<TextSpan> marks;
    std::int64_t shown = 0;     // the last line shown
    std::int64_t contextTo = 0; // after-context still due up to this line
    const auto contextLines = [&](std::int64_t from, std::int64_t to) {
        marks.clear();
        for (std::int64_t n = std::max(from, shown + 1); n <= to && walk.go(n); ++n) {
            sink.line(ShownLine{false, n, walk.start(), walk.end(), &marks, 0});
            shown = n;
        }
    };
    for (std::size_t i = 0; i < matches.size();) {
        const std::int64_t first = matches[i].FirstLine;
        std::int64_t last = matches[i].LastLine;
        std::size_t j = i + 1;
        while (j < matches.size() && matches[j].FirstLine <= last) {
            QUILLET_ASSERT(matches[j - 1].End <= matches[j].Start, "matches in order, not overlapping");
            last = std::max(last, matches[j++].LastLine);
        }
        QUILLET_ASSERT(first > shown || i == 0, "matches in order of their lines");
        contextLines(shown + 1, std::min(contextTo, first - 1));
        const std::int64_t groupStart = std::max(shown + 1, first - before);
        if (shown > 0 && groupStart > shown + 1)
            sink.gap();
        contextLines(groupStart, first - 1);

        std::size_t k = i;
        std::size_t blockStart = 0;
        std::size_t blockEnd = 0;
        for (std::int64_t n = std::max(first, shown + 1); n <= last && walk.go(n); ++n) {
            const std::size_t start = walk.start();
            const std::size_t end = walk.end();
            if (n == first)
                blockStart = start;
            blockEnd = end;
            while (k < j && matches[k].LastLine < n)
                ++k;
            marks.clear();
            std::int64_t column = 0;
            for (std::size_t m = k; m < j && matches[m].Start <= end; ++m) {
                marks.push_back({std::max(matches[m].Start, start), std::min(matches[m].End, end)});
                if (column == 0)
                    column = matches[m].FirstLine == n ? matches[m].FirstColumn : 1;
            }
            sink.line(ShownLine{true, n, start, end, &marks, column});
            shown = n;
        }
        sink.groupEnd(i, j, blockStart, blockEnd);
        contextTo = last + after;
        i = j;
    }
    contextLines(shown + 1, contextTo);
}

} // namespace quillet::engine
