// The encodings a file announces with a byte-order mark, and the exact
// conversions between them and UTF-8, the text the operations work on. The
// prepare step (prepare.h) uses them: a file that begins with a mark is
// decoded, processed and encoded back; a file without one is bytes, and no
// code page is ever guessed. Pure text work, no I/O.
//
// The conversions are strict in both directions: nothing is replaced, added
// or dropped, so that a text decoded and encoded again gives back the very
// bytes it came from. Where that cannot be (an unpaired surrogate, an odd
// length, a code point past U+10FFFF), the conversion says so and stops.
#pragma once

#include "core/text_ops.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillet::engine {

enum class TextEncoding : std::uint8_t {
    Bytes,   // no mark: the bytes are the text
    Utf8,    // EF BB BF: the bytes after the mark are the text
    Utf16LE, // FF FE
    Utf16BE, // FE FF
    Utf32LE, // FF FE 00 00
    Utf32BE, // 00 00 FE FF
};

// The longest mark: the bytes SniffEncoding needs to decide.
inline constexpr std::size_t kLongestMark = 4;

// The encoding whose mark begins `head`, Bytes when none does. UTF-32 LE is
// tested before UTF-16 LE, whose mark begins its own: FF FE 00 00 is UTF-32,
// so a UTF-16 LE text that starts with U+0000 is read as UTF-32 (a text
// that then does not decode is never rewritten, see prepare.h).
TextEncoding SniffEncoding(std::string_view head);

// The length of the encoding's mark; 0 for Bytes.
std::size_t MarkSize(TextEncoding encoding);

// Whether the text is converted to and from UTF-8 (UTF-16 and UTF-32), as
// opposed to used as it is (Bytes, and UTF-8 after its mark).
bool NeedsDecoding(TextEncoding encoding);

// "UTF-16" or "UTF-32" (either byte order), "UTF-8", or "bytes": for messages.
std::string_view EncodingName(TextEncoding encoding);

// Appends to `out` the UTF-8 text of `bytes`, which follow the mark of a
// UTF-16 or UTF-32 encoding (precondition: NeedsDecoding). Stops before the
// first code unit that does not decode (an unpaired surrogate, a UTF-32 value
// that is a surrogate or past U+10FFFF, a last unit cut short) and returns
// false; true when every byte decoded. U+0000 decodes to a NUL byte.
bool DecodeText(std::string_view bytes, TextEncoding encoding, core::TextSink& out);

// Appends to `out` the UTF-8 `text` in `encoding` (precondition:
// NeedsDecoding), without a mark. Returns false, having appended the part
// before it, at the first byte that does not begin a valid UTF-8 sequence:
// a stray or missing continuation byte, an overlong form, a surrogate code
// point or one past U+10FFFF.
bool EncodeText(std::string_view text, TextEncoding encoding, core::TextSink& out);

} // namespace quillet::engine
