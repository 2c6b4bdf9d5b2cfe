#include "engine/fs/file_io.h"

#include "core/error.h"
#include "engine/fs/posix_file.h"
#include "engine/fs/rewrite.h"

#include <algorithm>
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

using namespace detail;

namespace {

constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Reads the rest of the reader's file into buffer (anything with data(),
// size() and a resize() that keeps its contents). The size from fstat is a
// first guess: the file may grow or shrink while it is read, so keep exactly
// what arrived. A rewrite checks before it writes that nothing follows the
// bytes read (StagedRewrite::stage).
template <class Buffer>
void readWhole(FileReader& reader, Buffer& buffer) {
    buffer.clear();
    try {
        const std::size_t reported = reader.sizeHint();
        std::size_t filled = 0;
        // One byte more than the size reported: a read that comes back short
        // of it has met the end, and no further read is needed to see it. A
        // file that grew fills it, and is read on.
        buffer.resize(reported + 1);
        for (;;) {
            if (filled == buffer.size())
                buffer.resize(filled + std::max<std::size_t>(filled, 4096));
            const std::size_t got = reader.read(buffer.data() + filled, buffer.size() - filled);
            if (got == 0)
                break;
            filled += got;
            if (filled == reported)
                break;
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
    open(AT_FDCWD, fileName.c_str(), 0);
}

FileReader::FileReader(const FileLocation& location) : m_fileName(location.Path) {
    if (location.Directory)
        open(location.Directory->Fd, location.Name.c_str(), O_NOFOLLOW);
    else
        open(AT_FDCWD, location.Path.c_str(), 0);
}

void FileReader::open(int directoryFd, const char* name, int noFollow) {
    // Non-blocking, so that opening a FIFO never waits for a writer.
    UniqueFd fd(::openat(directoryFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | noFollow));
    if (fd.get() < 0)
        failErrno(kCannotOpen, m_fileName, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        failErrno(kCannotOpen, m_fileName, errno);
    if (!S_ISREG(info.st_mode))
        fail(kCannotOpen, m_fileName, "Not a regular file");
    // O_NONBLOCK stays: it changes nothing for a regular file, and clearing
    // it would cost two calls per file.
    m_sizeHint = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
    m_identity = FileIdentity::of(info);
    m_fd = fd.release();
}

FileReader::~FileReader() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t FileReader::read(char* into, std::size_t want) {
    m_consumed = true;
    // Known already: asking again would only meet the end once more. Most
    // files fit in the first read, and this saves their second one.
    if (m_metEnd)
        return 0;
    if (want > kMaxTransfer)
        want = kMaxTransfer;
    for (;;) {
        const ssize_t got = ::read(m_fd, into, want);
        if (got >= 0) {
            const auto count = static_cast<std::size_t>(got);
            m_offset += count;
            // A read that returns nothing is at the end. One that returns
            // less than asked is too, for a regular file, where it stops at
            // the size the file had: a file whose size reads as 0 (/proc)
            // may still hold bytes, and hands them out in short pieces.
            if (count < want && (count == 0 || (m_sizeHint > 0 && m_offset == m_sizeHint)))
                m_metEnd = true;
            return count;
        }
        if (errno != EINTR)
            failErrno(kCannotRead, m_fileName, errno);
    }
}

std::size_t FileReader::readAt(char* into, std::size_t want, std::uint64_t at) const {
    for (;;) {
        const ssize_t got = ::pread(m_fd, into, std::min(want, kMaxTransfer), static_cast<off_t>(at));
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            failErrno(kCannotRead, m_fileName, errno);
    }
}

void FileReader::readAll(FileBytes& bytes) {
    // Reading a large file into fresh memory costs more in the system's page
    // allocation than in the copy itself; the mapping shares the cached pages.
    if (m_sizeHint >= kMapFilesFrom && !m_consumed && bytes.mapFile(m_fd, m_sizeHint))
        return;
    readWhole(*this, bytes);
}

void LoadFileText(const std::string& fileName, std::string& text) {
    text.clear();
    FileReader reader(fileName);
    readWhole(reader, text);
}

void LoadFileBytes(const std::string& fileName, FileBytes& bytes) {
    bytes.clear();
    FileReader reader(fileName);
    readWhole(reader, bytes);
}

FileBytes::~FileBytes() {
    release();
}

FileBytes::FileBytes(FileBytes&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)), m_storage(std::exchange(other.m_storage, Storage::Heap)),
      m_guard(std::move(other.m_guard)) {}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_storage = std::exchange(other.m_storage, Storage::Heap);
        m_guard = std::move(other.m_guard);
    }
    return *this;
}

void FileBytes::release() {
    m_guard.release();
    if (m_storage == Storage::Heap)
        std::free(m_data);
    else if (m_data != nullptr)
        ::munmap(m_data, m_capacity);
    m_data = nullptr;
    m_size = m_capacity = 0;
    m_storage = Storage::Heap;
}

void FileBytes::clear() {
    // A mapping is read-only: what comes next needs memory of its own.
    if (m_storage == Storage::File)
        release();
    m_size = 0;
}

bool FileBytes::mapFile(int fd, std::size_t size) {
    release();
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED)
        return false;
    m_data = static_cast<char*>(mapped);
    m_size = m_capacity = size;
    m_storage = Storage::File;
    // Unguarded, a file cut short by someone else would crash the process.
    if (!m_guard.guard(m_data, size)) {
        release();
        return false;
    }
    return true;
}

// Small buffers come from malloc, large ones straight from mmap. Untouched
// capacity costs address space only. (Asking for huge pages saved page
// faults but made the time of a large rewrite swing by seconds while the
// kernel compacted memory for them.)
void FileBytes::grow(std::size_t capacity) {
    if (capacity <= m_capacity)
        return;
    if (capacity < kMapFrom && m_storage == Storage::Heap) {
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
    m_storage = Storage::Anonymous;
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
    RewriteFile(FileLocation::atPath(fileName), text, RewriteRequest{});
}

} // namespace quillet::engine
