#include "engine/run/stream_match.h"

#include "core/pattern.h"
#include "engine/fs/file_io.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace quillet::engine {

namespace {

constexpr std::size_t kChunk = std::size_t{256} * 1024;
// Whether a byte begins a character (and so whether a stray byte in a piece
// matches it) can hang on up to three bytes before and after it.
constexpr std::size_t kLook = 3;
constexpr std::uint64_t kAnywhere = std::numeric_limits<std::uint64_t>::max();
// Stretches of a split search: more threads than this read no faster.
constexpr std::size_t kMostStretches = 4;

std::size_t longestMatch(const core::CompiledPattern& compiled, std::size_t i, bool caseSensitive) {
    return static_cast<std::size_t>(core::LongestPieceMatch(compiled, i, caseSensitive));
}

// Finds the pieces of `compiled` one after another, each at its leftmost
// place after the one before, in a text that begins with the first `have`
// bytes of `buffer` and goes on with what readMore(into, want) hands out (0
// at its end). The first piece may begin at `start` or after; the bytes
// before it only say where characters begin. Where `firstBefore` is not
// kAnywhere, the scan looks for matches of the first piece that begin before
// that offset (from the buffer's first byte as it is now): it ends once every
// such match would have been whole in what it searched. Ends, false, once
// `stop` is set.
template <class ReadMore>
bool scanPieces(const core::CompiledPattern& compiled, bool caseSensitive, std::vector<char>& buffer, std::size_t have,
                std::size_t start, std::uint64_t firstBefore, const std::atomic<bool>& stop, ReadMore&& readMore) {
    std::uint64_t dropped = 0; // bytes moved out of the buffer's front
    bool atEnd = false;
    for (std::size_t i = 0; i < compiled.Pieces.size();) {
        const std::string_view text(buffer.data(), have);
        // Short of the file's end, a match must leave kLook bytes after it.
        const std::size_t end = atEnd ? have : have - std::min(have, kLook);
        core::Pos length = 0;
        const core::Pos found = end > start
                                    ? core::FindPiece(compiled, i, caseSensitive, text, static_cast<core::Pos>(end),
                                                      static_cast<core::Pos>(start) + 1, length)
                                    : 0;
        if (found != 0) { // also past the limit: a match all the same
            start = static_cast<std::size_t>(found - 1 + length);
            ++i;
            continue;
        }
        // A match that begins before the limit ends by limit - 1 + longest.
        if (i == 0 && firstBefore != kAnywhere &&
            dropped + end + 1 >= firstBefore + longestMatch(compiled, 0, caseSensitive))
            return false;
        if (atEnd || stop.load(std::memory_order_relaxed))
            return false;
        // Keep what could still be the beginning of this piece, and the
        // bytes before it that say where characters begin, then read on.
        const std::size_t tail = longestMatch(compiled, i, caseSensitive) - 1 + kLook;
        const std::size_t from = std::max(start, have > tail ? have - tail : 0);
        const std::size_t keepFrom = from - std::min(from, kLook);
        std::memmove(buffer.data(), buffer.data() + keepFrom, have - keepFrom);
        have -= keepFrom;
        dropped += keepFrom;
        start = from - keepFrom;
        const std::size_t got = readMore(buffer.data() + have, buffer.size() - have);
        atEnd = got == 0;
        have += got;
    }
    return true;
}

// A pattern of one piece in a large file, searched from `base` on by
// several threads at once, each through its own stretch (the last one to
// the file's end, wherever that now is): a thread copies bytes out of the
// system's cache no faster than memory allows, and the other cores would
// wait. The first match found stops the others; an error is raised once all
// have stopped.
bool splitMatches(const FileReader& reader, const core::CompiledPattern& compiled, bool caseSensitive,
                  std::uint64_t base, std::size_t stretches) {
    const std::uint64_t size = reader.sizeHint() > base ? reader.sizeHint() - base : 0;
    const std::size_t bufferSize = kChunk + longestMatch(compiled, 0, caseSensitive) + 2 * kLook;
    std::atomic<bool> stop{false};
    std::atomic<bool> matched{false};
    std::vector<std::exception_ptr> errors(stretches);
    auto scanStretch = [&](std::size_t k, std::vector<char>& buffer) noexcept {
        try {
            const std::uint64_t from = base + size * k / stretches;
            const std::uint64_t readFrom = from - std::min<std::uint64_t>(from - base, kLook);
            const bool last = k + 1 == stretches;
            const std::uint64_t limit = last ? kAnywhere : base + size * (k + 1) / stretches - readFrom;
            std::uint64_t at = readFrom;
            auto readMore = [&](char* into, std::size_t want) {
                const std::size_t got = reader.readAt(into, want, at);
                at += got;
                return got;
            };
            if (buffer.size() < bufferSize)
                buffer.resize(bufferSize);
            const std::size_t have = readMore(buffer.data(), buffer.size());
            if (scanPieces(compiled, caseSensitive, buffer, have, static_cast<std::size_t>(from - readFrom), limit,
                           stop, readMore))
                matched = true;
        } catch (...) {
            errors[k] = std::current_exception();
        }
        if (matched || errors[k])
            stop = true;
    };
    std::vector<std::thread> helpers;
    std::vector<std::size_t> here{0}; // stretches this thread scans
    for (std::size_t k = 1; k < stretches; ++k) {
        try {
            helpers.emplace_back([&scanStretch, k] {
                std::vector<char> buffer;
                scanStretch(k, buffer);
            });
        } catch (const std::system_error&) {
            here.push_back(k); // no thread to be had
        }
    }
    for (std::size_t k : here)
        scanStretch(k, SearchBuffer());
    for (std::thread& helper : helpers)
        helper.join();
    for (const std::exception_ptr& error : errors)
        if (error)
            std::rethrow_exception(error);
    return matched;
}

// Asked once: the system reads a file to answer.
std::size_t processors() {
    static const std::size_t count = std::max(1u, std::thread::hardware_concurrency());
    return count;
}

std::size_t stretchesFor(const SearchSplit& split, const FileReader& reader, const core::CompiledPattern& compiled) {
    if (compiled.Pieces.size() != 1 || reader.sizeHint() < split.From)
        return 1;
    const std::size_t wanted = split.Stretches != 0 ? split.Stretches : processors();
    return std::clamp<std::size_t>(wanted, 1, kMostStretches);
}

} // namespace

std::vector<char>& SearchBuffer() {
    thread_local std::vector<char> buffer;
    return buffer;
}

bool FileMatches(const std::string& fileName, std::string_view pattern, bool caseSensitive) {
    FileReader reader(fileName);
    return FileMatches(reader, pattern, caseSensitive);
}

SearchSplit SplitForThreads(int threads) {
    return {kSplitSearchFrom, std::min(static_cast<std::size_t>(std::max(threads, 1)), processors())};
}

bool FileMatches(FileReader& reader, std::string_view pattern, bool caseSensitive, std::string_view alreadyRead,
                 const SearchSplit& split) {
    const std::shared_ptr<const core::CompiledPattern> held = core::CompiledForThisThread(pattern);
    const core::CompiledPattern& compiled = *held;
    char probe = 0;
    if (compiled.Pieces.empty()) // '*' matches any text that is not empty; '**' nothing
        return compiled.Text == "*" && (!alreadyRead.empty() || reader.read(&probe, 1) == 1);
    if (const std::size_t stretches = stretchesFor(split, reader, compiled); stretches > 1)
        return splitMatches(reader, compiled, caseSensitive, reader.offset() - alreadyRead.size(), stretches);

    // Without regard to case a match can be longer than its piece (the
    // Kelvin sign for "k"): room and carry-over go by the longest match.
    std::size_t longest = 0;
    for (std::size_t i = 0; i < compiled.Pieces.size(); ++i)
        longest = std::max(longest, longestMatch(compiled, i, caseSensitive));
    std::vector<char>& buffer = SearchBuffer();
    // Bytes the caller read into the buffer itself stay there, moved to its
    // start past a mark; the offset survives the buffer's growth.
    const bool inBuffer = !alreadyRead.empty() && alreadyRead.data() >= buffer.data() &&
                          alreadyRead.data() + alreadyRead.size() <= buffer.data() + buffer.size();
    const std::size_t offset = inBuffer ? static_cast<std::size_t>(alreadyRead.data() - buffer.data()) : 0;
    const std::size_t wanted = std::min(kChunk, reader.sizeHint() + 1) + longest + 2 * kLook + alreadyRead.size();
    if (buffer.size() < wanted)
        buffer.resize(std::max(wanted, std::min(kChunk + longest + 2 * kLook, 2 * buffer.size())));
    if (!inBuffer)
        std::copy(alreadyRead.begin(), alreadyRead.end(), buffer.begin());
    else if (offset != 0)
        std::memmove(buffer.data(), buffer.data() + offset, alreadyRead.size());
    const std::atomic<bool> never{false};
    return scanPieces(compiled, caseSensitive, buffer, alreadyRead.size(), 0, kAnywhere, never,
                      [&reader](char* into, std::size_t want) { return reader.read(into, want); });
}

} // namespace quillet::engine
