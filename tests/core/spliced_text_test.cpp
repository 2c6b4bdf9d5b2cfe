// The spliced output of every operation has the bytes of the plain one, and
// refers to long unchanged stretches instead of copying them.
#include "core/spliced_text.h"
#include "core/text_ops.h"

#include <gtest/gtest.h>

#include <string>

using namespace quillet::core;

namespace {

// Long runs between the matches, short ones, matches at both ends.
std::string sampleText() {
    const std::string run(3 * SplicedText::kReferFrom, 'x');
    return "<a href=a.htm>" + run + "<a href=b.htm><script>s</script>" + std::string(10, 'y') + "<a href=c.htm>" + run +
           "\n<a href=d.htm>";
}

bool refersInto(const SplicedText& spliced, std::string_view input) {
    for (std::string_view piece : spliced.pieces()) {
        if (piece.data() >= input.data() && piece.data() < input.data() + input.size())
            return true;
    }
    return false;
}

} // namespace

TEST(SplicedText, EveryOperationGivesThePlainOutput) {
    struct Case {
        std::uint8_t operation;
        const char* pattern;
        const char* newText;
        bool isPattern;
        bool refers; // long kept stretches are not copied
    };
    const Case cases[] = {
        {OpReplaceText, "href=*.htm", "href={$1}.html", true, true},
        {OpReplaceText, "x", "", false, false},   // every kept stretch is empty
        {OpReplaceText, "zzz", "q", false, true}, // no match: the whole text is kept
        {OpInsertBefore, "<a", "[", false, true},
        {OpInsertAfter, ".htm>", "]", false, true},
        {OpRemoveScript, "", "", false, false}, // the recipe rebuilds the page
        {OpStripWordHtml, "", "", false, false},
    };
    const std::string text = sampleText();
    for (const Case& c : cases) {
        std::string plain;
        const bool plainMatched =
            ProcessText(plain, text, c.operation, c.pattern, false, c.newText, c.isPattern, "{$", "}", -1);
        SplicedText spliced(text);
        const bool splicedMatched =
            ProcessText(spliced, text, c.operation, c.pattern, false, c.newText, c.isPattern, "{$", "}", -1);
        EXPECT_EQ(splicedMatched, plainMatched) << c.pattern;
        EXPECT_EQ(spliced.joined(), plain) << c.pattern;
        EXPECT_EQ(spliced.size(), plain.size()) << c.pattern;
        EXPECT_TRUE(spliced.equals(plain)) << c.pattern;
        EXPECT_EQ(spliced.equals(text), plain == text) << c.pattern;
        EXPECT_EQ(refersInto(spliced, text), c.refers) << c.pattern;
    }
}

TEST(SplicedText, EqualsComparesBytesNotJustPlaces) {
    const std::string text = sampleText();
    struct Case {
        std::string other;
        bool equal;
    };
    std::string lastByteDiffers = text;
    lastByteDiffers.back() = '!';
    const Case cases[] = {{text, true}, {text + "!", false}, {lastByteDiffers, false}, {"", false}};
    SplicedText spliced(text);
    spliced.keep(std::string_view(text).substr(0, 2 * SplicedText::kReferFrom));
    spliced.keep(std::string_view(text).substr(2 * SplicedText::kReferFrom));
    for (const Case& c : cases)
        EXPECT_EQ(spliced.equals(c.other), c.equal) << c.other.size();
    ASSERT_EQ(spliced.pieces().size(), 1u); // adjacent stretches join
    spliced.clear();
    EXPECT_TRUE(spliced.equals(""));
}
