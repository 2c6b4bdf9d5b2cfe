// A slow reference for the case-insensitive searches: the text and the
// pattern decoded whole into characters by utf8proc's decoder (a byte that
// does not begin a valid sequence is a character of its own), every character
// reduced to a key (its folded code point, or the stray byte), and every start
// tried. Nothing here shares code with the searches but FoldCase, which
// case_fold_test checks against utf8proc on its own.
#pragma once

#include "core/case_fold.h"

#include <utf8proc.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::core::foldref {

struct Char {
    std::int64_t Offset = 0; // 0-based
    std::int64_t Len = 0;
    std::int64_t Key = 0; // folded code point, or -1 - byte for a stray byte
};

inline std::vector<Char> decode(std::string_view s) {
    std::vector<Char> chars;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
    const auto n = static_cast<std::int64_t>(s.size());
    for (std::int64_t at = 0; at < n;) {
        utf8proc_int32_t cp = 0;
        const auto len = utf8proc_iterate(bytes + at, n - at, &cp);
        if (len > 0) {
            chars.push_back({at, len, static_cast<std::int64_t>(FoldCase(static_cast<char32_t>(cp)))});
            at += len;
        } else {
            chars.push_back({at, 1, -1 - static_cast<std::int64_t>(bytes[at])});
            ++at;
        }
    }
    return chars;
}

// Does the pattern's row of keys start at text character i, ending at or
// before byte e (exclusive)? Where it ends, or -1.
inline std::int64_t matchAt(const std::vector<Char>& text, std::size_t i, const std::vector<Char>& pattern,
                            std::int64_t e) {
    if (pattern.empty() || i + pattern.size() > text.size())
        return -1;
    for (std::size_t k = 0; k < pattern.size(); ++k)
        if (text[i + k].Key != pattern[k].Key)
            return -1;
    const Char& last = text[i + pattern.size() - 1];
    return last.Offset + last.Len <= e ? last.Offset + last.Len : -1;
}

// Leftmost match that begins at or after 1-based f and ends at or before e;
// 1-based position or 0, and its length.
inline std::int64_t findFrom(std::string_view s, std::string_view p, std::int64_t e, std::int64_t f,
                             std::int64_t& len) {
    const auto text = decode(s);
    const auto pattern = decode(p);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i].Offset < f - 1)
            continue;
        const std::int64_t end = matchAt(text, i, pattern, e);
        if (end >= 0) {
            len = end - text[i].Offset;
            return text[i].Offset + 1;
        }
    }
    return 0;
}

// Rightmost match that begins at or before f (0: anywhere) and ends at or
// before e.
inline std::int64_t findBack(std::string_view s, std::string_view p, std::int64_t e, std::int64_t f,
                             std::int64_t& len) {
    const auto text = decode(s);
    const auto pattern = decode(p);
    for (std::size_t i = text.size(); i-- > 0;) {
        if (f > 0 && text[i].Offset > f - 1)
            continue;
        const std::int64_t end = matchAt(text, i, pattern, e);
        if (end >= 0) {
            len = end - text[i].Offset;
            return text[i].Offset + 1;
        }
    }
    return 0;
}

// Leftmost, non-overlapping replacement.
inline std::string replaceAll(std::string_view s, std::string_view find, std::string_view repl) {
    const auto text = decode(s);
    const auto pattern = decode(find);
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::int64_t end = matchAt(text, i, pattern, static_cast<std::int64_t>(s.size()));
        if (end >= 0 && !pattern.empty()) {
            out += repl;
            i += pattern.size();
        } else {
            out += s.substr(static_cast<std::size_t>(text[i].Offset), static_cast<std::size_t>(text[i].Len));
            ++i;
        }
    }
    return out;
}

// The text with every character written as four bytes of its key, the first
// always \x01 and no other \x01 or '*': a case-sensitive search of the keys
// finds exactly the case-insensitive matches, at character boundaries. bytePos
// maps each 1-based position of the result that begins or follows a
// character back to the text.
inline std::string keyText(std::string_view s, std::vector<std::int64_t>* bytePos = nullptr) {
    std::string out;
    if (bytePos != nullptr)
        bytePos->assign(4 * s.size() + 2, -1);
    for (const Char& c : decode(s)) {
        if (bytePos != nullptr)
            (*bytePos)[out.size() + 1] = c.Offset + 1;
        const auto key = static_cast<std::uint32_t>(c.Key < 0 ? 0x110000 + (-1 - c.Key) : c.Key);
        out += '\x01';
        out += static_cast<char>(0x80 | ((key >> 14) & 0x7F));
        out += static_cast<char>(0x80 | ((key >> 7) & 0x7F));
        out += static_cast<char>(0x80 | (key & 0x7F));
    }
    if (bytePos != nullptr)
        (*bytePos)[out.size() + 1] = static_cast<std::int64_t>(s.size()) + 1;
    return out;
}

} // namespace quillet::core::foldref
