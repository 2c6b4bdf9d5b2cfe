// Scans over long ranges, where the forward search jumps between occurrences
// of the pattern's rarest byte and falls back to the skip table when that
// byte turns out to be common: the answer must stay the leftmost match. Texts
// full of near matches, which hand the scans over to Two-Way, last.
#include "core/byte_search.h"
#include "core/pattern.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace quillet::core;

namespace {

struct TextShape {
    const char* name;
    std::string_view background; // bytes the text is mostly made of
    std::string_view sprinkle;   // bytes put in now and then
    int sprinkleEvery;           // one in this many bytes
};

constexpr TextShape kShapes[] = {
    {"sparse rare byte", "abcdefgh ", "_7Q", 40},
    {"dense rare byte", "ab_", "_", 2},         // the "rare" byte is everywhere: fallback path
    {"mixed case letters", "aAbBcC", "zZ", 30}, // both case forms of the chosen byte
    {"high bytes", "a \xe9\xc9", "\xff:", 25},
};

std::string makeText(std::mt19937& rng, const TextShape& shape, std::size_t size) {
    std::string text(size, ' ');
    for (char& c : text) {
        if (rng() % static_cast<unsigned>(shape.sprinkleEvery) == 0)
            c = shape.sprinkle[rng() % shape.sprinkle.size()];
        else
            c = shape.background[rng() % shape.background.size()];
    }
    return text;
}

} // namespace

TEST(LongScanTest, FindFromAgreesWithANaiveSearchOnLongTexts) {
    std::mt19937 rng(99);
    int found = 0;
    for (const TextShape& shape : kShapes) {
        for (int iter = 0; iter < 300; ++iter) {
            const std::string text = makeText(rng, shape, 256 + rng() % 4000);
            // Patterns cut from the text itself (so they occur), sometimes with
            // one byte changed (so they may not).
            const std::size_t length = 1 + rng() % 8;
            const std::size_t at = rng() % (text.size() - length);
            std::string pattern = text.substr(at, length);
            if (iter % 3 == 0)
                pattern[rng() % length] = shape.sprinkle[rng() % shape.sprinkle.size()];
            const auto n = static_cast<Pos>(text.size());
            const Pos f = 1 + static_cast<Pos>(rng() % 64);
            for (bool caseSensitive : {true, false}) {
                const Pos expected = testref::naiveFindFrom(text, pattern, n, f, caseSensitive);
                const Pos got = findFrom(caseSensitive, text, pattern, n, f);
                ASSERT_EQ(got, expected) << shape.name << ", pattern '" << pattern << "', F=" << f
                                         << (caseSensitive ? ", case-sensitive" : ", ignoring case");
                found += expected != 0;
            }
        }
    }
    EXPECT_GT(found, 1500);
}

TEST(LongScanTest, AMatchEndingOnTheLastByteOfALongRangeIsFound) {
    std::string text(5000, 'a');
    text += "x_y";
    const auto n = static_cast<Pos>(text.size());
    EXPECT_EQ(FindFromNoCase(text, "X_Y", n, 3, 1), n - 2);
    EXPECT_EQ(FindFrom(text, "x_y", n - 1, 3, 1), 0) << "a match may not end past E";
}

namespace {

std::string repeated(std::string_view unit, std::size_t times) {
    std::string out;
    out.reserve(unit.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += unit;
    return out;
}

struct NearMatches {
    const char* name;
    std::string text;
    std::string pattern;
};

// Texts on which a scan that checks each candidate in full compares about
// the pattern's length at every candidate.
std::vector<NearMatches> nearMatchCases() {
    const std::string unit = std::string(39, 'e') + "a";
    return {
        {"near match every 40 bytes", repeated(unit, 1000), repeated(unit, 50) + "a"},
        {"near match every 40 bytes, match at the end", repeated(unit, 1000) + "a", repeated(unit, 50) + "a"},
        {"rarest byte everywhere, pattern differs at its start", std::string(20000, 'b'), "a" + std::string(300, 'b')},
        {"mixed case run, pattern differs at its start", repeated("bB", 10000), "A" + repeated("Bb", 150)},
        {"pattern differs at its second byte", std::string(20000, 'b'), "ba" + std::string(300, 'b')},
        {"periodic pattern, one period missing", repeated("abaab", 4000), repeated("abaab", 60) + "abab"},
        {"periodic pattern present late", repeated("abaab", 4000) + "abab" + repeated("abaab", 60),
         "abab" + repeated("abaab", 60)},
    };
}

} // namespace

TEST(LongScanTest, TextsFullOfNearMatchesAgreeWithANaiveSearch) {
    for (const NearMatches& c : nearMatchCases()) {
        const auto n = static_cast<Pos>(c.text.size());
        const auto m = static_cast<Pos>(c.pattern.size());
        for (bool caseSensitive : {true, false}) {
            for (const Pos f : {Pos{1}, Pos{2}, n / 3}) {
                const Pos expected = testref::naiveFindFrom(c.text, c.pattern, n, f, caseSensitive);
                EXPECT_EQ(findFrom(caseSensitive, c.text, c.pattern, n, f), expected)
                    << c.name << ", F=" << f << (caseSensitive ? "" : ", ignoring case");
                const Pos back = testref::naiveFindBack(c.text, c.pattern, n, n - f, caseSensitive);
                EXPECT_EQ(findBack(caseSensitive, c.text, c.pattern, n, n - f), back)
                    << c.name << ", back from " << n - f << (caseSensitive ? "" : ", ignoring case");
            }
            TSkipTable table;
            const char* hit;
            if (caseSensitive) {
                BuildSkipTable(c.pattern.data(), m, table);
                hit = ScanForward(c.text.data(), c.pattern.data(), n, m, table);
            } else {
                BuildSkipTableNoCase(c.pattern.data(), m, table);
                hit = ScanForwardNoCase(c.text.data(), c.pattern.data(), n, m, table);
            }
            EXPECT_EQ(hit == nullptr ? 0 : (hit - c.text.data()) + 1,
                      testref::naiveFindFrom(c.text, c.pattern, n, 1, caseSensitive))
                << c.name << ", scan core" << (caseSensitive ? "" : ", ignoring case");
        }
    }
}

// 10 MiB of 'e' x 39 + 'a', searched for 2,500 of those units and one more
// 'a': every 40 bytes a candidate that matches for up to 100,000 bytes. This
// once took seconds per search; now it must simply finish with the right answer.
TEST(LongScanTest, HundredKilobyteNearMatchesEveryFortyBytes) {
    const std::string unit = std::string(39, 'e') + "a";
    std::string text = repeated(unit, 262144);
    const std::string pattern = repeated(unit, 2500) + "a";
    const auto n = static_cast<Pos>(text.size());
    const auto m = static_cast<Pos>(pattern.size());
    for (bool caseSensitive : {true, false}) {
        EXPECT_EQ(findFrom(caseSensitive, text, pattern, n, 1), 0) << caseSensitive;
        EXPECT_EQ(findBack(caseSensitive, text, pattern, n, 0), 0) << caseSensitive;
    }
    text += "A";
    for (bool caseSensitive : {true, false}) {
        const Pos expected = caseSensitive ? 0 : n + 2 - m;
        EXPECT_EQ(findFrom(caseSensitive, text, pattern, n + 1, 1), expected) << caseSensitive;
        EXPECT_EQ(findBack(caseSensitive, text, pattern, n + 1, 0), expected) << caseSensitive;
    }
}

// The tightening step of a star pattern searches its first piece backwards
// over the whole stretch before the last piece: with near matches of that
// piece at every byte, it must still find the rightmost one.
TEST(LongScanTest, StarPatternTightensAcrossNearMatchesOfItsFirstPiece) {
    const std::string first = "ba" + std::string(2000, 'b');
    const std::string text = first + first + std::string(1 << 20, 'b') + "Z";
    const auto textLen = static_cast<Pos>(text.size());
    const auto m = static_cast<Pos>(first.size());
    for (bool caseSensitive : {true, false}) {
        Pos start = 0;
        Pos end = 0;
        TSubStrPosArray ranges;
        ASSERT_TRUE(MatchPattern(start, end, ranges, text, first + "*Z", textLen, true, 1, caseSensitive, true));
        EXPECT_EQ(start, m + 1) << caseSensitive;
        EXPECT_EQ(end, textLen) << caseSensitive;
        ASSERT_EQ(ranges.size(), 2u);
        EXPECT_EQ(ranges[0].Pos, 2 * m + 1) << caseSensitive;
        EXPECT_EQ(ranges[0].Len, 1 << 20) << caseSensitive;
    }
}

// Periodic texts with a few bytes changed, and long patterns cut from them:
// many windows match for most of the pattern, so the quick scans hand over
// to Two-Way at all sorts of places, and the match may lie just past one.
TEST(LongScanTest, LongPatternsInPeriodicTextsAgreeWithANaiveSearch) {
    constexpr std::string_view kUnits[] = {"b", "ab", "aab", "eeeeeeea", "aBbA", "abaab"};
    std::mt19937 rng(5150);
    int found = 0;
    for (int iter = 0; iter < 600; ++iter) {
        const auto unit = kUnits[static_cast<std::size_t>(iter) % std::size(kUnits)];
        std::string text = repeated(unit, (300 + rng() % 3000) / unit.size());
        for (int changes = static_cast<int>(rng() % 4); changes > 0; --changes)
            text[rng() % text.size()] = "abAB"[rng() % 4];
        const std::size_t length = 20 + rng() % 200;
        std::string pattern = text.substr(rng() % (text.size() - length), length);
        if (iter % 3 == 0)
            pattern[rng() % length] = "abAB"[rng() % 4];
        const auto n = static_cast<Pos>(text.size());
        const Pos f = 1 + static_cast<Pos>(rng() % 300);
        for (bool caseSensitive : {true, false}) {
            const Pos expected = testref::naiveFindFrom(text, pattern, n, f, caseSensitive);
            ASSERT_EQ(findFrom(caseSensitive, text, pattern, n, f), expected)
                << "unit " << unit << ", pattern " << testref::quote(pattern) << ", F=" << f
                << (caseSensitive ? "" : ", ignoring case");
            ASSERT_EQ(findBack(caseSensitive, text, pattern, n, n - f),
                      testref::naiveFindBack(text, pattern, n, n - f, caseSensitive))
                << "unit " << unit << ", pattern " << testref::quote(pattern) << ", back from " << n - f
                << (caseSensitive ? "" : ", ignoring case");
            found += expected != 0;
        }
    }
    EXPECT_GT(found, 500);
}

// One match moved through a text of near matches, a byte (or a unit) at a
// time: somewhere along the way it sits right where a quick scan hands over
// to Two-Way, and neither the scan nor the hand-over may step past it.
TEST(LongScanTest, AMatchRightWhereTheScanHandsOverIsFound) {
    struct Sweep {
        const char* name;
        std::string (*text)(std::size_t x);
        std::string pattern;
        Pos (*expected)(std::size_t x);
        std::size_t from, to;
    };
    const std::string unit = std::string(39, 'e') + "a";
    static const std::string staticUnit = unit;
    const Sweep sweeps[] = {
        {"run of b, match after x bytes",
         [](std::size_t x) { return std::string(x, 'b') + "a" + std::string(600, 'b'); }, "a" + std::string(40, 'b'),
         [](std::size_t x) { return static_cast<Pos>(x) + 1; }, 0, 1500},
        {"run of b, x near matches after the match",
         [](std::size_t x) { return std::string(1000, 'b') + "a" + std::string(x + 40, 'b'); },
         "bba" + std::string(40, 'b'), [](std::size_t) { return Pos{999}; }, 0, 1500},
        {"units of 40 bytes, match after x units",
         [](std::size_t x) { return repeated(staticUnit, x) + "a" + repeated(staticUnit, 30); },
         repeated(unit, 5) + "a", [](std::size_t x) { return static_cast<Pos>(x - 5) * 40 + 1; }, 5, 80},
    };
    for (const Sweep& sweep : sweeps) {
        for (std::size_t x = sweep.from; x < sweep.to; ++x) {
            const std::string text = sweep.text(x);
            const auto n = static_cast<Pos>(text.size());
            for (bool caseSensitive : {true, false}) {
                ASSERT_EQ(findFrom(caseSensitive, text, sweep.pattern, n, 1), sweep.expected(x))
                    << sweep.name << ", x=" << x << (caseSensitive ? "" : ", ignoring case");
                ASSERT_EQ(findBack(caseSensitive, text, sweep.pattern, n, 0), sweep.expected(x))
                    << sweep.name << ", x=" << x << ", backwards" << (caseSensitive ? "" : ", ignoring case");
            }
        }
    }
}
