// What a run lets others do around each rewrite, for features that keep the
// old content (the run journal, backups) without the run knowing them.
#pragma once

#include "engine/file_identity.h"

#include <string>
#include <string_view>

namespace quillet::engine {

// One file about to be replaced, and then replaced. The old file is still in
// place, unchanged since it was read (the run has checked its identity), when
// beforeReplace runs.
struct ReplaceContext {
    int DirectoryFd = -1;        // the directory that holds the file
    std::string_view Name;       // the file's name in that directory
    std::string_view ListedPath; // the path as the run lists it (for messages and records)
    int OldFd = -1;              // the old file, open for reading
    FileIdentity Old;            // the old file as it was read
    std::string_view OldText;    // its bytes
    std::string_view NewText;    // what replaces them
};

class CommitHooks {
public:
    virtual ~CommitHooks() = default;
    // Before the new content replaces the old. Throwing quillet::Error
    // refuses the rewrite: the file keeps its old content and the run reports
    // the error as for any file that cannot be written.
    virtual void beforeReplace(const ReplaceContext&) {}
    // After the new content is in place, with the identity of the new file.
    virtual void afterReplace(const ReplaceContext&, const FileIdentity& /*now*/) {}
};

} // namespace quillet::engine
