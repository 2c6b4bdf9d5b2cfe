// quillet-cli's command line: what the user asked for, parsed from the
// arguments. Arguments are bytes; a pattern or path that is not valid UTF-8
// is kept as given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet::cli {

struct CliOptions {
    std::uint8_t Operation = 0;
    std::string Pattern;
    std::string NewText;
    std::vector<std::string> Paths;       // PATH... as given
    std::optional<std::string> ListFile;  // -l FILE ("-" is standard input)
    std::optional<std::string> Directory; // -d DIR
    bool Recursive = false;
    std::string Mask = "*";
    bool CaseSensitive = false;
    std::optional<bool> Template; // --template / --literal; unset: expand when NewText holds "{$"
    std::int64_t MaxCount = -1;
    std::int64_t MaxFiles = -1;
    bool DryRun = false;
    bool Quiet = false;
    bool NullTerminated = false;
    bool NulSeparatedList = false; // -z: the list file's paths end with NUL, not a line break
    int Threads = 0;               // files read and matched at once; 0: one per processor
};

// The outcome of parsing: options to run, or text to print and an exit status
// (help and version: 0 on standard output; a usage mistake: 2, a one-line
// reason and the usage on standard error).
struct ParseOutcome {
    std::optional<CliOptions> Options;
    std::string Output;
    std::string Error;
    int ExitCode = 0;
};

ParseOutcome ParseArguments(int argc, const char* const* argv);

} // namespace quillet::cli
