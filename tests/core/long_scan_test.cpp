// Scans over long ranges, where the forward search jumps between occurrences
// of the pattern's rarest byte and falls back to the skip table when that
// byte turns out to be common: the answer must stay the leftmost match.
#include "core/byte_search.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

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
