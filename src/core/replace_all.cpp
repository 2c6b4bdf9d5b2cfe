#include "core/replace_all.h"

#include "core/folded_search.h"

#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>

namespace quillet::core {

namespace {

__extension__ using Wide = unsigned __int128;

constexpr Pos kMaxLength = std::numeric_limits<Pos>::max();

// capacity + capacity div 2 (at least one more byte, so that a capacity of 1
// still grows), saturating instead of wrapping.
Pos grownByHalf(Pos capacity) {
    const Wide half = static_cast<Wide>(capacity) / 2;
    const Wide grown = static_cast<Wide>(capacity) + (half > 0 ? half : 1);
    return grown > static_cast<Wide>(kMaxLength) ? kMaxLength : static_cast<Pos>(grown);
}

// Reserves `capacity` bytes without touching them; false when they cannot be had.
bool tryReserve(std::string& buffer, Pos capacity) {
    if (capacity <= 0 || static_cast<std::size_t>(capacity) > buffer.max_size())
        return false;
    try {
        buffer.reserve(static_cast<std::size_t>(capacity));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

} // namespace

void CopyBytes(const char* from, char* to, Pos count) {
    if (count > 0)
        std::memcpy(to, from, static_cast<std::size_t>(count));
}

std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement,
                       bool caseSensitive) {
    if (source.empty() || find.empty())
        return std::string(source);

    const auto S = static_cast<Pos>(source.size());
    const auto F = static_cast<Pos>(find.size());
    const auto R = static_cast<Pos>(replacement.size());

    std::string result;
    Pos capacity = 0;
    if (R > F) {
        const Wide estimate = static_cast<Wide>(S) * static_cast<Wide>(R) / static_cast<Wide>(F);
        if (estimate <= static_cast<Wide>(kMaxLength) && tryReserve(result, static_cast<Pos>(estimate)))
            capacity = static_cast<Pos>(estimate);
    } else if (tryReserve(result, S)) {
        capacity = S;
    }
    if (capacity == 0) {
        // Fallback size; a failure here reaches the caller.
        capacity = grownByHalf(static_cast<Pos>(
            static_cast<Wide>(S) + static_cast<Wide>(R) > static_cast<Wide>(kMaxLength) ? kMaxLength : S + R));
        result.reserve(static_cast<std::size_t>(capacity));
    }

    // One skip table, or one prepared needle, for the whole pass.
    TSkipTable table;
    std::optional<FoldedNeedle> needle;
    if (caseSensitive)
        BuildSkipTable(find.data(), F, table);
    else
        needle.emplace(find);
    // The next match from `position` on, and its length.
    auto next = [&](const char* position, Pos remaining, Pos& length) -> const char* {
        length = F;
        if (caseSensitive)
            return remaining >= F ? ScanForward(position, find.data(), remaining, F, table) : nullptr;
        const Pos at = needle->findFrom(source, S, (position - source.data()) + 1, length);
        return at == 0 ? nullptr : source.data() + (at - 1);
    };

    auto emit = [&result](const char* from, Pos count) {
        const std::size_t at = result.size();
        result.resize(at + static_cast<std::size_t>(count));
        CopyBytes(from, result.data() + at, count);
    };

    const char* position = source.data();
    Pos remaining = S;
    Pos written = 0;
    Pos length = 0;
    while (const char* match = next(position, remaining, length)) {
        const Pos gap = match - position;
        written += gap + R;
        // Grow until the match fits, however much larger than half the
        // capacity it is.
        while (written >= capacity && capacity < kMaxLength)
            capacity = grownByHalf(capacity);
        result.reserve(static_cast<std::size_t>(capacity));
        emit(position, gap);
        emit(replacement.data(), R);
        position += gap + length;
        remaining -= gap + length;
    }
    emit(position, remaining);
    return result;
}

} // namespace quillet::core
