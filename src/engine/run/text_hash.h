// A keyed hash of a file's text, made where the text is read (the prepare
// step, on the run's workers, while the bytes are fresh in the cache) for a
// listener that must later know whether a file is still the text it saw: the
// window's Apply after a preview, which reads every byte again rather than
// trust a file's times.
//
// Layer: engine (run); std only.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillet::engine {

// A hash of a text, stable within one process: equal texts hash alike, and
// two texts that differ hash alike by chance only (one in 2^64). It reads
// every byte, and it is keyed by a number drawn when the process starts, so
// that no text can be made beforehand to pass for another. Fast (XXH64)
// because a preview hashes every file it would change.
std::uint64_t HashText(std::string_view text);

namespace detail {
// XXH64 of `text` with `seed`, the published algorithm (xxhash.com), bit for bit.
std::uint64_t xxh64(std::string_view text, std::uint64_t seed);
} // namespace detail

} // namespace quillet::engine
