#include "finder/file_finder.h"

#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet::finder {
namespace {

namespace fs = std::filesystem;
using testutil::TempDir;

// root/
//   .git/g.htm           never entered
//   INDEX.HTM  a.htm  b.txt  index.html
//   loop.htm -> .        a symlink to its own directory
//   old.htm/inner.htm    a directory whose name fits "*.htm"
//   pipe.htm             a FIFO
//   sub1/a.htm  sub1/deep/y.htm  sub1/up -> ..  sub1/x.htm
//   sub2/index.htm  sub2/z.htm
class FileFinderTest : public ::testing::Test {
protected:
    TempDir tmp;
    std::string root;
    TFileFinder finder;
    std::vector<std::string> reports; // directory + name, relative to root
    std::vector<TSearchRec> records;
    std::vector<std::string> statuses;
    int stops = 0;
    int pumps = 0;

    void SetUp() override {
        root = tmp.path().string() + "/";
        for (const char* f : {".git/g.htm", "INDEX.HTM", "a.htm", "b.txt", "index.html", "old.htm/inner.htm",
                              "sub1/a.htm", "sub1/deep/y.htm", "sub1/x.htm", "sub2/index.htm", "sub2/z.htm"})
            tmp.write(f, "text");
        fs::create_directory_symlink(".", tmp.file("loop.htm"));
        fs::create_directory_symlink("..", tmp.file("sub1/up"));
        ASSERT_EQ(mkfifo(tmp.file("pipe.htm").c_str(), 0644), 0);

        finder.Root = root;
        finder.FuzzySearch = true;
        finder.OnFileFound = [this](TFileFinder& sender, const std::string& directory, TSearchRec rec, bool&) {
            EXPECT_EQ(&sender, &finder);
            record(directory, rec);
        };
        finder.OnStop = [this](TFileFinder& sender) {
            EXPECT_EQ(&sender, &finder);
            ++stops;
        };
        finder.StatusLabel = [this](const std::string& directory) { statuses.push_back(relative(directory)); };
        finder.MessagePump = [this] { ++pumps; };
    }

    std::string relative(const std::string& directory) const {
        EXPECT_EQ(directory.compare(0, root.size(), root), 0) << directory;
        EXPECT_EQ(directory.back(), '/') << directory;
        return directory.substr(root.size());
    }
    void record(const std::string& directory, const TSearchRec& rec) {
        reports.push_back(relative(directory) + rec.Name);
        records.push_back(rec);
    }
    const TSearchRec& recordOf(const std::string& report) const {
        for (std::size_t i = 0; i < reports.size(); ++i)
            if (reports[i] == report)
                return records[i];
        throw std::runtime_error("not reported: " + report);
    }
    std::set<std::string> distinctStatuses() const { return {statuses.begin(), statuses.end()}; }
};

TEST_F(FileFinderTest, ReportsADirectoryInFullBeforeItsSubDirectoriesDepthFirst) {
    finder.Filename = "*.htm";
    finder.Start();
    const std::vector<std::string> expected = {
        "INDEX.HTM",  "a.htm",      "loop.htm",        "old.htm",        "pipe.htm",  "old.htm/inner.htm",
        "sub1/a.htm", "sub1/x.htm", "sub1/deep/y.htm", "sub2/index.htm", "sub2/z.htm"};
    EXPECT_EQ(reports, expected);
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(finder.Stopped());
}

TEST_F(FileFinderTest, EntriesKeepTheirKinds) {
    finder.Filename = "*.htm";
    finder.Start();
    // The walker reports what fits; telling files from the rest is the run's job.
    EXPECT_EQ(recordOf("a.htm").Attr, faArchive);
    EXPECT_EQ(recordOf("old.htm").Attr, faDirectory);
    EXPECT_EQ(recordOf("pipe.htm").Attr, faSysFile);
    EXPECT_TRUE(recordOf("loop.htm").IsSymlink);
    EXPECT_FALSE(recordOf("loop.htm").isRegularFile());
}

TEST_F(FileFinderTest, SymlinkLoopsAndDotDirectoriesAreNeverEntered) {
    finder.Filename = "*";
    finder.Start();
    const std::set<std::string> unique(reports.begin(), reports.end());
    EXPECT_EQ(unique.size(), reports.size());
    for (const std::string& r : reports) {
        EXPECT_EQ(r.find("up/"), std::string::npos) << r;
        EXPECT_EQ(r.find("loop.htm/"), std::string::npos) << r;
        EXPECT_EQ(r.find(".git/"), std::string::npos) << r;
    }
    // Listed and reported, though, like any entry.
    EXPECT_EQ(recordOf(".git").Attr, faDirectory | faHidden);
    EXPECT_EQ(recordOf(".").Attr, faDirectory);
    EXPECT_EQ(recordOf("sub1/..").Attr, faDirectory);
    EXPECT_TRUE(recordOf("sub1/up").IsSymlink);
    EXPECT_EQ(distinctStatuses(), (std::set<std::string>{"", "old.htm/", "sub1/", "sub1/deep/", "sub2/"}));
}

TEST_F(FileFinderTest, StarDotStarFitsDotEntriesButNotNamesWithoutADot) {
    finder.Filename = "*.*";
    finder.SubFolders = false;
    finder.Start();
    EXPECT_EQ(reports, (std::vector<std::string>{".", "..", ".git", "INDEX.HTM", "a.htm", "b.txt", "index.html",
                                                 "loop.htm", "old.htm", "pipe.htm"}));
}

TEST_F(FileFinderTest, EmptyFilenameWalksEverythingAndReportsNothing) {
    finder.Filename = "";
    finder.Start();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(distinctStatuses(), (std::set<std::string>{"", "old.htm/", "sub1/", "sub1/deep/", "sub2/"}));
    EXPECT_EQ(pumps, static_cast<int>(statuses.size()));
}

TEST_F(FileFinderTest, WholeNameComparisonWhenNotFuzzy) {
    struct Case {
        const char* filename;
        bool ignoreCase;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"index.htm", true, {"INDEX.HTM", "sub2/index.htm"}},
        {"index.htm", false, {"sub2/index.htm"}},
        {"INDEX.HTM", false, {"INDEX.HTM"}},
        {"Z.HTM", true, {"sub2/z.htm"}},
        {"sub2", true, {"sub2"}}, // directories are named too
        {"*.htm", true, {}},      // wildcards mean nothing here
        {"?.htm", true, {}},
        {"index.htm;a.htm", true, {}},
    };
    for (const Case& c : cases) {
        reports.clear();
        finder.FuzzySearch = false;
        finder.IgnoreCase = c.ignoreCase;
        finder.Filename = c.filename;
        finder.Start();
        EXPECT_EQ(reports, c.expected) << c.filename << " ignoreCase " << c.ignoreCase;
    }
}

TEST_F(FileFinderTest, SeveralMasksInTheWalk) {
    finder.Filename = "*.txt;;*.HTML;y.*";
    finder.Start();
    EXPECT_EQ(reports, (std::vector<std::string>{"b.txt", "index.html", "sub1/deep/y.htm"}));
}

TEST_F(FileFinderTest, FuzzyMatchHonoursIgnoreCase) {
    finder.Filename = "*.htm";
    finder.IgnoreCase = false;
    finder.SubFolders = false;
    finder.Start();
    EXPECT_EQ(reports, (std::vector<std::string>{"a.htm", "loop.htm", "old.htm", "pipe.htm"}));
}

TEST_F(FileFinderTest, StopFromTheHandlerOnTheFirstEntryOfRoot) {
    finder.Filename = "*";
    int calls = 0;
    finder.OnFileFound = [&](TFileFinder&, const std::string&, TSearchRec, bool& stop) {
        ++calls;
        stop = true;
    };
    finder.Start();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(finder.Stopped());
    // The stopping entry still finishes its round: label and pump once.
    EXPECT_EQ(statuses, std::vector<std::string>{""});
    EXPECT_EQ(pumps, 1);

    // Stopped stays set until the next Start clears it.
    EXPECT_TRUE(finder.Stopped());
    finder.OnFileFound = nullptr;
    finder.Start();
    EXPECT_FALSE(finder.Stopped());
    EXPECT_EQ(stops, 2);
    EXPECT_EQ(distinctStatuses().size(), 5U);
}

TEST_F(FileFinderTest, StopFromTheHandlerInASubDirectory) {
    finder.Filename = "*.htm";
    std::vector<std::string> opened;
    finder.OnFileFound = [&](TFileFinder&, const std::string& directory, TSearchRec rec, bool& stop) {
        record(directory, rec);
        stop = relative(directory) + rec.Name == "sub1/a.htm";
    };
    // A later sibling is still opened (and closed) after the stop: removing it
    // makes that visible through the error it then meets.
    finder.OnDirectoryError = [&](const std::string& directory, const std::string&) {
        opened.push_back(relative(directory));
    };
    fs::remove_all(tmp.file("sub2"));
    fs::create_directory(tmp.file("sub2"));
    fs::create_directory(tmp.file("sub3"));
    finder.StatusLabel = [&](const std::string& directory) {
        statuses.push_back(relative(directory));
        if (statuses.size() == 1) // while the root is being scanned
            fs::remove(tmp.file("sub3"));
    };
    finder.Start();
    EXPECT_EQ(reports, (std::vector<std::string>{"INDEX.HTM", "a.htm", "loop.htm", "old.htm", "pipe.htm",
                                                 "old.htm/inner.htm", "sub1/a.htm"}));
    EXPECT_EQ(opened, std::vector<std::string>{"sub3/"});
    EXPECT_EQ(distinctStatuses().count("sub1/deep/"), 0U);
    EXPECT_EQ(distinctStatuses().count("sub2/"), 0U);
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(finder.Stopped());
}

TEST_F(FileFinderTest, StopOperationDuringThePumpEndsTheWalk) {
    finder.Filename = "*";
    finder.MessagePump = [&] {
        if (++pumps == 2)
            finder.Stop();
    };
    finder.Start();
    EXPECT_EQ(reports, (std::vector<std::string>{".", ".."}));
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(finder.Stopped());
}

TEST_F(FileFinderTest, StopOperationInsideTheHandlerIsOverriddenByItsStopArgument) {
    finder.Filename = "*.htm";
    finder.SubFolders = false;
    finder.OnFileFound = [&](TFileFinder& sender, const std::string& directory, TSearchRec rec, bool&) {
        record(directory, rec);
        sender.Stop();
    };
    finder.Start();
    EXPECT_EQ(reports.size(), 5U);
    EXPECT_FALSE(finder.Stopped());
}

TEST_F(FileFinderTest, NoPumpWhenProcessMessagesIsOff) {
    finder.Filename = "*";
    finder.ProcessMessages = false;
    finder.Start();
    EXPECT_EQ(pumps, 0);
    EXPECT_FALSE(reports.empty());
}

TEST_F(FileFinderTest, StopBeforeStartIsClearedByStart) {
    finder.Filename = "a.htm";
    finder.Stop();
    EXPECT_TRUE(finder.Stopped());
    finder.Start();
    EXPECT_EQ(reports, (std::vector<std::string>{"a.htm", "sub1/a.htm"}));
}

TEST_F(FileFinderTest, WithoutSubFoldersOnlyRootIsTested) {
    finder.Filename = "*.htm";
    finder.SubFolders = false;
    finder.Start();
    EXPECT_EQ(reports, (std::vector<std::string>{"INDEX.HTM", "a.htm", "loop.htm", "old.htm", "pipe.htm"}));
    EXPECT_EQ(distinctStatuses(), std::set<std::string>{""});
    EXPECT_EQ(stops, 1);
}

TEST_F(FileFinderTest, AttributeMaskWithoutDirectoriesNeitherReportsNorEntersThem) {
    finder.Filename = "*";
    finder.FileAttr = 47;
    finder.Start();
    EXPECT_EQ(reports, (std::vector<std::string>{"INDEX.HTM", "a.htm", "b.txt", "index.html", "loop.htm", "pipe.htm"}));
    EXPECT_EQ(distinctStatuses(), std::set<std::string>{""});
}

TEST_F(FileFinderTest, AttributeMaskWithoutHiddenOrSystem) {
    tmp.write(".hidden.htm", "");
    finder.Filename = "*.htm";
    finder.SubFolders = false;
    finder.FileAttr = faAnyFile & ~(faHidden | faSysFile);
    finder.Start();
    EXPECT_EQ(reports, (std::vector<std::string>{"INDEX.HTM", "a.htm", "loop.htm", "old.htm"}));
}

TEST_F(FileFinderTest, RootWithoutTrailingSlashStillGivesSoundPaths) {
    // Without the slash, "sub1" would be looked for beside the root.
    fs::create_directory(tmp.path().string() + "sub1");
    finder.Root = tmp.path().string();
    finder.Filename = "x.htm";
    finder.Start();
    EXPECT_EQ(reports, std::vector<std::string>{"sub1/x.htm"});
    EXPECT_EQ(stops, 1);
    fs::remove(tmp.path().string() + "sub1");
}

TEST_F(FileFinderTest, UnopenableDirectoriesAreReportedOnceAndPassedOver) {
    std::vector<std::string> errors;
    finder.OnDirectoryError = [&](const std::string& directory, const std::string& reason) {
        errors.push_back(relative(directory) + ": " + reason);
    };
    finder.Filename = "*.htm";
    // sub2 disappears while the root is being scanned, sub1 becomes a file.
    bool done = false;
    finder.StatusLabel = [&](const std::string&) {
        if (done)
            return;
        done = true;
        fs::remove_all(tmp.file("sub2"));
        fs::remove_all(tmp.file("sub1"));
        tmp.write("sub1", "");
    };
    finder.Start();
    EXPECT_EQ(errors, (std::vector<std::string>{"sub1/: Not a directory", "sub2/: No such file or directory"}));
    EXPECT_EQ(reports.back(), "old.htm/inner.htm");
    EXPECT_EQ(stops, 1);
}

// With the tree mounted inside itself, every file below the mount was handed
// over twice, and a run that inserts text inserted it twice.
TEST_F(FileFinderTest, AFolderMountedInsideItselfIsNotWalkedAgain) {
    const std::string mountPoint = tmp.file("sub2/mounted-root");
    fs::create_directory(mountPoint);
    if (::mount(root.c_str(), mountPoint.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no bind mount here: " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    std::vector<std::string> errors;
    finder.OnDirectoryError = [&](const std::string& directory, const std::string& reason) {
        errors.push_back(relative(directory) + ": " + reason);
    };
    finder.Filename = "*.htm";
    finder.Start();
    EXPECT_EQ(errors, std::vector<std::string>{"sub2/mounted-root/: Recursive directory loop"});
    for (const std::string& report : reports)
        EXPECT_NE(report.rfind("sub2/mounted-root/", 0), 0u) << report << " was handed over a second time";
}

// A folder bind-mounted elsewhere in the tree was walked twice, so a run
// handed its files over twice (an insert inserted twice).
TEST_F(FileFinderTest, AFolderMountedElsewhereInTheTreeIsWalkedOnce) {
    const std::string mountPoint = tmp.file("sub2/again");
    fs::create_directory(mountPoint);
    if (::mount(tmp.file("sub1").c_str(), mountPoint.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no bind mount here: " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    std::vector<std::string> errors;
    finder.OnDirectoryError = [&](const std::string& directory, const std::string& reason) {
        errors.push_back(relative(directory) + ": " + reason);
    };
    finder.Filename = "*";
    finder.Start();
    EXPECT_EQ(errors, std::vector<std::string>{});
    std::set<std::string> names;
    for (const std::string& report : reports) {
        const std::string name = report.substr(report.rfind('/') + 1);
        if (name == "." || name == "..")
            continue;
        if (report.rfind("sub1/", 0) == 0 || report.rfind("sub2/again/", 0) == 0) {
            EXPECT_TRUE(names.insert(name).second) << report << " was handed over a second time";
        }
    }
    EXPECT_FALSE(names.empty());
}

// A sub-folder swapped for a symlink after it was listed (another user
// redirecting a walk made by root) is not followed out of the tree.
TEST_F(FileFinderTest, ASubFolderSwappedForASymlinkAfterTheListingIsNotFollowed) {
    TempDir outside;
    outside.write("evil.htm", "text");
    std::vector<std::string> errors;
    finder.OnDirectoryError = [&](const std::string& directory, const std::string& reason) {
        errors.push_back(relative(directory) + ": " + reason);
    };
    finder.Filename = "*.htm";
    bool swapped = false;
    std::shared_ptr<const OpenDirectory> rootDirectory;
    finder.OnFileFound = [&](TFileFinder& sender, const std::string& directory, TSearchRec rec, bool&) {
        record(directory, rec);
        if (swapped)
            return;
        swapped = true;
        rootDirectory = sender.CurrentDirectory();
        fs::rename(tmp.file("sub1"), tmp.file("parked"));
        fs::create_directory_symlink(outside.path(), tmp.file("sub1"));
    };
    finder.Start();
    EXPECT_EQ(errors, std::vector<std::string>{"sub1/: Not a directory"});
    for (const std::string& report : reports)
        EXPECT_EQ(report.find("evil"), std::string::npos) << report;
    ASSERT_TRUE(rootDirectory);
    EXPECT_EQ(rootDirectory->Path, root);
    struct stat held {
    }, named{};
    ASSERT_EQ(fstat(rootDirectory->Fd, &held), 0) << "the directory stays open while it is held";
    ASSERT_EQ(stat(root.c_str(), &named), 0);
    EXPECT_EQ(held.st_ino, named.st_ino);
}

TEST_F(FileFinderTest, UnreadableSubDirectory) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads directories whatever their mode";
    std::vector<std::string> errors;
    finder.OnDirectoryError = [&](const std::string& directory, const std::string& reason) {
        errors.push_back(relative(directory) + ": " + reason);
    };
    fs::permissions(tmp.file("sub1"), fs::perms::none);
    finder.Filename = "*.htm";
    finder.Start();
    EXPECT_EQ(errors, std::vector<std::string>{"sub1/: Permission denied"});
    EXPECT_EQ(reports.back(), "sub2/z.htm");
    EXPECT_EQ(stops, 1);
}

TEST(FileFinderRootTest, MissingRootEndsAtOnceWithOnStop) {
    TempDir tmp;
    TFileFinder finder;
    finder.Root = tmp.file("missing") + "/";
    finder.Filename = "*";
    int stops = 0;
    int found = 0;
    std::vector<std::string> errors;
    finder.OnStop = [&](TFileFinder&) { ++stops; };
    finder.OnFileFound = [&](TFileFinder&, const std::string&, TSearchRec, bool&) { ++found; };
    finder.OnDirectoryError = [&](const std::string& directory, const std::string& reason) {
        errors.push_back(directory + ": " + reason);
    };
    finder.Start();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(errors, std::vector<std::string>{finder.Root + ": No such file or directory"});
}

TEST_F(FileFinderTest, HandlerExceptionPassesOutWithoutOnStop) {
    finder.Filename = "*.htm";
    int calls = 0;
    finder.OnFileFound = [&](TFileFinder&, const std::string& directory, TSearchRec, bool&) {
        ++calls;
        if (relative(directory) == "sub1/")
            throw std::runtime_error("cannot open");
    };
    EXPECT_THROW(finder.Start(), std::runtime_error);
    EXPECT_EQ(calls, 7); // five in root, one in old.htm, the throwing one
    EXPECT_EQ(stops, 0);
}

TEST_F(FileFinderTest, HandlerGetsACopyOfTheRecord) {
    finder.Filename = "a.htm";
    finder.SubFolders = false;
    int calls = 0;
    finder.OnFileFound = [&](TFileFinder&, const std::string& directory, TSearchRec rec, bool&) {
        ++calls;
        EXPECT_EQ(directory, root);
        EXPECT_EQ(rec.Name, "a.htm");
        EXPECT_EQ(rec.Size, 4);
    };
    finder.Start();
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace quillet::finder
