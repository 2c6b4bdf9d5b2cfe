// What a file was when it was read, to tell later whether the file standing at
// the same place is still that one, unchanged: an editor's save (a new inode
// renamed in), an append, a delete, a symlink re-pointed all change it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>

namespace quillet::engine {

struct FileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    std::int64_t Size = 0;
    std::int64_t ModifiedNs = 0; // st_mtim, nanoseconds since the epoch
    std::int64_t ChangedNs = 0;  // st_ctim: also moves on chmod, chown, link, xattr changes

    static FileIdentity of(const struct stat& info) {
        FileIdentity id;
        id.Device = info.st_dev;
        id.Inode = info.st_ino;
        id.Size = static_cast<std::int64_t>(info.st_size);
        id.ModifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        id.ChangedNs = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
        return id;
    }
    // The same inode; its content may have changed.
    bool sameInode(const FileIdentity& other) const { return Device == other.Device && Inode == other.Inode; }
    // The same inode with the same size and times: nothing wrote to it since.
    // (Times are as fine as the file system keeps them, so a same-size
    // overwrite within one clock tick of the kernel is not seen.)
    bool operator==(const FileIdentity& other) const = default;
};

} // namespace quillet::engine
