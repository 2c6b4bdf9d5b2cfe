// '*' patterns: splitting, matching with captures (each pattern shape, the
// re-anchoring to the shortest match and its overlapping pieces), clamped
// capture copies and the expansion of "{$n}" references.
#include "core/pattern.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::core {
namespace {

using testref::quote;
using Strings = std::vector<std::string>;

std::string show(const Strings& list) {
    std::ostringstream out;
    out << "{";
    for (std::size_t i = 0; i < list.size(); ++i)
        out << (i ? ", " : "") << quote(list[i]);
    out << "}";
    return out.str();
}

std::string show(const TSubStrPosArray& ranges) {
    std::ostringstream out;
    out << "[";
    for (std::size_t i = 0; i < ranges.size(); ++i)
        out << (i ? ", " : "") << "(" << ranges[i].Pos << "," << ranges[i].Len << ")";
    out << "]";
    return out.str();
}

// ---------------------------------------------------------------------- Copy

TEST(CopyTest, Clamps) {
    struct Case {
        std::string_view s;
        Pos i;
        Pos n;
        std::string_view expected;
    };
    const Case cases[] = {
        {"abc", 1, 2, "ab"},  {"abc", 2, 1, "b"}, {"abc", 0, 2, "ab"}, // I below 1 counts as 1
        {"abc", -3, 2, "ab"}, {"abc", 3, 5, "c"}, {"abc", 1, 1000, "abc"}, {"abc", 4, 1, ""}, {"abc", 9, 0, ""},
        {"abc", 2, -1, ""},   {"abc", 0, -5, ""}, {"abc", 2, 0, ""},       {"", 1, 1, ""},    {"", 0, 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Copy(c.s, c.i, c.n), c.expected) << "Copy(" << quote(c.s) << ", " << c.i << ", " << c.n << ")";
}

// -------------------------------------------------------------- SplitByChars

TEST(SplitByCharsTest, Table) {
    struct Case {
        std::string_view text;
        std::string_view separators;
        bool keepEmpty;
        Strings expected;
    };
    const Case cases[] = {
        {"A**B", "*", false, {"A", "B"}},
        {"*A*B*", "*", false, {"A", "B"}},
        {"A**B", "*", true, {"A", "", "B"}},
        {"*A*B*", "*", true, {"", "A", "B"}}, // an empty final piece is never added
        {"**", "*", true, {"", ""}},
        {"**", "*", false, {}},
        {"*", "*", false, {}},
        {"", "*", true, {}},
        {"abc", "*", true, {"abc"}},
        {"a,b;c", ",;", false, {"a", "b", "c"}},
        {"a,;b", ",;", true, {"a", "", "b"}},
        {"<a*>*x", "*", false, {"<a", ">", "x"}},
    };
    for (const auto& c : cases) {
        CharSet set;
        for (char ch : c.separators)
            set.set(static_cast<unsigned char>(ch));
        Strings list = {"left", "over"}; // the list is cleared first
        SplitByChars(list, c.text, set, c.keepEmpty);
        EXPECT_EQ(list, c.expected) << "SplitByChars(" << quote(c.text) << ", " << quote(c.separators) << ", "
                                    << (c.keepEmpty ? "keep empty" : "drop empty") << ") gave " << show(list);
    }
}

// -------------------------------------------------------------- MatchPattern

struct MatchCase {
    std::string_view text;
    std::string_view pattern;
    Pos from;
    bool matched;
    Pos start = 0;
    Pos end = 0;
    Strings captures = {};
    bool caseSensitive = true;
    bool shortest = true;
    std::optional<TSubStrPosArray> ranges = std::nullopt; // the raw array, where it tells more
};

// Captures as ExpandCaptures sees them: every element but the last, copied
// with the clamping rule (start below 1 counts as 1, negative length empty).
Strings capturesOf(std::string_view text, const TSubStrPosArray& ranges) {
    Strings out;
    for (std::size_t i = 0; i + 1 < ranges.size(); ++i) {
        Pos pos = std::max<Pos>(ranges[i].Pos, 1);
        const Pos len = ranges[i].Len;
        const auto size = static_cast<Pos>(text.size());
        if (len <= 0 || pos > size)
            out.emplace_back();
        else
            out.emplace_back(text.substr(static_cast<std::size_t>(pos - 1),
                                         static_cast<std::size_t>(std::min(len, size - pos + 1))));
    }
    return out;
}

const MatchCase kMatchCases[] = {
    // No star.
    {"xxabcxx", "abc", 1, true, 3, 5, {}},
    {"xxabcxx", "abc", 4, false},
    {"xabcx", "ABC", 1, true, 2, 4, {}, false},
    {"xabcx", "ABC", 1, false, 0, 0, {}, true},
    // 'A*B*C': the gaps between pieces.
    {"abcabc", "a*c", 1, true, 1, 3, {"b"}},
    {"xa1b2cx", "a*b*c", 1, true, 2, 6, {"1", "2"}},
    {"ab", "a*b", 1, true, 1, 2, {""}},
    {"abc", "a*z", 1, false},
    // 'A*B*': the last capture runs to the end of the text; so does the match.
    {"xxAyy", "A*", 1, true, 3, 5, {"yy"}},
    {"xa1b2c", "a*b*", 1, true, 2, 6, {"1", "2c"}},
    {"abcabc", "a*", 3, true, 4, 6, {"bc"}},
    {"xxA", "A*", 1, true, 3, 3, {""}},
    // '*A*B': the text from the search start to the first piece comes first.
    {"xxAyy", "*A", 1, true, 1, 3, {"xx"}},
    {"xxAyy", "*A", 4, false},
    {"xAyAz", "*A", 3, true, 3, 4, {"y"}},
    {"xa1b2", "*a*b", 1, true, 1, 4, {"x", "1"}},
    {"Ab", "*a*b", 1, true, 1, 2, {"", ""}, false},
    // '*A*B*': the text after the last piece is not offered.
    {"xa1b2", "*a*b*", 1, true, 1, 5, {"x", "1"}, true, true, TSubStrPosArray{{1, 1}, {3, 1}, {5, 1}}},
    {"xayaz", "*a*", 3, true, 3, 5, {"y"}},
    // '*' alone: everything from the start position.
    {"abcde", "*", 1, true, 1, 5, {"abcde"}},
    {"abcde", "*", 3, true, 3, 5, {"cde"}},
    {"abcde", "*", 5, true, 5, 5, {"e"}},
    {"abcde", "*", 6, false},
    // Only stars but one: no pieces, never a match.
    {"abc", "**", 1, false},
    {"abc", "***", 2, false},
    {"*", "**", 1, false},
    // Nothing to search.
    {"", "abc", 1, false},
    {"", "*", 1, false},
    {"abc", "", 1, false},
    {"ab", "ab", 3, false},
    // Re-anchoring to the latest start before the same last piece.
    {"<b>x<b>y</b>", "<b>*</b>", 1, true, 5, 12, {"y"}},
    {"<b>x<b>y</b>", "<B>*</B>", 1, true, 5, 12, {"y"}, false},
    {"<b>x<b>y</b>", "<b>*</b>", 1, true, 1, 12, {"x<b>y"}, true, false}, // not shortest
    {"<b>x<b>y</b>", "*<b>*</b>", 1, true, 1, 12, {"<b>x", "y"}},
    {"<b>x<b>y</b>", "<b>*</b>*", 1, true, 5, 12, {"y", ""}},
    // The first piece's new occurrence must end by the last piece's start.
    {"xyz.xyz", "xyz*y", 1, true, 1, 6, {".x"}},
    // Middle pieces move back to their leftmost place after the first.
    {"a1a2b3b4c", "a*b*c", 1, true, 3, 9, {"2", "3b4"}},
    {"a1a2b3b4c", "a*b*c", 1, true, 1, 9, {"1a2", "3b4"}, true, false},
    // Overlapping pieces: gaps of length 0 and -1 read empty.
    {"ababba", "ab*b*ba", 1, true, 3, 6, {"", ""}, true, true, TSubStrPosArray{{5, 0}, {6, -1}, {7, 0}}},
    {"abab", "ab*b", 1, true, 3, 4, {""}, true, true, TSubStrPosArray{{5, -1}, {5, 0}}},
    // A middle piece not found again keeps the place the backward pass gave
    // it, so no capture reaches before the match.
    {"ababc", "ab*b*c", 1, true, 3, 5, {"", ""}, true, true, TSubStrPosArray{{5, -1}, {5, 0}, {6, 0}}},
    {"aaa", "a*a", 1, true, 1, 2, {""}},
};

TEST(MatchPatternTest, Table) {
    for (const auto& c : kMatchCases) {
        const CompiledPattern compiled = CompilePattern(c.pattern);
        for (bool viaCompiled : {false, true}) {
            std::ostringstream where;
            where << "MatchPattern(" << quote(c.text) << ", " << quote(c.pattern) << ", from " << c.from
                  << (c.caseSensitive ? "" : ", no case") << (c.shortest ? "" : ", not shortest")
                  << (viaCompiled ? ", compiled" : "") << ")";
            Pos start = -1;
            Pos end = -1;
            TSubStrPosArray ranges = {{99, 99}, {98, 98}, {97, 97}, {96, 96}, {95, 95}};
            const auto textLen = static_cast<Pos>(c.text.size());
            const bool got = viaCompiled ? MatchPattern(start, end, ranges, c.text, compiled, textLen, c.shortest,
                                                        c.from, c.caseSensitive, true)
                                         : MatchPattern(start, end, ranges, c.text, c.pattern, textLen, c.shortest,
                                                        c.from, c.caseSensitive, true);
            ASSERT_EQ(got, c.matched) << where.str();
            if (!c.matched)
                continue;
            EXPECT_EQ(start, c.start) << where.str();
            EXPECT_EQ(end, c.end) << where.str();
            EXPECT_EQ(ranges.size(), c.captures.size() + 1) << where.str() << " ranges " << show(ranges);
            const Strings caps = capturesOf(c.text, ranges);
            EXPECT_EQ(caps, c.captures) << where.str() << " captures " << show(caps) << ", ranges " << show(ranges);
            if (c.ranges) {
                EXPECT_EQ(show(ranges), show(*c.ranges)) << where.str();
            }
        }
    }
}

// Operation 0 asks for no captures. Then the span is where the pieces lie:
// the outer stars widen it to the search start and the text's end only when
// the captures are computed. A pattern without outer stars has the same span
// either way.
TEST(MatchPatternTest, SpanWithoutCaptures) {
    struct Case {
        std::string_view text;
        std::string_view pattern;
        Pos from;
        Pos start;
        Pos end;
    };
    const Case cases[] = {
        {"xxAyy", "A*", 1, 3, 3},
        {"xxAyy", "*A", 1, 3, 3},
        {"xayaz", "*a*", 3, 4, 4},
        {"xa1b2", "*a*b*", 1, 2, 4},
        {"<b>x<b>y</b>", "*<b>*</b>", 1, 5, 12},
        {"abcde", "*", 3, 3, 5},
    };
    for (const auto& c : cases) {
        Pos start = -1;
        Pos end = -1;
        TSubStrPosArray ranges;
        const std::string where = "MatchPattern(" + quote(c.text) + ", " + quote(c.pattern) + ", from " +
                                  std::to_string(c.from) + ", no captures)";
        ASSERT_TRUE(MatchPattern(start, end, ranges, c.text, c.pattern, static_cast<Pos>(c.text.size()), true, c.from,
                                 true, false))
            << where;
        EXPECT_EQ(start, c.start) << where;
        EXPECT_EQ(end, c.end) << where;
    }
    for (const auto& c : kMatchCases) {
        if (c.pattern.empty() || c.pattern.front() == '*' || c.pattern.back() == '*')
            continue;
        Pos start = -1;
        Pos end = -1;
        TSubStrPosArray ranges;
        const bool got = MatchPattern(start, end, ranges, c.text, c.pattern, static_cast<Pos>(c.text.size()),
                                      c.shortest, c.from, c.caseSensitive, false);
        const std::string where = "MatchPattern(" + quote(c.text) + ", " + quote(c.pattern) + ", from " +
                                  std::to_string(c.from) + ", no captures)";
        ASSERT_EQ(got, c.matched) << where;
        if (c.matched) {
            EXPECT_EQ(start, c.start) << where;
            EXPECT_EQ(end, c.end) << where;
        }
    }
}

// The match reported is the first one from `from`; walking a text match by
// match as the text operations do visits each in turn.
TEST(MatchPatternTest, SuccessiveMatches) {
    struct Case {
        std::string_view text;
        std::string_view pattern;
        std::vector<std::pair<Pos, Pos>> spans;
    };
    const Case cases[] = {
        {"<a href=1>x<a id=2>", "<a*>", {{1, 10}, {12, 19}}},
        {"href=a.htm href=b.htm", "href=*.htm", {{1, 10}, {12, 21}}},
        {"xAyAz", "*A", {{1, 2}, {3, 4}}},
        {"aaa", "a", {{1, 1}, {2, 2}, {3, 3}}},
        {"abcabc", "a*", {{1, 6}}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<Pos, Pos>> spans;
        Pos from = 1;
        TSubStrPosArray ranges;
        Pos start = 0;
        Pos end = 0;
        while (from <= static_cast<Pos>(c.text.size()) &&
               MatchPattern(start, end, ranges, c.text, c.pattern, static_cast<Pos>(c.text.size()), true, from, true,
                            true)) {
            spans.emplace_back(start, end);
            from = end + 1;
        }
        EXPECT_EQ(spans, c.spans) << quote(c.pattern) << " in " << quote(c.text);
    }
}

// ------------------------------------------------------------ ExpandCaptures

struct ExpandCase {
    std::string_view text;
    TSubStrPosArray ranges; // captures, then the one extra element
    std::string_view newText;
    std::string_view expected;
    std::string_view tagOpen = "{$";
    std::string_view tagClose = "}";
};

const TSubStrPosArray kXY = {{1, 1}, {2, 1}, {3, 0}}; // 'x', 'y' in "xy"

TSubStrPosArray oneBytePerCapture(Pos count) {
    TSubStrPosArray r;
    for (Pos i = 1; i <= count; ++i)
        r.push_back({i, 1});
    r.push_back({count + 1, 0});
    return r;
}

TEST(ExpandCapturesTest, Table) {
    const ExpandCase cases[] = {
        {"xy", kXY, "[{$2}|{$1}]", "[y|x]"},
        {"xy", kXY, "{$1}{$1}", "xx"},
        {"xy", kXY, "{{$1}}", "{x}"},
        {"xy", kXY, "{${$1}}", "{$x}"},
        {"xy", kXY, "{$1}{$2}{$3}", "xy{$3}"}, // no third capture: stays
        {"xy", kXY, "{$3}", "{$3}"},
        {"xy", kXY, "{$01}", "{$01}"}, // leading zero: not a reference
        {"xy", kXY, "{$0}", "{$0}"},
        {"xy", kXY, "{$}", "{$}"},
        {"xy", kXY, "{$-1}", "{$-1}"},
        {"xy", kXY, "{$+1}", "{$+1}"},
        {"xy", kXY, "{$ 1}", "{$ 1}"},
        {"xy", kXY, "{$1", "{$1"},
        {"xy", kXY, "$1}", "$1}"},
        {"xy", kXY, "{$$1}", "{$$1}"},
        {"xy", kXY, "plain", "plain"},
        {"xy", kXY, "", ""},
        {"xy", kXY, "{$2}{$2", "y{$2"},
        // Ten or more captures: "{$1}" never matches inside "{$10}".
        {"abcdefghijk", oneBytePerCapture(11), "{$10}|{$1}|{$11}", "j|a|k"},
        {"abcdefghijk", oneBytePerCapture(11), "{$12}{$010}", "{$12}{$010}"},
        {"abcdefghi", oneBytePerCapture(9), "{$1}{$10}", "a{$10}"},
        {"abcdefghi", oneBytePerCapture(9), "{$9}", "i"},
        // A captured reference is inserted as it stands, never read again.
        {"{$2}Z", {{1, 4}, {5, 1}, {6, 0}}, "{$1}-{$2}", "{$2}-Z"},
        {"{$2}Z", {{1, 4}, {5, 1}, {6, 0}}, "{$2}{$1}", "Z{$2}"},
        {"{$1}", {{1, 4}, {5, 0}}, "<{$1}>", "<{$1}>"},
        // Clamped copies: zero or negative lengths and positions past the end
        // read empty, a position below 1 counts as 1.
        {"abc",
         {{0, 0}, {3, -1}, {0, -5}, {0, 2}, {3, 5}, {9, 1}, {2, 0}, {0, 0}},
         "[{$1}|{$2}|{$3}|{$4}|{$5}|{$6}|{$7}]",
         "[|||ab|c||]"},
        // No captures at all.
        {"xy", {}, "{$1}", "{$1}"},
        {"xy", {{1, 1}}, "{$1}", "{$1}"},
        // Other tags.
        {"xy", kXY, "<<2>><<1>>", "yx", "<<", ">>"},
        {"xy", kXY, "{$1}<<1>", "{$1}<<1>", "<<", ">>"},
    };
    for (const auto& c : cases) {
        std::string result = "left over";
        ExpandCaptures(c.text, c.ranges, c.newText, c.tagOpen, c.tagClose, result);
        EXPECT_EQ(result, c.expected) << "ExpandCaptures(" << quote(c.text) << ", " << show(c.ranges) << ", "
                                      << quote(c.newText) << ", " << quote(c.tagOpen) << ", " << quote(c.tagClose)
                                      << ")";
    }
}

// Captures straight from MatchPattern, as the text operations use them.
TEST(ExpandCapturesTest, AfterMatchPattern) {
    struct Case {
        std::string_view text;
        std::string_view pattern;
        std::string_view newText;
        std::string_view expected;
    };
    const Case cases[] = {
        {"<a href=\"x\">", "<a href=\"*\">", "[{$1}]", "[x]"},
        {"k=v;", "*=*;", "{$2}={$1}", "v=k"},
        {"ababc", "ab*b*c", "[{$1}|{$2}]", "[|]"},
        {"xa1b2", "*a*b*", "{$1}{$2}{$3}", "x1{$3}"},
    };
    for (const auto& c : cases) {
        Pos start = 0;
        Pos end = 0;
        TSubStrPosArray ranges;
        ASSERT_TRUE(
            MatchPattern(start, end, ranges, c.text, c.pattern, static_cast<Pos>(c.text.size()), true, 1, true, true))
            << quote(c.pattern) << " in " << quote(c.text);
        std::string result;
        ExpandCaptures(c.text, ranges, c.newText, "{$", "}", result);
        EXPECT_EQ(result, c.expected) << quote(c.pattern) << " in " << quote(c.text) << ", new text "
                                      << quote(c.newText);
    }
}

// The thread keeps one prepared pattern; asked for others in turn (as a
// clean-up recipe's passes or a callback do), each answer must be the
// pattern asked for, and one still held must stay that pattern.
TEST(CompiledForThisThreadTest, EachAnswerIsThePatternAskedForWhateverWasAskedBefore) {
    const std::vector<std::string> asked = {"a*b", "a*b", "*", "", "a*b", "x**y*", "", "*"};
    const auto first = CompiledForThisThread(asked.front());
    for (const std::string& pattern : asked) {
        const auto compiled = CompiledForThisThread(pattern);
        const CompiledPattern fresh = CompilePattern(pattern);
        EXPECT_EQ(compiled->Text, pattern);
        EXPECT_EQ(compiled->Pieces, fresh.Pieces) << quote(pattern);
        EXPECT_EQ(compiled->LeadingStar, fresh.LeadingStar) << quote(pattern);
        EXPECT_EQ(compiled->Folded.size(), fresh.Folded.size()) << quote(pattern);
    }
    EXPECT_EQ(first->Text, "a*b");
    EXPECT_EQ(first->Pieces, (Strings{"a", "b"}));
}

} // namespace
} // namespace quillet::core
