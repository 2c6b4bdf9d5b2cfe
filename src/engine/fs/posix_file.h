// Small pieces the engine's file code shares: the messages that name a file,
// writing a text in pieces. (The descriptor that closes itself is UniqueFd,
// engine/fs/durable_files.h.)
#pragma once

#include "engine/fs/durable_files.h"

#include <span>
#include <string>
#include <string_view>

namespace quillet::engine::detail {

inline constexpr const char* kCannotOpen = "Cannot open file";
inline constexpr const char* kCannotRead = "Cannot read file";
inline constexpr const char* kCannotCreate = "Cannot create file";

// Messages name the file by its full path, without resolving symlinks.
std::string fullPath(const std::string& fileName);
// Raises quillet::Error: `<what> "<full path>". <reason>`.
[[noreturn]] void fail(const char* what, const std::string& fileName, const std::string& reason);
[[noreturn]] void failErrno(const char* what, const std::string& fileName, int error);

// Writes all of a text in pieces, in order, with as few calls as the system
// allows (writev), at the descriptor's offset (or, with offset >= 0, from
// there on); false with errno set on failure.
bool writePieces(int fd, std::span<const std::string_view> pieces, long long offset = -1);

} // namespace quillet::engine::detail
