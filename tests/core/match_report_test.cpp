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

class StringSink final : public TextSink {
public:
    std::string text;
    void clear() override { text.clear(); }
    void reserve(std::size_t) override {}
    void append(std::string_view bytes) override { text.append(bytes); }
};

// Each match as "start-end=replacement", the count, and the result.
struct Reported {
    std::vector<std::string> matches;
    std::int64_t count = 0;
    std::string result;
};

Reported process(std::string_view text, std::uint8_t operation, std::string_view pattern, std::string_view newText,
                 std::int64_t maxCount, bool observe = true, const MatchOptions& options = {}) {
    Reported reported;
    const MatchObserver observer = [&](const TextMatch& m) {
        reported.matches.push_back(std::to_string(m.Start) + "-" + std::to_string(m.End) + "=" +
                                   std::string(m.Replacement));
    };
    StringSink sink;
    ProcessText(sink, text, operation, pattern, true, newText, newText.find(kTagOpen) != std::string_view::npos,
                kTagOpen, kTagClose, maxCount, &reported.count, options, observe ? &observer : nullptr);
    reported.result = sink.text;
    return reported;
}

// Only Search, which stops at the first match otherwise, goes on to every one.
TEST(MatchReportTest, OnlySearchReportsEveryMatchUpToTheLimit) {
    EXPECT_EQ(process("a1a2a3", OpOnlySearch, "a", "", -1).matches, (std::vector<std::string>{"0-1=", "2-3=", "4-5="}));
    EXPECT_EQ(process("a1a2a3", OpOnlySearch, "a", "", 2).count, 2);
    EXPECT_EQ(process("<b>x</b>\n<b>y</b>", OpOnlySearch, "<b>*</b>", "", -1).matches,
              (std::vector<std::string>{"0-8=", "9-17="}));
    EXPECT_EQ(process("a1a2a3", OpOnlySearch, "a", "", -1).result, "a1a2a3");
}

// For the writing operations, the reported ranges with their replacements
// put in place rebuild the result, and observing changes neither the result
// nor the count.
TEST(MatchReportTest, RangesAndReplacementsRebuildTheResult) {
    EXPECT_EQ(process("ab ab", OpInsertBefore, "b", "<", -1).matches, (std::vector<std::string>{"1-2=<b", "4-5=<b"}));
    EXPECT_EQ(process("ab ab", OpInsertAfter, "a", ">", 1).matches, (std::vector<std::string>{"0-1=a>"}));
    std::mt19937 random(21);
    const std::string_view patterns[] = {"a", "ab", "a*b", "*b", "b*", "a*a*"};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (int i = static_cast<int>(random() % 16); i > 0; --i)
            text += "ab\nc"[random() % 4];
        const auto operation = static_cast<std::uint8_t>(1 + random() % 3);
        const std::string_view pattern = patterns[random() % std::size(patterns)];
        const std::int64_t maxCount = static_cast<std::int64_t>(random() % 4) - 1;
        const Reported seen = process(text, operation, pattern, "{$1}#", maxCount);
        const Reported plain = process(text, operation, pattern, "{$1}#", maxCount, false);
        std::string rebuilt;
        std::size_t at = 0;
        for (const std::string& m : seen.matches) {
            const std::size_t start = std::stoul(m);
            const std::size_t end = std::stoul(m.substr(m.find('-') + 1));
            (rebuilt += text.substr(at, start - at)) += m.substr(m.find('=') + 1);
            at = end;
        }
        rebuilt += text.substr(at);
        const std::string what = text + " / " + std::string(pattern) + " op " + std::to_string(operation);
        EXPECT_EQ(seen.result, plain.result) << what;
        EXPECT_EQ(rebuilt, plain.result) << what;
        EXPECT_EQ(seen.count, plain.count) << what;
        EXPECT_EQ(static_cast<std::int64_t>(seen.matches.size()), seen.count) << what;
    }
}

MatchOptions selecting(std::vector<bool> selection) {
    MatchOptions options;
    options.Selection = std::move(selection);
    return options;
}

// A selection applies the matches it names, by number in the text's order,
// and leaves the others as they were, uncounted.
TEST(MatchSelectionTest, AppliesOnlyTheSelectedMatches) {
    struct Case {
        std::uint8_t operation;
        std::string_view text, pattern;
        std::int64_t maxCount;
        std::vector<bool> selection;
        std::string_view result;
        std::int64_t count;
    } cases[] = {
        {OpReplaceText, "a1a2a3", "a", -1, {true, false, true}, "#1a2#3", 2},
        {OpReplaceText, "a1a2a3", "a", -1, {false, true}, "a1#2a3", 1}, // past the vector: not selected
        {OpReplaceText, "a1a2a3", "a", -1, {}, "a1a2a3", 0},
        {OpReplaceText, "a1a2a3", "a", 2, {false, true, true}, "a1#2a3", 1}, // the limit counts every match found
        {OpInsertBefore, "<b>x</b><b>y</b>", "<b>*</b>", -1, {false, true}, "<b>x</b>#<b>y</b>", 1},
        {OpInsertAfter, "ab ab", "b", -1, {true, false}, "ab# ab", 1},
        {OpOnlySearch, "a1a2", "a", -1, {false, false}, "a1a2", 2}, // Only Search ignores it
    };
    for (const Case& c : cases) {
        const Reported got = process(c.text, c.operation, c.pattern, "#", c.maxCount, true, selecting(c.selection));
        EXPECT_EQ(got.result, c.result) << c.text << " / " << c.pattern;
        EXPECT_EQ(got.count, c.count) << c.text << " / " << c.pattern;
        EXPECT_EQ(static_cast<std::int64_t>(got.matches.size()), c.count) << c.text << " / " << c.pattern;
    }
}

// Every match selected gives exactly the plain run; any selection gives the
// plain run's selected matches put in place, the others left as they were.
TEST(MatchSelectionTest, RandomSelectionsAgreeWithThePlainRun) {
    std::mt19937 random(2121);
    const std::string_view patterns[] = {"a", "ab", "a*b", "*b", "b*", "a*a*", "A"};
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int i = static_cast<int>(random() % 16); i > 0; --i)
            text += "abA \nc"[random() % 6];
        const auto operation = static_cast<std::uint8_t>(1 + random() % 3);
        const std::string_view pattern = patterns[random() % std::size(patterns)];
        const std::int64_t maxCount = static_cast<std::int64_t>(random() % 4) - 1;
        MatchOptions options;
        options.WholeWord = random() % 3 == 0;
        options.KeepCase = random() % 2 == 0;
        const std::string_view newText = random() % 2 == 0 ? "{$1}#" : "x";
        const std::string what = text + " / " + std::string(pattern) + " op " + std::to_string(operation);
        const Reported plain = process(text, operation, pattern, newText, maxCount, true, options);

        options.Selection = std::vector<bool>(plain.matches.size(), true);
        const Reported all = process(text, operation, pattern, newText, maxCount, true, options);
        EXPECT_EQ(all.result, plain.result) << what;
        EXPECT_EQ(all.count, plain.count) << what;
        EXPECT_EQ(all.matches, plain.matches) << what;

        std::vector<bool> selection;
        std::vector<std::string> chosen;
        std::string expected;
        std::size_t at = 0;
        for (const std::string& m : plain.matches) {
            selection.push_back(random() % 2 == 0);
            if (!selection.back())
                continue;
            chosen.push_back(m);
            const std::size_t start = std::stoul(m);
            (expected += text.substr(at, start - at)) += m.substr(m.find('=') + 1);
            at = std::stoul(m.substr(m.find('-') + 1));
        }
        expected += text.substr(at);
        options.Selection = selection;
        const Reported some = process(text, operation, pattern, newText, maxCount, true, options);
        EXPECT_EQ(some.result, expected) << what;
        EXPECT_EQ(some.count, static_cast<std::int64_t>(chosen.size())) << what;
        EXPECT_EQ(some.matches, chosen) << what;
    }
}

TEST(TextLinesTest, LinesAndColumns) {
    struct Case {
        std::string_view text;
        std::size_t offset;
        std::int64_t line, bytes, characters; // line and columns
    } cases[] = {
        {"abc", 2, 1, 3, 3},      {"a\nb", 1, 1, 2, 2}, // the line break belongs to its line
        {"a\r\nb", 2, 1, 3, 3},                         // "\r" is a byte of the line
        {"a\n\n\nb", 4, 4, 1, 1}, {"x\n\xE2\x82\xAC\xE2\x82\xAC!", 8, 2, 7, 3},
    };
    for (const Case& c : cases) {
        LineCounter lines(c.text);
        EXPECT_EQ(lines.seek(c.offset), c.line) << c.text << " @" << c.offset;
        EXPECT_EQ(ColumnAt(c.text, lines.lineStart(), c.offset, false), c.bytes) << c.text << " @" << c.offset;
        EXPECT_EQ(ColumnAt(c.text, lines.lineStart(), c.offset, true), c.characters) << c.text << " @" << c.offset;
    }
}

} // namespace
} // namespace quillet::core
