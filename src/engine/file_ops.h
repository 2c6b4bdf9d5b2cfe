// Applying a text operation to files: one file, or every entry of a list,
// and TSRParam, the settings of a run.
#pragma once

#include "core/spliced_text.h"
#include "core/text_diff.h"
#include "core/text_ops.h"
#include "engine/fs/file_identity.h"
#include "engine/fs/file_io.h"
#include "engine/fs/file_location.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillet::engine {

// Receives the entry of each matching file (as written in the list).
using TResultSink = std::function<void(const std::string& entry)>;

// The settings of a run, copied from the window or the command line.
struct TSRParam {
    std::string RootDir;     // put before every entry: the directory plus "/", or empty for a path list
    bool SubFolders = false; // the run walks the tree (used by the run, not by the list loop)
    const std::vector<std::string>* FileList = nullptr; // borrowed; the entries to process
    std::uint8_t Operation = core::OpReplaceText;
    std::string SearchPattern;
    bool CaseSensitive = false;
    std::string NewText;
    bool ResultIsPattern = false;
    std::string TagOpen{core::kTagOpen};
    std::string TagClose{core::kTagClose};
    std::int64_t MaxCount = -1; // matches handled per file; <= 0: no limit
    TResultSink ResultList;     // may be empty
    bool DryRun = false;        // find and count, but write nothing
    bool RecordKept = false;    // note which stretches of a changed file stay (PreparedFile::Kept), for a diff
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
// and reads it again if not (see ExecuteRun). Errors of LoadFileText and
// SaveFileText pass through.
bool ProcessFile(const std::string& outName, const std::string& inName, std::uint8_t operation,
                 const std::string& pattern, bool caseSensitive, const std::string& newText, bool isPattern,
                 const std::string& tagOpen, const std::string& tagClose, std::int64_t maxCount, bool write = true);

// ProcessFile in two steps, for runs that read and match several files at
// once on worker threads but write them one by one, in order, on the run's
// own thread: PrepareFile reads and matches (it never writes), CommitFile
// writes what PrepareFile produced.
struct PreparedFile {
    bool Matched = false;
    bool Changed = false;    // the operation changes the file's bytes (dry run or not)
    bool NeedsWrite = false; // Changed, and not a dry run
    FileBytes Original;      // the bytes read, when Changed
    // The new content when Changed, partly as stretches of Original.
    core::SplicedText Result;
    // With TSRParam::RecordKept, when Changed: the stretches of Original that
    // stand unchanged in Result, so that a diff need not search for them.
    std::vector<core::KeptStretch> Kept;
    // The file shrank while it was read (see FileBytes::torn): nothing above
    // holds; read it again.
    bool Torn = false;
    bool Opened = false;   // the file was opened (an empty pattern only checks it is there)
    FileIdentity Identity; // the file as it was opened, when Opened
};

// The operation and its settings come from param (RootDir, FileList and
// ResultList are not used; DryRun means no write).
PreparedFile PrepareFile(const std::string& inName, const TSRParam& param);
PreparedFile PrepareFileAt(const FileLocation& location, const TSRParam& param);
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
