#include "engine/fs/rewrite.h"

#include "core/checks.h"
#include "core/error.h"
#include "engine/fs/durable_files.h"
#include "engine/fs/file_io.h"
#include "engine/fs/file_metadata.h"
#include "engine/fs/posix_file.h"
#include "engine/fs/temporary_file.h"

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
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>

namespace quillet::engine {

namespace detail {

std::string fullPath(const std::string& fileName) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(fileName, ec);
    return ec ? fileName : absolute.string();
}

void fail(const char* what, const std::string& fileName, const std::string& reason) {
    throw Error(std::string(what) + " \"" + fullPath(fileName) + "\". " + reason, reason);
}

void failErrno(const char* what, const std::string& fileName, int error) {
    fail(what, fileName, ErrnoText(error));
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
    UniqueFd ownedDirectory; // path entries: the target's directory
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
        return RewriteOutcome::NotTheFileRead;
    }
    ::unlinkat(directory, temp.name(), 0);
    temp.markRenamed();
    return RewriteOutcome::Replaced;
}

// Whether the file system keeps plenty of room after a new file of `bytes`:
// twice that, and 64 MiB besides.
bool roomToStageAhead(int directory, std::size_t bytes) {
    struct statvfs space {};
    if (::fstatvfs(directory, &space) != 0)
        return true; // cannot tell: the write itself will
    const auto free = static_cast<unsigned long long>(space.f_bavail) * space.f_frsize;
    return free / 2 >= bytes + (std::size_t{32} << 20);
}

bool appendOnly(int directory) {
    int flags = 0;
    return ::ioctl(directory, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
}

// The bytes of a stretch of another file, read whole: a rewrite in place
// cannot copy them straight in (the stretch may be this very file).
std::string readCopied(const CopiedContent& copied, const std::string& listed) {
    std::string bytes(static_cast<std::size_t>(copied.Size), '\0');
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t got = ::pread(copied.Fd, bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(copied.Offset + static_cast<std::int64_t>(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            failErrno(kCannotCreate, listed, got == 0 ? EIO : errno);
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

// Gives the new file the metadata a request asks for, where it asks.
std::string applyMetadata(const NewFileMetadata& metadata, int fd) {
    if (metadata.Owner || metadata.Group) {
        // Only root may give a file away; anyone else keeps the file its own,
        // as for any rewrite.
        const uid_t owner = metadata.Owner.value_or(static_cast<uid_t>(-1));
        const gid_t group = metadata.Group.value_or(static_cast<gid_t>(-1));
        if (::fchown(fd, owner, group) != 0)
            (void)!::fchown(fd, static_cast<uid_t>(-1), group);
    }
    if (metadata.Mode && ::fchmod(fd, *metadata.Mode) != 0)
        return ErrnoText(errno);
    return {};
}

// The stretch of a new file written before its write-back is started: the
// disk writes each while the next is copied, so that a large file is mostly
// on disk by the time it is flushed.
constexpr std::size_t kWriteBackWindow = std::size_t{8} << 20;

// Writes the pieces as writePieces does, starting the write-back of every
// window of kWriteBackWindow bytes as soon as it is written.
bool writeStartingWriteBack(int fd, TextPieces pieces) {
    std::vector<std::string_view> window;
    std::size_t windowBytes = 0;
    std::int64_t offset = 0;
    const auto writeWindow = [&] {
        if (!writePieces(fd, window))
            return false;
        StartWriteBack(fd, offset, static_cast<std::int64_t>(windowBytes));
        offset += static_cast<std::int64_t>(windowBytes);
        window.clear();
        windowBytes = 0;
        return true;
    };
    for (std::string_view piece : pieces) {
        while (!piece.empty()) {
            const std::size_t take = std::min(piece.size(), kWriteBackWindow - windowBytes);
            window.push_back(piece.substr(0, take));
            piece.remove_prefix(take);
            windowBytes += take;
            if (windowBytes == kWriteBackWindow && !writeWindow())
                return false;
        }
    }
    return window.empty() || writeWindow();
}

bool inPlaceAllowed(const RewriteRequest& request) {
    if (request.Expected == nullptr)
        return false;
    if (request.InPlace == InPlaceRewrite::Allowed)
        return true;
    return request.Hooks != nullptr && request.Hooks->keepsOldBytes();
}

RewriteOutcome rewriteInPlace(const Target& target, TextPieces newText, std::size_t newSize,
                              const RewriteRequest& request, ReplaceContext& context, const std::string& reason) {
    if (!inPlaceAllowed(request))
        fail(kCannotCreate, *target.listed, reason);
    UniqueFd fd(
        ::openat(target.directory, target.name.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        failErrno(kCannotCreate, *target.listed, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        failErrno(kCannotCreate, *target.listed, errno);
    if (!(FileIdentity::of(info) == *request.Expected))
        return RewriteOutcome::NotTheFileRead;
    // The pieces may be views of this very file (a large file is mapped):
    // overwriting it from them would read bytes already overwritten.
    std::string copied;
    if (request.Copied != nullptr) {
        copied = readCopied(*request.Copied, *target.listed);
    } else {
        copied.reserve(newSize);
        for (std::string_view piece : newText)
            copied.append(piece);
    }
    newSize = copied.size();
    Announcement announced(request.Hooks, context);
    if (request.Hooks != nullptr)
        request.Hooks->makeDurable();
    // Reserve the space first: a full disk then fails here, before one old
    // byte is overwritten.
    const auto size = static_cast<off_t>(newSize);
    if (size > info.st_size && ::fallocate(fd.get(), 0, 0, size) != 0 && errno != EOPNOTSUPP)
        failErrno(kCannotCreate, *target.listed, errno);
    context.OldBytesTouched = true;
    if (!WriteAll(fd.get(), copied, 0) || ::ftruncate(fd.get(), size) != 0 || ::fsync(fd.get()) != 0)
        failErrno(kCannotCreate, *target.listed, errno);
    if (request.Metadata != nullptr) {
        const std::string refused = applyMetadata(*request.Metadata, fd.get());
        if (!refused.empty())
            fail(kCannotCreate, *target.listed, refused);
    }
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
    UniqueFd old;
    std::optional<ReadLease> lease;
    struct stat info {};
    ReplaceContext context;
    TemporaryFile temp;
    bool volatileFileSystem = false; // a restart empties it: nothing to flush
    bool adopted = false;            // the new file is request.Prepared's inode
    dev_t device = 0;                // of the file system the new file is on
    bool contentDurable = false;     // the new file's bytes are on disk (or need not be)
    std::exception_ptr flushFailure; // why they, or the hooks' records, could not be flushed
    bool hooksDurable = false;       // the hooks' records of it are on disk (makeDurable since it was announced)
    struct stat placed {};           // the new file as it was put in place
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
    if (request.Copied == nullptr) {
        state.newText.assign(newText.begin(), newText.end());
        for (std::string_view piece : newText)
            state.newSize += piece.size();
    } else {
        state.newSize = static_cast<std::size_t>(request.Copied->Size);
    }
    if (request.Expected != nullptr)
        state.expected = *request.Expected;
    state.request = request;
    state.request.Expected = state.expected ? &*state.expected : nullptr;
    const bool mayCreate = request.Expected == nullptr;
    Target& target = state.target;
    resolve(state.location, mayCreate, target);
    const std::string& listed = *target.listed;

    UniqueFd& old = state.old;
    old.reset(
        ::openat(target.directory, target.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (old.get() < 0) {
        const int error = errno;
        if (error == ELOOP && !mayCreate)
            return RewriteOutcome::NotTheFileRead; // a symlink stands where the file was
        if (error != ENOENT || !mayCreate)
            failErrno(error == ENOENT ? kCannotOpen : kCannotCreate, listed, error);
    }
    struct stat& info = state.info;
    if (old.get() >= 0) {
        state.lease.emplace(old.get());
        if (state.lease->openForWriting() && !mayCreate)
            return RewriteOutcome::NotTheFileRead;
        if (::fstat(old.get(), &info) != 0)
            failErrno(kCannotCreate, listed, errno);
        if (!S_ISREG(info.st_mode))
            fail(kCannotCreate, listed, "Not a regular file");
        if (state.expected && !(FileIdentity::of(info) == *state.expected))
            return RewriteOutcome::NotTheFileRead;
        // Another name of this file may come earlier in the run.
        if (ahead && info.st_nlink != 1)
            return RewriteOutcome::NotTheFileRead;
        // The run stopped reading at the size the file reported; a byte past
        // what it read (on a file system whose sizes lag) must not be cut off.
        // Where the read itself met the end there, and the file is unchanged
        // since, the answer is known.
        const bool endKnown =
            request.OldTextEndsFile && static_cast<std::int64_t>(request.OldText.size()) == info.st_size;
        if (state.expected && !endKnown) {
            char beyond = 0;
            const auto end = std::max<std::int64_t>(static_cast<std::int64_t>(request.OldText.size()), info.st_size);
            const ssize_t got = ::pread(old.get(), &beyond, 1, static_cast<off_t>(end));
            if (got < 0)
                failErrno(kCannotCreate, listed, errno);
            if (got > 0)
                return RewriteOutcome::NotTheFileRead;
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
    // Written ahead, a new file holds its space until its turn, while the
    // files before it still need theirs: on a nearly full disk the files
    // ahead would take the room the next file needs, and the run would fail
    // at its first file. There, each file is written at its turn.
    if (ahead && !roomToStageAhead(target.directory, state.newSize))
        return RewriteOutcome::NotTheFileRead;
    if (appendOnly(target.directory)) {
        if (ahead)
            return RewriteOutcome::NotTheFileRead; // a rewrite in place is made only at its turn
        if (old.get() < 0)
            fail(kCannotCreate, listed, "Folder is append-only");
        state.lease.reset(); // an in-place write would wait for our own lease
        return rewriteInPlace(target, state.newText, state.newSize, state.request, context, "Folder is append-only");
    }
    QUILLET_ASSERT(request.Prepared == nullptr ||
                       (request.Copied != nullptr && request.Hooks == nullptr && !request.OnNewFile),
                   "a prepared inode comes with its bytes to copy, and without hooks");
    state.adopted = request.Prepared != nullptr && !ahead &&
                    temp.adopt(target.directory, request.Prepared->DirectoryFd, request.Prepared->Name);
    if (!state.adopted && !temp.create(target.directory)) {
        const int error = errno;
        if (old.get() >= 0 && (error == EACCES || error == EPERM || error == EROFS)) {
            if (ahead)
                return RewriteOutcome::NotTheFileRead;
            state.lease.reset();
            return rewriteInPlace(target, state.newText, state.newSize, state.request, context, ErrnoText(error));
        }
        failErrno(kCannotCreate, listed, error);
    }
    context.NewFd = temp.fd();

    if (old.get() >= 0) {
        state.device = info.st_dev;
        state.volatileFileSystem = OnVolatileDevice(info.st_dev, old.get());
    } else {
        struct stat directory {};
        state.volatileFileSystem = OnVolatileFileSystem(target.directory);
        if (::fstat(target.directory, &directory) == 0)
            state.device = directory.st_dev;
    }
    state.contentDurable = state.volatileFileSystem;
    bool written = false;
    if (state.adopted) {
        written = true;
    } else if (request.Copied != nullptr) {
        written = CopyFileBytes(request.Copied->Fd, temp.fd(), request.Copied->Size, request.Copied->Offset);
        if (written && !state.volatileFileSystem)
            StartWriteBack(temp.fd(), 0, 0);
    } else {
        written = state.volatileFileSystem ? writePieces(temp.fd(), state.newText)
                                           : writeStartingWriteBack(temp.fd(), state.newText);
    }
    if (!written) {
        // Bytes mapped from a file that has since shrunk cannot be copied:
        // the file is not the one that was read.
        if (errno == EFAULT && state.expected)
            return RewriteOutcome::NotTheFileRead;
        failErrno(kCannotCreate, listed, errno);
    }
    // A prepared inode has its own metadata, and gets the rest once in place.
    const int metadataFrom = request.Metadata != nullptr ? request.Metadata->From : -1;
    if (!state.adopted) {
        if (metadataFrom >= 0 || old.get() >= 0) {
            const std::string refused = metadataFrom >= 0 ? CopyFileMetadata(metadataFrom, temp.fd())
                                                          : CopyFileMetadata(old.get(), info, temp.fd());
            if (!refused.empty())
                fail(kCannotCreate, listed, refused);
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            if (::fchmod(temp.fd(), 0666 & ~mask) != 0)
                failErrno(kCannotCreate, listed, errno);
        }
        if (request.Metadata != nullptr) {
            const std::string refused = applyMetadata(*request.Metadata, temp.fd());
            if (!refused.empty())
                fail(kCannotCreate, listed, refused);
        }
    }
    if (!ahead)
        state.announced.emplace(request.Hooks, context);
    m_state = std::move(owned);
    return RewriteOutcome::Staged;
}

namespace {

std::exception_ptr errorOf(const std::string& listed, int error) {
    try {
        failErrno(kCannotCreate, listed, error);
    } catch (...) {
        return std::current_exception();
    }
}

} // namespace

RewriteOutcome StagedRewrite::finish() {
    QUILLET_ASSERT(m_state != nullptr, "finish() once, after stage() or announce() returned Staged");
    StagedRewrite* const self = this;
    FinishedRewrite finished;
    (void)finishTogether(std::span(&self, 1), std::span(&finished, 1), AfterError::Stop);
    if (finished.Error)
        std::rethrow_exception(finished.Error);
    return finished.Outcome;
}

void StagedRewrite::makeHooksDurable(std::span<State* const> states) {
    // Once per hooks, for the rewrites announced to it and not yet covered
    // by one of its flushes: a flush covers every rewrite announced before
    // it (CommitHooks::makeDurable), so a rewrite needs one, never two.
    std::vector<CommitHooks*> asked;
    for (State* state : states) {
        CommitHooks* hooks = state->request.Hooks;
        if (hooks == nullptr || state->hooksDurable || state->flushFailure ||
            std::find(asked.begin(), asked.end(), hooks) != asked.end())
            continue;
        asked.push_back(hooks);
        std::exception_ptr failure;
        try {
            hooks->makeDurable();
        } catch (...) {
            failure = std::current_exception();
        }
        for (State* concerned : states) {
            if (concerned->request.Hooks != hooks || concerned->hooksDurable || concerned->flushFailure)
                continue;
            concerned->hooksDurable = !failure;
            concerned->flushFailure = failure;
        }
    }
}

void StagedRewrite::flushNewFiles(std::span<StagedRewrite* const> rewrites) {
    std::vector<State*> staged;
    for (StagedRewrite* rewrite : rewrites)
        if (rewrite != nullptr && rewrite->m_state != nullptr)
            staged.push_back(rewrite->m_state.get());
    // The hooks' records first (also of files on a file system a restart
    // empties, whose content needs no flush): where they are on the same
    // file system, the flush that makes them durable takes the new files'
    // bytes along, and the flush below finds little left to do.
    makeHooksDurable(staged);
    std::vector<State*> pending;
    for (State* state : staged)
        if (!state->contentDurable && !state->flushFailure)
            pending.push_back(state);
    std::vector<State*> group;
    for (std::size_t first = 0; first < pending.size(); ++first) {
        if (pending[first] == nullptr || pending[first]->flushFailure) {
            pending[first] = nullptr;
            continue;
        }
        group.clear();
        const dev_t device = pending[first]->device;
        for (std::size_t next = first; next < pending.size(); ++next) {
            if (pending[next] != nullptr && !pending[next]->flushFailure && pending[next]->device == device) {
                group.push_back(pending[next]);
                pending[next] = nullptr;
            }
        }
        std::int64_t groupBytes = 0;
        for (const State* state : group)
            groupBytes += static_cast<std::int64_t>(state->newSize);
        if (group.size() > 1 && FileSystemFlushPays(groupBytes) && SyncFileSystem(group.front()->temp.fd())) {
            for (State* state : group)
                state->contentDurable = true;
            continue;
        }
        for (State* state : group) {
            if (SyncFile(state->temp.fd()))
                state->contentDurable = true;
            else
                state->flushFailure = errorOf(*state->target.listed, errno);
        }
    }
}

namespace {

// The folders that hold files just put in place, and the inodes linked in
// place (whose metadata changed once there), flushed together: one flush of
// the file system where several folders, or more than two of them, are on
// one and little else waits to be written there (FileSystemFlushPays; with
// each one's own where that fails, to tell which), else each one's own: a
// folder and the one inode linked in it cost two flushes either way, and the
// flush of the file system also writes what other programs left unwritten
// there.
// Gives, for each descriptor given, 0 or the errno of its flush.
std::vector<int> flushPlaced(const std::vector<int>& folders, const std::vector<bool>& isFile) {
    std::vector<int> errors(folders.size(), 0);
    std::vector<struct stat> identity(folders.size());
    std::vector<bool> known(folders.size());
    for (std::size_t i = 0; i < folders.size(); ++i)
        known[i] = ::fstat(folders[i], &identity[i]) == 0;
    std::vector<bool> done(folders.size());
    std::vector<std::size_t> group; // distinct folders and files of one file system
    for (std::size_t first = 0; first < folders.size(); ++first) {
        if (done[first])
            continue;
        group.clear();
        for (std::size_t next = first; next < folders.size(); ++next) {
            if (done[next] || !known[next] || !known[first] || identity[next].st_dev != identity[first].st_dev)
                continue;
            bool seen = false;
            for (std::size_t member : group)
                seen = seen || identity[member].st_ino == identity[next].st_ino;
            if (!seen)
                group.push_back(next);
        }
        if (group.empty())
            group.push_back(first);
        const bool several = group.size() > 2 || (group.size() == 2 && !isFile[group[0]] && !isFile[group[1]]);
        const bool together = several && FileSystemFlushPays(0) && SyncFileSystem(folders[group.front()]);
        for (std::size_t member : group) {
            const int error =
                together || (isFile[member] ? SyncFile(folders[member]) : SyncDirectory(folders[member])) ? 0 : errno;
            // The folder's other descriptors share its flush.
            for (std::size_t next = first; next < folders.size(); ++next) {
                const bool sameFolder = next == member || (known[next] && known[member] &&
                                                           identity[next].st_dev == identity[member].st_dev &&
                                                           identity[next].st_ino == identity[member].st_ino);
                if (sameFolder && !done[next]) {
                    done[next] = true;
                    errors[next] = error;
                }
            }
        }
    }
    return errors;
}

} // namespace

// Puts a staged rewrite's new file in place (its content already flushed),
// checked once more against the file read: Replaced, before its folder is
// flushed, or NotTheFileRead. Raises as finish() does.
RewriteOutcome StagedRewrite::place(State& state) {
    const Target& target = state.target;
    const std::string& listed = *target.listed;
    TemporaryFile& temp = state.temp;
    if (state.flushFailure)
        std::rethrow_exception(state.flushFailure);
    if (!temp.giveName())
        failErrno(kCannotCreate, listed, errno);
    // The new file as it is put in place, before anyone else can reach it.
    struct stat& placed = state.placed;
    if (::fstat(temp.fd(), &placed) != 0)
        failErrno(kCannotCreate, listed, errno);
    if (state.request.OnNewFile)
        state.request.OnNewFile(FileIdentity::of(placed));

    if (state.expected) {
        const std::optional<FileIdentity> expected = unchangedSinceRead(target, state.info, *state.expected);
        if (!expected || (state.lease && state.lease->broken()) ||
            exchange(target, temp, *expected, state.lease ? &*state.lease : nullptr) == RewriteOutcome::NotTheFileRead)
            return RewriteOutcome::NotTheFileRead;
    }
    if (!temp.renamed() && ::renameat(target.directory, temp.name(), target.directory, target.name.c_str()) != 0)
        failErrno(kCannotCreate, listed, errno);
    temp.markRenamed();
    if (state.adopted) {
        // In place now: its metadata as asked, and a modification time of now.
        const std::string refused =
            state.request.Metadata != nullptr ? applyMetadata(*state.request.Metadata, temp.fd()) : std::string();
        if (!refused.empty())
            fail(kCannotCreate, listed, refused);
        // Flushed with the folders of the batch (finishTogether).
        if (::futimens(temp.fd(), nullptr) != 0 || ::fstat(temp.fd(), &placed) != 0)
            failErrno(kCannotCreate, listed, errno);
    }
    // What the rewrite left, for the hooks: the new file as it was put in
    // place. A program that writes to it once it is in place (and before the
    // status below) makes it another file than the one the rewrite left,
    // and that write must not pass for the rewrite's own.
    struct stat now {};
    if (::fstat(temp.fd(), &now) == 0 && now.st_size == placed.st_size && now.st_mtim.tv_sec == placed.st_mtim.tv_sec &&
        now.st_mtim.tv_nsec == placed.st_mtim.tv_nsec)
        placed = now;
    state.lease.reset();
    return RewriteOutcome::Replaced;
}

bool StagedRewrite::finishTogether(std::span<StagedRewrite* const> rewrites, std::span<FinishedRewrite> finished,
                                   AfterError afterError, const std::function<bool()>& stopBeforeEach) {
    QUILLET_ASSERT(finished.size() == rewrites.size(), "finishTogether() with one place per rewrite");
    for (StagedRewrite* rewrite : rewrites)
        QUILLET_ASSERT(rewrite != nullptr && rewrite->m_state != nullptr,
                       "finish() once, after stage() or announce() returned Staged");
    flushNewFiles(rewrites);
    // Whatever happens, the staged rewrites are used up.
    std::vector<std::unique_ptr<State>> states;
    states.reserve(rewrites.size());
    for (StagedRewrite* rewrite : rewrites)
        states.push_back(std::move(rewrite->m_state));

    std::vector<int> folders;          // of the files put in place that must last, and adopted inodes
    std::vector<bool> isFile;          // of `folders`: an adopted inode
    std::vector<std::size_t> flushing; // their places in `states`
    bool stopped = false;              // the rest are given up
    bool requested = false;            // by stopBeforeEach
    for (std::size_t i = 0; i < states.size(); ++i) {
        if (!stopped && stopBeforeEach && stopBeforeEach())
            stopped = requested = true;
        if (stopped) {
            states[i].reset(); // given up: the old file stays as it is
            continue;
        }
        try {
            finished[i].Outcome = place(*states[i]);
        } catch (...) {
            finished[i].Error = std::current_exception();
        }
        if (finished[i].Error || finished[i].Outcome != RewriteOutcome::Replaced) {
            states[i].reset();
            stopped = finished[i].Error && afterError == AfterError::Stop;
            continue;
        }
        finished[i].Placed = true;
        if (!states[i]->volatileFileSystem) {
            folders.push_back(states[i]->target.directory);
            isFile.push_back(false);
            flushing.push_back(i);
            if (states[i]->adopted) {
                folders.push_back(states[i]->temp.fd());
                isFile.push_back(true);
                flushing.push_back(i);
            }
        }
    }
    const std::vector<int> folderErrors = flushPlaced(folders, isFile);
    for (std::size_t k = 0; k < flushing.size(); ++k)
        if (folderErrors[k] != 0)
            finished[flushing[k]].Error = errorOf(*states[flushing[k]]->target.listed, folderErrors[k]);

    for (std::size_t i = 0; i < states.size(); ++i) {
        if (!finished[i].Placed)
            continue;
        State& state = *states[i];
        if (state.request.Hooks != nullptr)
            state.announced->completed(FileIdentity::of(state.placed));
        states[i].reset();
    }
    return requested;
}

int StagedRewritesAllowed(int wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return wanted;
    const auto allowed = std::max<rlim_t>(limit.rlim_cur / 16, 4);
    return allowed < static_cast<rlim_t>(wanted) ? static_cast<int>(allowed) : wanted;
}

void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 65536);
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted)
        return;
    limit.rlim_cur = wanted;
    (void)::setrlimit(RLIMIT_NOFILE, &limit);
}

void GrowDescriptorTable() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const auto last = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1024)) - 1;
    const int any = ::open("/", O_PATH | O_CLOEXEC);
    if (any < 0)
        return;
    // The table grows to take the lowest free descriptor at or above `last`.
    const int far = ::fcntl(any, F_DUPFD_CLOEXEC, last);
    if (far >= 0)
        ::close(far);
    ::close(any);
}

RewriteOutcome RewriteFile(const FileLocation& location, TextPieces newText, const RewriteRequest& request) {
    StagedRewrite rewrite;
    const RewriteOutcome outcome = rewrite.stage(location, newText, request);
    return outcome == RewriteOutcome::Staged ? rewrite.finish() : outcome;
}

} // namespace quillet::engine
