#include "engine/fs/file_metadata.h"

#include "engine/fs/durable_files.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace quillet::engine {

namespace {

bool mustKeep(std::string_view name) {
    return name.starts_with("user.") || name.starts_with("system.posix_acl_");
}

std::string failure(std::string_view what, int error) {
    return std::string(what) + ": " + ErrnoText(error);
}

// The attribute names of fd, NUL-separated; false with errno on failure.
bool listNames(int fd, std::vector<char>& names) {
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0)
            return false;
        names.resize(static_cast<std::size_t>(size));
        if (size == 0)
            return true;
        const ssize_t got = ::flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) // grown meanwhile: ask again
            return false;
    }
}

bool readValue(int fd, const char* name, std::vector<char>& value) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0)
            return false;
        value.resize(static_cast<std::size_t>(size));
        if (size == 0)
            return true;
        const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

} // namespace

std::string CopyFileMetadata(int from, int to) {
    struct stat info {};
    if (::fstat(from, &info) != 0)
        return failure("Cannot read the file's attributes", errno);
    return CopyFileMetadata(from, info, to);
}

std::string CopyFileMetadata(int from, const struct stat& info, int to) {
    if (::fchown(to, info.st_uid, info.st_gid) != 0)
        (void)!::fchown(to, static_cast<uid_t>(-1), info.st_gid);
    if (::fchmod(to, info.st_mode & 07777) != 0)
        return failure("Cannot keep the permissions", errno);

    std::vector<char> names;
    if (!listNames(from, names)) {
        // A file system without extended attributes has none to keep.
        if (errno == ENOTSUP)
            return {};
        return failure("Cannot list extended attributes", errno);
    }
    std::vector<char> value;
    for (std::size_t at = 0; at < names.size();) {
        const char* name = names.data() + at;
        at += std::strlen(name) + 1;
        const bool keep = mustKeep(name);
        if (!readValue(from, name, value)) {
            if (errno == ENODATA) // removed meanwhile
                continue;
            if (keep)
                return failure(std::string("Cannot keep extended attribute ") + name, errno);
            continue;
        }
        if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0 && keep)
            return failure(std::string("Cannot keep extended attribute ") + name, errno);
    }
    return {};
}

} // namespace quillet::engine
