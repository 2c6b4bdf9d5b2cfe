// Word characters and case mappings against utf8proc, which shares nothing
// with the generated tables, over every code point; then whole-word matching
// against a plain reference (every occurrence, kept when it starts after the
// last one kept and cuts no word) on random texts, and the operations and
// Only Search agreeing on which matches count.
#include "core/text_ops.h"
#include "core/word_case.h"
#include "reference.h"

#include <gtest/gtest.h>
#include <utf8proc.h>

#include <random>
#include <vector>

namespace quillet::core {
namespace {

using testref::quote;

bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// Letters, marks and decimal digits by utf8proc's categories, and '_'.
bool referenceWordChar(utf8proc_int32_t c) {
    switch (utf8proc_category(c)) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ME:
    case UTF8PROC_CATEGORY_ND:
        return true;
    default:
        return c == '_';
    }
}

TEST(WordCaseTest, AgreesWithUtf8procOnEveryCodePoint) {
    int mismatches = 0;
    for (char32_t c = 0; c < 0x110000 && mismatches < 10; ++c) {
        if (isSurrogate(c))
            continue;
        const auto u = static_cast<utf8proc_int32_t>(c);
        const auto category = utf8proc_category(u);
        const LetterCase expectedCase = category == UTF8PROC_CATEGORY_LU   ? LetterCase::Upper
                                        : category == UTF8PROC_CATEGORY_LL ? LetterCase::Lower
                                        : category == UTF8PROC_CATEGORY_LT ? LetterCase::Title
                                                                           : LetterCase::None;
        // utf8proc raises ß to ẞ, which UnicodeData.txt does not: ß has
        // no simple upper or title case there (its full one is "SS", "Ss").
        const char32_t upper = c == 0xDF ? 0x1E9E : ToUpper(c);
        const char32_t title = c == 0xDF ? 0x1E9E : ToTitle(c);
        const bool same = IsWordChar(c) == referenceWordChar(u) && CaseOf(c) == expectedCase &&
                          upper == static_cast<char32_t>(utf8proc_toupper(u)) &&
                          ToLower(c) == static_cast<char32_t>(utf8proc_tolower(u)) &&
                          title == static_cast<char32_t>(utf8proc_totitle(u));
        if (!same)
            ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(c) << std::dec << " (" << ++mismatches << ")";
    }
    EXPECT_EQ(ToUpper(0xDF), char32_t{0xDF});
    EXPECT_FALSE(IsWordChar(0x110000));
    EXPECT_EQ(ToUpper(0x110000), char32_t{0x110000});
}

// The reference's characters: utf8proc's decoding, a byte that does not
// begin a valid sequence standing alone and counting as a word character.
struct RefChar {
    std::size_t Offset;
    bool Word;
};

std::vector<RefChar> decodeForReference(std::string_view s) {
    std::vector<RefChar> chars;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
    for (std::size_t at = 0; at < s.size();) {
        utf8proc_int32_t cp = 0;
        const auto len = utf8proc_iterate(bytes + at, static_cast<utf8proc_ssize_t>(s.size() - at), &cp);
        chars.push_back({at, len <= 0 || referenceWordChar(cp)});
        at += len > 0 ? static_cast<std::size_t>(len) : 1;
    }
    return chars;
}

// Whether byte offset `at` lies inside a character or between two word characters.
bool referenceSplits(const std::vector<RefChar>& chars, std::size_t size, std::size_t at) {
    if (at == 0 || at >= size)
        return false;
    for (std::size_t i = 1; i < chars.size(); ++i)
        if (chars[i].Offset == at)
            return chars[i - 1].Word && chars[i].Word;
    return true;
}

// Replace Text of a literal word pattern, case-sensitive, the slow way.
std::string referenceReplace(std::string_view text, std::string_view pattern, std::string_view newText,
                             std::int64_t& count) {
    const std::vector<RefChar> chars = decodeForReference(text);
    std::string out;
    std::size_t copied = 0;
    count = 0;
    for (std::size_t at = 0; at + pattern.size() <= text.size(); ++at) {
        if (at < copied || text.substr(at, pattern.size()) != pattern)
            continue;
        if (referenceSplits(chars, text.size(), at) || referenceSplits(chars, text.size(), at + pattern.size()))
            continue;
        out.append(text.substr(copied, at - copied)).append(newText);
        copied = at + pattern.size();
        ++count;
    }
    return out.append(text.substr(copied));
}

const std::string_view kPieces[] = {"a", "b", "A", "_", "1", " ", "-", "é", "ж", "\u0301", "\u2014", "\xE9", "\xC3"};

std::string randomText(std::mt19937& rng, int maxPieces) {
    std::uniform_int_distribution<int> count(1, maxPieces);
    std::uniform_int_distribution<std::size_t> piece(0, std::size(kPieces) - 1);
    std::string s;
    for (int n = count(rng); n > 0; --n)
        s.append(kPieces[piece(rng)]);
    return s;
}

TEST(WholeWordTest, LiteralPatternsAgreeWithTheReference) {
    std::mt19937 rng(21);
    const MatchOptions word{true, false, {}};
    for (int round = 0; round < 20000; ++round) {
        const std::string text = randomText(rng, 24);
        const std::string pattern = randomText(rng, 3);
        std::int64_t expectedCount = 0;
        const std::string expected = referenceReplace(text, pattern, "<>", expectedCount);
        std::string result;
        std::int64_t count = 0;
        struct Sink final : TextSink {
            std::string& out;
            explicit Sink(std::string& o) : out(o) {}
            void clear() override { out.clear(); }
            void reserve(std::size_t) override {}
            void append(std::string_view bytes) override { out.append(bytes); }
        } sink(result);
        ProcessText(sink, text, OpReplaceText, pattern, true, "<>", false, kTagOpen, kTagClose, -1, &count, word);
        const std::string where = "text " + quote(text) + ", pattern " + quote(pattern);
        ASSERT_EQ(result, expected) << where;
        ASSERT_EQ(count, expectedCount) << where;
        ASSERT_EQ(TextMatches(text, pattern, true, word), expectedCount > 0) << where;
    }
}

// A peer's search showed whole words while its replace hit partial ones:
// here every operation and Only Search count the same matches, with stars
// and without regard to case too.
TEST(WholeWordTest, SearchReplaceAndInsertsCountTheSameMatches) {
    std::mt19937 rng(4);
    const MatchOptions options[] = {{true, false, {}}, {true, true, {}}};
    std::uniform_int_distribution<int> coin(0, 1);
    for (int round = 0; round < 20000; ++round) {
        const std::string text = randomText(rng, 20);
        std::string pattern = randomText(rng, 2);
        if (coin(rng) != 0)
            pattern.insert(coin(rng) != 0 ? pattern.size() : 0, "*");
        if (coin(rng) != 0)
            pattern += "*" + randomText(rng, 2);
        const bool caseSensitive = coin(rng) != 0;
        const MatchOptions& option = options[coin(rng)];
        std::int64_t counts[3] = {};
        const std::uint8_t operations[3] = {OpReplaceText, OpInsertBefore, OpInsertAfter};
        struct NullSink final : TextSink {
            void clear() override {}
            void reserve(std::size_t) override {}
            void append(std::string_view) override {}
        } sink;
        for (int i = 0; i < 3; ++i)
            ProcessText(sink, text, operations[i], pattern, caseSensitive, "x", false, kTagOpen, kTagClose, -1,
                        &counts[i], option);
        const std::string where = "text " + quote(text) + ", pattern " + quote(pattern);
        ASSERT_EQ(counts[0], counts[1]) << where;
        ASSERT_EQ(counts[0], counts[2]) << where;
        ASSERT_EQ(TextMatches(text, pattern, caseSensitive, option), counts[0] > 0) << where;
    }
}

} // namespace
} // namespace quillet::core
