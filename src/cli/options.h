// quillet-cli's command line: what the user asked for, parsed from the
// arguments.
//
// Arguments reach the run exactly as given, byte for byte: a pattern, new text
// or path may start with any byte, look like a list ("[a,b]") or hold bytes
// that are not UTF-8. Only an argument that starts with "-" (and is not "-"
// alone) before a "--" is read as an option; "--" ends the options, so
// `quillet-cli replace -- -x -y FILE` replaces "-x" by "-y".
//
// The syntax is getopt_long's: "--name=value" or "--name value", "-jN" or
// "-j N", bundled short flags ("-rq", "-rqm '*.htm'"), options and operands
// in any order. A value option given twice is a usage mistake.
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
    bool NulSeparatedList = false; // -z: the --list text is split at NUL bytes, not at line ends
    int Threads = 0;               // files read and matched at once; 0: one per processor
};

// The outcome of parsing: options to run, or text to print and an exit status
// (help and version: 0 on standard output; a usage mistake: 2, a one-line
// reason and the usage on standard error, e.g.
//   quillet-cli: unknown option '--bogus'
//   Usage: quillet-cli OPERATION [ARGS] [OPTIONS] [PATH...]
//   Try 'quillet-cli --help' for more information.
struct ParseOutcome {
    std::optional<CliOptions> Options;
    std::string Output;
    std::string Error;
    int ExitCode = 0;
};

// argv[0] is the program's name and is not looked at. The arguments are read
// left to right, and the first of --help, --version or a mistaken option
// decides; the operands are checked after the whole line has been read.
ParseOutcome ParseArguments(int argc, const char* const* argv);

} // namespace quillet::cli
