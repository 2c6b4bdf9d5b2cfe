// The command-line parser on its own: which argument lands where, byte for
// byte, and which lines are usage mistakes.
#include "cli/options.h"

#include <gtest/gtest.h>

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
        {{"search", "--", "--help"}, "no files given: name PATHs, --list FILE or --dir DIR"},
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

} // namespace
} // namespace quillet::cli
