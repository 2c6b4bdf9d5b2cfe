#include "engine/file_ops.h"

#include "core/error.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace quillet::core;
using quillet::engine::ProcessFile;
using quillet::engine::ProcessFileList;
using quillet::engine::TSRParam;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

bool process(const std::string& path, std::uint8_t operation, const std::string& pattern,
             const std::string& newText = "", bool write = true) {
    return ProcessFile(path, path, operation, pattern, false, newText, newText.find("{$") != std::string::npos, "{$",
                       "}", -1, write);
}

ino_t inodeOf(const std::string& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_ino;
}

} // namespace

TEST(ProcessFile, EmptyPatternDecidesWithoutReading) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    TempDir dir;
    const std::string locked = dir.write("locked.htm", "x");
    // The file cannot be read: reading it would raise.
    fs::permissions(locked, fs::perms::none);
    EXPECT_TRUE(process(locked, OpOnlySearch, ""));
    for (std::uint8_t op : {OpReplaceText, OpInsertBefore, OpInsertAfter})
        EXPECT_FALSE(process(locked, op, "", "x")) << int(op);
}

TEST(ProcessFile, EmptyPatternOverAPathThatIsNoFileIsAnError) {
    TempDir dir;
    fs::create_directory(dir.path() / "folder.htm");
    for (const std::string& path : {dir.file("missing.htm"), dir.file("folder.htm")})
        for (std::uint8_t op : {OpOnlySearch, OpReplaceText})
            EXPECT_THROW(process(path, op, "", "x"), quillet::Error) << path << " op " << int(op);
}

TEST(ProcessFile, RecipesRunEvenWithAnEmptyPattern) {
    TempDir dir;
    const std::string path = dir.write("p.htm", "<body bgcolor=red><script>x</script>ok</body>");
    EXPECT_TRUE(process(path, OpRemoveScript, ""));
    EXPECT_EQ(readFile(path), "<body>ok</body>");
    const std::string word = dir.write("w.htm", "<p class=MsoNormal>Hi<o:p></o:p></p>");
    EXPECT_TRUE(process(word, OpStripWordHtml, ""));
    EXPECT_EQ(readFile(word), "<p >Hi</p>");
}

TEST(ProcessFile, RewritesOnlyWhenMatchedAndTheOperationWrites) {
    TempDir dir;
    const std::string path = dir.write("a.htm", "href=a.htm and HREF=b.htm");
    const ino_t before = inodeOf(path);
    EXPECT_TRUE(process(path, OpOnlySearch, "href=*.htm"));
    EXPECT_FALSE(process(path, OpReplaceText, "absent", "x"));
    EXPECT_EQ(inodeOf(path), before) << "neither a search nor a miss may rewrite the file";

    EXPECT_TRUE(process(path, OpReplaceText, "href=*.htm", "href={$1}.html", /*write=*/false));
    EXPECT_EQ(readFile(path), "href=a.htm and HREF=b.htm") << "a dry run writes nothing";

    EXPECT_TRUE(process(path, OpReplaceText, "href=*.htm", "href={$1}.html"));
    EXPECT_EQ(readFile(path), "href=a.html and href=b.html");
}

TEST(ProcessFile, EmptyFile) {
    TempDir dir;
    const std::string path = dir.write("empty.htm", "");
    const ino_t before = inodeOf(path);
    for (std::uint8_t op : {OpOnlySearch, OpReplaceText, OpInsertBefore, OpInsertAfter})
        EXPECT_FALSE(process(path, op, "x", "y")) << int(op);
    EXPECT_EQ(inodeOf(path), before);
    EXPECT_TRUE(process(path, OpRemoveScript, "x"));
    EXPECT_EQ(inodeOf(path), before) << "the recipes always match, but a clean page is not rewritten";
    EXPECT_EQ(readFile(path), "");
}

TEST(ProcessFile, CaseSensitivityAndMaxCount) {
    TempDir dir;
    const std::string path = dir.write("t.txt", "aa aA AA");
    EXPECT_TRUE(ProcessFile(path, path, OpReplaceText, "aa", true, "_", false, "{$", "}", -1));
    EXPECT_EQ(readFile(path), "_ aA AA");
    EXPECT_TRUE(ProcessFile(path, path, OpReplaceText, "aa", false, "-", false, "{$", "}", 1));
    EXPECT_EQ(readFile(path), "_ - AA");
}

namespace {

struct ListRun {
    std::int64_t count = 0;
    std::vector<std::string> results;
    std::vector<std::string> progress; // "index/total path"
};

ListRun runList(TSRParam param, const std::vector<std::string>& entries, std::int64_t maxFiles, int stopAfter = 0) {
    ListRun run;
    param.FileList = &entries;
    param.ResultList = [&](const std::string& entry) { run.results.push_back(entry); };
    run.count = ProcessFileList(
        param, maxFiles, [&](std::int64_t index, std::int64_t total, const std::string& name, bool& stop) {
            run.progress.push_back(std::to_string(index) + "/" + std::to_string(total) + " " + name);
            stop = stopAfter > 0 && index >= stopAfter;
        });
    return run;
}

} // namespace

TEST(ProcessFileList, CountsMatchesListsEntriesAsWrittenAndReportsEachFile) {
    TempDir dir;
    dir.write("a.htm", "needle");
    dir.write("b.htm", "hay");
    dir.write("c.htm", "NEEDLE");
    TSRParam param;
    param.RootDir = dir.path().string() + "/";
    param.Operation = OpReplaceText;
    param.SearchPattern = "needle";
    param.NewText = "pin";
    const ListRun run = runList(param, {"a.htm", "b.htm", "c.htm"}, -1);
    EXPECT_EQ(run.count, 2);
    EXPECT_EQ(run.results, (std::vector<std::string>{"a.htm", "c.htm"}));
    EXPECT_EQ(run.progress,
              (std::vector<std::string>{"1/3 " + param.RootDir + "a.htm", "2/3 " + param.RootDir + "b.htm",
                                        "3/3 " + param.RootDir + "c.htm"}));
    EXPECT_EQ(readFile(dir.file("c.htm")), "pin");
}

TEST(ProcessFileList, StopsAfterMaxFilesMatchesOrWhenAskedTo) {
    TempDir dir;
    std::vector<std::string> entries;
    for (char c = 'a'; c <= 'e'; ++c)
        entries.push_back(dir.write(std::string(1, c) + ".txt", "x"));
    TSRParam param;
    param.Operation = OpOnlySearch;
    param.SearchPattern = "x";
    EXPECT_EQ(runList(param, entries, 2).progress.size(), 2u);
    const ListRun stopped = runList(param, entries, -1, 3);
    EXPECT_EQ(stopped.count, 3);
    EXPECT_EQ(stopped.progress.size(), 3u);
}

TEST(ProcessFileList, SkipsEmptyEntriesWithoutOpeningThem) {
    TempDir dir;
    const std::string a = dir.write("a.txt", "x");
    TSRParam param;
    param.Operation = OpOnlySearch;
    param.SearchPattern = "x";
    const ListRun run = runList(param, {"", a, ""}, -1);
    EXPECT_EQ(run.count, 1);
    EXPECT_EQ(run.progress, std::vector<std::string>{"1/1 " + a});
}

TEST(ProcessFileList, AMissingFileEndsTheRunAfterTheEarlierFilesWereHandled) {
    TempDir dir;
    const std::string a = dir.write("a.txt", "old");
    const std::string c = dir.write("c.txt", "old");
    TSRParam param;
    param.SearchPattern = "old";
    param.NewText = "new";
    std::vector<std::string> results;
    const std::vector<std::string> entries{a, dir.file("b.txt"), c};
    param.FileList = &entries;
    param.ResultList = [&](const std::string& e) { results.push_back(e); };
    EXPECT_THROW(ProcessFileList(param, -1, nullptr), quillet::Error);
    EXPECT_EQ(readFile(a), "new");
    EXPECT_EQ(readFile(c), "old");
    EXPECT_EQ(results, std::vector<std::string>{a});
}
