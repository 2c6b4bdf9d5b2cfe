// Case folding and UTF-8 decoding against utf8proc, an implementation that
// shares nothing with ours, over every code point.
#include "core/case_fold.h"

#include <gtest/gtest.h>
#include <utf8proc.h>

#include <map>
#include <random>
#include <sstream>

using namespace quillet::core;

namespace {

bool surrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

std::string hex(char32_t c) {
    std::ostringstream out;
    out << "U+" << std::hex << std::uppercase << static_cast<unsigned>(c);
    return out.str();
}

// utf8proc's full case folding of c: one code point or more.
std::vector<utf8proc_int32_t> fullFold(char32_t c) {
    utf8proc_int32_t buf[8];
    int boundclass = 0;
    const auto n = utf8proc_decompose_char(static_cast<utf8proc_int32_t>(c), buf, 8, UTF8PROC_CASEFOLD, &boundclass);
    return {buf, buf + (n > 0 ? n : 0)};
}

} // namespace

// Where full folding gives one code point, simple folding is that code point;
// where it gives more (ß, ŉ, ΐ), simple folding leaves the code point alone or
// maps it to one with the same full folding (ẞ to ß). Folding twice changes
// nothing.
TEST(CaseFoldTest, AgreesWithUtf8procOnEveryCodePoint) {
    int checked = 0;
    for (char32_t c = 0; c < 0x110000; ++c) {
        if (surrogate(c))
            continue;
        const char32_t folded = FoldCase(c);
        ASSERT_EQ(FoldCase(folded), folded) << hex(c);
        const auto full = fullFold(c);
        if (full.size() == 1) {
            ASSERT_EQ(folded, static_cast<char32_t>(full[0])) << hex(c);
        } else {
            ASSERT_TRUE(folded == c || fullFold(folded) == full) << hex(c) << " folds to " << hex(folded);
            ++checked;
        }
    }
    EXPECT_GT(checked, 100); // the full foldings were reached
}

// Case pairs fold alike, except the Turkic i's: simple folding leaves İ and ı
// alone, as in every language but Turkish and Azeri.
TEST(CaseFoldTest, CasePairsFoldAlike) {
    const std::map<char32_t, const char*> exceptions = {{0x130, "İ lower-cases to i"}, {0x131, "ı upper-cases to I"}};
    int seen = 0;
    for (char32_t c = 0; c < 0x110000; ++c) {
        if (surrogate(c))
            continue;
        const auto lower = static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c)));
        const auto upper = static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(c)));
        const bool alike = FoldCase(lower) == FoldCase(c) && FoldCase(upper) == FoldCase(c);
        if (exceptions.count(c) != 0) {
            EXPECT_FALSE(alike) << hex(c) << ": " << exceptions.at(c);
            ++seen;
        } else {
            ASSERT_TRUE(alike) << hex(c) << " lower " << hex(lower) << " upper " << hex(upper);
        }
    }
    EXPECT_EQ(seen, 2);
}

// CasePartners lists exactly the code points that fold alike.
TEST(CaseFoldTest, PartnersAreEveryCodePointThatFoldsAlike) {
    std::map<char32_t, int> classSize;
    for (char32_t c = 0; c < 0x110000; ++c)
        if (!surrogate(c))
            ++classSize[FoldCase(c)];
    for (char32_t c = 0; c < 0x110000; ++c) {
        if (surrogate(c))
            continue;
        const FoldClass partners = CasePartners(c);
        ASSERT_EQ(partners.Count, classSize[FoldCase(c)]) << hex(c);
        bool self = false;
        for (int i = 0; i < partners.Count; ++i) {
            ASSERT_EQ(FoldCase(partners.Members[i]), FoldCase(c)) << hex(c) << " partner " << hex(partners.Members[i]);
            self = self || partners.Members[i] == c;
        }
        ASSERT_TRUE(self) << hex(c);
    }
}

TEST(CaseFoldTest, WorkedCases) {
    struct Case {
        char32_t a, b;
        bool alike;
    };
    const Case cases[] = {
        {U'é', U'É', true},   {U'ä', U'Ä', true},       {U'σ', U'ς', true},   {U'ς', U'Σ', true},
        {U'K', 0x212A, true}, {U's', U'ſ', true},       {U'ß', 0x1E9E, true}, {U'Ω', 0x2126, true},
        {U'ա', U'Ա', true},   {0x10428, 0x10400, true}, {U'в', 0x1C80, true}, {U'ß', U's', false},
        {U'i', 0x130, false}, {U'I', 0x131, false},     {U'a', U'á', false},  {0x110000, 0x110000, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FoldCase(c.a) == FoldCase(c.b), c.alike) << hex(c.a) << " " << hex(c.b);
}

// Every code point round-trips; every byte string of up to three bytes, and
// random four-byte ones, decode as utf8proc decodes them.
TEST(Utf8Test, DecodesAsUtf8procDoes) {
    for (char32_t c = 0; c < 0x110000; ++c) {
        if (surrogate(c))
            continue;
        char bytes[4];
        const int len = EncodeUtf8(c, bytes);
        ASSERT_EQ(len, Utf8Length(c)) << hex(c);
        char32_t back = 0;
        ASSERT_EQ(DecodeUtf8(bytes, bytes + len, back), len) << hex(c);
        ASSERT_EQ(back, c);
        ASSERT_EQ(DecodeUtf8(bytes, bytes + len - 1, back), 0) << hex(c) << " cut short";
    }
    auto agree = [](const unsigned char* bytes, int n) {
        utf8proc_int32_t theirs = 0;
        const auto theirLen = utf8proc_iterate(bytes, n, &theirs);
        char32_t ours = 0;
        const int ourLen =
            DecodeUtf8(reinterpret_cast<const char*>(bytes), reinterpret_cast<const char*>(bytes) + n, ours);
        if (theirLen <= 0)
            return ourLen == 0;
        return ourLen == theirLen && ours == static_cast<char32_t>(theirs);
    };
    unsigned char bytes[4];
    for (std::uint32_t v = 0; v < (1U << 24); ++v) {
        bytes[0] = static_cast<unsigned char>(v >> 16);
        bytes[1] = static_cast<unsigned char>(v >> 8);
        bytes[2] = static_cast<unsigned char>(v);
        for (int n = 1; n <= 3; ++n)
            ASSERT_TRUE(agree(bytes, n)) << std::hex << v << " length " << n;
    }
    std::mt19937 rng(4);
    for (int i = 0; i < 1000000; ++i) {
        const auto v = static_cast<std::uint32_t>(rng());
        bytes[0] = static_cast<unsigned char>(0xE0 + (v >> 28)); // E0..EF, F0..FF: the long forms
        bytes[1] = static_cast<unsigned char>(v >> 16);
        bytes[2] =
            static_cast<unsigned char>(0x80 | ((v >> 8) & 0x7F)) ^ static_cast<unsigned char>(i % 7 == 0 ? 0xC0 : 0);
        bytes[3] = static_cast<unsigned char>(v);
        ASSERT_TRUE(agree(bytes, 4)) << std::hex << v;
    }
}
