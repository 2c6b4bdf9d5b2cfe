// The run journal: every run that writes keeps, for each file it rewrites,
// the file's old bytes and metadata and what the run left in its place, so
// that `undo` can give the old content back later, even after the run was
// killed. Engine layer; the run calls it through CommitHooks, the command
// line and the window list runs and undo them (engine/keep/undo.h).
//
// Where it lives: $XDG_STATE_HOME/quillet/runs/ (default
// ~/.local/state/quillet/runs/), one directory per run, named by the run's
// id, made 0700. In it, "manifest" (engine/keep/journal_manifest.h) and the old
// bytes of each rewritten file: the old inode itself, hard-linked under the
// file's number (no copy: the rename would unlink it anyway) where the
// journal is on the same file system.
//
// A file on another file system (tmpfs, another disk) keeps its old inode
// in a keep folder at the top of that file system, as the desktop's trash
// does: "$top/.quillet-keep-<uid>/<run id>/<number>", where $top is the
// folder the file system is mounted on (found by walking up from the file's
// folder while the device stays the same). The keep folder and the run's
// folder in it are made by the run, 0700; either is used only when, opened
// without following a symbolic link, it is a folder of the user's own that
// no one else may enter (detail::UnsafeReason), and only where $top is not
// open to others for writing without the sticky bit (as /tmp and /dev/shm
// have it), so that no other user can remove, swap or read what it keeps.
// The manifest names each such folder ("keep-folder") and its files
// ("kept-in").
//
// Otherwise (no keep folder can be made or used), and where the file has
// other names (a write through them would change a linked inode) or is
// rewritten in place (that overwrites the old inode itself), a copy. The copy
// of a file of up to kPackUpTo bytes is appended to the run's one file
// "pack", so that neither the run nor its pruning makes or removes a file
// per file; undo then takes owner, extended attributes and ACLs from the
// file it replaces (the run gave the new file the old one's) and the mode
// from the manifest. A larger file's copy is a file of its own, named by its
// number (a reflink where the file system offers one), with all the old
// metadata.
//
// How much it keeps: the last 20 runs and 1 GiB, settable in
// $XDG_CONFIG_HOME/quillet/journal.conf (default ~/.config):
//     # lines of "name = value"; '#' starts a comment
//     max-runs = 20
//     max-bytes = 1G        (a plain number of bytes, or with K, M, G, T: powers of 1024)
// The oldest runs go first, and only runs no process is using (a run holds
// a lock on its manifest while it goes; a killed run's lock goes with it);
// a run goes with its folders in keep folders. A linked old inode counts
// with its full size, as a copy: it holds its blocks as long as it is kept.
// A file whose old bytes do not fit (the run alone has outgrown the limit,
// or the copy failed) is recorded as not kept and reported through
// JournalOptions::OnNotKept; its rewrite still goes ahead, except a rewrite
// in place, which is refused: nothing could give its old bytes back after a
// crash halfway.
#pragma once

#include "engine/fs/commit_hooks.h"
#include "engine/fs/durable_files.h"
#include "engine/keep/journal_manifest.h"
#include "engine/keep/journal_settings.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <utility>
#include <unordered_map>
#include <vector>

namespace quillet::engine {

// A new run id: the UTC time and four random hex digits,
// "20261207-142501-4f3a". Ids sort by time to the second.
std::string NewRunId(std::int64_t unixNs);

// The largest file whose old bytes a run's journal keeps in its pack.
inline constexpr std::int64_t kPackUpTo = std::int64_t{1} << 20;
// How many packed bytes a run holds back to write in one go.
inline constexpr std::size_t kPackHeldBackUpTo = std::size_t{4} << 20;

// When the runs a journal drops to make room are deleted. Either way they
// are hidden at once: no listing shows them and no undo takes them.
enum class DroppedRuns : std::uint8_t {
    // On a thread of the journal's while the run goes on, waited for a while
    // when it ends (JournalOptions::PruningGrace); what is left then goes
    // with the next run. For a process that outlives its runs (the window).
    DeletedDuringRun,
    // Left to the caller (DeleteDroppedRuns): the command line deletes them
    // in a process of its own once its run has ended, so that no run shares
    // its time with the files of another. What an earlier deletion left (a
    // process killed with its command, as a container's are) is deleted
    // during the run as with DeletedDuringRun, so that no more than one
    // run's dropped runs ever wait.
    LeftToCaller,
};

struct JournalOptions {
    JournalPlace Place;
    JournalLimits Limits;
    // What the run did, shown by the listing: the command line, or the
    // window's settings. Any bytes.
    std::string Description;
    // A file whose old bytes the journal could not keep, and why ("it does
    // not fit within the journal's limit of 1G"). The command line prints it
    // on standard error. Called on the run's thread.
    std::function<void(std::string_view listedPath, std::string_view reason)> OnNotKept;
    // Whether a file on another file system than the journal's keeps its old
    // inode in a keep folder at the top of that file system (see above);
    // false: it is copied into the run's directory.
    bool KeepFoldersOnOtherFileSystems = true;
    // The least time the run allows, at its end, for the runs it dropped to
    // be deleted (see RunJournal::finish).
    std::chrono::milliseconds PruningGrace{250};
    DroppedRuns Dropped = DroppedRuns::DeletedDuringRun;
};

// The name of the user's keep folder at the top of a file system:
// ".quillet-keep-<effective uid>".
std::string KeepFolderName();

// The options for a run's journal where the user keeps it: the place from
// the environment and the limits from its journal.conf. Raises the errors of
// LoadJournalLimits, and "The run journal "<path>" is not safe to use:
// <reason>" where a folder or a file the journal would use is not the
// user's own and private (detail::UnsafeReason): the run then stops before
// it writes anything.
JournalOptions JournalOptionsFromEnvironment(std::string description);

// Deletes here and now, with their folders in keep folders, the runs of the
// journal at `place` that were hidden to be deleted (dropped to make room,
// or whose deletion was cut short) and that no other process holds. What
// fails stays hidden for the next deletion; nothing is reported.
void DeleteDroppedRuns(const JournalPlace& place) noexcept;

// The journal of one run, as the run's CommitHooks. Its directory is made
// when the first file is about to be replaced (a run that writes nothing
// leaves nothing), after dropping old runs beyond the limits. Every entry,
// with the bytes it keeps, is on disk before its file is put in place
// (makeDurable, once for all the files a run staged), so a run cut short by
// a crash right after a rename can be undone. Not flushed for the files of a
// file system that a restart empties (tmpfs): a crash takes those files with
// it, so nothing would be undone, and the flushes to a journal on the disk
// would cost a run on such a tree most of its time.
// Called from the run's commit thread only (one file at a time).
class RunPruner;

class RunJournal : public CommitHooks {
public:
    explicit RunJournal(JournalOptions options);
    ~RunJournal() override; // finish()
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Keeps the old bytes (see the file's comment) and records the file.
    // Raises, refusing the rewrite:
    //   "Cannot keep the run journal in "<dir>". <reason>"   no run directory could be made
    //   "Cannot rewrite "<path>" in place: the journal could not keep its old content (<reason>)"
    //   "Cannot record "<path>" in the run journal. The run has finished"  called after finish()
    void beforeReplace(const ReplaceContext& context) override;
    // Records what the run left in place. A failure here is not reported:
    // undo then goes by what beforeReplace recorded of the new file.
    void afterReplace(const ReplaceContext& context, const FileIdentity& now) override;
    void replaceAbandoned(const ReplaceContext& context) noexcept override;
    // Writes the records and packed bytes held back since the last call,
    // then flushes them, the kept copies and the journal's folder. Raises
    // "Cannot keep the run journal in "<dir>". <reason>" when they cannot be.
    void makeDurable() override;
    bool keepsOldBytes() const override { return true; }

    // Whether (device, inode) is the journal's runs directory or one of the
    // user's keep folders (at the top of a file system, whether or not this
    // run made it): a walk skips them, so that a run over the home folder or
    // a whole disk never rewrites the journal's own records and kept files.
    // Safe to call from any thread.
    bool isJournalDirectory(dev_t device, ino_t inode) const;
    bool madeByHooks(dev_t device, ino_t inode) const override { return isJournalDirectory(device, inode); }

    // The run's id; empty until the first file was journaled.
    const std::string& id() const { return m_id; }
    // Files recorded so far (rewrites that did not take place aside), and
    // how many of them were not kept.
    std::size_t files() const { return m_recorded - m_abandoned; }
    std::size_t notKept() const { return m_notKept; }
    // With DroppedRuns::LeftToCaller: whether the runs this run dropped
    // wait for DeleteDroppedRuns.
    bool runsLeftToDelete() const;

    // Marks the run finished and lets it be pruned; removes its directory
    // when it recorded no file. Then waits for the runs it is deleting (with
    // DroppedRuns::LeftToCaller, only those an earlier deletion left) to be
    // deleted, but no longer than the run itself took (and at least
    // JournalOptions::PruningGrace): what is left stays out of sight for the
    // next run to delete, so that a small run does not wait seconds for the
    // files of a large one. Idempotent; the destructor calls it.
    void finish() noexcept;

private:
    struct OlderRun {
        std::string Name;
        std::int64_t Bytes = 0;
    };

    // The run's folder in a keep folder of another file system.
    struct KeepPlace {
        dev_t Device = 0;
        KeepFolderRecord Record; // Number 0: none can be used on that file system
        UniqueFd KeepFolder;     // ".quillet-keep-<uid>"
        UniqueFd Folder;         // the run's in it
        bool Unsynced = false;   // holds links not yet flushed
    };

    void start();
    void closeRun() noexcept;
    // The run's folder for old inodes of file system `device`, made on its
    // first use from the folder of a file on it; null where none can be used.
    KeepPlace* keepPlaceFor(int directoryFd, dev_t device);
    void noteKeepFolder(const struct stat& info);
    bool syncKeepPlaces();
    void noteRunsDirectory(const struct stat& info);
    bool makeRoom(std::int64_t bytes);
    KeptAs keepOldBytes(const ReplaceContext& context, const struct stat& old, JournalEntry& entry);
    // Appends the bytes to the pack and notes where in the entry; false with errno.
    bool pack(std::string_view oldBytes, JournalEntry& entry);
    bool writePendingPack();
    bool writePending(); // false with errno
    // The absolute path of a rewritten file's open directory (undo finds the
    // file by it); nullopt when no path leads to that very directory.
    std::optional<std::string> pathOfDirectory(int directoryFd, std::string_view listedPath, struct stat& directory);

    JournalOptions m_options;
    std::chrono::steady_clock::time_point m_created = std::chrono::steady_clock::now();
    std::string m_id;
    UniqueFd m_runsDirectory;
    UniqueFd m_runDirectory;
    UniqueFd m_manifest;
    std::unique_ptr<RunPruner> m_pruner; // removes the runs dropped to make room
    std::vector<OlderRun> m_older;       // runs that may be pruned, oldest first
    std::int64_t m_othersBytes = 0;      // what all other runs keep
    std::int64_t m_bytes = 0;            // what this run keeps
    std::size_t m_recorded = 0;
    std::size_t m_notKept = 0;
    std::size_t m_abandoned = 0; // of m_recorded: rewrites given up before they took place
    // The entry beforeReplace recorded for each file not yet put in place.
    std::unordered_map<const ReplaceContext*, std::size_t> m_announced;
    std::vector<UniqueFd> m_unsyncedCopies; // kept copies not yet flushed
    std::int64_t m_unsyncedCopyBytes = 0;   // their sizes
    UniqueFd m_pack;                        // opened with the first packed file
    std::int64_t m_packSize = 0;
    bool m_packUnsynced = false;
    std::string m_packPending;       // the end of the pack, not yet written
    std::string m_manifestPending;   // records not yet written
    bool m_entriesUnwritten = false; // m_manifestPending holds a file's "old" record
    dev_t m_runsDevice = 0;          // the file system of the journal's folder
    bool m_unsynced = false;         // records of files that outlast a crash, not yet flushed
    bool m_synced = false;           // the run's directory and records were flushed once
    // The last directory whose path was found, until the batch is put in
    // place: the files of a batch are renamed right after, and most share a
    // directory, so its path is looked up once per batch, not per file.
    struct BatchDirectory {
        dev_t Device = 0;
        ino_t Inode = 0;
        std::string Path;
    };
    std::optional<BatchDirectory> m_batchDirectory;
    bool m_finished = false;
    mutable std::mutex m_mutex;
    std::optional<std::pair<dev_t, ino_t>> m_runsIdentity; // guarded by m_mutex
    std::vector<KeepPlace> m_keepPlaces;
    // The user's keep folders, and the file systems whose tops were looked
    // at for one (a walk meets each file system's folders first).
    mutable std::set<std::pair<dev_t, ino_t>> m_keepFolders; // guarded by m_mutex
    mutable std::set<dev_t> m_probedDevices;                 // guarded by m_mutex
};

enum class RunState {
    Running,     // a process holds it: still going, or being undone
    Finished,    // ended normally
    Interrupted, // its process died before it ended (killed, crashed)
    PartlyUndone,
    Undone,
};

struct RunSummary {
    std::string Id;
    std::int64_t StartedNs = 0;
    std::string Description;
    std::size_t Files = 0;   // files rewritten
    std::size_t NotKept = 0; // of which the journal could not keep the old bytes
    std::int64_t Bytes = 0;  // what the journal keeps for it
    RunState State = RunState::Finished;
    // The run's folders in keep folders that cannot be used (a disk that is
    // not mounted): the path, and why (detail::OpenRunKeepFolder). Undo
    // fails the files kept there.
    std::vector<std::pair<std::string, std::string>> UnusableKeepFolders;
};

// The runs in the journal, newest first. A missing journal is an empty list.
// Reads each finished run's counts from its manifest's last lines, not its
// entries. Raises "Cannot read the run journal "<dir>". <reason>", and
// "The run journal "<path>" is not safe to use: <reason>" where a folder or
// file of it is not the user's own and private (detail::UnsafeReason).
std::vector<RunSummary> ListRuns(const JournalPlace& place);

// "finished", "running", "interrupted", "partly undone", "undone".
const char* RunStateText(RunState state);

// Implementation details only, past this point.
namespace detail {

// A run's directory with its manifest opened for appending and locked
// against every other process (a run going, another undo, pruning).
struct LockedRun {
    UniqueFd Directory;
    UniqueFd Manifest;
    RunManifest Record;
};

enum class LockResult { Locked, Busy, Missing, NotARun };

// How much of a manifest to read: all its entries, only what pruning needs
// (ManifestSummaryText), or that and the counts a listing shows (the
// "files" line; a run that has none is read whole).
enum class RunDetail { Full, Summary, Listing };

// Why the journal does not use a folder or file as fstat describes it;
// nullopt when it is the user's own (owned by the effective user), private
// (no permission for group or others) and a folder or a regular file as
// `folder` says. Another user who could write to the journal could make
// undo put their bytes in place of the user's files.
std::optional<std::string> UnsafeReason(const struct stat& info, bool folder);
// "The run journal "<path>" is not safe to use: <reason>"
std::string UnsafeText(const std::string& path, const std::string& reason);

// Opens `name` in dirFd as a folder or a file of the journal (flags are
// added to O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, and O_DIRECTORY for a
// folder): a symbolic link is never followed, a FIFO never waited on.
// Invalid with errno when it cannot be opened (ENOENT: it does not exist);
// raises Error(UnsafeText(path, reason)) where it is there but UnsafeReason
// refuses it, or it is a symbolic link.
UniqueFd OpenOwn(int dirFd, const std::string& name, int flags, bool folder, const std::string& path);

// Makes the folder of a new run `id` in runsFd; false with errno (EEXIST:
// the id is taken, by a run or by one being pruned under another name, whose
// folders in keep folders still bear the id).
bool MakeRunFolder(int runsFd, const std::string& id);

// Opens and locks run `name` in runsFd (at runsPath, for messages) without
// waiting; reads its record. Raises the error of OpenOwn for a run folder or
// manifest that is not safe to use.
LockResult LockRun(int runsFd, const std::string& runsPath, const std::string& name, LockedRun& run,
                   RunDetail detail = RunDetail::Full);
// LockRun for a run whose folder in runsFd is `folder` rather than its id (a
// run being pruned, renamed out of sight): its record must name run `id`.
LockResult LockHiddenRun(int runsFd, const std::string& runsPath, const std::string& folder, const std::string& id,
                         LockedRun& run, RunDetail detail);

// Appends lines to a manifest and flushes them to disk; false with errno.
bool AppendDurably(int manifestFd, std::string_view lines);

// Opens (creating, 0700, where `create`) the runs directory; invalid with
// errno when it does not exist or cannot be made. The runs directory and
// the one holding it (quillet/ in the state folder) are opened without
// following a symbolic link and must be safe to use (UnsafeReason), or it
// raises Error(UnsafeText(...)) naming the one that is not.
UniqueFd OpenRunsDirectory(const std::string& path, bool create);

// The directory names in runsFd, with their parsed manifests; unreadable
// entries skipped. Oldest first. With Summary, a finished run's manifest is
// read at its two ends only, and its Entries stay empty (id, times and kept
// total are there). Raises the error of OpenOwn where a run folder or a
// manifest is not safe to use.
std::vector<RunManifest> ReadRuns(int runsFd, const std::string& runsPath, RunDetail detail = RunDetail::Full);

// The folder at `path`, reached as a walk reaches it: each component opened
// from the one before, never following a symbolic link, so that a link
// planted anywhere on the path cannot send undo or pruning elsewhere. On
// failure the descriptor is invalid and `problem` says why ("" with errno
// ENOENT: the folder is gone).
UniqueFd OpenFolderAsWalked(const std::string& path, std::string& problem);

// A run's folder in a keep folder, as its record names it: reached as
// walked, the user's own and private (UnsafeReason), as is the keep folder
// that holds it, and the very folder the run made (device and inode). On
// failure invalid, with `problem` saying why: "it no longer exists (a disk
// that is not mounted?)", "another folder stands there", or the reason of
// UnsafeReason or the system. `keepFolder`, where given, gets the keep
// folder that holds it.
UniqueFd OpenRunKeepFolder(const KeepFolderRecord& record, std::string& problem, UniqueFd* keepFolder = nullptr);

// Removes a run's folders in keep folders with what they hold; those that
// cannot be reached (a disk not mounted) stay. Where `stop` turns true, stops
// after the file it is removing and returns false.
bool RemoveKeepFolders(const RunManifest& run, const std::atomic<bool>* stop = nullptr);

std::int64_t NowNs();

} // namespace detail

} // namespace quillet::engine
