// The matches ProcessText reports to an observer, and the line and column
// rule of text_lines.h that numbers them.
#include "core/text_lines.h"
#include "core/text_ops.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace quillet::core {
namespace {

struct Reported {
    std::vector<std::string> matches; // "start-end=replacement"
    std::int64_t count = 0;
    std::string result;
};

class StringSink final : public TextSink {
public:
    std::string text;
    void clear() override { text.clear(); }
    void reserve(std::size_t) override {}
    void append(std::string_view bytes) override { text.append(bytes); }
};

Reported process(std::string_view text, std::uint8_t operation, std::string_view pattern, std::string_view newText,
                 std::int64_t maxCount, bool observe = true) {
    Reported reported;
    const MatchObserver observer = [&](const TextMatch& m) {
        reported.matches.push_back(std::to_string(m.Start) + "-" + std::to_string(m.End) + "=" +
                                   std::string(m.Replacement));
    };
    StringSink sink;
    ProcessText(sink, text, operation, pattern, true, newText, newText.find(kTagOpen) != std::string_view::npos,
                kTagOpen, kTagClose, maxCount, &reported.count, observe ? &observer : nullptr);
    reported.result = sink.text;
    return reported;
}

TEST(MatchReportTest, EachMatchWithWhatTakesItsPlace) {
    struct Case {
        std::string_view text;
        std::uint8_t operation;
        std::string_view pattern, newText;
        std::int64_t maxCount;
        std::vector<std::string> expected;
    } cases[] = {
        // Only Search goes on to every match, up to the limit, replacing nothing.
        {"a1a2a3", OpOnlySearch, "a", "", -1, {"0-1=", "2-3=", "4-5="}},
        {"a1a2a3", OpOnlySearch, "a", "", 2, {"0-1=", "2-3="}},
        {"xyz", OpOnlySearch, "a", "", -1, {}},
        {"<b>x</b>\n<b>y</b>", OpOnlySearch, "<b>*</b>", "", -1, {"0-8=", "9-17="}},
        {"one\ntwo", OpOnlySearch, "e*t", "", -1, {"2-5="}},
        // The writing operations: the new text, captures expanded, the match
        // kept around it by the inserts.
        {"ab ab", OpReplaceText, "a*", "[{$1}]", -1, {"0-5=[b ab]"}},
        {"ab ab", OpReplaceText, "a", "X", 1, {"0-1=X"}},
        {"ab ab", OpInsertBefore, "b", "<", -1, {"1-2=<b", "4-5=<b"}},
        {"ab ab", OpInsertAfter, "a", ">", -1, {"0-1=a>", "3-4=a>"}},
        {"aaa", OpReplaceText, "a", "aa", -1, {"0-1=aa", "1-2=aa", "2-3=aa"}},
    };
    for (const Case& c : cases) {
        const Reported reported = process(c.text, c.operation, c.pattern, c.newText, c.maxCount);
        EXPECT_EQ(reported.matches, c.expected) << c.text << " / " << c.pattern;
        EXPECT_EQ(reported.count, static_cast<std::int64_t>(c.expected.size())) << c.text << " / " << c.pattern;
    }
}

// What the observer sees is what the operation did: the result is the text
// with each reported range replaced by its replacement, and observing
// changes neither the result nor, for the writing operations, the count.
TEST(MatchReportTest, RangesAndReplacementsRebuildTheResult) {
    std::mt19937 random(21);
    const std::string_view patterns[] = {"a", "ab", "a*b", "*b", "b*", "a*a*"};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (int i = static_cast<int>(random() % 16); i > 0; --i)
            text += "ab\nc"[random() % 4];
        const auto operation = static_cast<std::uint8_t>(1 + random() % 3);
        const std::string_view pattern = patterns[random() % std::size(patterns)];
        const std::int64_t maxCount = static_cast<std::int64_t>(random() % 4) - 1;
        std::vector<TextMatch> seen;
        std::vector<std::string> replacements;
        const MatchObserver observer = [&](const TextMatch& m) {
            seen.push_back(m);
            replacements.emplace_back(m.Replacement);
        };
        StringSink sink;
        std::int64_t count = 0;
        ProcessText(sink, text, operation, pattern, true, "{$1}#", true, kTagOpen, kTagClose, maxCount, &count,
                    &observer);
        const Reported plain = process(text, operation, pattern, "{$1}#", maxCount, false);
        std::string rebuilt;
        std::size_t at = 0;
        for (std::size_t i = 0; i < seen.size(); ++i) {
            rebuilt += text.substr(at, seen[i].Start - at);
            rebuilt += replacements[i];
            at = seen[i].End;
        }
        rebuilt += text.substr(at);
        const std::string what = text + " / " + std::string(pattern) + " op " + std::to_string(operation);
        EXPECT_EQ(sink.text, plain.result) << what;
        EXPECT_EQ(rebuilt, plain.result) << what;
        EXPECT_EQ(count, plain.count) << what;
        EXPECT_EQ(static_cast<std::int64_t>(seen.size()), count) << what;
    }
}

TEST(TextLinesTest, LinesAndColumns) {
    struct Case {
        std::string_view text;
        std::size_t offset;
        std::int64_t line;
        std::int64_t bytes, characters; // columns
    } cases[] = {
        {"abc", 0, 1, 1, 1},
        {"abc", 2, 1, 3, 3},
        {"a\nb", 1, 1, 2, 2}, // the line break belongs to its line
        {"a\nb", 2, 2, 1, 1},
        {"a\r\nb", 2, 1, 3, 3}, // "\r" is a byte of the line
        {"a\n\n\nb", 4, 4, 1, 1},
        {"\xC3\xA9t\xC3\xA9", 3, 1, 4, 3}, // "été": the second é is the third character
        {"x\n\xE2\x82\xAC\xE2\x82\xAC!", 8, 2, 7, 3},
    };
    for (const Case& c : cases) {
        LineCounter lines(c.text);
        EXPECT_EQ(lines.seek(c.offset), c.line) << c.text << " @" << c.offset;
        EXPECT_EQ(ColumnAt(c.text, lines.lineStart(), c.offset, false), c.bytes) << c.text << " @" << c.offset;
        EXPECT_EQ(ColumnAt(c.text, lines.lineStart(), c.offset, true), c.characters) << c.text << " @" << c.offset;
        EXPECT_EQ(IsLineStart(c.text, c.offset), c.bytes == 1) << c.text << " @" << c.offset;
    }
    EXPECT_EQ(LineEndAt("ab\ncd", 0), 2U);
    EXPECT_EQ(LineEndAt("ab\ncd", 3), 5U);
}

} // namespace
} // namespace quillet::core
