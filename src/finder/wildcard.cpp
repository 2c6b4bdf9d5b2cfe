#include "finder/wildcard.h"

#include "core/upper_table.h"

#include <cstddef>

namespace quillet::finder {

namespace {

using core::Pos;

constexpr char kStar = '*';
constexpr char kJoker = '?';

std::string collapseStars(std::string_view mask) {
    std::string out;
    out.reserve(mask.size());
    for (const char c : mask) {
        if (c == kStar && !out.empty() && out.back() == kStar)
            continue;
        out.push_back(c);
    }
    return out;
}

void upperInPlace(std::string& text) {
    for (char& c : text)
        c = static_cast<char>(core::upperByte(c));
}

// 1-based byte access; callers keep 1 <= i <= size.
char at(const std::string& s, Pos i) {
    return s[static_cast<std::size_t>(i - 1)];
}

} // namespace

Pos PosWithJoker(std::string_view sought, std::string_view text) {
    if (sought.find(kJoker) == std::string_view::npos) {
        if (sought.empty())
            return 0;
        const std::size_t p = text.find(sought);
        return p == std::string_view::npos ? 0 : static_cast<Pos>(p) + 1;
    }
    if (text.size() < sought.size())
        return 0;
    const std::size_t lastStart = text.size() - sought.size();
    for (std::size_t s = 0; s <= lastStart; ++s) {
        std::size_t j = 0;
        while (j < sought.size() && (sought[j] == kJoker || sought[j] == text[s + j]))
            ++j;
        if (j == sought.size())
            return static_cast<Pos>(s) + 1;
    }
    return 0;
}

Pos CutAtStar(std::string& text) {
    const std::size_t p = text.find(kStar);
    if (p == std::string::npos)
        return 0;
    text.resize(p);
    return static_cast<Pos>(p) + 1;
}

bool MatchesWildcard(std::string_view nameIn, std::string_view maskIn, bool ignoreCase) {
    if (maskIn == nameIn)
        return true;
    std::string mask = collapseStars(maskIn);
    if (mask.size() == 1 && mask[0] == kStar)
        return true;
    // Outside the matcher's domain; answering here also keeps the scan below
    // from ever reading an empty text.
    if (nameIn.empty() || mask.empty())
        return false;

    std::string name(nameIn);
    if (ignoreCase) {
        upperInPlace(name);
        upperInPlace(mask);
    }
    const auto nameLen = static_cast<Pos>(name.size());
    const auto maskLen = static_cast<Pos>(mask.size());

    Pos n = 1;
    Pos m = 1;
    for (;;) {
        const char nc = at(name, n);
        const char mc = at(mask, m);
        // A mask star is always a wildcard, even where the name holds a "*"
        // too: taken as an equal byte it would be used up as a literal, and
        // "a*" would no longer fit "a*b".
        if (mc != kStar && (nc == mc || mc == kJoker)) {
            ++n;
            ++m;
        } else if (mc == kStar) {
            const std::string rest = mask.substr(static_cast<std::size_t>(m));
            std::string run = rest;
            const bool lastStar = CutAtStar(run) == 0;
            const auto runLen = static_cast<Pos>(run.size());
            if (lastStar) {
                if (rest.empty())
                    return true;
                // The tail is laid against the end of the whole name, not of
                // what is left of it; it never reaches before the name's start.
                if (runLen > nameLen)
                    return false;
                for (Pos k = 0; k < runLen; ++k) {
                    const char tc = at(run, runLen - k);
                    if (tc != kJoker && tc != at(name, nameLen - k))
                        return false;
                }
                return true;
            }
            m += runLen + 1;
            const Pos p = PosWithJoker(run, std::string_view(name).substr(static_cast<std::size_t>(n - 1)));
            if (p == 0)
                return false;
            n += p - 1 + runLen;
        } else {
            return false;
        }
        if (n > nameLen || m > maskLen)
            break;
    }
    if (n <= nameLen)
        return false;
    if (m <= maskLen && at(mask, maskLen) != kStar)
        return false;
    return true;
}

} // namespace quillet::finder
