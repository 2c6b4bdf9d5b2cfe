// Whole-file read and safe rewrite. A file is handled as one byte string of
// exactly its size: no encoding, line-end or byte-order-mark handling.
#pragma once

#include "core/text_ops.h"

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
// what it holds more than a few times.
// It also serves as the output of a text operation on a large file.
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
    void clear() override { m_size = 0; }
    void reserve(std::size_t capacity) override;
    void append(std::string_view bytes) override;

private:
    void release();
    void grow(std::size_t capacity);

    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    bool m_mapped = false;
};

// LoadFileText into a FileBytes, with the same checks and messages.
void LoadFileBytes(const std::string& fileName, FileBytes& bytes);

// A regular file opened for reading piece by piece, with the checks and
// messages of LoadFileText.
class FileReader {
public:
    explicit FileReader(const std::string& fileName);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Size of the file when it was opened (it may change while it is read).
    std::size_t sizeHint() const { return m_sizeHint; }
    // Up to `want` bytes; 0 at end of file. Raises "Cannot read file ...".
    std::size_t read(char* into, std::size_t want);

private:
    std::string m_fileName;
    int m_fd = -1;
    std::size_t m_sizeHint = 0;
};

// Replaces the file's content with text, atomically: the text goes to a
// temporary file in the same directory, is flushed to disk, gets the
// original's permission bits (owner and group where the process may), and is
// renamed over the original. Whatever happens, the file holds either its old
// or its new content, and no temporary file stays behind after a failure
// that the process survives. A symlink is kept and its target rewritten; a
// file with several hard links becomes a file of its own under this name.
// Where no temporary file can be made beside it (the directory is not
// writable) but the file itself is, it is rewritten in place.
// Failures raise "Cannot create file "<path>". <reason>".
void SaveFileText(std::string_view text, const std::string& fileName);

} // namespace quillet::engine
