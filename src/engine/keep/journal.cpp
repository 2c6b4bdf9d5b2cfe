#include "engine/keep/journal.h"

#include "core/error.h"
#include "engine/fs/file_metadata.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <system_error>
#include <thread>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet::engine {

namespace {

bool sameDirectory(const std::string& path, const struct stat& directory) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_dev == directory.st_dev && info.st_ino == directory.st_ino;
}

// The absolute path of an open directory, through /proc, else from the
// listed path; nullopt when neither leads to that very directory (undo finds
// the file by this path).
std::optional<std::string> directoryPath(int directoryFd, const struct stat& directory, std::string_view listedPath) {
    const std::string link = "/proc/self/fd/" + std::to_string(directoryFd);
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (length <= 0)
            break;
        if (static_cast<std::size_t>(length) == buffer.size()) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        std::string path(buffer.data(), static_cast<std::size_t>(length));
        if (path[0] == '/' && sameDirectory(path, directory))
            return path;
        break;
    }
    std::string listed(listedPath);
    const auto slash = listed.rfind('/');
    std::string path = slash == std::string::npos ? "." : (slash == 0 ? "/" : listed.substr(0, slash));
    if (path[0] != '/') {
        char* cwd = ::getcwd(nullptr, 0);
        if (cwd == nullptr)
            return std::nullopt;
        path = std::string(cwd) + "/" + path;
        std::free(cwd);
    }
    if (sameDirectory(path, directory))
        return path;
    return std::nullopt;
}

// The folder a file system is mounted on, from a folder on it: up while the
// device stays the same. Opened as a path only, so that a folder on the way
// that the user may enter but not read does not stop the walk; invalid where
// the way up cannot be told.
UniqueFd topOfFileSystem(int directoryFd, dev_t device) {
    UniqueFd at(::openat(directoryFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat here {};
    if (!at.valid() || ::fstat(at.get(), &here) != 0 || here.st_dev != device)
        return UniqueFd();
    for (int depth = 0; depth < 4096; ++depth) {
        UniqueFd up(::openat(at.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat above {};
        if (!up.valid() || ::fstat(up.get(), &above) != 0)
            return UniqueFd();
        if (above.st_dev != device || above.st_ino == here.st_ino)
            return at; // the next folder up is another file system's, or this is "/"
        at = std::move(up);
        here = above;
    }
    return UniqueFd();
}

// Folder `name` in dirFd, where it is the user's own and private
// (detail::UnsafeReason), never through a symbolic link; else invalid.
UniqueFd openPrivateFolder(int dirFd, const std::string& name, struct stat& info) {
    UniqueFd folder(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid() || ::fstat(folder.get(), &info) != 0 || detail::UnsafeReason(info, true))
        return UniqueFd();
    return folder;
}

// The absolute path of an open folder, through /proc; nullopt where it does
// not lead back to that very folder.
std::optional<std::string> pathOfFolder(int folderFd, const struct stat& folder) {
    char buffer[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(folderFd);
    const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer || buffer[0] != '/')
        return std::nullopt;
    std::string path(buffer, static_cast<std::size_t>(length));
    std::string problem;
    const UniqueFd walked = detail::OpenFolderAsWalked(path, problem);
    struct stat info {};
    if (!walked.valid() || ::fstat(walked.get(), &info) != 0 || info.st_dev != folder.st_dev ||
        info.st_ino != folder.st_ino)
        return std::nullopt;
    return path;
}

// Empties a folder of the journal's and removes it from `parentFd`; where
// `stop` turns true first, leaves it with what is left and returns false.
bool removeFolder(int parentFd, int folderFd, const std::string& name, const std::atomic<bool>* stop = nullptr) {
    for (const std::string& entryName : NamesIn(folderFd)) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
            return false;
        ::unlinkat(folderFd, entryName.c_str(), 0);
    }
    ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
    return true;
}

// The mount points of file system `device`, from /proc/self/mountinfo
// (fields: id, parent, major:minor, root, mount point, ...; a space or a
// backslash in the mount point is written as \ooo).
std::vector<std::string> mountPointsOf(dev_t device) {
    std::vector<std::string> points;
    const UniqueFd fd(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    std::string text;
    if (!fd.valid() || !ReadAll(fd.get(), text))
        return points;
    const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::vector<std::string_view> fields;
        std::string_view line(text.data() + start, end - start);
        for (std::size_t at = 0; fields.size() < 5 && at <= line.size();) {
            const std::size_t space = std::min(line.find(' ', at), line.size());
            fields.push_back(line.substr(at, space - at));
            at = space + 1;
        }
        if (fields.size() == 5 && fields[2] == wanted) {
            std::string point;
            for (std::size_t i = 0; i < fields[4].size(); ++i) {
                if (fields[4][i] == '\\' && i + 3 < fields[4].size()) {
                    point.push_back(static_cast<char>(std::stoi(std::string(fields[4].substr(i + 1, 3)), nullptr, 8)));
                    i += 3;
                } else {
                    point.push_back(fields[4][i]);
                }
            }
            points.push_back(std::move(point));
        }
        start = end + 1;
    }
    return points;
}

// Removes a run's directory (`name` in the runs directory): its kept files
// first and the manifest last, so that a crash midway, or `stop` turning
// true, leaves a run to be pruned again rather than files nothing refers to.
void removeRun(int runsFd, const std::string& name, const std::atomic<bool>* stop = nullptr) {
    UniqueFd directory(::openat(runsFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory.valid())
        return;
    for (const std::string& entryName : NamesIn(directory.get())) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
            return;
        if (entryName != "manifest")
            ::unlinkat(directory.get(), entryName.c_str(), 0);
    }
    ::unlinkat(directory.get(), "manifest", 0);
    ::unlinkat(runsFd, name.c_str(), AT_REMOVEDIR);
}

// A dropped run's folder is renamed to this prefix and its id before its
// files are removed: hidden from listings and undo at once, and found again
// by a later run where the removal was cut short.
constexpr std::string_view kPruningPrefix = ".pruning-";

} // namespace

// Removes the runs a journal drops on a thread of its own, while the run
// goes on: deleting a large kept copy waits on the disk (0.3 s for 500 MB
// here), and a run of 15,000 files kept by link takes a second to delete on
// the disk. A dropped run is renamed out of sight first, locked, so that no
// listing shows it partly removed and no undo takes it; the journal waits
// for the removal only for a while when its run ends (finish), and what is
// left then, or after a crash, is taken up by the next run (resume). With
// Removal::Later the runs it drops are only hidden, left for
// DeleteDroppedRuns, whose pruner removes them on the calling thread.
class RunPruner {
public:
    // Where a dropped run's files are deleted.
    enum class Removal : std::uint8_t {
        OnThread, // on the pruner's own thread
        Later,    // those it drops only hidden, for DeleteDroppedRuns; those it resumes on its thread
        Here,     // on the calling thread, before drop or resume returns
    };

    RunPruner(int runsFd, std::string runsPath, Removal removal)
        : m_runsFd(::dup(runsFd)), m_runsPath(std::move(runsPath)), m_removal(removal) {}
    ~RunPruner() { finish(); }
    RunPruner(const RunPruner&) = delete;
    RunPruner& operator=(const RunPruner&) = delete;

    // Locks run `name` if no process holds it, hides it and hands it to the
    // thread; true when it is no longer the journal's to count.
    bool drop(const std::string& name) {
        detail::LockedRun run;
        try {
            // Only its summary: a run is pruned whole, whatever its entries.
            if (!m_runsFd.valid() || detail::LockRun(m_runsFd.get(), m_runsPath, name, run,
                                                     detail::RunDetail::Summary) != detail::LockResult::Locked)
                return false;
        } catch (const Error&) {
            return false; // not the journal's to remove
        }
        const std::string hidden = std::string(kPruningPrefix) + name;
        // Where it cannot be renamed, it is removed where it is, listed until
        // its manifest goes.
        const bool renamed = ::renameat(m_runsFd.get(), name.c_str(), m_runsFd.get(), hidden.c_str()) == 0;
        if (renamed && m_removal == Removal::Later)
            ++m_left; // unlocked as `run` goes, for whoever deletes it
        else
            hand(renamed ? hidden : name, std::move(run)); // a run in sight is never left for later
        return true;
    }

    // Takes up the removal of the runs that an earlier pruning left hidden
    // (cut short, or killed), unless another process holds them.
    void resume() {
        if (!m_runsFd.valid())
            return;
        for (const std::string& name : NamesIn(m_runsFd.get())) {
            if (!name.starts_with(kPruningPrefix))
                continue;
            detail::LockedRun run;
            try {
                const detail::LockResult locked =
                    detail::LockHiddenRun(m_runsFd.get(), m_runsPath, name, name.substr(kPruningPrefix.size()), run,
                                          detail::RunDetail::Summary);
                if (locked == detail::LockResult::Locked)
                    hand(name, std::move(run));
                else if (locked == detail::LockResult::Missing)
                    // Its manifest goes last: cut short after that, the
                    // folder is empty (and the removal fails if it is not).
                    ::unlinkat(m_runsFd.get(), name.c_str(), AT_REMOVEDIR);
            } catch (const Error&) {
                // not the journal's to remove
            }
        }
    }

    // Waits until every dropped run is removed or, with a deadline, until
    // then: the thread stops after the file it is removing and leaves the
    // rest hidden. Idempotent.
    void finish(std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt) noexcept {
        {
            std::unique_lock lock(m_mutex);
            m_finishing = true;
            m_wake.notify_one();
            const auto done = [this] { return m_stop || (m_queue.empty() && !m_working); };
            if (deadline)
                m_idle.wait_until(lock, *deadline, done);
            else
                m_idle.wait(lock, done);
            m_stop = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

    // With Removal::Later, how many of the runs it dropped were left to delete.
    std::size_t left() const { return m_left; }

private:
    void hand(const std::string& folder, detail::LockedRun run) {
        if (m_removal == Removal::Here) {
            remove(folder, run);
            return;
        }
        std::lock_guard lock(m_mutex);
        m_queue.emplace_back(folder, std::move(run));
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { work(); });
            } catch (const std::system_error&) {
                const auto dropped = std::move(m_queue.back()); // locked until removed
                m_queue.pop_back();
                remove(folder, dropped.second); // no thread to be had: here and now
            }
        }
        m_wake.notify_one();
    }

    // Its kept files wherever they are, then its folder in the runs directory.
    void remove(const std::string& folder, const detail::LockedRun& run) {
        if (detail::RemoveKeepFolders(run.Record, &m_stop))
            removeRun(m_runsFd.get(), folder, &m_stop);
    }

    void work() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_finishing; });
            if (m_queue.empty() || m_stop) {
                m_idle.notify_all();
                if (m_finishing)
                    return;
                continue;
            }
            auto [folder, run] = std::move(m_queue.front());
            m_queue.pop_front();
            m_working = true;
            lock.unlock();
            remove(folder, run);
            run.Manifest.reset(); // unlocks what is left of it
            run.Directory.reset();
            lock.lock();
            m_working = false;
        }
    }

    UniqueFd m_runsFd;
    std::string m_runsPath;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    // Each run's folder in the runs directory, and the run, locked.
    std::deque<std::pair<std::string, detail::LockedRun>> m_queue; // guarded by m_mutex
    bool m_finishing = false;                                      // guarded by m_mutex
    bool m_working = false;                                        // guarded by m_mutex
    std::atomic<bool> m_stop = false; // set under m_mutex; read by the removal between files
    std::thread m_thread;
    const Removal m_removal;
    std::size_t m_left = 0; // on the journal's thread only
};

namespace {

// The manifest of run `name`, opened to read, where the run's folder and
// the manifest are safe to use; invalid for what is not a run (a name
// starting with '.', a file, a folder without a manifest). Raises the
// error of detail::OpenOwn.
UniqueFd openRunManifest(int runsFd, const std::string& runsPath, const std::string& name) {
    struct stat info {};
    if (name[0] == '.' || ::fstatat(runsFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISREG(info.st_mode))
        return UniqueFd(); // a run is a folder
    const std::string path = runsPath + "/" + name;
    const UniqueFd directory = detail::OpenOwn(runsFd, name, O_RDONLY, true, path);
    return directory.valid() ? detail::OpenOwn(directory.get(), "manifest", O_RDONLY, false, path + "/manifest")
                             : UniqueFd();
}

// Whether a process holds the run (its own, an undo, a pruning). A shared
// lock, so that two listings do not see each other as busy.
bool runIsBusy(int runsFd, const std::string& name) {
    UniqueFd manifest(::openat(runsFd, (name + "/manifest").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    return manifest.valid() && ::flock(manifest.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

} // namespace

JournalOptions JournalOptionsFromEnvironment(std::string description) {
    JournalOptions options;
    options.Place = JournalPlace::fromEnvironment();
    options.Limits = LoadJournalLimits(options.Place);
    options.Description = std::move(description);
    // Checked before the run starts, so that it stops before it writes
    // anything: later, it would fail at each file it was about to rewrite.
    const UniqueFd runs = detail::OpenRunsDirectory(options.Place.RunsDirectory, false);
    if (runs.valid())
        for (const std::string& name : NamesIn(runs.get()))
            (void)openRunManifest(runs.get(), options.Place.RunsDirectory, name);
    return options;
}

std::string NewRunId(std::int64_t unixNs) {
    const std::time_t seconds = static_cast<std::time_t>(unixNs / 1000000000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    return std::string(stamp) + "-" + RandomHex(4);
}

const char* RunStateText(RunState state) {
    switch (state) {
    case RunState::Running:
        return "running";
    case RunState::Finished:
        break;
    case RunState::Interrupted:
        return "interrupted";
    case RunState::PartlyUndone:
        return "partly undone";
    case RunState::Undone:
        return "undone";
    }
    return "finished";
}

RunJournal::RunJournal(JournalOptions options) : m_options(std::move(options)) {
    // Known from the start where it exists, since a walk may list it before
    // the first rewrite.
    struct stat info {};
    if (::stat(m_options.Place.RunsDirectory.c_str(), &info) == 0)
        noteRunsDirectory(info);
}

void RunJournal::noteRunsDirectory(const struct stat& info) {
    m_runsDevice = info.st_dev;
    std::lock_guard lock(m_mutex);
    m_runsIdentity.emplace(info.st_dev, info.st_ino);
}

bool RunJournal::isJournalDirectory(dev_t device, ino_t inode) const {
    std::lock_guard lock(m_mutex);
    if (m_runsIdentity == std::make_pair(device, inode))
        return true;
    // A keep folder an earlier run made, met by a walk before this run
    // needs it: looked for at the top of each file system once.
    if (m_probedDevices.insert(device).second) {
        const std::string name = "/" + KeepFolderName();
        for (const std::string& point : mountPointsOf(device)) {
            struct stat info {};
            if (::lstat(((point == "/" ? std::string() : point) + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode))
                m_keepFolders.emplace(info.st_dev, info.st_ino);
        }
    }
    return m_keepFolders.contains({device, inode});
}

void RunJournal::noteKeepFolder(const struct stat& info) {
    std::lock_guard lock(m_mutex);
    m_keepFolders.emplace(info.st_dev, info.st_ino);
}

std::string KeepFolderName() {
    return ".quillet-keep-" + std::to_string(::geteuid());
}

RunJournal::KeepPlace* RunJournal::keepPlaceFor(int directoryFd, dev_t device) {
    for (KeepPlace& place : m_keepPlaces)
        if (place.Device == device)
            return place.Record.Number != 0 ? &place : nullptr;
    KeepPlace& place = m_keepPlaces.emplace_back();
    place.Device = device;
    if (!m_options.KeepFoldersOnOtherFileSystems)
        return nullptr;
    const UniqueFd top = topOfFileSystem(directoryFd, device);
    struct stat topInfo {};
    if (!top.valid() || ::fstat(top.get(), &topInfo) != 0)
        return nullptr;
    // Others who may write there without the sticky bit could remove or
    // swap the keep folder.
    if ((topInfo.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (topInfo.st_mode & S_ISVTX) == 0)
        return nullptr;
    const std::string name = KeepFolderName();
    const bool made = ::mkdirat(top.get(), name.c_str(), 0700) == 0;
    if (!made && errno != EEXIST)
        return nullptr; // the top is not the user's to write: copies, then
    struct stat keepInfo {};
    UniqueFd keep = openPrivateFolder(top.get(), name, keepInfo);
    if (!keep.valid())
        return nullptr; // not the user's own, or open to others: never used
    noteKeepFolder(keepInfo);
    if (::mkdirat(keep.get(), m_id.c_str(), 0700) != 0)
        return nullptr;
    struct stat runInfo {};
    UniqueFd folder = openPrivateFolder(keep.get(), m_id, runInfo);
    std::optional<std::string> path = folder.valid() ? pathOfFolder(folder.get(), runInfo) : std::nullopt;
    // Where a crash keeps the files, the folders that lead to their old
    // inodes must outlast it too.
    const auto flushTop = [&top] {
        const UniqueFd readable(::openat(top.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        return readable.valid() && SyncDirectory(readable.get());
    };
    const bool flushed = !folder.valid() || OnVolatileDevice(device, folder.get()) ||
                         ((!made || flushTop()) && SyncDirectory(keep.get()));
    if (!path || !flushed) {
        if (folder.valid())
            removeFolder(keep.get(), folder.get(), m_id);
        else
            ::unlinkat(keep.get(), m_id.c_str(), AT_REMOVEDIR);
        return nullptr;
    }
    std::size_t used = 0;
    for (const KeepPlace& other : m_keepPlaces)
        used += other.Record.Number != 0 ? 1 : 0;
    place.Record = {used + 1, runInfo.st_dev, runInfo.st_ino, std::move(*path)};
    place.Folder = std::move(folder);
    place.KeepFolder = std::move(keep);
    AppendManifestKeepFolderLine(m_manifestPending, place.Record);
    m_entriesUnwritten = true;
    // Named on the manifest now, before any old inode is linked there, and
    // not with the batch's records: a run killed before those leaves its
    // folder here, and pruning finds it only through the manifest. (A kill
    // between the folder's making and this write still leaves it behind.)
    // Where the write fails, the line waits for the batch, as before.
    (void)writePending();
    return &place;
}

bool RunJournal::syncKeepPlaces() {
    for (KeepPlace& place : m_keepPlaces) {
        if (place.Unsynced && !SyncDirectory(place.Folder.get()))
            return false;
        place.Unsynced = false;
    }
    return true;
}

RunJournal::~RunJournal() {
    finish();
}

void RunJournal::start() {
    const std::string& runsPath = m_options.Place.RunsDirectory;
    auto fail = [&](int error) -> void {
        throw Error("Cannot keep the run journal in \"" + runsPath + "\". " + ErrnoText(error));
    };
    m_runsDirectory = detail::OpenRunsDirectory(runsPath, true);
    struct stat runsInfo {};
    if (!m_runsDirectory.valid() || ::fstat(m_runsDirectory.get(), &runsInfo) != 0)
        fail(errno);
    noteRunsDirectory(runsInfo);
    m_pruner = std::make_unique<RunPruner>(
        m_runsDirectory.get(), runsPath,
        m_options.Dropped == DroppedRuns::LeftToCaller ? RunPruner::Removal::Later : RunPruner::Removal::OnThread);
    m_pruner->resume();

    // Drop the oldest runs no process holds: one place is kept for this run.
    std::vector<RunManifest> runs = detail::ReadRuns(m_runsDirectory.get(), runsPath, detail::RunDetail::Summary);
    std::size_t count = runs.size();
    for (const RunManifest& run : runs) {
        if (count + 1 > m_options.Limits.MaxRuns && m_pruner->drop(run.Id)) {
            --count;
            continue;
        }
        m_older.push_back({run.Id, run.keptBytes()});
        m_othersBytes += run.keptBytes();
    }
    makeRoom(0);

    const std::int64_t started = detail::NowNs();
    for (int attempt = 0;; ++attempt) {
        m_id = NewRunId(started);
        if (detail::MakeRunFolder(m_runsDirectory.get(), m_id))
            break;
        if (errno != EEXIST || attempt == 100)
            fail(errno);
    }
    m_runDirectory.reset(
        ::openat(m_runsDirectory.get(), m_id.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (m_runDirectory.valid())
        m_manifest.reset(::openat(m_runDirectory.get(), "manifest",
                                  O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
    const int error = errno;
    // On disk with the first records that must be (makeDurable).
    if (!m_manifest.valid() || ::flock(m_manifest.get(), LOCK_EX) != 0 ||
        !WriteAll(m_manifest.get(), ManifestHeaderLines(m_id, started, m_options.Description))) {
        const int failure = m_manifest.valid() ? errno : error;
        m_manifest.reset();
        m_runDirectory.reset();
        removeRun(m_runsDirectory.get(), m_id);
        m_id.clear();
        fail(failure);
    }
}

// Prunes the oldest runs until `bytes` more fit; false when they cannot.
bool RunJournal::makeRoom(std::int64_t bytes) {
    const std::int64_t limit = m_options.Limits.MaxBytes;
    for (auto run = m_older.begin(); run != m_older.end() && m_othersBytes + m_bytes + bytes > limit;) {
        if (m_pruner->drop(run->Name)) {
            m_othersBytes -= run->Bytes;
            run = m_older.erase(run);
        } else {
            ++run;
        }
    }
    return m_othersBytes + m_bytes + bytes <= limit;
}

KeptAs RunJournal::keepOldBytes(const ReplaceContext& context, const struct stat& old, JournalEntry& entry) {
    const std::string keptName = std::to_string(entry.Number);
    const int runFd = m_runDirectory.get();
    // A link keeps the old inode itself, which only this journal will hold
    // once the rename has unlinked it. Not when other names share the inode
    // (a write through them would change what the journal keeps), nor for a
    // rewrite in place (it overwrites that very inode).
    // On another file system than the journal's, the link goes into the
    // run's folder in that file system's keep folder, where one can be used.
    if (context.NewFd >= 0 && old.st_nlink == 1) {
        KeepPlace* place = old.st_dev == m_runsDevice ? nullptr : keepPlaceFor(context.DirectoryFd, old.st_dev);
        const int linkFd = place != nullptr ? place->Folder.get() : old.st_dev == m_runsDevice ? runFd : -1;
        // Linked from the run's open descriptor, the kept inode is the one
        // the run checked, whatever the file's name stands for meanwhile, and
        // its status needs no lookup by name; by the name where the system
        // allows neither way from a descriptor, then checked to be that inode.
        const bool fromDescriptor = linkFd >= 0 && LinkOpenFile(context.OldFd, linkFd, keptName.c_str());
        if (fromDescriptor || (linkFd >= 0 && ::linkat(context.DirectoryFd, std::string(context.Name).c_str(), linkFd,
                                                       keptName.c_str(), 0) == 0)) {
            struct stat linked {};
            if ((fromDescriptor ? ::fstat(context.OldFd, &linked)
                                : ::fstatat(linkFd, keptName.c_str(), &linked, AT_SYMLINK_NOFOLLOW)) == 0 &&
                SameAsLeft(context.Old, FileIdentity::of(linked))) {
                entry.KeptMetadata = true;
                if (place != nullptr) {
                    entry.KeptIn = place->Record.Number;
                    place->Unsynced = place->Unsynced || !OnVolatileDevice(old.st_dev, context.DirectoryFd);
                }
                return KeptAs::Link;
            }
            // Another file took the name since the run read it.
            ::unlinkat(linkFd, keptName.c_str(), 0);
        }
    }

    // A small file's old bytes, as the run read them (the file was just
    // checked to be the one read), go one after another into the run's pack:
    // no file to create for each now, nor to delete when the run is pruned.
    if (context.Old.Size <= kPackUpTo && context.OldText.size() == static_cast<std::size_t>(context.Old.Size) &&
        pack(context.OldText, entry))
        return KeptAs::Packed;

    UniqueFd copy(::openat(runFd, keptName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    // Across file systems no reflink can be made, and the bytes the run read
    // are at hand: written from there, they are copied once instead of twice
    // (out of the old file, then into the copy), the larger part of a large
    // file's rewrite.
    const bool fromText =
        old.st_dev != m_runsDevice && context.OldText.size() == static_cast<std::size_t>(context.Old.Size);
    if (!copy.valid() || !(fromText ? WriteAll(copy.get(), context.OldText)
                                    : CopyFileBytes(context.OldFd, copy.get(), context.Old.Size))) {
        entry.NotKeptReason = "Cannot copy it: " + ErrnoText(errno);
        copy.reset();
        ::unlinkat(runFd, keptName.c_str(), 0);
        return KeptAs::None;
    }
    // The metadata matters when undo can link the copy back in place; where
    // it cannot be carried over (a file system without extended attributes),
    // undo takes it from the file it replaces instead.
    entry.KeptMetadata = CopyFileMetadata(context.OldFd, copy.get()).empty();
    if (!OnVolatileDevice(old.st_dev, context.DirectoryFd)) {
        m_unsyncedCopies.push_back(std::move(copy));
        m_unsyncedCopyBytes += context.Old.Size;
    }
    return KeptAs::Copy;
}

bool RunJournal::pack(std::string_view oldBytes, JournalEntry& entry) {
    if (!m_pack.valid()) {
        m_pack.reset(::openat(m_runDirectory.get(), "pack",
                              O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!m_pack.valid())
            return false;
    }
    // Held back, so that a batch of small files costs one write, not one
    // each; within a bound, since the batch may hold large files.
    if (m_packPending.size() + oldBytes.size() > kPackHeldBackUpTo && !writePendingPack())
        return false;
    entry.PackOffset = m_packSize;
    m_packPending.append(oldBytes);
    m_packSize += static_cast<std::int64_t>(oldBytes.size());
    m_packUnsynced = true;
    return true;
}

bool RunJournal::writePendingPack() {
    if (m_packPending.empty())
        return true;
    const std::int64_t written = m_packSize - static_cast<std::int64_t>(m_packPending.size());
    if (!WriteAll(m_pack.get(), m_packPending)) {
        // What was written of it is cut off again, so that a retry puts
        // every file's bytes where its record says.
        const int error = errno;
        (void)!::ftruncate(m_pack.get(), written);
        errno = error;
        return false;
    }
    m_packPending.clear();
    return true;
}

bool RunJournal::writePending() {
    // The bytes first: a record never points past the end of the pack.
    if (!writePendingPack() || !WriteAll(m_manifest.get(), m_manifestPending))
        return false;
    m_manifestPending.clear();
    m_entriesUnwritten = false;
    return true;
}

void RunJournal::beforeReplace(const ReplaceContext& context) {
    if (m_finished)
        throw Error("Cannot record \"" + std::string(context.ListedPath) +
                    "\" in the run journal. The run has finished");
    if (!m_manifest.valid())
        start();

    struct stat own {};
    if (context.OldStatus == nullptr && ::fstat(context.OldFd, &own) != 0)
        throw Error("Cannot record \"" + std::string(context.ListedPath) + "\" in the run journal. " +
                    ErrnoText(errno));
    const struct stat& old = context.OldStatus != nullptr ? *context.OldStatus : own;
    JournalEntry entry;
    entry.Number = m_recorded + 1;
    entry.InPlace = context.NewFd < 0;
    entry.Old = context.Old;
    entry.Old.ChangedNs = 0;
    entry.Mode = old.st_mode & 07777;
    entry.Owner = old.st_uid;
    entry.Group = old.st_gid;
    struct stat folder {};
    const std::optional<std::string> directory = pathOfDirectory(context.DirectoryFd, context.ListedPath, folder);
    entry.Directory = directory.value_or(std::string());
    entry.Name = context.Name;
    entry.ListedPath = context.ListedPath;

    // A hard link costs no copy, yet it counts its full size: it keeps the
    // old inode's blocks alive as long as the journal holds it.
    const std::int64_t size = context.Old.Size;
    if (!directory) {
        entry.NotKeptReason = "Cannot tell the path of its folder";
        entry.Kept = KeptAs::None;
    } else if (size > m_options.Limits.MaxBytes - m_bytes || !makeRoom(size)) {
        entry.NotKeptReason = "it does not fit within the journal's limit of " +
                              ByteCountText(m_options.Limits.MaxBytes) + " (max-bytes)";
        entry.Kept = KeptAs::None;
    } else {
        entry.Kept = keepOldBytes(context, old, entry);
    }
    if (entry.Kept != KeptAs::None)
        entry.Bytes = size;
    if (entry.Kept == KeptAs::None && entry.InPlace)
        throw Error("Cannot rewrite \"" + std::string(context.ListedPath) +
                    "\" in place: the journal could not keep its old content (" + entry.NotKeptReason + ")");

    // Written, with the kept bytes, when the file is put in place, and on
    // disk by then unless a crash would take the file too (makeDurable).
    AppendManifestOldLine(m_manifestPending, entry);
    if (entry.KeptIn != 0)
        AppendManifestKeptInLine(m_manifestPending, entry.Number, entry.KeptIn);
    if (directory)
        AppendManifestFolderLine(m_manifestPending, entry.Number, folder.st_dev, folder.st_ino);
    struct stat fresh {};
    if (context.NewFd >= 0 && ::fstat(context.NewFd, &fresh) == 0)
        AppendManifestNewLine(m_manifestPending, entry.Number, FileIdentity::of(fresh));
    m_entriesUnwritten = true;
    m_unsynced = m_unsynced || !OnVolatileDevice(old.st_dev, context.DirectoryFd);
    ++m_recorded;
    m_bytes += entry.Bytes;
    m_announced[&context] = entry.Number;
    if (entry.Kept == KeptAs::None) {
        ++m_notKept;
        if (m_options.OnNotKept)
            m_options.OnNotKept(context.ListedPath, entry.NotKeptReason);
    }
}

std::optional<std::string> RunJournal::pathOfDirectory(int directoryFd, std::string_view listedPath,
                                                       struct stat& directory) {
    if (::fstat(directoryFd, &directory) != 0)
        return std::nullopt;
    if (m_batchDirectory && m_batchDirectory->Device == directory.st_dev && m_batchDirectory->Inode == directory.st_ino)
        return m_batchDirectory->Path;
    std::optional<std::string> path = directoryPath(directoryFd, directory, listedPath);
    if (path)
        m_batchDirectory = BatchDirectory{directory.st_dev, directory.st_ino, *path};
    return path;
}

void RunJournal::makeDurable() {
    m_batchDirectory.reset();
    if (!m_entriesUnwritten && !m_unsynced)
        return;
    if (!writePending())
        throw Error("Cannot keep the run journal in \"" + m_options.Place.RunsDirectory + "\". " + ErrnoText(errno));
    if (!m_unsynced)
        return;
    // One flush of the whole file system costs less than one per kept copy,
    // unless it holds much else to write.
    auto flushEach = [&] {
        return std::all_of(m_unsyncedCopies.begin(), m_unsyncedCopies.end(),
                           [](const UniqueFd& copy) { return ::fsync(copy.get()) == 0; }) &&
               (!m_packUnsynced || ::fdatasync(m_pack.get()) == 0) && SyncDirectory(m_runDirectory.get()) &&
               ::fdatasync(m_manifest.get()) == 0 && (m_synced || SyncDirectory(m_runsDirectory.get()));
    };
    const bool synced = syncKeepPlaces() && (m_unsyncedCopies.size() > 1 && FileSystemFlushPays(m_unsyncedCopyBytes)
                                                 ? ::syncfs(m_runDirectory.get()) == 0
                                                 : flushEach());
    if (!synced)
        throw Error("Cannot keep the run journal in \"" + m_options.Place.RunsDirectory + "\". " + ErrnoText(errno));
    m_unsyncedCopies.clear();
    m_unsyncedCopyBytes = 0;
    m_packUnsynced = false;
    m_unsynced = false;
    m_synced = true;
}

void RunJournal::afterReplace(const ReplaceContext& context, const FileIdentity& now) {
    const auto announced = m_announced.find(&context);
    if (announced == m_announced.end())
        return;
    const std::size_t number = announced->second;
    m_announced.erase(announced);
    // Written with the next batch's records, and not flushed on its own:
    // without this line undo goes by the new file's identity recorded
    // before the rename.
    if (!m_finished)
        AppendManifestDoneLine(m_manifestPending, number, now);
}

void RunJournal::replaceAbandoned(const ReplaceContext& context) noexcept {
    const auto announced = m_announced.find(&context);
    if (announced == m_announced.end())
        return;
    const std::size_t number = announced->second;
    m_announced.erase(announced);
    // A rewrite in place given up halfway may have left the file half
    // written: its record stays, for undo to mend it.
    if (context.OldBytesTouched || m_finished)
        return;
    // Only rewrites that took place are undone: the file is read again and
    // rewritten under a new record, or left as it is (the run stopped), and
    // undo must not bring back the bytes of a try that was given up.
    try {
        AppendManifestAbandonedLine(m_manifestPending, number);
    } catch (...) {
        return; // no memory: the record stays, and undo finds the file as it was
    }
    ++m_abandoned;
    m_entriesUnwritten = true;
}

bool RunJournal::runsLeftToDelete() const {
    return m_pruner && m_pruner->left() > 0;
}

void DeleteDroppedRuns(const JournalPlace& place) noexcept {
    try {
        const UniqueFd runs = detail::OpenRunsDirectory(place.RunsDirectory, false);
        if (runs.valid())
            RunPruner(runs.get(), place.RunsDirectory, RunPruner::Removal::Here).resume();
    } catch (...) {
        // a journal not safe to use is not touched
    }
}

void RunJournal::finish() noexcept {
    if (m_finished)
        return;
    m_finished = true;
    closeRun();
    if (m_pruner) {
        const auto now = std::chrono::steady_clock::now();
        m_pruner->finish(now + std::max<std::chrono::steady_clock::duration>(now - m_created, m_options.PruningGrace));
    }
}

void RunJournal::closeRun() noexcept {
    if (!m_manifest.valid())
        return;
    if (m_recorded == m_abandoned) {
        m_manifest.reset();
        m_runDirectory.reset();
        for (KeepPlace& place : m_keepPlaces)
            if (place.Folder.valid())
                removeFolder(place.KeepFolder.get(), place.Folder.get(), m_id);
        m_keepPlaces.clear();
        removeRun(m_runsDirectory.get(), m_id);
        m_id.clear();
        return;
    }
    // Records of files given up since the last batch, and what the last
    // batch left in place.
    if (!writePending())
        m_manifestPending.clear(); // those files were not put in place: nothing depends on their records
    // Flushed only where earlier records were: a run over files that a
    // restart takes along needs none of its records after a crash.
    // The keep folders once more after the "kept" line, where pruning and
    // a listing read them without reading the entries.
    std::string end = ManifestKeptLine(m_bytes);
    for (const KeepPlace& place : m_keepPlaces)
        if (place.Record.Number != 0)
            AppendManifestKeepFolderLine(end, place.Record);
    end += ManifestFilesLine(files(), m_notKept) + ManifestEndLine(detail::NowNs());
    (void)(m_synced ? detail::AppendDurably(m_manifest.get(), end) : WriteAll(m_manifest.get(), end));
    m_pack.reset();
    m_keepPlaces.clear();
    m_manifest.reset(); // releases the lock: the run may now be pruned or undone
}

std::vector<RunSummary> ListRuns(const JournalPlace& place) {
    UniqueFd runsFd = detail::OpenRunsDirectory(place.RunsDirectory, false);
    if (!runsFd.valid()) {
        if (errno == ENOENT)
            return {};
        throw Error("Cannot read the run journal \"" + place.RunsDirectory + "\". " + ErrnoText(errno));
    }
    std::vector<RunSummary> summaries;
    for (const RunManifest& run : detail::ReadRuns(runsFd.get(), place.RunsDirectory, detail::RunDetail::Listing)) {
        RunSummary summary;
        summary.Id = run.Id;
        summary.StartedNs = run.StartedNs;
        summary.Description = run.Description;
        summary.Bytes = run.keptBytes();
        if (run.Totals) {
            summary.Files = run.Totals->Files;
            summary.NotKept = run.Totals->NotKept;
        } else {
            for (const JournalEntry& entry : run.Entries) {
                summary.Files += entry.Abandoned ? 0 : 1;
                summary.NotKept += !entry.Abandoned && entry.Kept == KeptAs::None ? 1 : 0;
            }
        }
        if (!run.UndoneNs)
            for (const KeepFolderRecord& folder : run.KeepFolders) {
                std::string problem;
                if (!detail::OpenRunKeepFolder(folder, problem).valid())
                    summary.UnusableKeepFolders.emplace_back(folder.Path, problem);
            }
        if (runIsBusy(runsFd.get(), run.Id))
            summary.State = RunState::Running;
        else if (run.UndoneNs)
            summary.State = RunState::Undone;
        else if (run.AnyRestored)
            summary.State = RunState::PartlyUndone;
        else if (!run.FinishedNs)
            summary.State = RunState::Interrupted;
        summaries.push_back(std::move(summary));
    }
    std::reverse(summaries.begin(), summaries.end());
    return summaries;
}

namespace detail {

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool AppendDurably(int manifestFd, std::string_view lines) {
    // One write per record: O_APPEND puts it after every earlier one even
    // when another process (an undo) appends too.
    return WriteAll(manifestFd, lines) && ::fdatasync(manifestFd) == 0;
}

std::optional<std::string> UnsafeReason(const struct stat& info, bool folder) {
    if (S_ISLNK(info.st_mode))
        return std::string("it is a symbolic link");
    if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode))
        return std::string(folder ? "it is not a folder" : "it is not a regular file");
    if (info.st_uid != ::geteuid())
        return std::string("it belongs to another user");
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return std::string("others have access to it (mode ") + mode + ", where " + (folder ? "0700" : "0600") +
               " is the most it may allow)";
    }
    return std::nullopt;
}

std::string UnsafeText(const std::string& path, const std::string& reason) {
    return "The run journal \"" + path + "\" is not safe to use: " + reason;
}

UniqueFd OpenOwn(int dirFd, const std::string& name, int flags, bool folder, const std::string& path) {
    UniqueFd fd(
        ::openat(dirFd, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folder ? O_DIRECTORY : 0)));
    struct stat info {};
    if (!fd.valid()) {
        const int error = errno;
        // O_NOFOLLOW fails with ELOOP on a symbolic link, and O_DIRECTORY
        // with ENOTDIR on anything else: say which.
        if ((error == ELOOP || error == ENOTDIR) && ::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
            if (const auto reason = UnsafeReason(info, folder))
                throw Error(UnsafeText(path, *reason));
        errno = error;
        return fd;
    }
    if (::fstat(fd.get(), &info) != 0)
        return UniqueFd();
    if (const auto reason = UnsafeReason(info, folder))
        throw Error(UnsafeText(path, *reason));
    return fd;
}

namespace {

// A manifest's text for `detail`: with Summary, only what
// ManifestSummaryText keeps, where its ends hold it.
bool readManifest(int fd, RunDetail detail, std::string& text) {
    constexpr std::size_t kEnd = 4096;
    struct stat info {};
    if (detail != RunDetail::Full && ::fstat(fd, &info) == 0 && info.st_size > static_cast<off_t>(2 * kEnd)) {
        const auto size = static_cast<std::size_t>(info.st_size);
        std::string head(kEnd, '\0');
        std::string tail(kEnd, '\0');
        if (::pread(fd, head.data(), kEnd, 0) == static_cast<ssize_t>(kEnd) &&
            ::pread(fd, tail.data(), kEnd, info.st_size - static_cast<off_t>(kEnd)) == static_cast<ssize_t>(kEnd)) {
            text = ManifestSummaryText(head, tail, size);
            // A run of an earlier version wrote no counts: its entries give them.
            if (!text.empty() && (detail != RunDetail::Listing || text.find("\nfiles ") != std::string::npos))
                return true;
        }
    }
    return ReadAll(fd, text);
}

} // namespace

bool MakeRunFolder(int runsFd, const std::string& id) {
    if (::mkdirat(runsFd, id.c_str(), 0700) != 0)
        return false;
    // Made first, looked for after: a run renamed out of sight between the
    // two is seen too.
    struct stat hidden {};
    if (::fstatat(runsFd, (std::string(kPruningPrefix) + id).c_str(), &hidden, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT)
        return true;
    ::unlinkat(runsFd, id.c_str(), AT_REMOVEDIR);
    errno = EEXIST;
    return false;
}

LockResult LockRun(int runsFd, const std::string& runsPath, const std::string& name, LockedRun& run, RunDetail detail) {
    // An id names a directory right inside the journal, never one elsewhere.
    if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos)
        return LockResult::NotARun;
    return LockHiddenRun(runsFd, runsPath, name, name, run, detail);
}

LockResult LockHiddenRun(int runsFd, const std::string& runsPath, const std::string& folder, const std::string& id,
                         LockedRun& run, RunDetail detail) {
    if (folder.empty() || folder.find('/') != std::string::npos || folder == "." || folder == "..")
        return LockResult::NotARun;
    const std::string path = runsPath + "/" + folder;
    run.Directory = OpenOwn(runsFd, folder, O_RDONLY, true, path);
    if (!run.Directory.valid())
        return errno == ENOENT ? LockResult::Missing : LockResult::NotARun;
    run.Manifest = OpenOwn(run.Directory.get(), "manifest", O_RDWR | O_APPEND, false, path + "/manifest");
    if (!run.Manifest.valid())
        return errno == ENOENT ? LockResult::Missing : LockResult::NotARun;
    if (::flock(run.Manifest.get(), LOCK_EX | LOCK_NB) != 0)
        return LockResult::Busy;
    std::string text;
    if (!readManifest(run.Manifest.get(), detail, text))
        return LockResult::NotARun;
    auto record = ParseManifest(text);
    if (!record || record->Id != id)
        return LockResult::NotARun;
    run.Record = std::move(*record);
    return LockResult::Locked;
}

UniqueFd OpenRunsDirectory(const std::string& path, bool create) {
    // The runs folder and the one holding it are the journal's own, opened
    // one by one without following a link from the folder above, which is
    // the user's choice ($XDG_STATE_HOME) and may be a link or shared.
    const std::size_t runsSlash = path.rfind('/');
    const std::size_t ownSlash =
        runsSlash == 0 || runsSlash == std::string::npos ? runsSlash : path.rfind('/', runsSlash - 1);
    if (ownSlash == std::string::npos || ownSlash == runsSlash || runsSlash + 1 == path.size()) {
        errno = EINVAL; // not an absolute path of at least two folders
        return UniqueFd();
    }
    const std::string above = ownSlash == 0 ? "/" : path.substr(0, ownSlash);
    UniqueFd fd(::open(above.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid() && create && errno == ENOENT) {
        // Make the missing folders, each private to the user as the state
        // directory should be.
        for (std::size_t slash = above.find('/', 1);; slash = above.find('/', slash + 1)) {
            if (::mkdir(above.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
                return UniqueFd();
            if (slash == std::string::npos)
                break;
        }
        fd.reset(::open(above.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    for (const std::size_t slash : {ownSlash, runsSlash}) {
        if (!fd.valid())
            return fd;
        const std::size_t end = slash == ownSlash ? runsSlash : path.size();
        const std::string name = path.substr(slash + 1, end - slash - 1);
        const std::string at = path.substr(0, end);
        UniqueFd next = OpenOwn(fd.get(), name, O_RDONLY, true, at);
        if (!next.valid() && create && errno == ENOENT) {
            if (::mkdirat(fd.get(), name.c_str(), 0700) != 0 && errno != EEXIST)
                return UniqueFd();
            next = OpenOwn(fd.get(), name, O_RDONLY, true, at);
        }
        fd = std::move(next);
    }
    return fd;
}

std::vector<RunManifest> ReadRuns(int runsFd, const std::string& runsPath, RunDetail detail) {
    std::vector<RunManifest> runs;
    for (const std::string& name : NamesIn(runsFd)) {
        const UniqueFd manifest = openRunManifest(runsFd, runsPath, name);
        std::string text;
        if (!manifest.valid() || !readManifest(manifest.get(), detail, text))
            continue;
        auto record = ParseManifest(text);
        if (record && record->Id == name)
            runs.push_back(std::move(*record));
    }
    std::sort(runs.begin(), runs.end(), [](const RunManifest& a, const RunManifest& b) {
        return a.StartedNs != b.StartedNs ? a.StartedNs < b.StartedNs : a.Id < b.Id;
    });
    return runs;
}

UniqueFd OpenFolderAsWalked(const std::string& path, std::string& problem) {
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

UniqueFd OpenRunKeepFolder(const KeepFolderRecord& record, std::string& problem, UniqueFd* keepFolder) {
    const std::size_t slash = record.Path.rfind('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == record.Path.size()) {
        problem = "it is not a folder of the journal's";
        return UniqueFd();
    }
    const auto fail = [&problem](std::string why) {
        problem = std::move(why);
        return UniqueFd();
    };
    const auto gone = [&](int error) {
        return fail(error == ENOENT ? "it no longer exists (is its disk mounted?)" : ErrnoText(error));
    };
    std::string walkProblem;
    UniqueFd parent = OpenFolderAsWalked(record.Path.substr(0, slash), walkProblem);
    struct stat info {};
    if (!parent.valid())
        return walkProblem.empty() ? gone(errno) : fail(walkProblem);
    if (::fstat(parent.get(), &info) != 0)
        return gone(errno);
    if (const auto unsafe = UnsafeReason(info, true))
        return fail(*unsafe);
    const std::string name = record.Path.substr(slash + 1);
    UniqueFd folder(::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid()) {
        const int error = errno;
        if (::fstatat(parent.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(info.st_mode))
            return fail(S_ISLNK(info.st_mode) ? "a symbolic link stands there" : "a file stands there");
        return gone(error);
    }
    if (::fstat(folder.get(), &info) != 0)
        return gone(errno);
    if (info.st_dev != record.Device || info.st_ino != record.Inode)
        return fail("another folder stands there");
    if (const auto unsafe = UnsafeReason(info, true))
        return fail(*unsafe);
    if (keepFolder != nullptr)
        *keepFolder = std::move(parent);
    return folder;
}

bool RemoveKeepFolders(const RunManifest& run, const std::atomic<bool>* stop) {
    for (const KeepFolderRecord& record : run.KeepFolders) {
        std::string problem;
        UniqueFd keepFolder;
        const UniqueFd folder = OpenRunKeepFolder(record, problem, &keepFolder);
        if (folder.valid() &&
            !removeFolder(keepFolder.get(), folder.get(), record.Path.substr(record.Path.rfind('/') + 1), stop))
            return false;
    }
    return true;
}

} // namespace detail

} // namespace quillet::engine
