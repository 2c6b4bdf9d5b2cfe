// The command-line parser on its own: which argument lands where, byte for
// byte, and which lines are usage mistakes.
#include "cli/cli_run.h"
#include "cli/options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quillet::cli {
namespace {

ParseOutcome parse(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"quillet-cli"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    return ParseArguments(static_cast<int>(argv.size()), argv.data());
}

std::string joined(const std::vector<std::string>& args) {
    std::string out;
    for (const std::string& arg : args)
        out += "[" + arg + "]";
    return out;
}

// A leading 0x01 byte was taken for a marker of the parser's own and removed,
// so "\x01[x" named the file "[x". Every byte must reach the run as given,
// at the start of a pattern, of a new text and of a path.
TEST(ParseArgumentsTest, EveryLeadingByteReachesTheRunUnchanged) {
    for (int byte = 1; byte <= 255; ++byte) {
        for (const std::string tail : {"", "[x", "[a,b]", "x]"}) {
            const std::string text = std::string(1, static_cast<char>(byte)) + tail;
            // After "--" anything is an operand; before it, whatever does not
            // start with "-".
            std::vector<std::vector<std::string>> lines = {{"replace", "-q", "--", text, text + "n", text + "p"}};
            if (byte != '-')
                lines.push_back({"replace", text, "-n", text + "n", text + "p", "-q"});
            for (const auto& line : lines) {
                const ParseOutcome r = parse(line);
                ASSERT_TRUE(r.Options) << "byte " << byte << " " << joined(line) << ": " << r.Error;
                EXPECT_EQ(r.Options->Pattern, text) << "byte " << byte << " " << joined(line);
                EXPECT_EQ(r.Options->NewText, text + "n") << "byte " << byte << " " << joined(line);
                ASSERT_EQ(r.Options->Paths, std::vector<std::string>{text + "p"}) << "byte " << byte;
                EXPECT_TRUE(r.Options->Quiet) << "byte " << byte << " " << joined(line);
            }
            const ParseOutcome listed = parse({"search", "p", "--list", text});
            ASSERT_TRUE(listed.Options) << "byte " << byte << ": " << listed.Error;
            EXPECT_EQ(listed.Options->ListFile, text) << "byte " << byte;
            const ParseOutcome masked = parse({"search", "p", "-d", text, "--mask=" + text});
            ASSERT_TRUE(masked.Options) << "byte " << byte << ": " << masked.Error;
            EXPECT_EQ(masked.Options->Directory, text) << "byte " << byte;
            EXPECT_EQ(masked.Options->Mask, text) << "byte " << byte;
        }
    }
}

TEST(ParseArgumentsTest, OptionSpellingsAndPlaces) {
    struct Case {
        std::vector<std::string> args;
        int threads;
        std::int64_t maxCount;
        std::string mask;
        bool recursive, quiet, dryRun, nulList;
        std::vector<std::string> paths;
    } cases[] = {
        {{"search", "p", "-d", "x", "-j4"}, 4, -1, "*", false, false, false, false, {}},
        {{"search", "p", "-d", "x", "-j", "4"}, 4, -1, "*", false, false, false, false, {}},
        {{"search", "p", "-d", "x", "--threads=4"}, 4, -1, "*", false, false, false, false, {}},
        {{"search", "p", "-d", "x", "--threads", "4"}, 4, -1, "*", false, false, false, false, {}},
        {{"-rq", "search", "-d", "x", "p"}, 0, -1, "*", true, true, false, false, {}},
        {{"search", "p", "-rqnm*.htm", "-d", "x"}, 0, -1, "*.htm", true, true, true, false, {}},
        {{"search", "p", "-rm", "*.htm", "-dx"}, 0, -1, "*.htm", true, false, false, false, {}},
        {{"search", "p", "--max-count", "-1", "a"}, 0, -1, "*", false, false, false, false, {"a"}},
        {{"search", "p", "--max-count=-3", "a"}, 0, -3, "*", false, false, false, false, {"a"}},
        {{"search", "p", "--max-count=", "a"}, 0, 0, "", false, false, false, false, {}}, // a mistake
        {{"search", "p", "-", "a", "-q", "b"}, 0, -1, "*", false, true, false, false, {"-", "a", "b"}},
        {{"search", "p", "a", "--", "-q", "--"}, 0, -1, "*", false, false, false, false, {"a", "-q", "--"}},
        {{"search", "p", "-zl", "-"}, 0, -1, "*", false, false, false, true, {}},
        {{"search", "p", "--null-data", "--list=l"}, 0, -1, "*", false, false, false, true, {}},
        {{"search", "p", "-m", "-q", "-d", "x"}, 0, -1, "-q", false, false, false, false, {}},
        // --exclude, before or after -m, adds each of its pieces as a "!" token
        {{"search", "p", "--exclude", "*.min.js", "-d", "x", "-m", "*.js"},
         0,
         -1,
         "*.js;!*.min.js",
         false,
         false,
         false,
         false,
         {}},
        {{"search", "p", "-d", "x", "--exclude=a/;b", "--exclude", ";!c"},
         0,
         -1,
         "*;!a/;!b;!!c",
         false,
         false,
         false,
         false,
         {}},
    };
    for (const Case& c : cases) {
        const ParseOutcome r = parse(c.args);
        if (c.mask.empty()) {
            EXPECT_FALSE(r.Options) << joined(c.args);
            EXPECT_EQ(r.ExitCode, 2) << joined(c.args);
            continue;
        }
        ASSERT_TRUE(r.Options) << joined(c.args) << ": " << r.Error;
        const CliOptions& o = *r.Options;
        EXPECT_EQ(o.Threads, c.threads) << joined(c.args);
        EXPECT_EQ(o.MaxCount, c.maxCount) << joined(c.args);
        EXPECT_EQ(o.Mask, c.mask) << joined(c.args);
        EXPECT_EQ(o.Recursive, c.recursive) << joined(c.args);
        EXPECT_EQ(o.Quiet, c.quiet) << joined(c.args);
        EXPECT_EQ(o.DryRun, c.dryRun) << joined(c.args);
        EXPECT_EQ(o.NulSeparatedList, c.nulList) << joined(c.args);
        EXPECT_EQ(o.Paths, c.paths) << joined(c.args);
        EXPECT_EQ(o.Pattern, "p") << joined(c.args);
    }
}

TEST(ParseArgumentsTest, UsageMistakesGiveTheirReason) {
    struct Case {
        std::vector<std::string> args;
        std::string reason;
    } cases[] = {
        {{}, "no operation given"},
        {{"search"}, "search needs PATTERN"},
        {{"search", "p", "--bogus", "a"}, "unknown option '--bogus'"},
        {{"search", "p", "-rx", "a"}, "unknown option '-x'"},
        {{"search", "p", "--dry-run=yes", "a"}, "--dry-run takes no value"},
        {{"search", "p", "a", "--mask"}, "--mask needs a value"},
        {{"search", "p", "a", "-j"}, "--threads needs a value"},
        {{"search", "p", "a", "-j", "x"}, "--threads needs a number, not 'x'"},
        {{"search", "p", "a", "-j", "-1"}, "--threads needs a number of 1 or more"},
        {{"search", "p", "a", "--max-files", "2x"}, "--max-files needs a number, not '2x'"},
        {{"search", "p", "a", "--max-count="}, "--max-count needs a number, not ''"},
        {{"search", "p", "-d", "x", "-m", "a", "-m", "b"}, "--mask given more than once"},
        {{"search", "p", "a", "-z"}, "--null-data needs --list"},
        {{"search", "p", "a", "--exclude", "b"}, "--exclude needs --dir"},
        {{"search", "p", "-d", "x", "--exclude"}, "--exclude needs a value"},
        {{"search", "--", "--help"}, "no files given: name PATHs, --list FILE or --dir DIR"},
        {{"search", "p", "--keep-case", "a"}, "--keep-case applies to replace only"},
        {{"insert-after", "p", "q", "--keep-case", "a"}, "--keep-case applies to replace only"},
        {{"remove-script", "-w", "a"}, "--word does not apply to remove-script, which takes no PATTERN"},
    };
    for (const Case& c : cases) {
        const ParseOutcome r = parse(c.args);
        EXPECT_FALSE(r.Options) << joined(c.args);
        EXPECT_EQ(r.ExitCode, 2) << joined(c.args);
        EXPECT_EQ(r.Output, "") << joined(c.args);
        EXPECT_EQ(r.Error, "quillet-cli: " + c.reason +
                               "\nUsage: quillet-cli OPERATION [ARGS] [OPTIONS] [PATH...]\n"
                               "Try 'quillet-cli --help' for more information.\n")
            << joined(c.args);
    }
}

TEST(ParseArgumentsTest, HelpAndVersionWinOverLaterArguments) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"search", "-h", "--bogus"}, {"-qh"}, {"frobnicate", "--help"}}) {
        const ParseOutcome r = parse(args);
        EXPECT_EQ(r.ExitCode, 0) << joined(args);
        EXPECT_TRUE(r.Output.starts_with("Search, replace and insert text")) << joined(args);
        EXPECT_EQ(r.Error, "") << joined(args);
    }
    EXPECT_EQ(parse({"--bogus", "--help"}).ExitCode, 2);
    EXPECT_TRUE(parse({"--version", "x"}).Output.starts_with("quillet-cli "));
}

TEST(ParseArgumentsTest, WaysBackAndDiffOptions) {
    struct Case {
        std::vector<std::string> args;
        std::optional<std::string> backup;
        bool diff, keepGoing, noJournal;
        ColorWhen color;
        std::vector<std::string> paths;
    } cases[] = {
        {{"replace", "p", "n", "a"}, std::nullopt, false, false, false, ColorWhen::Auto, {"a"}},
        // The suffix is optional, so it comes only after '=': a later
        // argument is a path.
        {{"replace", "p", "n", "--backup", "a"}, ".bak", false, false, false, ColorWhen::Auto, {"a"}},
        {{"replace", "p", "n", "--backup=.orig", "a"}, ".orig", false, false, false, ColorWhen::Auto, {"a"}},
        {{"replace", "p", "n", "--backup=~", "a"}, "~", false, false, false, ColorWhen::Auto, {"a"}},
        {{"replace", "p", "n", "--diff", "--color=always", "a"},
         std::nullopt,
         true,
         false,
         false,
         ColorWhen::Always,
         {"a"}},
        {{"replace", "p", "n", "--color", "never", "a"}, std::nullopt, false, false, false, ColorWhen::Never, {"a"}},
        {{"replace", "p", "n", "--keep-going", "--no-journal", "a", "b"},
         std::nullopt,
         false,
         true,
         true,
         ColorWhen::Auto,
         {"a", "b"}},
        {{"replace", "p", "n", "--", "--backup", "--diff"},
         std::nullopt,
         false,
         false,
         false,
         ColorWhen::Auto,
         {"--backup", "--diff"}},
    };
    for (const Case& c : cases) {
        const ParseOutcome r = parse(c.args);
        ASSERT_TRUE(r.Options) << joined(c.args) << ": " << r.Error;
        const CliOptions& o = *r.Options;
        EXPECT_EQ(o.BackupSuffix, c.backup) << joined(c.args);
        EXPECT_EQ(o.Diff, c.diff) << joined(c.args);
        EXPECT_EQ(o.KeepGoing, c.keepGoing) << joined(c.args);
        EXPECT_EQ(o.NoJournal, c.noJournal) << joined(c.args);
        EXPECT_EQ(o.Color, c.color) << joined(c.args);
        EXPECT_EQ(o.Paths, c.paths) << joined(c.args);
    }
}

TEST(ParseArgumentsTest, MistakesWithTheNewOptions) {
    struct Case {
        std::vector<std::string> args;
        std::string reason;
    } cases[] = {
        {{"replace", "p", "n", "--backup=", "a"}, "--backup needs a suffix that is not empty and holds no '/', not ''"},
        {{"replace", "p", "n", "--backup=x/y", "a"},
         "--backup needs a suffix that is not empty and holds no '/', not 'x/y'"},
        {{"replace", "p", "n", "--backup", "--backup", "a"}, "--backup given more than once"},
        {{"replace", "p", "n", "--color=sometimes", "a"}, "--color needs auto, always or never, not 'sometimes'"},
        {{"replace", "p", "n", "--diff=yes", "a"}, "--diff takes no value"},
        {{"replace", "p", "n", "--diff", "-0", "a"}, "--diff and --null exclude each other"},
        {{"replace", "p", "n", "--encoding=latin1", "a"}, "--encoding needs auto or bytes, not 'latin1'"},
        {{"replace", "p", "n", "--binary=yes", "a"}, "--binary takes no value"},
    };
    for (const Case& c : cases) {
        const ParseOutcome r = parse(c.args);
        EXPECT_FALSE(r.Options) << joined(c.args);
        EXPECT_EQ(r.ExitCode, 2) << joined(c.args);
        EXPECT_TRUE(r.Error.starts_with("quillet-cli: " + c.reason + "\nUsage: ")) << joined(c.args) << r.Error;
    }
}

TEST(ParseArgumentsTest, UndoLines) {
    const std::string usage = "Usage: quillet-cli undo [RUN-ID] [--force]\n"
                              "       quillet-cli undo --list\n"
                              "Try 'quillet-cli --help' for more information.\n";
    struct Case {
        std::vector<std::string> args;
        std::string reason; // empty: parses
        bool list, force;
        std::string runId;
    } cases[] = {
        {{"undo"}, "", false, false, ""},
        {{"undo", "--list"}, "", true, false, ""},
        {{"undo", "20261207-142501-4f3a"}, "", false, false, "20261207-142501-4f3a"},
        {{"undo", "--force", "r1"}, "", false, true, "r1"},
        {{"undo", "r1", "--force"}, "", false, true, "r1"},
        {{"undo", "--", "-r"}, "", false, false, "-r"},
        {{"undo", "--list", "r1"}, "undo --list takes no RUN-ID or --force", false, false, ""},
        {{"undo", "--list", "--force"}, "undo --list takes no RUN-ID or --force", false, false, ""},
        {{"undo", "--list=5"}, "undo takes no option '--list=5'", false, false, ""},
        {{"undo", "-q"}, "undo takes no option '-q'", false, false, ""},
        {{"undo", "r1", "r2"}, "undo takes one RUN-ID, not also 'r2'", false, false, ""},
        {{"undo", ""}, "undo needs a RUN-ID that is not empty", false, false, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        const ParseOutcome r = parse(args);
        EXPECT_FALSE(r.Options) << joined(c.args);
        if (!c.reason.empty()) {
            EXPECT_FALSE(r.Undo) << joined(c.args);
            EXPECT_EQ(r.ExitCode, 2) << joined(c.args);
            EXPECT_EQ(r.Error, "quillet-cli: " + c.reason + "\n" + usage) << joined(c.args);
            continue;
        }
        ASSERT_TRUE(r.Undo) << joined(c.args) << ": " << r.Error;
        EXPECT_EQ(r.Undo->List, c.list) << joined(c.args);
        EXPECT_EQ(r.Undo->Force, c.force) << joined(c.args);
        EXPECT_EQ(r.Undo->RunId, c.runId) << joined(c.args);
    }
    // "undo" is a command only in first place: elsewhere it is a pattern.
    const ParseOutcome later = parse({"search", "undo", "a"});
    ASSERT_TRUE(later.Options);
    EXPECT_EQ(later.Options->Pattern, "undo");
}

TEST(QuoteCommandLineTest, AShellReadsEachArgumentBack) {
    struct Case {
        std::string argument;
        std::string quoted;
    } cases[] = {
        {"replace", "replace"},
        {"--backup=.bak", "--backup=.bak"},
        {"", "''"},
        {"a b", "'a b'"},
        {"it's", "'it'\\''s'"},
        {"href=*.htm", "'href=*.htm'"},
        {"{$1}", "'{$1}'"},
        {"a\nb", "$'a\\nb'"},
        {"tab\there's", "$'tab\\there\\'s'"},
        {std::string("\x01"
                     "f",
                     2),
         "$'\\x01f'"},
        {"back\\slash\x1b", "$'back\\\\slash\\x1b'"},
        {"caf\xe9", "'caf\xe9'"},
    };
    for (const Case& c : cases) {
        const char* argv[] = {"quillet-cli", c.argument.c_str()};
        EXPECT_EQ(QuoteCommandLine(2, argv), "quillet-cli " + c.quoted) << "[" << c.argument << "]";
    }
    const ParseOutcome r = parse({"replace", "a b", "c", "-n", "f"});
    ASSERT_TRUE(r.Options);
    EXPECT_EQ(r.Options->CommandLine, "quillet-cli replace 'a b' c -n f");
}

TEST(ChooseDiffColorTest, AutoColoursOnlyARealTerminal) {
    struct Case {
        ColorWhen when;
        bool terminal;
        const char* noColor;
        const char* term;
        core::DiffColor expected;
    } cases[] = {
        {ColorWhen::Auto, true, nullptr, "xterm", core::DiffColor::Ansi},
        {ColorWhen::Auto, true, nullptr, nullptr, core::DiffColor::Ansi},
        {ColorWhen::Auto, true, "", "xterm", core::DiffColor::Ansi},
        {ColorWhen::Auto, false, nullptr, "xterm", core::DiffColor::None},
        {ColorWhen::Auto, true, "1", "xterm", core::DiffColor::None},
        {ColorWhen::Auto, true, nullptr, "dumb", core::DiffColor::None},
        {ColorWhen::Always, false, "1", "dumb", core::DiffColor::Ansi},
        {ColorWhen::Never, true, nullptr, "xterm", core::DiffColor::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseDiffColor(c.when, c.terminal, c.noColor, c.term), c.expected)
            << static_cast<int>(c.when) << " terminal " << c.terminal << " NO_COLOR " << (c.noColor ? c.noColor : "-")
            << " TERM " << (c.term ? c.term : "-");
}

} // namespace
} // namespace quillet::cli
