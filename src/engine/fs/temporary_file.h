// The file that holds a rewrite's new content until it takes the old file's
// place: made in the old file's folder, unnamed where the file system allows
// (so that a process killed by SIGKILL leaves nothing behind), named
// ".quillet-XXXXXX" only right before the swap that needs a name, and
// removed on every way out but the one that puts it in place, including a
// stop signal (DiscardTemporaryFileOnSignal). The one kind of temporary file
// the engine makes; the rewrite (engine/fs/rewrite.h) uses it.
#pragma once

#include "engine/fs/durable_files.h"

#include <cstddef>

namespace quillet::engine {

class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { discard(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Makes the file, mode 0600, in the folder: unnamed where the file
    // system can (ext4, xfs, btrfs, tmpfs), else ".quillet-XXXXXX" at once.
    // Returns false with errno set on failure. The folder's descriptor must
    // stay open until the file is renamed or discarded.
    bool create(int directoryFd);
    // Instead of create(): links an existing inode (`name` in fromDirectoryFd)
    // into the folder under a fresh ".quillet-XXXXXX" name and opens it to
    // read; discard() removes that name only. False with errno set where it
    // cannot be linked there (another file system, a folder not writable).
    bool adopt(int directoryFd, int fromDirectoryFd, const char* name);
    int fd() const { return m_fd.get(); }
    // Gives an unnamed file its name, right before the swap that needs one;
    // false with errno set on failure. A fixed length, so that the name of
    // the file beside it does not matter.
    bool giveName();
    // Its name once it has one.
    const char* name() const { return m_name; }
    // The file is in place under another name: nothing to remove any more.
    void markRenamed();
    bool renamed() const { return m_directory < 0; }
    // Closes the file and removes it if it has a name. Idempotent.
    void discard();

    static constexpr std::size_t kNameSize = 16; // ".quillet-XXXXXX" and its NUL

private:
    template <typename Make>
    bool makeName(int directoryFd, Make make);
    void announce(int directoryFd, const char* name);

    UniqueFd m_fd;
    int m_unnamed = -1;   // the directory of an unnamed file, until giveName()
    int m_directory = -1; // the directory of a named file
    int m_slot = -1;
    char m_name[kNameSize] = {};
};

// Removes every named temporary file of this process that is not yet in
// place. Async-signal-safe: for a handler of a signal that ends the process.
void DiscardTemporaryFileOnSignal() noexcept;

} // namespace quillet::engine
