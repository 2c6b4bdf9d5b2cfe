#include "engine/keep/backup_hooks.h"

#include "core/error.h"
#include "engine/fs/durable_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet::engine {

BackupHooks::BackupHooks(std::string suffix) : m_suffix(std::move(suffix)) {
    if (m_suffix.empty() || m_suffix.find('/') != std::string::npos)
        throw Error("Invalid backup suffix \"" + m_suffix + "\": it must not be empty or hold \"/\"");
}

void BackupHooks::beforeReplace(const ReplaceContext& context) {
    const std::string backupName = std::string(context.Name) + m_suffix;
    auto fail = [&](int error) {
        std::string path(context.ListedPath);
        const auto slash = path.rfind('/');
        path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + backupName;
        throw Error("Cannot create backup \"" + path + "\". " + ErrnoText(error));
    };
    struct stat old {};
    if (::fstat(context.OldFd, &old) != 0)
        fail(errno);

    TempFile temp = CreateTempFileAt(context.DirectoryFd);
    if (!temp.Fd.valid())
        fail(temp.Error);
    auto abandon = [&](int error) {
        DiscardTempFile(temp);
        fail(error);
    };
    if (!WriteAll(temp.Fd.get(), context.OldText))
        abandon(errno);
    // Owner and group first: changing them may clear set-id bits.
    if (::fchown(temp.Fd.get(), old.st_uid, old.st_gid) != 0)
        (void)!::fchown(temp.Fd.get(), static_cast<uid_t>(-1), old.st_gid);
    struct stat made {};
    if (::fchmod(temp.Fd.get(), old.st_mode & 07777) != 0 || ::fsync(temp.Fd.get()) != 0 ||
        ::fstat(temp.Fd.get(), &made) != 0)
        abandon(errno);
    {
        // Known before it shows under its name, so a walk never meets it
        // unrecognised.
        std::lock_guard lock(m_mutex);
        m_made.emplace(made.st_dev, made.st_ino);
    }
    if (!NameTempFile(temp) ||
        ::renameat(context.DirectoryFd, temp.Name.c_str(), context.DirectoryFd, backupName.c_str()) != 0) {
        const int error = errno;
        {
            std::lock_guard lock(m_mutex);
            m_made.erase({made.st_dev, made.st_ino});
        }
        abandon(error);
    }
    if (!SyncDirectory(context.DirectoryFd))
        fail(errno);
}

bool BackupHooks::madeThisRun(dev_t device, ino_t inode) const {
    std::lock_guard lock(m_mutex);
    return m_made.contains({device, inode});
}

void HookChain::beforeReplace(const ReplaceContext& context) {
    for (CommitHooks* hooks : m_hooks)
        hooks->beforeReplace(context);
}

void HookChain::afterReplace(const ReplaceContext& context, const FileIdentity& now) {
    for (CommitHooks* hooks : m_hooks)
        hooks->afterReplace(context, now);
}

void HookChain::makeDurable() {
    for (CommitHooks* hooks : m_hooks)
        hooks->makeDurable();
}

void HookChain::replaceAbandoned(const ReplaceContext& context) noexcept {
    for (CommitHooks* hooks : m_hooks)
        hooks->replaceAbandoned(context);
}

bool HookChain::madeByHooks(dev_t device, ino_t inode) const {
    for (const CommitHooks* hooks : m_hooks)
        if (hooks->madeByHooks(device, inode))
            return true;
    return false;
}

bool HookChain::keepsOldBytes() const {
    for (const CommitHooks* hooks : m_hooks)
        if (hooks->keepsOldBytes())
            return true;
    return false;
}

} // namespace quillet::engine
