#include "core/byte_search.h"

#include "core/error.h"
#include "core/upper_table.h"

namespace quillet::core {

namespace detail {

// Implementation details only, past this point.
// The twins differ only in how a byte is seen: as it is, or through
// UpperTable. One loop per routine, parameterised by that view.

struct ExactBytes {
    static std::uint8_t key(char c) { return static_cast<std::uint8_t>(c); }
};

struct FoldedBytes {
    static std::uint8_t key(char c) { return upperByte(c); }
};

template <class Bytes>
void buildSkipTable(const char* pattern, Pos m, TSkipTable& table) {
    if (m == 0)
        throw Error("BufferLen is 0");
    table.fill(m);
    // For m = 1 the body still runs once and sets the byte's entry to 0.
    const Pos last = m > 1 ? m - 1 : 1;
    for (Pos i = 1; i <= last; ++i)
        table[Bytes::key(pattern[i - 1])] = m - i;
}

template <class Bytes>
const char* scanForward(const char* range, const char* pattern, Pos n, Pos m, const TSkipTable& table) {
    if (m < 1 || n < m)
        return nullptr;
    const char* windowLast = range + (m - 1);
    const char* const rangeLast = range + (n - 1);
    const std::uint8_t patternLast = Bytes::key(pattern[m - 1]);
    while (windowLast <= rangeLast) {
        const std::uint8_t under = Bytes::key(*windowLast);
        if (under == patternLast) {
            Pos j = m - 1; // bytes still to compare, back to front
            const char* t = windowLast;
            while (j > 0 && Bytes::key(*(t - 1)) == Bytes::key(pattern[j - 1])) {
                --t;
                --j;
            }
            if (j == 0)
                return windowLast - (m - 1);
        }
        const Pos shift = table[under];
        // Never past the range: compare distances, not pointers, so that a
        // shift cannot form an address beyond the buffer.
        if (shift > rangeLast - windowLast)
            break;
        windowLast += shift;
    }
    return nullptr;
}

template <class Bytes>
Pos findFrom(std::string_view s, std::string_view p, Pos e, Pos m, Pos f) {
    if (m < 1 || e < m)
        return 0;
    if (f < 1)
        f = 1;
    const Pos n = e - f + 1;
    if (n < m)
        return 0;
    TSkipTable table;
    buildSkipTable<Bytes>(p.data(), m, table);
    const char* found = scanForward<Bytes>(s.data() + (f - 1), p.data(), n, m, table);
    return found ? (found - s.data()) + 1 : 0;
}

template <class Bytes>
Pos findBack(std::string_view s, std::string_view p, Pos e, Pos m, Pos f) {
    if (m < 1 || e < m)
        return 0;
    const Pos k = (f == 0 || e < f + m) ? e - m + 1 : f;
    const std::uint8_t first = Bytes::key(p[0]);
    for (Pos pos = k; pos >= 1; --pos) {
        if (Bytes::key(s[static_cast<std::size_t>(pos - 1)]) != first)
            continue;
        Pos j = m - 1;
        while (j >= 1 && Bytes::key(s[static_cast<std::size_t>(pos - 1 + j)]) == Bytes::key(p[static_cast<std::size_t>(j)]))
            --j;
        if (j == 0)
            return pos;
    }
    return 0;
}

} // namespace detail

void BuildSkipTable(const char* pattern, Pos m, TSkipTable& table) {
    detail::buildSkipTable<detail::ExactBytes>(pattern, m, table);
}
void BuildSkipTableNoCase(const char* pattern, Pos m, TSkipTable& table) {
    detail::buildSkipTable<detail::FoldedBytes>(pattern, m, table);
}
const char* ScanForward(const char* range, const char* pattern, Pos n, Pos m, const TSkipTable& table) {
    return detail::scanForward<detail::ExactBytes>(range, pattern, n, m, table);
}
const char* ScanForwardNoCase(const char* range, const char* pattern, Pos n, Pos m, const TSkipTable& table) {
    return detail::scanForward<detail::FoldedBytes>(range, pattern, n, m, table);
}
Pos FindFrom(std::string_view s, std::string_view p, Pos e, Pos m, Pos f) {
    return detail::findFrom<detail::ExactBytes>(s, p, e, m, f);
}
Pos FindFromNoCase(std::string_view s, std::string_view p, Pos e, Pos m, Pos f) {
    return detail::findFrom<detail::FoldedBytes>(s, p, e, m, f);
}
Pos FindBack(std::string_view s, std::string_view p, Pos e, Pos m, Pos f) {
    return detail::findBack<detail::ExactBytes>(s, p, e, m, f);
}
Pos FindBackNoCase(std::string_view s, std::string_view p, Pos e, Pos m, Pos f) {
    return detail::findBack<detail::FoldedBytes>(s, p, e, m, f);
}

} // namespace quillet::core
