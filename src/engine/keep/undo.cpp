#include "engine/keep/undo.h"

#include "core/error.h"
#include "engine/fs/rewrite.h"
#include "finder/file_finder.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <optional>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillet::engine {

namespace {

struct Restore {
    UndoOutcome Outcome = UndoOutcome::Restored;
    std::string Reason;
};

// The folder at `path`, reached as a walk reaches it: each component opened
// from the one before, never following a symbolic link, so that a link
// planted anywhere on the path since the run cannot send the restore
// elsewhere. The recorded path has its symlinks resolved already. On failure
// the descriptor is invalid and `problem` says why ("" with errno ENOENT:
// the folder is gone).
UniqueFd openFolderAsWalked(const std::string& path, std::string& problem) {
    UniqueFd folder(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string reached;
    for (std::size_t start = 1; folder.valid() && start < path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".")
            continue;
        reached += "/" + component;
        UniqueFd next(::openat(folder.get(), component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            const int error = errno;
            struct stat info {};
            const bool link =
                ::fstatat(folder.get(), component.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
            if (link || error == ELOOP || error == ENOTDIR)
                problem = "The path no longer leads to the folder the run wrote in: \"" + reached +
                          "\" is not a folder but " + (link || error == ELOOP ? "a symbolic link" : "a file");
            else if (error != ENOENT)
                problem = ErrnoText(error);
            errno = error;
            return UniqueFd();
        }
        folder = std::move(next);
    }
    return folder;
}

class EntryRestorer {
public:
    EntryRestorer(const detail::LockedRun& run, const JournalEntry& entry, std::string path)
        : m_run(run), m_entry(entry), m_path(std::move(path)) {}

    Restore restore(bool force);

private:
    Restore failed(const std::string& reason) const {
        return {UndoOutcome::Failed, "Cannot restore \"" + m_path + "\". " + reason};
    }
    // Opens what holds the old bytes (from m_keptOffset on) and checks that
    // it still holds all of them; the reason when it does not.
    std::optional<std::string> openKept(UniqueFd& kept, struct stat& keptInfo) const;
    bool holdsKeptBytes(const struct stat& now) const;
    void removeUnplacedNewFile() const;
    Restore putBack(int keptFd, const struct stat* now);

    const detail::LockedRun& m_run;
    const JournalEntry& m_entry;
    std::string m_path;
    const bool m_packed = m_entry.Kept == KeptAs::Packed;
    const std::string m_keptName = m_packed ? "pack" : std::to_string(m_entry.Number);
    const std::int64_t m_keptOffset = m_packed ? m_entry.PackOffset : 0;
    std::shared_ptr<finder::OpenDirectory> m_directory;
};

std::optional<std::string> EntryRestorer::openKept(UniqueFd& kept, struct stat& keptInfo) const {
    // Never waits on a FIFO put in its place. The pack is the journal's own
    // file; a kept file has the old file's owner and mode, and the run's
    // folder, private to the user, vouches for it.
    kept.reset(::openat(m_run.Directory.get(), m_keptName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
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

Restore EntryRestorer::restore(bool force) {
    if (m_entry.Directory.empty()) // recorded as not kept: the run could not tell where the file was
        return {UndoOutcome::NotKept, "not kept by the journal: " + m_entry.NotKeptReason};
    std::string problem;
    UniqueFd folder = openFolderAsWalked(m_entry.Directory, problem);
    if (!folder.valid()) {
        if (problem.empty() && !force)
            return {UndoOutcome::LeftAlone, "it no longer exists"};
        return failed(problem.empty() ? ErrnoText(errno) : problem);
    }
    struct stat folderInfo {};
    if (::fstat(folder.get(), &folderInfo) != 0)
        return failed(ErrnoText(errno));
    if (m_entry.Folder && (m_entry.Folder->Device != folderInfo.st_dev || m_entry.Folder->Inode != folderInfo.st_ino))
        return failed("The path no longer leads to the folder the run wrote in: another folder stands at \"" +
                      m_entry.Directory + "\"");
    m_directory = std::make_shared<finder::OpenDirectory>(folder.release(), m_entry.Directory);

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
    return putBack(kept.get(), exists ? &now : nullptr);
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
// file it replaces, which the run gave the old file's).
Restore EntryRestorer::putBack(int keptFd, const struct stat* now) {
    // Forced over a symbolic link that took the file's place: the link goes,
    // never followed, and the file comes back in its place.
    if (now != nullptr && S_ISLNK(now->st_mode)) {
        if (::unlinkat(m_directory->Fd, m_entry.Name.c_str(), 0) != 0 && errno != ENOENT)
            return failed(ErrnoText(errno));
        now = nullptr;
    }
    const CopiedContent content{keptFd, m_keptOffset, m_entry.Old.Size};
    NewFileMetadata metadata;
    if (m_entry.KeptMetadata && !m_packed)
        metadata.From = keptFd;
    metadata.Owner = m_entry.Owner;
    metadata.Group = m_entry.Group;
    metadata.Mode = m_entry.Mode & 0777;
    const FileIdentity expected = now != nullptr ? FileIdentity::of(*now) : FileIdentity();
    RewriteRequest request;
    request.Expected = now != nullptr ? &expected : nullptr;
    request.Copied = &content;
    request.Metadata = &metadata;
    request.InPlace = InPlaceRewrite::Allowed;
    FileLocation location;
    location.Directory = m_directory;
    location.Name = m_entry.Name;
    location.Path = m_path;
    try {
        if (RewriteFile(location, std::string_view(), request) != RewriteOutcome::Replaced)
            return {UndoOutcome::LeftAlone, "it changed while it was being restored"};
    } catch (const Error& error) {
        return {UndoOutcome::Failed, error.what()};
    }
    return {};
}

// Whether the run's folder keeps old content that its manifest names no
// file for, in a way that tells that the file was replaced: the manifest of a
// run that did not end was cut short after that file's record (by hand, or
// by a file system that lost it). A kept inode still linked at its place
// is only a file the run was about to replace when it was killed.
bool keepsUnrecordedContent(const detail::LockedRun& run) {
    std::set<std::size_t> recorded;
    std::int64_t packed = 0; // how much of the pack the entries name
    for (const JournalEntry& entry : run.Record.Entries) {
        recorded.insert(entry.Number);
        if (entry.Kept == KeptAs::Packed)
            packed = std::max(packed, entry.PackOffset + entry.Old.Size);
    }
    for (const std::string& name : NamesIn(run.Directory.get())) {
        struct stat info {};
        if (::fstatat(run.Directory.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (name == "pack" && info.st_size > packed)
            return true;
        std::size_t number = 0;
        const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
        if (error == std::errc() && end == name.data() + name.size() && !recorded.contains(number) && info.st_nlink < 2)
            return true;
    }
    return false;
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

    // A run that ended wrote its records whole; one that did not may have
    // lost some besides those of files it never replaced.
    summary.RecordIncomplete = run.Record.Damaged || (!run.Record.FinishedNs && keepsUnrecordedContent(run));
    bool complete = !summary.RecordIncomplete;
    // A file the run rewrote twice: once its later rewrite is undone, it
    // holds what the earlier one left, in a file this undo made.
    std::set<std::string> restoredNow;
    for (auto entry = run.Record.Entries.rbegin(); entry != run.Record.Entries.rend(); ++entry) {
        if (entry->Restored || entry->Abandoned)
            continue;
        const std::string path = entry->Damaged            ? entry->ListedPath
                                 : entry->Directory == "/" ? "/" + entry->Name
                                                           : entry->Directory + "/" + entry->Name;
        Restore result = entry->Damaged
                             ? Restore{UndoOutcome::Failed, "The run journal's record of it is damaged"}
                             : EntryRestorer(run, *entry, path).restore(request.Force || restoredNow.contains(path));
        if (result.Outcome == UndoOutcome::Restored || result.Outcome == UndoOutcome::AlreadyOld) {
            // Recorded at once, so that an undo cut short is not repeated
            // over files restored meanwhile.
            if (!detail::AppendDurably(run.Manifest.get(), ManifestRestoredLine(entry->Number)))
                result = {UndoOutcome::Failed,
                          "Cannot record \"" + path + "\" as restored in the run journal. " + ErrnoText(errno)};
            else if (entry->Kept == KeptAs::Link || entry->Kept == KeptAs::Copy)
                // No longer needed, and where it was linked back, the file's
                // other name: a write to the file must not reach the journal.
                ::unlinkat(run.Directory.get(), std::to_string(entry->Number).c_str(), 0);
        }
        switch (result.Outcome) {
        case UndoOutcome::Restored:
            restoredNow.insert(path);
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
            request.OnFile({entry->ListedPath, path, result.Outcome, result.Reason});
    }
    if (complete)
        summary.Complete = detail::AppendDurably(run.Manifest.get(), ManifestUndoneLine(detail::NowNs()));
    return summary;
}

} // namespace quillet::engine
