#include "engine/run/text_encoding.h"

#include <array>

namespace quillet::engine {

namespace {

// Converted text goes out in pieces of this size: one call of the sink per
// piece, not one per character.
constexpr std::size_t kChunk = std::size_t{16} * 1024;

class ChunkWriter {
public:
    explicit ChunkWriter(core::TextSink& out) : m_out(out) {}
    ~ChunkWriter() { flush(); }
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // Room for one more character (at most 4 bytes) in the piece.
    char* room() {
        if (m_used + 4 > m_buffer.size())
            flush();
        return m_buffer.data() + m_used;
    }
    void wrote(std::size_t bytes) { m_used += bytes; }
    void flush() {
        if (m_used > 0)
            m_out.append(std::string_view(m_buffer.data(), m_used));
        m_used = 0;
    }

private:
    core::TextSink& m_out;
    std::array<char, kChunk> m_buffer{};
    std::size_t m_used = 0;
};

bool bigEndian(TextEncoding encoding) {
    return encoding == TextEncoding::Utf16BE || encoding == TextEncoding::Utf32BE;
}

std::size_t unitSize(TextEncoding encoding) {
    return encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE ? 2 : 4;
}

std::uint32_t readUnit(const unsigned char* at, std::size_t size, bool big) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value |= std::uint32_t{at[big ? i : size - 1 - i]} << (8 * (size - 1 - i));
    return value;
}

void writeUnit(char* at, std::uint32_t value, std::size_t size, bool big) {
    for (std::size_t i = 0; i < size; ++i)
        at[big ? size - 1 - i : i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

bool isSurrogate(std::uint32_t code) {
    return code >= 0xD800 && code <= 0xDFFF;
}

std::size_t writeUtf8(char* at, std::uint32_t code) {
    if (code < 0x80) {
        at[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        at[0] = static_cast<char>(0xC0 | (code >> 6));
        at[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        at[0] = static_cast<char>(0xE0 | (code >> 12));
        at[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        at[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    at[0] = static_cast<char>(0xF0 | (code >> 18));
    at[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    at[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    at[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

// The code point of the UTF-8 sequence at text[at], and its length; 0 when
// no valid sequence begins there (the table of well-formed sequences of the
// Unicode standard, section 3.9).
std::size_t readUtf8(std::string_view text, std::size_t at, std::uint32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || isSurrogate(code))
        return 0;
    return length;
}

} // namespace

TextEncoding SniffEncoding(std::string_view head) {
    const auto starts = [&](std::string_view mark) { return head.substr(0, mark.size()) == mark; };
    using namespace std::string_view_literals;
    if (starts("\xFF\xFE\x00\x00"sv))
        return TextEncoding::Utf32LE;
    if (starts("\x00\x00\xFE\xFF"sv))
        return TextEncoding::Utf32BE;
    if (starts("\xEF\xBB\xBF"sv))
        return TextEncoding::Utf8;
    if (starts("\xFF\xFE"sv))
        return TextEncoding::Utf16LE;
    if (starts("\xFE\xFF"sv))
        return TextEncoding::Utf16BE;
    return TextEncoding::Bytes;
}

std::size_t MarkSize(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Bytes:
        return 0;
    case TextEncoding::Utf8:
        return 3;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        return 2;
    case TextEncoding::Utf32LE:
    case TextEncoding::Utf32BE:
        return 4;
    }
    return 0;
}

bool NeedsDecoding(TextEncoding encoding) {
    return encoding != TextEncoding::Bytes && encoding != TextEncoding::Utf8;
}

std::string_view EncodingName(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Bytes:
        return "bytes";
    case TextEncoding::Utf8:
        return "UTF-8";
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        return "UTF-16";
    case TextEncoding::Utf32LE:
    case TextEncoding::Utf32BE:
        return "UTF-32";
    }
    return "bytes";
}

bool DecodeText(std::string_view bytes, TextEncoding encoding, core::TextSink& out) {
    const std::size_t size = unitSize(encoding);
    const bool big = bigEndian(encoding);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    // UTF-8 takes at most 3 bytes where UTF-16 takes 2, and 4 where UTF-32 does.
    out.reserve(size == 2 ? bytes.size() / 2 * 3 : bytes.size());
    ChunkWriter writer(out);
    std::size_t at = 0;
    for (; bytes.size() - at >= size; at += size) {
        std::uint32_t code = readUnit(data + at, size, big);
        if (size == 2 && isSurrogate(code)) {
            if (code >= 0xDC00 || bytes.size() - at < 4)
                return false;
            const std::uint32_t low = readUnit(data + at + 2, 2, big);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            at += 2;
        } else if (isSurrogate(code) || code > 0x10FFFF) {
            return false;
        }
        char* room = writer.room();
        writer.wrote(writeUtf8(room, code));
    }
    return at == bytes.size();
}

bool EncodeText(std::string_view text, TextEncoding encoding, core::TextSink& out) {
    const std::size_t size = unitSize(encoding);
    const bool big = bigEndian(encoding);
    out.reserve(text.size() * size);
    ChunkWriter writer(out);
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t code = 0;
        const std::size_t length = readUtf8(text, at, code);
        if (length == 0)
            return false;
        at += length;
        char* room = writer.room();
        if (size == 2 && code >= 0x10000) {
            code -= 0x10000;
            writeUnit(room, 0xD800 + (code >> 10), 2, big);
            writeUnit(room + 2, 0xDC00 + (code & 0x3FF), 2, big);
            writer.wrote(4);
        } else {
            writeUnit(room, code, size, big);
            writer.wrote(size);
        }
    }
    return true;
}

} // namespace quillet::engine
