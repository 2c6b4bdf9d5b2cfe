// Naive reference searches for the differential tests of the text engine, and
// a printer that makes any byte string readable in a failure message.
//
// The references are written for plain obviousness, not speed: every candidate
// position is tried. Case folding here is its own a..z rule, not UpperTable,
// so a wrong table cannot hide behind an equally wrong reference.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace quillet::core::testref {

inline unsigned char foldAscii(char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - ('a' - 'A')) : b;
}

inline bool sameBytes(char a, char b, bool caseSensitive) {
    return caseSensitive ? a == b : foldAscii(a) == foldAscii(b);
}

// Does p occur in s at 1-based position pos?
inline bool occursAt(std::string_view s, std::string_view p, std::int64_t pos, bool caseSensitive) {
    if (pos < 1 || pos - 1 + static_cast<std::int64_t>(p.size()) > static_cast<std::int64_t>(s.size()))
        return false;
    for (std::size_t j = 0; j < p.size(); ++j)
        if (!sameBytes(s[static_cast<std::size_t>(pos - 1) + j], p[j], caseSensitive))
            return false;
    return true;
}

// Leftmost match beginning at or after f and ending at or before e; 0 if none.
inline std::int64_t naiveFindFrom(std::string_view s, std::string_view p, std::int64_t e, std::int64_t f,
                                  bool caseSensitive) {
    const auto m = static_cast<std::int64_t>(p.size());
    if (m < 1)
        return 0;
    for (std::int64_t pos = f; pos + m - 1 <= e; ++pos)
        if (occursAt(s, p, pos, caseSensitive))
            return pos;
    return 0;
}

// Rightmost match beginning at or before f (0: anywhere) and ending at or
// before e; 0 if none.
inline std::int64_t naiveFindBack(std::string_view s, std::string_view p, std::int64_t e, std::int64_t f,
                                  bool caseSensitive) {
    const auto m = static_cast<std::int64_t>(p.size());
    if (m < 1)
        return 0;
    for (std::int64_t pos = e - m + 1; pos >= 1; --pos) {
        if (f > 0 && pos > f)
            continue;
        if (occursAt(s, p, pos, caseSensitive))
            return pos;
    }
    return 0;
}

// Leftmost, non-overlapping replacement; written text is never searched again.
inline std::string naiveReplaceAll(std::string_view s, std::string_view find, std::string_view repl,
                                   bool caseSensitive) {
    if (s.empty() || find.empty())
        return std::string(s);
    std::string out;
    std::int64_t pos = 1;
    const auto n = static_cast<std::int64_t>(s.size());
    while (pos <= n) {
        if (occursAt(s, find, pos, caseSensitive)) {
            out += repl;
            pos += static_cast<std::int64_t>(find.size());
        } else {
            out += s[static_cast<std::size_t>(pos - 1)];
            ++pos;
        }
    }
    return out;
}

// "a\x01b" style quoting for failure messages.
inline std::string quote(std::string_view s) {
    static const char* const hex = "0123456789abcdef";
    std::string out = "\"";
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += c;
        } else if (b == '\n') {
            out += "\\n";
        } else if (b < 0x20 || b >= 0x7f) {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

// A string of minLen to maxLen bytes drawn from alphabet.
inline std::string randomString(std::mt19937& rng, std::string_view alphabet, std::size_t minLen, std::size_t maxLen) {
    std::uniform_int_distribution<std::size_t> len(minLen, maxLen);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string out(len(rng), '\0');
    for (auto& c : out)
        c = alphabet[pick(rng)];
    return out;
}

} // namespace quillet::core::testref
