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
// in any order. A value option given twice is a usage mistake. An option
// whose value is optional (`--backup[=SUFFIX]`) takes one only after '=':
// `--backup x.txt` backs up with ".bak" and names the file x.txt.
//
// `undo` as the first argument starts the other command of the program:
//   quillet-cli undo [RUN-ID] [--force]     give a run's old file contents back
//   quillet-cli undo --list                 list the runs in the journal
#pragma once

#include "engine/run/prepare.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet::cli {

// When the unified diffs of --diff are coloured.
enum class ColorWhen { Auto, Always, Never };

struct CliOptions {
    std::uint8_t Operation = 0;
    std::string Pattern;
    std::string NewText;
    std::vector<std::string> Paths;       // PATH... as given
    std::optional<std::string> ListFile;  // -l FILE ("-" is standard input)
    std::optional<std::string> Directory; // -d DIR
    bool Recursive = false;
    // -m MASK, then ";!GLOB" for each piece of each --exclude GLOB
    // ("*.js;!*.min.js;!node_modules/"); the run parses it (finder/file_mask.h).
    std::string Mask = "*";
    bool CaseSensitive = false;
    core::MatchOptions Match;     // -w/--word, --keep-case (replace only)
    std::optional<bool> Template; // --template / --literal; unset: expand when NewText holds "{$"
    std::int64_t MaxCount = -1;
    std::int64_t MaxFiles = -1;
    bool DryRun = false;
    bool Quiet = false;
    bool NullTerminated = false;
    bool NulSeparatedList = false;           // -z: the --list text is split at NUL bytes, not at line ends
    int Threads = 0;                         // files read and matched at once; 0: one per processor
    std::optional<std::string> BackupSuffix; // --backup[=SUFFIX]: keep FILE+SUFFIX (".bak" by default)
    bool Diff = false;                       // print unified diffs of the changes instead of the list
    ColorWhen Color = ColorWhen::Auto;       // --color=WHEN
    bool KeepGoing = false;                  // a file that fails is reported and the run goes on
    bool NoJournal = false;                  // keep no run journal for this run
    // --encoding=bytes: no byte-order mark is looked for; --binary: the
    // writing operations change binary files too.
    engine::FileOperation::Encoding FileEncoding = engine::FileOperation::Encoding::Sniff;
    engine::FileOperation::BinaryFiles Binary = engine::FileOperation::BinaryFiles::PassOver;
    // --matches (implied by -A, -B, -C, --column): print matching lines as
    // grep -n does instead of the list (match_printer.h).
    bool Matches = false;
    bool Column = false;
    // --confirm: each change is shown and asked about on the terminal
    // (confirm.h); replace and the inserts only.
    bool Confirm = false;
    std::int64_t ContextBefore = 0;
    std::int64_t ContextAfter = 0;
    // The command line as a shell would take it back (see QuoteCommandLine),
    // starting "quillet-cli " whatever argv[0] was; the run journal keeps it
    // to show what the run did.
    std::string CommandLine;
};

// `quillet-cli undo ...`: which run to give back, or the list of runs.
struct UndoOptions {
    bool List = false;
    std::string RunId; // empty: the newest run
    bool Force = false;
};

// The outcome of parsing: options to run, an undo to do, or text to print and
// an exit status
// (help and version: 0 on standard output; a usage mistake: 2, a one-line
// reason and the usage on standard error, e.g.
//   quillet-cli: unknown option '--bogus'
//   Usage: quillet-cli OPERATION [ARGS] [OPTIONS] [PATH...]
//   Try 'quillet-cli --help' for more information.
struct ParseOutcome {
    std::optional<CliOptions> Options;
    std::optional<UndoOptions> Undo;
    std::string Output;
    std::string Error;
    int ExitCode = 0;
};

// argv[0] is the program's name and is not looked at. The arguments are read
// left to right, and the first of --help, --version or a mistaken option
// decides; the operands are checked after the whole line has been read.
// With "undo" first: only RUN-ID, --force, --list and --help are read;
// --list with RUN-ID or --force, a second RUN-ID, or any other option is a
// usage mistake, shown with the usage of undo.
ParseOutcome ParseArguments(int argc, const char* const* argv);

// The arguments joined by spaces, each quoted as a POSIX shell reads it back:
// as it is when made only of letters, digits and "_@%+=:,./-" (and not
// empty); in single quotes otherwise ("'it'\''s'"); in bash's $'...' with
// \n, \t, \xHH escapes when it holds a control byte, so that the text is
// always one line. Bytes from 0x80 up are kept as they are.
std::string QuoteCommandLine(int argc, const char* const* argv);

} // namespace quillet::cli
