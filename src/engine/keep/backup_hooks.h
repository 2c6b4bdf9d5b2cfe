// Backups beside each rewritten file (`--backup[=SUFFIX]`), and a chain that
// runs several CommitHooks around one rewrite (the journal and backups
// together). Engine layer; the run calls them through CommitHooks.
#pragma once

#include "engine/fs/commit_hooks.h"

#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quillet::engine {

// Keeps each file's old content as FILE+SUFFIX in the file's directory,
// written as safely as the file itself: the old bytes go to a temporary file
// beside it, get the old file's permission bits (and owner where the process
// may), are flushed to disk, and only then renamed over an existing backup,
// so that a failure halfway leaves the previous backup as it was. The
// directory is flushed before the rewrite goes on, so a crash cannot leave
// the new content without its backup.
// beforeReplace raises, refusing the rewrite:
//   "Cannot create backup "<directory>/<name><suffix>". <reason>"
// (a rewrite in place always fails so: its directory is not writable).
class BackupHooks : public CommitHooks {
public:
    // Raises "Invalid backup suffix "<suffix>": it must not be empty or hold
    // "/"" (an empty one would name the file itself).
    explicit BackupHooks(std::string suffix = ".bak");

    void beforeReplace(const ReplaceContext& context) override;

    // Whether (device, inode) is a backup this object made: a walk skips
    // them, so that a run never processes its own backups. Safe to call from
    // any thread while the run goes.
    bool madeThisRun(dev_t device, ino_t inode) const;
    bool madeByHooks(dev_t device, ino_t inode) const override { return madeThisRun(device, inode); }

    const std::string& suffix() const { return m_suffix; }

private:
    std::string m_suffix;
    mutable std::mutex m_mutex;
    std::set<std::pair<dev_t, ino_t>> m_made; // guarded by m_mutex
};

// Calls each hook in the order given. beforeReplace stops at the first that
// raises (the rewrite is refused; those before it have done their part, which
// a refused rewrite leaves harmless: the journal finds the file unchanged, a
// backup equals the file). keepsOldBytes: whether any of them does.
// Precondition: the hooks outlive the chain.
class HookChain : public CommitHooks {
public:
    HookChain() = default;
    explicit HookChain(std::vector<CommitHooks*> hooks) : m_hooks(std::move(hooks)) {}
    void add(CommitHooks& hooks) { m_hooks.push_back(&hooks); }
    bool empty() const { return m_hooks.empty(); }

    void beforeReplace(const ReplaceContext& context) override;
    void afterReplace(const ReplaceContext& context, const FileIdentity& now) override;
    void replaceAbandoned(const ReplaceContext& context) noexcept override;
    void makeDurable() override;
    bool keepsOldBytes() const override;
    bool madeByHooks(dev_t device, ino_t inode) const override;

private:
    std::vector<CommitHooks*> m_hooks;
};

} // namespace quillet::engine
