#include "core/text_diff.h"

#include "core/text_lines.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace quillet::core {

void KeptStretchRecorder::clear() {
    m_inner.clear();
    m_newOffset = 0;
    m_stretches.clear();
}

void KeptStretchRecorder::append(std::string_view bytes) {
    m_inner.append(bytes);
    m_newOffset += bytes.size();
}

void KeptStretchRecorder::keep(std::string_view piece) {
    m_inner.keep(piece);
    if (piece.empty())
        return;
    const auto oldOffset = static_cast<std::size_t>(piece.data() - m_input.data());
    if (!m_stretches.empty()) {
        KeptStretch& last = m_stretches.back();
        if (last.OldOffset + last.Length == oldOffset && last.NewOffset + last.Length == m_newOffset) {
            last.Length += piece.size();
            m_newOffset += piece.size();
            return;
        }
    }
    m_stretches.push_back({oldOffset, m_newOffset, piece.size()});
    m_newOffset += piece.size();
}

bool LooksBinary(std::string_view text) {
    return text.substr(0, kBinaryProbeBytes).find('\0') != std::string_view::npos;
}

// Implementation details only, past this point.
namespace detail {
namespace {

constexpr std::size_t kContextLines = 3;
// Pairs of lines the general diff may weigh against each other (4 bytes each).
constexpr std::size_t kMaxLcsCells = std::size_t{4} << 20;

// Lines [from, to) of a text, numbered from firstLine: `from` is a line start
// and `to` a line start or the end of the text. Each line keeps its "\n";
// the last line of the text may lack one.
class Lines {
public:
    Lines(std::string_view text, std::size_t from, std::size_t to, std::size_t firstLine)
        : m_text(text), m_to(to), m_firstLine(firstLine) {
        for (std::size_t start = from; start < to;) {
            m_starts.push_back(start);
            const void* nl = std::memchr(text.data() + start, '\n', to - start);
            if (nl == nullptr)
                break;
            start = static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) + 1;
        }
    }
    std::size_t count() const { return m_starts.size(); }
    // Line i's number in the whole text (0-based) and where it starts; for
    // i == count(), the line after the last and `to`.
    std::size_t number(std::size_t i) const { return m_firstLine + i; }
    std::size_t offset(std::size_t i) const { return i < m_starts.size() ? m_starts[i] : m_to; }
    std::string_view line(std::size_t i) const { return m_text.substr(offset(i), offset(i + 1) - offset(i)); }

private:
    std::string_view m_text;
    std::size_t m_to;
    std::size_t m_firstLine;
    std::vector<std::size_t> m_starts;
};

// Old lines [OldBegin, OldEnd), bytes [OldFrom, OldTo), became new lines
// [NewBegin, NewEnd), bytes [NewFrom, NewTo). The lines between two edits
// are equal, as many in both texts.
struct Edit {
    std::size_t OldBegin, OldEnd, NewBegin, NewEnd;
    std::size_t OldFrom, OldTo, NewFrom, NewTo;
};

// Adds the edits that turn the lines of `a` into those of `b`.
void diffLines(const Lines& a, const Lines& b, std::vector<Edit>& edits) {
    std::size_t a0 = 0;
    std::size_t b0 = 0;
    std::size_t a1 = a.count();
    std::size_t b1 = b.count();
    while (a0 < a1 && b0 < b1 && a.line(a0) == b.line(b0)) {
        ++a0;
        ++b0;
    }
    while (a0 < a1 && b0 < b1 && a.line(a1 - 1) == b.line(b1 - 1)) {
        --a1;
        --b1;
    }
    auto add = [&](std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
        edits.push_back({a.number(i0), a.number(i1), b.number(j0), b.number(j1), a.offset(i0), a.offset(i1),
                         b.offset(j0), b.offset(j1)});
    };
    if (a0 == a1 && b0 == b1)
        return;
    const std::size_t n = a1 - a0;
    const std::size_t m = b1 - b0;
    // One line against one (the usual replacement within a line) needs no
    // table: after the trimming they differ.
    if (n == 0 || m == 0 || (n == 1 && m == 1) || n > kMaxLcsCells / m) {
        add(a0, a1, b0, b1);
        return;
    }
    // Equal lines get equal numbers, so the table compares numbers.
    std::unordered_map<std::string_view, std::uint32_t> numbers;
    std::vector<std::uint32_t> x(n);
    std::vector<std::uint32_t> y(m);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = numbers.emplace(a.line(a0 + i), static_cast<std::uint32_t>(numbers.size())).first->second;
    for (std::size_t j = 0; j < m; ++j)
        y[j] = numbers.emplace(b.line(b0 + j), static_cast<std::uint32_t>(numbers.size())).first->second;
    // lcs[i * (m + 1) + j]: longest common subsequence of x[i..] and y[j..].
    std::vector<std::uint32_t> lcs((n + 1) * (m + 1), 0);
    auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& { return lcs[i * (m + 1) + j]; };
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;)
            at(i, j) = x[i] == y[j] ? at(i + 1, j + 1) + 1 : std::max(at(i + 1, j), at(i, j + 1));
    std::size_t i = 0;
    std::size_t j = 0;
    auto matches = [&] { return i < n && j < m && x[i] == y[j]; };
    while (i < n || j < m) {
        if (matches()) {
            ++i;
            ++j;
            continue;
        }
        const std::size_t si = i;
        const std::size_t sj = j;
        while ((i < n || j < m) && !matches()) {
            if (j == m || (i < n && at(i + 1, j) >= at(i, j + 1)))
                ++i;
            else
                ++j;
        }
        add(a0 + si, a0 + i, b0 + sj, b0 + j);
    }
}

// Whether the record describes the texts: in range, in order, equal bytes.
bool fits(const std::vector<KeptStretch>& kept, std::string_view oldText, std::string_view newText) {
    std::size_t oldEnd = 0;
    std::size_t newEnd = 0;
    for (const KeptStretch& s : kept) {
        if (s.OldOffset < oldEnd || s.NewOffset < newEnd || s.Length > oldText.size() - s.OldOffset ||
            s.Length > newText.size() - s.NewOffset ||
            oldText.compare(s.OldOffset, s.Length, newText.substr(s.NewOffset, s.Length)) != 0)
            return false;
        oldEnd = s.OldOffset + s.Length;
        newEnd = s.NewOffset + s.Length;
    }
    return true;
}

// The edits between the kept stretches: each gap between two stretches,
// widened to whole lines, is diffed on its own. A stretch that holds no
// whole line, in the same place in both texts, joins the gaps around it.
// Line numbers are counted on the way, so the work stays linear.
void diffAroundKept(const std::vector<KeptStretch>& kept, std::string_view oldText, std::string_view newText,
                    std::vector<Edit>& edits) {
    std::size_t oldFrom = 0;
    std::size_t newFrom = 0;
    std::size_t oldCounted = 0; // line breaks before oldCounted: oldLines
    std::size_t oldLines = 0;
    std::size_t newCounted = 0;
    std::size_t newLines = 0;
    auto lineAt = [](std::string_view text, std::size_t offset, std::size_t& counted, std::size_t& lines) {
        const char* at = text.data() + counted;
        const char* const end = text.data() + offset;
        while (const void* nl = std::memchr(at, '\n', static_cast<std::size_t>(end - at))) {
            ++lines;
            at = static_cast<const char*>(nl) + 1;
        }
        counted = offset;
        return lines;
    };
    auto region = [&](std::size_t oldTo, std::size_t newTo) {
        if (oldTo == oldFrom && newTo == newFrom)
            return;
        const Lines a(oldText, oldFrom, oldTo, lineAt(oldText, oldFrom, oldCounted, oldLines));
        const Lines b(newText, newFrom, newTo, lineAt(newText, newFrom, newCounted, newLines));
        diffLines(a, b, edits);
    };
    for (const KeptStretch& s : kept) {
        if (s.Length == 0)
            continue;
        const char* bytes = oldText.data() + s.OldOffset;
        const bool endsBoth = s.OldOffset + s.Length == oldText.size() && s.NewOffset + s.Length == newText.size();
        // First and last offsets into the stretch that are line starts (or
        // the ends) of both texts; inside the stretch the bytes are equal.
        std::size_t first = 0;
        if (!(IsLineStart(oldText, s.OldOffset) && IsLineStart(newText, s.NewOffset))) {
            const void* nl = std::memchr(bytes, '\n', s.Length);
            if (nl != nullptr)
                first = static_cast<std::size_t>(static_cast<const char*>(nl) - bytes) + 1;
            else if (endsBoth)
                first = s.Length;
            else
                continue;
        }
        std::size_t last = s.Length;
        if (!endsBoth && bytes[s.Length - 1] != '\n') {
            const void* nl = memrchr(bytes + first, '\n', s.Length - first);
            last = nl == nullptr ? first : static_cast<std::size_t>(static_cast<const char*>(nl) - bytes) + 1;
        }
        // Without a whole line of its own the stretch only joins two
        // changes, which then show as one, as `diff` shows them.
        if (last == first)
            continue;
        region(s.OldOffset + first, s.NewOffset + first);
        oldFrom = s.OldOffset + last;
        newFrom = s.NewOffset + last;
    }
    region(oldText.size(), newText.size());
}

// The line that starts at `offset`, with its line break.
std::string_view lineAt(std::string_view text, std::size_t offset) {
    const std::size_t nl = text.find('\n', offset);
    return text.substr(offset, nl == std::string_view::npos ? std::string_view::npos : nl + 1 - offset);
}

// Where a block of removed (or added) lines could as well stand lower down,
// because the line after it repeats its first, `diff` shows it as low as it
// goes ("a a b" to "a b" removes the second "a"); this does the same, and
// joins blocks that come to touch.
void slideDown(std::vector<Edit>& edits, std::string_view oldText, std::string_view newText) {
    for (std::size_t k = 0; k < edits.size(); ++k) {
        Edit& e = edits[k];
        const bool removal = e.NewFrom == e.NewTo;
        if (removal == (e.OldFrom == e.OldTo)) // both sides or neither: nothing to slide
            continue;
        const std::string_view side = removal ? oldText : newText;
        std::size_t& from = removal ? e.OldFrom : e.NewFrom;
        std::size_t& to = removal ? e.OldTo : e.NewTo;
        std::size_t& still = removal ? e.NewFrom : e.OldFrom; // the empty side
        const std::size_t limit =
            k + 1 < edits.size() ? (removal ? edits[k + 1].OldFrom : edits[k + 1].NewFrom) : side.size();
        while (to < limit) {
            const std::string_view head = lineAt(side, from);
            const std::string_view next = lineAt(side, to);
            if (head != next)
                break;
            from += head.size();
            to += next.size();
            still += next.size();
            ++e.OldBegin;
            ++e.OldEnd;
            ++e.NewBegin;
            ++e.NewEnd;
        }
        (removal ? e.NewTo : e.OldTo) = still;
    }
    std::size_t kept = 0;
    for (std::size_t k = 0; k < edits.size(); ++k) {
        if (kept > 0 && edits[kept - 1].OldTo == edits[k].OldFrom && edits[kept - 1].NewTo == edits[k].NewFrom) {
            Edit& joined = edits[kept - 1];
            joined.OldEnd = edits[k].OldEnd;
            joined.NewEnd = edits[k].NewEnd;
            joined.OldTo = edits[k].OldTo;
            joined.NewTo = edits[k].NewTo;
        } else {
            edits[kept++] = edits[k];
        }
    }
    edits.resize(kept);
}

constexpr std::string_view kBold = "\033[1m";
constexpr std::string_view kCyan = "\033[36m";
constexpr std::string_view kRed = "\033[31m";
constexpr std::string_view kGreen = "\033[32m";
constexpr std::string_view kReset = "\033[m";

class HunkWriter {
public:
    HunkWriter(std::string& out, DiffColor color) : m_out(out), m_color(color == DiffColor::Ansi) {}

    void meta(std::string_view text) {
        paint(kBold);
        m_out += text;
        paint(kReset);
        m_out += '\n';
    }

    void header(std::size_t oldBegin, std::size_t oldEnd, std::size_t newBegin, std::size_t newEnd) {
        paint(kCyan);
        m_out += "@@ -";
        range(oldBegin, oldEnd);
        m_out += " +";
        range(newBegin, newEnd);
        m_out += " @@";
        paint(kReset);
        m_out += '\n';
    }

    void line(char mark, std::string_view text) {
        const bool broken = !text.empty() && text.back() == '\n';
        if (broken)
            text.remove_suffix(1);
        const std::string_view colour = mark == '-' ? kRed : mark == '+' ? kGreen : std::string_view();
        if (!colour.empty())
            paint(colour);
        m_out += mark;
        m_out += text;
        if (!colour.empty())
            paint(kReset);
        m_out += '\n';
        if (!broken)
            m_out += "\\ No newline at end of file\n";
    }

    // Each line of text[from, to), with `mark` in front.
    void lines(char mark, std::string_view text, std::size_t from, std::size_t to) {
        while (from < to) {
            const std::size_t nl = text.find('\n', from);
            const std::size_t end = nl == std::string_view::npos || nl >= to ? to : nl + 1;
            line(mark, text.substr(from, end - from));
            from = end;
        }
    }

private:
    // "l" for one line, "l,0" (l: the line before) for none, else "l,n".
    void range(std::size_t begin, std::size_t end) {
        const std::size_t count = end - begin;
        m_out += std::to_string(count == 0 ? begin : begin + 1);
        if (count != 1) {
            m_out += ',';
            m_out += std::to_string(count);
        }
    }
    void paint(std::string_view code) {
        if (m_color)
            m_out += code;
    }

    std::string& m_out;
    bool m_color;
};

// Where the line `count` lines before the line that starts at `offset`
// starts; there are that many.
std::size_t linesBack(std::string_view text, std::size_t offset, std::size_t count) {
    for (; count > 0; --count) {
        const std::size_t nl = offset >= 2 ? text.rfind('\n', offset - 2) : std::string_view::npos;
        offset = nl == std::string_view::npos ? 0 : nl + 1;
    }
    return offset;
}

// Where up to `count` lines after `offset` end, and how many there are.
std::size_t linesAhead(std::string_view text, std::size_t offset, std::size_t count, std::size_t& found) {
    for (found = 0; found < count && offset < text.size(); ++found) {
        const std::size_t nl = text.find('\n', offset);
        offset = nl == std::string_view::npos ? text.size() : nl + 1;
    }
    return offset;
}

void writeHunks(HunkWriter& writer, const std::vector<Edit>& edits, std::string_view oldText,
                std::string_view newText) {
    for (std::size_t i = 0; i < edits.size();) {
        std::size_t j = i;
        while (j + 1 < edits.size() && edits[j + 1].OldBegin - edits[j].OldEnd <= 2 * kContextLines)
            ++j;
        const Edit& first = edits[i];
        const Edit& last = edits[j];
        const std::size_t before = std::min(kContextLines, first.OldBegin - (i == 0 ? 0 : edits[i - 1].OldEnd));
        std::size_t after = 0;
        const std::size_t afterEnd = linesAhead(oldText, last.OldTo, kContextLines, after);
        writer.header(first.OldBegin - before, last.OldEnd + after, first.NewBegin - before, last.NewEnd + after);
        writer.lines(' ', oldText, linesBack(oldText, first.OldFrom, before), first.OldFrom);
        for (std::size_t e = i; e <= j; ++e) {
            writer.lines('-', oldText, edits[e].OldFrom, edits[e].OldTo);
            writer.lines('+', newText, edits[e].NewFrom, edits[e].NewTo);
            writer.lines(' ', oldText, edits[e].OldTo, e < j ? edits[e + 1].OldFrom : afterEnd);
        }
        i = j + 1;
    }
}

} // namespace
} // namespace detail

void WriteUnifiedDiff(std::string& out, std::string_view oldLabel, std::string_view newLabel, std::string_view oldText,
                      std::string_view newText, const std::vector<KeptStretch>* kept, DiffColor color) {
    if (oldText == newText)
        return;
    if (LooksBinary(oldText) || LooksBinary(newText)) {
        out += "Binary files ";
        out += oldLabel;
        out += " and ";
        out += newLabel;
        out += " differ\n";
        return;
    }
    std::vector<detail::Edit> edits;
    if (kept != nullptr && detail::fits(*kept, oldText, newText))
        detail::diffAroundKept(*kept, oldText, newText, edits);
    else
        detail::diffLines(detail::Lines(oldText, 0, oldText.size(), 0), detail::Lines(newText, 0, newText.size(), 0),
                          edits);
    if (edits.empty())
        return;
    detail::slideDown(edits, oldText, newText);
    detail::HunkWriter writer(out, color);
    writer.meta("--- " + std::string(oldLabel));
    writer.meta("+++ " + std::string(newLabel));
    detail::writeHunks(writer, edits, oldText, newText);
}

} // namespace quillet::core
