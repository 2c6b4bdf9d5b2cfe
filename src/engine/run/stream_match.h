// Whether a file holds a match of a '*' pattern, read piece by piece through
// one small buffer instead of whole: Only Search needs no more, so a search
// costs no memory for the file's text and stops at the first match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::engine {

class FileReader;

// The answer of Only Search for the file: the same as matching its whole text
// (a pattern's pieces found one after the other, each at its leftmost place
// after the one before). Raises the errors of LoadFileText.
bool FileMatches(const std::string& fileName, std::string_view pattern, bool caseSensitive);
// Files from this size on are searched by several threads at once, each
// through its own stretch, where the pattern has no star: one thread reads
// a large file no faster than it copies memory, and the other cores would
// wait. (A pattern with stars is matched in order, by one thread.)
inline constexpr std::uint64_t kSplitSearchFrom = std::uint64_t{16} << 20;

// How FileMatches shares a large file among threads.
struct SearchSplit {
    std::uint64_t From = kSplitSearchFrom; // files of at least this size
    std::size_t Stretches = 0;             // 0: one per core; at most 4 either way; 1: no split
};
// The split of a run that reads `threads` files at once: no more stretches
// than that, nor than the processors.
SearchSplit SplitForThreads(int threads);

// The same on a file already open, read from where the reader stands, after
// `alreadyRead`: bytes taken from the reader before (looking for a mark),
// which begin the text. Where they lie in SearchBuffer() (read there by the
// caller) they are not copied. A search split among threads reads the file
// with FileReader::readAt, from where the text begins to the file's end as
// it stands when the last stretch meets it.
bool FileMatches(FileReader& reader, std::string_view pattern, bool caseSensitive, std::string_view alreadyRead = {},
                 const SearchSplit& split = {});

// The buffer the calling thread's FileMatches reads into, kept from file to
// file: most files are small, and allocating (and clearing) one for each
// would cost more than reading it. Only grows.
std::vector<char>& SearchBuffer();

} // namespace quillet::engine
