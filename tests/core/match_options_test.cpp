// Whole words and kept case in the text operations, case by case: which
// matches count, what the new text becomes, and that every operation and
// Only Search agree on the matches.
#include "core/text_ops.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quillet::core {
namespace {

using testref::quote;

class StringSink final : public TextSink {
public:
    void clear() override { out.clear(); }
    void reserve(std::size_t) override {}
    void append(std::string_view bytes) override { out.append(bytes); }
    std::string out;
};

const MatchOptions kWord{true, false, {}};
const MatchOptions kKeep{false, true, {}};

struct OptionsCase {
    std::string_view text;
    std::uint8_t operation;
    std::string_view pattern;
    std::string_view newText;
    bool isPattern;
    bool caseSensitive;
    MatchOptions options;
    std::int64_t maxCount;
    std::string_view expected;
    std::int64_t matches;
};

TEST(MatchOptionsTest, Table) {
    const OptionsCase cases[] = {
        // Whole words: letters, digits and '_' join a word; other characters do not.
        {"cat concat cat_ cat1 2cat cat.", OpReplaceText, "cat", "dog", false, true, kWord, -1,
         "dog concat cat_ cat1 2cat dog.", 2},
        {"cat concat cat", OpReplaceText, "cat", "dog", false, true, kWord, 1, "dog concat cat", 1},
        {"concat cat cat", OpReplaceText, "cat", "dog", false, true, kWord, 1, "concat dog cat", 1},
        {"CAT conCat Cat", OpReplaceText, "cat", "dog", false, false, kWord, -1, "dog conCat dog", 2},
        {"cat concat", OpInsertBefore, "cat", "<", false, true, kWord, -1, "<cat concat", 1},
        {"concat cat", OpInsertAfter, "cat", ">", false, true, kWord, -1, "concat cat>", 1},
        {"concat cat", OpOnlySearch, "cat", "", false, true, kWord, -1, "concat cat", 1},
        {"concat", OpOnlySearch, "cat", "", false, true, kWord, -1, "concat", 0},
        // Unicode letters, marks and digits are word characters; a dash is not.
        {"écat caté кот котик cat\u0301 cat", OpReplaceText, "кот", "X", false, true, kWord, -1,
         "écat caté X котик cat\u0301 cat", 1},
        {"écat caté cat\u0301 cat\u2014cat cat\u0663", OpReplaceText, "cat", "X", false, true, kWord, -1,
         "écat caté cat\u0301 X\u2014X cat\u0663", 2},
        // A byte that is not UTF-8 counts as a letter, and a match that
        // ends inside a character is no whole word.
        {"caf\xE9 caf", OpReplaceText, "caf", "X", false, true, kWord, -1, "caf\xE9 X", 1},
        {"\xC3\xA9", OpReplaceText, "\xC3", "X", false, true, kWord, -1, "\xC3\xA9", 0},
        // An end that is not a word character only must not split a word beside it.
        {"x(foo)y (foo)", OpReplaceText, "(foo)", "[]", false, true, kWord, -1, "x[]y []", 2},
        {"a foo afoo", OpReplaceText, " foo", "_", false, true, kWord, -1, "a_ afoo", 1},
        // Star patterns: the match's own ends count, past a star as well.
        {"ba z az", OpReplaceText, "a*z", "X", false, true, kWord, -1, "ba z X", 1},
        {"foobar", OpReplaceText, "*bar", "X", false, true, kWord, -1, "X", 1},
        {"bar foo", OpReplaceText, "foo*", "X", false, true, kWord, -1, "bar X", 1},
        {"k=vv; xk=v;", OpReplaceText, "k=*;", "[{$1}]", true, true, kWord, -1, "[vv] xk=v;", 1},

        // Kept case: lower, upper and capitalised matches; anything else as written.
        {"foo Foo FOO fOO FoO", OpReplaceText, "foo", "bar", false, false, kKeep, -1, "bar Bar BAR bar bar", 5},
        {"foo Foo FOO fOO", OpReplaceText, "foo", "baR", false, false, kKeep, -1, "bar Bar BAR baR", 4},
        {"I i", OpReplaceText, "i", "we", false, false, kKeep, -1, "We we", 2},
        {"ab_1 AB_1", OpReplaceText, "ab_1", "c-d", false, false, kKeep, -1, "c-d C-D", 2},
        {"42", OpReplaceText, "42", "Big", false, false, kKeep, -1, "Big", 1},
        {"élan Élan ÉLAN", OpReplaceText, "élan", "été", false, false, kKeep, -1, "été Été ÉTÉ", 3},
        {"Foo", OpReplaceText, "foo", "\u01C6x", false, false, kKeep, -1, "\u01C5x", 1}, // title case, not upper
        // Captures are copied as they stand; the written text takes the case.
        {"Foo bar;", OpReplaceText, "foo *;", "baz {$1}!", true, false, kKeep, -1, "Baz bar!", 1},
        {"1=Foo", OpReplaceText, "*=foo", "{$1}=bar", true, false, kKeep, -1, "1=Bar", 1},
        {"AB=FOO", OpReplaceText, "*=foo", "{$1}:{$9}x", true, false, kKeep, -1, "AB:{$9}X", 1},
        // Replace Text only.
        {"Foo", OpInsertAfter, "foo", "bar", false, false, kKeep, -1, "Foobar", 1},
        {"Foo", OpInsertBefore, "foo", "bar", false, false, kKeep, -1, "barFoo", 1},
        // Both.
        {"Cat concat CAT", OpReplaceText, "cat", "dog", false, false, {true, true, {}}, -1, "Dog concat DOG", 2},
    };
    for (const auto& c : cases) {
        StringSink result;
        std::int64_t matches = -5;
        const bool matched = ProcessText(result, c.text, c.operation, c.pattern, c.caseSensitive, c.newText,
                                         c.isPattern, kTagOpen, kTagClose, c.maxCount, &matches, c.options);
        const std::string where = "ProcessText(" + quote(c.text) + ", op " + std::to_string(c.operation) + ", " +
                                  quote(c.pattern) + ", " + quote(c.newText) + (c.caseSensitive ? "" : ", no case") +
                                  (c.options.WholeWord ? ", word" : "") + (c.options.KeepCase ? ", keep case" : "") +
                                  ")";
        EXPECT_EQ(result.out, c.expected) << where;
        EXPECT_EQ(matches, c.matches) << where;
        EXPECT_EQ(matched, c.matches > 0) << where;
        EXPECT_EQ(TextMatches(c.text, c.pattern, c.caseSensitive, c.options), c.matches > 0) << where;
        std::string plain;
        ProcessText(plain, c.text, c.operation, c.pattern, c.caseSensitive, c.newText, c.isPattern, kTagOpen, kTagClose,
                    c.maxCount, c.options);
        EXPECT_EQ(plain, c.expected) << where << " into a string";
    }
}

} // namespace
} // namespace quillet::core
