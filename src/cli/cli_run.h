// Runs what the command line asked for: builds the run from the options,
// prints the result list and the final line, and gives the exit status.
#pragma once

#include "cli/options.h"

#include <cstdio>

namespace quillet::cli {

// 0 when at least one file matched, 1 when none did, 2 on an error (the
// message goes to err prefixed with "quillet-cli: "; files handled before the
// error stay handled). `in` serves "--list -".
int RunCli(const CliOptions& options, std::FILE* in, std::FILE* out, std::FILE* err);

} // namespace quillet::cli
