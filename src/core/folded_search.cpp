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
    bool sameBytesOnly = true;
    for (const char* p = begin; p < end;) {
        Unit u;
        u.Offset = p - begin;
        char32_t cp = 0;
        const int len = DecodeUtf8(p, end, cp);
        u.Valid = len > 0;
        u.Len = u.Valid ? len : 1;
        // Matched by its own bytes, a..z folded? A byte unit never is: it must
        // also not begin a valid sequence in the text.
        bool own = u.Valid;
        bool sameOwn = u.Valid;
        int minLen = 1;
        int maxLen = 1;
        if (u.Valid) {
            u.Partners = CasePartners(cp);
            u.Fold = u.Partners.Key;
            minLen = 4;
            int sameCount = 0;
            for (int i = 0; i < u.Partners.Count; ++i) {
                const char32_t partner = u.Partners.Members[i];
                const int l = Utf8Length(partner);
                minLen = std::min(minLen, l);
                maxLen = std::max(maxLen, l);
                own = own && (u.Partners.Count == 1 || partner < 0x80);
                if (l == u.Len) {
                    ++sameCount;
                    sameOwn = sameOwn && partner < 0x80;
                } else {
                    m_otherLength.push_back(partner);
                }
            }
            sameOwn = sameOwn || sameCount == 1;
        }
        bytesOnly = bytesOnly && own;
        sameBytesOnly = sameBytesOnly && sameOwn;
        m_minLen += minLen;
        m_maxLen += maxLen;
        m_units.push_back(u);
        p += u.Len;
    }
    m_bytesOnly = bytesOnly;
    m_sameBytesOnly = sameBytesOnly;
    if (m_units.empty() || m_bytesOnly)
        return;

    std::sort(m_otherLength.begin(), m_otherLength.end());
    m_otherLength.erase(std::unique(m_otherLength.begin(), m_otherLength.end()), m_otherLength.end());
    for (char32_t c : m_otherLength) {
        char bytes[4];
        EncodeUtf8(c, bytes);
        const auto lead = static_cast<std::uint8_t>(bytes[0]);
        if (!m_otherLead[lead] && m_otherLeadCount < 2)
            m_otherLeads[m_otherLeadCount] = bytes[0];
        m_otherLeadCount += m_otherLead[lead] ? 0 : 1;
        m_otherLead[lead] = true;
    }

    // Which bytes each unit's partners have where: all of them, or only
    // those as long as the unit.
    auto eachByte = [this](const Unit& u, bool sameLengthOnly, auto visit) {
        if (!u.Valid) {
            visit(0, m_pattern[static_cast<std::size_t>(u.Offset)]);
            return;
        }
        for (int i = 0; i < u.Partners.Count; ++i) {
            char bytes[4];
            const int len = EncodeUtf8(u.Partners.Members[i], bytes);
            if (sameLengthOnly && len != u.Len)
                continue;
            for (int k = 0; k < len; ++k)
                visit(k, bytes[k]);
        }
    };
    eachByte(m_units[0], false, [this](int k, char b) {
        if (k == 0)
            m_firstBytes[static_cast<std::uint8_t>(b)] = true;
    });
    if (m_sameBytesOnly)
        return;
    auto sameLength = [&eachByte](const Unit& u, auto visit) { eachByte(u, true, visit); };
    choosePair(sameLength);
    // Horspool's table over byte classes: a byte moves the window so that
    // its rightmost possible place in the pattern (before the last) comes
    // under it.
    const auto m = static_cast<Pos>(m_pattern.size());
    m_shift.fill(m);
    for (const Unit& u : m_units) {
        sameLength(u, [&](int k, char b) {
            const Pos j = u.Offset + k;
            const auto key = static_cast<std::uint8_t>(b);
            if (j == m - 1)
                m_lastClass[key] = true;
            else
                m_shift[key] = std::min(m_shift[key], m - 1 - j);
        });
    }
}

// Picks the two places of the pattern for the vector scan: the rarest, by
// the ranks of the byte search (bytes that begin a character count as common,
// those that continue one as rare), then the rarest other, preferably in
// another unit and with other bytes.
template <class EachByte>
void FoldedNeedle::choosePair(const EachByte& eachByte) {
    std::vector<std::vector<std::uint8_t>> forms(m_pattern.size());
    std::vector<std::size_t> unitAt(forms.size());
    for (std::size_t i = 0; i < m_units.size(); ++i) {
        eachByte(m_units[i], [&](int k, char b) {
            const auto j = static_cast<std::size_t>(m_units[i].Offset + k);
            unitAt[j] = i;
            auto& f = forms[j];
            if (std::find(f.begin(), f.end(), static_cast<std::uint8_t>(b)) == f.end())
                f.push_back(static_cast<std::uint8_t>(b));
        });
    }
    static constexpr int kNever = 1 << 20;
    // A byte that begins a character comes with every letter of its script.
    const int leadByte = detail::ByteRank('e');
    // Added to the second place's rank so that another unit, then other
    // bytes, win over any rank (and stay below kNever).
    static constexpr int kSameUnit = 1 << 18;
    static constexpr int kSameForms = 1 << 19;
    auto rank = [&forms, leadByte](std::size_t j) {
        if (forms[j].size() > 2)
            return kNever;
        int sum = 0;
        for (std::uint8_t b : forms[j])
            sum += b >= 0xC0 ? leadByte : detail::ByteRank(b);
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
        const int r =
            rank(j) + (unitAt[j] == unitAt[first] ? kSameUnit : 0) + (forms[j] == forms[first] ? kSameForms : 0);
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

// Whether a byte unit matches at `at`: the same byte, and not the start of a
// valid sequence (which the whole text reads as one character).
bool FoldedNeedle::byteMatches(const Unit& u, const char* text, Pos at, Pos size) const {
    char32_t cp = 0;
    return text[at] == m_pattern[static_cast<std::size_t>(u.Offset)] && DecodeUtf8(text + at, text + size, cp) == 0;
}

// The whole pattern compared from offset `at` onward, not past `limit`: where
// the match ends, or -1.
Pos FoldedNeedle::matchForward(const char* text, Pos size, Pos at, Pos limit) const {
    for (const Unit& u : m_units) {
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

// Whether a match that the units say begins at `start` does: a pattern that
// begins with a byte unit must not begin inside another character.
bool FoldedNeedle::startsHere(const char* text, Pos size, Pos start) const {
    return m_units[0].Valid || !insideSequence(text, start, size);
}

// The leftmost match at or after offset `low`, ending at or before `e`, among
// those found where the text holds partners as long as the pattern's units;
// -1 when there is none. It may hold others too: every candidate is compared
// in full.
Pos FoldedNeedle::findSameLength(std::string_view s, Pos low, Pos e, Pos& end) const {
    const auto m = static_cast<Pos>(m_pattern.size());
    if (e - low < m)
        return -1;
    if (m_sameBytesOnly) {
        const Pos at = detail::FindFromAscii(s, m_pattern, e, m, low + 1);
        end = at - 1 + m;
        return at - 1;
    }
    const char* const text = s.data();
    const auto size = static_cast<Pos>(s.size());
    auto fits = [&](Pos q) {
        end = matchForward(text, size, q, e);
        return end >= 0 && startsHere(text, size, q);
    };
    Pos from = low;
    if (m_byPair) {
        const char* const lastStart = text + (e - m);
        const char* const scanStart = text + from;
        Pos misses = 0;
        bool dense = false;
        for (const char* at = scanStart; at <= lastStart && !dense;) {
            const char* hit =
                detail::FindBytePair(at, lastStart, m_pairAt[0], m_pairForms[0], m_pairAt[1], m_pairForms[1]);
            if (hit == nullptr)
                return -1;
            if (fits(hit - text))
                return hit - text;
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
    for (Pos last = from + m - 1; last < e;) {
        const auto under = static_cast<std::uint8_t>(text[last]);
        if (m_lastClass[under] && fits(last - (m - 1)))
            return last - (m - 1);
        last += m_shift[under];
    }
    return -1;
}

// The leftmost match at or after offset `low` that begins before `before`
// and holds a partner of another length than the pattern's unit there; -1
// when there is none. Such a partner lies at most m_maxLen - 1 bytes after
// the match's start.
Pos FoldedNeedle::findWithOtherLength(std::string_view s, Pos low, Pos e, Pos before, Pos& end) const {
    if (m_otherLength.empty())
        return -1;
    const char* const text = s.data();
    const auto size = static_cast<Pos>(s.size());
    const Pos scanEnd = std::min(e, before + m_maxLen - 1);
    Pos best = before;
    for (Pos x = low; x < scanEnd; ++x) {
        if (m_otherLeadCount <= 2) {
            const char* hit = detail::FindEither(text + x, text + scanEnd, m_otherLeads[0],
                                                 m_otherLeads[m_otherLeadCount == 2 ? 1 : 0]);
            if (hit == nullptr)
                break;
            x = hit - text;
        } else if (!m_otherLead[static_cast<std::uint8_t>(text[x])]) {
            continue;
        }
        if (x - (m_maxLen - 1) >= best)
            break;
        char32_t cp = 0;
        if (DecodeUtf8(text + x, text + size, cp) == 0 ||
            !std::binary_search(m_otherLength.begin(), m_otherLength.end(), cp))
            continue;
        for (Pos start = std::max(low, x - (m_maxLen - 1)); start <= x && start < best; ++start) {
            if (!m_firstBytes[static_cast<std::uint8_t>(text[start])])
                continue;
            const Pos at = matchForward(text, size, start, e);
            if (at >= 0 && startsHere(text, size, start)) {
                best = start;
                end = at;
                break;
            }
        }
    }
    return best == before ? -1 : best;
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
    const Pos low = f - 1; // offsets: a match spans [start, end) within [low, e)
    if (e - low < m_minLen)
        return 0;
    // Block by block, so that the second search reads bytes the first has
    // just brought into the cache; each block holds the matches that start
    // in it.
    constexpr Pos kBlock = Pos{64} * 1024;
    for (Pos blockLow = low; blockLow < e; blockLow += kBlock) {
        const Pos blockEnd = std::min(e, blockLow + kBlock);
        Pos end = 0;
        Pos best = findSameLength(s, blockLow, std::min(e, blockEnd - 1 + m), end);
        Pos bestEnd = end;
        const Pos other = findWithOtherLength(s, blockLow, e, best >= 0 ? best : blockEnd, end);
        if (other >= 0) {
            best = other;
            bestEnd = end;
        }
        if (best >= 0) {
            matchLen = bestEnd - best;
            return best + 1;
        }
    }
    return 0;
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
        const Pos end = matchForward(text, size, at, e);
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
