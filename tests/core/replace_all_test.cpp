// Replace-all: the worked cases, then random inputs against a naive
// leftmost, non-overlapping replace, with the growth paths (a one-byte find
// text and a long replacement on texts full of matches) among them.
#include "core/replace_all.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

namespace quillet::core {
namespace {

using testref::quote;

struct ReplaceCase {
    std::string_view source;
    std::string_view find;
    std::string_view replacement;
    bool caseSensitive;
    std::string_view expected;
};

TEST(ReplaceAllTest, Table) {
    const ReplaceCase cases[] = {
        {"", "a", "b", true, ""},
        {"", "", "b", true, ""},
        {"abc", "", "x", true, "abc"},
        {"abc", "", "x", false, "abc"},
        {"abc", "x", "y", true, "abc"},
        {"a", "ab", "x", true, "a"},    // source shorter than the find text
        {"aaa", "aa", "b", true, "ba"}, // no overlapping second match
        {"aaaa", "aa", "b", true, "bb"},
        {"xAx", "a", "yy", true, "xAx"},
        {"xAx", "a", "yy", false, "xyyx"},
        {"aXbxc", "x", "", false, "abc"},
        {"aXbxc", "x", "", true, "aXbc"},
        {"abab", "b", "123", true, "a123a123"},
        {"aa", "a", "", true, ""},
        {"ab", "ab", "cd", true, "cd"}, // buffer exactly filled
        {"a", "a", "aa", true, "aa"},   // the inserted text is not searched again
        {"banana", "ana", "X", true, "bXna"},
        {"ababa", "ab", "xyz", true, "xyzxyza"}, // estimate 5*3 div 2 = 7, exactly filled
        {"aba", "ab", "xyz", true, "xyza"},      // estimate 4, exactly filled
        {"abcabc", "abc", "", true, ""},
        {"xabcabcx", "ABC", "-", false, "x--x"},
        {"xabcabcx", "ABC", "-", true, "xabcabcx"},
        {"tail ab", "ab", "AB", true, "tail AB"},
        {"ab tail", "ab", "AB", true, "AB tail"},
        {"\xe9\xc9", "\xe9", "e", false, "e\xc9"}, // bytes above 127 do not fold
        {"{$1}{$1}", "{$1}", "{$1}{$1}", true, "{$1}{$1}{$1}{$1}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplaceAll(c.source, c.find, c.replacement, c.caseSensitive), c.expected)
            << "ReplaceAll(" << quote(c.source) << ", " << quote(c.find) << ", " << quote(c.replacement) << ", "
            << (c.caseSensitive ? "case-sensitive" : "no case") << ")";
    }
}

TEST(ReplaceAllTest, NulBytesAreOrdinary) {
    const std::string source("a\0b\0c", 5);
    EXPECT_EQ(ReplaceAll(source, std::string_view("\0", 1), "--", true), "a--b--c");
    EXPECT_EQ(ReplaceAll("a-b", "-", std::string_view("\0", 1), true), std::string("a\0b", 3));
}

struct RandomShape {
    const char* name;
    std::string_view alphabet;
    std::size_t maxSource;
    std::size_t minFind, maxFind;
    std::size_t minRepl, maxRepl;
    int minChanged; // runs that must have replaced something
};

TEST(ReplaceAllTest, AgainstNaiveReplaceOnRandomInputs) {
    const RandomShape shapes[] = {
        {"small, any lengths", "abA", 30, 0, 4, 0, 8, 500},
        {"replacement shorter", "ab", 40, 2, 5, 0, 1, 500},
        {"removal", "aAb", 40, 1, 3, 0, 0, 500},
        {"replacement longer", "aB", 40, 1, 2, 3, 9, 500},
        {"one-byte find, 100-byte replacement", "aab", 300, 1, 1, 100, 100, 500},
        {"find longer than source", "ab", 4, 3, 8, 0, 5, 20},
        {"long texts", "eeetaqQz <>", 3000, 1, 4, 0, 6, 500},
    };
    std::mt19937 rng(1234567);
    for (const auto& shape : shapes) {
        int changed = 0;
        for (int iter = 0; iter < 3000; ++iter) {
            const std::string source = testref::randomString(rng, shape.alphabet, 0, shape.maxSource);
            const std::string find = testref::randomString(rng, shape.alphabet, shape.minFind, shape.maxFind);
            const std::string repl = testref::randomString(rng, "xyZ", shape.minRepl, shape.maxRepl);
            for (bool cs : {true, false}) {
                const std::string expected = testref::naiveReplaceAll(source, find, repl, cs);
                ASSERT_EQ(ReplaceAll(source, find, repl, cs), expected)
                    << shape.name << ": ReplaceAll(" << quote(source) << ", " << quote(find) << ", " << quote(repl)
                    << ", " << (cs ? "case-sensitive" : "no case") << ")";
                changed += expected != source;
            }
        }
        EXPECT_GT(changed, shape.minChanged) << shape.name;
    }
}

// The result buffer grows many times over its first size; every byte must
// land where the naive replace puts it.
TEST(ReplaceAllTest, GrowthWithManyMatches) {
    struct Case {
        const char* name;
        std::string source;
        std::string find;
        std::string repl;
    };
    const std::string hundred = [] {
        std::string s;
        for (int i = 0; i < 100; ++i)
            s += static_cast<char>('0' + i % 10);
        return s;
    }();
    const Case cases[] = {
        {"every byte matches", std::string(1000, 'a'), "a", hundred},
        {"every other byte matches",
         [] {
             std::string s;
             for (int i = 0; i < 1000; ++i)
                 s += (i % 2 ? "b" : "a");
             return s;
         }(),
         "a", hundred},
        {"one match at the end", std::string(999, 'b') + "a", "a", hundred},
        {"one match at the start", "a" + std::string(999, 'b'), "a", hundred},
        {"two-byte find", std::string(2000, 'a'), "aa", hundred + hundred},
        {"single byte source", "a", "a", hundred},
        {"no case", std::string(500, 'A') + std::string(500, 'a'), "a", hundred},
    };
    for (const auto& c : cases) {
        for (bool cs : {true, false}) {
            const std::string expected = testref::naiveReplaceAll(c.source, c.find, c.repl, cs);
            const std::string got = ReplaceAll(c.source, c.find, c.repl, cs);
            ASSERT_EQ(got.size(), expected.size()) << c.name << (cs ? "" : " (no case)");
            EXPECT_TRUE(got == expected) << c.name << (cs ? "" : " (no case)") << ": first difference at "
                                         << std::distance(
                                                got.begin(),
                                                std::mismatch(got.begin(), got.end(), expected.begin()).first);
        }
    }
}

TEST(ReplaceAllTest, CopyBytes) {
    const std::string from = "abcdef";
    std::string to = "------";
    CopyBytes(from.data() + 1, to.data() + 2, 3);
    EXPECT_EQ(to, "--bcd-");
    CopyBytes(from.data(), to.data(), 0);
    EXPECT_EQ(to, "--bcd-");
}

} // namespace
} // namespace quillet::core
