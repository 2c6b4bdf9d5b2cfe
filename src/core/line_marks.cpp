#include "core/line_marks.h"

#include "core/case_fold.h"
#include "core/checks.h"
#include "core/word_case.h"

#include <algorithm>
#include <cstdint>

namespace quillet::core {

// Implementation details only, past this point.
namespace detail {
namespace {

enum class TokenKind { Word, Space, Single };

bool isSpace(char32_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The kind of the character at `at` and its length in bytes; a byte that
// does not begin a valid UTF-8 sequence is a character of one byte.
TokenKind kindAt(std::string_view line, std::size_t at, std::size_t& length) {
    char32_t cp = 0;
    const int decoded = DecodeUtf8(line.data() + at, line.data() + line.size(), cp);
    if (decoded == 0) {
        length = 1;
        return TokenKind::Single;
    }
    length = static_cast<std::size_t>(decoded);
    if (isSpace(cp))
        return TokenKind::Space;
    return IsWordChar(cp) ? TokenKind::Word : TokenKind::Single;
}

using Tokens = std::vector<std::string_view>;

// Marks kept[i] for the tokens of a and b on a shortest edit script between
// them (Myers' greedy O((N+M)·D) search, with the frontier of every round
// kept for the way back); false, marking nothing, when that script needs
// more than maxEdits insertions and deletions.
bool markCommon(const Tokens& a, const Tokens& b, std::size_t maxEdits, std::vector<char>& keptA,
                std::vector<char>& keptB) {
    const auto n = static_cast<std::int64_t>(a.size());
    const auto m = static_cast<std::int64_t>(b.size());
    const std::int64_t most = std::min<std::int64_t>(n + m, static_cast<std::int64_t>(maxEdits));
    const std::int64_t offset = most + 1;
    std::vector<std::int64_t> v(static_cast<std::size_t>(2 * most + 3), 0);
    std::vector<std::vector<std::int64_t>> rounds;
    const auto at = [offset](std::vector<std::int64_t>& frontier, std::int64_t k) -> std::int64_t& {
        return frontier[static_cast<std::size_t>(k + offset)];
    };
    // Whether diagonal k's furthest point in a round comes from k + 1 (a
    // token of b inserted) rather than from k - 1 (a token of a deleted).
    const auto fromAbove = [&](std::vector<std::int64_t>& frontier, std::int64_t k, std::int64_t d) {
        return k == -d || (k != d && at(frontier, k - 1) < at(frontier, k + 1));
    };
    std::int64_t found = -1;
    for (std::int64_t d = 0; d <= most && found < 0; ++d) {
        for (std::int64_t k = -d; k <= d; k += 2) {
            std::int64_t x = fromAbove(v, k, d) ? at(v, k + 1) : at(v, k - 1) + 1;
            std::int64_t y = x - k;
            while (x < n && y < m && a[static_cast<std::size_t>(x)] == b[static_cast<std::size_t>(y)]) {
                ++x;
                ++y;
            }
            at(v, k) = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
        rounds.push_back(v);
    }
    if (found < 0)
        return false;
    std::int64_t x = n;
    std::int64_t y = m;
    const auto keepDiagonal = [&](std::int64_t toX, std::int64_t toY) {
        while (x > toX && y > toY) {
            --x;
            --y;
            keptA[static_cast<std::size_t>(x)] = 1;
            keptB[static_cast<std::size_t>(y)] = 1;
        }
    };
    for (std::int64_t d = found; d > 0; --d) {
        std::vector<std::int64_t>& before = rounds[static_cast<std::size_t>(d - 1)];
        const std::int64_t k = x - y;
        const std::int64_t fromK = fromAbove(before, k, d) ? k + 1 : k - 1;
        const std::int64_t fromX = at(before, fromK);
        const std::int64_t fromY = fromX - fromK;
        // The snake after the edit, then the edit itself.
        keepDiagonal(fromK == k + 1 ? fromX : fromX + 1, fromK == k + 1 ? fromY + 1 : fromY);
        x = fromX;
        y = fromY;
    }
    keepDiagonal(0, 0);
    return true;
}

// The byte spans of the tokens not kept, neighbours joined.
std::vector<ByteSpan> spansOf(std::string_view line, const Tokens& tokens, const std::vector<char>& kept) {
    std::vector<ByteSpan> spans;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (kept[i])
            continue;
        const auto from = static_cast<std::size_t>(tokens[i].data() - line.data());
        const std::size_t to = from + tokens[i].size();
        if (!spans.empty() && spans.back().To == from)
            spans.back().To = to;
        else
            spans.push_back({from, to});
    }
    return spans;
}

std::size_t markedBytes(const std::vector<ByteSpan>& spans) {
    std::size_t bytes = 0;
    for (const ByteSpan& span : spans)
        bytes += span.To - span.From;
    return bytes;
}

} // namespace
} // namespace detail

std::vector<std::string_view> SplitLineTokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    for (std::size_t start = 0; start < line.size();) {
        std::size_t length = 0;
        const detail::TokenKind kind = detail::kindAt(line, start, length);
        std::size_t end = start + length;
        if (kind != detail::TokenKind::Single) {
            while (end < line.size() && detail::kindAt(line, end, length) == kind)
                end += length;
        }
        tokens.push_back(line.substr(start, end - start));
        start = end;
    }
    return tokens;
}

ChangedSpans FindChangedSpans(std::string_view oldLine, std::string_view newLine) {
    if (oldLine == newLine)
        return {};
    const detail::Tokens a = SplitLineTokens(oldLine);
    const detail::Tokens b = SplitLineTokens(newLine);
    std::vector<char> keptA(a.size(), 0);
    std::vector<char> keptB(b.size(), 0);
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        keptA[head] = keptB[head] = 1;
        ++head;
    }
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        keptA[a.size() - 1 - tail] = keptB[b.size() - 1 - tail] = 1;
        ++tail;
    }
    if (oldLine.size() <= kMaxDiffedLineBytes && newLine.size() <= kMaxDiffedLineBytes) {
        const detail::Tokens middleA(a.begin() + static_cast<std::ptrdiff_t>(head),
                                     a.end() - static_cast<std::ptrdiff_t>(tail));
        const detail::Tokens middleB(b.begin() + static_cast<std::ptrdiff_t>(head),
                                     b.end() - static_cast<std::ptrdiff_t>(tail));
        std::vector<char> middleKeptA(middleA.size(), 0);
        std::vector<char> middleKeptB(middleB.size(), 0);
        if (detail::markCommon(middleA, middleB, kMaxLineEdits, middleKeptA, middleKeptB)) {
            std::copy(middleKeptA.begin(), middleKeptA.end(), keptA.begin() + static_cast<std::ptrdiff_t>(head));
            std::copy(middleKeptB.begin(), middleKeptB.end(), keptB.begin() + static_cast<std::ptrdiff_t>(head));
        }
    }
    return {detail::spansOf(oldLine, a, keptA), detail::spansOf(newLine, b, keptB)};
}

double LineSimilarity(std::string_view oldLine, std::string_view newLine) {
    const std::size_t total = oldLine.size() + newLine.size();
    if (total == 0)
        return 1.0;
    const ChangedSpans spans = FindChangedSpans(oldLine, newLine);
    const std::size_t marked = detail::markedBytes(spans.Old) + detail::markedBytes(spans.New);
    QUILLET_ASSERT(marked <= total, "the spans lie within the lines");
    return static_cast<double>(total - marked) / static_cast<double>(total);
}

std::vector<std::pair<std::size_t, std::size_t>> PairChangedLines(const std::vector<std::string_view>& removed,
                                                                  const std::vector<std::string_view>& added) {
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    const std::size_t r = removed.size();
    const std::size_t n = added.size();
    if (r == n) {
        for (std::size_t i = 0; i < r; ++i)
            pairs.emplace_back(i, i);
        return pairs;
    }
    if (r == 0 || n == 0 || r > kMaxPairedLines || n > kMaxPairedLines)
        return pairs;
    std::size_t bytes = 0;
    for (const std::vector<std::string_view>* side : {&removed, &added})
        for (std::string_view line : *side)
            bytes += line.size();
    if (std::max(r, n) * bytes > kMaxPairingWork)
        return pairs;
    // best[i][j]: the greatest summed similarity of pairs among the first i
    // removed and the first j added lines.
    const auto cell = [n](std::size_t i, std::size_t j) { return i * (n + 1) + j; };
    std::vector<double> similarity(r * n, 0.0);
    std::vector<double> best((r + 1) * (n + 1), 0.0);
    for (std::size_t i = 1; i <= r; ++i) {
        for (std::size_t j = 1; j <= n; ++j) {
            const double alike = LineSimilarity(removed[i - 1], added[j - 1]);
            similarity[(i - 1) * n + (j - 1)] = alike;
            double value = std::max(best[cell(i - 1, j)], best[cell(i, j - 1)]);
            if (alike >= kMinPairSimilarity)
                value = std::max(value, best[cell(i - 1, j - 1)] + alike);
            best[cell(i, j)] = value;
        }
    }
    for (std::size_t i = r, j = n; i > 0 && j > 0;) {
        const double alike = similarity[(i - 1) * n + (j - 1)];
        if (alike >= kMinPairSimilarity && best[cell(i, j)] == best[cell(i - 1, j - 1)] + alike) {
            pairs.emplace_back(i - 1, j - 1);
            --i;
            --j;
        } else if (best[cell(i, j)] == best[cell(i - 1, j)]) {
            --i;
        } else {
            --j;
        }
    }
    std::reverse(pairs.begin(), pairs.end());
    return pairs;
}

} // namespace quillet::core
