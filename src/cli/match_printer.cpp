#include "cli/match_printer.h"

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

} // namespace

// Prints the lines engine::MatchLines picks, and after each group, for a
// writing operation, the same lines as the operation leaves them.
class MatchPrinter::Lines : public engine::MatchLineSink {
public:
    Lines(MatchPrinter& printer, std::string_view text)
        : m_printer(printer), m_text(text), m_shower(text, printer.m_style.Before, printer.m_style.After, *this) {}

    engine::MatchLines& shower() { return m_shower; }

    void gap() override {
        if (m_printer.m_style.Before > 0 || m_printer.m_style.After > 0)
            m_printer.separator();
    }

    void line(const engine::ShownLine& line) override {
        m_printer.line(m_text, line.Start, line.End, line.Number, line.IsMatch ? ':' : '-', *line.Marks,
                       m_printer.m_style.Column ? line.FirstColumn : 0);
    }

    void groupBegin(std::size_t blockStart, std::int64_t firstLine) override {
        m_firstLine = firstLine;
        m_made.clear();
        m_spans.clear();
        m_at = blockStart;
        m_anchor = kNoAnchor;
    }

    // A writing operation's group is built up as its matches come, as the
    // operation leaves it, its new text marked: of a line that grows past
    // what shows of it (one line of a million matches), only the marks that
    // can show are kept.
    void groupMatch(const engine::MatchLocation& match) override {
        if (!m_printer.m_style.Replacement)
            return;
        keep(m_text.substr(m_at, match.Start - m_at));
        const engine::TextSpan span{m_made.size(), m_made.size() + match.Replacement.size()};
        m_made += match.Replacement;
        m_at = match.End;
        // Marked in each line it touches: where it goes on past a line
        // break, it is the first mark of the line it ends in. An empty mark
        // shows nothing, but where it comes first, where its line is cut.
        const bool breaks = match.Replacement.find('\n') != std::string::npos;
        const bool first = m_anchor == kNoAnchor;
        const bool shows = !first && span.End > span.Start && span.Start - m_anchor < engine::kShownPastAnchor;
        if (first || shows || breaks)
            m_spans.push_back(span);
        if (first)
            m_anchor = span.Start;
        if (breaks)
            m_anchor = m_made.rfind('\n') + 1;
    }

    void groupEnd(std::size_t blockEnd) override {
        if (!m_printer.m_style.Replacement)
            return;
        keep(m_text.substr(m_at, std::max(m_at, blockEnd) - m_at));
        const std::string_view view = m_made;
        std::vector<engine::TextSpan> marked;
        std::size_t start = 0;
        for (std::int64_t n = m_firstLine;; ++n) {
            const std::size_t end = core::LineEndAt(view, start);
            marked.clear();
            for (const engine::TextSpan& span : m_spans)
                if (span.Start <= end && span.End >= start)
                    marked.push_back({std::max(span.Start, start), std::min(span.End, end)});
            m_printer.line(view, start, end, n, '>', marked, 0);
            if (end + 1 >= view.size()) // the line break closing the block is the old one's
                break;
            start = end + 1;
        }
        m_made.clear();
        m_spans.clear();
    }

private:
    MatchPrinter& m_printer;
    std::string_view m_text;
    engine::MatchLines m_shower;
    // Old text between matches, kept as it is; a line break in it begins a
    // line without a mark yet.
    void keep(std::string_view old) {
        m_made.append(old);
        if (old.find('\n') != std::string_view::npos)
            m_anchor = kNoAnchor;
    }

    static constexpr std::size_t kNoAnchor = static_cast<std::size_t>(-1);
    std::int64_t m_firstLine = 0;
    // A writing operation's group being printed: its text as the operation
    // leaves it so far, the marks of its new text, where the old text goes
    // on after the last match, and the first mark of the line being built.
    std::string m_made;
    std::vector<engine::TextSpan> m_spans;
    std::size_t m_at = 0;
    std::size_t m_anchor = kNoAnchor;
};

MatchPrinter::MatchPrinter(MatchStyle style, std::function<void(std::string_view)> write)
    : m_style(style), m_write(std::move(write)) {}

MatchPrinter::~MatchPrinter() = default;

void MatchPrinter::separator() {
    if (m_style.Color)
        ((m_out += kSeparatorColor) += "--") += kEnd;
    else
        m_out += "--";
    m_out += '\n';
}

void MatchPrinter::line(std::string_view text, std::size_t start, std::size_t end, std::int64_t number, char sep,
                        const std::vector<engine::TextSpan>& marked, std::int64_t column) {
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

    const engine::TextSpan part =
        engine::ShownPartOfLine(text, start, end, marked.empty() ? start : marked.front().Start);
    const std::size_t from = part.Start;
    const std::size_t to = part.End;
    if (from > start)
        m_out += kCut;
    const std::string_view markColor = sep == '>' ? kNewColor : kMatchColor;
    std::size_t at = from;
    for (const engine::TextSpan& span : marked) {
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

void MatchPrinter::begin(std::string_view name, std::string_view text) {
    m_name = name;
    m_text = text;
    m_started = false;
    m_binary = false;
    m_lines.reset();
}

void MatchPrinter::add(const engine::MatchLocation& match) {
    if (!m_started) {
        m_started = true;
        m_binary = core::LooksBinary(m_text);
        if (m_binary) {
            ((m_out += "quillet-cli: ") += m_name) += ": binary file matches\n";
            m_write(m_out);
            m_out.clear();
            return;
        }
        // A file's first group follows the files before it as any group does.
        if ((m_style.Before > 0 || m_style.After > 0) && m_printedAny)
            separator();
        m_printedAny = true;
        m_lines = std::make_unique<Lines>(*this, m_text);
    }
    if (!m_binary)
        m_lines->shower().add(match);
}

void MatchPrinter::end() {
    if (m_lines) {
        m_lines->shower().finish();
        m_lines.reset();
    }
    if (!m_out.empty())
        m_write(m_out);
    m_out.clear();
    m_started = false;
}

void MatchPrinter::print(std::string_view name, std::string_view text,
                         const std::vector<engine::MatchLocation>& matches) {
    begin(name, text);
    for (const engine::MatchLocation& match : matches)
        add(match);
    end();
}

} // namespace quillet::cli
