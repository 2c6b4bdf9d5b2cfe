// The deletion of the runs a journal dropped, after the command line's run
// has ended, in a process of its own.
#pragma once

#include "engine/keep/journal_settings.h"

namespace quillet::cli {

// Deletes the runs the journal at `place` hid to be deleted
// (engine::DeleteDroppedRuns) in a child process that leaves this one's
// session and holds none of its descriptors, so that this process can end
// at once: the prompt comes back, and a reader of its output sees the end of
// it, without waiting for the files of old runs (as `git gc --auto` goes on
// in the background). The child runs at a lower priority and reports
// nothing. Where no child can be made, the runs stay hidden for the next
// run's process to delete.
//
// Precondition: no other thread of this process is running (only the
// calling one lives on in the child); standard streams are flushed here.
void DeleteDroppedRunsDetached(const engine::JournalPlace& place);

} // namespace quillet::cli
