#include "engine/fs/rewrite.h"

#include "core/checks.h"
#include "core/error.h"
#include "engine/fs/durable_files.h"
#include "engine/fs/file_io.h"
#include "engine/fs/file_metadata.h"
#include "engine/fs/posix_file.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <memory>
#include <random>
#include <utility>

#include <stdio.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace quillet::engine {

namespace detail {

void FileDescriptor::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int FileDescriptor::close() {
    const int result = ::close(m_fd);
    m_fd = -1;
    return result;
}

std::string fullPath(const std::string& fileName) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(fileName, ec);
    return ec ? fileName : absolute.string();
}

void fail(const char* what, const std::string& fileName, const std::string& reason) {
    throw Error(std::string(what) + " \"" + fullPath(fileName) + "\". " + reason);
}

void failErrno(const char* what, const std::string& fileName, int error) {
    fail(what, fileName, ErrnoText(error));
}

bool writeAll(int fd, std::string_view text, long long offset) {
    return writePieces(fd, std::span<const std::string_view>(&text, 1), offset);
}

bool writePieces(int fd, std::span<const std::string_view> pieces, long long offset) {
    std::size_t next = 0; // the first piece not yet handed to the system
    std::size_t done = 0; // bytes of that piece already written
    iovec batch[IOV_MAX];
    while (next < pieces.size()) {
        int count = 0;
        std::size_t bytes = 0;
        // Up to 1 GiB per call: the system writes at most about 2 GiB anyway.
        for (std::size_t i = next; i < pieces.size() && count < IOV_MAX && bytes < (std::size_t{1} << 30); ++i) {
            const std::size_t skip = i == next ? done : 0;
            std::size_t length = pieces[i].size() - skip;
            if (length == 0)
                continue;
            length = std::min(length, (std::size_t{1} << 30) - bytes);
            batch[count++] = {const_cast<char*>(pieces[i].data() + skip), length};
            bytes += length;
        }
        if (count == 0)
            break;
        const ssize_t written = offset < 0 ? ::writev(fd, batch, count) : ::pwritev(fd, batch, count, offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        if (offset >= 0)
            offset += written;
        // Move past what was written, piece by piece.
        auto left = static_cast<std::size_t>(written);
        while (left > 0 || (next < pieces.size() && pieces[next].size() == done)) {
            const std::size_t rest = pieces[next].size() - done;
            if (left < rest) {
                done += left;
                break;
            }
            left -= rest;
            ++next;
            done = 0;
        }
    }
    return true;
}

} // namespace detail

using namespace detail;

namespace {

// The temporary files that have a name, for a signal handler: each slot holds a
// directory descriptor and a name. A slot is claimed before its
// file is created and cleared after the rename, so that a handler running at
// any moment removes at most files of this run's own. Rewrites are put in
// place on one thread (the run's own); several may be staged at once, some of
// them ahead on workers.
constexpr std::size_t kTempNameSize = 16; // ".quillet-XXXXXX" and its NUL
constexpr int kTempSlots = 2 * kMaxStagedRewrites + kMaxRewritesAhead;
// A slot holds the directory descriptor plus one, so that the zero every
// slot starts with means free before any code has run.
constexpr int kFreeSlot = 0;
constexpr int kClaimedSlot = -1; // in use, no file to remove
std::atomic<int> g_tempDirectory[kTempSlots];
char g_tempName[kTempSlots][kTempNameSize] = {};

int claimTempSlot() {
    for (int i = 0; i < kTempSlots; ++i) {
        int expected = kFreeSlot;
        if (g_tempDirectory[i].compare_exchange_strong(expected, kClaimedSlot))
            return i;
    }
    return -1; // none free: the file is still made, but a signal leaves it behind
}

class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { discard(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Makes the file that will hold the new content, in the directory:
    // unnamed where the file system can (ext4, xfs, btrfs, tmpfs), so that a
    // run killed by SIGKILL, which no handler sees, leaves no file behind;
    // else ".quillet-XXXXXX" at once. Returns false with errno set on failure.
    bool create(int directoryFd) {
        if (m_slot < 0)
            m_slot = claimTempSlot();
        UniqueFd unnamed = CreateUnnamedFileAt(directoryFd, 0600);
        if (unnamed.valid()) {
            m_unnamed = directoryFd;
            m_fd.reset(unnamed.release());
            return true;
        }
        // Any other error is the directory's, and a named file meets it too.
        if (!NoUnnamedFiles(errno))
            return false;
        return makeName(directoryFd, [&](const char* name) {
            const int fd = ::openat(directoryFd, name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd >= 0)
                m_fd.reset(fd);
            return fd >= 0;
        });
    }
    int fd() const { return m_fd.get(); }
    // Gives an unnamed file its ".quillet-XXXXXX" name, right before the swap
    // that needs one; false with errno set on failure. A fixed length, so
    // that the name of the file beside it does not matter.
    bool giveName() {
        if (m_unnamed < 0)
            return true;
        const int directoryFd = std::exchange(m_unnamed, -1);
        return makeName(directoryFd, [&](const char* name) { return LinkUnnamedFile(m_fd.get(), directoryFd, name); });
    }
    const char* name() const { return m_name; }
    // The file is in place under another name: nothing to remove any more.
    void markRenamed() {
        announce(kClaimedSlot, nullptr);
        m_directory = -1;
    }
    bool renamed() const { return m_directory < 0; }
    void discard() {
        m_fd.reset();
        m_unnamed = -1;
        if (m_directory >= 0) {
            ::unlinkat(m_directory, m_name, 0);
            m_directory = -1;
        }
        if (m_slot >= 0)
            g_tempDirectory[m_slot].store(kFreeSlot);
        m_slot = -1;
    }

private:
    // Calls make(name) with fresh random names until one is free.
    template <typename Make>
    bool makeName(int directoryFd, Make make) {
        static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        thread_local std::mt19937 random{std::random_device{}()};
        std::uniform_int_distribution<int> pick(0, sizeof kLetters - 2);
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[kTempNameSize] = ".quillet-";
            for (std::size_t i = 9; i < kTempNameSize - 1; ++i)
                name[i] = kLetters[pick(random)];
            announce(directoryFd, name);
            if (make(name)) {
                m_directory = directoryFd;
                std::memcpy(m_name, name, kTempNameSize);
                return true;
            }
            const int error = errno;
            announce(kClaimedSlot, nullptr);
            if (error != EEXIST) {
                errno = error;
                return false;
            }
        }
        errno = EEXIST;
        return false;
    }

    // Tells a signal handler which file to remove: `name` in directoryFd,
    // or none (directoryFd kClaimedSlot, name null).
    void announce(int directoryFd, const char* name) {
        if (m_slot < 0)
            return;
        if (name != nullptr) {
            g_tempDirectory[m_slot].store(kClaimedSlot);
            std::memcpy(g_tempName[m_slot], name, kTempNameSize);
        }
        g_tempDirectory[m_slot].store(directoryFd == kClaimedSlot ? kClaimedSlot : directoryFd + 1);
    }

    FileDescriptor m_fd;
    int m_unnamed = -1;   // the directory of an unnamed file, until giveName()
    int m_directory = -1; // the directory of a named file
    int m_slot = -1;
    char m_name[kTempNameSize] = {};
};

// A read lease on the old file, held from the first check to the rename. A
// program opening the file for writing meanwhile is made to wait (until the
// lease is released, or the system's lease-break time passes) and the lease
// shows the break, so the rewrite backs off instead of renaming over the
// write that program is about to make. A lease is refused while another
// program holds the file open for writing: that file is being changed.
//
// The kernel announces a lease break with a signal, SIGIO unless told
// otherwise, and SIGIO's default action ends the process. SIGURG's default
// action is to ignore it, so breaks are announced with SIGURG and read back
// with F_GETLEASE instead.
class ReadLease {
public:
    explicit ReadLease(int fd) {
        if (::fcntl(fd, F_SETSIG, SIGURG) != 0)
            return;
        if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0)
            m_fd = fd;
        else
            m_openForWriting = errno == EAGAIN;
        // Otherwise not granted (not the owner, a network file system): the
        // identity checks still stand.
    }
    ~ReadLease() { release(); }
    ReadLease(const ReadLease&) = delete;
    ReadLease& operator=(const ReadLease&) = delete;

    // Another program has the file open for writing.
    bool openForWriting() const { return m_openForWriting; }
    // A writer is waiting for the lease.
    bool broken() const { return m_fd >= 0 && ::fcntl(m_fd, F_GETLEASE) != F_RDLCK; }
    void release() {
        if (m_fd >= 0)
            ::fcntl(m_fd, F_SETLEASE, F_UNLCK);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    bool m_openForWriting = false;
};

// Tells the hooks that a rewrite announced to them was given up, on every
// way out but the one that completes it.
class Announcement {
public:
    Announcement(CommitHooks* hooks, const ReplaceContext& context) : m_hooks(hooks), m_context(context) {
        if (m_hooks != nullptr)
            m_hooks->beforeReplace(m_context);
    }
    ~Announcement() {
        if (m_hooks != nullptr)
            m_hooks->replaceAbandoned(m_context);
    }
    Announcement(const Announcement&) = delete;
    Announcement& operator=(const Announcement&) = delete;
    void completed(const FileIdentity& now) {
        CommitHooks* hooks = std::exchange(m_hooks, nullptr);
        if (hooks != nullptr)
            hooks->afterReplace(m_context, now);
    }

private:
    CommitHooks* m_hooks;
    const ReplaceContext& m_context;
};

// The directory and name a rewrite works in.
struct Target {
    FileDescriptor ownedDirectory; // path entries: the target's directory
    int directory = -1;
    std::string name;
    const std::string* listed = nullptr; // for messages
    const char* followPath = nullptr;    // path entries: checked following symlinks
};

std::string parentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A path entry's directory and name: the path as written, except that a
// symlink in the last place is resolved to its final target (the link stays
// a link and its target is rewritten). Symlinked folders on the way are
// followed as for any path.
void resolve(const FileLocation& location, bool mayCreate, Target& target) {
    target.listed = &location.Path;
    if (location.Directory) {
        target.directory = location.Directory->Fd;
        target.name = location.Name;
        return;
    }
    target.followPath = location.Path.c_str();
    std::string resolved = location.Path;
    struct stat info {};
    if (::lstat(location.Path.c_str(), &info) != 0) {
        if (errno != ENOENT || !mayCreate)
            failErrno(kCannotOpen, location.Path, errno);
    } else if (S_ISLNK(info.st_mode)) {
        if (char* real = ::realpath(location.Path.c_str(), nullptr)) {
            resolved = real;
            std::free(real);
        } else if (errno != ENOENT || !mayCreate) {
            failErrno(kCannotOpen, location.Path, errno);
        }
    }
    target.ownedDirectory.reset(::open(parentOf(resolved).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (target.ownedDirectory.get() < 0)
        failErrno(kCannotCreate, location.Path, errno);
    target.directory = target.ownedDirectory.get();
    target.name = baseNameOf(resolved);
}

// What stands at the target now, by name in the directory (not following a
// symlink) and through the path as written, is still the file read, with the
// identity given; returns the identity to expect from then on. A hook that
// keeps the old file by linking it (the journal) raises its link count,
// which moves its change time: that is the one change a hook makes, and it
// is not taken for another program's edit.
std::optional<FileIdentity> unchangedSinceRead(const Target& target, const struct stat& read, FileIdentity expected) {
    struct stat info {};
    if (::fstatat(target.directory, target.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    const FileIdentity now = FileIdentity::of(info);
    if (now.sameInode(expected) && info.st_nlink > read.st_nlink)
        expected.ChangedNs = now.ChangedNs;
    if (!(now == expected))
        return std::nullopt;
    if (target.followPath != nullptr &&
        (::stat(target.followPath, &info) != 0 || !(FileIdentity::of(info) == expected)))
        return std::nullopt;
    return expected;
}

// Puts the new file in place by swapping it with the old one, so that the old
// one can be checked once more after the swap, under the temporary name: a
// write that landed between the last check and the swap, or a writer waiting
// on the lease, swaps them back (Changed). Otherwise the old file, now under
// the temporary name, is removed. Where the file system cannot swap, leaves
// the plain rename to the caller (Replaced with the temporary file still
// named).
RewriteOutcome exchange(const Target& target, TemporaryFile& temp, const FileIdentity& expected,
                        const ReadLease* lease) {
    const int directory = target.directory;
    if (::renameat2(directory, temp.name(), directory, target.name.c_str(), RENAME_EXCHANGE) != 0) {
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            return RewriteOutcome::Replaced;
        failErrno(kCannotCreate, *target.listed, errno);
    }
    // The swap itself moves the old file's change time: compare the rest.
    struct stat info {};
    FileIdentity now;
    if (::fstatat(directory, temp.name(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        now = FileIdentity::of(info);
    now.ChangedNs = expected.ChangedNs;
    const bool same = now == expected && !(lease != nullptr && lease->broken());
    if (!same) {
        // Swap back: the other program's file, as it made it, returns to its
        // name, and the new content, under the temporary name, is discarded.
        if (::renameat2(directory, temp.name(), directory, target.name.c_str(), RENAME_EXCHANGE) != 0) {
            const int error = errno;
            temp.markRenamed(); // it holds the other program's file now: keep it
            failErrno(kCannotCreate, *target.listed, error);
        }
        return RewriteOutcome::Changed;
    }
    ::unlinkat(directory, temp.name(), 0);
    temp.markRenamed();
    return RewriteOutcome::Replaced;
}

bool appendOnly(int directory) {
    int flags = 0;
    return ::ioctl(directory, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
}

void syncDirectory(int directory) {
    // The rename is made; a directory that cannot be synced (some file
    // systems refuse) leaves it to the system's next flush.
    ::fsync(directory);
}

RewriteOutcome rewriteInPlace(const Target& target, TextPieces newText, std::size_t newSize,
                              const RewriteRequest& request, ReplaceContext& context, const std::string& reason) {
    if (request.Hooks == nullptr || !request.Hooks->keepsOldBytes() || request.Expected == nullptr)
        fail(kCannotCreate, *target.listed, reason);
    FileDescriptor fd(
        ::openat(target.directory, target.name.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        failErrno(kCannotCreate, *target.listed, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        failErrno(kCannotCreate, *target.listed, errno);
    if (!(FileIdentity::of(info) == *request.Expected))
        return RewriteOutcome::Changed;
    // The pieces may be views of this very file (a large file is mapped):
    // overwriting it from them would read bytes already overwritten.
    std::string copied;
    copied.reserve(newSize);
    for (std::string_view piece : newText)
        copied.append(piece);
    Announcement announced(request.Hooks, context);
    request.Hooks->makeDurable();
    // Reserve the space first: a full disk then fails here, before one old
    // byte is overwritten.
    const auto size = static_cast<off_t>(newSize);
    if (size > info.st_size && ::fallocate(fd.get(), 0, 0, size) != 0 && errno != EOPNOTSUPP)
        failErrno(kCannotCreate, *target.listed, errno);
    if (!writeAll(fd.get(), copied, 0) || ::ftruncate(fd.get(), size) != 0 || ::fsync(fd.get()) != 0)
        failErrno(kCannotCreate, *target.listed, errno);
    if (::fstat(fd.get(), &info) != 0)
        failErrno(kCannotCreate, *target.listed, errno);
    if (fd.close() != 0)
        failErrno(kCannotCreate, *target.listed, errno);
    announced.completed(FileIdentity::of(info));
    return RewriteOutcome::Replaced;
}

} // namespace

// Everything a staged rewrite holds between its two steps. Never moved: the
// context and the announcement refer to its other members.
struct StagedRewrite::State {
    FileLocation location;
    std::vector<std::string_view> newText;
    std::size_t newSize = 0;
    std::optional<FileIdentity> expected;
    RewriteRequest request;
    Target target;
    FileDescriptor old;
    std::optional<ReadLease> lease;
    struct stat info {};
    ReplaceContext context;
    TemporaryFile temp;
    bool volatileFileSystem = false; // a restart empties it: nothing to flush
    std::optional<Announcement> announced;
};

StagedRewrite::StagedRewrite() = default;
StagedRewrite::~StagedRewrite() = default;
StagedRewrite::StagedRewrite(StagedRewrite&&) noexcept = default;
StagedRewrite& StagedRewrite::operator=(StagedRewrite&&) noexcept = default;

RewriteOutcome StagedRewrite::stage(const FileLocation& location, TextPieces newText, const RewriteRequest& request) {
    return stageFor(Mode::Now, location, newText, request);
}

bool StagedRewrite::stageAhead(const FileLocation& location, TextPieces newText,
                               const RewriteRequest& request) noexcept {
    try {
        RewriteRequest unhooked = request;
        unhooked.Hooks = nullptr;
        return stageFor(Mode::Ahead, location, newText, unhooked) == RewriteOutcome::Staged;
    } catch (...) {
        m_state.reset(); // the run's thread meets the error again, at the file's turn
        return false;
    }
}

RewriteOutcome StagedRewrite::announce(CommitHooks* hooks) {
    QUILLET_ASSERT(m_state != nullptr, "announce() of a rewrite that is staged");
    State& state = *m_state;
    state.request.Hooks = hooks;
    try {
        state.announced.emplace(hooks, state.context);
    } catch (...) {
        m_state.reset();
        throw;
    }
    return RewriteOutcome::Staged;
}

RewriteOutcome StagedRewrite::stageFor(Mode mode, const FileLocation& location, TextPieces newText,
                                       const RewriteRequest& request) {
    m_state.reset();
    const bool ahead = mode == Mode::Ahead;
    auto owned = std::make_unique<State>();
    State& state = *owned;
    state.location = location;
    state.newText.assign(newText.begin(), newText.end());
    for (std::string_view piece : newText)
        state.newSize += piece.size();
    if (request.Expected != nullptr)
        state.expected = *request.Expected;
    state.request = request;
    state.request.Expected = state.expected ? &*state.expected : nullptr;
    const bool mayCreate = request.Expected == nullptr;
    Target& target = state.target;
    resolve(state.location, mayCreate, target);
    const std::string& listed = *target.listed;

    FileDescriptor& old = state.old;
    old.reset(
        ::openat(target.directory, target.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (old.get() < 0) {
        const int error = errno;
        if (error == ELOOP && !mayCreate)
            return RewriteOutcome::Changed; // a symlink stands where the file was
        if (error != ENOENT || !mayCreate)
            failErrno(error == ENOENT ? kCannotOpen : kCannotCreate, listed, error);
    }
    struct stat& info = state.info;
    if (old.get() >= 0) {
        state.lease.emplace(old.get());
        if (state.lease->openForWriting() && !mayCreate)
            return RewriteOutcome::Changed;
        if (::fstat(old.get(), &info) != 0)
            failErrno(kCannotCreate, listed, errno);
        if (!S_ISREG(info.st_mode))
            fail(kCannotCreate, listed, "Not a regular file");
        if (state.expected && !(FileIdentity::of(info) == *state.expected))
            return RewriteOutcome::Changed;
        // Another name of this file may come earlier in the run.
        if (ahead && info.st_nlink != 1)
            return RewriteOutcome::Changed;
        // The run stopped reading at the size the file reported; a byte past
        // what it read (on a file system whose sizes lag) must not be cut off.
        if (state.expected) {
            char beyond = 0;
            const auto end = std::max<std::int64_t>(static_cast<std::int64_t>(request.OldText.size()), info.st_size);
            const ssize_t got = ::pread(old.get(), &beyond, 1, static_cast<off_t>(end));
            if (got < 0)
                failErrno(kCannotCreate, listed, errno);
            if (got > 0)
                return RewriteOutcome::Changed;
        }
        // The owner's write bit decides for everyone: root may write any file,
        // but a file its owner made read-only is kept as it is.
        if ((info.st_mode & S_IWUSR) == 0)
            failErrno(kCannotCreate, listed, EACCES);
        // Renaming over a file needs only the directory's permission; a file
        // the user may not write stays as it is, as a plain create refuses it.
        if (::faccessat(target.directory, target.name.c_str(), W_OK, AT_EACCESS) != 0)
            failErrno(kCannotCreate, listed, errno);
    }

    ReplaceContext& context = state.context;
    context.DirectoryFd = target.directory;
    context.Name = target.name;
    context.ListedPath = listed;
    context.OldFd = old.get();
    context.Old = state.expected ? *state.expected : FileIdentity::of(info);
    context.OldStatus = old.get() >= 0 ? &info : nullptr;
    context.OldText = request.OldText;
    context.NewText = state.newText;

    TemporaryFile& temp = state.temp;
    if (appendOnly(target.directory)) {
        if (ahead)
            return RewriteOutcome::Changed; // a rewrite in place is made only at its turn
        if (old.get() < 0)
            fail(kCannotCreate, listed, "Folder is append-only");
        state.lease.reset(); // an in-place write would wait for our own lease
        return rewriteInPlace(target, state.newText, state.newSize, state.request, context, "Folder is append-only");
    }
    if (!temp.create(target.directory)) {
        const int error = errno;
        if (old.get() >= 0 && (error == EACCES || error == EPERM || error == EROFS)) {
            if (ahead)
                return RewriteOutcome::Changed;
            state.lease.reset();
            return rewriteInPlace(target, state.newText, state.newSize, state.request, context, ErrnoText(error));
        }
        failErrno(kCannotCreate, listed, error);
    }
    context.NewFd = temp.fd();

    if (!writePieces(temp.fd(), state.newText)) {
        // Bytes mapped from a file that has since shrunk cannot be copied:
        // the file is not the one that was read.
        if (errno == EFAULT && state.expected)
            return RewriteOutcome::Changed;
        failErrno(kCannotCreate, listed, errno);
    }
    if (old.get() >= 0) {
        const std::string refused = CopyFileMetadata(old.get(), info, temp.fd());
        if (!refused.empty())
            fail(kCannotCreate, listed, refused);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(temp.fd(), 0666 & ~mask) != 0)
            failErrno(kCannotCreate, listed, errno);
    }
    state.volatileFileSystem =
        old.get() >= 0 ? OnVolatileDevice(info.st_dev, old.get()) : OnVolatileFileSystem(target.directory);
    if (!state.volatileFileSystem && ::fsync(temp.fd()) != 0)
        failErrno(kCannotCreate, listed, errno);
    if (!ahead)
        state.announced.emplace(request.Hooks, context);
    m_state = std::move(owned);
    return RewriteOutcome::Staged;
}

RewriteOutcome StagedRewrite::finish() {
    QUILLET_ASSERT(m_state != nullptr, "finish() once, after stage() or announce() returned Staged");
    // Whatever happens, the staged rewrite is used up.
    const std::unique_ptr<State> owned = std::move(m_state);
    State& state = *owned;
    const Target& target = state.target;
    const std::string& listed = *target.listed;
    TemporaryFile& temp = state.temp;
    if (state.request.Hooks != nullptr)
        state.request.Hooks->makeDurable();
    if (!temp.giveName())
        failErrno(kCannotCreate, listed, errno);

    if (state.expected) {
        const std::optional<FileIdentity> expected = unchangedSinceRead(target, state.info, *state.expected);
        if (!expected || (state.lease && state.lease->broken()) ||
            exchange(target, temp, *expected, state.lease ? &*state.lease : nullptr) == RewriteOutcome::Changed)
            return RewriteOutcome::Changed;
    }
    if (!temp.renamed() && ::renameat(target.directory, temp.name(), target.directory, target.name.c_str()) != 0)
        failErrno(kCannotCreate, listed, errno);
    temp.markRenamed();
    if (!state.volatileFileSystem)
        syncDirectory(target.directory);
    state.lease.reset();

    if (state.request.Hooks != nullptr) {
        // The file is in place whatever fstat says. Where it cannot tell what
        // the run left, the hooks hear an identity no file has (inode 0), so
        // that an undo finds the file changed and leaves it alone rather than
        // trust a guess.
        struct stat now {};
        state.announced->completed(::fstat(temp.fd(), &now) == 0 ? FileIdentity::of(now) : FileIdentity{});
    }
    return RewriteOutcome::Replaced;
}

RewriteOutcome RewriteFile(const FileLocation& location, TextPieces newText, const RewriteRequest& request) {
    StagedRewrite rewrite;
    const RewriteOutcome outcome = rewrite.stage(location, newText, request);
    return outcome == RewriteOutcome::Staged ? rewrite.finish() : outcome;
}

void DiscardTemporaryFileOnSignal() noexcept {
    for (int i = 0; i < kTempSlots; ++i) {
        const int slot = g_tempDirectory[i].load();
        if (slot > 0)
            ::unlinkat(slot - 1, g_tempName[i], 0);
    }
}

} // namespace quillet::engine
