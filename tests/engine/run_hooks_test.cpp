// A walk passes over what the run's own hooks made: the journal's folder when
// it lies inside the walked tree, whatever the threads.
#include "engine/keep/journal.h"
#include "engine/fs/rewrite.h"
#include "engine/run/run.h"
#include "engine/keep/undo.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillet::engine;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

// A journal kept in `runs` under dir, with the default limits.
JournalOptions journalIn(const TempDir& dir, const char* runs) {
    JournalOptions options;
    options.Place.RunsDirectory = dir.file(runs);
    options.Place.ConfigFile = dir.file("no.conf");
    return options;
}

// A walk of dir's "site" tree replacing `from` with `to`, around `hooks`.
RunRequest replaceInSite(const TempDir& dir, const char* from, const char* to, int threads, CommitHooks& hooks) {
    RunRequest request;
    request.Shape = RunShape::DirectoryWalk;
    request.Directory = dir.file("site");
    request.Mask = "*";
    request.Param.Operation = quillet::core::OpReplaceText;
    request.Param.SearchPattern = from;
    request.Param.NewText = to;
    request.Threads = threads;
    request.Hooks = &hooks;
    return request;
}

std::set<std::string> walkReplacing(const TempDir& dir, const char* from, const char* to, int threads) {
    RunJournal journal(journalIn(dir, "site/state/runs"));
    const RunRequest request = replaceInSite(dir, from, to, threads, journal);
    std::set<std::string> matched;
    RunEvents events;
    events.OnResult = [&](const std::string& entry) { matched.insert(entry); };
    ExecuteRun(request, events);
    return matched;
}

} // namespace

TEST(RunHooks, AWalkNeverRewritesTheJournalItKeepsInsideTheTree) {
    for (int threads : {1, 4}) {
        TempDir dir;
        dir.write("site/a.txt", "x");
        dir.write("site/sub/b.txt", "x");
        walkReplacing(dir, "x", "y", threads); // leaves the old "x" files in the journal
        // The second walk meets the journal's folder; the kept "x" files match.
        EXPECT_EQ(walkReplacing(dir, "x", "z", threads), std::set<std::string>{}) << threads << " threads";
        int kept = 0;
        for (const auto& file : fs::recursive_directory_iterator(dir.file("site/state/runs"))) {
            if (file.is_regular_file() && file.path().filename() != "manifest") {
                EXPECT_EQ(readFile(file.path()), "x") << file.path();
                ++kept;
            }
        }
        EXPECT_EQ(kept, 2);
    }
}

TEST(RunHooks, ChangedFilesComeWithTheStretchesTheOperationKept) {
    struct Case {
        std::uint8_t operation;
        bool recordKept;
        bool expectKept;
    };
    const Case cases[] = {
        {quillet::core::OpReplaceText, true, true},
        {quillet::core::OpReplaceText, false, false},
        {quillet::core::OpRemoveScript, true, false}, // the recipe rebuilds the page
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.write("a.htm", "<body x>one\n<script>s</script>two\n");
        RunRequest request;
        request.Entries = {path};
        request.Param.Operation = c.operation;
        request.Param.SearchPattern = "one";
        request.Param.NewText = "1";
        request.Param.RecordKept = c.recordKept;
        request.Param.DryRun = true;
        bool called = false;
        RunEvents events;
        events.OnChanged = [&](const std::string&, std::string_view oldText, std::string_view newText,
                               const std::vector<quillet::core::KeptStretch>* kept, std::int64_t, std::uint64_t) {
            called = true;
            ASSERT_EQ(kept != nullptr, c.expectKept) << int(c.operation);
            if (kept == nullptr)
                return;
            for (const quillet::core::KeptStretch& stretch : *kept)
                EXPECT_EQ(oldText.substr(stretch.OldOffset, stretch.Length),
                          newText.substr(stretch.NewOffset, stretch.Length));
        };
        ExecuteRun(request, events);
        EXPECT_TRUE(called) << int(c.operation);
    }
}

// The change event carries the count of matches the run handled, which the
// window shows instead of searching the text again.
TEST(RunHooks, ChangeEventCarriesTheMatchesHandled) {
    const struct Case {
        std::uint8_t operation;
        const char* pattern;
        std::int64_t maxCount;
        std::int64_t expected;
    } cases[] = {
        {quillet::core::OpReplaceText, "foo", -1, 3},  {quillet::core::OpReplaceText, "foo", 2, 2},
        {quillet::core::OpReplaceText, "f*o ", -1, 2}, // stars: matches never overlap
        {quillet::core::OpInsertAfter, "FOO", -1, 3},  // case ignored
        {quillet::core::OpRemoveScript, "", -1, -1},   // a recipe counts no matches
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.write("a.htm", "<body x>foo foo foo<link a>");
        RunRequest request;
        request.Entries = {path};
        request.Param.Operation = c.operation;
        request.Param.SearchPattern = c.pattern;
        request.Param.NewText = "1";
        request.Param.MaxCount = c.maxCount;
        std::vector<std::int64_t> seen;
        RunEvents events;
        events.OnChanged = [&](const std::string&, std::string_view, std::string_view,
                               const std::vector<quillet::core::KeptStretch>*, std::int64_t matches,
                               std::uint64_t) { seen.push_back(matches); };
        ExecuteRun(request, events);
        EXPECT_EQ(seen, std::vector<std::int64_t>{c.expected}) << int(c.operation) << " " << c.pattern;
    }
}

// Slow: 100,000 files. A walk holds one folder's listing at a time and the
// run a bounded number of files in flight, so its memory does not grow with
// the tree.
TEST(RunHooks, SlowAWalkOfAHundredThousandEntriesStaysInFlatMemory) {
    TempDir dir;
    for (int folder = 0; folder < 10; ++folder) {
        const fs::path path = dir.path() / ("d" + std::to_string(folder));
        fs::create_directory(path);
        for (int i = 0; i < 10000; ++i) {
            const std::string name = (path / ("f" + std::to_string(i) + ".txt")).string();
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            ASSERT_GE(fd, 0) << name;
            ASSERT_EQ(::write(fd, i % 1000 == 0 ? "needle" : "hay", i % 1000 == 0 ? 6 : 3), i % 1000 == 0 ? 6 : 3);
            ::close(fd);
        }
    }
    struct rusage before {};
    ::getrusage(RUSAGE_SELF, &before);
    RunRequest request;
    request.Shape = RunShape::DirectoryWalk;
    request.Directory = dir.path().string();
    request.Mask = "*.txt";
    request.Param.Operation = quillet::core::OpOnlySearch;
    request.Param.SearchPattern = "needle";
    request.Threads = 4;
    RunTotals totals;
    EXPECT_EQ(ExecuteRun(request, {}, &totals), 100);
    EXPECT_EQ(totals.Handled, 100000);
    struct rusage after {};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes more at the peak";
}

namespace {

// Notes, per file, whether its record was made durable before the file was
// put in place, and how often the records were flushed.
class FlushOrderHooks : public CommitHooks {
public:
    std::set<std::string> announced; // since the last flush
    std::set<std::string> durable;
    std::vector<std::string> unsafe; // put in place before their records were durable
    std::vector<std::string> replacedInOrder;
    int flushes = 0;

    void beforeReplace(const ReplaceContext& context) override { announced.insert(std::string(context.ListedPath)); }
    void makeDurable() override {
        flushes += announced.empty() ? 0 : 1;
        durable.insert(announced.begin(), announced.end());
        announced.clear();
    }
    void afterReplace(const ReplaceContext& context, const FileIdentity&) override {
        const std::string path(context.ListedPath);
        if (durable.count(path) == 0)
            unsafe.push_back(path);
        replacedInOrder.push_back(path);
        // What the hooks are shown of the new text still holds it.
        std::string shown;
        for (std::string_view piece : context.NewText)
            shown += piece;
        if (shown != "new")
            unsafe.push_back(path + " shown as \"" + shown + "\"");
    }
    bool keepsOldBytes() const override { return true; }
};

} // namespace

TEST(RunHooks, RecordsAreDurableBeforeTheirFilesAndFlushedOncePerBatch) {
    struct Case {
        int threads;
        std::int64_t maxFiles; // 0: no limit
        int expectChanged;
    };
    const Case cases[] = {{1, 0, 100}, {4, 0, 100}, {1, 40, 40}, {4, 3, 3}};
    for (const Case& c : cases) {
        TempDir dir;
        std::vector<std::string> paths;
        for (int i = 0; i < 100; ++i)
            paths.push_back(dir.write("f" + std::to_string(1000 + i) + ".txt", "old"));
        FlushOrderHooks hooks;
        RunRequest request;
        request.Entries = paths;
        request.Param.SearchPattern = "old";
        request.Param.NewText = "new";
        request.Threads = c.threads;
        request.MaxFiles = c.maxFiles;
        request.Hooks = &hooks;
        std::vector<std::string> reported;
        RunEvents events;
        events.OnResult = [&](const std::string& entry) { reported.push_back(entry); };
        ExecuteRun(request, events);

        const std::string label = std::to_string(c.threads) + " threads, max " + std::to_string(c.maxFiles);
        EXPECT_EQ(hooks.unsafe, std::vector<std::string>{}) << label;
        EXPECT_LE(hooks.flushes, c.expectChanged / kMaxStagedRewrites + 2) << label;
        const std::vector<std::string> first(paths.begin(), paths.begin() + c.expectChanged);
        EXPECT_EQ(reported, first) << label;
        EXPECT_EQ(hooks.replacedInOrder, first) << label;
        int changed = 0;
        for (const std::string& path : paths)
            changed += readFile(path) == "new" ? 1 : 0;
        EXPECT_EQ(changed, c.expectChanged) << label << ": a stop gives up what was staged after it";
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 100) << label << ": no temporary file left";
    }
}

// The staged rewrite of the first name held a read lease on the file, and the
// rewrite in place of the second (its folder is not writable) failed with
// "Resource temporarily unavailable" on its own lease.
TEST(RunHooks, AHardLinkRewrittenInPlaceAfterItsOtherNameWasStagedIsNotBlockedByItsLease) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes any directory";
    for (int threads : {1, 4}) {
        TempDir dir;
        const std::string first = dir.write("w/f", "old");
        const std::string second = dir.file("locked/g");
        fs::create_directory(dir.file("locked"));
        fs::create_hard_link(first, second);
        ::chmod(dir.file("locked").c_str(), 0555);
        RunJournal journal(journalIn(dir, "state/runs"));
        RunRequest request;
        request.Shape = RunShape::PathList;
        request.Entries = {first, second};
        request.Param.Operation = quillet::core::OpInsertAfter;
        request.Param.SearchPattern = "old";
        request.Param.NewText = "+";
        request.Threads = threads;
        request.Hooks = &journal;
        RunTotals totals;
        EXPECT_NO_THROW(ExecuteRun(request, RunEvents{}, &totals)) << threads << " threads";
        EXPECT_EQ(totals.Matched, 2) << threads << " threads";
        EXPECT_EQ(readFile(first), "old+") << threads << " threads";
        EXPECT_EQ(readFile(second), "old+") << threads << " threads";
        ::chmod(dir.file("locked").c_str(), 0755);
    }
}

TEST(RunHooks, PackedBytesHeldBackPastTheirBoundAreUndoneByteForByte) {
    for (int threads : {1, 4}) {
        TempDir dir;
        std::vector<std::string> paths;
        std::vector<std::string> olds;
        std::size_t total = 0;
        for (std::size_t i = 0; olds.size() < 3 || total <= 2 * kPackHeldBackUpTo; ++i) {
            olds.push_back("old " + std::string(static_cast<std::size_t>(kPackUpTo) - 7 * i,
                                                static_cast<char>('a' + static_cast<int>(i))));
            total += olds.back().size();
            paths.push_back(dir.write("w/f" + std::to_string(i), olds.back()));
            // An inode with another name is copied, so into the pack: no link to it is kept.
            fs::create_hard_link(paths.back(), dir.file("other-" + std::to_string(i)));
        }
        const JournalOptions options = journalIn(dir, "state/runs");
        {
            RunJournal journal(options);
            RunRequest request;
            request.Shape = RunShape::PathList;
            request.Entries = paths;
            request.Param.SearchPattern = "old";
            request.Param.NewText = "new";
            request.Threads = threads;
            request.Hooks = &journal;
            ExecuteRun(request, RunEvents{});
        }
        ASSERT_EQ(readFile(paths[0]).substr(0, 4), "new ") << threads << " threads";
        EXPECT_EQ(UndoRun(options.Place, UndoRequest{}).Restored, paths.size()) << threads << " threads";
        for (std::size_t i = 0; i < paths.size(); ++i)
            EXPECT_TRUE(readFile(paths[i]) == olds[i]) << paths[i] << ", " << threads << " threads";
    }
}

TEST(RunHooks, FilesOfOneBatchInSeveralFoldersAreUndoneEachInItsOwnFolder) {
    for (int threads : {1, 4}) {
        TempDir dir;
        std::map<std::string, std::string> olds;
        for (const char* folder : {"a", "a/b", "c"})
            for (const char* name : {"x", "y"}) {
                const std::string relative = std::string(folder) + "/" + name;
                olds[dir.write("site/" + relative, "old " + relative)] = "old " + relative;
            }
        const JournalOptions options = journalIn(dir, "state/runs");
        {
            RunJournal journal(options);
            ExecuteRun(replaceInSite(dir, "old", "new", threads, journal), RunEvents{});
        }
        for (const auto& [path, old] : olds)
            ASSERT_EQ(readFile(path), "new" + old.substr(3)) << path << ", " << threads << " threads";
        EXPECT_EQ(UndoRun(options.Place, UndoRequest{}).Restored, olds.size()) << threads << " threads";
        for (const auto& [path, old] : olds)
            EXPECT_EQ(readFile(path), old) << path << ", " << threads << " threads";
    }
}

// Files done while an earlier rewrite is staged wait for their turn to be
// reported; they must not keep their directories open meanwhile. Nor may the
// files read ahead, and the rewrites staged ahead, hold more descriptors open
// than the process may have.
TEST(RunHooks, FilesQueuedBehindAStagedRewriteHoldNoDirectoryOpen) {
    struct Case {
        rlim_t descriptors; // room for what is held ahead, not for every directory
        bool everyFileMatches;
    } cases[] = {{512, false}, {256, true}, {128, true}};
    for (const Case& c : cases) {
        for (int threads : {1, 2}) {
            const std::string where = std::to_string(c.descriptors) + " descriptors, " + std::to_string(threads) +
                                      " threads" + (c.everyFileMatches ? ", every file matching" : "");
            const int directories = static_cast<int>(c.descriptors) * 3 / 2;
            TempDir dir;
            dir.write("site/d0/f.txt", "old");
            for (int i = 1; i < directories; ++i)
                dir.write("site/d" + std::to_string(i) + "/f.txt", c.everyFileMatches ? "old" : "plain");
            std::vector<std::string> unreadable;
            {
                RunJournal journal(journalIn(dir, "state/runs"));
                const RunRequest request = replaceInSite(dir, "old", "new", threads, journal);
                RunEvents events;
                events.OnUnreadableDirectory = [&](const std::string& path, const std::string& reason) {
                    unreadable.push_back(path + ": " + reason);
                };
                rlimit saved{};
                ::getrlimit(RLIMIT_NOFILE, &saved);
                rlimit lowered = saved;
                lowered.rlim_cur = c.descriptors;
                ::setrlimit(RLIMIT_NOFILE, &lowered);
                EXPECT_NO_THROW(ExecuteRun(request, events)) << where;
                ::setrlimit(RLIMIT_NOFILE, &saved);
            }
            EXPECT_TRUE(unreadable.empty()) << unreadable.front() << ", " << where;
            EXPECT_EQ(readFile(dir.file("site/d0/f.txt")), "new") << where;
            const std::string last = "site/d" + std::to_string(directories - 1) + "/f.txt";
            EXPECT_EQ(readFile(dir.file(last)), c.everyFileMatches ? "new" : "plain") << where;
        }
    }
}
