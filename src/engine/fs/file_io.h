// Whole-file read and safe rewrite. A file is handled as one byte string of
// exactly its size: no encoding, line-end or byte-order-mark handling.
#pragma once

#include "core/text_ops.h"
#include "engine/fs/file_identity.h"
#include "engine/fs/file_location.h"
#include "engine/fs/mapping_guard.h"

#include <cstdint>

#include <string>
#include <string_view>

namespace quillet::engine {

// Reads the whole file into text, until end of file, checking every read.
// Only a regular file (or a symlink to one) is opened; anything else raises
// "Cannot open file "<path>". Not a regular file" without blocking (a FIFO is
// opened non-blocking and refused). Failures raise quillet::Error:
//   "Cannot open file "<path>". <reason>"   the file cannot be opened
//   "Cannot read file "<path>". <reason>"   a read failed
// <path> is the absolute path; text is left empty on failure.
void LoadFileText(const std::string& fileName, std::string& text);

// A whole file's bytes, for the run's own reading: unlike a std::string the
// buffer is not zero-filled before the read, and it grows without copying
// what it holds more than a few times. A large file is mapped instead of read
// (FileReader::readAll): its bytes are then the system's cached pages, not a
// copy of them.
class FileBytes : public core::TextSink {
public:
    FileBytes() = default;
    ~FileBytes() override;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    FileBytes(FileBytes&& other) noexcept;
    FileBytes& operator=(FileBytes&& other) noexcept;

    std::string_view view() const { return {m_data, m_size}; }
    std::size_t size() const { return m_size; }
    char* data() { return m_data; }
    // Makes room for `size` bytes, keeping the first size() of them; the
    // bytes after those are undefined until written.
    void resize(std::size_t size);
    void clear() override;
    void reserve(std::size_t capacity) override;
    void append(std::string_view bytes) override;

    // Maps `size` bytes of the open file `fd` in place of what this held;
    // false (holding nothing) when the system refuses.
    bool mapFile(int fd, std::size_t size);
    // For mapped bytes: whether the file shrank under the mapping since, so
    // that some of them read as zeros (see mapping_guard.h). Whatever was made
    // from torn bytes is void: the file changed while it was read.
    bool torn() const { return m_guard.torn(); }
    // The bytes are in memory of their own from malloc (under 2 MiB), which
    // may be kept to read another file into.
    bool heldOnHeap() const { return m_storage == Storage::Heap && m_data != nullptr; }

private:
    enum class Storage : std::uint8_t { Heap, Anonymous, File };
    void release();
    void grow(std::size_t capacity);

    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    Storage m_storage = Storage::Heap;
    MappingGuard m_guard; // for Storage::File
};

// Files from this size on are mapped rather than read (FileReader::readAll).
inline constexpr std::size_t kMapFilesFrom = std::size_t{256} << 10;

// LoadFileText into a FileBytes, with the same checks and messages.
void LoadFileBytes(const std::string& fileName, FileBytes& bytes);

// A regular file opened for reading piece by piece, with the checks and
// messages of LoadFileText. The file is opened without blocking and without
// becoming a controlling terminal, and refused unless the descriptor itself
// is a regular file, before anything else is done with it. An entry of a walk
// is opened relative to its directory and never through a symlink (a symlink
// swapped in since the listing gives "Cannot open file "<path>". Too many
// levels of symbolic links").
//
// The reader names the file by the caller's string (in messages), which must
// outlive it: most files of a run are read and dropped, and a copy of each
// path would cost more than its search.
class FileReader {
public:
    explicit FileReader(const std::string& fileName);
    explicit FileReader(const FileLocation& location);
    FileReader(std::string&&) = delete;
    FileReader(FileLocation&&) = delete;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Size of the file when it was opened (it may change while it is read).
    std::size_t sizeHint() const { return m_sizeHint; }
    // The file as it was opened: compare with what stands at its place later.
    const FileIdentity& identity() const { return m_identity; }
    // Up to `want` bytes; 0 at end of file. Raises "Cannot read file ...".
    // Once a read has come back short of what it asked for exactly at the
    // size the file had when it was opened, the end is known and the reads
    // after it return 0 without asking the system. (A file that grows after
    // that read is the same race as one that grows after its last read; a
    // file whose size reads as 0, as many under /proc do, is always asked.)
    std::size_t read(char* into, std::size_t want);
    // A read has met the end of the file (see read()): what was read is the
    // whole file as it stood then, not a prefix of it.
    bool metEnd() const { return m_metEnd; }
    // Bytes read() returned so far: where the next read() begins.
    std::uint64_t offset() const { return m_offset; }
    // Up to `want` bytes from `at` on, as read() but without moving where it
    // reads: several threads may read one file at once. 0 at end of file.
    std::size_t readAt(char* into, std::size_t want, std::uint64_t at) const;
    // The whole rest of the file, with the checks of LoadFileBytes; a large
    // file not yet read from is mapped instead (its size when opened), where
    // the system allows.
    void readAll(FileBytes& bytes);

private:
    void open(int directoryFd, const char* name, int noFollow);

    const std::string& m_fileName;
    int m_fd = -1;
    std::size_t m_sizeHint = 0;
    bool m_consumed = false;  // read() was called
    std::size_t m_offset = 0; // bytes read() returned so far
    bool m_metEnd = false;
    FileIdentity m_identity;
};

// Replaces the file's content with text, atomically: the text goes to a
// temporary file in the same directory, is flushed to disk, gets the
// original's permission bits, owner and group (where the process may),
// extended attributes and ACLs, and is renamed over the original. Whatever
// happens, the file holds either its old or its new content, and no
// temporary file stays behind after a failure that the process survives. A
// symlink is kept and its target rewritten; a file with several hard links
// becomes a file of its own under this name. A file whose owner has no write
// permission is refused, also for root. Where no temporary file can be made
// beside it (the directory is not writable, or append-only), the file is
// refused: rewriting it in place could leave it half written, and only a run
// that keeps the old bytes (see commit_hooks.h) does that.
// Failures raise "Cannot create file "<path>". <reason>".
void SaveFileText(std::string_view text, const std::string& fileName);

} // namespace quillet::engine
