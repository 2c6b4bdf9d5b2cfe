// Test helper: rewrites a file the way the run does around its CommitHooks
// (new content in a synced temporary file beside it, beforeReplace, rename,
// afterReplace; or in place when asked), so that hooks can be tested before
// and apart from the run.
#pragma once

#include "engine/fs/commit_hooks.h"
#include "engine/fs/durable_files.h"
#include "engine/fs/temporary_file.h"
#include "engine/fs/file_metadata.h"

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet::testutil {

enum class RewriteShape {
    Rename,
    InPlace,
    KilledBeforeRecord,   // SIGKILL with the old bytes kept, before the batch's records are written
    KilledBeforeRename,   // SIGKILL with the new content staged and recorded, not yet in place
    KilledAfterRename,    // SIGKILL right after the rename, before afterReplace
    KilledHalfwayInPlace, // SIGKILL with half the new bytes written over the old
};

// `path` is the real file; the run lists it as `listedPath` (a symlink to
// it, say), or as `path` when that is empty.
inline void rewriteWithHooks(engine::CommitHooks& hooks, const std::string& path, const std::string& newText,
                             RewriteShape shape = RewriteShape::Rename, const std::string& listedPath = {}) {
    using engine::UniqueFd;
    const auto slash = path.rfind('/');
    const std::string directory = path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    UniqueFd old(::openat(dir.get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info {};
    if (!old.valid() || ::fstat(old.get(), &info) != 0)
        throw std::runtime_error("cannot open " + path);
    std::string oldText(static_cast<std::size_t>(info.st_size), '\0');
    if (::pread(old.get(), oldText.data(), oldText.size(), 0) != static_cast<ssize_t>(oldText.size()))
        throw std::runtime_error("cannot read " + path);

    engine::ReplaceContext context;
    context.DirectoryFd = dir.get();
    context.Name = name;
    context.ListedPath = listedPath.empty() ? path : listedPath;
    context.OldFd = old.get();
    context.Old = engine::FileIdentity::of(info);
    context.OldText = oldText;
    const std::string_view newPiece = newText;
    context.NewText = engine::TextPieces(&newPiece, 1);
    const bool inPlace = shape == RewriteShape::InPlace || shape == RewriteShape::KilledHalfwayInPlace;
    engine::TemporaryFile temp;
    if (!inPlace) {
        // Named at once: a run killed before its rename is one killed between
        // naming the new content and putting it in place.
        if (!temp.create(dir.get()) || !engine::WriteAll(temp.fd(), newText) ||
            !engine::CopyFileMetadata(old.get(), temp.fd()).empty() || ::fsync(temp.fd()) != 0 || !temp.giveName())
            throw std::runtime_error("cannot write the new file for " + path);
        context.NewFd = temp.fd();
    }
    hooks.beforeReplace(context); // a refusal leaves the new file to `temp`, which removes it
    if (shape == RewriteShape::KilledBeforeRecord)
        ::raise(SIGKILL);
    hooks.makeDurable(); // as the run does before it puts any file in place
    struct stat now {};
    if (inPlace) {
        UniqueFd out(::openat(dir.get(), name.c_str(), O_WRONLY | O_CLOEXEC));
        const std::string written =
            shape == RewriteShape::KilledHalfwayInPlace ? newText.substr(0, newText.size() / 2) : newText;
        if (!out.valid() || ::ftruncate(out.get(), 0) != 0 || !engine::WriteAll(out.get(), written))
            throw std::runtime_error("cannot rewrite " + path);
        if (shape == RewriteShape::KilledHalfwayInPlace)
            ::raise(SIGKILL);
        ::fstat(out.get(), &now);
    } else {
        if (shape == RewriteShape::KilledBeforeRename)
            ::raise(SIGKILL);
        if (::renameat(dir.get(), temp.name(), dir.get(), name.c_str()) != 0)
            throw std::runtime_error("cannot rename over " + path);
        temp.markRenamed();
        if (shape == RewriteShape::KilledAfterRename)
            ::raise(SIGKILL);
        ::fstat(temp.fd(), &now);
    }
    hooks.afterReplace(context, engine::FileIdentity::of(now));
}

} // namespace quillet::testutil
