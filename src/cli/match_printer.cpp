#include "cli/match_printer.h"

#include "core/text_diff.h"
#include "core/text_lines.h"

#include <algorithm>

namespace quillet::cli {

namespace {

constexpr std::string_view kEnd = "\033[m\033[K";
constexpr std::string_view kNameColor = "\033[35m\033[K";
constexpr std::string_view kNumberColor = "\033[32m\033[K";
constexpr std::string_view kSeparatorColor = "\033[36m\033[K";
constexpr std::string_view kMatchColor = "\033[01;31m\033[K";
constexpr std::string_view kNewColor = "\033[01;32m\033[K";
constexpr std::string_view kCut = "[...]";
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

void MatchPrinter::separator() {
    if (m_style.Color)
        ((m_out += kSeparatorColor) += "--") += kEnd;
    else
        m_out += "--";
    m_out += '\n';
}

void MatchPrinter::line(std::string_view text, std::size_t start, std::size_t end, std::int64_t number, char sep,
                        const std::vector<Span>& marked, std::int64_t column) {
    const bool color = m_style.Color;
    auto field = [&](std::string_view value, std::string_view valueColor) {
        if (color)
            ((m_out += valueColor) += value) += kEnd;
        else
            m_out += value;
        if (color)
            ((m_out += kSeparatorColor) += sep) += kEnd;
        else
            m_out += sep;
    };
    field(m_name, kNameColor);
    field(std::to_string(number), kNumberColor);
    if (column > 0)
        field(std::to_string(column), kNumberColor);

    // The part shown: the whole line, or kCutWidth bytes around its first mark.
    std::size_t from = start;
    std::size_t to = end;
    if (end - start > kCutWidth) {
        const std::size_t anchor = marked.empty() ? start : marked.front().Start;
        from = anchor - std::min(kCutLead, anchor - start);
        to = std::min(end, from + kCutWidth);
        while (from > start && continues(text, from))
            --from;
        while (to < end && continues(text, to))
            ++to;
    }
    if (from > start)
        m_out += kCut;
    const std::string_view markColor = sep == '>' ? kNewColor : kMatchColor;
    std::size_t at = from;
    for (const Span& span : marked) {
        const std::size_t markFrom = std::clamp(span.Start, from, to);
        const std::size_t markTo = std::clamp(span.End, from, to);
        if (markFrom >= markTo)
            continue;
        m_out.append(text.substr(at, markFrom - at));
        if (color)
            ((m_out += markColor) += text.substr(markFrom, markTo - markFrom)) += kEnd;
        else
            m_out += text.substr(markFrom, markTo - markFrom);
        at = markTo;
    }
    m_out.append(text.substr(at, to - at));
    if (to < end)
        m_out += kCut;
    m_out += '\n';
    flushIfLarge();
}

void MatchPrinter::flushIfLarge() {
    if (m_out.size() >= std::size_t{16} * 1024) {
        m_write(m_out);
        m_out.clear();
    }
}

void MatchPrinter::print(std::string_view name, std::string_view text,
                         const std::vector<engine::MatchLocation>& matches) {
    m_name = name;
    if (matches.empty())
        return;
    if (core::LooksBinary(text)) {
        ((m_out += "quillet-cli: ") += name) += ": binary file matches\n";
        m_write(m_out);
        m_out.clear();
        return;
    }
    const bool context = m_style.Before > 0 || m_style.After > 0;
    LineWalk walk(text);
    std::vector<Span> marked;
    std::int64_t printed = 0;   // the last line printed of this file
    std::int64_t contextTo = 0; // after-context still due up to this line
    auto contextLines = [&](std::int64_t from, std::int64_t to) {
        for (std::int64_t n = std::max(from, printed + 1); n <= to && walk.go(n); ++n) {
            marked.clear();
            line(text, walk.start(), walk.end(), n, '-', marked, 0);
            printed = n;
        }
    };
    for (std::size_t i = 0; i < matches.size();) {
        // A block: the lines of matches that share or span lines.
        const std::int64_t first = matches[i].FirstLine;
        std::int64_t last = matches[i].LastLine;
        std::size_t j = i + 1;
        while (j < matches.size() && matches[j].FirstLine <= last)
            last = std::max(last, matches[j++].LastLine);

        contextLines(printed + 1, std::min(contextTo, first - 1));
        const std::int64_t groupStart = std::max(printed + 1, first - m_style.Before);
        if (context && m_printedAny && (printed == 0 || groupStart > printed + 1))
            separator();
        contextLines(groupStart, first - 1);
        m_printedAny = true;

        std::size_t k = i;
        std::size_t blockStart = 0;
        std::size_t blockEnd = 0;
        for (std::int64_t n = first; n <= last && walk.go(n); ++n) {
            const std::size_t start = walk.start();
            const std::size_t end = walk.end();
            if (n == first)
                blockStart = start;
            blockEnd = end;
            marked.clear();
            while (k < j && matches[k].LastLine < n)
                ++k;
            std::int64_t column = 0;
            for (std::size_t m = k; m < j && matches[m].Start <= end; ++m) {
                marked.push_back({std::max(matches[m].Start, start), std::min(matches[m].End, end)});
                if (column == 0 && m_style.Column)
                    column = matches[m].FirstLine == n ? matches[m].FirstColumn : 1;
            }
            line(text, start, end, n, ':', marked, column);
            printed = n;
        }
        if (m_style.Replacement) {
            // The block as the operation leaves it, its new text marked.
            std::string made;
            std::vector<Span> spans;
            std::size_t at = blockStart;
            for (std::size_t m = i; m < j; ++m) {
                made.append(text.substr(at, matches[m].Start - at));
                spans.push_back({made.size(), made.size() + matches[m].Replacement.size()});
                made += matches[m].Replacement;
                at = matches[m].End;
            }
            made.append(text.substr(at, std::max(at, blockEnd) - at));
            const std::string_view view = made;
            std::size_t start = 0;
            for (std::int64_t n = first;; ++n) {
                const std::size_t end = core::LineEndAt(view, start);
                marked.clear();
                for (const Span& span : spans)
                    if (span.Start <= end && span.End >= start)
                        marked.push_back({std::max(span.Start, start), std::min(span.End, end)});
                line(view, start, end, n, '>', marked, 0);
                if (end + 1 >= view.size()) // the line break closing the block is the old one's
                    break;
                start = end + 1;
            }
        }
        contextTo = last + m_style.After;
        i = j;
    }
    contextLines(printed + 1, contextTo);
    m_write(m_out);
    m_out.clear();
}

} // namespace quillet::cli
