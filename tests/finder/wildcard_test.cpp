#include "finder/file_mask.h"
#include "finder/wildcard.h"

#include <gtest/gtest.h>

#include <fnmatch.h>

#include <random>
#include <string>
#include <vector>

namespace quillet::finder {
namespace {

struct MaskCase {
    const char* mask;
    const char* name;
    bool ignoreCase;
    bool expected;
};

// Both case modes are listed where the answer does not depend on it.
const MaskCase kMaskCases[] = {
    {"*.htm", "a.HTM", true, true},
    {"*.htm", "a.HTM", false, false},
    {"*.htm", "a.html", true, false},
    {"*.htm*", "a.html", true, true},
    {"*.*", "README", true, false},
    {"*.*", ".", true, true},
    {"*.*", "..", true, true},
    {"*", "anything.at.all", false, true},
    {"***", "x", true, true},
    {"***", "x", false, true},
    {"abc*", "abc", true, true},
    {"abc*", "abc", false, true},
    {"abc?", "abc", true, false},
    {"abc?", "abc", false, false},
    {"abc?*", "abc", true, true},
    {"abc?*", "abc", false, true},
    {"abc", "abcd", true, false},
    {"abc", "abcd", false, false},
    {"abcd", "abc", true, false},
    {"abcd", "abc", false, false},
    {"a*a", "a", true, false},
    {"a*a", "a", false, false},
    {"ab*bc", "abc", true, true},
    {"ab*bc", "abc", false, true},
    {"a*b*c*", "ab", true, true},
    {"a*b*c*", "ab", false, true},
    {"q*ab*ba*", "qaba", true, false},
    {"q*ab*ba*", "qaba", false, false},
    {"*?c", "c", true, false},
    {"*?c", "c", false, false},
    {"*ab?", "ab", true, false},
    {"*ab?", "ab", false, false},
    {"ab*cd*", "abxcdyz", true, true},
    {"ab*cd*", "abxcdyz", false, true},
    {"i*x.h?m", "index.htm", true, true},
    {"report*.txt", "x.txt", true, false},
    {"a.txt", "A.TXT", true, true},
    {"q*", "QRS", false, false},
    // Case folding reaches the wildcards' neighbours and the middle runs.
    {"I*X.H?M", "index.htm", true, true},
    {"I*X.H?M", "index.htm", false, false},
    {"*DE*.htm", "index.htm", true, true},
    // "**" counts as one star, also in the middle and at the end.
    {"a**c", "abbc", false, true},
    {"a**", "a", false, true},
    // Wildcards in the name are ordinary bytes; a mask star is a wildcard
    // even where it meets a star in the name.
    {"a?c", "a*c", false, true},
    {"a*c", "a*c", false, true},
    {"a?", "a", false, false},
    {"a?", "a?", false, true},
    {"?", "*", false, true},
    {"a*c", "a*b*c", false, true},
    {"a*b", "a*c", false, false},
    {"*?", "*", false, true},
    {"a*b*", "a**b", false, true},
    {"*.*", "*", false, false},
    // Middle runs are taken at their first occurrence, never again.
    {"*a*b", "xaxb", false, true},
    {"*ab*x", "abab", false, false},
    // Folding can move a middle run earlier, so a fit by the lenient end is
    // lost when case is ignored.
    {"*N*x*b*", "nxyNx", false, true},
    {"*N*x*b*", "nxyNx", true, false},
    {"?*b*", "ab", false, true},
    // The tail is laid against the end of the whole name.
    {"*abc", "bc", false, false},
    {"x*?", "x", false, false},
    {"x*?", "xy", false, true},
    // Empty texts: equal, stars only, otherwise no fit.
    {"", "", false, true},
    {"*", "", true, true},
    {"**", "", false, true},
    {"?", "", false, false},
    {"a", "", false, false},
    {"", "a", false, false},
};

TEST(MatchesWildcardTest, MaskTable) {
    for (const MaskCase& c : kMaskCases) {
        EXPECT_EQ(MatchesWildcard(c.name, c.mask, c.ignoreCase), c.expected)
            << "mask \"" << c.mask << "\" name \"" << c.name << "\" ignoreCase " << c.ignoreCase;
    }
}

// A mask star that met a star in the name was consumed as a plain byte, so
// the rest of the name was left over and the mask failed.
TEST(MatchesWildcardTest, MaskStarAgainstStarInNameIsStillAWildcard) {
    const MaskCase cases[] = {
        {"a*", "a*b", false, true},          {"a*", "a*b", true, true},     {"*d*", "D*d*", true, true},
        {"*d*", "d*d*", false, true},        {"*", "**", false, true},      {"a*z", "a*bz", false, true},
        {"a?*", "a**x", false, true},        {"*.t*", "*.txt", true, true}, {"x*", "x*", false, true},
        {"a*?", "a*", false, true},          {"a*b", "a*bb", false, true},  {"ab*", "a*b", false, false},
        {"a*.htm", "a*.htm.x", true, false},
    };
    for (const MaskCase& c : cases) {
        EXPECT_EQ(MatchesWildcard(c.name, c.mask, c.ignoreCase), c.expected)
            << "mask \"" << c.mask << "\" name \"" << c.name << "\" ignoreCase " << c.ignoreCase;
    }
}

TEST(MatchesWildcardTest, LeavesTheCallersStringsAlone) {
    const std::string name = "index.htm";
    const std::string mask = "I**X.H?M";
    EXPECT_TRUE(MatchesWildcard(name, mask, true));
    EXPECT_EQ(name, "index.htm");
    EXPECT_EQ(mask, "I**X.H?M");
}

TEST(MatchesWildcardTest, TailLongerThanNameNeverReadsBeforeIt) {
    // A view into a larger buffer: reading before the name's first byte would
    // find the "abc" that stands there.
    const std::string buffer = "abcbc";
    const std::string_view name = std::string_view(buffer).substr(3);
    EXPECT_FALSE(MatchesWildcard(name, "*abc", false));
    EXPECT_FALSE(MatchesWildcard(name, "*???", false));
    EXPECT_TRUE(MatchesWildcard(name, "*??", false));
}

struct PosCase {
    const char* sought;
    const char* text;
    core::Pos expected;
};

TEST(PosWithJokerTest, Table) {
    const PosCase cases[] =
        {
            {"a?c", "xxabcx", 3}, {"a?", "a", 0},       {"abc", "xabc", 2}, {"", "abc", 0},
            {"", "", 0},          {"?", "", 0},         {"?", "q", 1},      {"??", "ab", 1},
            {"a?c", "abcadc", 1}, {"b?", "ab", 0}, // the match would run past the end
            {"c?", "abcd", 3},                     // ... but may end on the last byte
            {"a?c", "a?d", 0},                     // "?" in the text is an ordinary byte
            {"a?c", "a?c", 1},    {"x?z", "xyzxyz", 1}, {"abc", "ab", 0},   {"?b", "bbb", 1},
        };
    for (const PosCase& c : cases) {
        EXPECT_EQ(PosWithJoker(c.sought, c.text), c.expected)
            << "sought \"" << c.sought << "\" text \"" << c.text << "\"";
    }
}

TEST(CutAtStarTest, Table) {
    struct Case {
        const char* text;
        core::Pos expected;
        const char* after;
    };
    const Case cases[] = {
        {"abc", 0, "abc"}, {"ab*c", 3, "ab"}, {"*abc", 1, ""}, {"abc*", 4, "abc"}, {"a*b*c", 2, "a"}, {"", 0, ""},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(CutAtStar(text), c.expected) << "text \"" << c.text << "\"";
        EXPECT_EQ(text, c.after) << "text \"" << c.text << "\"";
    }
}

TEST(MatchesAnyMaskTest, Table) {
    struct Case {
        const char* masks;
        const char* name;
        bool expected;
    };
    const Case cases[] = {
        {"*.htm;*.html", "a.html", true},
        {"*.htm;*.html", "a.HTM", true},
        {"*.htm;*.html", "a.txt", false},
        {"*.txt", "a.TXT", true},
        {"", "a", false},
        {";", "a", false},
        {";;*.c;", "x.c", true},
        {"a;b", "b", true},
        {"a;b", "a;b", false},      // pieces only, never the whole string
        {"*.c; *.h", "x.h", false}, // the space belongs to the piece
        {"*.c; *.h", " x.h", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesAnyMask(c.name, c.masks, true), c.expected)
            << "masks \"" << c.masks << "\" name \"" << c.name << "\"";
    }
    EXPECT_FALSE(MatchesAnyMask("A.TXT", "*.txt", false));
}

// Properties against fnmatch (a true glob with backtracking) on random texts
// over a small alphabet, so that runs repeat and overlap often. The single
// scan is never stricter than a glob; it may be more lenient only through its
// end rule and its right-aligned tail, so masks without a star, and masks that
// are one star followed by a run, must agree exactly.
class MaskProperties : public ::testing::Test {
protected:
    std::mt19937 rng{20240611};

    std::string randomText(const std::string& alphabet, std::size_t maxLen) {
        std::uniform_int_distribution<std::size_t> len(0, maxLen);
        std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
        std::string s(len(rng), ' ');
        for (char& c : s)
            c = alphabet[pick(rng)];
        return s;
    }

    static bool glob(const std::string& name, const std::string& mask, bool ignoreCase) {
        return fnmatch(mask.c_str(), name.c_str(), FNM_NOESCAPE | (ignoreCase ? FNM_CASEFOLD : 0)) == 0;
    }
    static std::string upper(std::string s) {
        for (char& c : s)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return s;
    }
};

TEST_F(MaskProperties, AgreesWithGlobWhereTheyMustAndIsNeverStricter) {
    // Names hold "*" and "?" too: there they are ordinary bytes, to the glob
    // and to the mask alike. The second half folds case on both sides.
    for (int i = 0; i < 100000; ++i) {
        const bool ignoreCase = i % 2 == 1;
        const std::string name = randomText(ignoreCase ? "aAb.?*" : "ab.?*", 7);
        const std::string mask = randomText(ignoreCase ? "aAbB.?*" : "ab.?*", 6);
        if (name.empty() || mask.empty())
            continue;
        const bool got = MatchesWildcard(name, mask, ignoreCase);
        const bool globbed = glob(name, mask, ignoreCase);
        const auto lastStar = mask.rfind('*');
        const auto firstNonStar = mask.find_first_not_of('*');
        const bool oneLeadingStar = mask.front() == '*' && (firstNonStar == std::string::npos ||
                                                            mask.find('*', firstNonStar) == std::string::npos);
        const bool exact = lastStar == std::string::npos || oneLeadingStar;
        if (exact) {
            ASSERT_EQ(got, globbed) << "mask \"" << mask << "\" name \"" << name << "\" ignoreCase " << ignoreCase;
        } else if (globbed) {
            ASSERT_TRUE(got) << "stricter than a glob: mask \"" << mask << "\" name \"" << name << "\" ignoreCase "
                             << ignoreCase;
        }
        // A true result from a mask that does not end in a star always comes
        // from the tail, so the name must end with it.
        if (got && lastStar != std::string::npos && mask.back() != '*') {
            ASSERT_TRUE(glob(name, "*" + mask.substr(lastStar + 1), ignoreCase))
                << "mask \"" << mask << "\" name \"" << name << "\" ignoreCase " << ignoreCase;
        }
    }
}

TEST_F(MaskProperties, IdentityStarsAndCaseFolding) {
    for (int i = 0; i < 20000; ++i) {
        const std::string name = randomText("aAb.?*", 8);
        const std::string mask = randomText("aAbB.?*", 6);
        ASSERT_TRUE(MatchesWildcard(name, name, false)) << "name \"" << name << "\"";
        ASSERT_TRUE(MatchesWildcard(name, std::string(1 + static_cast<std::size_t>(i % 3), '*'), true))
            << "name \"" << name << "\"";
        // Ignoring case is the case-sensitive match of the upper-cased texts.
        ASSERT_EQ(MatchesWildcard(name, mask, true), MatchesWildcard(upper(name), upper(mask), false))
            << "mask \"" << mask << "\" name \"" << name << "\"";
    }
}

} // namespace
} // namespace quillet::finder
