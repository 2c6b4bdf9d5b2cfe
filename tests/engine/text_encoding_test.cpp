// The mark sniffer and the UTF-16/UTF-32 conversions, with the C library's
// iconv as the reference for the encoded bytes.
#include "engine/run/text_encoding.h"

#include "testutil/encoding_reference.h"

#include <gtest/gtest.h>

#include <string>

using namespace quillet::engine;
using namespace std::string_literals;
using quillet::testutil::Iconv;
using quillet::testutil::StringSink;

namespace {

struct Form {
    TextEncoding encoding;
    const char* iconvName; // without a mark
};

constexpr Form kForms[] = {{TextEncoding::Utf16LE, "UTF-16LE"},
                           {TextEncoding::Utf16BE, "UTF-16BE"},
                           {TextEncoding::Utf32LE, "UTF-32LE"},
                           {TextEncoding::Utf32BE, "UTF-32BE"}};

std::string hex(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        constexpr char kDigits[] = "0123456789abcdef";
        const auto byte = static_cast<unsigned char>(c);
        (out += kDigits[byte >> 4]) += kDigits[byte & 15];
    }
    return out;
}

} // namespace

TEST(SniffEncoding, TheLongestMarkWins) {
    const struct {
        std::string head;
        TextEncoding expected;
    } cases[] = {
        {"", TextEncoding::Bytes},
        {"plain", TextEncoding::Bytes},
        {"\xEF\xBB\xBFx", TextEncoding::Utf8},
        {"\xEF\xBB", TextEncoding::Bytes},
        {"\xFF\xFE", TextEncoding::Utf16LE},
        {"\xFF\xFEx\0"s, TextEncoding::Utf16LE},
        {"\xFF\xFE\0"s, TextEncoding::Utf16LE}, // too short for UTF-32's mark
        {"\xFF\xFE\0\0"s, TextEncoding::Utf32LE},
        {"\xFE\xFF", TextEncoding::Utf16BE},
        {"\0\0\xFE\xFF"s, TextEncoding::Utf32BE},
        {"\0\0\xFF\xFE"s, TextEncoding::Bytes},
        {"x\xFF\xFE", TextEncoding::Bytes},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SniffEncoding(c.head), c.expected) << hex(c.head);
}

// Every kind of character, through both conversions, against iconv.
TEST(TextEncoding, ConversionsAgreeWithIconvBothWays) {
    const std::string texts[] = {
        "",
        "Hello World\r\n",
        "\0 NUL inside\0"s,
        "caf\xC3\xA9 \xC3\x9F",                       // two-byte UTF-8
        "\xE6\x97\xA5\xE6\x9C\xAC \xEF\xBF\xBF",      // three bytes, U+FFFF
        "\xEE\x80\x80",                               // U+E000, just past the surrogates
        "\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF",          // U+1F600 and U+10FFFF: surrogate pairs in UTF-16
        std::string(20000, 'a') + "\xF0\x9F\x98\x80", // past the converter's chunk
    };
    for (const Form& form : kForms) {
        for (const std::string& text : texts) {
            const std::string encoded = Iconv(form.iconvName, "UTF-8", text);
            ASSERT_FALSE(encoded.empty() && !text.empty()) << form.iconvName;
            StringSink decoded;
            EXPECT_TRUE(DecodeText(encoded, form.encoding, decoded)) << form.iconvName << " " << hex(encoded);
            EXPECT_EQ(decoded.text, text) << form.iconvName << " " << hex(encoded);
            StringSink back;
            EXPECT_TRUE(EncodeText(text, form.encoding, back)) << form.iconvName << " " << hex(text);
            EXPECT_EQ(back.text, encoded) << form.iconvName << " " << hex(text);
        }
    }
}

// What does not decode stops the text before it: nothing is replaced.
TEST(TextEncoding, DecodingStopsBeforeWhatIsNotValid) {
    const struct {
        TextEncoding encoding;
        std::string bytes;
        std::string decoded;
    } cases[] = {
        {TextEncoding::Utf16LE, "A\0B"s, "A"},        // odd length
        {TextEncoding::Utf16LE, "A\0\x00\xD8"s, "A"}, // high surrogate at the end
        {TextEncoding::Utf16LE,
         "A\0\x00\xD8"
         "B\0"s,
         "A"}, // high surrogate, no low
        {TextEncoding::Utf16LE,
         "A\0\x00\xDC"
         "B\0"s,
         "A"},                                                                        // low surrogate first
        {TextEncoding::Utf16BE, "\0A\xD8\x3D\xDE\x00\xD8\x3D"s, "A\xF0\x9F\x98\x80"}, // pair, then half
        {TextEncoding::Utf16BE, "\0A\xD8\x00\xD8\x00"s, "A"},                         // two highs
        {TextEncoding::Utf32LE, "A\0\0\0\x00\xD8\0\0"s, "A"},                         // a surrogate
        {TextEncoding::Utf32LE, "A\0\0\0\0\0\x11\0"s, "A"},                           // past U+10FFFF
        {TextEncoding::Utf32BE, "\0\0\0A\0\0"s, "A"},                                 // cut short
        {TextEncoding::Utf32BE, "\0\0\0A\xFF\xFF\xFF\xFF"s, "A"},
    };
    for (const auto& c : cases) {
        StringSink decoded;
        EXPECT_FALSE(DecodeText(c.bytes, c.encoding, decoded)) << hex(c.bytes);
        EXPECT_EQ(decoded.text, c.decoded) << hex(c.bytes);
    }
}

TEST(TextEncoding, EncodingRefusesWhatIsNotUtf8) {
    const std::string texts[] = {
        "A\x80",             // stray continuation byte
        "A\xC3",             // cut short
        "A\xC3(",            // continuation missing
        "A\xC0\x80",         // overlong NUL
        "A\xE0\x80\x80",     // overlong
        "A\xED\xA0\x80",     // a surrogate written in UTF-8
        "A\xF4\x90\x80\x80", // past U+10FFFF
        "A\xFF",
    };
    for (const Form& form : kForms) {
        for (const std::string& text : texts) {
            StringSink out;
            EXPECT_FALSE(EncodeText(text, form.encoding, out)) << form.iconvName << " " << hex(text);
            EXPECT_EQ(out.text, Iconv(form.iconvName, "UTF-8", "A")) << form.iconvName << " " << hex(text);
        }
    }
}
