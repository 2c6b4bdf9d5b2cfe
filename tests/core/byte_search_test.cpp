// Skip tables, the positioned forward search and the backward search, each in
// both case modes: the worked cases first, then differential runs against a
// naive search and std::boyer_moore_horspool_searcher on random small texts.
#include "core/byte_search.h"
#include "core/error.h"
#include "core/upper_table.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>

namespace quillet::core {
namespace {

using testref::quote;

// ---------------------------------------------------------------- skip tables

struct SkipCase {
    std::string_view pattern;
    bool noCase;
    std::map<unsigned char, Pos> entries; // entries that differ from `others`
    Pos others;
};

TEST(SkipTableTest, Entries) {
    const SkipCase cases[] = {
        // The final b does not lower b's entry (3 from position 2).
        {"abcab", false, {{'a', 1}, {'b', 3}, {'c', 2}}, 5},
        // No-case entries are set at the upper-case byte only.
        {"aB", true, {{'A', 1}}, 2},
        {"Ab", true, {{'A', 1}}, 2},
        {"aB", false, {{'a', 1}}, 2},
        // One-byte pattern: its own entry 0 (never a shift), 1 elsewhere.
        {"x", false, {{'x', 0}}, 1},
        {"x", true, {{'X', 0}}, 1},
        {"\xff", false, {{0xff, 0}}, 1},
        // A repeated byte keeps its rightmost value among the first m-1.
        {"aaaa", false, {{'a', 1}}, 4},
        {"abab", false, {{'a', 1}, {'b', 2}}, 4},
        {"aAaA", true, {{'A', 1}}, 4},
        {"ab\xe9", true, {{'A', 2}, {'B', 1}}, 3},
    };
    for (const auto& c : cases) {
        TSkipTable table;
        table.fill(-7);
        const auto m = static_cast<Pos>(c.pattern.size());
        if (c.noCase)
            BuildSkipTableNoCase(c.pattern.data(), m, table);
        else
            BuildSkipTable(c.pattern.data(), m, table);
        for (int b = 0; b < 256; ++b) {
            const auto it = c.entries.find(static_cast<unsigned char>(b));
            const Pos expected = it == c.entries.end() ? c.others : it->second;
            EXPECT_EQ(table[static_cast<std::size_t>(b)], expected)
                << "pattern " << quote(c.pattern) << (c.noCase ? " (no case)" : "") << ", byte " << b;
        }
    }
}

TEST(SkipTableTest, EmptyPatternRaisesBufferLenIsZero) {
    TSkipTable table{};
    const char* pattern = "abc";
    for (bool noCase : {false, true}) {
        try {
            if (noCase)
                BuildSkipTableNoCase(pattern, 0, table);
            else
                BuildSkipTable(pattern, 0, table);
            ADD_FAILURE() << "no exception for m = 0" << (noCase ? " (no case)" : "");
        } catch (const quillet::Error& e) {
            EXPECT_STREQ(e.what(), "BufferLen is 0");
        }
    }
}

// ------------------------------------------------------------ FindFrom cases

struct FindCase {
    std::string_view text;
    std::string_view pattern;
    Pos e;
    Pos f;
    Pos caseSensitive; // expected FindFrom / FindBack
    Pos noCase;        // expected NoCase twin
};

TEST(FindFromTest, Table) {
    const FindCase cases[] = {
        {"abcab", "ab", 5, 1, 1, 1},
        {"abcab", "ab", 5, 2, 4, 4},
        {"abcab", "ab", 5, 4, 4, 4},
        {"abcab", "ab", 5, 5, 0, 0}, // range shorter than the pattern
        {"abcab", "ab", 5, 6, 0, 0},
        {"xxab", "ab", 4, 1, 3, 3}, // a match ending exactly at E
        {"xxab", "ab", 3, 1, 0, 0}, // ... but not one past it
        {"xxab", "xxab", 4, 1, 1, 1},
        {"xxab", "xxab", 3, 1, 0, 0}, // E < m
        {"ab", "abc", 2, 1, 0, 0},
        {"xAbC", "abc", 4, 1, 0, 2},
        {"xAbC", "AbC", 4, 1, 2, 2},
        {"xAbC", "abc", 3, 1, 0, 0},
        {"\xc9t\xe9", "\xe9", 3, 1, 3, 3}, // bytes above 127 do not fold
        {"\xc9t\xe9", "\xc9", 3, 2, 0, 0},
        {"aaaaab", "aab", 6, 1, 4, 4},
        {"aaaaab", "AAB", 6, 1, 0, 4},
        {"a", "a", 1, 1, 1, 1},
        {"bbbbba", "a", 6, 1, 6, 6}, // one-byte pattern advances byte by byte
        {"bbbbba", "a", 5, 1, 0, 0},
        {"abcabcabd", "abd", 9, 1, 7, 7},
        {"abcabcabd", "abd", 8, 1, 0, 0},
        {std::string_view("ab\0ab", 5), std::string_view("\0a", 2), 5, 1, 3, 3}, // NUL is an ordinary byte
    };
    for (const auto& c : cases) {
        const auto m = static_cast<Pos>(c.pattern.size());
        EXPECT_EQ(FindFrom(c.text, c.pattern, c.e, m, c.f), c.caseSensitive)
            << "FindFrom(" << quote(c.text) << ", " << quote(c.pattern) << ", E=" << c.e << ", F=" << c.f << ")";
        EXPECT_EQ(FindFromNoCase(c.text, c.pattern, c.e, m, c.f), c.noCase)
            << "FindFromNoCase(" << quote(c.text) << ", " << quote(c.pattern) << ", E=" << c.e << ", F=" << c.f << ")";
    }
}

TEST(FindBackTest, Table) {
    const FindCase cases[] = {
        {"abcab", "ab", 5, 0, 4, 4},      {"abcab", "ab", 5, 4, 4, 4},
        {"abcab", "ab", 5, 10, 4, 4},                                  // F too large: start at the last fit
        {"abcab", "ab", 5, 3, 1, 1},      {"abcab", "ab", 5, 2, 1, 1}, // position 2 holds b, 1 is tried next
        {"abcab", "ab", 5, 1, 1, 1},                                   // F = 1 tries position 1 only
        {"xbab", "ab", 4, 1, 0, 0},       {"xbab", "ab", 4, 3, 3, 3},
        {"abcab", "ab", 4, 0, 1, 1}, // S is taken to end at E
        {"abcab", "ab", 5, 5, 4, 4},      {"abcab", "cab", 5, 0, 3, 3},
        {"abcab", "cab", 4, 0, 0, 0},     {"abcab", "abcab", 5, 0, 1, 1},
        {"abcab", "abcab", 4, 0, 0, 0}, // E < m
        {"xAbCx", "abc", 5, 0, 0, 2},     {"xAbCx", "abc", 5, 1, 0, 0},
        {"ABab", "ab", 4, 0, 3, 3},       {"ABab", "ab", 4, 2, 0, 1},
        {"aaaa", "aa", 4, 0, 3, 3},       {"aaaa", "aa", 4, 2, 2, 2},
        {"\xe9\xc9", "\xe9", 2, 0, 1, 1}, {"a", "a", 1, 0, 1, 1},
        {"a", "b", 1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const auto m = static_cast<Pos>(c.pattern.size());
        EXPECT_EQ(FindBack(c.text, c.pattern, c.e, m, c.f), c.caseSensitive)
            << "FindBack(" << quote(c.text) << ", " << quote(c.pattern) << ", E=" << c.e << ", F=" << c.f << ")";
        EXPECT_EQ(FindBackNoCase(c.text, c.pattern, c.e, m, c.f), c.noCase)
            << "FindBackNoCase(" << quote(c.text) << ", " << quote(c.pattern) << ", E=" << c.e << ", F=" << c.f << ")";
    }
}

TEST(FindTest, EmptyPatternGivesZeroWithoutRaising) {
    const std::string_view texts[] = {"", "a", "abc"};
    for (auto s : texts) {
        const auto e = static_cast<Pos>(s.size());
        for (Pos f : {Pos{0}, Pos{1}, e}) {
            EXPECT_EQ(FindFrom(s, "", e, 0, std::max<Pos>(f, 1)), 0) << quote(s) << " F=" << f;
            EXPECT_EQ(FindFromNoCase(s, "", e, 0, std::max<Pos>(f, 1)), 0) << quote(s) << " F=" << f;
            EXPECT_EQ(FindBack(s, "", e, 0, f), 0) << quote(s) << " F=" << f;
            EXPECT_EQ(FindBackNoCase(s, "", e, 0, f), 0) << quote(s) << " F=" << f;
        }
    }
}

TEST(FindTest, EndBelowPatternLengthGivesZeroWhateverF) {
    const std::string_view s = "abcabc";
    for (Pos e = 0; e < 3; ++e)
        for (Pos f = 0; f <= 6; ++f) {
            EXPECT_EQ(FindFrom(s, "abc", e, 3, std::max<Pos>(f, 1)), 0) << "E=" << e << " F=" << f;
            EXPECT_EQ(FindFromNoCase(s, "ABC", e, 3, std::max<Pos>(f, 1)), 0) << "E=" << e << " F=" << f;
            EXPECT_EQ(FindBack(s, "abc", e, 3, f), 0) << "E=" << e << " F=" << f;
            EXPECT_EQ(FindBackNoCase(s, "ABC", e, 3, f), 0) << "E=" << e << " F=" << f;
        }
}

// ------------------------------------------------------------- differential

struct FoldHash {
    std::size_t operator()(char c) const { return std::hash<unsigned char>{}(testref::foldAscii(c)); }
};
struct FoldEqual {
    bool operator()(char a, char b) const { return testref::foldAscii(a) == testref::foldAscii(b); }
};

// Leftmost match in positions f..e by the standard library's searcher.
Pos stdFindFrom(std::string_view s, std::string_view p, Pos e, Pos f, bool caseSensitive) {
    if (p.empty() || f > e)
        return 0;
    const auto first = s.begin() + (f - 1);
    const auto last = s.begin() + e;
    std::string_view::const_iterator hit;
    if (caseSensitive)
        hit = std::search(first, last, std::boyer_moore_horspool_searcher(p.begin(), p.end()));
    else
        hit = std::search(first, last, std::boyer_moore_horspool_searcher(p.begin(), p.end(), FoldHash{}, FoldEqual{}));
    return hit == last ? 0 : (hit - s.begin()) + 1;
}

Pos randomPos(std::mt19937& rng, Pos lo, Pos hi) {
    return std::uniform_int_distribution<Pos>(lo, hi)(rng);
}

// Alphabets small enough that patterns occur often; the mixed-case one with a
// high byte pair that must not fold.
constexpr std::string_view kAlphabets[] = {"ab", "abc", "aAbB", "aA\xe9\xc9"};

TEST(FindDifferentialTest, FindFromAgainstNaiveAndStdSearcher) {
    std::mt19937 rng(20240611);
    int found = 0;
    for (int iter = 0; iter < 20000; ++iter) {
        const auto alphabet = kAlphabets[static_cast<std::size_t>(iter) % std::size(kAlphabets)];
        const std::string s = testref::randomString(rng, alphabet, 1, 24);
        const std::string p = testref::randomString(rng, alphabet, 1, 5);
        const auto n = static_cast<Pos>(s.size());
        const Pos e = randomPos(rng, 0, n);
        const Pos f = randomPos(rng, 1, n + 1);
        const auto m = static_cast<Pos>(p.size());
        for (bool cs : {true, false}) {
            const Pos expected = testref::naiveFindFrom(s, p, e, f, cs);
            ASSERT_EQ(stdFindFrom(s, p, e, f, cs), expected) << "reference disagreement";
            const Pos got = cs ? FindFrom(s, p, e, m, f) : FindFromNoCase(s, p, e, m, f);
            ASSERT_EQ(got, expected) << (cs ? "FindFrom(" : "FindFromNoCase(") << quote(s) << ", " << quote(p)
                                     << ", E=" << e << ", F=" << f << ")";
            found += expected != 0;
        }
    }
    EXPECT_GT(found, 3000); // the runs did exercise matches, not just misses
}

TEST(FindDifferentialTest, FindBackAgainstNaive) {
    std::mt19937 rng(77);
    int found = 0;
    for (int iter = 0; iter < 20000; ++iter) {
        const auto alphabet = kAlphabets[static_cast<std::size_t>(iter) % std::size(kAlphabets)];
        const std::string s = testref::randomString(rng, alphabet, 1, 24);
        const std::string p = testref::randomString(rng, alphabet, 1, 5);
        const auto n = static_cast<Pos>(s.size());
        const Pos e = randomPos(rng, 0, n);
        const Pos f = randomPos(rng, 0, n + 3);
        const auto m = static_cast<Pos>(p.size());
        for (bool cs : {true, false}) {
            const Pos expected = testref::naiveFindBack(s, p, e, f, cs);
            const Pos got = cs ? FindBack(s, p, e, m, f) : FindBackNoCase(s, p, e, m, f);
            ASSERT_EQ(got, expected) << (cs ? "FindBack(" : "FindBackNoCase(") << quote(s) << ", " << quote(p)
                                     << ", E=" << e << ", F=" << f << ")";
            found += expected != 0;
        }
    }
    EXPECT_GT(found, 5000);
}

TEST(FindDifferentialTest, ScanForwardOnRandomRanges) {
    std::mt19937 rng(4242);
    int found = 0;
    for (int iter = 0; iter < 20000; ++iter) {
        const auto alphabet = kAlphabets[static_cast<std::size_t>(iter) % std::size(kAlphabets)];
        const std::string s = testref::randomString(rng, alphabet, 1, 32);
        const std::string p = testref::randomString(rng, alphabet, 1, 6);
        const auto total = static_cast<Pos>(s.size());
        const Pos start = randomPos(rng, 0, total);     // offset of the range
        const Pos n = randomPos(rng, 0, total - start); // its length
        const auto m = static_cast<Pos>(p.size());
        for (bool cs : {true, false}) {
            TSkipTable table;
            const char* got;
            if (cs) {
                BuildSkipTable(p.data(), m, table);
                got = ScanForward(s.data() + start, p.data(), n, m, table);
            } else {
                BuildSkipTableNoCase(p.data(), m, table);
                got = ScanForwardNoCase(s.data() + start, p.data(), n, m, table);
            }
            // Positions start+1 .. start+n of s form the range.
            const Pos expected = testref::naiveFindFrom(s, p, start + n, start + 1, cs);
            const Pos gotPos = got == nullptr ? 0 : (got - s.data()) + 1;
            ASSERT_EQ(gotPos, expected) << (cs ? "ScanForward" : "ScanForwardNoCase") << " in " << quote(s)
                                        << " range offset " << start << " length " << n << ", pattern " << quote(p);
            found += expected != 0;
        }
    }
    EXPECT_GT(found, 4000);
}

// The linear-time search the quick scans hand over to, on its own: periodic
// and aperiodic patterns over tiny alphabets, where its factorisation and its
// memory of matched periods are exercised on every call.
TEST(FindDifferentialTest, TwoWayAgainstNaiveBothWays) {
    constexpr std::string_view kUnits[] = {"a", "ab", "aab", "abaab", "aA", "ba"};
    std::mt19937 rng(1103);
    int found = 0;
    for (int iter = 0; iter < 20000; ++iter) {
        const auto alphabet = kAlphabets[static_cast<std::size_t>(iter) % std::size(kAlphabets)];
        std::string s = testref::randomString(rng, alphabet, 0, 40);
        std::string p = testref::randomString(rng, alphabet, 1, 9);
        if (iter % 2 == 0) {
            // Periodic pattern and text, one byte of each sometimes changed.
            const auto unit = kUnits[rng() % std::size(kUnits)];
            p.clear();
            while (p.size() < 1 + rng() % 12)
                p += unit;
            s.clear();
            while (s.size() < rng() % 48)
                s += unit;
            if (rng() % 2 == 0 && !s.empty())
                s[rng() % s.size()] = alphabet[rng() % alphabet.size()];
            if (rng() % 3 == 0)
                p[rng() % p.size()] = alphabet[rng() % alphabet.size()];
        }
        const auto n = static_cast<Pos>(s.size());
        const auto m = static_cast<Pos>(p.size());
        for (bool cs : {true, false}) {
            const char* ahead = detail::TwoWayForward(s.data(), p.data(), n, m, cs);
            const Pos expected = testref::naiveFindFrom(s, p, n, 1, cs);
            ASSERT_EQ(ahead == nullptr ? 0 : (ahead - s.data()) + 1, expected)
                << "TwoWayForward of " << quote(p) << " in " << quote(s) << (cs ? "" : ", ignoring case");
            const char* behind = detail::TwoWayBackward(s.data(), p.data(), n, m, cs);
            ASSERT_EQ(behind == nullptr ? 0 : (behind - s.data()) + 1, testref::naiveFindBack(s, p, n, 0, cs))
                << "TwoWayBackward of " << quote(p) << " in " << quote(s) << (cs ? "" : ", ignoring case");
            found += expected != 0;
        }
    }
    EXPECT_GT(found, 8000);
}

// Long texts (hundreds to thousands of bytes): ranges this long may take
// other routes to the same leftmost match, so they get their own runs, over
// texts where the pattern's bytes are common and texts where some are rare.
TEST(FindDifferentialTest, LongTextsAgainstNaive) {
    struct Shape {
        const char* name;
        std::string_view textAlphabet; // drawn from for the text
        std::string_view patternAlphabet;
    };
    const Shape shapes[] = {
        {"small alphabet", "ab", "ab"},
        {"mixed case", "aAbB", "abAB"},
        {"prose with rare letters", "eeeeeeeeetttaaoo nnnsss qzxZQX", "etaqzxQZX "},
        {"markup", "<<>>//==\"\"pp  divclass=\n", "<p>/div class=\""},
        // No continuation bytes, so no valid UTF-8 forms and every high byte
        // stands for itself in both modes.
        {"high bytes", "a\xe9\xc9\xff\xc0 ", "a\xe9\xc9\xff"},
    };
    std::mt19937 rng(99);
    for (const auto& shape : shapes) {
        int found = 0;
        for (int iter = 0; iter < 600; ++iter) {
            const std::string s = testref::randomString(rng, shape.textAlphabet, 256, 3000);
            std::string p = testref::randomString(rng, shape.patternAlphabet, 1, 8);
            // Half the time take the pattern from the text, so that it occurs.
            const auto n = static_cast<Pos>(s.size());
            if (iter % 2 == 0) {
                const Pos at = randomPos(rng, 0, n - static_cast<Pos>(p.size()));
                p = s.substr(static_cast<std::size_t>(at), p.size());
            }
            const auto m = static_cast<Pos>(p.size());
            const Pos e = iter % 3 == 0 ? n : randomPos(rng, 0, n);
            const Pos f = iter % 5 == 0 ? 1 : randomPos(rng, 1, n + 1);
            for (bool cs : {true, false}) {
                const Pos expected = testref::naiveFindFrom(s, p, e, f, cs);
                ASSERT_EQ(stdFindFrom(s, p, e, f, cs), expected) << "reference disagreement";
                const Pos got = cs ? FindFrom(s, p, e, m, f) : FindFromNoCase(s, p, e, m, f);
                ASSERT_EQ(got, expected) << shape.name << ": " << (cs ? "FindFrom" : "FindFromNoCase") << " of "
                                         << quote(p) << " in " << quote(s) << ", E=" << e << ", F=" << f;
                const Pos back = cs ? FindBack(s, p, e, m, f) : FindBackNoCase(s, p, e, m, f);
                ASSERT_EQ(back, testref::naiveFindBack(s, p, e, f, cs))
                    << shape.name << ": " << (cs ? "FindBack" : "FindBackNoCase") << " of " << quote(p) << " in "
                    << quote(s) << ", E=" << e << ", F=" << f;

                // The scan core on a sub-range of the text.
                const Pos start = randomPos(rng, 0, n);
                const Pos len = randomPos(rng, 0, n - start);
                TSkipTable table;
                const char* hit;
                if (cs) {
                    BuildSkipTable(p.data(), m, table);
                    hit = ScanForward(s.data() + start, p.data(), len, m, table);
                } else {
                    BuildSkipTableNoCase(p.data(), m, table);
                    hit = ScanForwardNoCase(s.data() + start, p.data(), len, m, table);
                }
                ASSERT_EQ(hit == nullptr ? 0 : (hit - s.data()) + 1,
                          testref::naiveFindFrom(s, p, start + len, start + 1, cs))
                    << shape.name << ": " << (cs ? "ScanForward" : "ScanForwardNoCase") << " of " << quote(p) << " in "
                    << quote(s) << ", range offset " << start << " length " << len;
                found += expected != 0;
            }
        }
        EXPECT_GT(found, 300) << shape.name;
    }
}

// A rare byte that sits at many places before the match, every candidate
// failing late; and a match in the very last window of a long range.
TEST(FindDifferentialTest, LongTextsWorkedCases) {
    struct Case {
        const char* name;
        std::string text;
        std::string pattern;
        Pos expectedCs;
        Pos expectedNoCase;
    };
    const Case cases[] = {
        {"many near misses",
         [] {
             std::string t;
             for (int i = 0; i < 200; ++i)
                 t += "qzx ";
             return t + "qzy";
         }(),
         "qzy", 801, 801},
        {"match in the last window", std::string(1000, 'e') + "Zq", "zq", 0, 1001},
        {"match at the start", "zq" + std::string(1000, 'e'), "ZQ", 0, 1},
        {"absent", std::string(5000, 'a'), "b", 0, 0},
        {"one byte at the end", std::string(4999, 'a') + "b", "b", 5000, 5000},
        {"upper-case text byte", std::string(300, 'x') + "Q" + std::string(300, 'x'), "q", 0, 301},
    };
    for (const auto& c : cases) {
        const auto n = static_cast<Pos>(c.text.size());
        const auto m = static_cast<Pos>(c.pattern.size());
        EXPECT_EQ(FindFrom(c.text, c.pattern, n, m, 1), c.expectedCs) << c.name << ", pattern " << quote(c.pattern);
        EXPECT_EQ(FindFromNoCase(c.text, c.pattern, n, m, 1), c.expectedNoCase)
            << c.name << ", pattern " << quote(c.pattern);
        if (c.expectedNoCase > 0) {
            // One byte short of the match's end: not found.
            EXPECT_EQ(FindFromNoCase(c.text, c.pattern, c.expectedNoCase + m - 2, m, 1), 0) << c.name;
        }
    }
}

// A range read from a buffer with nothing readable beyond it: the scan must
// not look past the range's last byte (run under the sanitizer build).
TEST(FindDifferentialTest, ScanForwardStaysInsideRange) {
    const std::string_view patterns[] = {"b", "ab", "aab", "bab"};
    for (auto p : patterns) {
        for (std::size_t n = 0; n <= 6; ++n) {
            auto buf = std::make_unique<char[]>(n == 0 ? 1 : n);
            std::fill_n(buf.get(), n, 'a');
            TSkipTable table;
            const auto m = static_cast<Pos>(p.size());
            BuildSkipTable(p.data(), m, table);
            EXPECT_EQ(ScanForward(buf.get(), p.data(), static_cast<Pos>(n), m, table), nullptr)
                << quote(p) << " in " << n << " bytes of a";
            BuildSkipTableNoCase(p.data(), m, table);
            EXPECT_EQ(ScanForwardNoCase(buf.get(), p.data(), static_cast<Pos>(n), m, table), nullptr)
                << quote(p) << " in " << n << " bytes of a";
        }
    }
}

// The same for long ranges, where the scans read 16 window starts at a time
// at two offsets of the pattern: a word without case (two letters, both
// forms), a rare byte that is everywhere, and a byte with one form.
TEST(FindDifferentialTest, LongScansStayInsideRange) {
    struct Case {
        const char* name;
        char fill;
        std::string_view pattern;
    };
    const Case cases[] = {
        {"letters, no match", 'e', "tension"},
        {"rare byte everywhere", 'q', "aqua"},
        {"one-form byte", 'a', "a_b"},
        {"last byte absent", 'a', "aab"},
    };
    for (const Case& c : cases) {
        for (std::size_t n : {256u, 257u, 300u, 1000u}) {
            auto buf = std::make_unique<char[]>(n);
            std::fill_n(buf.get(), n, c.fill);
            const auto m = static_cast<Pos>(c.pattern.size());
            TSkipTable table;
            BuildSkipTable(c.pattern.data(), m, table);
            EXPECT_EQ(ScanForward(buf.get(), c.pattern.data(), static_cast<Pos>(n), m, table), nullptr)
                << c.name << ", " << n << " bytes";
            BuildSkipTableNoCase(c.pattern.data(), m, table);
            EXPECT_EQ(ScanForwardNoCase(buf.get(), c.pattern.data(), static_cast<Pos>(n), m, table), nullptr)
                << c.name << ", " << n << " bytes";
        }
    }
}

} // namespace
} // namespace quillet::core
