#include "cli/shown_name.h"

#include <cstddef>

namespace quillet::cli {

namespace {

// How many bytes the well-formed UTF-8 character at text[i] takes, 0 when
// the byte there is unsafe (see the header).
std::size_t safeCharacter(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x20 || lead == 0x7F)
        return 0;
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80; // the second byte's bounds, which rule out overlong forms and surrogates
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    if (lead == 0xE0)
        low = 0xA0;
    else if (lead == 0xED)
        high = 0x9F;
    else if (lead == 0xF0)
        low = 0x90;
    else if (lead == 0xF4)
        high = 0x8F;
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    if (lead == 0xC2 && byte(i + 1) <= 0x9F) // a C1 control
        return 0;
    return length;
}

void escapeByte(std::string& out, unsigned char byte) {
    static constexpr char kNamed[] = "abtnvfr"; // 7 to 13
    out += '\\';
    if (byte >= 7 && byte <= 13) {
        out += kNamed[byte - 7];
        return;
    }
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

// Appends text, its unsafe bytes escaped and, with `quoting`, '"' and '\' too.
// Returns whether anything was escaped.
bool escape(std::string& out, std::string_view text, bool quoting) {
    bool escaped = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = safeCharacter(text, i);
        if (length == 0) {
            escapeByte(out, static_cast<unsigned char>(text[i++]));
            escaped = true;
            continue;
        }
        if (quoting && (text[i] == '"' || text[i] == '\\')) {
            (out += '\\') += text[i];
            escaped = true;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return escaped;
}

} // namespace

std::string QuotePath(std::string_view path) {
    std::string quoted = "\"";
    if (!escape(quoted, path, true))
        return std::string(path);
    quoted += '"';
    return quoted;
}

std::string EscapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    escape(out, text, false);
    return out;
}

} // namespace quillet::cli
