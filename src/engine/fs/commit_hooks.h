// What a run lets others do around each rewrite, for features that keep the
// old content (the run journal, backups) without the run knowing them.
#pragma once

#include "engine/fs/file_identity.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <span>
#include <string>
#include <string_view>

namespace quillet::engine {

// A text given as pieces that follow one another (views into the bytes read
// and into the bytes an operation made).
using TextPieces = std::span<const std::string_view>;

// One file about to be replaced, and then replaced. When beforeReplace runs,
// the new content is complete and synced in its temporary file (NewFd), and
// the old file is still in place, unchanged since it was read (the run has
// checked its identity). Where the file must be rewritten in place (its
// directory is not writable), there is no temporary file: NewFd is -1 and the
// old bytes are overwritten right after beforeReplace returns.
struct ReplaceContext {
    int DirectoryFd = -1;        // the directory that holds the file
    std::string_view Name;       // the file's name in that directory
    std::string_view ListedPath; // the path as the run lists it (for messages and records)
    int OldFd = -1;              // the old file, open for reading
    FileIdentity Old;            // the old file as it was read
    // Its status as the run last checked it (owner, mode, links), so that
    // hooks need not ask again; null where the caller took none.
    const struct stat* OldStatus = nullptr;
    std::string_view OldText; // its bytes
    TextPieces NewText;       // what replaces them, piece after piece
    int NewFd = -1;           // the new file, not yet in place; -1 for a rewrite in place
    // A rewrite in place has begun to overwrite the old bytes: given up now,
    // the file may be left half written, and only what the hooks kept can
    // mend it.
    bool OldBytesTouched = false;
};

class CommitHooks {
public:
    virtual ~CommitHooks() = default;
    // Before the new content replaces the old. Throwing quillet::Error
    // refuses the rewrite: the file keeps its old content and the run reports
    // the error as for any file that cannot be written. It must leave the old
    // file as it is (no write, no chmod: its identity is checked again after
    // this call; a hard link to it, which only moves its change time, is
    // allowed) and must not open it for writing: the run may hold a read
    // lease on it, and such an open would wait for the lease.
    virtual void beforeReplace(const ReplaceContext&) {}
    // Before a file announced to beforeReplace is put in place (renamed, or
    // overwritten in place): whatever beforeReplace kept for the files
    // announced since the last call must now be on disk. Several files may
    // be announced before one call, so that the cost of flushing is shared.
    // Throwing quillet::Error refuses the rewrite at hand, as beforeReplace.
    virtual void makeDurable() {}
    // After the new content is in place, with the identity of the new file.
    virtual void afterReplace(const ReplaceContext&, const FileIdentity& /*now*/) {}
    // Instead of afterReplace, when the rewrite was given up after
    // beforeReplace returned: the file changed meanwhile (the run reads it again and
    // may call beforeReplace anew), the run stopped before the file's turn
    // came, or an error came up. The old file is in place, as it was, unless
    // the context's OldBytesTouched says a rewrite in place began. Must not
    // throw.
    virtual void replaceAbandoned(const ReplaceContext&) noexcept {}
    // Whether beforeReplace keeps the old bytes where they can be restored
    // (a journal does). A rewrite in place, which a crash could leave half
    // done, is made only when it does.
    virtual bool keepsOldBytes() const { return false; }
    // Whether (device, inode) is a file or folder these hooks made themselves
    // (a backup written this run, the journal's own folder). A walk passes
    // over it, so that a run never processes its own backups nor rewrites the
    // journal it keeps. May be called from any thread.
    virtual bool madeByHooks(dev_t /*device*/, ino_t /*inode*/) const { return false; }
};

} // namespace quillet::engine
