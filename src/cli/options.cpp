#include "cli/options.h"

#include "core/text_ops.h"
#include "core/version.h"

#include <array>
#include <charconv>
#include <limits>
#include <string_view>

namespace quillet::cli {

namespace {

struct OperationName {
    std::string_view Name;
    std::uint8_t Code;
    int Arguments; // PATTERN, or PATTERN NEWTEXT, or none
};

constexpr std::array<OperationName, 6> kOperations{{
    {"search", core::OpOnlySearch, 1},
    {"replace", core::OpReplaceText, 2},
    {"insert-before", core::OpInsertBefore, 2},
    {"insert-after", core::OpInsertAfter, 2},
    {"remove-script", core::OpRemoveScript, 0},
    {"strip-word-html", core::OpStripWordHtml, 0},
}};

constexpr std::string_view kUsage = "Usage: quillet-cli OPERATION [ARGS] [OPTIONS] [PATH...]\n"
                                    "Try 'quillet-cli --help' for more information.\n";

constexpr std::string_view kHelp =
    "Search, replace and insert text in many files at once.\n"
    "In PATTERN, '*' stands for any run of characters (\"href=*.htm\"); NEWTEXT may\n"
    "reuse what the stars covered as {$1}, {$2}, ...\n"
    "\n"
    "Usage: quillet-cli OPERATION [ARGS] [OPTIONS] [PATH...]\n"
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
    "  -m, --mask MASK             file-name mask for --dir (default \"*\")\n"
    "  -c, --case-sensitive        compare letters exactly\n"
    "      --template              expand {$n} in NEWTEXT (default when NEWTEXT holds \"{$\")\n"
    "      --literal               insert NEWTEXT as written\n"
    "      --max-count N           matches handled per file; N <= 0: no limit (default)\n"
    "      --max-files N           stop after N matching files\n"
    "  -j, --threads N             files read and matched at once (default: one per processor);\n"
    "                              files are still written and listed one by one, in order\n"
    "  -n, --dry-run               change no file; list what would change\n"
    "  -q, --quiet                 do not list the files\n"
    "  -0, --null                  end each listed entry with NUL instead of a newline\n"
    "  --                          end of the options: every later argument is PATTERN,\n"
    "                              NEWTEXT or a PATH, even one that starts with '-'\n"
    "\n"
    "Files: PATH... or --list FILE (one path per line, used as written), or --dir DIR\n"
    "(the regular files of DIR whose names fit --mask; with --recursive the whole\n"
    "tree below DIR). Masks use '*' and '?'; ';' separates several (\"*.htm;*.html\").\n"
    "Letters compare without regard to case unless --case-sensitive is given.\n"
    "A matching file is rewritten atomically (a new file renamed over the old one).\n"
    "\n"
    "Output: the matching files on standard output; \"Finished! Found and Processed N\n"
    "files.\" on standard error, where N counts matching files in a --recursive walk\n"
    "and files handled otherwise.\n"
    "Exit status: 0 when a file matched, 1 when none did, 2 on an error.\n"
    "\n"
    "Examples:\n"
    "  quillet-cli search 'href=*.htm' a.htm b.htm\n"
    "  quillet-cli replace 'href=*.htm' 'href={$1}.html' -d site -r -m '*.htm;*.html'\n"
    "  find . -name '*.txt' | quillet-cli insert-after '</title>' '<meta charset=utf-8>' -l -\n"
    "  find . -name '*.txt' -print0 | quillet-cli search 'TODO' -z -l -\n"
    "  quillet-cli replace -- '-old-' '-new-' a.txt\n";

// Every option the line may hold; Short is 0 where there is no short form.
enum class OptionId {
    Help,
    Version,
    List,
    NullData,
    Dir,
    Recursive,
    Mask,
    CaseSensitive,
    Template,
    Literal,
    MaxCount,
    MaxFiles,
    Threads,
    DryRun,
    Quiet,
    Null,
};

struct OptionSpec {
    OptionId Id;
    char Short;
    std::string_view Long;
    bool TakesValue;
};

constexpr std::array<OptionSpec, 16> kOptionSpecs{{
    {OptionId::Help, 'h', "help", false},
    {OptionId::Version, 0, "version", false},
    {OptionId::List, 'l', "list", true},
    {OptionId::NullData, 'z', "null-data", false},
    {OptionId::Dir, 'd', "dir", true},
    {OptionId::Recursive, 'r', "recursive", false},
    {OptionId::Mask, 'm', "mask", true},
    {OptionId::CaseSensitive, 'c', "case-sensitive", false},
    {OptionId::Template, 0, "template", false},
    {OptionId::Literal, 0, "literal", false},
    {OptionId::MaxCount, 0, "max-count", true},
    {OptionId::MaxFiles, 0, "max-files", true},
    {OptionId::Threads, 'j', "threads", true},
    {OptionId::DryRun, 'n', "dry-run", false},
    {OptionId::Quiet, 'q', "quiet", false},
    {OptionId::Null, '0', "null", false},
}};

const OptionSpec* findLong(std::string_view name) {
    for (const OptionSpec& spec : kOptionSpecs)
        if (spec.Long == name)
            return &spec;
    return nullptr;
}

const OptionSpec* findShort(char letter) {
    for (const OptionSpec& spec : kOptionSpecs)
        if (spec.Short != 0 && spec.Short == letter)
            return &spec;
    return nullptr;
}

const OperationName* findOperation(std::string_view name) {
    for (const OperationName& operation : kOperations)
        if (operation.Name == name)
            return &operation;
    return nullptr;
}

ParseOutcome usageError(const std::string& reason) {
    ParseOutcome outcome;
    outcome.Error = "quillet-cli: " + reason + "\n" + std::string(kUsage);
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
std::string apply(LineState& state, const OptionSpec& spec, const std::string& value) {
    const std::string name = "--" + std::string(spec.Long);
    if (spec.TakesValue) {
        bool& seen = state.Seen[static_cast<std::size_t>(spec.Id)];
        if (seen)
            return name + " given more than once";
        seen = true;
    }
    CliOptions& options = state.Options;
    switch (spec.Id) {
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
    case OptionId::CaseSensitive:
        options.CaseSensitive = true;
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
    case OptionId::MaxCount:
    case OptionId::MaxFiles:
    case OptionId::Threads: {
        const std::optional<std::int64_t> number = parseNumber(value);
        if (!number)
            return name + " needs a number, not '" + value + "'";
        if (spec.Id == OptionId::MaxCount)
            options.MaxCount = *number;
        else if (spec.Id == OptionId::MaxFiles)
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
        auto takeValue = [&](const OptionSpec& spec, std::string& value) -> std::string {
            if (i + 1 >= argc)
                return "--" + std::string(spec.Long) + " needs a value";
            value = argv[++i];
            return {};
        };
        std::string reason;
        if (argument[1] == '-') {
            const std::size_t equals = argument.find('=');
            const std::string_view name =
                std::string_view(argument).substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const OptionSpec* spec = findLong(name);
            if (spec == nullptr)
                return "unknown option '--" + std::string(name) + "'";
            std::string value;
            if (equals != std::string::npos) {
                if (!spec->TakesValue)
                    return "--" + std::string(spec->Long) + " takes no value";
                value = argument.substr(equals + 1);
            } else if (spec->TakesValue) {
                reason = takeValue(*spec, value);
            }
            if (reason.empty())
                reason = apply(state, *spec, value);
        } else {
            for (std::size_t k = 1; k < argument.size() && reason.empty(); ++k) {
                const OptionSpec* spec = findShort(argument[k]);
                if (spec == nullptr)
                    return "unknown option '-" + std::string(1, argument[k]) + "'";
                std::string value;
                if (spec->TakesValue) {
                    if (k + 1 < argument.size())
                        value = argument.substr(k + 1);
                    else
                        reason = takeValue(*spec, value);
                    k = argument.size();
                }
                if (reason.empty())
                    reason = apply(state, *spec, value);
            }
        }
        if (!reason.empty() || state.Help || state.Version)
            return reason;
    }
    return {};
}

} // namespace

ParseOutcome ParseArguments(int argc, const char* const* argv) {
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
    const OperationName* operation = findOperation(operationName);
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
    if (!options.Directory && (options.Recursive || state.MaskGiven))
        return usageError(std::string(options.Recursive ? "--recursive" : "--mask") + " needs --dir");
    if (options.NulSeparatedList && !options.ListFile)
        return usageError("--null-data needs --list");
    if (!options.Directory && !options.ListFile && options.Paths.empty())
        return usageError("no files given: name PATHs, --list FILE or --dir DIR");

    ParseOutcome outcome;
    outcome.Options = std::move(options);
    return outcome;
}

} // namespace quillet::cli
