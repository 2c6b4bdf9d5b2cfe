// The one road by which a run replaces a file's content: checked against what
// was read, written beside it, renamed into place in the directory that holds
// it. SaveFileText and every run commit through here.
#pragma once

#include "engine/fs/commit_hooks.h"
#include "engine/fs/file_identity.h"
#include "engine/fs/file_location.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include <sys/types.h>

namespace quillet::engine {

enum class RewriteOutcome {
    Replaced,       // the new content is in place and on disk
    NotTheFileRead, // the file is no longer the one that was read: nothing was written
    Staged,         // StagedRewrite::stage only: ready to be put in place by finish()
};

// How many rewrites a run stages before it puts them in place together.
inline constexpr int kMaxStagedRewrites = 32;
// How many files, at most, a run's workers stage ahead of its turn.
inline constexpr int kMaxRewritesAhead = 32;
// How many rewrites the process may hold staged at once, up to `wanted`
// (at least 4): each holds up to three descriptors (old file, new file,
// directory), and all of them about a fifth of the descriptors the process
// may have (a soft limit of 1024 is usual; some set 256), leaving the rest
// to the walk, the journal and the reads.
int StagedRewritesAllowed(int wanted);
// Raises the process's soft limit of descriptors toward its hard limit (to
// at most 65536), so that a run and undo may hold their batches whole: a
// soft limit of 1024 under a far higher hard one is usual, kept low for
// programs that use select(), which this one does not. Does nothing where
// the soft limit is higher already or cannot be raised. For the start of a
// program that starts no others (they would inherit the raised limit, which
// one that uses select() cannot bear), before any other thread.
void RaiseDescriptorLimit();
// Grows the process's table of descriptors now to hold as many as a run or
// an undo may keep open (1024, within the soft limit). Grown later, once
// threads share it, each growth waits until every processor has passed a
// quiescent point: 4-10 ms here at the 256th and the 512th descriptor, in
// the middle of a run. For a program's start, before any other thread.
void GrowDescriptorTable();

// New content that is a stretch of another open file (the bytes a journal
// kept), copied by the system, sharing blocks where the file system can.
struct CopiedContent {
    int Fd = -1;
    std::int64_t Offset = 0;
    std::int64_t Size = 0;
};

// An inode ready to take a file's place as it is, with its own content,
// owner, mode and extended attributes (the old inode a journal kept):
// `Name` in the open folder `DirectoryFd`, which keeps its name.
struct PreparedInode {
    int DirectoryFd = -1;
    const char* Name = nullptr;
};

// The metadata a new file gets where it is not to be the old file's own.
struct NewFileMetadata {
    // Owner, group, mode, extended attributes and ACLs come from this open
    // file instead of the old one; -1: from the old file.
    int From = -1;
    // Then set, in this order (a change of owner may clear set-id bits):
    // owner and group where the process may (root), and the mode.
    std::optional<uid_t> Owner;
    std::optional<gid_t> Group;
    std::optional<mode_t> Mode;
};

// Whether a file may be overwritten in place where no new file can be made
// beside it (its folder is not writable, or append-only). A crash halfway
// leaves it half written, so only where its old bytes are kept elsewhere.
enum class InPlaceRewrite {
    WhenHooksKeepOldBytes, // a run: the hooks say whether they keep them
    Allowed,               // the new content is itself kept elsewhere (undo)
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
    // The bytes read, for the hooks. With Expected, the file must end where
    // they end (or at its size, if that is further): a byte past them (a size
    // that lagged behind the content when the file was read) makes the
    // rewrite NotTheFileRead, so that it is read again rather than cut short.
    std::string_view OldText;
    // A read met the file's end right after OldText (FileReader::metEnd): a
    // file that still has Expected's identity and OldText's size has nothing
    // past it, and the rewrite does not look.
    bool OldTextEndsFile = false;
    CommitHooks* Hooks = nullptr;
    // Where set, the new content is this stretch of another file, and the
    // new text given is not used.
    const CopiedContent* Copied = nullptr;
    // Where set, what the new file is given in place of the old file's
    // metadata.
    const NewFileMetadata* Metadata = nullptr;
    // Where set, the new file is this inode itself, linked in beside the file
    // instead of written: no byte is copied. It takes the file's place down
    // the same road (checks, lease, swap, folder flush); Metadata and a fresh
    // modification time (so that build tools see the change) are given to it
    // only once it is in place, so that a rewrite given up leaves it as it
    // was, and flushed with its folder (with the batch's, in finishTogether). Where it cannot be linked there (another file system, a folder not
    // writable), the rewrite writes Copied instead, which must be set too.
    // Not with Hooks nor OnNewFile (checked).
    const PreparedInode* Prepared = nullptr;
    InPlaceRewrite InPlace = InPlaceRewrite::WhenHooksKeepOldBytes;
    // Called with the new file's identity once it is complete, before it
    // can be seen under its name (never for a rewrite in place).
    std::function<void(const FileIdentity&)> OnNewFile;
};

// Replaces the content of the file at `location` with newText (its pieces
// one after another), or returns
// NotTheFileRead (having written nothing, and left no temporary file) when the file
// is not the one described by request.Expected any more.
//
// The rewrite:
//   - resolves a path entry to its final target (a symlink stays a link) and
//     works relative to the target's directory from then on; a walk entry is
//     replaced in the directory the walk opened;
//   - refuses a file whose owner has no write permission, also for root
//     ("Cannot create file "<path>". Permission denied"), and a file the
//     process may not write;
//   - writes a temporary file beside it, gives it the file's owner, group,
//     mode, extended attributes and ACLs (refusing the rewrite where a
//     user.* attribute or an ACL cannot be kept), syncs it, calls the hooks,
//     checks again, renames it over the file and syncs the directory (a
//     directory that cannot be flushed is an error, though the new content
//     is in place and the hooks hear afterReplace). The
//     temporary file has no name until the rename needs one, where the file
//     system allows (so that a SIGKILL meanwhile leaves nothing behind), and
//     then a short fixed-length one (so a name of 255 bytes can still be
//     rewritten);
//   - where the directory is not writable or is append-only, rewrites the
//     file in place, but only when request.Hooks keep the old bytes; it then
//     reserves the space first, overwrites from the start, cuts to the new
//     length and syncs (hard links stay shared). Otherwise it refuses
//     ("Cannot create file "<path>". Permission denied", or "... Folder is
//     append-only");
//   - holds a read lease on the file from the first check to the rename where
//     the system grants one (the owner, or root, on a local file system): a
//     program that opens the file for writing meanwhile waits, and the
//     rewrite sees it and returns NotTheFileRead instead of renaming over its write.
// Errors raise quillet::Error: "Cannot open file "<path>". <reason>" when the
// file is gone, "Cannot create file "<path>". <reason>" for the rest; no
// temporary file stays behind.
RewriteOutcome RewriteFile(const FileLocation& location, TextPieces newText, const RewriteRequest& request);
inline RewriteOutcome RewriteFile(const FileLocation& location, std::string_view newText,
                                  const RewriteRequest& request) {
    return RewriteFile(location, TextPieces(&newText, 1), request);
}

} // namespace quillet::engine

namespace quillet::engine {

// What StagedRewrite::finishTogether made of one rewrite.
struct FinishedRewrite {
    // What finish() returns: Replaced once the new content and its name in
    // the folder are on disk; NotTheFileRead also for a rewrite given up
    // after an earlier error (StagedRewrite::AfterError::Stop).
    RewriteOutcome Outcome = RewriteOutcome::NotTheFileRead;
    // Set: finish() would have raised this instead.
    std::exception_ptr Error;
    // The new content took the file's place: Replaced, or an Error met after
    // that (its folder could not be flushed, so the new name may not last
    // through a crash; the hooks heard afterReplace all the same).
    bool Placed = false;
};

// RewriteFile in two steps, so that a run can stage several files before it
// puts any in place: the hooks then make what they keep durable once for all
// of them (CommitHooks::makeDurable) instead of once per file. stage() does
// everything up to the rename (checks, temporary file written and synced,
// beforeReplace) and returns Staged, or NotTheFileRead (nothing left behind), or
// Replaced where the file had to be rewritten in place (done at once).
// finish() makes the hooks' records durable, checks again, renames and
// returns Replaced or NotTheFileRead, as RewriteFile does. A staged rewrite that is
// never finished is given up when it is destroyed: the temporary file is
// removed and the hooks hear replaceAbandoned. The pieces are copied; the
// bytes they point to must stay until finish() returns. Errors raise as for
// RewriteFile, from either step.
class StagedRewrite {
public:
    StagedRewrite();
    ~StagedRewrite();
    StagedRewrite(StagedRewrite&&) noexcept;
    StagedRewrite& operator=(StagedRewrite&&) noexcept;

    RewriteOutcome stage(const FileLocation& location, TextPieces newText, const RewriteRequest& request);
    // stage() on a worker thread, ahead of the file's turn and without the
    // hooks (request.Hooks is not used): returns whether the file is staged.
    // Gives up, leaving nothing behind and raising nothing, wherever stage()
    // would not return Staged, and for a file with several names (their
    // rewrites wait for one another, in run order). The run's own thread then
    // decides at the file's turn: announce(), or a fresh stage().
    bool stageAhead(const FileLocation& location, TextPieces newText, const RewriteRequest& request) noexcept;
    // At the file's turn, for a rewrite stageAhead() staged: tells `hooks`
    // (beforeReplace), as stage() does, and returns Staged. A hook's refusal
    // raises and gives the rewrite up. Precondition (checked): staged().
    RewriteOutcome announce(CommitHooks* hooks);
    // Precondition (checked): stage() or announce() returned Staged, and
    // finish() has not run since.
    RewriteOutcome finish();
    bool staged() const { return m_state != nullptr; }

    // A staged rewrite's new content is written, and its write-back to the
    // disk started, but it is flushed only right before it is put in place,
    // so that several can share one flush. This makes the hooks' records
    // of these rewrites durable (CommitHooks::makeDurable, once per hooks,
    // and only for rewrites announced since its last call from here: on
    // the same file system, that flush takes the new files along), then
    // flushes their new content together: one flush of the file system
    // (SyncFileSystem) for the files of one that holds several, unless it
    // holds much else unwritten (FileSystemFlushPays), a flush of the file
    // otherwise; where the flush of a file system
    // fails, each file's own tells which failed. Rewrites not staged, or
    // flushed already, are passed over. A failure stays with the rewrite it
    // concerns: its finish raises it ("Cannot create file "<path>".
    // <reason>", or the hooks' error).
    static void flushNewFiles(std::span<StagedRewrite* const> rewrites);

    enum class AfterError { Stop, GoOn };
    // finish() of several staged rewrites, in their order, sharing the
    // flushes: their new content and the hooks' records made durable
    // together (flushNewFiles, which passes over what an earlier call made
    // durable), each rewrite checked and put in place, the folders flushed together
    // (one flush of the file system where several folders of one are
    // concerned and it pays, else of each folder, each folder's own where
    // that fails), and
    // only then the hooks told (afterReplace, in order) and each outcome
    // given in finished[i]. So none is Replaced before its new content and
    // its name in the folder are on disk. With AfterError::Stop, the
    // rewrites after the first error are given up, left as they were.
    // `stopBeforeEach`, where set, is asked right before each rewrite is put
    // in place: true gives that one and the rest up, left as they were (the
    // ones put in place before are flushed and told as usual), and the call
    // returns true. Every rewrite is used up. Preconditions (checked): each
    // is staged, and finished has one place per rewrite.
    static bool finishTogether(std::span<StagedRewrite* const> rewrites, std::span<FinishedRewrite> finished,
                               AfterError afterError, const std::function<bool()>& stopBeforeEach = {});

private:
    enum class Mode { Now, Ahead };
    struct State;
    // The hooks' records of the rewrites staged in `states` made durable,
    // once per hooks; a failure stays with each rewrite it concerns.
    static void makeHooksDurable(std::span<State* const> states);
    RewriteOutcome stageFor(Mode mode, const FileLocation& location, TextPieces newText, const RewriteRequest& request);

    static RewriteOutcome place(State& state);
    std::unique_ptr<State> m_state;
};

} // namespace quillet::engine
