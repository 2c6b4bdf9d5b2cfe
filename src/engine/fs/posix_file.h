// Small pieces the engine's file code shares: a descriptor closed on every
// path, the messages that name a file, writing a whole buffer.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace quillet::engine::detail {

// Closes a descriptor on every path out of a scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);
    // Closes now and reports the result: a deferred write error can show up here.
    int close();

private:
    int m_fd;
};

inline constexpr const char* kCannotOpen = "Cannot open file";
inline constexpr const char* kCannotRead = "Cannot read file";
inline constexpr const char* kCannotCreate = "Cannot create file";

// Messages name the file by its full path, without resolving symlinks.
std::string fullPath(const std::string& fileName);
// Raises quillet::Error: `<what> "<full path>". <reason>`.
[[noreturn]] void fail(const char* what, const std::string& fileName, const std::string& reason);
[[noreturn]] void failErrno(const char* what, const std::string& fileName, int error);

// Writes all of text at the descriptor's offset (or, with offset >= 0, from
// there on); false with errno set on failure.
bool writeAll(int fd, std::string_view text, long long offset = -1);
// writeAll for a text in pieces, written in order with as few calls as the
// system allows (writev).
bool writePieces(int fd, std::span<const std::string_view> pieces, long long offset = -1);

} // namespace quillet::engine::detail
