// The per-file step of every run: read a file and apply the operation to its
// bytes, writing nothing, so that it can run ahead on worker threads while
// the run's own thread writes files in order. This is the one seam between a
// file's bytes and the text operations: whatever decides how a file is read
// or what is done to its text is added here, for the run, the preview and the
// command line alike.
#pragma once

#include "core/spliced_text.h"
#include "core/text_diff.h"
#include "core/text_ops.h"
#include "engine/fs/file_identity.h"
#include "engine/fs/file_io.h"
#include "engine/fs/file_location.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillet::engine {

// What a run does to each file: the operation and its settings.
struct FileOperation {
    std::uint8_t Operation = core::OpReplaceText;
    std::string SearchPattern;
    bool CaseSensitive = false;
    std::string NewText;
    bool ResultIsPattern = false;
    std::string TagOpen{core::kTagOpen};
    std::string TagClose{core::kTagClose};
    std::int64_t MaxCount = -1; // matches handled per file; <= 0: no limit
    bool DryRun = false;        // find and count, but write nothing
    bool RecordKept = false;    // note which stretches of a changed file stay (PreparedFile::Kept), for a diff
};

struct PreparedFile {
    bool Matched = false;
    bool Changed = false;    // the operation changes the file's bytes (dry run or not)
    bool NeedsWrite = false; // Changed, and not a dry run
    FileBytes Original;      // the bytes read, when Changed
    // The new content when Changed, partly as stretches of Original.
    core::SplicedText Result;
    // With FileOperation::RecordKept, when Changed: the stretches of Original
    // that stand unchanged in Result, so that a diff need not search for them.
    std::vector<core::KeptStretch> Kept;
    // When Changed: the matches the operation handled (see core::ProcessText;
    // -1 for the clean-up recipes, which count none).
    std::int64_t Matches = 0;
    // The file shrank while it was read (see FileBytes::torn): nothing above
    // holds; read it again.
    bool Torn = false;
    bool Opened = false;   // the file was opened (an empty pattern only checks it is there)
    FileIdentity Identity; // the file as it was opened, when Opened
};

// Reads the file at `location` and applies `op` to its bytes; never writes.
// For operations 0 to 3 an empty pattern matches nothing without reading the
// file, except that Only Search counts it as a match; a path must still name
// a regular file ("Cannot open file "<path>". <reason>"). Operations 4 and 5
// run their recipes whatever the pattern. Only Search reads no more of the
// file than it needs to find the first match. Errors of LoadFileText pass
// through.
PreparedFile PrepareFileAt(const FileLocation& location, const FileOperation& op);
inline PreparedFile PrepareFile(const std::string& inName, const FileOperation& op) {
    return PrepareFileAt(FileLocation::atPath(inName), op);
}

} // namespace quillet::engine
