// Case-insensitive search with Unicode folding: worked cases, then random
// mixed-script text (2-, 3- and 4-byte characters, partners of other lengths,
// stray bytes) against the slow reference of fold_reference.h, for the
// searches, replace-all, and the operations with '*' patterns.
#include "core/folded_search.h"
#include "core/replace_all.h"
#include "core/text_ops.h"
#include "fold_reference.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace quillet::core;
using testref::quote;

namespace {

// Characters grouped by what they fold to; each group's members are partners.
const std::vector<std::vector<std::string>> kGroups = {
    {"a", "A"},
    {"b"},
    {" "},
    {"k", "K", "\u212A"},           // Kelvin sign: 3 bytes
    {"s", "S", "\u017F"},           // long s: 2 bytes
    {"\u00E9", "\u00C9"},           // é
    {"\u00DF", "\u1E9E"},           // ß, capital sharp s
    {"\u00E5", "\u00C5", "\u212B"}, // å, Angstrom sign
    {"\u0432", "\u0412", "\u1C80"}, // в and its 3-byte rounded form
    {"\u0442", "\u0422", "\u1C84", "\u1C85"},
    {"\u043F", "\u041F"},           // п
    {"\u03C3", "\u03C2", "\u03A3"}, // σ ς Σ
    {"\u03C9", "\u03A9", "\u2126"}, // ω Ω, Ohm sign
    {"\u0561", "\u0531"},           // Armenian
    {"\U00010428", "\U00010400"},   // Deseret: 4 bytes
    {"\xC3"},                       // stray bytes, some of which join the next into a character
    {"\x80"},
    {"\xA9"},
    {"\xE2\x84"},
    {"\xFF"},
};

struct Sample {
    std::string text;
    std::string pattern;
};

std::string member(std::mt19937& rng, std::size_t group) {
    const auto& g = kGroups[group];
    return g[rng() % g.size()];
}

// A pattern of 1 to `most` characters, and a text in which it often occurs
// spelled with other partners.
Sample sample(std::mt19937& rng, std::size_t textChars, std::size_t most) {
    std::vector<std::size_t> groups(1 + rng() % most);
    for (auto& g : groups)
        g = rng() % kGroups.size();
    Sample s;
    for (std::size_t g : groups)
        s.pattern += member(rng, g);
    while (s.text.size() < textChars) {
        if (rng() % 8 == 0)
            for (std::size_t g : groups)
                s.text += member(rng, g);
        else
            s.text += member(rng, rng() % kGroups.size());
    }
    return s;
}

} // namespace

TEST(FoldedSearchTest, WorkedCases) {
    struct Case {
        std::string_view text;
        std::string_view pattern;
        Pos at;  // 1-based, 0: none
        Pos len; // of the match
    };
    const Case cases[] = {
        {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80\nCAF\xC3\x89\n",
         "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", 1, 12}, // привет in Привет
        {"Привет мир\nCAFÉ\n", "café", 21, 5},
        {"ΣΟΦΟΣ", "σοφος", 1, 10},     // final sigma folds too
        {"x\u212Ay", "k", 2, 3},       // Kelvin sign for k
        {"xky", "\u212A", 2, 1},       // and back
        {"\u212Aab kab", "KAB", 1, 5}, // the earlier match holds the longer partner
        {"kab \u212Aab", "KAB", 1, 3},
        {"ma\u017Fs", "MASS", 1, 5},      // long s
        {"stra\u00DFe", "STRASSE", 0, 0}, // no full folding
        {"STRA\u1E9EE", "straße", 1, 8},
        {"\u0531\u0532", "\u0561\u0562", 1, 4}, // Armenian
        {"\U00010400x", "\U00010428X", 1, 5},   // Deseret
        {"\u0130stanbul", "istanbul", 0, 0},    // no Turkic folding
        {"caf\xC3\xA9", "\xC3", 0, 0},          // a stray byte never
        {"caf\xC3\xA9", "\xA9", 0, 0},          // matches in a character
        {"caf\xE9 CAF\xE9", "caf\xE9", 1, 4},   // stray bytes exactly
        {"caf\xE9", "CAF\xC9", 0, 0},           // and never folded
        {"\xE2\x84 \u212A", "\xE2\x84", 1, 2},  // a cut-short character
    };
    for (const Case& c : cases) {
        Pos len = -1;
        const auto n = static_cast<Pos>(c.text.size());
        EXPECT_EQ(FindFromNoCase(c.text, c.pattern, n, static_cast<Pos>(c.pattern.size()), 1, &len), c.at)
            << quote(c.pattern) << " in " << quote(c.text);
        if (c.at != 0) {
            EXPECT_EQ(len, c.len) << quote(c.pattern) << " in " << quote(c.text);
        }
    }
}

// A match can end past where the pattern's length would put it, or before.
TEST(FoldedSearchTest, ReplaceTakesTheMatchedBytes) {
    struct Case {
        std::string_view text, find, replacement, expected;
    };
    const Case cases[] = {
        {"\u212A\u212A", "k", "-", "--"},
        {"kk", "\u212A", "-", "--"},
        {"\u017Fs\u017F", "ss", "-", "-\u017F"},
        {"\u0412\u1C80\u0432", "\u0432", "v", "vvv"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReplaceAll(c.text, c.find, c.replacement, false), c.expected) << quote(c.find);
        std::string result;
        ProcessText(result, c.text, OpReplaceText, c.find, false, c.replacement, false, "{$", "}", -1);
        EXPECT_EQ(result, c.expected) << quote(c.find);
    }
    // Captures copy the file's own bytes, whatever their case and length.
    std::string result;
    ProcessText(result, "<\u212A\u017F>", OpReplaceText, "<K*>", false, "[{$1}]", true, "{$", "}", -1);
    EXPECT_EQ(result, "[\u017F]");
}

TEST(FoldedSearchTest, SearchesAgainstTheReference) {
    std::mt19937 rng(20);
    int found = 0;
    for (int iter = 0; iter < 3000; ++iter) {
        const Sample c = sample(rng, iter % 4 == 0 ? 600 : 40, 4);
        const auto n = static_cast<Pos>(c.text.size());
        const auto m = static_cast<Pos>(c.pattern.size());
        const Pos e = iter % 3 == 0 ? n : static_cast<Pos>(rng() % static_cast<std::uint32_t>(n + 1));
        const Pos f = iter % 5 == 0 ? 1 : 1 + static_cast<Pos>(rng() % static_cast<std::uint32_t>(n + 1));
        Pos expectedLen = 0;
        const Pos expected = foldref::findFrom(c.text, c.pattern, e, f, expectedLen);
        Pos len = 0;
        ASSERT_EQ(FindFromNoCase(c.text, c.pattern, e, m, f, &len), expected)
            << quote(c.pattern) << " in " << quote(c.text) << ", E=" << e << ", F=" << f;
        if (expected != 0) {
            ASSERT_EQ(len, expectedLen) << quote(c.pattern) << " in " << quote(c.text);
        }
        found += expected != 0;

        const Pos back = foldref::findBack(c.text, c.pattern, e, f, expectedLen);
        ASSERT_EQ(FindBackNoCase(c.text, c.pattern, e, m, f, &len), back)
            << quote(c.pattern) << " back in " << quote(c.text) << ", E=" << e << ", F=" << f;
        if (back != 0) {
            ASSERT_EQ(len, expectedLen) << quote(c.pattern) << " back in " << quote(c.text);
        }

        const std::string replaced = foldref::replaceAll(c.text, c.pattern, "<>");
        ASSERT_EQ(ReplaceAll(c.text, c.pattern, "<>", false), replaced)
            << quote(c.pattern) << " replaced in " << quote(c.text);
        std::string result;
        ProcessText(result, c.text, OpReplaceText, c.pattern, false, "<>", false, "{$", "}", -1);
        ASSERT_EQ(result, replaced) << quote(c.pattern) << " replaced in " << quote(c.text);
    }
    EXPECT_GT(found, 1000);
}

// '*' patterns: without re-anchoring, MatchPattern on the text finds what the
// case-sensitive MatchPattern finds on the reference's key text, pieces and
// captures alike; with it, the match keeps its end and starts where its first
// piece matches.
TEST(FoldedSearchTest, StarPatternsAgainstTheKeyText) {
    std::mt19937 rng(21);
    int matched = 0;
    for (int iter = 0; iter < 1500; ++iter) {
        Sample c = sample(rng, 60, 3);
        const Sample second = sample(rng, 0, 2);
        std::string pattern =
            (rng() % 3 == 0 ? "*" : "") + c.pattern + "*" + second.pattern + (rng() % 3 == 0 ? "*" : "");
        c.text += second.pattern + member(rng, rng() % kGroups.size());
        std::vector<Pos> bytePos;
        const std::string keys = foldref::keyText(c.text, &bytePos);
        std::string keyPattern;
        for (std::size_t at = 0; at <= pattern.size();) {
            const std::size_t star = std::min(pattern.find('*', at), pattern.size());
            keyPattern += foldref::keyText(std::string_view(pattern).substr(at, star - at));
            if (star < pattern.size())
                keyPattern += '*';
            at = star + 1;
        }
        const auto n = static_cast<Pos>(c.text.size());
        const auto keyN = static_cast<Pos>(keys.size());
        Pos from = 1;
        Pos keyFrom = 1;
        for (int k = 0; k < 8 && from <= n; ++k) {
            const std::string what = quote(pattern) + " in " + quote(c.text) + " from " + std::to_string(from);
            Pos start = 0, end = 0, keyStart = 0, keyEnd = 0;
            TSubStrPosArray ranges, keyRanges;
            const bool got = MatchPattern(start, end, ranges, c.text, pattern, n, false, from, false, true);
            ASSERT_EQ(got,
                      MatchPattern(keyStart, keyEnd, keyRanges, keys, keyPattern, keyN, false, keyFrom, true, true))
                << what;
            if (!got)
                break;
            ++matched;
            ASSERT_EQ(start, bytePos[static_cast<std::size_t>(keyStart)]) << what;
            ASSERT_EQ(end + 1, bytePos[static_cast<std::size_t>(keyEnd + 1)]) << what;
            ASSERT_EQ(ranges.size(), keyRanges.size()) << what;
            for (std::size_t i = 0; i < ranges.size(); ++i) {
                const auto& r = keyRanges[i];
                ASSERT_EQ(ranges[i].Pos, bytePos[static_cast<std::size_t>(r.Pos)]) << what << ", capture " << i;
                ASSERT_EQ(ranges[i].Pos + ranges[i].Len, bytePos[static_cast<std::size_t>(r.Pos + r.Len)])
                    << what << ", capture " << i;
            }

            // With re-anchoring: same end, a start no earlier, and there the
            // first piece (pieces may overlap here, so the span as a whole
            // need not match again).
            Pos shortStart = 0, shortEnd = 0;
            ASSERT_TRUE(MatchPattern(shortStart, shortEnd, ranges, c.text, pattern, n, true, from, false, true));
            ASSERT_EQ(shortEnd, end) << what;
            ASSERT_GE(shortStart, start) << what;
            if (pattern[0] != '*') {
                ASSERT_EQ(FindFromNoCase(c.text, c.pattern, n, static_cast<Pos>(c.pattern.size()), shortStart),
                          shortStart)
                    << what;
            }
            from = end + 1;
            keyFrom = keyEnd + 1;
        }
    }
    EXPECT_GT(matched, 500);
}

// The folded search goes block by block (64 KiB from where it starts): a
// match that straddles a block's end, or whose longer partner lies past it,
// is found where the reference finds it.
TEST(FoldedSearchTest, LongTextsAcrossBlocks) {
    std::mt19937 rng(22);
    int found = 0;
    for (int iter = 0; iter < 40; ++iter) {
        std::vector<std::size_t> groups(1 + rng() % 3);
        for (auto& g : groups)
            g = rng() % kGroups.size();
        std::string pattern;
        for (std::size_t g : groups)
            pattern += member(rng, g);
        std::string text;
        while (text.size() < 200000) {
            const std::size_t g = rng() % kGroups.size();
            if (std::find(groups.begin(), groups.end(), g) == groups.end())
                text += member(rng, g);
        }
        const Pos f = 1 + static_cast<Pos>(rng() % 1000);
        for (Pos block : {65536, 2 * 65536}) {
            std::string rendition;
            for (std::size_t g : groups)
                rendition += member(rng, g);
            const auto at = static_cast<std::size_t>(f - 1 + block - static_cast<Pos>(rng() % 6));
            text.insert(at, rendition);
        }
        const auto n = static_cast<Pos>(text.size());
        const Pos e = iter % 2 == 0 ? n : f + 65536 + static_cast<Pos>(rng() % 8);
        Pos expectedLen = 0;
        const Pos expected = foldref::findFrom(text, pattern, e, f, expectedLen);
        Pos len = 0;
        ASSERT_EQ(FindFromNoCase(text, pattern, e, static_cast<Pos>(pattern.size()), f, &len), expected)
            << quote(pattern) << ", F=" << f << ", E=" << e;
        if (expected != 0) {
            ASSERT_EQ(len, expectedLen) << quote(pattern);
            ++found;
        }
    }
    EXPECT_GT(found, 20);
}
