// Giving a journaled run's old file contents back (engine/keep/journal.h keeps
// them). Engine layer; `quillet-cli undo` and the window call it.
#pragma once

#include "engine/fs/rewrite.h"
#include "engine/keep/journal.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace quillet::engine {

enum class UndoOutcome {
    Restored,   // the old bytes are back
    AlreadyOld, // the file already holds them (the rewrite never took place, or they were put back);
                // a temporary file with its new content, left by a run killed midway, is removed
    LeftAlone,  // changed since the run (or gone), and not forced: Reason says how
    NotKept,    // the journal could not keep the old bytes: Reason says why
    Failed,     // the restore failed: Reason is the error
};

struct UndoFileReport {
    std::string_view ListedPath; // as the run listed it
    std::string_view Path;       // the real file's absolute path
    UndoOutcome Outcome = UndoOutcome::Restored;
    // For LeftAlone: "it changed since the run", "it no longer exists", "it
    // is no longer a regular file". For NotKept: "not kept by the journal: "
    // and the reason given when the run went. For Failed: "Cannot restore
    // "<path>". <reason>".
    std::string_view Reason;
};

struct UndoRequest {
    std::string RunId; // empty: the newest run in the journal
    // Restore files changed since the run too (and files removed since).
    bool Force = false;
    // Called once per file of the run, last rewritten first, on the calling
    // thread.
    std::function<void(const UndoFileReport&)> OnFile;
    // The threads that deal with a batch of files, each with a stretch of
    // it; 0: one per core, up to four.
    int Threads = 0;
};

struct UndoSummary {
    std::string RunId;
    std::size_t Restored = 0;
    std::size_t AlreadyOld = 0;
    std::size_t LeftAlone = 0;
    std::size_t NotKept = 0;
    std::size_t Failed = 0;
    // The journal's record of the run is damaged, or was cut short after
    // files the run replaced: files it does not name may still hold the
    // run's changes, and the run is not marked undone.
    bool RecordIncomplete = false;
    // Every file is dealt with; the run is marked undone and a second undo
    // is refused. Otherwise the files left alone or failed may be tried
    // again (with Force), and those restored are not touched again.
    bool Complete = false;
};

// Restores the old bytes of each file of a run whose content is still what
// the run left (same device, inode, size and modification time), or of every
// kept file with Force. Each file is reached as a walk reaches it: every
// folder of its recorded path opened from the one before without following
// a symbolic link, and the folder checked to be the one the run wrote in; a
// path that no longer leads there fails ("Cannot restore "<path>". The path
// no longer leads to the folder the run wrote in: ...") even with Force.
// The old bytes then go back as a run writes: a new file beside the one in
// place, given the owner, group and permission bits the file had before
// the run (the owner where the process may) and its extended attributes,
// swapped in only if the file is still the one undo looked at, under a read
// lease (a program that writes to it meanwhile keeps its write: LeftAlone),
// and the folder flushed. Where the journal kept the old inode itself on
// the file's own file system (a link, in the run's directory or in a keep
// folder), that inode is linked back instead of copied
// (RewriteRequest::Prepared), down the same road, and given a modification
// time of now. Where the folder is not writable, the file is rewritten in
// place. A file is marked restored in the journal as soon as
// it is; rewrites the run gave up before they took place are not listed.
// Raises, before touching any file:
//   "No run to undo: the journal is empty"
//   "No run <id> in the journal"
//   "Run <id> is still going, or being undone"
//   "Run <id> was already undone"
//   "Cannot read the run journal "<dir>". <reason>"
//   "The run journal "<path>" is not safe to use: <reason>"   a folder or file of it is not the
//                                     user's own and private (detail::UnsafeReason)
// A keep folder of the run that cannot be used (its disk is not mounted, it
// was removed, another folder or a link stands there, it is not the user's
// own and private: detail::OpenRunKeepFolder) fails each file kept there,
// touching none: "Cannot restore "<path>". The journal kept its old content
// in "<keep folder>", which cannot be used: it no longer exists (is its disk
// mounted?)". The files go back as a run rewrites them: kUndoBatch at a
// time (fewer where the process may hold few descriptors:
// StagedRewritesAllowed), each batch shared among
// UndoRequest::Threads threads, each of
// which stages its stretch, puts it in place together, sharing the flushes
// (StagedRewrite::finishTogether), and writes its "restored" records (and
// flushes them, where the files outlast a crash); each file is reported to
// OnFile once its record is written.
// An entry of the manifest that a run could not have written (see
// engine/journal_manifest.h) is reported as Failed, "The run journal's
// record of it is damaged", and nothing of it is touched.
UndoSummary UndoRun(const JournalPlace& place, const UndoRequest& request);

// How many files undo puts back in one batch at most. Undo on a disk waits
// on the flushes of its batches, which their files share: the real tree's
// 15,261 files took 1.38 s in batches of 256 against 1.61 s in batches of
// 64, and 64 took 0.85 times as long as 32. A batch holds up to three
// descriptors a file: 256 need a limit of 4096 (StagedRewritesAllowed).
inline constexpr int kUndoBatch = 8 * kMaxStagedRewrites;

} // namespace quillet::engine
