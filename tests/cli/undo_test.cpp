// quillet-cli's way back end to end: the run journal every writing run
// keeps, `undo` and `undo --list`.
#include "cli_fixture.h"
#include <chrono>
#include <thread>

#include <fstream>
#include <sys/stat.h>

using namespace clitest;

namespace {

// A small site of pages with different modes, a symlink the walk passes
// over, and a file the mask leaves out.
void writeSite(const TempDir& dir) {
    dir.write("site/a.htm", "<html><body onload=\"x()\"><script>s()</script>\n<p class=MsoNormal>old</p>\n"
                            "</body></html>\n");
    dir.write("site/sub/b.htm", "old old\nold\n");
    dir.write("site/sub/deep/c.htm", "no match here\n");
    dir.write("site/sub/deep/d.htm", "x old\r\nlast old");
    dir.write("site/keep.txt", "old\n");
    fs::permissions(dir.path() / "site/sub/b.htm", fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir.path() / "site/sub/deep/d.htm", fs::perms::owner_all | fs::perms::group_read);
    fs::create_symlink("sub/b.htm", dir.path() / "site/link.htm");
}

} // namespace

TEST_F(CliTest, UndoGivesBackBytesAndModesAfterEachKindOfRun) {
    const std::vector<std::vector<std::string>> runs = {
        {"replace", "old", "new"},
        {"replace", "o*d", "[{$1}]"},
        {"insert-before", "old", ">"},
        {"insert-after", "old", "<"},
        {"remove-script"},
        {"strip-word-html"},
    };
    for (const std::vector<std::string>& run : runs) {
        fs::remove_all(dir.path() / "site");
        writeSite(dir);
        const TreeSnapshot before = snapshotTree(dir.path() / "site");
        std::vector<std::string> args = run;
        for (const char* option : {"-d", "site", "-r", "-m", "*.htm"})
            args.push_back(option);
        ProcessResult r = cli(args);
        ASSERT_EQ(r.ExitCode, 0) << run[0] << ": " << r.Err;
        ASSERT_NE(snapshotTree(dir.path() / "site"), before) << run[0] << " changed nothing";
        const std::string id = lastRunId();
        const std::size_t finalLine = r.Err.rfind("Finished! ");
        EXPECT_TRUE(finalLine != std::string::npos && r.Err.substr(0, finalLine).ends_with(journaled()))
            << run[0] << ": the journal line comes right before the final line: " << r.Err;

        r = cli({"undo"});
        EXPECT_EQ(r.ExitCode, 0) << run[0] << ": " << r.Err;
        EXPECT_TRUE(r.Err.starts_with("Undid run " + id + ": ")) << run[0] << ": " << r.Err;
        EXPECT_EQ(r.Out.find("left alone"), std::string::npos) << run[0] << ": " << r.Out;
        const TreeSnapshot after = snapshotTree(dir.path() / "site");
        EXPECT_EQ(after, before) << run[0] << "\nbefore:\n" << describe(before) << "after:\n" << describe(after);
    }
}

TEST_F(CliTest, UndoKeepsASymlinkOfAPathListALink) {
    dir.write("real.txt", "old\n");
    fs::create_symlink("real.txt", dir.path() / "link.txt");
    ProcessResult r = cli({"replace", "old", "new", "link.txt"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    ASSERT_EQ(readFile(dir.file("real.txt")), "new\n");
    r = cli({"undo"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.txt"));
    EXPECT_EQ(fs::read_symlink(dir.path() / "link.txt"), "real.txt");
    EXPECT_EQ(readFile(dir.file("real.txt")), "old\n");
}

TEST_F(CliTest, AFileEditedAfterTheRunIsLeftAloneUntilForced) {
    dir.write("a.txt", "old a");
    dir.write("b.txt", "old b");
    ASSERT_EQ(cli({"replace", "old", "new", "a.txt", "b.txt"}).ExitCode, 0);
    const std::string id = lastRunId();
    dir.write("b.txt", "edited by hand");

    ProcessResult r = cli({"undo"});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    EXPECT_NE(r.Out.find("restored " + dir.file("a.txt") + "\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("left alone " + dir.file("b.txt") + ": it changed since the run\n"), std::string::npos)
        << r.Out;
    EXPECT_TRUE(r.Err.ends_with("quillet-cli: files changed since the run were left alone; quillet-cli undo " + id +
                                " --force restores them too\n"))
        << r.Err;
    EXPECT_EQ(readFile(dir.file("a.txt")), "old a");
    EXPECT_EQ(readFile(dir.file("b.txt")), "edited by hand");

    r = cli({"undo", id, "--force"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("restored " + dir.file("b.txt") + "\n"), std::string::npos) << r.Out;
    EXPECT_EQ(readFile(dir.file("b.txt")), "old b");
    EXPECT_EQ(readFile(dir.file("a.txt")), "old a");
}

TEST_F(CliTest, UndoRefusesWhatItCannotDo) {
    struct Case {
        std::vector<std::string> args;
        std::string err; // "ID" stands for the run's id
    } cases[] = {
        {{"undo"}, "quillet-cli: No run to undo: the journal is empty\n"},
        {{"undo", "20200101-000000-0000"}, "quillet-cli: No run 20200101-000000-0000 in the journal\n"},
        {{"replace", "old", "new", "a.txt"}, ""},
        {{"undo"}, ""},
        {{"undo"}, "quillet-cli: Run ID was already undone\n"},
        {{"undo", "ID"}, "quillet-cli: Run ID was already undone\n"},
        {{"undo", "ID", "--force"}, "quillet-cli: Run ID was already undone\n"},
    };
    dir.write("a.txt", "old");
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        for (std::string& arg : args)
            if (arg == "ID")
                arg = lastRunId();
        const ProcessResult r = cli(args);
        if (c.err.empty()) {
            EXPECT_EQ(r.ExitCode, 0) << args[0] << ": " << r.Err;
            continue;
        }
        std::string expected = c.err;
        if (const std::size_t at = expected.find(" ID "); at != std::string::npos)
            expected.replace(at + 1, 2, lastRunId());
        EXPECT_EQ(r.Err, expected) << args.size();
        EXPECT_EQ(r.Out, "");
        EXPECT_EQ(r.ExitCode, 2) << expected;
        EXPECT_EQ(readFile(dir.file("a.txt")), "old") << expected;
    }
}

TEST_F(CliTest, UndoListShowsRunsNewestFirst) {
    ProcessResult r = cli({"undo", "--list"});
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "quillet-cli: the run journal is empty\n");
    EXPECT_EQ(r.ExitCode, 0);

    dir.write("a b.txt", "old");
    ASSERT_EQ(cli({"replace", "old", "mid", "a b.txt"}).ExitCode, 0);
    const std::string first = lastRunId();
    ASSERT_EQ(cli({"replace", "mid", "it's new", "--", "a b.txt"}).ExitCode, 0);
    const std::string second = lastRunId();
    ASSERT_EQ(cli({"undo"}).ExitCode, 0);

    r = cli({"undo", "--list"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    std::istringstream lines(r.Out);
    std::string header, newest, oldest, extra;
    std::getline(lines, header);
    std::getline(lines, newest);
    std::getline(lines, oldest);
    EXPECT_FALSE(std::getline(lines, extra)) << r.Out;
    EXPECT_TRUE(header.starts_with("ID ")) << header;
    for (const char* column : {"STARTED", "FILES", "STATE", "COMMAND"})
        EXPECT_NE(header.find(column), std::string::npos) << column;
    EXPECT_TRUE(newest.starts_with(second + "  ")) << r.Out;
    EXPECT_NE(newest.find(" undone "), std::string::npos) << newest;
    EXPECT_TRUE(newest.ends_with("quillet-cli replace mid 'it'\\''s new' -- 'a b.txt'")) << newest;
    EXPECT_TRUE(oldest.starts_with(first + "  ")) << r.Out;
    EXPECT_NE(oldest.find(" finished "), std::string::npos) << oldest;
    EXPECT_TRUE(oldest.ends_with("quillet-cli replace old mid 'a b.txt'")) << oldest;
}

TEST_F(CliTest, RunsThatWriteNothingKeepNoJournal) {
    const std::vector<std::vector<std::string>> runs = {
        {"search", "old", "a.txt"},
        {"replace", "old", "new", "--dry-run", "a.txt"},
        {"replace", "old", "new", "--dry-run", "--diff", "a.txt"},
        {"replace", "absent", "new", "a.txt"},
        {"replace", "old", "new", "--no-journal", "a.txt"},
    };
    for (const std::vector<std::string>& run : runs) {
        dir.write("a.txt", "old");
        const ProcessResult r = cli(run);
        EXPECT_EQ(r.Err.find("journaled"), std::string::npos) << run[3] << ": " << r.Err;
        EXPECT_EQ(runIds(), std::vector<std::string>{}) << run[3];
    }
    EXPECT_EQ(readFile(dir.file("a.txt")), "new") << "--no-journal still writes";
    EXPECT_EQ(cli({"undo"}).Err, "quillet-cli: No run to undo: the journal is empty\n");
}

// A run killed outright leaves no chance to tidy up: the journal must already
// hold every file whose new content is in place.
TEST_F(CliTest, UndoAfterARunKilledMidwayRestoresWhatItChanged) {
    constexpr int kFiles = 3000;
    std::string list;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        dir.write(name, "old " + std::to_string(i) + "\n");
        list += name + "\n";
    }
    int input = -1;
    const pid_t child = start({"replace", "old", "new", "-q", "-j", "1", "-l", "-"}, input);
    ASSERT_GT(child, 0);
    ASSERT_EQ(write(input, list.data(), list.size()), static_cast<ssize_t>(list.size()));
    close(input);
    // Kill it once the first rewrites are visible (or give up waiting after
    // a long while: the check below then finds whatever was done).
    for (int wait = 0; wait < 20000 && readFile(dir.file("f0.txt")) == "old 0\n"; ++wait)
        usleep(500);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_NE(readFile(dir.file("f0.txt")), "old 0\n") << "the run never wrote";
    if (WIFEXITED(status))
        GTEST_SKIP() << "the run ended before it could be killed";
    ASSERT_EQ(readFile(dir.file(("f" + std::to_string(kFiles - 1) + ".txt"))),
              "old " + std::to_string(kFiles - 1) + "\n");

    ProcessResult r = cli({"undo", "--list"});
    EXPECT_NE(r.Out.find(" interrupted "), std::string::npos) << r.Out;
    r = cli({"undo"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    for (int i = 0; i < kFiles; ++i)
        ASSERT_EQ(readFile(dir.file("f" + std::to_string(i) + ".txt")), "old " + std::to_string(i) + "\n") << i;
}

TEST_F(CliTest, HostileNamesGoThroughReplaceAndUndo) {
    const std::string names[] = {
        "with space.txt",
        "new\nline.txt",
        "-leading-dash.txt",
        "invalid-\xff\xfe-utf8.txt",
        std::string(255, 'n'),
        " ",
        "--",
        "'quote\".txt",
    };
    for (const std::string& name : names) {
        const std::string content = "old in [" + name + "]";
        dir.write(name, content);
        ProcessResult r = cli({"replace", "old", "new", "--", name});
        EXPECT_EQ(r.ExitCode, 0) << "[" << name << "] " << r.Err;
        EXPECT_EQ(r.Out, name + "\n");
        EXPECT_EQ(readFile(dir.file(name)), "new in [" + name + "]") << "[" << name << "]";
        r = cli({"undo"});
        EXPECT_EQ(r.ExitCode, 0) << "[" << name << "] " << r.Err;
        EXPECT_NE(r.Out.find("restored " + dir.file(name) + "\n"), std::string::npos) << r.Out;
        EXPECT_EQ(readFile(dir.file(name)), content) << "[" << name << "]";
    }
}

// A run that drops another to stay within the journal's limits ends without
// deleting its files: a process of its own does, once the run has ended.
TEST_F(CliTest, ADroppedRunLeavesTheListAtOnceAndIsDeletedAfterTheRunThatDroppedIt) {
    dir.write("config/quillet/journal.conf", "max-runs = 1\n");
    fs::rename(dir.path() / "config", home.path() / "config");
    dir.write("a.txt", "old");
    ASSERT_EQ(cli({"replace", "old", "mid", "a.txt"}).ExitCode, 0);
    const std::string first = lastRunId();
    ASSERT_EQ(cli({"replace", "mid", "new", "a.txt"}).ExitCode, 0);
    const std::string second = lastRunId();
    ASSERT_NE(first, second);
    const ProcessResult r = cli({"undo", "--list"});
    EXPECT_EQ(r.Out.find(first), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find(second), std::string::npos) << r.Out;
    const auto left = [&] {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(runsDirectory()))
            names.push_back(entry.path().filename().string());
        return names;
    };
    for (int wait = 0; wait < 600 && left().size() > 1; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(left(), std::vector<std::string>{second});
    ASSERT_EQ(cli({"undo"}).ExitCode, 0);
    EXPECT_EQ(readFile(dir.file("a.txt")), "mid");
}

TEST_F(CliTest, AFileTheJournalCannotKeepIsNamedByTheRunAndByUndo) {
    dir.write("config/quillet/journal.conf", "max-bytes = 10\n");
    fs::rename(dir.path() / "config", home.path() / "config");
    const std::string content = std::string(5000, 'x') + "old";
    dir.write("big.txt", content);
    ProcessResult r = cli({"replace", "old", "new", "big.txt"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    const std::string id = lastRunId();
    EXPECT_EQ(r.Err, "quillet-cli: big.txt: not kept in the run journal: it does not fit within the journal's limit "
                     "of 10 bytes (max-bytes)\nquillet-cli: run " +
                         id + " journaled, 1 of its 1 files without their old content; undo with: quillet-cli undo " +
                         id + "\n" + finished(1));
    r = cli({"undo"});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    EXPECT_EQ(r.Out, "not restored " + dir.file("big.txt") +
                         ": not kept by the journal: it does not fit within the journal's limit of 10 bytes "
                         "(max-bytes)\n");
    EXPECT_EQ(readFile(dir.file("big.txt")), std::string(5000, 'x') + "new");
}

TEST_F(CliTest, AMistakeInJournalConfStopsTheRunBeforeAnyFileUnlessNoJournal) {
    dir.write("config/quillet/journal.conf", "max-runs = 0\n");
    fs::rename(dir.path() / "config", home.path() / "config");
    dir.write("a.txt", "old");
    ProcessResult r = cli({"replace", "old", "new", "a.txt"});
    EXPECT_EQ(r.Err, "quillet-cli: Cannot use \"" + (home.path() / "config/quillet/journal.conf").string() +
                         "\", line 1: not a number of runs (at least 1): \"0\"\n");
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(readFile(dir.file("a.txt")), "old");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"search", "old", "a.txt"},
                                               {"replace", "old", "new", "-n", "a.txt"},
                                               {"replace", "old", "new", "--no-journal", "a.txt"}}) {
        r = cli(args);
        EXPECT_EQ(r.ExitCode, 0) << args[1] << " " << args.size() << ": " << r.Err;
    }
    EXPECT_EQ(readFile(dir.file("a.txt")), "new");
}

TEST_F(CliTest, ADirectoryTwoHundredLevelsDeepIsWalkedAndUndone) {
    std::string path = "deep";
    for (int level = 0; level < 200; ++level) {
        path += "/d";
        if (level % 50 == 49)
            dir.write(path + "/f.txt", "old at " + std::to_string(level));
    }
    const TreeSnapshot before = snapshotTree(dir.path() / "deep");
    ProcessResult r = cli({"replace", "old", "new", "-d", "deep", "-r", "-q"});
    EXPECT_EQ(r.Err, journaled() + finished(4));
    EXPECT_EQ(readFile(dir.file(path + "/f.txt")), "new at 199");
    r = cli({"undo"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(snapshotTree(dir.path() / "deep"), before);
}

// Another user who used a shared state folder first (XDG_STATE_HOME=/tmp/...)
// planted a run under an id of their choice, whose entry names root's file
// and whose kept "old content" is their own file. Root's undo linked it in.
TEST_F(CliTest, ARunPlantedByAnotherUserInASharedStateFolderIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a folder to another user";
    const fs::path shared = home.path() / "shared";
    fs::create_directories(shared / "quillet/runs/20200101-000000-0bad");
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    setenv("XDG_STATE_HOME", shared.c_str(), 1);
    dir.write("secret", "root's secret");
    ::chmod(dir.file("secret").c_str(), 0600);
    const fs::path forged = shared / "quillet/runs/20200101-000000-0bad";
    std::ofstream(forged / "1") << "attacker's text";
    std::ofstream(forged / "manifest")
        << "quillet-journal 1\nrun 20200101-000000-0bad 1 forged\nold 1 link 1 0 15 0 0 15 0 600 0 0 "
        << dir.path().string() << " secret secret \\-\nkept 0\nend 2\n";
    for (const fs::path& path :
         {shared / "quillet", shared / "quillet/runs", forged, forged / "manifest", forged / "1"})
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    dir.write("a.txt", "old");

    const std::string refusal = "quillet-cli: The run journal \"" + (shared / "quillet").string() +
                                "\" is not safe to use: it belongs to another user\n";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"undo", "20200101-000000-0bad"}, {"undo"}, {"undo", "--list"}, {"replace", "old", "new", "a.txt"}}) {
        const ProcessResult r = cli(args);
        EXPECT_EQ(r.Err, refusal) << args.back();
        EXPECT_EQ(r.ExitCode, 2) << args.back();
    }
    EXPECT_EQ(readFile(dir.file("secret")), "root's secret");
    EXPECT_EQ(readFile(dir.file("a.txt")), "old");
    EXPECT_EQ(cli({"replace", "old", "new", "--no-journal", "a.txt"}).ExitCode, 0);
}

// A FIFO where the journal keeps a run's manifest hung the next run,
// undo and the listing, each waiting for a writer that never came.
TEST_F(CliTest, AFifoInTheJournalHangsNothing) {
    dir.write("a.txt", "old");
    ASSERT_EQ(cli({"replace", "old", "new", "a.txt"}).ExitCode, 0);
    const fs::path manifest = runsDirectory() / lastRunId() / "manifest";
    fs::remove(manifest);
    ASSERT_EQ(::mkfifo(manifest.c_str(), 0600), 0);
    const std::string refusal =
        "quillet-cli: The run journal \"" + manifest.string() + "\" is not safe to use: it is not a regular file\n";
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"undo", "--list"}, {"undo"}, {"replace", "new", "newer", "a.txt"}}) {
        std::vector<std::string> timed = {"-s", "KILL", "20", cliPath()};
        timed.insert(timed.end(), args.begin(), args.end());
        const ProcessResult r = runProcess("/usr/bin/timeout", timed, {}, dir.path().string());
        EXPECT_EQ(r.Err, refusal) << args.back();
        EXPECT_EQ(r.ExitCode, 2) << args.back();
    }
    EXPECT_EQ(readFile(dir.file("a.txt")), "new");
}

// A manifest cut after its first file's lines: undo restored that file,
// exited 0 and marked the run undone, with the two others still changed.
TEST_F(CliTest, UndoOfAManifestCutShortSaysSoAndLeavesTheRunToUndo) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        dir.write(name, "old");
    ASSERT_EQ(cli({"replace", "old", "new", "a.txt", "b.txt", "c.txt"}).ExitCode, 0);
    const std::string id = lastRunId();
    const fs::path manifest = runsDirectory() / id / "manifest";
    std::string text = readFile(manifest);
    text.resize(text.find("\nold 2 ") + 1);
    std::ofstream(manifest, std::ios::trunc) << text;

    ProcessResult r = cli({"undo"});
    EXPECT_EQ(r.ExitCode, 2) << r.Err;
    EXPECT_NE(r.Err.find("quillet-cli: the journal's record of run " + id +
                         " is damaged or cut short: files it does not name may still hold the run's changes\n"),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(readFile(dir.file("a.txt")), "old");
    r = cli({"undo", "--list"});
    EXPECT_NE(r.Out.find(" partly undone "), std::string::npos) << r.Out;
}
