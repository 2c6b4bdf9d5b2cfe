#include "cli/options.h"

#include "core/text_ops.h"
#include "core/version.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <string_view>

namespace quillet::cli {

namespace {

constexpr std::string_view kUsage = "Usage: quillet-cli OPERATION [ARGS] [OPTIONS] [PATH...]\n"
                                    "Try 'quillet-cli --help' for more information.\n";

constexpr std::string_view kUndoUsage = "Usage: quillet-cli undo [RUN-ID] [--force]\n"
                                        "       quillet-cli undo --list\n"
                                        "Try 'quillet-cli --help' for more information.\n";

constexpr std::string_view kHelp =
    "Search, replace and insert text in many files at once.\n"
    "In PATTERN, '*' stands for any run of characters (\"href=*.htm\"); NEWTEXT may\n"
    "reuse what the stars covered as {$1}, {$2}, ...\n"
    "\n"
    "Usage: quillet-cli OPERATION [ARGS] [OPTIONS] [PATH...]\n"
    "       quillet-cli undo [RUN-ID] [--force]\n"
    "       quillet-cli undo --list\n"
    "\n"
    "Operations:\n"
    "  search PATTERN                  list the files where PATTERN occurs (never writes)\n"
    "  replace PATTERN NEWTEXT         replace each match by NEWTEXT\n"
    "  insert-before PATTERN NEWTEXT   insert NEWTEXT before each match\n"
    "  insert-after PATTERN NEWTEXT    insert NEWTEXT after each match\n"
    "  remove-script                   strip <body> attributes, remove <link> tags and <script> elements\n"
    "  strip-word-html                 reduce a word processor's HTML to plain mark-up\n"
    "\n"
    "Options:\n"
    "  -h, --help                  print this help and exit\n"
    "      --version               print the version and exit\n"
    "  -l, --list FILE             read the paths from FILE, one per line ('-': standard input)\n"
    "  -z, --null-data             with --list: paths are separated by NUL bytes, as find -print0\n"
    "                              writes them, not by line ends\n"
    "  -d, --dir DIR               the files of directory DIR whose names fit the mask\n"
    "  -r, --recursive             with --dir: walk the whole tree below DIR\n"
    "  -m, --mask MASK             file-name mask for --dir (default \"*\"; see Masks)\n"
    "      --exclude GLOB          with --dir: leave out what GLOB names, as a '!GLOB'\n"
    "                              token of the mask does (may be given several times)\n"
    "  -c, --case-sensitive        compare letters exactly\n"
    "  -w, --word                  only matches that cut no word: the text before and\n"
    "                              after a match does not go on with a letter, digit\n"
    "                              or '_' where the match begins or ends with one\n"
    "      --keep-case             with replace: a match in lower case, upper case or\n"
    "                              capitalised gets NEWTEXT in that case\n"
    "      --template              expand {$n} in NEWTEXT (default when NEWTEXT holds \"{$\")\n"
    "      --literal               insert NEWTEXT as written\n"
    "      --max-count N           matches handled per file; N <= 0: no limit (default)\n"
    "      --max-files N           stop after N matching files\n"
    "  -j, --threads N             files read and matched at once (default: one per processor);\n"
    "                              files are still written and listed one by one, in order;\n"
    "                              a search shares a file of 16 MiB or more among N threads\n"
    "  -n, --dry-run               change no file; list what would change\n"
    "      --confirm               with replace and the inserts: show each change and\n"
    "                              ask on the terminal whether to make it: [y]es [n]o\n"
    "                              [a]ll in this file [d]one with this file [A]ll [q]uit\n"
    "  -q, --quiet                 do not list the files\n"
    "  -0, --null                  end each listed entry with NUL instead of a newline\n"
    "      --diff                  print a unified diff of each file changed (or, with\n"
    "                              --dry-run, that would change) instead of the list\n"
    "      --matches               print each line that holds a match, as grep -n does:\n"
    "                              NAME:LINE:TEXT (with a writing operation, then the\n"
    "                              lines as it leaves them: NAME>LINE>TEXT)\n"
    "      --column                with --matches: NAME:LINE:COLUMN:TEXT\n"
    "  -A, --after-context N       with --matches: N lines after each match\n"
    "  -B, --before-context N      with --matches: N lines before each match\n"
    "  -C, --context N             with --matches: N lines before and after\n"
    "                              (-A, -B, -C and --column imply --matches)\n"
    "      --color=WHEN            colour the diffs and matches: auto (default: when standard\n"
    "                              output is a terminal and NO_COLOR is not set), always, never\n"
    "      --backup[=SUFFIX]       keep each file's old content beside it as FILE+SUFFIX\n"
    "                              (default suffix \".bak\")\n"
    "      --keep-going            report a file that cannot be read or written and go on;\n"
    "                              the exit status is then 2\n"
    "      --no-journal            keep no run journal: this run cannot be undone\n"
    "      --encoding=WHICH        auto (default): a UTF-16 or UTF-32 byte-order mark\n"
    "                              decodes a file, a UTF-8 mark stays out of matches;\n"
    "                              bytes: every file is bytes, no mark looked for\n"
    "      --binary                replace, insert and clean up binary files too\n"
    "  --                          end of the options: every later argument is PATTERN,\n"
    "                              NEWTEXT or a PATH, even one that starts with '-'\n"
    "\n"
    "Files: PATH... or --list FILE (one path per line, used as written), or --dir DIR\n"
    "(the regular files of DIR whose names fit --mask; with --recursive the whole\n"
    "tree below DIR). Letters compare without regard to case unless --case-sensitive\n"
    "is given.\n"
    "A matching file is rewritten atomically (a new file renamed over the old one).\n"
    "\n"
    "Masks: '*' stands for any run of characters, '?' for one; ';' separates\n"
    "several, in any order, and case is ignored. A file is taken when its name fits\n"
    "one that does not begin with '!' (or there is none) and fits none that does:\n"
    "  *.htm;*.html      the files whose names fit either\n"
    "  *.js;!*.min.js    leave out files whose names fit *.min.js, at any depth\n"
    "  !node_modules/    a trailing '/': leave out folders of that name; a walk\n"
    "                    never enters them\n"
    "  !docs/old/        a '/' inside: a path below DIR ('*' never stands for a '/');\n"
    "  !docs/*.html      with a trailing '/' a folder, without it files\n"
    "  !/build/          a leading '/': only DIR's own build, not src/build\n"
    "\n"
    "Text: a file that begins with a UTF-16 or UTF-32 byte-order mark (either byte\n"
    "order) is searched and changed as text, and written back in its own encoding\n"
    "with its mark; one that does not decode is never rewritten. After a UTF-8 mark\n"
    "the text begins after it. A file without a mark is bytes. A binary file (a NUL\n"
    "byte in the first 8 KiB of its text) is passed over by every operation but\n"
    "search: left as it is, named on standard error and not counted, unless --binary.\n"
    "\n"
    "Undo: every run that writes keeps a journal of the files it changed (the\n"
    "last 20 runs, at most 1 GiB; see journal.conf in the manual).\n"
    "  undo                        give the newest run's files their old content back\n"
    "  undo RUN-ID                 the same for the run RUN-ID\n"
    "      --force                 restore files changed since the run too\n"
    "  undo --list                 list the runs: id, time, files, state, command\n"
    "A file changed since the run is left alone unless --force is given. Undo lists\n"
    "each file on standard output and a summary on standard error; exit status 0\n"
    "when every file is back, 1 when some were left alone, 2 on an error.\n"
    "\n"
    "Output: the matching files on standard output; \"Finished! Found and Processed N\n"
    "files.\" on standard error, where N counts matching files in a --recursive walk\n"
    "and files handled otherwise; binary files passed over count in neither.\n"
    "After a run that journaled files, a line before the final one names the run to\n"
    "undo; after a run that passed over binary files, the line before the final one\n"
    "says how many. With --diff the diffs take the place of the list on standard\n"
    "output.\n"
    "Exit status: 0 when a file matched, 1 when none did, 2 on an error (with\n"
    "--keep-going: when any file failed).\n"
    "\n"
    "Examples:\n"
    "  quillet-cli search 'href=*.htm' a.htm b.htm\n"
    "  quillet-cli replace 'href=*.htm' 'href={$1}.html' -d site -r -m '*.htm;*.html'\n"
    "  find . -name '*.txt' | quillet-cli insert-after '</title>' '<meta charset=utf-8>' -l -\n"
    "  find . -name '*.txt' -print0 | quillet-cli search 'TODO' -z -l -\n"
    "  quillet-cli replace -- '-old-' '-new-' a.txt\n"
    "  quillet-cli replace -w --keep-case colour color notes.txt\n"
    "  quillet-cli replace --dry-run --diff 'colour' 'color' -d docs -r -m '*.txt'\n"
    "  quillet-cli replace --confirm 'colour' 'color' -d docs -r -m '*.txt'\n"
    "  quillet-cli search 'TODO' -d . -r -m '*.js;!*.min.js' --exclude node_modules/\n"
    "  quillet-cli undo --list\n";

// Every option the line may hold; Short is 0 where there is no short form.
enum class OptionId {
    Help,
    Version,
    List,
    NullData,
    Dir,
    Recursive,
    Mask,
    Exclude,
    CaseSensitive,
    Word,
    KeepCase,
    Confirm,
    Template,
    Literal,
    MaxCount,
    MaxFiles,
    Threads,
    DryRun,
    Quiet,
    Null,
    Backup,
    Diff,
    Color,
    KeepGoing,
    NoJournal,
    Encoding,
    Binary,
    Matches,
    Column,
    Context,
    AfterContext,
    BeforeContext,
};

// Whether an option takes a value: never, always ("--name=value" or
// "--name value"), or only when written "--name=value".
enum class ValueKind { None, Required, Optional };

struct OptionSpec {
    OptionId Id;
    char Short;
    std::string_view Long;
    ValueKind Value;
};

constexpr std::array<OptionSpec, 32> kOptionSpecs{{
    {OptionId::Help, 'h', "help", ValueKind::None},
    {OptionId::Version, 0, "version", ValueKind::None},
    {OptionId::List, 'l', "list", ValueKind::Required},
    {OptionId::NullData, 'z', "null-data", ValueKind::None},
    {OptionId::Dir, 'd', "dir", ValueKind::Required},
    {OptionId::Recursive, 'r', "recursive", ValueKind::None},
    {OptionId::Mask, 'm', "mask", ValueKind::Required},
    {OptionId::Exclude, 0, "exclude", ValueKind::Required},
    {OptionId::CaseSensitive, 'c', "case-sensitive", ValueKind::None},
    {OptionId::Word, 'w', "word", ValueKind::None},
    {OptionId::KeepCase, 0, "keep-case", ValueKind::None},
    {OptionId::Confirm, 0, "confirm", ValueKind::None},
    {OptionId::Template, 0, "template", ValueKind::None},
    {OptionId::Literal, 0, "literal", ValueKind::None},
    {OptionId::MaxCount, 0, "max-count", ValueKind::Required},
    {OptionId::MaxFiles, 0, "max-files", ValueKind::Required},
    {OptionId::Threads, 'j', "threads", ValueKind::Required},
    {OptionId::DryRun, 'n', "dry-run", ValueKind::None},
    {OptionId::Quiet, 'q', "quiet", ValueKind::None},
    {OptionId::Null, '0', "null", ValueKind::None},
    {OptionId::Backup, 0, "backup", ValueKind::Optional},
    {OptionId::Diff, 0, "diff", ValueKind::None},
    {OptionId::Color, 0, "color", ValueKind::Required},
    {OptionId::KeepGoing, 0, "keep-going", ValueKind::None},
    {OptionId::NoJournal, 0, "no-journal", ValueKind::None},
    {OptionId::Encoding, 0, "encoding", ValueKind::Required},
    {OptionId::Binary, 0, "binary", ValueKind::None},
    {OptionId::Matches, 0, "matches", ValueKind::None},
    {OptionId::Column, 0, "column", ValueKind::None},
    {OptionId::Context, 'C', "context", ValueKind::Required},
    {OptionId::AfterContext, 'A', "after-context", ValueKind::Required},
    {OptionId::BeforeContext, 'B', "before-context", ValueKind::Required},
}};

const OptionSpec* findLong(std::string_view name) {
    for (const OptionSpec& option : kOptionSpecs)
        if (option.Long == name)
            return &option;
    return nullptr;
}

const OptionSpec* findShort(char letter) {
    for (const OptionSpec& option : kOptionSpecs)
        if (option.Short != 0 && option.Short == letter)
            return &option;
    return nullptr;
}

ParseOutcome usageError(const std::string& reason, std::string_view usage = kUsage) {
    ParseOutcome outcome;
    outcome.Error = "quillet-cli: " + reason + "\n" + std::string(usage);
    outcome.ExitCode = 2;
    return outcome;
}

// What reading the line has gathered so far; operands keep their order.
struct LineState {
    CliOptions Options;
    std::vector<std::string> Operands;
    bool Help = false;
    bool Version = false;
    bool TemplateFlag = false;
    bool LiteralFlag = false;
    bool MaskGiven = false;
    std::vector<std::string> Excludes; // --exclude GLOB, in order
    std::int64_t Context = 0;          // -C N, for -A and -B where not given
    std::array<bool, kOptionSpecs.size()> Seen{};
};

std::optional<std::int64_t> parseNumber(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

// Applies one option; returns a usage mistake's reason, or "" when all is well.
std::string apply(LineState& state, const OptionSpec& option, const std::string& value) {
    const std::string name = "--" + std::string(option.Long);
    if (option.Value != ValueKind::None && option.Id != OptionId::Exclude) {
        bool& seen = state.Seen[static_cast<std::size_t>(option.Id)];
        if (seen)
            return name + " given more than once";
        seen = true;
    }
    CliOptions& options = state.Options;
    switch (option.Id) {
    case OptionId::Help:
        state.Help = true;
        break;
    case OptionId::Version:
        state.Version = true;
        break;
    case OptionId::List:
        options.ListFile = value;
        break;
    case OptionId::NullData:
        options.NulSeparatedList = true;
        break;
    case OptionId::Dir:
        options.Directory = value;
        break;
    case OptionId::Recursive:
        options.Recursive = true;
        break;
    case OptionId::Mask:
        options.Mask = value;
        state.MaskGiven = true;
        break;
    case OptionId::Exclude:
        state.Excludes.push_back(value);
        break;
    case OptionId::CaseSensitive:
        options.CaseSensitive = true;
        break;
    case OptionId::Word:
        options.Match.WholeWord = true;
        break;
    case OptionId::Confirm:
        options.Confirm = true;
        break;
    case OptionId::KeepCase:
        options.Match.KeepCase = true;
        break;
    case OptionId::Template:
        state.TemplateFlag = true;
        break;
    case OptionId::Literal:
        state.LiteralFlag = true;
        break;
    case OptionId::DryRun:
        options.DryRun = true;
        break;
    case OptionId::Quiet:
        options.Quiet = true;
        break;
    case OptionId::Null:
        options.NullTerminated = true;
        break;
    case OptionId::Backup:
        // An empty suffix would name the file itself.
        if (value.empty() || value.find('/') != std::string::npos)
            return "--backup needs a suffix that is not empty and holds no '/', not '" + value + "'";
        options.BackupSuffix = value;
        break;
    case OptionId::Diff:
        options.Diff = true;
        break;
    case OptionId::Color:
        if (value == "auto")
            options.Color = ColorWhen::Auto;
        else if (value == "always")
            options.Color = ColorWhen::Always;
        else if (value == "never")
            options.Color = ColorWhen::Never;
        else
            return "--color needs auto, always or never, not '" + value + "'";
        break;
    case OptionId::KeepGoing:
        options.KeepGoing = true;
        break;
    case OptionId::NoJournal:
        options.NoJournal = true;
        break;
    case OptionId::Encoding:
        if (value != "auto" && value != "bytes")
            return "--encoding needs auto or bytes, not '" + value + "'";
        options.FileEncoding =
            value == "bytes" ? engine::FileOperation::Encoding::Bytes : engine::FileOperation::Encoding::Sniff;
        break;
    case OptionId::Binary:
        options.Binary = engine::FileOperation::BinaryFiles::Process;
        break;
    case OptionId::Matches:
    case OptionId::Column:
        options.Matches = true;
        options.Column = options.Column || option.Id == OptionId::Column;
        break;
    case OptionId::Context:
    case OptionId::AfterContext:
    case OptionId::BeforeContext: {
        const std::optional<std::int64_t> number = parseNumber(value);
        if (!number || *number < 0)
            return name + " needs a number of lines, not '" + value + "'";
        options.Matches = true;
        (option.Id == OptionId::Context        ? state.Context
         : option.Id == OptionId::AfterContext ? options.ContextAfter
                                               : options.ContextBefore) = *number;
        break;
    }
    case OptionId::MaxCount:
    case OptionId::MaxFiles:
    case OptionId::Threads: {
        const std::optional<std::int64_t> number = parseNumber(value);
        if (!number)
            return name + " needs a number, not '" + value + "'";
        if (option.Id == OptionId::MaxCount)
            options.MaxCount = *number;
        else if (option.Id == OptionId::MaxFiles)
            options.MaxFiles = *number;
        else if (*number < 0 || *number > std::numeric_limits<int>::max())
            return "--threads needs a number of 1 or more";
        else
            options.Threads = static_cast<int>(*number);
        break;
    }
    }
    return {};
}

// Reads argv into state. Returns a usage mistake's reason, or "" when the
// line could be read (help or version may have been asked for).
std::string readLine(LineState& state, int argc, const char* const* argv) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            state.Operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        // The value of an option that needs one: the rest of this argument,
        // else the next argument, whatever it looks like.
        auto takeValue = [&](const OptionSpec& option, std::string& value) -> std::string {
            if (i + 1 >= argc)
                return "--" + std::string(option.Long) + " needs a value";
            value = argv[++i];
            return {};
        };
        std::string reason;
        if (argument[1] == '-') {
            const std::size_t equals = argument.find('=');
            const std::string_view name =
                std::string_view(argument).substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const OptionSpec* option = findLong(name);
            if (option == nullptr)
                return "unknown option '--" + std::string(name) + "'";
            std::string value;
            if (equals != std::string::npos) {
                if (option->Value == ValueKind::None)
                    return "--" + std::string(option->Long) + " takes no value";
                value = argument.substr(equals + 1);
            } else if (option->Value == ValueKind::Required) {
                reason = takeValue(*option, value);
            } else if (option->Id == OptionId::Backup) {
                value = ".bak";
            }
            if (reason.empty())
                reason = apply(state, *option, value);
        } else {
            for (std::size_t k = 1; k < argument.size() && reason.empty(); ++k) {
                const OptionSpec* option = findShort(argument[k]);
                if (option == nullptr)
                    return "unknown option '-" + std::string(1, argument[k]) + "'";
                std::string value;
                if (option->Value == ValueKind::Required) {
                    if (k + 1 < argument.size())
                        value = argument.substr(k + 1);
                    else
                        reason = takeValue(*option, value);
                    k = argument.size();
                }
                if (reason.empty())
                    reason = apply(state, *option, value);
            }
        }
        if (!reason.empty() || state.Help || state.Version)
            return reason;
    }
    return {};
}

// `quillet-cli undo ...`, from argv[2] on.
ParseOutcome parseUndo(int argc, const char* const* argv) {
    UndoOptions undo;
    bool optionsEnded = false;
    bool runIdGiven = false;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (argument == "-h" || argument == "--help")) {
            ParseOutcome outcome;
            outcome.Output = std::string(kHelp);
            return outcome;
        } else if (!optionsEnded && argument == "--list") {
            undo.List = true;
        } else if (!optionsEnded && argument == "--force") {
            undo.Force = true;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            return usageError("undo takes no option '" + argument + "'", kUndoUsage);
        } else if (runIdGiven) {
            return usageError("undo takes one RUN-ID, not also '" + argument + "'", kUndoUsage);
        } else {
            undo.RunId = argument;
            runIdGiven = true;
        }
    }
    if (undo.List && (runIdGiven || undo.Force))
        return usageError("undo --list takes no RUN-ID or --force", kUndoUsage);
    if (runIdGiven && undo.RunId.empty())
        return usageError("undo needs a RUN-ID that is not empty", kUndoUsage);
    ParseOutcome outcome;
    outcome.Undo = std::move(undo);
    return outcome;
}

bool isShellSafe(unsigned char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           std::string_view("_@%+=:,./-").find(static_cast<char>(byte)) != std::string_view::npos;
}

bool isControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7f;
}

void appendQuoted(std::string& out, std::string_view argument) {
    if (!argument.empty() && std::all_of(argument.begin(), argument.end(),
                                         [](char c) { return isShellSafe(static_cast<unsigned char>(c)); })) {
        out += argument;
        return;
    }
    if (std::none_of(argument.begin(), argument.end(),
                     [](char c) { return isControl(static_cast<unsigned char>(c)); })) {
        out += '\'';
        for (const char c : argument)
            out += c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1);
        out += '\'';
        return;
    }
    out += "$'";
    for (const char c : argument) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\' || c == '\'')
            (out += '\\') += c;
        else if (isControl(byte)) {
            constexpr std::string_view kHex = "0123456789abcdef";
            ((out += "\\x") += kHex[byte >> 4]) += kHex[byte & 15];
        } else
            out += c;
    }
    out += '\'';
}

} // namespace

std::string QuoteCommandLine(int argc, const char* const* argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0)
            line += ' ';
        appendQuoted(line, argv[i]);
    }
    return line;
}

ParseOutcome ParseArguments(int argc, const char* const* argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "undo")
        return parseUndo(argc, argv);
    LineState state;
    const std::string reason = readLine(state, argc, argv);
    if (!reason.empty())
        return usageError(reason);
    if (state.Help || state.Version) {
        ParseOutcome outcome;
        outcome.Output = state.Help ? std::string(kHelp) : std::string("quillet-cli ") + kVersion + "\n";
        return outcome;
    }

    CliOptions& options = state.Options;
    if (state.TemplateFlag && state.LiteralFlag)
        return usageError("--template and --literal exclude each other");
    if (state.Operands.empty())
        return usageError("no operation given");
    const std::string& operationName = state.Operands.front();
    const core::OperationInfo* operation = core::FindOperation(std::string_view(operationName));
    if (operation == nullptr)
        return usageError("unknown operation '" + operationName + "'");
    options.Operation = operation->Code;
    if (static_cast<int>(state.Operands.size()) - 1 < operation->Arguments)
        return usageError(operationName +
                          (operation->Arguments == 1 ? " needs PATTERN" : " needs PATTERN and NEWTEXT"));
    auto next = state.Operands.begin() + 1;
    if (operation->Arguments >= 1)
        options.Pattern = *next++;
    if (operation->Arguments >= 2)
        options.NewText = *next++;
    options.Paths.assign(next, state.Operands.end());
    if (state.TemplateFlag || state.LiteralFlag)
        options.Template = state.TemplateFlag;

    if (options.Directory && (!options.Paths.empty() || options.ListFile))
        return usageError("--dir cannot be combined with PATHs or --list");
    if (!options.Directory && (options.Recursive || state.MaskGiven || !state.Excludes.empty()))
        return usageError(std::string(options.Recursive ? "--recursive"
                                      : state.MaskGiven ? "--mask"
                                                        : "--exclude") +
                          " needs --dir");
    // Each piece of GLOB becomes an excluding token of its own, so that
    // "--exclude 'a;b'" cannot slip "b" in as an including one.
    for (const std::string& glob : state.Excludes) {
        std::string_view rest = glob;
        while (true) {
            const std::size_t cut = rest.find(';');
            if (const std::string_view piece = rest.substr(0, cut); !piece.empty())
                (options.Mask += ";!") += piece;
            if (cut == std::string_view::npos)
                break;
            rest.remove_prefix(cut + 1);
        }
    }
    if (options.NulSeparatedList && !options.ListFile)
        return usageError("--null-data needs --list");
    if (!options.Directory && !options.ListFile && options.Paths.empty())
        return usageError("no files given: name PATHs, --list FILE or --dir DIR");

    if (options.Match.WholeWord && operation->Recipe)
        return usageError("--word does not apply to " + operationName + ", which takes no PATTERN");
    if (options.Match.KeepCase && options.Operation != core::OpReplaceText)
        return usageError("--keep-case applies to replace only");
    if (options.Confirm && (options.Operation == core::OpOnlySearch || operation->Recipe))
        return usageError("--confirm applies to replace, insert-before and insert-after");
    if (options.Diff && options.NullTerminated)
        return usageError("--diff and --null exclude each other");
    if (options.Matches && (options.Diff || options.NullTerminated))
        return usageError(std::string("--matches (or -A, -B, -C, --column) and ") +
                          (options.Diff ? "--diff" : "--null") + " exclude each other");
    if (options.Matches && core::IsRecipe(options.Operation))
        return usageError("--matches needs an operation with a PATTERN");
    const auto& seen = state.Seen;
    if (!seen[static_cast<std::size_t>(OptionId::AfterContext)])
        options.ContextAfter = state.Context;
    if (!seen[static_cast<std::size_t>(OptionId::BeforeContext)])
        options.ContextBefore = state.Context;
    options.CommandLine = "quillet-cli " + QuoteCommandLine(argc - 1, argv + 1);
    ParseOutcome outcome;
    outcome.Options = std::move(options);
    return outcome;
}

} // namespace quillet::cli
