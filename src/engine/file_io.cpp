#include "engine/file_io.h"

#include "core/error.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <utility>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillet::engine {

namespace {

// Closes a descriptor on every path out of a scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    void release() { m_fd = -1; }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes now and reports the result: a deferred write error can show up here.
    int close() {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

// Messages name the file by its full path, without resolving symlinks.
std::string fullPath(const std::string& fileName) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(fileName, ec);
    return ec ? fileName : absolute.string();
}

[[noreturn]] void fail(const char* what, const std::string& fileName, const std::string& reason) {
    throw Error(std::string(what) + " \"" + fullPath(fileName) + "\". " + reason);
}

[[noreturn]] void failErrno(const char* what, const std::string& fileName, int error) {
    fail(what, fileName, std::strerror(error));
}

constexpr const char* kCannotOpen = "Cannot open file";
constexpr const char* kCannotRead = "Cannot read file";
constexpr const char* kCannotCreate = "Cannot create file";

// Writes all of text; false with errno set on failure.
bool writeAll(int fd, std::string_view text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const std::size_t chunk = left < (std::size_t{1} << 30) ? left : (std::size_t{1} << 30);
        const ssize_t written = ::write(fd, data, chunk);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// The path that a rewrite must replace: a symlink's final target, so that the
// link itself stays a link.
std::string resolveTarget(const std::string& fileName) {
    struct stat info {};
    if (::lstat(fileName.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return fileName;
    char* resolved = ::realpath(fileName.c_str(), nullptr);
    if (resolved == nullptr)
        return fileName; // a dangling link: writing through it creates the target
    std::string target(resolved);
    std::free(resolved);
    return target;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Fallback when no temporary file can be made beside the file: rewrite it in
// place, as a plain create-and-write does.
void rewriteInPlace(std::string_view text, const std::string& target, const std::string& fileName) {
    FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        failErrno(kCannotCreate, fileName, errno);
    if (!writeAll(fd.get(), text) || ::fsync(fd.get()) != 0)
        failErrno(kCannotCreate, fileName, errno);
    if (fd.close() != 0)
        failErrno(kCannotCreate, fileName, errno);
}

} // namespace

namespace {

constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Reads the whole of fd into buffer (anything with data(), size() and a
// resize() that keeps its contents). The size from fstat is a first guess:
// the file may grow or shrink while it is read, so read until end of file
// and keep exactly what arrived.
template <class Buffer>
void readWhole(const std::string& fileName, Buffer& buffer) {
    buffer.clear();
    FileReader reader(fileName);
    try {
        std::size_t expected = reader.sizeHint();
        std::size_t filled = 0;
        buffer.resize(expected);
        for (;;) {
            if (filled == expected) {
                // Probe for more before growing the buffer.
                char probe[4096];
                const std::size_t got = reader.read(probe, sizeof probe);
                if (got == 0)
                    break;
                expected = filled + got;
                buffer.resize(expected);
                std::memcpy(buffer.data() + filled, probe, got);
                filled = expected;
                continue;
            }
            const std::size_t got = reader.read(buffer.data() + filled, expected - filled);
            if (got == 0)
                break;
            filled += got;
        }
        buffer.resize(filled);
    } catch (...) {
        buffer.clear();
        throw;
    }
}

constexpr std::size_t kMapFrom = std::size_t{2} << 20;

} // namespace

FileReader::FileReader(const std::string& fileName) : m_fileName(fileName) {
    // Non-blocking, so that opening a FIFO never waits for a writer.
    FileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        failErrno(kCannotOpen, fileName, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        failErrno(kCannotOpen, fileName, errno);
    if (!S_ISREG(info.st_mode))
        fail(kCannotOpen, fileName, "Not a regular file");
    // O_NONBLOCK stays: it changes nothing for a regular file, and clearing
    // it would cost two calls per file.
    m_sizeHint = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
    m_fd = fd.get();
    fd.release();
}

FileReader::~FileReader() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t FileReader::read(char* into, std::size_t want) {
    if (want > kMaxTransfer)
        want = kMaxTransfer;
    for (;;) {
        const ssize_t got = ::read(m_fd, into, want);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            failErrno(kCannotRead, m_fileName, errno);
    }
}

void LoadFileText(const std::string& fileName, std::string& text) {
    readWhole(fileName, text);
}

void LoadFileBytes(const std::string& fileName, FileBytes& bytes) {
    readWhole(fileName, bytes);
}

FileBytes::~FileBytes() {
    release();
}

FileBytes::FileBytes(FileBytes&& other) noexcept
    : m_data(other.m_data), m_size(other.m_size), m_capacity(other.m_capacity), m_mapped(other.m_mapped) {
    other.m_data = nullptr;
    other.m_size = other.m_capacity = 0;
    other.m_mapped = false;
}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_mapped = std::exchange(other.m_mapped, false);
    }
    return *this;
}

void FileBytes::release() {
    if (m_mapped)
        ::munmap(m_data, m_capacity);
    else
        std::free(m_data);
    m_data = nullptr;
    m_size = m_capacity = 0;
    m_mapped = false;
}

// Small buffers come from malloc, large ones straight from mmap. Untouched
// capacity costs address space only. (Asking for huge pages saved page
// faults but made the time of a large rewrite swing by seconds while the
// kernel compacted memory for them.)
void FileBytes::grow(std::size_t capacity) {
    if (capacity <= m_capacity)
        return;
    if (capacity < kMapFrom && !m_mapped) {
        void* grown = std::realloc(m_data, capacity);
        if (grown == nullptr)
            throw std::bad_alloc();
        m_data = static_cast<char*>(grown);
        m_capacity = capacity;
        return;
    }
    const std::size_t rounded = (capacity + kMapFrom - 1) / kMapFrom * kMapFrom;
    void* fresh = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (fresh == MAP_FAILED)
        throw std::bad_alloc();
    if (m_size > 0)
        std::memcpy(fresh, m_data, m_size);
    const std::size_t size = m_size;
    release();
    m_data = static_cast<char*>(fresh);
    m_capacity = rounded;
    m_mapped = true;
    m_size = size;
}

void FileBytes::resize(std::size_t size) {
    // Geometric growth, for a file that keeps growing while it is read.
    if (size > m_capacity)
        grow(size > 2 * m_capacity ? size : 2 * m_capacity);
    m_size = size;
}

void FileBytes::reserve(std::size_t capacity) {
    grow(capacity);
}

void FileBytes::append(std::string_view bytes) {
    if (bytes.empty())
        return;
    const std::size_t at = m_size;
    resize(m_size + bytes.size());
    std::memcpy(m_data + at, bytes.data(), bytes.size());
}

void SaveFileText(std::string_view text, const std::string& fileName) {
    const std::string target = resolveTarget(fileName);
    struct stat original {};
    const bool exists = ::stat(target.c_str(), &original) == 0;
    if (exists && !S_ISREG(original.st_mode))
        fail(kCannotCreate, fileName, "Not a regular file");
    // Renaming over a file needs only the directory's permission; a file the
    // user may not write stays as it is, as a plain create would refuse it.
    if (exists && ::access(target.c_str(), W_OK) != 0)
        failErrno(kCannotCreate, fileName, errno);

    const std::string directory = directoryOf(target);
    std::string tempName = directory + "/." + baseNameOf(target) + ".quillet-XXXXXX";
    std::vector<char> tempBuffer(tempName.begin(), tempName.end());
    tempBuffer.push_back('\0');
    FileDescriptor fd(::mkostemp(tempBuffer.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        const int error = errno;
        if (exists && (error == EACCES || error == EPERM)) {
            rewriteInPlace(text, target, fileName);
            return;
        }
        failErrno(kCannotCreate, fileName, error);
    }
    tempName.assign(tempBuffer.data());

    auto abandon = [&](int error) {
        fd.reset();
        ::unlink(tempName.c_str());
        failErrno(kCannotCreate, fileName, error);
    };

    if (!writeAll(fd.get(), text))
        abandon(errno);
    if (exists) {
        // Owner and group first: changing them may clear set-id bits.
        if (::fchown(fd.get(), original.st_uid, original.st_gid) != 0)
            (void)!::fchown(fd.get(), static_cast<uid_t>(-1), original.st_gid);
        if (::fchmod(fd.get(), original.st_mode & 07777) != 0)
            abandon(errno);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(fd.get(), 0666 & ~mask) != 0)
            abandon(errno);
    }
    if (::fsync(fd.get()) != 0)
        abandon(errno);
    if (fd.close() != 0) {
        const int error = errno;
        ::unlink(tempName.c_str());
        failErrno(kCannotCreate, fileName, error);
    }
    if (::rename(tempName.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(tempName.c_str());
        failErrno(kCannotCreate, fileName, error);
    }
    // Make the rename itself durable.
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

} // namespace quillet::engine
