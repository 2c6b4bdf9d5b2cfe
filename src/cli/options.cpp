#include "cli/options.h"

#include "core/text_ops.h"
#include "core/version.h"

#include <CLI/CLI.hpp>

#include <array>
#include <memory>
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

constexpr std::string_view kDescription =
    "Search, replace and insert text in many files at once.\n"
    "In PATTERN, '*' stands for any run of characters (\"href=*.htm\"); NEWTEXT may\n"
    "reuse what the stars covered as {$1}, {$2}, ...\n";

constexpr std::string_view kFooter =
    "Operations:\n"
    "  search PATTERN                  list the files where PATTERN occurs (never writes)\n"
    "  replace PATTERN NEWTEXT         replace each match by NEWTEXT\n"
    "  insert-before PATTERN NEWTEXT   insert NEWTEXT before each match\n"
    "  insert-after PATTERN NEWTEXT    insert NEWTEXT after each match\n"
    "  remove-script                   strip <body> attributes, remove <link> tags and <script> elements\n"
    "  strip-word-html                 reduce a word processor's HTML to plain mark-up\n"
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
    "  find . -name '*.txt' | quillet-cli insert-after '</title>' '<meta charset=utf-8>' -l -\n";

// The help's usage line names the arguments as users write them.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App*, std::string) const override {
        return "Usage: quillet-cli OPERATION [ARGS] [OPTIONS] [PATH...]\n";
    }
};

constexpr char kShield = '\x01';

void unshield(std::string& argument) {
    if (argument.size() >= 3 && argument[0] == kShield && argument[1] == '[')
        argument.erase(0, 1);
}

ParseOutcome usageError(const std::string& reason) {
    ParseOutcome outcome;
    outcome.Error = "quillet-cli: " + reason + "\n" + std::string(kUsage);
    outcome.ExitCode = 2;
    return outcome;
}

const OperationName* findOperation(std::string_view name) {
    for (const OperationName& operation : kOperations)
        if (operation.Name == name)
            return &operation;
    return nullptr;
}

} // namespace

ParseOutcome ParseArguments(int argc, const char* const* argv) {
    CLI::App app{std::string(kDescription), "quillet-cli"};
    app.footer(std::string(kFooter));
    app.set_version_flag("--version", std::string("quillet-cli ") + kVersion);
    auto formatter = std::make_shared<HelpFormatter>();
    formatter->column_width(30);
    app.formatter(formatter);

    CliOptions options;
    std::string operationName;
    std::vector<std::string> arguments;
    bool templateFlag = false;
    bool literalFlag = false;

    app.add_option("OPERATION", operationName,
                   "search, replace, insert-before, insert-after, remove-script or strip-word-html")
        ->required();
    app.add_option("ARGS", arguments, "PATTERN and NEWTEXT as the operation needs, then the PATHs");
    app.add_option("-l,--list", options.ListFile, "read the paths from FILE, one per line ('-': standard input)")
        ->type_name("FILE");
    app.add_option("-d,--dir", options.Directory, "the files of directory DIR whose names fit the mask")
        ->type_name("DIR");
    app.add_flag("-r,--recursive", options.Recursive, "with --dir: walk the whole tree below DIR");
    app.add_option("-m,--mask", options.Mask, "file-name mask for --dir (default \"*\")")->type_name("MASK");
    app.add_flag("-c,--case-sensitive", options.CaseSensitive, "compare letters exactly");
    app.add_flag("--template", templateFlag, "expand {$n} in NEWTEXT (default when NEWTEXT holds \"{$\")");
    app.add_flag("--literal", literalFlag, "insert NEWTEXT as written");
    app.add_option("--max-count", options.MaxCount, "matches handled per file; N <= 0: no limit (default)")
        ->type_name("N");
    app.add_option("--max-files", options.MaxFiles, "stop after N matching files")->type_name("N");
    app.add_option("-j,--threads", options.Threads,
                   "files read and matched at once (default: one per processor); files are still written "
                   "and listed one by one, in order")
        ->type_name("N");
    app.add_flag("-n,--dry-run", options.DryRun, "change no file; list what would change");
    app.add_flag("-q,--quiet", options.Quiet, "do not list the files");
    app.add_flag("-0,--null", options.NullTerminated, "end each listed entry with NUL instead of a newline");

    // CLI11 reads an argument written "[a,b]" as a list of values; a pattern
    // or path may well look like that, so such arguments are shielded with a
    // marker byte during parsing and taken back as written afterwards.
    std::vector<std::string> shielded;
    for (int i = argc - 1; i >= 1; --i) {
        std::string argument = argv[i];
        if (argument.size() >= 2 && argument.front() == '[' && argument.back() == ']')
            argument.insert(0, 1, kShield);
        shielded.push_back(std::move(argument));
    }
    try {
        app.parse(shielded);
    } catch (const CLI::CallForHelp&) {
        ParseOutcome outcome;
        outcome.Output = app.help();
        return outcome;
    } catch (const CLI::CallForVersion& version) {
        ParseOutcome outcome;
        outcome.Output = std::string(version.what()) + "\n";
        return outcome;
    } catch (const CLI::ParseError& error) {
        return usageError(error.what());
    }

    if (options.Threads < 0)
        return usageError("--threads needs a number of 1 or more");
    if (templateFlag && literalFlag)
        return usageError("--template and --literal exclude each other");
    for (std::string& argument : arguments)
        unshield(argument);
    for (std::optional<std::string>* value : {&options.ListFile, &options.Directory})
        if (*value)
            unshield(**value);
    unshield(options.Mask);
    unshield(operationName);

    const OperationName* operation = findOperation(operationName);
    if (operation == nullptr)
        return usageError("unknown operation '" + operationName + "'");
    options.Operation = operation->Code;
    if (static_cast<int>(arguments.size()) < operation->Arguments)
        return usageError(operationName +
                          (operation->Arguments == 1 ? " needs PATTERN" : " needs PATTERN and NEWTEXT"));
    auto next = arguments.begin();
    if (operation->Arguments >= 1)
        options.Pattern = *next++;
    if (operation->Arguments >= 2)
        options.NewText = *next++;
    options.Paths.assign(next, arguments.end());
    if (templateFlag || literalFlag)
        options.Template = templateFlag;

    if (options.Directory && (!options.Paths.empty() || options.ListFile))
        return usageError("--dir cannot be combined with PATHs or --list");
    if (!options.Directory && (options.Recursive || app.count("--mask") > 0))
        return usageError(std::string(options.Recursive ? "--recursive" : "--mask") + " needs --dir");
    if (!options.Directory && !options.ListFile && options.Paths.empty())
        return usageError("no files given: name PATHs, --list FILE or --dir DIR");

    ParseOutcome outcome;
    outcome.Options = std::move(options);
    return outcome;
}

} // namespace quillet::cli
