#include "engine/keep/undo.h"

#include "core/checks.h"
#include "core/error.h"
#include "engine/fs/rewrite.h"
#include "finder/file_finder.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <charconv>
#include <cstring>
#include <memory>
#include <optional>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillet::engine {

namespace {

// A file's old bytes on their way back: staged beside it, to be put in
// place together with the rest of a batch (StagedRewrite::finishTogether),
// with what its rewrite refers to until then. Never moved once staged.
struct StagedPutBack {
    UniqueFd Kept;
    std::string KeptName;
    CopiedContent Content;
    PreparedInode Prepared;
    NewFileMetadata Metadata;
    StagedRewrite Rewrite;
};

struct Restore {
    UndoOutcome Outcome = UndoOutcome::Restored;
    std::string Reason;
};

Restore changedMeanwhile() {
    return {UndoOutcome::LeftAlone, "it changed while it was being restored"};
}

// The run's folders in keep folders, each opened once for the whole undo:
// the descriptor, or why it cannot be used.
struct KeptFolder {
    UniqueFd Fd;
    std::string Path;
    std::string Problem;
};
using KeptFolders = std::map<std::size_t, KeptFolder>;

// The folder last reached: a run's files mostly share folders, each reached
// once rather than once per file.
struct ReachedFolder {
    std::string Path;
    std::shared_ptr<finder::OpenDirectory> Directory;
    struct stat Info {};
};

class EntryRestorer {
public:
    EntryRestorer(const detail::LockedRun& run, const KeptFolders& keptFolders, ReachedFolder& reached,
                  const JournalEntry& entry, std::string path)
        : m_run(run), m_keptFolders(keptFolders), m_reached(reached), m_entry(entry), m_path(std::move(path)) {}

    // Restored with `staged` set: restored once that is put in place.
    Restore restore(bool force, std::unique_ptr<StagedPutBack>& staged);

private:
    Restore failed(const std::string& reason) const {
        return {UndoOutcome::Failed, "Cannot restore \"" + m_path + "\". " + reason};
    }

    // Opens what holds the old bytes (from m_keptOffset on) and checks that
    // it still holds all of them; the reason when it does not.
    std::optional<std::string> openKept(UniqueFd& kept, struct stat& keptInfo) const;
    bool holdsKeptBytes(const struct stat& now) const;
    void removeUnplacedNewFile() const;
    Restore putBack(UniqueFd kept, const struct stat* now, std::unique_ptr<StagedPutBack>& staged);

    // The folder that holds the kept file, or why it cannot be reached.
    int keptFolder(std::string& problem) const;

    const detail::LockedRun& m_run;
    const KeptFolders& m_keptFolders;
    ReachedFolder& m_reached;
    const JournalEntry& m_entry;
    std::string m_path;
    const bool m_packed = m_entry.Kept == KeptAs::Packed;
    const std::string m_keptName = m_packed ? "pack" : std::to_string(m_entry.Number);
    const std::int64_t m_keptOffset = m_packed ? m_entry.PackOffset : 0;
    std::shared_ptr<finder::OpenDirectory> m_directory;
};

int EntryRestorer::keptFolder(std::string& problem) const {
    if (m_entry.KeptIn == 0)
        return m_run.Directory.get();
    const auto found = m_keptFolders.find(m_entry.KeptIn);
    if (found == m_keptFolders.end()) {
        problem = "The run journal's record of it is damaged";
        return -1;
    }
    if (!found->second.Fd.valid())
        problem = "The journal kept its old content in \"" + found->second.Path +
                  "\", which cannot be used: " + found->second.Problem;
    return found->second.Fd.get();
}

std::optional<std::string> EntryRestorer::openKept(UniqueFd& kept, struct stat& keptInfo) const {
    std::string problem;
    const int folder = keptFolder(problem);
    if (folder < 0)
        return problem;
    // Never waits on a FIFO put in its place. The pack is the journal's own
    // file; a kept file has the old file's owner and mode, and the run's
    // folder, private to the user, vouches for it.
    kept.reset(::openat(folder, m_keptName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!kept.valid() || ::fstat(kept.get(), &keptInfo) != 0)
        return "The journal no longer holds its old content: " + ErrnoText(errno);
    if (const auto unsafe = detail::UnsafeReason(keptInfo, false); unsafe && (m_packed || !S_ISREG(keptInfo.st_mode)))
        return "The journal's copy of it is not safe to use: " + *unsafe;
    // A kept file changed since (written through another name, or by hand)
    // would give back something else than the old content.
    const bool whole = m_packed
                           ? keptInfo.st_size - m_keptOffset >= m_entry.Old.Size
                           : keptInfo.st_size == m_entry.Old.Size &&
                                 (m_entry.Kept != KeptAs::Link || SameAsLeft(m_entry.Old, FileIdentity::of(keptInfo)));
    if (!whole)
        return std::string("The journal's copy of it changed since the run");
    return std::nullopt;
}

Restore EntryRestorer::restore(bool force, std::unique_ptr<StagedPutBack>& staged) {
    if (m_entry.Directory.empty()) // recorded as not kept: the run could not tell where the file was
        return {UndoOutcome::NotKept, "not kept by the journal: " + m_entry.NotKeptReason};
    if (m_reached.Path != m_entry.Directory || !m_reached.Directory) {
        std::string problem;
        UniqueFd folder = detail::OpenFolderAsWalked(m_entry.Directory, problem);
        if (!folder.valid()) {
            m_reached.Directory.reset();
            if (problem.empty() && !force)
                return {UndoOutcome::LeftAlone, "it no longer exists"};
            return failed(problem.empty() ? ErrnoText(errno) : problem);
        }
        if (::fstat(folder.get(), &m_reached.Info) != 0)
            return failed(ErrnoText(errno));
        m_reached.Path = m_entry.Directory;
        m_reached.Directory = std::make_shared<finder::OpenDirectory>(folder.release(), m_entry.Directory);
    }
    const struct stat& folderInfo = m_reached.Info;
    if (m_entry.Folder && (m_entry.Folder->Device != folderInfo.st_dev || m_entry.Folder->Inode != folderInfo.st_ino))
        return failed("The path no longer leads to the folder the run wrote in: another folder stands at \"" +
                      m_entry.Directory + "\"");
    m_directory = m_reached.Directory;

    struct stat now {};
    const int directoryFd = m_directory->Fd;
    const bool exists = ::fstatat(directoryFd, m_entry.Name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return failed(ErrnoText(errno));
    const bool regular = exists && S_ISREG(now.st_mode);
    if (regular && SameAsLeft(m_entry.Old, FileIdentity::of(now))) {
        removeUnplacedNewFile();
        return {UndoOutcome::AlreadyOld, {}};
    }
    if (m_entry.Kept == KeptAs::None)
        return {UndoOutcome::NotKept, "not kept by the journal: " + m_entry.NotKeptReason};

    bool asLeft = false;
    if (regular) {
        const auto& recorded = m_entry.Left ? m_entry.Left : m_entry.Expected;
        // A rewrite in place that never finished leaves the old inode with
        // part of the new bytes: the journal's copy is what it should hold.
        asLeft = recorded ? SameAsLeft(*recorded, FileIdentity::of(now))
                          : m_entry.InPlace && FileIdentity::of(now).sameInode(m_entry.Old);
    }
    if (!asLeft && regular && holdsKeptBytes(now))
        return {UndoOutcome::AlreadyOld, {}};
    if (!asLeft && !force) {
        if (!exists)
            return {UndoOutcome::LeftAlone, "it no longer exists"};
        if (!regular)
            return {UndoOutcome::LeftAlone, "it is no longer a regular file"};
        return {UndoOutcome::LeftAlone, "it changed since the run"};
    }

    UniqueFd kept;
    struct stat keptInfo {};
    if (const auto missing = openKept(kept, keptInfo))
        return failed(*missing);
    return putBack(std::move(kept), exists ? &now : nullptr, staged);
}

// A run killed after it named a file's new content and before it put it in
// place left that content in a hidden temporary file beside the file (on a
// file system without unnamed files, any time after it was written). The
// journal recorded its identity, so it is this very file that goes, never
// another program's.
void EntryRestorer::removeUnplacedNewFile() const {
    if (!m_entry.Expected || m_entry.Left)
        return;
    for (const std::string& name : NamesIn(m_directory->Fd)) {
        struct stat info {};
        if (name.starts_with(".quillet-") &&
            ::fstatat(m_directory->Fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
            SameAsLeft(*m_entry.Expected, FileIdentity::of(info))) {
            ::unlinkat(m_directory->Fd, name.c_str(), 0);
            return;
        }
    }
}

// Whether the file already holds the old bytes: an undo cut short between
// putting them back and recording it, or a user who put them back by hand.
bool EntryRestorer::holdsKeptBytes(const struct stat& now) const {
    if (now.st_size != m_entry.Old.Size)
        return false;
    UniqueFd kept;
    struct stat keptInfo {};
    // The kept inode itself, linked back by an undo cut short (which gave
    // it a new modification time).
    std::string problem;
    const int folder = keptFolder(problem);
    struct stat linked {};
    if (m_entry.Kept == KeptAs::Link && folder >= 0 &&
        ::fstatat(folder, m_keptName.c_str(), &linked, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(linked.st_mode) &&
        linked.st_dev == now.st_dev && linked.st_ino == now.st_ino)
        return true;
    UniqueFd current(::openat(m_directory->Fd, m_entry.Name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (openKept(kept, keptInfo) || !current.valid())
        return false;
    if (keptInfo.st_dev == now.st_dev && keptInfo.st_ino == now.st_ino)
        return true;
    std::vector<char> left(1 << 16);
    std::vector<char> right(1 << 16);
    for (off_t at = 0; at < now.st_size;) {
        const auto want = static_cast<std::size_t>(std::min<off_t>(now.st_size - at, off_t{1} << 16));
        const ssize_t got = ::pread(kept.get(), left.data(), want, m_keptOffset + at);
        if (got <= 0 || ::pread(current.get(), right.data(), static_cast<std::size_t>(got), at) != got ||
            std::memcmp(left.data(), right.data(), static_cast<std::size_t>(got)) != 0)
            return false;
        at += got;
    }
    return true;
}

// The old bytes go back down the road every rewrite takes (fs/rewrite.h): a
// new file beside the one in place, checked to be still the file undo
// looked at (`now`; null where none stands there) just before and after
// the swap, under a read lease, so that a program writing to it meanwhile
// keeps its write. The file gets the owner, group and mode it had before
// the run, and the extended attributes kept with it (else those of the
// file it replaces, which the run gave the old file's). Staged here, put in
// place with its batch; a rewrite in place is done at once.
Restore EntryRestorer::putBack(UniqueFd kept, const struct stat* now, std::unique_ptr<StagedPutBack>& staged) {
    QUILLET_ASSERT(m_directory != nullptr, "the file's folder is reached before its bytes go back");
    // Forced over a symbolic link that took the file's place: the link goes,
    // never followed, and the file comes back in its place.
    if (now != nullptr && S_ISLNK(now->st_mode)) {
        if (::unlinkat(m_directory->Fd, m_entry.Name.c_str(), 0) != 0 && errno != ENOENT)
            return failed(ErrnoText(errno));
        now = nullptr;
    }
    staged = std::make_unique<StagedPutBack>();
    staged->Kept = std::move(kept);
    staged->KeptName = m_keptName;
    staged->Content = {staged->Kept.get(), m_keptOffset, m_entry.Old.Size};
    // The old inode itself, where the journal linked it on the file's own
    // file system, goes back by a link, not a copy of its bytes.
    std::string unused;
    staged->Prepared = {keptFolder(unused), staged->KeptName.c_str()};
    NewFileMetadata& metadata = staged->Metadata;
    if (m_entry.KeptMetadata && !m_packed)
        metadata.From = staged->Kept.get();
    metadata.Owner = m_entry.Owner;
    metadata.Group = m_entry.Group;
    metadata.Mode = m_entry.Mode & 0777;
    const FileIdentity expected = now != nullptr ? FileIdentity::of(*now) : FileIdentity();
    RewriteRequest request;
    request.Expected = now != nullptr ? &expected : nullptr;
    request.Copied = &staged->Content;
    request.Metadata = &metadata;
    request.InPlace = InPlaceRewrite::Allowed;
    if (m_entry.Kept == KeptAs::Link)
        request.Prepared = &staged->Prepared;
    FileLocation location;
    location.Directory = m_directory;
    location.Name = m_entry.Name;
    location.Path = m_path;
    try {
        const RewriteOutcome outcome = staged->Rewrite.stage(location, {}, request);
        if (outcome == RewriteOutcome::Staged)
            return {};
        staged.reset(); // rewritten in place, or not at all
        return outcome == RewriteOutcome::Replaced ? Restore{} : changedMeanwhile();
    } catch (const Error& error) {
        staged.reset();
        return {UndoOutcome::Failed, error.what()};
    }
}

// Whether the run's folder keeps old content that its manifest names no
// file for, in a way that tells that the file was replaced: the manifest of a
// run that did not end was cut short after that file's record (by hand, or
// by a file system that lost it). A kept inode still linked at its place
// is only a file the run was about to replace when it was killed.
bool keepsUnrecordedContent(const detail::LockedRun& run, const KeptFolders& keptFolders) {
    std::set<std::size_t> recorded;
    std::int64_t packed = 0; // how much of the pack the entries name
    for (const JournalEntry& entry : run.Record.Entries) {
        recorded.insert(entry.Number);
        if (entry.Kept == KeptAs::Packed)
            packed = std::max(packed, entry.PackOffset + entry.Old.Size);
    }
    std::vector<int> folders{run.Directory.get()};
    for (const auto& [number, folder] : keptFolders)
        if (folder.Fd.valid())
            folders.push_back(folder.Fd.get());
    for (const int folder : folders) {
        for (const std::string& name : NamesIn(folder)) {
            struct stat info {};
            if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (folder == run.Directory.get() && name == "pack" && info.st_size > packed)
                return true;
            std::size_t number = 0;
            const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
            if (error == std::errc() && end == name.data() + name.size() && !recorded.contains(number) &&
                info.st_nlink < 2)
                return true;
        }
    }
    return false;
}

// The lines that end a run undone whole: what a listing and pruning read at
// the manifest's end (engine/keep/journal_manifest.h) once more after the
// "restored" lines, so that they need not read its entries, then "undone".
// What it keeps is now its pack alone: the other kept files went.
std::string undoneLines(const RunManifest& record) {
    std::int64_t packed = 0;
    std::size_t files = 0;
    std::size_t notKept = 0;
    for (const JournalEntry& entry : record.Entries) {
        packed += entry.Kept == KeptAs::Packed ? entry.Bytes : 0;
        files += entry.Abandoned ? 0 : 1;
        notKept += !entry.Abandoned && entry.Kept == KeptAs::None ? 1 : 0;
    }
    std::string lines = ManifestKeptLine(packed);
    for (const KeepFolderRecord& folder : record.KeepFolders)
        AppendManifestKeepFolderLine(lines, folder);
    lines += ManifestFilesLine(files, notKept);
    if (record.FinishedNs)
        lines += ManifestEndLine(*record.FinishedNs);
    return lines + ManifestUndoneLine(detail::NowNs());
}

std::string runsError(const JournalPlace& place, int error) {
    return "Cannot read the run journal \"" + place.RunsDirectory + "\". " + ErrnoText(error);
}

} // namespace

UndoSummary UndoRun(const JournalPlace& place, const UndoRequest& request) {
    UniqueFd runsFd = detail::OpenRunsDirectory(place.RunsDirectory, false);
    if (!runsFd.valid()) {
        if (errno != ENOENT)
            throw Error(runsError(place, errno));
        if (request.RunId.empty())
            throw Error("No run to undo: the journal is empty");
        throw Error("No run " + request.RunId + " in the journal");
    }
    UndoSummary summary;
    summary.RunId = request.RunId;
    if (summary.RunId.empty()) {
        const std::vector<RunManifest> runs =
            detail::ReadRuns(runsFd.get(), place.RunsDirectory, detail::RunDetail::Summary);
        if (runs.empty())
            throw Error("No run to undo: the journal is empty");
        summary.RunId = runs.back().Id;
    }
    const std::string& id = summary.RunId;
    detail::LockedRun run;
    switch (detail::LockRun(runsFd.get(), place.RunsDirectory, id, run)) {
    case detail::LockResult::Locked:
        break;
    case detail::LockResult::Busy:
        throw Error("Run " + id + " is still going, or being undone");
    case detail::LockResult::Missing:
    case detail::LockResult::NotARun:
        throw Error("No run " + id + " in the journal");
    }
    if (run.Record.UndoneNs)
        throw Error("Run " + id + " was already undone");

    // Each keep folder of the run opened once; one that cannot be reached
    // (a disk not mounted) fails the files kept there, and only those.
    KeptFolders keptFolders;
    for (const KeepFolderRecord& record : run.Record.KeepFolders) {
        KeptFolder& folder = keptFolders[record.Number];
        folder.Path = record.Path;
        folder.Fd = detail::OpenRunKeepFolder(record, folder.Problem);
    }

    // A run that ended wrote its records whole; one that did not may have
    // lost some besides those of files it never replaced.
    summary.RecordIncomplete =
        run.Record.Damaged || (!run.Record.FinishedNs && keepsUnrecordedContent(run, keptFolders));
    bool complete = !summary.RecordIncomplete;
    // A file the run rewrote twice: once its later rewrite is undone, it
    // holds what the earlier one left, in a file this undo made.
    std::set<std::string> restoredNow;
    // Files dealt with whose "restored" records are not yet written, their
    // old bytes mostly staged beside them: put in place together, then
    // recorded and flushed together, as a run does once per batch. An undo
    // cut short before the records are written finds those files holding
    // their kept bytes and counts them as already old.
    struct Dealt {
        const JournalEntry* Entry = nullptr;
        std::string Path;
        Restore Result;
        std::unique_ptr<StagedPutBack> Staged; // Restored once it is put in place
        bool Lasting = false;                  // on a file system that outlasts a crash: its record is flushed
    };
    std::vector<Dealt> dealt;
    // The batch being gathered: files of distinct paths, so that they can be
    // dealt with in any order.
    std::vector<std::pair<const JournalEntry*, std::string>> batch;
    std::set<std::string> pathsInBatch;
    // The files of a batch are independent: a few threads deal with a batch,
    // each with a stretch of it, keeping the folder it reached last; each
    // stages its files (as a run's workers stage theirs), puts them in place
    // together and records them. They are reported on this thread, in order.
    const std::size_t stagers = request.Threads > 0
                                    ? static_cast<std::size_t>(request.Threads)
                                    : std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<ReachedFolder> reachedBy(stagers);
    const auto batchSize = static_cast<std::size_t>(StagedRewritesAllowed(kUndoBatch));
    // Puts the staged files of dealt[from, to) in place together.
    const auto putInPlace = [&](std::size_t from, std::size_t to) {
        std::vector<StagedRewrite*> rewrites;
        std::vector<Dealt*> staged;
        for (std::size_t i = from; i < to; ++i) {
            if (dealt[i].Staged) {
                rewrites.push_back(&dealt[i].Staged->Rewrite);
                staged.push_back(&dealt[i]);
            }
        }
        if (rewrites.empty())
            return;
        std::vector<FinishedRewrite> finished(rewrites.size());
        StagedRewrite::finishTogether(rewrites, finished, StagedRewrite::AfterError::GoOn);
        for (std::size_t i = 0; i < staged.size(); ++i) {
            Restore& result = staged[i]->Result;
            staged[i]->Staged.reset();
            if (finished[i].Error) {
                try {
                    std::rethrow_exception(finished[i].Error);
                } catch (const std::exception& error) {
                    result = {UndoOutcome::Failed, error.what()};
                }
            } else if (finished[i].Outcome != RewriteOutcome::Replaced) {
                result = changedMeanwhile();
            }
        }
    };
    // Records dealt[from, to) as restored (flushed where the files outlast a
    // crash: a file system that a restart empties takes them along), then
    // lets go of what the journal kept of them.
    std::mutex manifestMutex;
    const auto record = [&](std::size_t from, std::size_t to) {
        std::string records;
        bool recordsToFlush = false;
        for (std::size_t i = from; i < to; ++i) {
            const UndoOutcome outcome = dealt[i].Result.Outcome;
            if (outcome == UndoOutcome::Restored || outcome == UndoOutcome::AlreadyOld) {
                records += ManifestRestoredLine(dealt[i].Entry->Number);
                recordsToFlush = recordsToFlush || dealt[i].Lasting;
            }
        }
        bool written = true;
        int error = 0;
        if (!records.empty()) {
            // A record cut short by a full disk stays the manifest's last.
            const std::lock_guard lock(manifestMutex);
            written = recordsToFlush ? detail::AppendDurably(run.Manifest.get(), records)
                                     : WriteAll(run.Manifest.get(), records);
            error = errno;
        }
        for (std::size_t i = from; i < to; ++i) {
            Dealt& done = dealt[i];
            Restore& result = done.Result;
            const JournalEntry& entry = *done.Entry;
            const bool dealtWith = result.Outcome == UndoOutcome::Restored || result.Outcome == UndoOutcome::AlreadyOld;
            if (dealtWith && !written) {
                result = {UndoOutcome::Failed,
                          "Cannot record \"" + done.Path + "\" as restored in the run journal. " + ErrnoText(error)};
            } else if (dealtWith && (entry.Kept == KeptAs::Link || entry.Kept == KeptAs::Copy)) {
                // No longer needed, and where it was linked back, the file's
                // other name: a write to the file must not reach the journal.
                const auto folder = keptFolders.find(entry.KeptIn);
                const int folderFd = entry.KeptIn == 0             ? run.Directory.get()
                                     : folder != keptFolders.end() ? folder->second.Fd.get()
                                                                   : -1;
                if (folderFd >= 0)
                    ::unlinkat(folderFd, std::to_string(entry.Number).c_str(), 0);
            }
        }
    };
    // Counts and reports the files of `dealt`, in the journal's order.
    const auto report = [&] {
        for (Dealt& done : dealt) {
            const Restore& result = done.Result;
            switch (result.Outcome) {
            case UndoOutcome::Restored:
                restoredNow.insert(done.Path);
                ++summary.Restored;
                break;
            case UndoOutcome::AlreadyOld:
                ++summary.AlreadyOld;
                break;
            case UndoOutcome::LeftAlone:
                ++summary.LeftAlone;
                complete = false;
                break;
            case UndoOutcome::NotKept:
                ++summary.NotKept;
                break;
            case UndoOutcome::Failed:
                ++summary.Failed;
                complete = false;
                break;
            }
            if (request.OnFile)
                request.OnFile({done.Entry->ListedPath, done.Path, result.Outcome, result.Reason});
        }
        dealt.clear();
    };
    const auto stageBatch = [&] {
        dealt.resize(batch.size());
        const std::size_t per = (batch.size() + stagers - 1) / stagers;
        std::vector<std::exception_ptr> errors(stagers);
        const auto stageStretch = [&](std::size_t k) {
            try {
                ReachedFolder& reached = reachedBy[k];
                for (std::size_t i = k * per; i < std::min(batch.size(), (k + 1) * per); ++i) {
                    const auto& [entry, path] = batch[i];
                    Dealt& done = dealt[i];
                    done.Entry = entry;
                    done.Path = path;
                    done.Result = entry->Damaged
                                      ? Restore{UndoOutcome::Failed, "The run journal's record of it is damaged"}
                                      : EntryRestorer(run, keptFolders, reached, *entry, path)
                                            .restore(request.Force || restoredNow.contains(path), done.Staged);
                    done.Lasting = !reached.Directory || !OnVolatileDevice(reached.Info.st_dev, reached.Directory->Fd);
                }
                const std::size_t from = std::min(batch.size(), k * per);
                const std::size_t to = std::min(batch.size(), (k + 1) * per);
                putInPlace(from, to);
                record(from, to);
            } catch (...) {
                errors[k] = std::current_exception();
            }
        };
        std::vector<std::thread> helpers;
        for (std::size_t k = 1; k < stagers && k * per < batch.size(); ++k) {
            try {
                helpers.emplace_back(stageStretch, k);
            } catch (const std::system_error&) {
                stageStretch(k); // no thread to be had: here and now
            }
        }
        stageStretch(0);
        for (std::thread& helper : helpers)
            helper.join();
        batch.clear();
        pathsInBatch.clear();
        for (const std::exception_ptr& error : errors)
            if (error)
                std::rethrow_exception(error);
        report();
    };
    for (auto entry = run.Record.Entries.rbegin(); entry != run.Record.Entries.rend(); ++entry) {
        if (entry->Restored || entry->Abandoned)
            continue;
        const std::string path = entry->Damaged            ? entry->ListedPath
                                 : entry->Directory == "/" ? "/" + entry->Name
                                                           : entry->Directory + "/" + entry->Name;
        // The file's later rewrite is in this batch: it goes back first.
        if (pathsInBatch.contains(path))
            stageBatch();
        pathsInBatch.insert(path);
        batch.emplace_back(&*entry, path);
        if (batch.size() >= batchSize)
            stageBatch();
    }
    stageBatch();
    if (complete)
        summary.Complete = detail::AppendDurably(run.Manifest.get(), undoneLines(run.Record));
    return summary;
}

} // namespace quillet::engine
