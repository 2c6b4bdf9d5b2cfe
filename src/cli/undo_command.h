// `quillet-cli undo`: gives a journaled run's old file contents back, or
// lists the runs in the journal (engine/keep/undo.h, engine/keep/journal.h do the work).
#pragma once

#include "cli/options.h"

#include <cstdio>

namespace quillet::cli {

// Undo: one line per file of the run on out, last rewritten first:
//   restored PATH
//   unchanged PATH: it already holds its old content
//   left alone PATH: it changed since the run           (or "it no longer exists", ...)
//   not restored PATH: not kept by the journal: REASON
//   failed PATH: Cannot restore "PATH". REASON
// with PATH the file's absolute path, then one summary line on err:
//   Undid run ID: 3 restored, 0 unchanged, 1 left alone, 0 not restored, 0 failed.
// followed, when files were left alone, by how to force them. Exit status 0
// when every file is dealt with (the run is marked undone: a second undo is
// refused), 1 when some were left alone or not kept, 2 when one failed or the
// undo could not start ("quillet-cli: Run ID was already undone", "quillet-cli:
// No run to undo: the journal is empty").
//
// List: a table on out, newest run first, with a header line:
//   ID                    STARTED              FILES  STATE          COMMAND
//   20261207-142501-4f3a  2026-12-07 15:25:01      3  finished       quillet-cli replace a b -d . -r
// STARTED in local time; control bytes of the command shown as '?'. An empty
// journal prints only "quillet-cli: the run journal is empty" on err. Exit
// status 0, or 2 when the journal cannot be read.
int RunUndo(const UndoOptions& options, std::FILE* out, std::FILE* err);

} // namespace quillet::cli
