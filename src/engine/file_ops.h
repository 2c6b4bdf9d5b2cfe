// The given routines over the run (engine/run/run.h): applying a text
// operation to one file, or to every entry of a list, and TSRParam, their
// settings.
#pragma once

#include "engine/run/prepare.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillet::engine {

// Receives the entry of each matching file (as written in the list).
using TResultSink = std::function<void(const std::string& entry)>;

// The settings of ProcessFileList: the operation, and the list it works on.
struct TSRParam : FileOperation {
    std::string RootDir;                                // put before every entry: the directory plus "/", or empty
    const std::vector<std::string>* FileList = nullptr; // borrowed; the entries to process
    TResultSink ResultList;                             // may be empty
};

// Called after each entry of a list: index (1-based count of entries handled),
// total, the full path just handled; setting stop ends the loop.
using TListProgressEvent =
    std::function<void(std::int64_t index, std::int64_t total, const std::string& fileName, bool& stop)>;

// Applies the operation to one file and returns whether it matched.
// For operations 0 to 3 an empty pattern matches nothing without reading the
// file, except that Only Search counts it as a match; the file must still be
// there: a path that is not a regular file raises "Cannot open file "<path>".
// <reason>" as it would with any other pattern. Operations 4 and 5 run their
// recipes whatever the pattern, and always match. A matching file is
// rewritten (from inName to outName, normally the same path) unless the
// operation is Only Search, `write` is false, or the new content is the old
// one (then the file keeps its bytes, inode and times). Rewriting the file
// read (outName == inName) checks that it is still the file that was read
// and reads it again if not (see ExecuteRun). A file with a UTF-16 or UTF-32
// mark is processed as its text, and a binary file that a writing operation
// matches is left as it is and gives false (see prepare.h). Errors of
// LoadFileText and SaveFileText pass through.
bool ProcessFile(const std::string& outName, const std::string& inName, std::uint8_t operation,
                 const std::string& pattern, bool caseSensitive, const std::string& newText, bool isPattern,
                 const std::string& tagOpen, const std::string& tagClose, std::int64_t maxCount, bool write = true);

// Writes what PrepareFile produced to outName, without checking what stands
// there (SaveFileText).
void CommitFile(const PreparedFile& prepared, const std::string& outName);

// Runs ProcessFile over every entry of param.FileList (RootDir + entry, plain
// concatenation), in order, as a one-thread run of ExecuteRun, and returns
// the number of matching files. Each
// matching entry goes to param.ResultList as written. Empty entries are
// skipped, not opened: they are neither handled nor counted in the total that
// the progress callback receives. The loop ends after the progress
// callback sets stop, or once maxFiles > 0 files matched. The first error
// ends the loop; files handled before it stay handled.
std::int64_t ProcessFileList(const TSRParam& param, std::int64_t maxFiles, const TListProgressEvent& onProgress);

} // namespace quillet::engine
