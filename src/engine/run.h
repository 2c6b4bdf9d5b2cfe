// One run over many files, in one of its three shapes, as the window and the
// command line start it:
//   directory walk     every regular file under a directory whose name fits the mask
//   directory listing  the given names of one directory (the listing the window shows)
//   path list          the given paths, each used as written
// The run reports each handled file through callbacks and knows nothing of
// the window: the window adapts them to queued signals, the command line
// prints.
#pragma once

#include "engine/file_ops.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillet::engine {

enum class RunShape { DirectoryWalk, DirectoryListing, PathList };

// One handled file.
struct FileReport {
    std::string Directory; // walk: the directory scanned, ending in "/"; list shapes: empty
    std::string Name;      // walk: the entry's name; list shapes: the entry as given
    std::string FullPath;  // the path that was opened
    bool Matched = false;
    std::int64_t Index = 0; // list shapes: 1-based count of entries handled; walk: entries handled so far
    std::int64_t Total = 0; // list shapes: number of entries; walk: -1 (unknown)
};

struct RunRequest {
    RunShape Shape = RunShape::PathList;
    std::string Directory;            // walk and listing: the chosen directory
    std::string Mask;                 // walk: the file-name mask, ";" separating several
    std::vector<std::string> Entries; // listing: bare names; path list: paths (taken at the start)
    TSRParam Param;                   // operation, pattern, new text ...; its FileList is ignored
    std::int64_t MaxFiles = -1;       // stop after this many matching files; <= 0: no limit
    // Files read and matched at once on worker threads (writing, counting and
    // reporting stay in run order on the calling thread); 1: one at a time.
    int Threads = 1;
};

struct RunEvents {
    // After each handled file, in run order; setting stop ends the run after it.
    std::function<void(const FileReport& report, bool& stop)> OnFile;
    // The result-list entry of each matching file: the bare name in a
    // listing, the full path in a walk, the path as written in a path list.
    std::function<void(const std::string& entry)> OnResult;
    // A directory of the walk that cannot be opened (reported once each).
    std::function<void(const std::string& directory, const std::string& reason)> OnUnreadableDirectory;
    // Lets a caller on the user-interface thread keep its window alive.
    std::function<void()> ProcessMessages;
};

// Runs the request and returns the count the final message shows: matching
// files in a walk, files handled in a listing or path list. Entries of a walk
// that are not regular files (directories whose name fits the mask, FIFOs,
// symlinks) are passed over without counting. Errors end the run and pass
// through; files handled before stay handled.
std::int64_t ExecuteRun(const RunRequest& request, const RunEvents& events);

} // namespace quillet::engine
