#include "engine/run/stream_match.h"

#include "core/pattern.h"
#include "engine/fs/file_io.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace quillet::engine {

namespace {

constexpr std::size_t kChunk = std::size_t{256} * 1024;
// Whether a byte begins a character (and so whether a stray byte in a piece
// matches it) can hang on up to three bytes before and after it.
constexpr std::size_t kLook = 3;

} // namespace

std::vector<char>& SearchBuffer() {
    thread_local std::vector<char> buffer;
    return buffer;
}

bool FileMatches(const std::string& fileName, std::string_view pattern, bool caseSensitive) {
    FileReader reader(fileName);
    return FileMatches(reader, pattern, caseSensitive);
}

bool FileMatches(FileReader& reader, std::string_view pattern, bool caseSensitive, std::string_view alreadyRead) {
    const std::shared_ptr<const core::CompiledPattern> held = core::CompiledForThisThread(pattern);
    const core::CompiledPattern& compiled = *held;
    char probe = 0;
    if (compiled.Pieces.empty()) // '*' matches any text that is not empty; '**' nothing
        return compiled.Text == "*" && (!alreadyRead.empty() || reader.read(&probe, 1) == 1);

    // Without regard to case a match can be longer than its piece (the
    // Kelvin sign for "k"): room and carry-over go by the longest match.
    auto longestMatch = [&](std::size_t i) {
        return static_cast<std::size_t>(core::LongestPieceMatch(compiled, i, caseSensitive));
    };
    std::size_t longest = 0;
    for (std::size_t i = 0; i < compiled.Pieces.size(); ++i)
        longest = std::max(longest, longestMatch(i));
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
    std::size_t have = alreadyRead.size(); // bytes in the buffer
    std::size_t start = 0;                 // where the current piece may begin
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
        if (found != 0) {
            start = static_cast<std::size_t>(found - 1 + length);
            ++i;
            continue;
        }
        if (atEnd)
            return false;
        // Keep what could still be the beginning of this piece, and the
        // bytes before it that say where characters begin, then read on.
        const std::size_t tail = longestMatch(i) - 1 + kLook;
        const std::size_t from = std::max(start, have > tail ? have - tail : 0);
        const std::size_t keepFrom = from - std::min(from, kLook);
        std::memmove(buffer.data(), buffer.data() + keepFrom, have - keepFrom);
        have -= keepFrom;
        start = from - keepFrom;
        const std::size_t got = reader.read(buffer.data() + have, buffer.size() - have);
        atEnd = got == 0;
        have += got;
    }
    return true;
}

} // namespace quillet::engine
