// quillet-cli: search, replace and insert text in many files from scripts.
#include "cli/cli_run.h"
#include "cli/detached_deletion.h"
#include "cli/options.h"
#include "cli/undo_command.h"
#include "core/upper_table.h"
#include "engine/fs/rewrite.h"

#include <clocale>
#include <cstdio>

int main(int argc, char** argv) {
    // Case folding follows the user's locale; the table is built before any search.
    // Before any other thread starts, so setlocale's race cannot happen.
    std::setlocale(LC_CTYPE, ""); // NOLINT(concurrency-mt-unsafe)
    quillet::core::BuildUpperTable();
    quillet::engine::RaiseDescriptorLimit();
    quillet::engine::GrowDescriptorTable();

    const quillet::cli::ParseOutcome parsed = quillet::cli::ParseArguments(argc, argv);
    if (parsed.Undo)
        return quillet::cli::RunUndo(*parsed.Undo, stdout, stderr);
    if (!parsed.Options) {
        std::fputs(parsed.Output.c_str(), stdout);
        std::fputs(parsed.Error.c_str(), stderr);
        return parsed.ExitCode;
    }
    bool droppedRunsLeft = false;
    const int status = quillet::cli::RunCli(*parsed.Options, stdin, stdout, stderr, &droppedRunsLeft);
    // Every thread of the run has ended by now.
    if (droppedRunsLeft)
        quillet::cli::DeleteDroppedRunsDetached(quillet::engine::JournalPlace::fromEnvironment());
    return status;
}
