// Small building blocks for the modules that keep and give back old file
// content (the run journal, undo, backups): a descriptor that closes itself,
// complete writes, a fresh temporary file inside a directory descriptor, and
// a byte copy between descriptors that lets the file system share blocks.
// POSIX and Linux only; no path of its own, no messages: callers say what
// failed.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <sys/types.h>
#include <vector>

namespace quillet::engine {

// Closes a descriptor on every path out of a scope.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd = -1);
    int release() { return std::exchange(m_fd, -1); }
    // Closes now and reports the result: a deferred write error can show up here.
    int close();

private:
    int m_fd;
};

// The text of errno value `error` ("No such file or directory"). Safe on any
// thread (files are read and staged on the run's workers), unlike strerror.
std::string ErrnoText(int error);

// Writes all of bytes at the descriptor's position (or, with offset >= 0,
// from there on); false with errno set on failure (a write of 0 bytes counts
// as EIO).
bool WriteAll(int fd, std::string_view bytes, long long offset = -1);

// Reads from the descriptor's position to the end of file into text; false
// with errno set on failure.
bool ReadAll(int fd, std::string& text);

// Lowercase hexadecimal of `digits` random nibbles, from the kernel's
// random source (falling back to the clock and process id where it fails).
std::string RandomHex(std::size_t digits);

// Unnamed files (O_TMPFILE: ext4, xfs, btrfs, tmpfs), for content that is to
// take another file's place: a process killed before it is put in place
// leaves nothing behind. Invalid with errno on failure; NoUnnamedFiles(errno)
// tells that the file system has none (or they could not be linked here), so
// a named file must do.
UniqueFd CreateUnnamedFileAt(int directoryFd, mode_t mode);
bool NoUnnamedFiles(int error);
// Gives the file open as `fd` (an unnamed file, or one with names of its
// own) the name `name` in directoryFd: the very inode the descriptor holds,
// whatever its other names stand for by now. Straight from the descriptor
// where the system lets the process (Linux 6.10 on, for a file it opened
// itself; earlier, with CAP_DAC_READ_SEARCH), else through /proc. False with
// errno (EEXIST: the name is taken; ENOENT: the file has no name left, or
// neither way is open to the process).
bool LinkOpenFile(int fd, int directoryFd, const char* name);

// Copies `size` bytes of `from`, read from fromOffset on (whatever its
// position), to `to` at offset 0, then truncates `to` to `size`. Tries, in
// order: a reflink of the whole file (FICLONE, where the file system shares
// blocks between files; only from offset 0), copy_file_range (done by the
// kernel, without a trip through this process), then pread/pwrite. False with
// errno set on failure; EIO when `from` turns out shorter.
bool CopyFileBytes(int from, int to, std::int64_t size, std::int64_t fromOffset = 0);

// Flushes a directory so that the names created or renamed in it last
// through a crash. A failure is ignored where the file system does not flush
// directories (EINVAL); false with errno set otherwise.
bool SyncDirectory(int directoryFd);
// Flushes a file's content and metadata (fsync); false with errno set.
bool SyncFile(int fd);
// Flushes the whole file system that holds `fd` (syncfs): one flush, one
// commit of its journal, for any number of files and folders written on it.
// It also writes whatever other programs left unwritten there. False with
// errno set where a write-back error was met on that file system since `fd`
// was opened, which may be another file's: ask each file (SyncFile) to tell
// which.
bool SyncFileSystem(int fd);
// Whether one flush of the whole file system (SyncFileSystem) is the cheap
// way to make `ownBytes` just written durable, rather than a flush of each
// file or folder concerned. A whole file system's flush writes whatever else
// waits there too: another program's unflushed writes, or the old files a
// run's journal keeps by a hard link; where the system holds much more
// unwritten data than `ownBytes` (as /proc/meminfo counts it, on any file
// system), the flushes one by one cost less. True where it cannot be told.
bool FileSystemFlushPays(std::int64_t ownBytes);
// Starts writing back `length` bytes of `fd` from `offset` (0: to the end)
// without waiting for them, so that the disk works while the program goes
// on and a later flush finds less to write. Errors are left to that flush.
void StartWriteBack(int fd, std::int64_t offset, std::int64_t length);

// The names in an open directory, but "." and ".."; empty where it cannot be
// read. Leaves the descriptor's own position alone.
std::vector<std::string> NamesIn(int directoryFd);

// Whether the file system that holds `fd` loses its content at a restart
// (tmpfs, ramfs): nothing written about its files needs to outlast a crash.
// False where it cannot be told.
bool OnVolatileFileSystem(int fd);
// The same for the file system of `device` (which holds fd), asked once per
// device for the whole process. Safe to call from any thread.
bool OnVolatileDevice(dev_t device, int fd);

namespace detail {
// For tests: how temporary files are made, whatever the system allows.
// Unnamed (the default) links them straight from the descriptor where the
// system lets the process, else through /proc; UnnamedLinkedThroughProc
// always through /proc; Named names them from the start, as on a file system
// without unnamed files.
enum class TemporaryFiles { Unnamed, UnnamedLinkedThroughProc, Named };
extern std::atomic<TemporaryFiles> g_temporaryFiles;

// For tests: the flushes SyncFile, SyncDirectory and SyncFileSystem made in
// this process, and a fault to meet instead of one (the errno it returns;
// 0: flush as usual).
enum class Flush { File, Directory, FileSystem };
struct FlushCounts {
    int Files = 0;
    int Directories = 0;
    int FileSystems = 0;
};
FlushCounts FlushesMade();
using FlushFault = int (*)(Flush kind, int fd);
extern std::atomic<FlushFault> g_flushFault;
// For tests: how many bytes the system holds unwritten, in place of what
// /proc/meminfo says (nullptr: ask it).
using UnwrittenBytes = std::int64_t (*)();
extern std::atomic<UnwrittenBytes> g_unwrittenBytes;
} // namespace detail

} // namespace quillet::engine
