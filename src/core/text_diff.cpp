#include "core/text_diff.h"

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

// A text cut into lines; each line keeps its "\n", the last may lack one.
class Lines {
public:
    explicit Lines(std::string_view text) : m_text(text) {
        std::size_t start = 0;
        while (start < text.size()) {
            m_starts.push_back(start);
            const void* nl = std::memchr(text.data() + start, '\n', text.size() - start);
            if (nl == nullptr)
                break;
            start = static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) + 1;
        }
    }
    std::size_t count() const { return m_starts.size(); }
    std::string_view line(std::size_t i) const {
        const std::size_t end = i + 1 < m_starts.size() ? m_starts[i + 1] : m_text.size();
        return m_text.substr(m_starts[i], end - m_starts[i]);
    }
    // The index of the line that starts at `offset`, or count() for the end
    // of the text. Precondition: offset is one of the two.
    std::size_t indexAt(std::size_t offset) const {
        return static_cast<std::size_t>(std::lower_bound(m_starts.begin(), m_starts.end(), offset) - m_starts.begin());
    }

private:
    std::string_view m_text;
    std::vector<std::size_t> m_starts;
};

// Old lines [OldBegin, OldEnd) became new lines [NewBegin, NewEnd); the lines
// between two edits are equal, as many in both texts.
struct Edit {
    std::size_t OldBegin, OldEnd, NewBegin, NewEnd;
};

// Adds the edits that turn old lines [a0, a1) into new lines [b0, b1).
void diffLines(const Lines& a, std::size_t a0, std::size_t a1, const Lines& b, std::size_t b0, std::size_t b1,
               std::vector<Edit>& edits) {
    while (a0 < a1 && b0 < b1 && a.line(a0) == b.line(b0)) {
        ++a0;
        ++b0;
    }
    while (a0 < a1 && b0 < b1 && a.line(a1 - 1) == b.line(b1 - 1)) {
        --a1;
        --b1;
    }
    if (a0 == a1 && b0 == b1)
        return;
    const std::size_t n = a1 - a0;
    const std::size_t m = b1 - b0;
    if (n == 0 || m == 0 || n > kMaxLcsCells / m) {
        edits.push_back({a0, a1, b0, b1});
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
    bool open = false;
    while (i < n || j < m) {
        if (i < n && j < m && x[i] == y[j]) {
            open = false;
            ++i;
            ++j;
            continue;
        }
        if (!open)
            edits.push_back({a0 + i, a0 + i, b0 + j, b0 + j});
        open = true;
        if (j == m || (i < n && at(i + 1, j) >= at(i, j + 1)))
            edits.back().OldEnd = a0 + ++i;
        else
            edits.back().NewEnd = b0 + ++j;
    }
}

bool lineStart(std::string_view text, std::size_t offset) {
    return offset == 0 || text[offset - 1] == '\n';
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
// line start shared by both texts joins the gaps around it.
void diffAroundKept(const std::vector<KeptStretch>& kept, std::string_view oldText, std::string_view newText,
                    const Lines& a, const Lines& b, std::vector<Edit>& edits) {
    std::size_t oldFrom = 0;
    std::size_t newFrom = 0;
    auto region = [&](std::size_t oldTo, std::size_t newTo) {
        if (oldTo > oldFrom || newTo > newFrom)
            diffLines(a, a.indexAt(oldFrom), a.indexAt(oldTo), b, b.indexAt(newFrom), b.indexAt(newTo), edits);
    };
    for (const KeptStretch& s : kept) {
        if (s.Length == 0)
            continue;
        const char* bytes = oldText.data() + s.OldOffset;
        const bool endsBoth = s.OldOffset + s.Length == oldText.size() && s.NewOffset + s.Length == newText.size();
        // First and last offsets into the stretch that are line starts (or
        // the ends) of both texts; inside the stretch the bytes are equal.
        std::size_t first = 0;
        if (!(lineStart(oldText, s.OldOffset) && lineStart(newText, s.NewOffset))) {
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
            last = first;
            for (std::size_t k = s.Length; k > first; --k) {
                if (bytes[k - 1] == '\n') {
                    last = k;
                    break;
                }
            }
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

void writeHunks(HunkWriter& writer, const std::vector<Edit>& edits, const Lines& a, const Lines& b) {
    for (std::size_t i = 0; i < edits.size();) {
        std::size_t j = i;
        while (j + 1 < edits.size() && edits[j + 1].OldBegin - edits[j].OldEnd <= 2 * kContextLines)
            ++j;
        const std::size_t before = std::min(kContextLines, edits[i].OldBegin - (i == 0 ? 0 : edits[i - 1].OldEnd));
        const std::size_t after =
            std::min(kContextLines, (j + 1 == edits.size() ? a.count() : edits[j + 1].OldBegin) - edits[j].OldEnd);
        writer.header(edits[i].OldBegin - before, edits[j].OldEnd + after, edits[i].NewBegin - before,
                      edits[j].NewEnd + after);
        for (std::size_t k = edits[i].OldBegin - before; k < edits[i].OldBegin; ++k)
            writer.line(' ', a.line(k));
        for (std::size_t e = i; e <= j; ++e) {
            for (std::size_t k = edits[e].OldBegin; k < edits[e].OldEnd; ++k)
                writer.line('-', a.line(k));
            for (std::size_t k = edits[e].NewBegin; k < edits[e].NewEnd; ++k)
                writer.line('+', b.line(k));
            const std::size_t contextEnd = e < j ? edits[e + 1].OldBegin : edits[e].OldEnd + after;
            for (std::size_t k = edits[e].OldEnd; k < contextEnd; ++k)
                writer.line(' ', a.line(k));
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
    const detail::Lines a(oldText);
    const detail::Lines b(newText);
    std::vector<detail::Edit> edits;
    if (kept != nullptr && detail::fits(*kept, oldText, newText))
        detail::diffAroundKept(*kept, oldText, newText, a, b, edits);
    else
        detail::diffLines(a, 0, a.count(), b, 0, b.count(), edits);
    if (edits.empty())
        return;
    detail::HunkWriter writer(out, color);
    writer.meta("--- " + std::string(oldLabel));
    writer.meta("+++ " + std::string(newLabel));
    detail::writeHunks(writer, edits, a, b);
}

} // namespace quillet::core
