#include "core/line_marks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace quillet::core {
namespace {

// The line with each span in brackets: "x = [foo];".
std::string bracketed(std::string_view line, const std::vector<ByteSpan>& spans) {
    std::string out;
    std::size_t at = 0;
    for (const ByteSpan& span : spans) {
        out.append(line.substr(at, span.From - at));
        out += '[';
        out.append(line.substr(span.From, span.To - span.From));
        out += ']';
        at = span.To;
    }
    out.append(line.substr(at));
    return out;
}

TEST(SplitLineTokensTest, WordsSpacesAndSingleCharacters) {
    struct Case {
        std::string line;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"", {}},
        {"foo_1 bar", {"foo_1", " ", "bar"}},
        {"a,b  \t(c)", {"a", ",", "b", "  \t", "(", "c", ")"}},
        {"x\r", {"x", "\r"}},
        // Letters of any script make words; punctuation outside ASCII stays
        // one whole character.
        {"caf\xc3\xa9 \xce\xbb\xce\xbb", {"caf\xc3\xa9", " ", "\xce\xbb\xce\xbb"}},
        {"a\xe2\x80\x94\xe2\x80\x94"
         "b",
         {"a", "\xe2\x80\x94", "\xe2\x80\x94", "b"}},
        // Bytes that begin no valid sequence stand alone, even inside a word.
        {"ab\xff"
         "cd\xc3",
         {"ab", "\xff", "cd", "\xc3"}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string_view> got = SplitLineTokens(c.line);
        EXPECT_EQ(std::vector<std::string>(got.begin(), got.end()), c.tokens) << c.line;
    }
}

TEST(FindChangedSpansTest, MarksTheWordsThatDiffer) {
    struct Case {
        std::string oldLine;
        std::string newLine;
        std::string oldMarked;
        std::string newMarked;
    };
    const Case cases[] = {
        {"same", "same", "same", "same"},
        {"", "new", "", "[new]"},
        {"gone", "", "[gone]", ""},
        {"x = foo;", "x = bar;", "x = [foo];", "x = [bar];"},
        {"Foo FOO foo", "Bar BAR bar", "[Foo] [FOO] [foo]", "[Bar] [BAR] [bar]"},
        // Neighbouring changed tokens make one span.
        {"call(a, b)", "call(a.b)", "call(a[, ]b)", "call(a[.]b)"},
        {"one two", "one three two", "one two", "one [three ]two"},
        {"a b c", "a c", "a [b ]c", "a c"},
        {"href=\"http://x.org/a.htm\"", "href=\"https://x.org/a.html\"", "href=\"[http]://x.org/a.[htm]\"",
         "href=\"[https]://x.org/a.[html]\""},
        // A changed accent marks the whole word, never half a character.
        {"caf\xc3\xa9 au lait", "cafe au lait", "[caf\xc3\xa9] au lait", "[cafe] au lait"},
        {"\xe2\x80\x94x", "\xe2\x80\x93x", "[\xe2\x80\x94]x", "[\xe2\x80\x93]x"},
        {"line\r", "line", "line[\r]", "line"},
    };
    for (const Case& c : cases) {
        const ChangedSpans spans = FindChangedSpans(c.oldLine, c.newLine);
        EXPECT_EQ(bracketed(c.oldLine, spans.Old), c.oldMarked) << c.oldLine << " -> " << c.newLine;
        EXPECT_EQ(bracketed(c.newLine, spans.New), c.newMarked) << c.oldLine << " -> " << c.newLine;
    }
}

// Longest common subsequence of two token lists, the plain O(n·m) way.
std::size_t referenceLcs(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b) {
    std::vector<std::vector<std::size_t>> table(a.size() + 1, std::vector<std::size_t>(b.size() + 1, 0));
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j)
            table[i][j] = a[i - 1] == b[j - 1] ? table[i - 1][j - 1] + 1 : std::max(table[i - 1][j], table[i][j - 1]);
    return table[a.size()][b.size()];
}

// The tokens of `line` outside `spans`, in order; false when a span does not
// begin and end at token boundaries.
bool unmarkedTokens(std::string_view line, const std::vector<ByteSpan>& spans, std::vector<std::string_view>& out) {
    std::size_t next = 0;
    std::size_t offset = 0;
    for (std::string_view token : SplitLineTokens(line)) {
        const bool inSpan = next < spans.size() && offset >= spans[next].From && offset < spans[next].To;
        if (next < spans.size() && offset < spans[next].From && offset + token.size() > spans[next].From)
            return false;
        if (inSpan && offset + token.size() > spans[next].To)
            return false;
        if (!inSpan)
            out.push_back(token);
        offset += token.size();
        if (next < spans.size() && offset == spans[next].To)
            ++next;
    }
    return next == spans.size();
}

// On random lines from a small alphabet (many repeats, several scripts): the
// unmarked tokens are the same on both sides and as many as the longest
// common subsequence of tokens allows.
TEST(FindChangedSpansTest, KeepsALongestCommonSubsequenceOnRandomLines) {
    const std::vector<std::string> pieces = {"a", "b", "ab", " ", "  ", ",", "\xc3\xa9", "\xe2\x80\x94", "_", "x1"};
    std::mt19937 rng(2112);
    for (int round = 0; round < 3000; ++round) {
        std::string lines[2];
        for (std::string& line : lines) {
            const int count = static_cast<int>(rng() % 14);
            for (int i = 0; i < count; ++i)
                line += pieces[rng() % pieces.size()];
        }
        const ChangedSpans spans = FindChangedSpans(lines[0], lines[1]);
        std::vector<std::string_view> keptOld;
        std::vector<std::string_view> keptNew;
        ASSERT_TRUE(unmarkedTokens(lines[0], spans.Old, keptOld)) << lines[0];
        ASSERT_TRUE(unmarkedTokens(lines[1], spans.New, keptNew)) << lines[1];
        ASSERT_EQ(keptOld, keptNew) << lines[0] << " -> " << lines[1];
        ASSERT_EQ(keptOld.size(), referenceLcs(SplitLineTokens(lines[0]), SplitLineTokens(lines[1])))
            << lines[0] << " -> " << lines[1];
        for (const std::vector<ByteSpan>* side : {&spans.Old, &spans.New})
            for (std::size_t i = 1; i < side->size(); ++i)
                ASSERT_LT((*side)[i - 1].To, (*side)[i].From) << "spans touch";
    }
}

// Past the caps, the common ends are still found and the middle is one span.
TEST(FindChangedSpansTest, LongOrUnrelatedLinesMarkTheirMiddleWhole) {
    // Two changes far apart in a line past the length cap: one span from
    // the first to the last (below the cap they would be two).
    std::string middle;
    for (int i = 0; middle.size() <= kMaxDiffedLineBytes; ++i)
        middle += "w" + std::to_string(i) + " ";
    const std::string longOld = "head w " + middle + "w tail";
    const std::string longNew = "head v " + middle + "v tail";
    ChangedSpans spans = FindChangedSpans(longOld, longNew);
    ASSERT_EQ(spans.Old.size(), 1u);
    EXPECT_EQ(spans.Old[0], (ByteSpan{5, longOld.size() - 5}));

    std::string many;
    std::string others;
    for (std::size_t i = 0; i <= kMaxLineEdits; ++i) {
        many += "a" + std::to_string(i) + ";";
        others += "b" + std::to_string(i) + ";";
    }
    spans = FindChangedSpans("(" + many + ")", "(" + others + ")");
    ASSERT_EQ(spans.New.size(), 1u);
    EXPECT_EQ(spans.New[0], (ByteSpan{1, others.size()})); // the last ";" is common
}

TEST(PairChangedLinesTest, InOrderOrByLikeness) {
    using Pairs = std::vector<std::pair<std::size_t, std::size_t>>;
    struct Case {
        std::vector<std::string_view> removed;
        std::vector<std::string_view> added;
        Pairs pairs;
    };
    const Case cases[] = {
        {{"a", "b"}, {"x", "y"}, {{0, 0}, {1, 1}}},
        {{}, {"new"}, {}},
        {{"old"}, {}, {}},
        // One line became two: its likeness finds it.
        {{"int count = 0;"}, {"// the count", "long count = 0;"}, {{0, 1}}},
        {{"alpha beta gamma", "delta epsilon zeta"},
         {"alpha beta gamma!", "something else entirely", "delta epsilon zeta?"},
         {{0, 0}, {1, 2}}},
        // Nothing alike enough: no pair.
        {{"abc"}, {"xyz", "uvw"}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PairChangedLines(c.removed, c.added), c.pairs) << c.removed.size() << " -> " << c.added.size();
}

// Lines alike enough to pair, but too many or too long to weigh each against
// each: no pairs, quickly.
TEST(PairChangedLinesTest, LargeChangesGetNoPairs) {
    std::string line;
    while (line.size() < kMaxPairingWork / 4)
        line += "w ";
    const std::string other = line + "x";
    EXPECT_EQ(PairChangedLines({line}, {other, line}).size(), 0u);
    EXPECT_EQ(PairChangedLines({"a b c"}, {"a b c d", "xyz"}).size(), 1u);
    const std::vector<std::string_view> many(kMaxPairedLines + 1, "same words");
    const std::vector<std::string_view> fewer(kMaxPairedLines, "same words");
    EXPECT_EQ(PairChangedLines(many, fewer).size(), 0u);
}

} // namespace
} // namespace quillet::core
