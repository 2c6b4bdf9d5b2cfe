// quillet-cli's --matches, -A, -B, -C and --column end to end, against grep
// where the two must agree.
#include "cli/match_printer.h"
#include "cli_fixture.h"
#include "testutil/peak_memory.h"

using namespace clitest;

namespace {

bool haveGrep() {
    return access("/usr/bin/grep", X_OK) == 0;
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

// Literal patterns, at most one match per line: the output is grep's, byte
// for byte, with context, group separators (also between files) and colour.
TEST_F(CliTest, MatchesAsGrepPrintsThem) {
    if (!haveGrep())
        GTEST_SKIP() << "no /usr/bin/grep";
    dir.write("a.txt", "1 x\n2 needle\n3 x\n4 x\n5 x\n6 x\n7 needle\n8 needle\n9 x\n10 x\n11 x\n12 needle");
    dir.write("b.txt", "needle first\nx\r\ny\n\nneedle after a blank line\nlast\n");
    dir.write("c.txt", "no match here\n");
    dir.write("d.txt", "x\nx\nx\nx\nx\nx\nneedle at the end\n");
    const std::vector<std::string> files{"a.txt", "b.txt", "c.txt", "d.txt"};
    const struct {
        std::vector<std::string> ours, grep;
    } cases[] = {
        {{"--matches"}, {"-n"}},
        {{"-C1"}, {"-n", "-C1"}},
        {{"-C", "2"}, {"-n", "-C2"}},
        {{"-A1"}, {"-n", "-A1"}},
        {{"-B3"}, {"-n", "-B3"}},
        {{"-A2", "-B1"}, {"-n", "-A2", "-B1"}},
        {{"-C5", "-A0"}, {"-n", "-C5", "-A0"}},
        {{"--matches", "--color=always"}, {"-n", "--color=always"}},
        {{"-C1", "--color=always"}, {"-n", "-C1", "--color=always"}},
    };
    for (const auto& c : cases) {
        const ProcessResult ours = cli(joined(joined({"search", "-c", "needle"}, c.ours), files));
        const ProcessResult grep =
            runProcess("/usr/bin/grep", joined(joined(c.grep, {"needle"}), files), "", dir.path().string());
        EXPECT_EQ(ours.Out, grep.Out) << c.ours[0];
        EXPECT_EQ(ours.Err, finished(4)) << c.ours[0];
        EXPECT_EQ(ours.ExitCode, 0) << c.ours[0];
    }
}

TEST_F(CliTest, MatchesSpanningLinesColumnsLimitsAndReplacements) {
    dir.write("a.txt", "one foo\nfoo two\n<b>\nbold\n</b> end\nlast foo\n");
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        // A match across lines prints each of its lines with its own number.
        {{"search", "<b>*</b>", "--matches"}, "a.txt:3:<b>\na.txt:4:bold\na.txt:5:</b> end\n"},
        {{"search", "foo", "--column"}, "a.txt:1:5:one foo\na.txt:2:1:foo two\na.txt:6:6:last foo\n"},
        {{"search", "foo", "--matches", "--max-count", "2"}, "a.txt:1:one foo\na.txt:2:foo two\n"},
        // A writing operation: each block of matching lines, then the same
        // lines as the operation leaves them.
        {{"replace", "foo", "bar", "-n", "--matches", "--max-count", "2"},
         "a.txt:1:one foo\na.txt>1>one bar\na.txt:2:foo two\na.txt>2>bar two\n"},
        {{"replace", "<b>*</b>", "[{$1}]", "-n", "--matches"},
         "a.txt:3:<b>\na.txt:4:bold\na.txt:5:</b> end\na.txt>3>[\na.txt>4>bold\na.txt>5>] end\n"},
        {{"insert-after", "two", "!", "-n", "-B1"}, "a.txt-1-one foo\na.txt:2:foo two\na.txt>2>foo two!\n"},
    };
    for (const auto& c : cases) {
        const ProcessResult r = cli(joined(c.args, {"a.txt"}));
        EXPECT_EQ(r.Out, c.out) << c.args[1];
        EXPECT_EQ(r.Err, finished(1)) << c.args[1];
        EXPECT_EQ(r.ExitCode, 0) << c.args[1];
    }
    EXPECT_EQ(readFile(dir.file("a.txt")), "one foo\nfoo two\n<b>\nbold\n</b> end\nlast foo\n");
}

// A long line prints about 300 bytes around its first match, never all of
// it, and a cut never splits a character.
TEST_F(CliTest, MatchesCutLongLinesAroundTheMatch) {
    const std::string before(1000, 'a');
    const std::string after(1000, 'z');
    std::string euros;
    for (int i = 0; i < 400; ++i)
        euros += "\xE2\x82\xAC";
    // Stray continuation bytes are no character to keep whole: the cut
    // still comes about 300 bytes on (the whole line came out).
    const std::string stray(1000, '\x80');
    dir.write("long.txt", "short needle\n" + before + "needle" + after + "\n" + euros + "needle\n" + stray + "needle" +
                              stray + "\n");
    const ProcessResult r = cli({"search", "needle", "--matches", "long.txt"});
    const std::string expected = "long.txt:1:short needle\n"
                                 "long.txt:2:[...]" +
                                 std::string(100, 'a') + "needle" + std::string(194, 'z') +
                                 "[...]\n"
                                 "long.txt:3:[...]" +
                                 euros.substr(0, 102) + "needle\n" + "long.txt:4:[...]" + std::string(103, '\x80') +
                                 "needle" + std::string(197, '\x80') + "[...]\n";
    EXPECT_EQ(r.Out, expected);
}

TEST_F(CliTest, MatchesRefusedWhereTheyCannotBeShown) {
    dir.write("a.txt", "x");
    const struct {
        std::vector<std::string> args;
        std::string reason;
    } cases[] = {
        {{"search", "x", "--matches", "--diff", "a.txt"},
         "--matches (or -A, -B, -C, --column) and --diff exclude each other"},
        {{"search", "x", "-C1", "-0", "a.txt"}, "--matches (or -A, -B, -C, --column) and --null exclude each other"},
        {{"search", "x", "-C", "-1", "a.txt"}, "--context needs a number of lines, not '-1'"},
        {{"search", "x", "-A", "x", "a.txt"}, "--after-context needs a number of lines, not 'x'"},
        {{"remove-script", "--matches", "a.txt"}, "--matches needs an operation with a PATTERN"},
    };
    for (const auto& c : cases) {
        const ProcessResult r = cli(c.args);
        EXPECT_EQ(r.Err, "quillet-cli: " + c.reason + "\n" + kUsageTail) << c.reason;
        EXPECT_EQ(r.ExitCode, 2) << c.reason;
    }
}

TEST_F(CliTest, MatchesInABinaryFileAreNamedNotPrinted) {
    dir.write("b.bin", std::string("x\0needle\n", 9));
    const ProcessResult r = cli({"search", "needle", "--matches", "b.bin"});
    EXPECT_EQ(r.Out, "quillet-cli: b.bin: binary file matches\n");
    EXPECT_EQ(r.ExitCode, 0);
}

// A run that writes (its rewrites staged and put in place in batches, some
// ahead on workers) shows the matches its dry run shows, in run order.
TEST_F(CliTest, MatchesOfARunThatWritesAreThoseOfItsDryRun) {
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back("f" + std::to_string(i) + ".txt");
        dir.write(files.back(), i % 3 == 0 ? "nothing\n" : "a foo\nb\nfoo " + std::to_string(i) + "\n");
    }
    const ProcessResult dry = cli(joined({"replace", "foo", "bar", "-n", "-C1", "-j3"}, files));
    const ProcessResult ran = cli(joined({"replace", "foo", "bar", "-C1", "-j3"}, files));
    EXPECT_EQ(ran.Out, dry.Out);
    EXPECT_NE(dry.Out.find("f38.txt:3:foo 38\nf38.txt>3>bar 38\n"), std::string::npos) << dry.Out;
    EXPECT_EQ(readFile(dir.file("f1.txt")), "a bar\nb\nbar 1\n");
}

// A file with more matches than a worker lists ahead of its turn prints as
// grep prints it, with one thread or several, and its dry run alike.
TEST_F(CliTest, MatchesOfAFileWithManyPrintAsFoundInRunOrder) {
    if (!haveGrep())
        GTEST_SKIP() << "no /usr/bin/grep";
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += (i % 3 == 0 ? "x\n" : "a needle here\n");
    dir.write("a.txt", "needle\n");
    dir.write("many.txt", many);
    dir.write("z.txt", "x\nneedle");
    const std::vector<std::string> files{"a.txt", "many.txt", "z.txt", "many.txt"};
    const ProcessResult grep =
        runProcess("/usr/bin/grep", joined({"-n", "-C1", "needle"}, files), "", dir.path().string());
    const ProcessResult dryAlone = cli(joined({"replace", "-j", "1", "-n", "-C1", "needle", "pin"}, files));
    for (const char* threads : {"1", "3"}) {
        EXPECT_EQ(cli(joined({"search", "-j", threads, "-C1", "needle"}, files)).Out, grep.Out) << threads;
        EXPECT_EQ(cli(joined({"replace", "-j", threads, "-n", "-C1", "needle", "pin"}, files)).Out, dryAlone.Out)
            << threads;
    }
    EXPECT_NE(dryAlone.Out.find("many.txt>20000>a pin here\n"), std::string::npos);
}

// A dry run over one line of millions of matches held every match, every
// mark of the new line and a copy of those: 11 GB for a line of 100 MB.
TEST(MatchPrinterTest, OneLineOfMillionsOfMatchesPrintsInFlatMemory) {
    const std::size_t length = std::size_t{4} << 20;
    const std::string text = std::string(length, 'a') + "\n";
    const struct {
        const char* name;
        std::string replacement;
        std::string printed; // after "f>1>"
    } cases[] = {
        {"same length", "b", std::string(300, 'b') + "[...]\n"},
        {"removed", "", "\n"},
        {"longer", "bc", "bcbcbc"},
    };
    for (const auto& c : cases) {
        std::string out;
        quillet::cli::MatchPrinter printer({.Replacement = true}, [&out](std::string_view piece) { out += piece; });
        const bool peakReset = quillet::testutil::resetPeakMemory();
        const long before = quillet::testutil::peakMemoryKiB();
        quillet::engine::MatchLocation match{.FirstLine = 1, .LastLine = 1, .Replacement = c.replacement};
        printer.begin("f", text);
        for (std::size_t i = 0; i < length; ++i) {
            match.Start = i;
            match.End = i + 1;
            match.FirstColumn = match.LastColumn = static_cast<std::int64_t>(i) + 1;
            printer.add(match);
        }
        printer.end();
        // Holding each match took 450 MB and more; the new line alone takes
        // 4 to 8 MB (a sanitizer's shadow memory adds several times that).
        if (peakReset) {
            EXPECT_LT(quillet::testutil::peakMemoryKiB() - before, 160 * 1024) << c.name;
        }
        EXPECT_EQ(out.substr(0, 4 + 300 + 6), "f:1:" + std::string(300, 'a') + "[...]\n") << c.name;
        EXPECT_EQ(out.substr(310, 4 + std::min<std::size_t>(c.printed.size(), 6)),
                  "f>1>" + c.printed.substr(0, std::min<std::size_t>(c.printed.size(), 6)))
            << c.name;
    }
}
