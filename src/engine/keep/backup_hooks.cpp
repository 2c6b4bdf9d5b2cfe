#include "engine/keep/backup_hooks.h"

#include "core/error.h"
#include "engine/fs/durable_files.h"
#include "engine/fs/rewrite.h"
#include "finder/file_finder.h"

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
    // The backup is written down the road every rewrite takes: complete and
    // flushed beside the file, put in place by a rename over an earlier
    // backup (never through a link standing in its place), the folder
    // flushed after. It takes the old file's owner, group, mode and
    // extended attributes.
    auto directory = std::make_shared<finder::OpenDirectory>(::dup(context.DirectoryFd), std::string());
    FileLocation location;
    location.Name = std::string(context.Name) + m_suffix;
    std::string listed(context.ListedPath);
    const auto slash = listed.rfind('/');
    location.Path = (slash == std::string::npos ? std::string() : listed.substr(0, slash + 1)) + location.Name;
    if (directory->Fd < 0)
        throw Error("Cannot create backup \"" + location.Path + "\". " + ErrnoText(errno));
    location.Directory = std::move(directory);
    NewFileMetadata metadata;
    metadata.From = context.OldFd;
    RewriteRequest request;
    request.Metadata = &metadata;
    // Known before it shows under its name, so a walk never meets it
    // unrecognised.
    request.OnNewFile = [this](const FileIdentity& made) {
        std::lock_guard lock(m_mutex);
        m_made.emplace(made.Device, made.Inode);
    };
    try {
        RewriteFile(location, context.OldText, request);
    } catch (const Error& error) {
        throw Error("Cannot create backup \"" + location.Path + "\". " + error.reason());
    }
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
