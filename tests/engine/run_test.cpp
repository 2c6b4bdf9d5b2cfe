#include "engine/run/run.h"

#include "core/error.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace quillet::engine;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

struct Outcome {
    std::int64_t filesDone = 0;
    std::vector<std::string> results;
    std::vector<std::string> reports; // "name:matched"
};

Outcome execute(const RunRequest& request, int stopAfter = 0) {
    Outcome outcome;
    RunEvents events;
    events.OnResult = [&](const std::string& entry) { outcome.results.push_back(entry); };
    int handled = 0;
    events.OnFile = [&](const FileReport& report, bool& stop) {
        outcome.reports.push_back(report.Name + (report.Matched ? ":1" : ":0"));
        stop = stopAfter > 0 && ++handled >= stopAfter;
    };
    outcome.filesDone = ExecuteRun(request, events);
    return outcome;
}

// Temporary files left anywhere under `root`.
int temporaryFilesUnder(const fs::path& root) {
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        count += entry.path().filename().string().starts_with(".quillet-");
    return count;
}

RunRequest request(RunShape shape, const std::string& pattern, std::uint8_t operation = 0,
                   const std::string& newText = "") {
    RunRequest r;
    r.Shape = shape;
    r.Param.Operation = operation;
    r.Param.SearchPattern = pattern;
    r.Param.NewText = newText;
    return r;
}

} // namespace

TEST(ExecuteRun, PathListCountsFilesHandledAndListsMatchesAsWritten) {
    TempDir dir;
    RunRequest r = request(RunShape::PathList, "needle");
    for (int i = 0; i < 10; ++i)
        r.Entries.push_back(dir.write("f" + std::to_string(i) + ".txt", i % 3 == 0 && i < 9 ? "a needle" : "hay"));
    const Outcome outcome = execute(r);
    EXPECT_EQ(outcome.filesDone, 10);
    EXPECT_EQ(outcome.results, (std::vector<std::string>{r.Entries[0], r.Entries[3], r.Entries[6]}));
    EXPECT_EQ(outcome.reports.size(), 10u);
    EXPECT_EQ(outcome.reports[3], r.Entries[3] + ":1");
    EXPECT_EQ(outcome.reports[4], r.Entries[4] + ":0");
}

TEST(ExecuteRun, PathListWithNoLinesHandlesNothing) {
    const Outcome outcome = execute(request(RunShape::PathList, "x"));
    EXPECT_EQ(outcome.filesDone, 0);
    EXPECT_TRUE(outcome.results.empty());
}

TEST(ExecuteRun, DirectoryListingUsesBareNamesUnderTheDirectory) {
    TempDir dir;
    dir.write("a.htm", "<b>x</b>");
    dir.write("b.htm", "plain");
    RunRequest r = request(RunShape::DirectoryListing, "<b>*</b>", 1, "<i>{$1}</i>");
    r.Param.ResultIsPattern = true;
    r.Directory = dir.path().string();
    r.Entries = {"a.htm", "b.htm"};
    const Outcome outcome = execute(r);
    EXPECT_EQ(outcome.filesDone, 2);
    EXPECT_EQ(outcome.results, std::vector<std::string>{"a.htm"});
    EXPECT_EQ(readFile(dir.file("a.htm")), "<i>x</i>");
}

class WalkTest : public ::testing::Test {
protected:
    TempDir dir;
    RunRequest walk(const std::string& pattern, std::uint8_t operation = 0, const std::string& newText = "") {
        RunRequest r = request(RunShape::DirectoryWalk, pattern, operation, newText);
        r.Directory = dir.path().string();
        r.Mask = "*.htm";
        return r;
    }
};

TEST_F(WalkTest, CountsMatchingFilesAndListsFullPathsInWalkOrder) {
    dir.write("b.htm", "hit");
    dir.write("a.htm", "miss");
    dir.write("sub/c.htm", "HIT");
    dir.write("sub/d.txt", "hit");
    const Outcome outcome = execute(walk("hit"));
    EXPECT_EQ(outcome.filesDone, 2);
    EXPECT_EQ(outcome.results, (std::vector<std::string>{dir.file("b.htm"), dir.file("sub/c.htm")}));
    EXPECT_EQ(outcome.reports, (std::vector<std::string>{"a.htm:0", "b.htm:1", "c.htm:1"}));
}

TEST_F(WalkTest, PassesOverFoldersFifosAndSymlinksThatFitTheMask) {
    dir.write("a.htm", "<p>");
    fs::create_directory(dir.path() / "old.htm");
    ASSERT_EQ(mkfifo(dir.file("pipe.htm").c_str(), 0600), 0);
    fs::create_symlink("a.htm", dir.path() / "link.htm");
    fs::create_directory_symlink(dir.path(), dir.path() / "loop");
    const Outcome outcome = execute(walk("<p>", quillet::core::OpInsertBefore, "[x]"));
    EXPECT_EQ(outcome.filesDone, 1);
    EXPECT_EQ(readFile(dir.file("a.htm")), "[x]<p>") << "a file must be processed once, not again via a link";
    EXPECT_EQ(outcome.reports, std::vector<std::string>{"a.htm:1"});
}

TEST_F(WalkTest, SeveralMasksAndMaxFiles) {
    dir.write("a.htm", "x");
    dir.write("b.html", "x");
    dir.write("c.txt", "x");
    RunRequest r = walk("x");
    r.Mask = "*.htm;*.html";
    EXPECT_EQ(execute(r).filesDone, 2);
    r.MaxFiles = 1;
    EXPECT_EQ(execute(r).filesDone, 1);
}

TEST_F(WalkTest, StopFromTheObserverEndsTheWalk) {
    for (const char* name : {"a.htm", "b.htm", "s/c.htm", "t/d.htm"})
        dir.write(name, "x");
    const Outcome outcome = execute(walk("x"), 1);
    EXPECT_EQ(outcome.reports, std::vector<std::string>{"a.htm:1"});
    EXPECT_EQ(outcome.filesDone, 1);
}

TEST_F(WalkTest, AnErrorEndsTheRunAndKeepsWhatWasDone) {
    dir.write("a.htm", "old");
    dir.write("b.htm", "old");
    fs::permissions(dir.path() / "b.htm", fs::perms::none);
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    EXPECT_THROW(execute(walk("old", quillet::core::OpReplaceText, "new")), quillet::Error);
    EXPECT_EQ(readFile(dir.file("a.htm")), "new");
}

// Files read ahead on worker threads must leave no trace: the same results,
// reports and files as one file at a time, also when the run stops or fails
// midway.
class ThreadedRunTest : public ::testing::TestWithParam<RunShape> {
protected:
    TempDir dir;

    std::vector<std::string> makeTree(const std::string& root) {
        std::vector<std::string> paths;
        for (int i = 0; i < 300; ++i) {
            const std::string name = root + "/d" + std::to_string(i % 7) + "/f" + std::to_string(1000 + i) + ".htm";
            dir.write(name, i % 4 == 0 ? "a <b>x</b> b <b>y</b>" : "nothing here");
            paths.push_back(dir.file(name));
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    RunRequest requestFor(const std::string& root, const std::vector<std::string>& paths, int threads) {
        RunRequest r = request(GetParam(), "<b>*</b>", quillet::core::OpReplaceText, "<i>{$1}</i>");
        r.Param.ResultIsPattern = true;
        r.Directory = dir.file(root);
        r.Mask = "*.htm";
        if (GetParam() == RunShape::PathList)
            r.Entries = paths;
        r.Threads = threads;
        return r;
    }
};

TEST_P(ThreadedRunTest, SameOutcomeAsOneFileAtATime) {
    const auto one = makeTree("one");
    const auto many = makeTree("many");
    const Outcome a = execute(requestFor("one", one, 1));
    const Outcome b = execute(requestFor("many", many, 3));
    EXPECT_EQ(a.filesDone, b.filesDone);
    auto baseNames = [](std::vector<std::string> names) {
        for (std::string& name : names)
            name = name.substr(name.rfind('/') + 1);
        return names;
    };
    EXPECT_EQ(baseNames(a.reports), baseNames(b.reports));
    ASSERT_EQ(a.results.size(), b.results.size());
    for (std::size_t i = 0; i < a.results.size(); ++i)
        EXPECT_EQ(a.results[i].substr(a.results[i].rfind('/')), b.results[i].substr(b.results[i].rfind('/')));
    for (std::size_t i = 0; i < one.size(); ++i)
        EXPECT_EQ(readFile(one[i]), readFile(many[i])) << many[i];
    EXPECT_EQ(readFile(many[0]), "a <i>x</i> b <i>y</i>");
}

TEST_P(ThreadedRunTest, AStopLeavesTheFilesAfterItUntouched) {
    const auto paths = makeTree("t");
    const Outcome outcome = execute(requestFor("t", paths, 3), 10);
    ASSERT_EQ(outcome.reports.size(), 10u);
    std::size_t rewritten = 0;
    for (const std::string& path : paths)
        rewritten += readFile(path).find("<i>") != std::string::npos;
    std::size_t matchedReports = 0;
    for (const std::string& report : outcome.reports)
        matchedReports += report.ends_with(":1");
    EXPECT_EQ(rewritten, matchedReports);
    EXPECT_EQ(temporaryFilesUnder(dir.path()), 0) << "rewrites staged ahead of the stop are given up";
}

INSTANTIATE_TEST_SUITE_P(Shapes, ThreadedRunTest, ::testing::Values(RunShape::DirectoryWalk, RunShape::PathList));

// Only a path list can name a file that is not there (a walk finds what is).
class ThreadedPathListTest : public ThreadedRunTest {};

TEST_P(ThreadedPathListTest, AnErrorIsRaisedInItsTurnAfterTheFilesBeforeIt) {
    auto paths = makeTree("t");
    paths.insert(paths.begin() + 100, dir.file("t/missing.htm"));
    RunRequest r = requestFor("t", paths, 3);
    EXPECT_THROW(execute(r), quillet::Error);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i == 100)
            continue;
        const bool rewritten = readFile(paths[i]).find("<i>") != std::string::npos;
        const bool matching = readFile(paths[i]).find("<") != std::string::npos;
        EXPECT_EQ(rewritten, i < 100 && matching) << paths[i];
    }
    EXPECT_EQ(temporaryFilesUnder(dir.path()), 0) << "rewrites staged ahead of the error are given up";
}

INSTANTIATE_TEST_SUITE_P(PathList, ThreadedPathListTest, ::testing::Values(RunShape::PathList));
