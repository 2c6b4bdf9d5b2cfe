#include "engine/fs/durable_files.h"

#include "engine/fs/posix_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <mutex>
#include <utility>
#include <vector>

namespace quillet::engine {

namespace {

constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

} // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset(other.m_fd);
        other.m_fd = -1;
    }
    return *this;
}

void UniqueFd::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int UniqueFd::close() {
    return ::close(std::exchange(m_fd, -1));
}

std::string ErrnoText(int error) {
    // The GNU strerror_r: returns either `buffer` or a text of its own.
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

bool WriteAll(int fd, std::string_view bytes, long long offset) {
    return detail::writePieces(fd, std::span<const std::string_view>(&bytes, 1), offset);
}

bool ReadAll(int fd, std::string& text) {
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string RandomHex(std::size_t digits) {
    std::vector<unsigned char> random((digits + 1) / 2);
    if (::getrandom(random.data(), random.size(), GRND_NONBLOCK) != static_cast<ssize_t>(random.size())) {
        // Names only need to differ from their neighbours, not to be secret;
        // the count tells apart calls within one tick of a coarse clock.
        static std::atomic<std::uint64_t> calls{0};
        auto seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (static_cast<std::uint64_t>(::getpid()) << 32) ^
                    (calls.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ULL);
        for (unsigned char& byte : random) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            byte = static_cast<unsigned char>(seed >> 56);
        }
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < digits; ++i) {
        const unsigned char byte = random[i / 2];
        text.push_back(kHex[i % 2 == 0 ? byte >> 4 : byte & 0xf]);
    }
    return text;
}

namespace detail {
std::atomic<TemporaryFiles> g_temporaryFiles{TemporaryFiles::Unnamed};
} // namespace detail

UniqueFd CreateUnnamedFileAt(int directoryFd, mode_t mode) {
    // Linking one may need /proc, checked once.
    static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
    if (!canLink || detail::g_temporaryFiles.load(std::memory_order_relaxed) == detail::TemporaryFiles::Named) {
        errno = EOPNOTSUPP;
        return UniqueFd();
    }
    return UniqueFd(::openat(directoryFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
}

bool NoUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

bool LinkOpenFile(int fd, int directoryFd, const char* name) {
    static std::atomic<bool> throughProc{false};
    const bool direct =
        !throughProc.load(std::memory_order_relaxed) &&
        detail::g_temporaryFiles.load(std::memory_order_relaxed) != detail::TemporaryFiles::UnnamedLinkedThroughProc;
    if (direct) {
        if (::linkat(fd, "", directoryFd, name, AT_EMPTY_PATH) == 0)
            return true;
        if (errno != ENOENT && errno != EPERM)
            return false;
    }
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const bool linked = ::linkat(AT_FDCWD, link.c_str(), directoryFd, name, AT_SYMLINK_FOLLOW) == 0;
    // Only where /proc could link what the descriptor could not is the
    // system refusing that way: a file removed since it was opened fails
    // both, and says nothing about the next one.
    if (linked && direct)
        throughProc.store(true, std::memory_order_relaxed);
    return linked;
}

bool CopyFileBytes(int from, int to, std::int64_t size, std::int64_t fromOffset) {
    if (size < 0 || fromOffset < 0) {
        errno = EINVAL;
        return false;
    }
    if (fromOffset == 0 && ::ioctl(to, FICLONE, from) == 0) {
        struct stat info {};
        if (::fstat(to, &info) == 0 && info.st_size == size)
            return true;
        // The source grew or shrank since it was read: copy the bytes instead.
        if (::ftruncate(to, 0) != 0)
            return false;
    }
    loff_t in = fromOffset;
    loff_t out = 0;
    bool kernelCopies = true;
    std::vector<char> buffer;
    while (out < size) {
        const auto left = static_cast<std::size_t>(size - out);
        const std::size_t want = left < kMaxChunk ? left : kMaxChunk;
        if (kernelCopies) {
            const ssize_t copied = ::copy_file_range(from, &in, to, &out, want, 0);
            if (copied > 0)
                continue;
            if (copied == 0) {
                errno = EIO;
                return false;
            }
            if (errno == EINTR)
                continue;
            // Not offered between these files (older kernels, some file
            // systems, across some mounts): carry on by hand from here.
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF)
                return false;
            kernelCopies = false;
        }
        // Sized to what is left: most files are far smaller than the most
        // one read takes, and filling a large buffer costs more than the copy.
        const std::size_t chunk = want < (std::size_t{1} << 20) ? want : (std::size_t{1} << 20);
        if (buffer.size() < chunk)
            buffer.resize(chunk);
        const ssize_t got = ::pread(from, buffer.data(), chunk, in);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0) {
            errno = EIO;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::pwrite(to, buffer.data() + done, static_cast<std::size_t>(got - done), out);
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += put;
            out += put;
        }
        in += got;
    }
    return ::ftruncate(to, size) == 0;
}

namespace detail {
std::atomic<FlushFault> g_flushFault{nullptr};
std::atomic<UnwrittenBytes> g_unwrittenBytes{nullptr};
} // namespace detail

namespace {

std::atomic<int> g_filesFlushed{0};
std::atomic<int> g_directoriesFlushed{0};
std::atomic<int> g_fileSystemsFlushed{0};

// A fault a test asked for, as errno; 0 to flush.
int flushFault(detail::Flush kind, int fd) {
    const detail::FlushFault fault = detail::g_flushFault.load(std::memory_order_relaxed);
    return fault != nullptr ? fault(kind, fd) : 0;
}

bool failWith(int error) {
    errno = error;
    return false;
}

} // namespace

namespace detail {
FlushCounts FlushesMade() {
    return {g_filesFlushed.load(), g_directoriesFlushed.load(), g_fileSystemsFlushed.load()};
}
} // namespace detail

bool SyncDirectory(int directoryFd) {
    g_directoriesFlushed.fetch_add(1, std::memory_order_relaxed);
    if (const int fault = flushFault(detail::Flush::Directory, directoryFd))
        return failWith(fault);
    if (::fsync(directoryFd) == 0 || errno == EINVAL)
        return true;
    return false;
}

bool SyncFile(int fd) {
    g_filesFlushed.fetch_add(1, std::memory_order_relaxed);
    if (const int fault = flushFault(detail::Flush::File, fd))
        return failWith(fault);
    return ::fsync(fd) == 0;
}

bool SyncFileSystem(int fd) {
    g_fileSystemsFlushed.fetch_add(1, std::memory_order_relaxed);
    if (const int fault = flushFault(detail::Flush::FileSystem, fd))
        return failWith(fault);
    return ::syncfs(fd) == 0;
}

namespace {

// Dirty and Writeback of /proc/meminfo, in bytes; -1 where it cannot be read.
std::int64_t unwrittenBytesInSystem() {
    if (const detail::UnwrittenBytes fake = detail::g_unwrittenBytes.load(std::memory_order_relaxed))
        return fake();
    const UniqueFd info(::open("/proc/meminfo", O_RDONLY | O_CLOEXEC));
    std::string text;
    if (!info.valid() || !ReadAll(info.get(), text))
        return -1;
    std::int64_t total = 0;
    int found = 0;
    for (const std::string_view key : {std::string_view("\nDirty:"), std::string_view("\nWriteback:")}) {
        const std::size_t at = text.find(key);
        if (at == std::string::npos)
            continue;
        total += std::strtoll(text.c_str() + at + key.size(), nullptr, 10) * 1024; // in kB
        ++found;
    }
    return found == 2 ? total : -1;
}

} // namespace

bool FileSystemFlushPays(std::int64_t ownBytes) {
    // A flush per file costs the disk about one more cache flush each (half
    // a millisecond on a virtual disk), as long as writing a few megabytes:
    // up to that much of others' data, the file system's one flush wins.
    constexpr std::int64_t kOthersUpTo = std::int64_t{8} << 20;
    const std::int64_t unwritten = unwrittenBytesInSystem();
    return unwritten < 0 || unwritten - ownBytes <= kOthersUpTo;
}

void StartWriteBack(int fd, std::int64_t offset, std::int64_t length) {
    (void)::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
}

std::vector<std::string> NamesIn(int directoryFd) {
    std::vector<std::string> names;
    const int listFd = ::openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (listing == nullptr) {
        if (listFd >= 0)
            ::close(listFd);
        return names;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(listing);
    return names;
}

bool OnVolatileFileSystem(int fd) {
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0)
        return false;
    return info.f_type == TMPFS_MAGIC || info.f_type == RAMFS_MAGIC;
}

bool OnVolatileDevice(dev_t device, int fd) {
    static std::mutex mutex;
    static std::vector<std::pair<dev_t, bool>> known; // guarded by mutex
    {
        const std::lock_guard lock(mutex);
        for (const auto& [seen, isVolatile] : known)
            if (seen == device)
                return isVolatile;
    }
    const bool isVolatile = OnVolatileFileSystem(fd);
    const std::lock_guard lock(mutex);
    known.emplace_back(device, isVolatile);
    return isVolatile;
}

} // namespace quillet::engine
