// Carrying a file's metadata over to the new file that replaces it: owner and
// group, permission bits, and extended attributes (which hold POSIX ACLs as
// system.posix_acl_access / system.posix_acl_default).
#pragma once

#include <string>

#include <sys/stat.h>

namespace quillet::engine {

// Gives the open file `to` the metadata of the open file `from`, in this
// order: owner and group (where the process may; changing them may clear
// set-id bits, so the mode comes after), permission bits, then every extended
// attribute of `from`. Returns an empty text on success, else the reason the
// file must not be replaced, naming what could not be carried over
// ("Cannot keep extended attribute user.x: Operation not supported"):
//   - the permission bits, a user.* attribute or an ACL (system.posix_acl_*)
//     that cannot be set is a failure: the new file would give less than the
//     old one did;
//   - other namespaces (security.*, trusted.*) are copied where the process
//     may and otherwise left to the system's defaults for a new file;
//   - an owner or group that cannot be kept is no failure (a user rewrites a
//     file it may write, but the new file is its own), as with `sed -i`.
std::string CopyFileMetadata(int from, int to);
// The same, with the status of `from` as the caller just took it.
std::string CopyFileMetadata(int from, const struct stat& fromStatus, int to);

} // namespace quillet::engine
