#include "core/case_fold.h"

#include <algorithm>
#include <iterator>

namespace quillet::core {

namespace {

#include "core/case_fold_data.inc"

} // namespace

char32_t FoldCase(char32_t c) {
    if (c >= 0x110000)
        return c;
    const std::uint8_t block = kFoldStage1[c >> 8];
    if (block == 0)
        return c;
    return static_cast<char32_t>(static_cast<std::int32_t>(c) + kFoldStage2[block][c & 0xFF]);
}

FoldClass CasePartners(char32_t c) {
    const char32_t key = FoldCase(c);
    const auto* const end = std::end(kFoldClasses);
    const auto* it =
        std::lower_bound(std::begin(kFoldClasses), end, key, [](const FoldClass& k, char32_t v) { return k.Key < v; });
    if (it != end && it->Key == key)
        return *it;
    FoldClass alone;
    alone.Key = c;
    alone.Count = 1;
    alone.Members[0] = c;
    return alone;
}

int DecodeUtf8(const char* p, const char* end, char32_t& cp) {
    if (p >= end)
        return 0;
    const auto b0 = static_cast<std::uint8_t>(p[0]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    int len;
    char32_t value;
    char32_t least; // the smallest value this length may carry
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        value = b0 & 0x1F;
        least = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        value = b0 & 0x0F;
        least = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        value = b0 & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (end - p < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        const auto b = static_cast<std::uint8_t>(p[i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (b & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    cp = value;
    return len;
}

int EncodeUtf8(char32_t c, char* out) {
    auto put = [&out](int i, char32_t v) { out[i] = static_cast<char>(static_cast<std::uint8_t>(v)); };
    if (c < 0x80) {
        put(0, c);
        return 1;
    }
    if (c < 0x800) {
        put(0, 0xC0 | (c >> 6));
        put(1, 0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        put(0, 0xE0 | (c >> 12));
        put(1, 0x80 | ((c >> 6) & 0x3F));
        put(2, 0x80 | (c & 0x3F));
        return 3;
    }
    put(0, 0xF0 | (c >> 18));
    put(1, 0x80 | ((c >> 12) & 0x3F));
    put(2, 0x80 | ((c >> 6) & 0x3F));
    put(3, 0x80 | (c & 0x3F));
    return 4;
}

} // namespace quillet::core
