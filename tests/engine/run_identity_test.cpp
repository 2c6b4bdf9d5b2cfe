// A run rewrites exactly the file it read: aliases, outside edits, deletes,
// re-pointed symlinks and swapped folders, with one thread and with several.
#include "engine/run/run.h"

#include "core/error.h"
#include "engine/fs/file_io.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillet::engine;
using quillet::core::OpReplaceText;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

RunRequest replaceRun(std::vector<std::string> paths, const std::string& pattern, const std::string& newText,
                      int threads) {
    RunRequest r;
    r.Shape = RunShape::PathList;
    r.Entries = std::move(paths);
    r.Param.Operation = OpReplaceText;
    r.Param.SearchPattern = pattern;
    r.Param.NewText = newText;
    r.Param.CaseSensitive = true;
    r.Threads = threads;
    return r;
}

std::string errorOf(const RunRequest& request, const RunEvents& events = {}) {
    try {
        ExecuteRun(request, events);
    } catch (const quillet::Error& error) {
        return error.what();
    }
    return "(no error)";
}

struct stat statOf(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

// Files between the two mentions of an alias, so that with several threads
// the second mention is read long before the first is written.
std::vector<std::string> fillers(const TempDir& dir, int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i)
        paths.push_back(dir.write("fill/" + std::to_string(i) + ".txt", "a"));
    return paths;
}

} // namespace

// A file named twice in one run is processed twice, as one file after the
// other would be: "a" -> "aa" -> "aaaa", whatever the threads.
TEST(RunIdentity, AliasesAreProcessedOnceForEachMentionAsInASerialRun) {
    struct Case {
        const char* name;
        const char* second; // how the second mention names the file
        const char* expectedFile;
        const char* expectedOther; // the second name's own file, when it is another one
    } cases[] = {
        {"same path twice", "f", "aaaa", nullptr},
        {"dot slash", "./f", "aaaa", nullptr},
        {"symlink to it", "link", "aaaa", nullptr},
        // The rename gives f a new inode: the other link keeps the old one.
        {"hard link", "hard", "aa", "aa"},
    };
    for (const Case& c : cases) {
        for (int threads : {1, 4}) {
            TempDir dir;
            dir.write("f", "a");
            fs::create_symlink("f", dir.path() / "link");
            fs::create_hard_link(dir.path() / "f", dir.path() / "hard");
            const auto cwd = fs::current_path();
            fs::current_path(dir.path());
            std::vector<std::string> paths{"f"};
            for (const std::string& filler : fillers(dir, 20))
                paths.push_back(filler);
            paths.push_back(c.second);
            const std::int64_t handled = ExecuteRun(replaceRun(paths, "a", "aa", threads), {});
            fs::current_path(cwd);
            EXPECT_EQ(handled, 22) << c.name << ", threads " << threads;
            EXPECT_EQ(readFile(dir.file("f")), c.expectedFile) << c.name << ", threads " << threads;
            if (c.expectedOther != nullptr) {
                EXPECT_EQ(readFile(dir.file(c.second)), c.expectedOther) << c.name << ", threads " << threads;
            }
            EXPECT_TRUE(fs::is_symlink(dir.path() / "link")) << c.name;
        }
    }
}

// Another program appending to a file while the run rewrites it must lose no
// line: the run sees the append and processes the file again, or leaves it to
// the other program.
TEST(RunIdentity, AConcurrentAppenderLosesNoLine) {
    for (int trial = 0; trial < 3; ++trial) {
        TempDir dir;
        std::vector<std::string> paths;
        for (int i = 0; i < 150; ++i)
            paths.push_back(dir.write("f" + std::to_string(1000 + i) + ".txt", std::string(3000, '.') + "foo\n"));
        const std::string log = paths[75];
        std::atomic<bool> done{false};
        int appended = 0;
        std::thread appender([&] {
            while (!done.load()) {
                // As `echo >>` does: open, append one line, close.
                const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
                const std::string line = "foo " + std::to_string(appended) + "\n";
                if (fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()))
                    ++appended;
                if (fd >= 0)
                    ::close(fd);
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
        RunRequest r = replaceRun(paths, "foo", "bar", 4);
        r.KeepGoing = true; // a file that keeps changing is left to the appender
        ExecuteRun(r, {});
        done = true;
        appender.join();
        const std::string text = readFile(log);
        for (int i = 0; i < appended; ++i) {
            const std::string number = " " + std::to_string(i) + "\n";
            EXPECT_TRUE(text.find("foo" + number) != std::string::npos ||
                        text.find("bar" + number) != std::string::npos)
                << "trial " << trial << ": line " << i << " of " << appended << " lost";
        }
    }
}

// Changes made by others between the read and the file's turn.
class OutsideChangeTest : public ::testing::TestWithParam<int> {
protected:
    TempDir dir;
    std::vector<std::string> paths;

    void SetUp() override {
        for (int i = 0; i < 30; ++i)
            paths.push_back(dir.write("f" + std::to_string(10 + i) + ".txt", "x"));
    }
    // Runs "x" -> "y" over the paths and calls `change` once, when the
    // third file is reported; returns the run's error, if any.
    std::string runChanging(const std::function<void()>& change, std::vector<std::string> list = {}) {
        RunEvents events;
        int reported = 0;
        events.OnFile = [&](const FileReport&, bool&) {
            if (++reported == 3)
                change();
        };
        return errorOf(replaceRun(list.empty() ? paths : list, "x", "y", GetParam()), events);
    }
};

TEST_P(OutsideChangeTest, AnEditorsSaveIsProcessedAfreshNotOverwritten) {
    const std::string message = runChanging([&] {
        const std::string saved = dir.write("editor.tmp", "x from the editor");
        fs::rename(saved, paths[5]);
    });
    EXPECT_EQ(message, "(no error)");
    EXPECT_EQ(readFile(paths[5]), "y from the editor");
    EXPECT_EQ(readFile(paths[6]), "y");
}

TEST_P(OutsideChangeTest, AFileDeletedBeforeItsTurnIsAnErrorAndStaysDeleted) {
    const std::string message = runChanging([&] { fs::remove(paths[5]); });
    EXPECT_EQ(message, "Cannot open file \"" + paths[5] + "\". No such file or directory");
    EXPECT_FALSE(fs::exists(paths[5]));
    EXPECT_EQ(readFile(paths[4]), "y");
    EXPECT_EQ(readFile(paths[6]), "x") << "the run ends at the error";
}

TEST_P(OutsideChangeTest, ARepointedSymlinkRewritesItsNewTargetFromItsOwnContent) {
    const std::string a = dir.write("a.txt", "x in A");
    const std::string b = dir.write("b.txt", "x in B");
    fs::create_symlink("a.txt", dir.path() / "link");
    std::vector<std::string> list = paths;
    list.insert(list.begin() + 5, dir.file("link"));
    const std::string message = runChanging(
        [&] {
            fs::remove(dir.path() / "link");
            fs::create_symlink("b.txt", dir.path() / "link");
        },
        list);
    EXPECT_EQ(message, "(no error)");
    EXPECT_EQ(readFile(a), "x in A");
    EXPECT_EQ(readFile(b), "y in B");
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link"));
}

INSTANTIATE_TEST_SUITE_P(Threads, OutsideChangeTest, ::testing::Values(1, 4));

// Root walking a tree that another user can write: a sub-folder swapped for
// a symlink to somewhere else, and back, over and over, while the tree is
// walked and rewritten, must never lead a rewrite out of the tree.
TEST(RunIdentity, ASwappingAttackerCannotRedirectAWalkOutOfTheTree) {
    TempDir dir;
    const std::string outside = dir.write("outside/sub/page.htm", "secret x");
    dir.write("tree/sub/page.htm", "x");
    for (int i = 0; i < 5; ++i)
        dir.write("tree/f" + std::to_string(i) + ".htm", "x");
    const fs::path sub = dir.path() / "tree" / "sub";
    const fs::path parked = dir.path() / "tree" / "parked";
    std::atomic<bool> done{false};
    std::thread attacker([&] {
        std::error_code ec;
        // Each state lasts a while, so that a walk meets the real folder when
        // it lists the tree and the symlink when it enters it or writes.
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            fs::rename(sub, parked, ec);
            fs::create_directory_symlink(dir.path() / "outside" / "sub", sub, ec);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            fs::remove(sub, ec);
            fs::rename(parked, sub, ec);
        }
    });
    for (int walk = 0; walk < 60; ++walk) {
        RunRequest r;
        r.Shape = RunShape::DirectoryWalk;
        r.Directory = dir.file("tree");
        r.Mask = "*.htm";
        r.Param.Operation = OpReplaceText;
        r.Param.SearchPattern = "x";
        r.Param.NewText = "y x"; // grows every time, so every walk rewrites
        r.Threads = walk % 2 == 0 ? 1 : 4;
        r.KeepGoing = true;
        errorOf(r);
    }
    done = true;
    attacker.join();
    EXPECT_EQ(readFile(outside), "secret x");
}

TEST(RunIdentity, AFileItsOwnerMadeReadOnlyIsRefusedAlsoForRoot) {
    TempDir dir;
    const std::string path = dir.write("locked.txt", "x");
    fs::permissions(path, fs::perms(0444));
    EXPECT_EQ(errorOf(replaceRun({path}, "x", "y", 1)), "Cannot create file \"" + path + "\". Permission denied");
    EXPECT_EQ(readFile(path), "x");
    EXPECT_EQ(statOf(path).st_mode & 07777, 0444u);
}

TEST(RunIdentity, ANameOf255BytesIsRewritten) {
    TempDir dir;
    const std::string path = dir.write(std::string(251, 'n') + ".txt", "x");
    EXPECT_EQ(errorOf(replaceRun({path}, "x", "y", 1)), "(no error)");
    EXPECT_EQ(readFile(path), "y");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(RunIdentity, ContentThatDoesNotChangeIsNotRewritten) {
    TempDir dir;
    const std::string path = dir.write("same.txt", "keep a and a");
    const struct stat before = statOf(path);
    std::vector<std::string> results;
    RunEvents events;
    events.OnResult = [&](const std::string& entry) { results.push_back(entry); };
    int changed = 0;
    events.OnChanged = [&](const std::string&, std::string_view, std::string_view, const auto*, std::int64_t,
                           std::uint64_t) { ++changed; };
    EXPECT_EQ(ExecuteRun(replaceRun({path}, "a", "a", 1), events), 1);
    const struct stat after = statOf(path);
    EXPECT_EQ(results, std::vector<std::string>{path}) << "it still matched";
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST(RunIdentity, ExtendedAttributesAndAclsAreKept) {
    TempDir dir;
    const std::string path = dir.write("tagged.txt", "x");
    if (::setxattr(path.c_str(), "user.origin", "kept", 4, 0) != 0)
        GTEST_SKIP() << "no user.* extended attributes here";
    // An ACL granting user 4242 read access, as setfacl -m u:4242:r writes it.
    const std::uint32_t acl[] = {2,          0x00060001, 0xffffffff, 0x00040002, 4242,      0x00040004,
                                 0xffffffff, 0x00040010, 0xffffffff, 0x00040020, 0xffffffff};
    const bool haveAcl = ::setxattr(path.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) == 0;
    ASSERT_EQ(errorOf(replaceRun({path}, "x", "y", 1)), "(no error)");
    EXPECT_EQ(readFile(path), "y");
    char value[16] = {};
    EXPECT_EQ(::getxattr(path.c_str(), "user.origin", value, sizeof value), 4);
    EXPECT_EQ(std::string(value), "kept");
    if (haveAcl) {
        std::uint32_t got[16] = {};
        EXPECT_EQ(::getxattr(path.c_str(), "system.posix_acl_access", got, sizeof got), ssize_t(sizeof acl));
        EXPECT_EQ(got[4], 4242u);
    }
}

TEST(RunIdentity, AMissingRootIsAnErrorForTheWalkAndTheListing) {
    TempDir dir;
    for (RunShape shape : {RunShape::DirectoryWalk, RunShape::DirectoryListing}) {
        RunRequest r;
        r.Shape = shape;
        r.Directory = dir.file("missing") + "/";
        r.Mask = "*";
        r.Param.SearchPattern = "x";
        EXPECT_EQ(errorOf(r), "Cannot open directory \"" + dir.file("missing") + "\". No such file or directory")
            << int(shape);
    }
}

TEST(RunIdentity, KeepGoingReportsEachFailedFileAndGoesOn) {
    TempDir dir;
    const std::vector<std::string> paths{dir.write("a.txt", "x"), dir.file("gone.txt"), dir.write("c.txt", "x")};
    for (int threads : {1, 4}) {
        RunRequest r = replaceRun(paths, "x", "y", threads);
        r.KeepGoing = true;
        r.Param.DryRun = true;
        std::vector<std::string> errors, changes;
        RunEvents events;
        events.OnFileError = [&](const std::string& path, const std::string& message) {
            errors.push_back(path + ": " + message);
        };
        events.OnChanged = [&](const std::string& path, std::string_view oldText, std::string_view newText, const auto*,
                               std::int64_t, std::uint64_t) {
            changes.push_back(path + ": " + std::string(oldText) + " -> " + std::string(newText));
        };
        RunTotals totals;
        EXPECT_EQ(ExecuteRun(r, events, &totals), 2);
        EXPECT_EQ(totals.Failed, 1);
        EXPECT_EQ(errors, std::vector<std::string>{paths[1] + ": Cannot open file \"" + paths[1] +
                                                   "\". No such file or directory"});
        EXPECT_EQ(changes, (std::vector<std::string>{paths[0] + ": x -> y", paths[2] + ": x -> y"}));
        EXPECT_EQ(readFile(paths[0]), "x") << "a dry run writes nothing";
    }
}

// A user at the process limit (ulimit -u) cannot start worker threads: the
// run must go on with the threads it has, not end the program.
TEST(RunIdentity, WorkerThreadsThatCannotStartDoNotEndTheProgram) {
    if (geteuid() == 0)
        GTEST_SKIP() << "the process limit does not apply to root";
    TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i)
        paths.push_back(dir.write("f" + std::to_string(i), "x"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit none{0, 0};
        setrlimit(RLIMIT_NPROC, &none);
        try {
            _exit(ExecuteRun(replaceRun(paths, "x", "y", 4), {}) == 5 ? 0 : 1);
        } catch (...) {
            _exit(2);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the run was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (const std::string& path : paths)
        EXPECT_EQ(readFile(path), "y") << path;
}
