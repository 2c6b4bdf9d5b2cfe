// quillet-cli's --backup, --diff, --keep-going, --word and --keep-case end to end.
#include "cli_fixture.h"

using namespace clitest;

namespace {

bool haveDiff() {
    return access("/usr/bin/diff", X_OK) == 0;
}

} // namespace

TEST_F(CliTest, BackupKeepsTheOldBytesAndModeBesideTheFile) {
    struct Case {
        std::vector<std::string> option;
        std::string suffix;
    } cases[] = {{{"--backup"}, ".bak"}, {{"--backup=.orig"}, ".orig"}, {{"--backup=~"}, "~"}};
    for (const Case& c : cases) {
        dir.write("a.txt", "old one");
        fs::permissions(dir.path() / "a.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        std::vector<std::string> args{"replace", "old", "mid"};
        args.insert(args.end(), c.option.begin(), c.option.end());
        args.push_back("a.txt");
        ProcessResult r = cli(args);
        ASSERT_EQ(r.ExitCode, 0) << c.suffix << ": " << r.Err;
        const fs::path backup = dir.path() / ("a.txt" + c.suffix);
        EXPECT_EQ(readFile(backup), "old one") << c.suffix;
        EXPECT_EQ(fs::status(backup).permissions(), fs::status(dir.path() / "a.txt").permissions()) << c.suffix;
        EXPECT_EQ(fs::status(backup).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
            << c.suffix;
        // A second run replaces the backup by the content it found.
        args[1] = "mid";
        args[2] = "new";
        r = cli(args);
        ASSERT_EQ(r.ExitCode, 0) << c.suffix << ": " << r.Err;
        EXPECT_EQ(readFile(backup), "mid one") << c.suffix;
        EXPECT_EQ(readFile(dir.file("a.txt")), "new one") << c.suffix;
        fs::remove(backup);
    }
}

TEST_F(CliTest, BackupIsNotMadeByRunsThatWriteNothing) {
    dir.write("a.txt", "old");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"search", "old", "--backup", "a.txt"}, {"replace", "old", "new", "--backup", "-n", "a.txt"}}) {
        EXPECT_EQ(cli(args).ExitCode, 0) << args[0];
        EXPECT_FALSE(fs::exists(dir.path() / "a.txt.bak")) << args[0];
    }
}

// The walk lists each folder before it rewrites in it, so the backups it
// makes are not met again; a backup from an earlier run is an ordinary file.
TEST_F(CliTest, AWalkDoesNotProcessTheBackupsItMakes) {
    dir.write("site/a.txt", "old");
    dir.write("site/sub/b.txt", "old");
    dir.write("site/sub/z.txt", "old");
    ProcessResult r = cli({"replace", "old", "new", "-d", "site", "-r", "--backup"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "site/a.txt\nsite/sub/b.txt\nsite/sub/z.txt\n");
    const TreeSnapshot tree = snapshotTree(dir.path() / "site");
    std::vector<std::string> names;
    for (const auto& [name, entry] : tree)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "a.txt.bak", "sub", "sub/b.txt", "sub/b.txt.bak", "sub/z.txt",
                                               "sub/z.txt.bak"}));
    EXPECT_EQ(tree.at("sub/b.txt.bak").Content, "old");
}

TEST_F(CliTest, DiffIsWhatDiffUWrites) {
    if (!haveDiff())
        GTEST_SKIP() << "no diff program";
    struct Case {
        std::string text, pattern, newText;
    } cases[] = {
        {"old\n", "old", "new"},
        {"a\nb\nc\nd\ne\nf\ng\nold\nh\ni\nj\nk\nl\nm\nn\no\nold\np\n", "old", "new"},
        {"no line break at the end: old", "old", "new"},
        {"old\n", "old", "new\n"},
        {"one\nold\nthree\n", "old\n", ""},
        {"\r\nold\r\n", "old", "new"},
        {"x\n\n\nold\n\n\n\n\n\n\nold", "old", "more\nlines\n"},
    };
    for (const bool dryRun : {false, true}) {
        for (const Case& c : cases) {
            dir.write("t.txt", c.text);
            std::vector<std::string> args{"replace", c.pattern, c.newText, "--diff", "--color=never", "t.txt"};
            if (dryRun)
                args.push_back("--dry-run");
            const ProcessResult r = cli(args);
            EXPECT_EQ(r.ExitCode, 0) << c.text << ": " << r.Err;
            // What the file would now hold: run the same without --dry-run and --diff.
            dir.write("old.txt", c.text);
            dir.write("new.txt", c.text);
            ASSERT_EQ(cli({"replace", c.pattern, c.newText, "new.txt", "--no-journal", "-q"}).ExitCode, 0);
            const ProcessResult expected =
                runProcess("/usr/bin/diff", {"-u", "--label", "a/t.txt", "--label", "b/t.txt", "old.txt", "new.txt"},
                           {}, dir.path().string());
            EXPECT_EQ(r.Out, expected.Out) << "[" << c.text << "] dry run " << dryRun;
            EXPECT_EQ(readFile(dir.file("t.txt")), dryRun ? c.text : readFile(dir.file("new.txt")))
                << "[" << c.text << "] dry run " << dryRun;
        }
    }
}

TEST_F(CliTest, DiffColoursAndBinaryFiles) {
    struct Case {
        std::vector<std::string> options;
        std::string text;
        std::string out;
    } cases[] = {
        {{"--color=never"}, "old\n", "--- a/t.txt\n+++ b/t.txt\n@@ -1 +1 @@\n-old\n+new\n"},
        // The tests' standard output is a pipe: auto means none.
        {{}, "old\n", "--- a/t.txt\n+++ b/t.txt\n@@ -1 +1 @@\n-old\n+new\n"},
        {{"--color", "always"},
         "old\n",
         "\033[1m--- a/t.txt\033[m\n\033[1m+++ b/t.txt\033[m\n\033[36m@@ -1 +1 @@\033[m\n\033[31m-old\033[m\n"
         "\033[32m+new\033[m\n"},
        {{"--color=always", "--binary"}, std::string("old\0\n", 5), "Binary files a/t.txt and b/t.txt differ\n"},
        {{"--color=never"}, std::string(9000, 'x') + std::string("\0old", 4), "--- a/t.txt\n"},
    };
    for (const Case& c : cases) {
        dir.write("t.txt", c.text);
        std::vector<std::string> args{"replace", "old", "new", "--diff", "-n", "t.txt"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ProcessResult r = cli(args);
        EXPECT_EQ(r.ExitCode, 0) << c.out << r.Err;
        EXPECT_TRUE(r.Out.starts_with(c.out)) << c.out << " got " << r.Out.substr(0, 200);
        EXPECT_EQ(r.Err, finished(1)) << c.out;
    }
}

TEST_F(CliTest, KeepGoingReportsAFailedFileAndGoesOn) {
    dir.write("a.txt", "old");
    dir.write("c.txt", "old");
    ProcessResult r = cli({"replace", "old", "new", "--keep-going", "a.txt", "missing.txt", "c.txt"});
    EXPECT_EQ(r.Out, "a.txt\nc.txt\n");
    EXPECT_EQ(r.Err, "quillet-cli: missing.txt: Cannot open file \"" + dir.file("missing.txt") +
                         "\". No such file or directory\n" + journaled() + finished(2));
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(readFile(dir.file("c.txt")), "new");

    // A search fails the same way; with nothing that matched, still 2.
    r = cli({"search", "absent", "--keep-going", "missing.txt", "a.txt"});
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "quillet-cli: missing.txt: Cannot open file \"" + dir.file("missing.txt") +
                         "\". No such file or directory\n" + finished(1));
    EXPECT_EQ(r.ExitCode, 2);
}

// Only Search reads files whole with --word; every operation takes the same
// matches, in UTF-8 and in decoded UTF-16 text alike.
TEST_F(CliTest, WordAndKeepCaseReachEveryOperation) {
    const std::string utf16Cat("\xFF\xFE"
                               "c\0a\0t\0",
                               8);
    const std::string utf16Concat("\xFF\xFE"
                                  "x\0c\0a\0t\0",
                                  10);
    struct Case {
        std::vector<std::string> args;
        std::string text;
        std::string out;
        int exitCode;
        std::string after;
    } cases[] = {
        {{"search", "-w", "cat"}, "concat Cat\n", "a.txt\n", 0, "concat Cat\n"},
        {{"search", "--word", "cat"}, "concatenate\n", "", 1, "concatenate\n"},
        {{"search", "-w", "cat"}, std::string(300000, 'x') + "cat " + std::string(300000, 'x'), "", 1, ""},
        {{"search", "-w", "cat"}, "xcat" + std::string(300000, ' ') + "cat", "a.txt\n", 0, ""},
        {{"search", "-w", "cat"}, utf16Cat, "a.txt\n", 0, utf16Cat},
        {{"search", "-w", "cat"}, utf16Concat, "", 1, utf16Concat},
        {{"replace", "-w", "cat", "dog"}, "concat cat\n", "a.txt\n", 0, "concat dog\n"},
        {{"insert-after", "-w", "cat", "!"}, "concat cat\n", "a.txt\n", 0, "concat cat!\n"},
        {{"replace", "--keep-case", "cat", "dog"}, "cat Cat CAT cAT\n", "a.txt\n", 0, "dog Dog DOG dog\n"},
        {{"replace", "-w", "--keep-case", "-c", "Cat", "dog"}, "Cats Cat cat\n", "a.txt\n", 0, "Cats Dog cat\n"},
    };
    for (const Case& c : cases) {
        dir.write("a.txt", c.text);
        std::vector<std::string> args = c.args;
        args.push_back("a.txt");
        const ProcessResult r = cli(args);
        const std::string where = c.args[0] + " " + c.args[1] + " on " + c.text.substr(0, 20);
        EXPECT_EQ(r.ExitCode, c.exitCode) << where << ": " << r.Err;
        EXPECT_EQ(r.Out, c.out) << where;
        if (!c.after.empty()) {
            EXPECT_EQ(readFile(dir.file("a.txt")), c.after) << where;
        }
    }
}
