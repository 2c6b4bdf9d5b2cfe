#include "core/byte_search.h"

#include "core/checks.h"
#include "core/error.h"
#include "core/upper_table.h"

#include <cstring>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace quillet::core {

namespace detail {

// Implementation details only, past this point.
// The twins differ only in how a byte is seen: as it is, or through
// UpperTable. One loop per routine, parameterised by that view.

struct ExactBytes {
    static std::uint8_t key(char c) { return static_cast<std::uint8_t>(c); }
    static CaseForms forms(char c) { return {1, {c, c}}; }
};

struct FoldedBytes {
    static std::uint8_t key(char c) { return upperByte(c); }
    static CaseForms forms(char c) { return UpperForms[upperByte(c)]; }
};

// a..z folded to A..Z and nothing else, whatever the locale: how the search
// of case_fold.h sees a pattern whose letters have no partners beyond them.
constexpr std::uint8_t asciiUpper(std::uint8_t b) {
    return b >= 'a' && b <= 'z' ? static_cast<std::uint8_t>(b - ('a' - 'A')) : b;
}

struct AsciiFoldedBytes {
    static std::uint8_t key(char c) { return asciiUpper(static_cast<std::uint8_t>(c)); }
    static CaseForms forms(char c) {
        const std::uint8_t up = key(c);
        if (up >= 'A' && up <= 'Z')
            return {2, {static_cast<char>(up), static_cast<char>(up + ('a' - 'A'))}};
        return {1, {c, c}};
    }
};

// A table's entries hold shifts up to m: TSkipTable any, a table of bytes
// (cleared eight times faster, for a short range) those of a pattern under
// 256 bytes.
template <class Bytes, class Table>
void buildSkipTable(const char* pattern, Pos m, Table& table) {
    using Shift = typename Table::value_type;
    if (m == 0)
        throw Error("BufferLen is 0");
    QUILLET_ASSERT(m <= std::numeric_limits<Shift>::max(), "the table holds the pattern's shifts");
    table.fill(static_cast<Shift>(m));
    // For m = 1 the body still runs once and sets the byte's entry to 0.
    const Pos last = m > 1 ? m - 1 : 1;
    for (Pos i = 1; i <= last; ++i)
        table[Bytes::key(pattern[i - 1])] = static_cast<Shift>(m - i);
}

// Two-Way (Crochemore and Perrin): the leftmost match in linear time and
// constant space, whatever the text. The quick scans below hand over to it
// once near matches make them compare far more bytes than they pass.
//
// A view shows the text and the pattern in reading order: forwards, or from
// the back (then "leftmost" means rightmost in the buffer).

template <class Bytes>
struct AheadView {
    const char* text;
    const char* pattern;
    std::uint8_t t(Pos i) const { return Bytes::key(text[i]); }
    std::uint8_t p(Pos i) const { return Bytes::key(pattern[i]); }
};

template <class Bytes>
struct BehindView {
    const char* textEnd;    // one past the text's last byte
    const char* patternEnd; // one past the pattern's last byte
    std::uint8_t t(Pos i) const { return Bytes::key(textEnd[-1 - i]); }
    std::uint8_t p(Pos i) const { return Bytes::key(patternEnd[-1 - i]); }
};

// The start of the pattern's greatest suffix (by byte value, or by the
// reverse order) minus one, and that suffix's period.
template <class View>
Pos greatestSuffix(const View& v, Pos m, bool reverseOrder, Pos& period) {
    Pos before = -1; // the suffix starts at before + 1
    Pos j = 0;       // the candidate suffix starts at j + 1
    Pos k = 1;       // offset within the current period
    period = 1;
    while (j + k < m) {
        const std::uint8_t a = v.p(j + k);
        const std::uint8_t b = v.p(before + k);
        if (a == b) {
            if (k == period) {
                j += period;
                k = 1;
            } else {
                ++k;
            }
        } else if ((a < b) != reverseOrder) {
            // The candidate is smaller: the best suffix's period grows to here.
            j += k;
            k = 1;
            period = j - before;
        } else {
            // The candidate is greater: it becomes the best suffix.
            before = j;
            ++j;
            k = 1;
            period = 1;
        }
    }
    return before;
}

// The logical index of the leftmost match of the view's m pattern bytes in
// its n text bytes, or -1. m >= 1.
template <class View>
Pos twoWay(const View& v, Pos n, Pos m) {
    Pos period1 = 1;
    Pos period2 = 1;
    const Pos before1 = greatestSuffix(v, m, false, period1);
    const Pos before2 = greatestSuffix(v, m, true, period2);
    // The critical factorisation: left part [0, split), right part [split, m).
    const Pos split = (before1 > before2 ? before1 : before2) + 1;
    Pos period = before1 > before2 ? period1 : period2;

    bool periodic = split + period <= m;
    for (Pos i = 0; periodic && i < split; ++i)
        periodic = v.p(i) == v.p(i + period);

    if (periodic) {
        // A failed window can move on by the period only; `memory` bytes at
        // its front are known to match already.
        Pos memory = 0;
        for (Pos j = 0; j <= n - m;) {
            Pos i = split > memory ? split : memory;
            while (i < m && v.p(i) == v.t(j + i))
                ++i;
            if (i < m) {
                j += i - split + 1;
                memory = 0;
                continue;
            }
            i = split - 1;
            while (i >= memory && v.p(i) == v.t(j + i))
                --i;
            if (i < memory)
                return j;
            j += period;
            memory = m - period;
        }
        return -1;
    }

    // The halves differ: a failed right half moves past its mismatch, a
    // failed left half past both halves.
    period = (split > m - split ? split : m - split) + 1;
    for (Pos j = 0; j <= n - m;) {
        Pos i = split;
        while (i < m && v.p(i) == v.t(j + i))
            ++i;
        if (i < m) {
            j += i - split + 1;
            continue;
        }
        i = split - 1;
        while (i >= 0 && v.p(i) == v.t(j + i))
            --i;
        if (i < 0)
            return j;
        j += period;
    }
    return -1;
}

template <class Bytes>
const char* twoWayForward(const char* range, const char* pattern, Pos n, Pos m) {
    if (m < 1 || n < m)
        return nullptr;
    const Pos at = twoWay(AheadView<Bytes>{range, pattern}, n, m);
    return at < 0 ? nullptr : range + at;
}

// The rightmost match inside the n bytes at `range`.
template <class Bytes>
const char* twoWayBackward(const char* range, const char* pattern, Pos n, Pos m) {
    if (m < 1 || n < m)
        return nullptr;
    const Pos at = twoWay(BehindView<Bytes>{range + n, pattern + m}, n, m);
    return at < 0 ? nullptr : range + (n - at - m);
}

// The quick scans may compare two bytes for every byte they have moved past,
// plus twice the pattern's length: more means that near matches pile up
// (periodic texts, long partial matches) and the scan is turning quadratic,
// so Two-Way takes over the rest of the range.
constexpr bool tooMuchWork(Pos compared, Pos passed, Pos m) {
    return compared > 2 * passed + 2 * m + 64;
}

// The skip-table scan itself: compare the window from the back, then move
// it by the entry of the text byte under its last position.
template <class Bytes, class Table>
const char* horspoolScan(const char* range, const char* pattern, Pos n, Pos m, const Table& table) {
    if (m < 1 || n < m)
        return nullptr;
    const char* windowLast = range + (m - 1);
    const char* const rangeLast = range + (n - 1);
    const std::uint8_t patternLast = Bytes::key(pattern[m - 1]);
    const char* const firstWindowLast = windowLast;
    Pos compared = 0;
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
            compared += m - j;
            if (tooMuchWork(compared, windowLast - firstWindowLast, m)) {
                const char* next = windowLast - (m - 1) + 1;
                return twoWayForward<Bytes>(next, pattern, (rangeLast - next) + 1, m);
            }
        }
        const Pos shift = static_cast<Pos>(table[under]);
        // Never past the range: compare distances, not pointers, so that a
        // shift cannot form an address beyond the buffer.
        if (shift > rangeLast - windowLast)
            break;
        windowLast += shift;
    }
    return nullptr;
}

// How often a byte comes in the texts Quillet meets, in parts per million:
// the classes below were measured on six releases of a large C project (code,
// documentation, translations) and on two HTML manuals, averaged ('\r' is
// put where it stands in files with CRLF line ends). What matters is that a
// rare letter ('q', 'z') or a capital is far rarer than '_' or '<', and that
// two case forms add up.
constexpr int byteFrequency(std::uint8_t b) {
    struct Class {
        const char* bytes;
        int perMillion;
    };
    constexpr Class kClasses[] = {
        {" ", 100000},
        {"e", 70000},
        {"ainst", 50000},
        {"\"clopr", 30000},
        {"\n/<>dhmu", 20000},
        {"\t-.=_bfg", 10000},
        {"y", 7000},
        {"(),1:kvw\r", 5000},
        {"#&'02;Tx", 3000},
        {"%*345689ACEINORS", 2000},
        {"$7DFLMP[\\]`jz{}", 1000},
        {"+BGHUq", 700},
        {"|", 500},
        {"!KVWY~", 300},
        {"?@X^", 200},
        {"JQZ", 100},
    };
    for (const Class& c : kClasses)
        for (const char* at = c.bytes; *at != '\0'; ++at)
            if (static_cast<std::uint8_t>(*at) == b)
                return c.perMillion;
    if (b >= 0x80 && b <= 0xF4 && b != 0xC0 && b != 0xC1)
        return 500; // in UTF-8 text of any script
    return 1;       // control bytes, and bytes no UTF-8 text holds
}

constexpr std::array<int, 256> kByteFrequencies = [] {
    std::array<int, 256> frequencies{};
    for (int b = 0; b < 256; ++b)
        frequencies[static_cast<std::size_t>(b)] = byteFrequency(static_cast<std::uint8_t>(b));
    return frequencies;
}();

// The first byte in [from, to) that equals a or b (a != b), 16 at a time.
const char* findEither16(const char* from, const char* to, char a, char b) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    while (to - from >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, va), _mm_cmpeq_epi8(chunk, vb)));
        if (mask != 0)
            return from + __builtin_ctz(static_cast<unsigned>(mask));
        from += 16;
    }
#endif
    for (; from < to; ++from)
        if (*from == a || *from == b)
            return from;
    return nullptr;
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same, 64 bytes a round, on processors that have AVX2.
__attribute__((target("avx2"))) const char* findEither64(const char* from, const char* to, char a, char b) {
    const __m256i va = _mm256_set1_epi8(a);
    const __m256i vb = _mm256_set1_epi8(b);
    while (to - from >= 64) {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32));
        const __m256i inLo = _mm256_or_si256(_mm256_cmpeq_epi8(lo, va), _mm256_cmpeq_epi8(lo, vb));
        const __m256i inHi = _mm256_or_si256(_mm256_cmpeq_epi8(hi, va), _mm256_cmpeq_epi8(hi, vb));
        const __m256i either = _mm256_or_si256(inLo, inHi);
        if (!_mm256_testz_si256(either, either)) {
            const auto maskLo = static_cast<unsigned>(_mm256_movemask_epi8(inLo));
            if (maskLo != 0)
                return from + __builtin_ctz(maskLo);
            return from + 32 + __builtin_ctz(static_cast<unsigned>(_mm256_movemask_epi8(inHi)));
        }
        from += 64;
    }
    return findEither16(from, to, a, b);
}
#endif

// The first byte in [from, to) that equals a or b.
const char* findEither(const char* from, const char* to, char a, char b) {
    if (a == b)
        return static_cast<const char*>(std::memchr(from, a, static_cast<std::size_t>(to - from)));
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool wide = __builtin_cpu_supports("avx2");
    if (wide)
        return findEither64(from, to, a, b);
#endif
    return findEither16(from, to, a, b);
}

// Both forms of two pattern bytes, and where they sit in the pattern.
struct BytePair {
    Pos offset1;
    char forms1[2];
    Pos offset2;
    char forms2[2];
};

// The first start s in [from, lastStart] with s[offset1] among forms1 and
// s[offset2] among forms2, or nullptr. Reads only bytes of the windows that
// start there, 16 starts at a time.
const char* findPair16(const char* from, const char* lastStart, const BytePair& pair) {
    auto fits = [&pair](const char* s) {
        const char b1 = s[pair.offset1];
        const char b2 = s[pair.offset2];
        return (b1 == pair.forms1[0] || b1 == pair.forms1[1]) && (b2 == pair.forms2[0] || b2 == pair.forms2[1]);
    };
#if defined(__SSE2__)
    const __m128i a1 = _mm_set1_epi8(pair.forms1[0]);
    const __m128i b1 = _mm_set1_epi8(pair.forms1[1]);
    const __m128i a2 = _mm_set1_epi8(pair.forms2[0]);
    const __m128i b2 = _mm_set1_epi8(pair.forms2[1]);
    while (lastStart - from >= 15) {
        const __m128i at1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + pair.offset1));
        const __m128i at2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + pair.offset2));
        const __m128i in1 = _mm_or_si128(_mm_cmpeq_epi8(at1, a1), _mm_cmpeq_epi8(at1, b1));
        const __m128i in2 = _mm_or_si128(_mm_cmpeq_epi8(at2, a2), _mm_cmpeq_epi8(at2, b2));
        const int mask = _mm_movemask_epi8(_mm_and_si128(in1, in2));
        if (mask != 0)
            return from + __builtin_ctz(static_cast<unsigned>(mask));
        from += 16;
    }
#endif
    for (; from <= lastStart; ++from)
        if (fits(from))
            return from;
    return nullptr;
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same, 32 starts at a time, on processors that have AVX2.
__attribute__((target("avx2"))) const char* findPair32(const char* from, const char* lastStart, const BytePair& pair) {
    const __m256i a1 = _mm256_set1_epi8(pair.forms1[0]);
    const __m256i b1 = _mm256_set1_epi8(pair.forms1[1]);
    const __m256i a2 = _mm256_set1_epi8(pair.forms2[0]);
    const __m256i b2 = _mm256_set1_epi8(pair.forms2[1]);
    while (lastStart - from >= 31) {
        const __m256i at1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + pair.offset1));
        const __m256i at2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + pair.offset2));
        const __m256i in1 = _mm256_or_si256(_mm256_cmpeq_epi8(at1, a1), _mm256_cmpeq_epi8(at1, b1));
        const __m256i in2 = _mm256_or_si256(_mm256_cmpeq_epi8(at2, a2), _mm256_cmpeq_epi8(at2, b2));
        const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(in1, in2)));
        if (mask != 0)
            return from + __builtin_ctz(mask);
        from += 32;
    }
    return findPair16(from, lastStart, pair);
}

const char* findPair(const char* from, const char* lastStart, const BytePair& pair) {
    static const bool wide = __builtin_cpu_supports("avx2");
    return wide ? findPair32(from, lastStart, pair) : findPair16(from, lastStart, pair);
}
#else
const char* findPair(const char* from, const char* lastStart, const BytePair& pair) {
    return findPair16(from, lastStart, pair);
}
#endif

// Above every rank a byte with one or two forms can have.
constexpr int kNeverChosen = 1 << 20;
// Added to a byte's rank when it repeats the first byte chosen: still below
// kNeverChosen, so that a repeat is chosen before a byte with many forms.
constexpr int kRepeatsFirst = 1 << 19;
static_assert(2 * 100000 + 3000 + kRepeatsFirst < kNeverChosen);

// What looking for either of two bytes costs beyond memchr's search for one,
// as the frequency at which stopping at each byte found costs as much: a
// byte of one form that is this much more common is still the better choice.
constexpr int kTwoFormsCost = 3000;

// How rare the byte at pattern[i] is, counting every byte that folds to it;
// lower is rarer. A byte with more than two forms is never chosen.
template <class Bytes>
int patternByteRank(const char* pattern, Pos i) {
    const CaseForms f = Bytes::forms(pattern[i]);
    if (f.Count > 2)
        return kNeverChosen;
    int rank = kByteFrequencies[static_cast<std::uint8_t>(f.Bytes[0])];
    if (f.Count == 2)
        rank += kByteFrequencies[static_cast<std::uint8_t>(f.Bytes[1])] + kTwoFormsCost;
    return rank;
}

// Leftmost match found by jumping between the occurrences of the pattern's
// rarest byte (in either case form); at each, a second rare byte of the
// pattern is looked at before the whole window is compared. Gives the same
// answer as the skip-table scan; falls back to it when the chosen byte turns
// out to be common in this text, with `table` or, when that is null, a table
// built then.
template <class Bytes>
const char* rareByteScan(const char* range, const char* pattern, Pos n, Pos m, const TSkipTable* table) {
    TSkipTable own;
    auto skipTable = [&]() -> const TSkipTable& {
        if (table == nullptr) {
            buildSkipTable<Bytes>(pattern, m, own);
            table = &own;
        }
        return *table;
    };

    Pos k = -1;
    int bestRank = kNeverChosen;
    for (Pos i = 0; i < m; ++i) {
        const int rank = patternByteRank<Bytes>(pattern, i);
        if (rank < bestRank) {
            bestRank = rank;
            k = i;
        }
    }
    if (k < 0)
        return horspoolScan<Bytes>(range, pattern, n, m, skipTable());
    const CaseForms kForms = Bytes::forms(pattern[k]);
    const char forms[2] = {kForms.Bytes[0], kForms.Count == 2 ? kForms.Bytes[1] : kForms.Bytes[0]};

    // The second byte to look at: the rarest at another place, preferably
    // another byte value (a repeated byte says little beside the first).
    const std::uint8_t kKey = Bytes::key(pattern[k]);
    Pos k2 = k;
    int secondRank = 1 << 30;
    for (Pos i = 0; i < m; ++i) {
        const int rank = patternByteRank<Bytes>(pattern, i) + (Bytes::key(pattern[i]) == kKey ? kRepeatsFirst : 0);
        if (i != k && rank < secondRank) {
            secondRank = rank;
            k2 = i;
        }
    }
    const std::uint8_t k2Key = Bytes::key(pattern[k2]);
    const CaseForms k2Forms = Bytes::forms(pattern[k2]);
    // A byte with two forms cannot go to memchr; then both bytes are looked
    // for together, which also passes over far fewer candidates.
    const bool byPair = forms[0] != forms[1] && k2 != k && k2Forms.Count <= 2;
    const BytePair pair{
        k, {forms[0], forms[1]}, k2, {k2Forms.Bytes[0], k2Forms.Count == 2 ? k2Forms.Bytes[1] : k2Forms.Bytes[0]}};

    const char* const lastStart = range + (n - m);
    const char* from = range;
    Pos compared = 0;
    // One loop per way of finding candidates, so that neither pays for the
    // other. Returns the match or nullptr, or leaves `from` short of the last
    // start when the candidates come closer than every 32 bytes on average.
    auto scan = [&](auto nextCandidate) -> const char* {
        const char* const scanStart = from;
        Pos misses = 0;
        while (from <= lastStart) {
            const char* start = nextCandidate(from);
            if (start == nullptr) {
                from = lastStart + 1;
                return nullptr;
            }
            if (Bytes::key(start[k2]) == k2Key) {
                Pos j = 0;
                while (j < m && Bytes::key(start[j]) == Bytes::key(pattern[j]))
                    ++j;
                if (j == m)
                    return start;
                compared += j + 1;
                if (tooMuchWork(compared, start - range, m)) {
                    from = lastStart + 1;
                    const char* next = start + 1;
                    return twoWayForward<Bytes>(next, pattern, n - (next - range), m);
                }
            }
            from = start + 1;
            if (++misses > 64 && (from - scanStart) < misses * 32)
                return nullptr;
        }
        return nullptr;
    };
    const char* found;
    if (byPair) {
        found = scan([&](const char* at) { return findPair(at, lastStart, pair); });
    } else {
        found = scan([&](const char* at) -> const char* {
            const char* hit = findEither(at + k, lastStart + k + 1, forms[0], forms[1]);
            return hit == nullptr ? nullptr : hit - k;
        });
    }
    if (found != nullptr || from > lastStart)
        return found;

    // The chosen byte is common in this text (the ranks are a guess). Pair it
    // with the pattern byte farthest from it, which in markup and code
    // separates far better than a neighbour.
    Pos far = k;
    for (Pos i = 0; i < m; ++i) {
        const Pos distance = i > k ? i - k : k - i;
        if (distance > (far > k ? far - k : k - far) && Bytes::key(pattern[i]) != kKey &&
            Bytes::forms(pattern[i]).Count <= 2)
            far = i;
    }
    if (far != k) {
        const CaseForms farForms = Bytes::forms(pattern[far]);
        const BytePair wide{k,
                            {forms[0], forms[1]},
                            far,
                            {farForms.Bytes[0], farForms.Count == 2 ? farForms.Bytes[1] : farForms.Bytes[0]}};
        found = scan([&](const char* at) { return findPair(at, lastStart, wide); });
        if (found != nullptr || from > lastStart)
            return found;
    }
    // Even the pairs are common here: the skip table does better.
    return horspoolScan<Bytes>(from, pattern, n - (from - range), m, skipTable());
}

// Ranges shorter than this are not worth choosing a byte for.
constexpr Pos kShortRange = 256;

template <class Bytes>
const char* scanForward(const char* range, const char* pattern, Pos n, Pos m, const TSkipTable& table) {
    if (m < 1 || n < m)
        return nullptr;
    if (n < kShortRange)
        return horspoolScan<Bytes>(range, pattern, n, m, table);
    return rareByteScan<Bytes>(range, pattern, n, m, &table);
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
    const char* range = s.data() + (f - 1);
    const char* found;
    if (n < kShortRange) {
        static_assert(kShortRange <= 256, "m <= n < kShortRange: every shift fits in a byte");
        std::array<std::uint8_t, 256> table;
        buildSkipTable<Bytes>(p.data(), m, table);
        found = horspoolScan<Bytes>(range, p.data(), n, m, table);
    } else {
        // The rare-byte scan needs a skip table only when it falls back.
        found = rareByteScan<Bytes>(range, p.data(), n, m, nullptr);
    }
    return found ? (found - s.data()) + 1 : 0;
}

template <class Bytes>
Pos findBack(std::string_view s, std::string_view p, Pos e, Pos m, Pos f) {
    if (m < 1 || e < m)
        return 0;
    const Pos k = (f == 0 || e < f + m) ? e - m + 1 : f;
    const std::uint8_t first = Bytes::key(p[0]);
    Pos compared = 0;
    for (Pos pos = k; pos >= 1; --pos) {
        if (Bytes::key(s[static_cast<std::size_t>(pos - 1)]) != first)
            continue;
        Pos j = m - 1;
        while (j >= 1 &&
               Bytes::key(s[static_cast<std::size_t>(pos - 1 + j)]) == Bytes::key(p[static_cast<std::size_t>(j)]))
            --j;
        if (j == 0)
            return pos;
        compared += m - j;
        if (tooMuchWork(compared, k - pos, m)) {
            // The matches left start at 1 .. pos - 1, so they end before pos - 1 + m.
            const char* hit = twoWayBackward<Bytes>(s.data(), p.data(), pos - 2 + m, m);
            return hit ? (hit - s.data()) + 1 : 0;
        }
    }
    return 0;
}

const char* FindBytePair(const char* from, const char* lastStart, Pos offset1, const char* forms1, Pos offset2,
                         const char* forms2) {
    const BytePair pair{offset1, {forms1[0], forms1[1]}, offset2, {forms2[0], forms2[1]}};
    return findPair(from, lastStart, pair);
}

const char* FindEither(const char* from, const char* to, char a, char b) {
    return findEither(from, to, a, b);
}

int ByteRank(std::uint8_t b) {
    return kByteFrequencies[b];
}

Pos FindFromAscii(std::string_view s, std::string_view p, Pos e, Pos m, Pos f) {
    return findFrom<AsciiFoldedBytes>(s, p, e, m, f);
}
Pos FindBackAscii(std::string_view s, std::string_view p, Pos e, Pos m, Pos f) {
    return findBack<AsciiFoldedBytes>(s, p, e, m, f);
}

const char* TwoWayForward(const char* range, const char* pattern, Pos n, Pos m, bool caseSensitive) {
    return caseSensitive ? twoWayForward<ExactBytes>(range, pattern, n, m)
                         : twoWayForward<FoldedBytes>(range, pattern, n, m);
}
const char* TwoWayBackward(const char* range, const char* pattern, Pos n, Pos m, bool caseSensitive) {
    return caseSensitive ? twoWayBackward<ExactBytes>(range, pattern, n, m)
                         : twoWayBackward<FoldedBytes>(range, pattern, n, m);
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
Pos FindBack(std::string_view s, std::string_view p, Pos e, Pos m, Pos f) {
    return detail::findBack<detail::ExactBytes>(s, p, e, m, f);
}

} // namespace quillet::core
