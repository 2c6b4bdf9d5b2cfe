#include "cli/detached_deletion.h"

#include "engine/keep/journal.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace quillet::cli {

void DeleteDroppedRunsDetached(const engine::JournalPlace& place) {
    // What waits in a buffer would be written twice, once by each process.
    (void)std::fflush(nullptr);
    if (::fork() != 0)
        return;
    // Out of the caller's session and process group: a shell, `timeout` or
    // a terminal's hangup acts on the command, not on this clean-up. With
    // no descriptor of the caller's, no pipe stays open for its reader.
    (void)::setsid();
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd <= 2 && null >= 0; ++fd)
        (void)::dup2(null, fd);
    (void)::close_range(3, ~0U, 0);
    (void)::nice(10); // NOLINT(concurrency-mt-unsafe): the only thread
    engine::DeleteDroppedRuns(place);
    ::_exit(0);
}

} // namespace quillet::cli
