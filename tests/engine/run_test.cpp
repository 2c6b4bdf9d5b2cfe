#include "engine/run.h"

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
    std::vector<std::string> reports;  // "name:matched"
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
