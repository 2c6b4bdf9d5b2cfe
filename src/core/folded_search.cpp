#include "core/folded_search.h"

#include <algorithm>

namespace quillet::core {

namespace {

// Whether every byte of the pattern is ASCII other than k and s: then folding
// matches exactly what the byte search with a..z folded matches, and the
// pattern needs no preparing. (k and s have partners beyond ASCII: the Kelvin
// sign and the long s.)
bool plainAscii(std::string_view p) {
    for (char c : p) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b >= 0x80 || b == 'k' || b == 'K' || b == 's' || b == 'S')
            return false;
    }
    return true;
}

// Whether the byte at `at` lies inside a valid sequence that begins before
// it, in a text of `size` bytes.
bool insideSequence(const char* text, Pos at, Pos size) {
    char32_t cp = 0;
    for (Pos k = 1; k <= 3 && k <= at; ++k)
        if (DecodeUtf8(text + at - k, text + size, cp) > k)
            return true;
    return false;
}

} // namespace

FoldedNeedle::FoldedNeedle(std::string_view pattern) : m_pattern(pattern) {
    const char* const begin = m_pattern.data();
    const char* const end = begin + m_pattern.size();
    bool bytesOnly = true;
    std::vector<bool> unitBytesOnly;
    for (const char* p = begin; p < end;) {
        Unit u;
        u.Offset = p - begin;
        char32_t cp = 0;
        const int len = DecodeUtf8(p, end, cp);
        u.Valid = len > 0;
        u.Len = u.Valid ? len : 1;
        // Matched by its own bytes, a..z folded? A byte unit is not: it must
        // also not begin a valid sequence in the text.
        bool own = u.Valid;
        if (u.Valid) {
            u.Partners = CasePartners(cp);
            u.Fold = u.Partners.Key;
            u.MinLen = 4;
            u.MaxLen = 1;
            for (int i = 0; i < u.Partners.Count; ++i) {
                const int l = Utf8Length(u.Partners.Members[i]);
                u.Lengths |= 1U << l;
                u.MinLen = std::min(u.MinLen, l);
                u.MaxLen = std::max(u.MaxLen, l);
                own = own && (u.Partners.Count == 1 || u.Partners.Members[i] < 0x80);
            }
        }
        bytesOnly = bytesOnly && own;
        unitBytesOnly.push_back(own);
        m_minLen += u.MinLen;
        m_maxLen += u.MaxLen;
        m_units.push_back(u);
        p += u.Len;
    }
    m_bytesOnly = bytesOnly;
    if (m_units.empty() || m_bytesOnly)
        return;

    // The longest stretch of units whose partners all have their own length.
    for (std::size_t i = 0; i < m_units.size();) {
        if (m_units[i].MinLen != m_units[i].MaxLen) {
            ++i;
            continue;
        }
        std::size_t j = i;
        Pos bytes = 0;
        while (j < m_units.size() && m_units[j].MinLen == m_units[j].MaxLen)
            bytes += m_units[j++].Len;
        if (bytes > m_stretchLen) {
            m_first = i;
            m_end = j;
            m_stretchOffset = m_units[i].Offset;
            m_stretchLen = bytes;
        }
        i = j;
    }
    for (std::size_t i = 0; i < m_first; ++i) {
        m_beforeMin += m_units[i].MinLen;
        m_beforeMax += m_units[i].MaxLen;
    }
    for (std::size_t i = m_end; i < m_units.size(); ++i)
        m_afterMin += m_units[i].MinLen;

    // Which bytes each unit's partners have where.
    auto eachByte = [this](const Unit& u, auto visit) {
        if (!u.Valid) {
            visit(0, m_pattern[static_cast<std::size_t>(u.Offset)]);
            return;
        }
        for (int i = 0; i < u.Partners.Count; ++i) {
            char bytes[4];
            const int len = EncodeUtf8(u.Partners.Members[i], bytes);
            for (int k = 0; k < len; ++k)
                visit(k, bytes[k]);
        }
    };
    eachByte(m_units[0], [this](int k, char b) {
        if (k == 0)
            m_firstBytes[static_cast<std::uint8_t>(b)] = true;
    });
    if (m_stretchLen == 0)
        return;
    m_stretchBytesOnly =
        std::all_of(unitBytesOnly.begin() + static_cast<std::ptrdiff_t>(m_first),
                    unitBytesOnly.begin() + static_cast<std::ptrdiff_t>(m_end), [](bool b) { return b; });
    choosePair(eachByte);
    // Horspool's table over byte classes: a byte moves the window so that
    // its rightmost possible place in the stretch (before the last) comes
    // under it.
    m_shift.fill(m_stretchLen);
    for (std::size_t i = m_first; i < m_end; ++i) {
        const Unit& u = m_units[i];
        const Pos at = u.Offset - m_stretchOffset;
        eachByte(u, [&](int k, char b) {
            const Pos j = at + k;
            const auto key = static_cast<std::uint8_t>(b);
            if (j == m_stretchLen - 1)
                m_lastClass[key] = true;
            else
                m_shift[key] = std::min(m_shift[key], m_stretchLen - 1 - j);
        });
    }
}

// Whether a byte unit matches at `at`: the same byte, and not the start of a
// valid sequence (which the whole text reads as one character).
bool FoldedNeedle::byteMatches(const Unit& u, const char* text, Pos at, Pos size) const {
    char32_t cp = 0;
    return text[at] == m_pattern[static_cast<std::size_t>(u.Offset)] && DecodeUtf8(text + at, text + size, cp) == 0;
}

// Picks the two places of the stretch for the vector scan: the rarest, by
// the ranks of the byte search (bytes that begin a character count as common,
// those that continue one as rare), then the rarest other, preferably in
// another unit and with other bytes.
template <class EachByte>
void FoldedNeedle::choosePair(const EachByte& eachByte) {
    std::vector<std::vector<std::uint8_t>> forms(static_cast<std::size_t>(m_stretchLen));
    std::vector<std::size_t> unitAt(forms.size());
    for (std::size_t i = m_first; i < m_end; ++i) {
        const Pos at = m_units[i].Offset - m_stretchOffset;
        eachByte(m_units[i], [&](int k, char b) {
            const auto j = static_cast<std::size_t>(at + k);
            unitAt[j] = i;
            auto& f = forms[j];
            if (std::find(f.begin(), f.end(), static_cast<std::uint8_t>(b)) == f.end())
                f.push_back(static_cast<std::uint8_t>(b));
        });
    }
    constexpr int kNever = 1 << 20;
    auto rank = [&forms](std::size_t j) {
        if (forms[j].size() > 2)
            return kNever;
        int sum = 0;
        for (std::uint8_t b : forms[j])
            sum += b < 0x80 ? detail::ByteRank(b) : b >= 0xC0 ? 200 : 20;
        return sum;
    };
    std::size_t first = 0;
    for (std::size_t j = 1; j < forms.size(); ++j)
        if (rank(j) < rank(first))
            first = j;
    std::size_t second = first;
    int secondRank = kNever;
    for (std::size_t j = 0; j < forms.size(); ++j) {
        if (j == first || rank(j) >= kNever)
            continue;
        const int r = rank(j) + (unitAt[j] == unitAt[first] ? 500 : 0) + (forms[j] == forms[first] ? 1000 : 0);
        if (r < secondRank) {
            secondRank = r;
            second = j;
        }
    }
    if (rank(first) >= kNever || second == first)
        return;
    m_byPair = true;
    const std::size_t places[2] = {first, second};
    for (int p = 0; p < 2; ++p) {
        const auto& f = forms[places[p]];
        m_pairAt[p] = static_cast<Pos>(places[p]);
        m_pairForms[p][0] = static_cast<char>(f[0]);
        m_pairForms[p][1] = static_cast<char>(f.size() > 1 ? f[1] : f[0]);
    }
}

// Units [first, end) compared from offset `at` onward, not past `limit`: where
// they end, or -1.
Pos FoldedNeedle::matchForward(const char* text, Pos size, Pos at, Pos limit, std::size_t first,
                               std::size_t end) const {
    for (std::size_t i = first; i < end; ++i) {
        const Unit& u = m_units[i];
        if (!u.Valid) {
            if (at >= limit || !byteMatches(u, text, at, size))
                return -1;
            ++at;
            continue;
        }
        char32_t cp = 0;
        const int len = DecodeUtf8(text + at, text + limit, cp);
        if (len == 0 || FoldCase(cp) != u.Fold)
            return -1;
        at += len;
    }
    return at;
}

// Units [first, end) compared backward from offset `at`, not before `low`:
// where they begin, or -1. At most one valid sequence ends at any place, so
// trying each length a partner has finds it.
Pos FoldedNeedle::matchBackward(const char* text, Pos size, Pos at, Pos low, std::size_t first, std::size_t end) const {
    for (std::size_t i = end; i-- > first;) {
        const Unit& u = m_units[i];
        if (!u.Valid) {
            if (at <= low || !byteMatches(u, text, at - 1, size))
                return -1;
            --at;
            continue;
        }
        int found = 0;
        for (int len = 1; len <= 4 && found == 0; ++len) {
            char32_t cp = 0;
            if ((u.Lengths & (1U << len)) != 0 && at - low >= len &&
                DecodeUtf8(text + at - len, text + at, cp) == len && FoldCase(cp) == u.Fold)
                found = len;
        }
        if (found == 0)
            return -1;
        at -= found;
    }
    return at;
}

// The leftmost offset q >= from at which the stretch matches and ends at or
// before `to`, or -1.
Pos FoldedNeedle::findStretch(std::string_view s, Pos from, Pos to) const {
    if (to - from < m_stretchLen)
        return -1;
    if (m_stretchBytesOnly) {
        const Pos at =
            detail::FindFromAscii(s, std::string_view(m_pattern).substr(static_cast<std::size_t>(m_stretchOffset)), to,
                                  m_stretchLen, from + 1);
        return at - 1;
    }
    const char* const text = s.data();
    const auto size = static_cast<Pos>(s.size());
    if (m_byPair) {
        const char* const lastStart = text + (to - m_stretchLen);
        const char* const scanStart = text + from;
        Pos misses = 0;
        bool dense = false;
        for (const char* at = scanStart; at <= lastStart && !dense;) {
            const char* hit =
                detail::FindBytePair(at, lastStart, m_pairAt[0], m_pairForms[0], m_pairAt[1], m_pairForms[1]);
            if (hit == nullptr)
                return -1;
            const Pos q = hit - text;
            if (matchForward(text, size, q, to, m_first, m_end) >= 0)
                return q;
            at = hit + 1;
            // Candidates closer than every 32 bytes: the skip loop does better.
            if (++misses > 64 && (at - scanStart) < misses * 32) {
                from = at - text;
                dense = true;
            }
        }
        if (!dense)
            return -1;
    }
    for (Pos last = from + m_stretchLen - 1; last < to;) {
        const auto under = static_cast<std::uint8_t>(text[last]);
        if (m_lastClass[under]) {
            const Pos q = last - (m_stretchLen - 1);
            if (matchForward(text, size, q, to, m_first, m_end) >= 0)
                return q;
        }
        last += m_shift[under];
    }
    return -1;
}

// Whether a match that the units say begins at `start` does: a pattern that
// begins with a byte unit must not begin inside another character.
bool FoldedNeedle::startsHere(const char* text, Pos size, Pos start) const {
    return m_units[0].Valid || !insideSequence(text, start, size);
}

Pos FoldedNeedle::findFrom(std::string_view s, Pos e, Pos f, Pos& matchLen) const {
    if (m_units.empty())
        return 0;
    if (f < 1)
        f = 1;
    const auto m = static_cast<Pos>(m_pattern.size());
    if (m_bytesOnly) {
        matchLen = m;
        return detail::FindFromAscii(s, m_pattern, e, m, f);
    }
    const char* const text = s.data();
    const auto size = static_cast<Pos>(s.size());
    const Pos low = f - 1; // offsets: a match spans [start, end) within [low, e)
    if (e - low < m_minLen)
        return 0;
    if (m_stretchLen == 0) {
        for (Pos at = low; at + m_minLen <= e; ++at) {
            if (!m_firstBytes[static_cast<std::uint8_t>(text[at])])
                continue;
            const Pos end = matchForward(text, size, at, e, 0, m_units.size());
            if (end >= 0 && startsHere(text, size, at)) {
                matchLen = end - at;
                return at + 1;
            }
        }
        return 0;
    }
    // Stretches come in order, but the units before them can differ in
    // length: a later stretch can still give an earlier start, as long as it
    // lies within the most those units can span of the best start.
    Pos best = -1;
    Pos bestEnd = -1;
    Pos to = e - m_afterMin;
    for (Pos q = findStretch(s, low + m_beforeMin, to); q >= 0; q = findStretch(s, q + 1, to)) {
        const Pos start = matchBackward(text, size, q, low, 0, m_first);
        if (start >= 0 && (best < 0 || start < best) && startsHere(text, size, start)) {
            const Pos end = matchForward(text, size, q + m_stretchLen, e, m_end, m_units.size());
            if (end >= 0) {
                best = start;
                bestEnd = end;
                to = std::min(to, best + m_beforeMax - 1 + m_stretchLen);
            }
        }
    }
    if (best < 0)
        return 0;
    matchLen = bestEnd - best;
    return best + 1;
}

Pos FoldedNeedle::findBack(std::string_view s, Pos e, Pos f, Pos& matchLen) const {
    if (m_units.empty())
        return 0;
    const auto m = static_cast<Pos>(m_pattern.size());
    if (m_bytesOnly) {
        matchLen = m;
        return detail::FindBackAscii(s, m_pattern, e, m, f);
    }
    const char* const text = s.data();
    const auto size = static_cast<Pos>(s.size());
    Pos at = e - m_minLen;
    if (f > 0)
        at = std::min(at, f - 1);
    for (; at >= 0; --at) {
        if (!m_firstBytes[static_cast<std::uint8_t>(text[at])])
            continue;
        const Pos end = matchForward(text, size, at, e, 0, m_units.size());
        if (end >= 0 && startsHere(text, size, at)) {
            matchLen = end - at;
            return at + 1;
        }
    }
    return 0;
}

Pos FindFromNoCase(std::string_view s, std::string_view p, Pos e, Pos m, Pos f, Pos* matchLen) {
    if (m < 1)
        return 0;
    p = p.substr(0, static_cast<std::size_t>(m));
    Pos len = m;
    const Pos at = plainAscii(p) ? detail::FindFromAscii(s, p, e, m, f) : FoldedNeedle(p).findFrom(s, e, f, len);
    if (matchLen != nullptr)
        *matchLen = len;
    return at;
}

Pos FindBackNoCase(std::string_view s, std::string_view p, Pos e, Pos m, Pos f, Pos* matchLen) {
    if (m < 1)
        return 0;
    p = p.substr(0, static_cast<std::size_t>(m));
    Pos len = m;
    const Pos at = plainAscii(p) ? detail::FindBackAscii(s, p, e, m, f) : FoldedNeedle(p).findBack(s, e, f, len);
    if (matchLen != nullptr)
        *matchLen = len;
    return at;
}

} // namespace quillet::core
