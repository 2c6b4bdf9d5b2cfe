#include "engine/run/text_hash.h"

#include <bit>
#include <cstring>
#include <random>

namespace quillet::engine {

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr std::uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr std::uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;

std::uint64_t read64(const char* at) {
    std::uint64_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return word; // the machine's byte order: the hash only has to be stable within one process
}

std::uint32_t read32(const char* at) {
    std::uint32_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return word;
}

std::uint64_t round64(std::uint64_t lane, std::uint64_t word) {
    return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

std::uint64_t mergeLane(std::uint64_t hash, std::uint64_t lane) {
    return (hash ^ round64(0, lane)) * kPrime1 + kPrime4;
}

// The process's key: a text made to collide with another would have to be
// made for it.
std::uint64_t processKey() {
    static const std::uint64_t key = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    return key;
}

} // namespace

std::uint64_t detail::xxh64(std::string_view text, std::uint64_t seed) {
    const char* at = text.data();
    const char* const end = at + text.size();
    std::uint64_t hash = 0;
    if (text.size() >= 32) {
        // Four lanes that do not wait for one another, each a variable of its
        // own: kept in an array, they went through memory at half the speed.
        std::uint64_t lane1 = seed + kPrime1 + kPrime2;
        std::uint64_t lane2 = seed + kPrime2;
        std::uint64_t lane3 = seed;
        std::uint64_t lane4 = seed - kPrime1;
        for (; end - at >= 32; at += 32) {
            lane1 = round64(lane1, read64(at));
            lane2 = round64(lane2, read64(at + 8));
            lane3 = round64(lane3, read64(at + 16));
            lane4 = round64(lane4, read64(at + 24));
        }
        hash = std::rotl(lane1, 1) + std::rotl(lane2, 7) + std::rotl(lane3, 12) + std::rotl(lane4, 18);
        for (const std::uint64_t lane : {lane1, lane2, lane3, lane4})
            hash = mergeLane(hash, lane);
    } else {
        hash = seed + kPrime5;
    }
    hash += text.size();
    for (; end - at >= 8; at += 8)
        hash = std::rotl(hash ^ round64(0, read64(at)), 27) * kPrime1 + kPrime4;
    if (end - at >= 4) {
        hash = std::rotl(hash ^ (std::uint64_t{read32(at)} * kPrime1), 23) * kPrime2 + kPrime3;
        at += 4;
    }
    for (; at < end; ++at)
        hash = std::rotl(hash ^ (std::uint64_t{static_cast<unsigned char>(*at)} * kPrime5), 11) * kPrime1;
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    hash ^= hash >> 32;
    return hash;
}

std::uint64_t HashText(std::string_view text) {
    return detail::xxh64(text, processKey());
}

} // namespace quillet::engine
