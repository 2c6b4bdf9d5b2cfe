// The one road by which a run replaces a file's content: checked against what
// was read, written beside it, renamed into place in the directory that holds
// it. SaveFileText and every run commit through here.
#pragma once

#include "engine/commit_hooks.h"
#include "engine/file_identity.h"
#include "engine/file_location.h"

#include <string_view>

namespace quillet::engine {

enum class RewriteOutcome {
    Replaced, // the new content is in place and on disk
    Changed,  // the file is no longer the one that was read: nothing was written
};

// What a rewrite needs beyond the location and the new text.
struct RewriteRequest {
    // The file as it was read. Checked when the rewrite begins (on a fresh
    // descriptor), and once more after the temporary file is complete, just
    // before the rename: by name in the directory (never following a
    // symlink) and, for a path entry, through the path as written (following
    // it, so a symlink re-pointed meanwhile is seen). Null: no check, and a
    // missing file is created (SaveFileText).
    const FileIdentity* Expected = nullptr;
    std::string_view OldText; // the bytes read, for the hooks
    CommitHooks* Hooks = nullptr;
};

// Replaces the content of the file at `location` with newText (its pieces
// one after another), or returns
// Changed (having written nothing, and left no temporary file) when the file
// is not the one described by request.Expected any more.
//
// The rewrite:
//   - resolves a path entry to its final target (a symlink stays a link) and
//     works relative to the target's directory from then on; a walk entry is
//     replaced in the directory the walk opened;
//   - refuses a file whose owner has no write permission, also for root
//     ("Cannot create file "<path>". Permission denied"), and a file the
//     process may not write;
//   - writes a temporary file with a short fixed-length name beside it (so a
//     name of 255 bytes can still be rewritten), gives it the file's owner,
//     group, mode, extended attributes and ACLs (refusing the rewrite where a
//     user.* attribute or an ACL cannot be kept), syncs it, calls the hooks,
//     checks again, renames it over the file and syncs the directory;
//   - where the directory is not writable or is append-only, rewrites the
//     file in place, but only when request.Hooks keep the old bytes; it then
//     reserves the space first, overwrites from the start, cuts to the new
//     length and syncs (hard links stay shared). Otherwise it refuses
//     ("Cannot create file "<path>". Permission denied", or "... Folder is
//     append-only");
//   - holds a read lease on the file from the first check to the rename where
//     the system grants one (the owner, or root, on a local file system): a
//     program that opens the file for writing meanwhile waits, and the
//     rewrite sees it and returns Changed instead of renaming over its write.
// Errors raise quillet::Error: "Cannot open file "<path>". <reason>" when the
// file is gone, "Cannot create file "<path>". <reason>" for the rest; no
// temporary file stays behind.
RewriteOutcome RewriteFile(const FileLocation& location, TextPieces newText, const RewriteRequest& request);
inline RewriteOutcome RewriteFile(const FileLocation& location, std::string_view newText,
                                  const RewriteRequest& request) {
    return RewriteFile(location, TextPieces(&newText, 1), request);
}

} // namespace quillet::engine
