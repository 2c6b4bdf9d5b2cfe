// Runs what the command line asked for: builds the run from the options,
// prints the result list and the final line, and gives the exit status.
#pragma once

#include "cli/options.h"
#include "core/text_diff.h"

#include <cstdio>

namespace quillet::cli {

// 0 when at least one file matched, 1 when none did, 2 on an error (the
// message goes to err prefixed with "quillet-cli: "; files handled before the
// error stay handled). `in` serves "--list -".
//
// A run that writes (not a search, not --dry-run) keeps a run journal unless
// NoJournal, and backups with BackupSuffix. On err, in this order:
//   quillet-cli: PATH: REASON                               a failed file (KeepGoing; exit 2)
//   quillet-cli: PATH: binary file passed over              a binary file left as it is
//   quillet-cli: PATH: not kept in the run journal: REASON  a file undo cannot give back
//   quillet-cli: run ID journaled; undo with: quillet-cli undo ID
//   quillet-cli: N binary files passed over; --binary processes them
//   Finished! Found and Processed N files.                  (or the error that ended the run)
// With Diff, out receives the unified diff of each changed file, labelled
// "a/PATH" and "b/PATH" with PATH as listed, instead of the list.
//
// The runs the journal drops to make room are deleted while the run goes on,
// unless droppedRunsLeft is given: then they are only hidden, left for the
// caller to delete once the run has ended (DeleteDroppedRunsDetached), and
// *droppedRunsLeft tells whether any wait.
int RunCli(const CliOptions& options, std::FILE* in, std::FILE* out, std::FILE* err, bool* droppedRunsLeft = nullptr);

// Whether --color=WHEN colours the diffs, as `git diff` decides: always,
// never, or for auto only when standard output is a terminal whose TERM is
// not "dumb" and NO_COLOR is unset or empty (noColor and term are the
// variables' values, null when unset).
core::DiffColor ChooseDiffColor(ColorWhen when, bool terminal, const char* noColor, const char* term);

} // namespace quillet::cli
