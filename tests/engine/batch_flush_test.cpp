// A run shares its flushes among a batch of rewrites, and still reports a
// file only once its new content and its name in the folder are on disk.
#include "engine/fs/durable_files.h"
#include "engine/fs/rewrite.h"
#include "engine/run/run.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillet::engine;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

// Flushes of this kind fail for whatever lies in a folder named "bad"; and
// while one kind fails, so does every flush of a whole file system, so that
// the run must ask file by file (or folder by folder) which failed.
std::atomic<int> g_failing{-1};

int failInBadFolder(detail::Flush kind, int fd) {
    if (g_failing.load() < 0)
        return 0;
    if (kind == detail::Flush::FileSystem)
        return EIO;
    if (static_cast<int>(kind) != g_failing.load())
        return 0;
    char target[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (::readlink(link.c_str(), target, sizeof target - 1) < 0)
        return 0;
    return std::string(target).find("/bad") != std::string::npos ? EIO : 0;
}

class FaultInBadFolder {
public:
    explicit FaultInBadFolder(detail::Flush kind) {
        g_failing = static_cast<int>(kind);
        detail::g_flushFault = failInBadFolder;
    }
    ~FaultInBadFolder() {
        detail::g_flushFault = nullptr;
        g_failing = -1;
    }
    FaultInBadFolder(const FaultInBadFolder&) = delete;
    FaultInBadFolder& operator=(const FaultInBadFolder&) = delete;
};

// What the system holds unwritten besides the run's files, as the run is
// told it, while this lives: the flushes a run makes depend on it.
class UnwrittenElsewhere {
public:
    explicit UnwrittenElsewhere(detail::UnwrittenBytes bytes) { detail::g_unwrittenBytes = bytes; }
    ~UnwrittenElsewhere() { detail::g_unwrittenBytes = nullptr; }
    UnwrittenElsewhere(const UnwrittenElsewhere&) = delete;
    UnwrittenElsewhere& operator=(const UnwrittenElsewhere&) = delete;
};

std::int64_t nothingElseUnwritten() {
    return 0;
}

// `files` files holding "old", spread over `folders` folders, taking turns.
std::vector<std::string> makeFiles(const TempDir& dir, int files, const std::vector<std::string>& folders) {
    std::vector<std::string> paths;
    for (int i = 0; i < files; ++i)
        paths.push_back(dir.write(
            folders[static_cast<std::size_t>(i) % folders.size()] + "/f" + std::to_string(1000 + i) + ".txt", "old"));
    return paths;
}

RunRequest replaceOldIn(const std::vector<std::string>& paths, int threads) {
    RunRequest request;
    request.Entries = paths;
    request.Param.SearchPattern = "old";
    request.Param.NewText = "new";
    request.Threads = threads;
    return request;
}

int changedFiles(const std::vector<std::string>& paths) {
    int changed = 0;
    for (const std::string& path : paths)
        changed += readFile(path) == "new" ? 1 : 0;
    return changed;
}

int temporaryFilesUnder(const std::string& root) {
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        count += entry.path().filename().string().starts_with(".quillet-") ? 1 : 0;
    return count;
}

bool onVolatileFileSystem(const TempDir& dir) {
    const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool isVolatile = fd >= 0 && OnVolatileFileSystem(fd);
    if (fd >= 0)
        ::close(fd);
    return isVolatile;
}

} // namespace

TEST(BatchFlush, OneFlushOfTheFoldersPerBatchWhereTheRunCanStopBetweenBatches) {
    struct Case {
        int folders;
        bool stopRequested; // the front end gives RunEvents::StopRequested
        int threads;
    };
    const Case cases[] = {{1, true, 1}, {1, true, 3}, {8, true, 3}, {1, false, 1}, {8, false, 3}};
    constexpr int kFiles = 3 * kMaxStagedRewrites;
    for (const Case& c : cases) {
        TempDir dir;
        if (onVolatileFileSystem(dir))
            GTEST_SKIP() << "nothing is flushed on a file system that a restart empties";
        std::vector<std::string> folders;
        for (int i = 0; i < c.folders; ++i)
            folders.push_back("d" + std::to_string(i));
        const std::vector<std::string> paths = makeFiles(dir, kFiles, folders);
        RunEvents events;
        if (c.stopRequested)
            events.StopRequested = [] { return false; };
        const UnwrittenElsewhere quietSystem(nothingElseUnwritten);
        const detail::FlushCounts before = detail::FlushesMade();
        EXPECT_EQ(ExecuteRun(replaceOldIn(paths, c.threads), events), kFiles);
        const detail::FlushCounts after = detail::FlushesMade();
        const int files = after.Files - before.Files;
        const int folderFlushes = after.Directories - before.Directories;
        const int fileSystems = after.FileSystems - before.FileSystems;

        const std::string label = std::to_string(c.folders) + " folders, " + std::to_string(c.threads) +
                                  " threads, stop requested " + (c.stopRequested ? "yes" : "no");
        EXPECT_EQ(changedFiles(paths), kFiles) << label;
        const int batches = kFiles / kMaxStagedRewrites;
        EXPECT_EQ(files, 0) << label << ": the new files' content is flushed once per batch";
        if (c.stopRequested) {
            // Per batch: the content, then the names (one folder: that folder).
            EXPECT_LE(fileSystems + folderFlushes, 2 * batches + 2) << label;
            EXPECT_LE(folderFlushes, c.folders == 1 ? batches + 1 : 0) << label;
        } else {
            EXPECT_LE(fileSystems, batches + 1) << label;
            EXPECT_EQ(folderFlushes, kFiles) << label << ": each file's folder before it is reported";
        }
    }
}

// A flush of the whole file system would write whatever else waits there
// (another program's writes, old files kept by a hard link): where the system
// holds much of that, each file and folder is flushed on its own.
TEST(BatchFlush, MuchElseUnwrittenIsNotFlushedWithTheRunsFiles) {
    struct Case {
        const char* name;
        std::int64_t (*unwritten)();
        bool wholeFileSystem;
    };
    const Case cases[] = {
        {"little else unwritten", [] { return std::int64_t{0}; }, true},
        {"1 GiB else unwritten", [] { return std::int64_t{1} << 30; }, false},
        {"unknown", [] { return std::int64_t{-1}; }, true},
    };
    constexpr int kFiles = 2 * kMaxStagedRewrites;
    constexpr int kFolders = 4;
    for (const Case& c : cases) {
        TempDir dir;
        if (onVolatileFileSystem(dir))
            GTEST_SKIP() << "nothing is flushed on a file system that a restart empties";
        const std::vector<std::string> paths = makeFiles(dir, kFiles, {"a", "b", "c", "d"});
        RunEvents events;
        events.StopRequested = [] { return false; };
        const UnwrittenElsewhere system(c.unwritten);
        const detail::FlushCounts before = detail::FlushesMade();
        EXPECT_EQ(ExecuteRun(replaceOldIn(paths, 3), events), kFiles) << c.name;
        const detail::FlushCounts after = detail::FlushesMade();

        EXPECT_EQ(changedFiles(paths), kFiles) << c.name;
        const int batches = kFiles / kMaxStagedRewrites;
        if (c.wholeFileSystem) {
            EXPECT_EQ(after.Files - before.Files, 0) << c.name;
            EXPECT_EQ(after.Directories - before.Directories, 0) << c.name;
            EXPECT_LE(after.FileSystems - before.FileSystems, 2 * batches + 2) << c.name;
        } else {
            EXPECT_EQ(after.FileSystems - before.FileSystems, 0) << c.name;
            EXPECT_EQ(after.Files - before.Files, kFiles) << c.name;
            EXPECT_LE(after.Directories - before.Directories, kFolders * (batches + 1)) << c.name;
            EXPECT_GE(after.Directories - before.Directories, kFolders) << c.name;
        }
    }
}

// The stop is asked before each file is put in place, from the run's second
// file on: the files before the stop point are changed and reported, those
// after it are left as they were, wherever in a batch it falls.
TEST(BatchFlush, AStoppedRunReportsExactlyTheFilesItChanged) {
    struct Case {
        const char* name;
        int stopAtReport;  // OnFile sets stop at this report; 0: never
        int stopAtRequest; // StopRequested says true from this call on; 0: never
        int expectChanged; // -1: as many as reported
    };
    constexpr int kFiles = 3 * kMaxStagedRewrites;
    const Case cases[] = {
        {"stop requested from the start", 0, 1, 1},
        {"stop requested amid the first batch", 0, 5, 5},
        {"stop requested at the second batch", 0, kMaxStagedRewrites, kMaxStagedRewrites},
        {"stop requested amid the second batch", 0, kMaxStagedRewrites + 3, kMaxStagedRewrites + 3},
        {"OnFile stops amid a batch", 5, 0, -1},
    };
    for (const Case& c : cases) {
        for (int threads : {1, 3}) {
            TempDir dir;
            const std::vector<std::string> paths = makeFiles(dir, kFiles, {"a", "b"});
            int reports = 0;
            int requests = 0;
            RunEvents events;
            events.OnFile = [&](const FileReport&, bool& stop) { stop = ++reports == c.stopAtReport; };
            events.StopRequested = [&] { return ++requests >= c.stopAtRequest && c.stopAtRequest > 0; };
            RunTotals totals;
            ExecuteRun(replaceOldIn(paths, threads), events, &totals);

            const std::string label = std::string(c.name) + ", " + std::to_string(threads) + " threads";
            const int changed = changedFiles(paths);
            EXPECT_EQ(changed, reports) << label << ": every file changed is reported, and only those";
            EXPECT_EQ(totals.Handled, reports) << label;
            if (c.expectChanged >= 0) {
                EXPECT_EQ(changed, c.expectChanged) << label;
            }
            if (c.stopAtReport > 0) {
                EXPECT_GE(reports, c.stopAtReport) << label;
            }
            EXPECT_LT(changed, kFiles) << label << ": the stop was heard";
            for (int i = 0; i < kFiles; ++i)
                ASSERT_EQ(readFile(paths[static_cast<std::size_t>(i)]), i < changed ? "new" : "old")
                    << label << ": the files changed come first in run order, file " << i;
            EXPECT_EQ(temporaryFilesUnder(dir.path()), 0) << label;
        }
    }
}

TEST(BatchFlush, AFailedFlushIsReportedAndNeverPassesForDone) {
    struct Case {
        detail::Flush failing;
        const char* badContent; // what the files in "bad" hold after the run
    };
    // The content's flush fails before the rename: the old file stays. The
    // folder's fails after it: the new content is in place but may not last.
    const Case cases[] = {{detail::Flush::File, "old"}, {detail::Flush::Directory, "new"}};
    for (const Case& c : cases) {
        for (bool stopRequested : {false, true}) {
            TempDir dir;
            if (onVolatileFileSystem(dir))
                GTEST_SKIP() << "nothing is flushed on a file system that a restart empties";
            const std::vector<std::string> paths = makeFiles(dir, 40, {"good", "bad"});
            RunRequest request = replaceOldIn(paths, 3);
            request.KeepGoing = true;
            std::set<std::string> reported;
            std::set<std::string> failed;
            RunEvents events;
            events.OnFile = [&](const FileReport& report, bool&) { reported.insert(report.FullPath); };
            events.OnFileError = [&](const std::string& path, const std::string& message) {
                failed.insert(path);
                EXPECT_NE(message.find("Input/output error"), std::string::npos) << message;
            };
            if (stopRequested)
                events.StopRequested = [] { return false; };
            RunTotals totals;
            {
                const FaultInBadFolder fault(c.failing);
                ExecuteRun(request, events, &totals);
            }
            const std::string label =
                std::string(c.badContent) + " in bad, stop requested " + (stopRequested ? "yes" : "no");
            for (const std::string& path : paths) {
                const bool bad = path.find("/bad/") != std::string::npos;
                EXPECT_EQ(reported.count(path), bad ? 0u : 1u) << label << " " << path;
                EXPECT_EQ(failed.count(path), bad ? 1u : 0u) << label << " " << path;
                EXPECT_EQ(readFile(path), bad ? c.badContent : "new") << label << " " << path;
            }
            EXPECT_EQ(totals.Failed, 20) << label;
            EXPECT_EQ(temporaryFilesUnder(dir.path()), 0) << label;
        }
    }
}
