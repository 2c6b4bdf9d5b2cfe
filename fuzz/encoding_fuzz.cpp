// Fuzz target: the UTF-16 and UTF-32 conversions give back exactly what they
// were given, or say that they cannot.
#include "engine/run/text_encoding.h"
#include "fuzz_input.h"

#include <string>

using namespace quillet::engine;
using quillet::fuzz::require;

namespace {

struct StringSink final : quillet::core::TextSink {
    std::string text;
    void clear() override { text.clear(); }
    void reserve(std::size_t bytes) override { text.reserve(bytes); }
    void append(std::string_view bytes) override { text.append(bytes); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillet::fuzz::Input input(data, size);
    const std::string bytes = input.rest(4096);
    for (const TextEncoding encoding :
         {TextEncoding::Utf16LE, TextEncoding::Utf16BE, TextEncoding::Utf32LE, TextEncoding::Utf32BE}) {
        // Bytes as a file holds them: decoded as far as they go, and that
        // much encoded again is the same bytes.
        StringSink decoded;
        const bool whole = DecodeText(bytes, encoding, decoded);
        StringSink encoded;
        require(EncodeText(decoded.text, encoding, encoded), "decoded text is valid UTF-8");
        require(bytes.compare(0, encoded.text.size(), encoded.text) == 0, "decoded text encodes to its bytes");
        require(whole == (encoded.text.size() == bytes.size()), "a text decodes whole when it encodes back whole");
        // Bytes as a new text: what encodes decodes to itself.
        StringSink text;
        const bool valid = EncodeText(bytes, encoding, text);
        StringSink back;
        require(DecodeText(text.text, encoding, back), "encoded text decodes");
        require(bytes.compare(0, back.text.size(), back.text) == 0, "encoded text decodes to its UTF-8");
        require(valid == (back.text.size() == bytes.size()), "a text encodes whole when it is valid UTF-8");
    }
    return 0;
}
