// Whether a file holds a match of a '*' pattern, read piece by piece through
// one small buffer instead of whole: Only Search needs no more, so a search
// costs no memory for the file's text and stops at the first match.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillet::engine {

class FileReader;

// The answer of Only Search for the file: the same as matching its whole text
// (a pattern's pieces found one after the other, each at its leftmost place
// after the one before). Raises the errors of LoadFileText.
bool FileMatches(const std::string& fileName, std::string_view pattern, bool caseSensitive);
// The same on a file already open, read from where the reader stands, after
// `alreadyRead`: bytes taken from the reader before (looking for a mark),
// which begin the text. Where they lie in SearchBuffer() (read there by the
// caller) they are not copied.
bool FileMatches(FileReader& reader, std::string_view pattern, bool caseSensitive, std::string_view alreadyRead = {});

// The buffer the calling thread's FileMatches reads into, kept from file to
// file: most files are small, and allocating (and clearing) one for each
// would cost more than reading it. Only grows.
std::vector<char>& SearchBuffer();

} // namespace quillet::engine
