// The rewrite's own road: hooks, the in-place path, the temporary file.
#include "engine/fs/rewrite.h"
#include "engine/fs/temporary_file.h"

#include "core/error.h"
#include "engine/fs/durable_files.h"
#include "engine/fs/file_io.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <csignal>
#include <functional>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillet::engine;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

int temporaryFilesIn(const fs::path& dir) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        count += entry.path().filename().string().starts_with(".quillet-");
    return count;
}

// How the rewrites make their temporary files while it lives.
class TemporaryFilesMade {
public:
    explicit TemporaryFilesMade(detail::TemporaryFiles how) { detail::g_temporaryFiles = how; }
    ~TemporaryFilesMade() { detail::g_temporaryFiles = detail::TemporaryFiles::Unnamed; }
    TemporaryFilesMade(const TemporaryFilesMade&) = delete;
    TemporaryFilesMade& operator=(const TemporaryFilesMade&) = delete;
};
constexpr detail::TemporaryFiles kEveryWay[] = {
    detail::TemporaryFiles::Unnamed, detail::TemporaryFiles::UnnamedLinkedThroughProc, detail::TemporaryFiles::Named};

FileIdentity identityOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return FileIdentity::of(info);
}

// Records what the rewrite showed it; may keep the old bytes, or act.
class RecordingHooks : public CommitHooks {
public:
    bool keeps = false;
    std::function<void(const ReplaceContext&)> during;
    std::vector<std::string> calls;

    static std::string joined(TextPieces pieces) {
        std::string text;
        for (std::string_view piece : pieces)
            text += piece;
        return text;
    }
    void beforeReplace(const ReplaceContext& context) override {
        calls.push_back("before " + std::string(context.OldText) + " -> " + joined(context.NewText) +
                        (context.NewFd < 0 ? " in place" : ""));
        if (during)
            during(context);
    }
    void afterReplace(const ReplaceContext& context, const FileIdentity& now) override {
        calls.push_back(std::string("after ") +
                        (now.Size == static_cast<std::int64_t>(joined(context.NewText).size()) ? "ok" : "?"));
    }
    void replaceAbandoned(const ReplaceContext&) noexcept override { calls.push_back("abandoned"); }
    bool keepsOldBytes() const override { return keeps; }
};

std::string rewrite(const std::string& path, const std::string& oldText, const std::string& newText,
                    CommitHooks* hooks) {
    const FileIdentity read = identityOf(path);
    RewriteRequest request;
    request.Expected = &read;
    request.OldText = oldText;
    request.Hooks = hooks;
    try {
        return RewriteFile(FileLocation::atPath(path), newText, request) == RewriteOutcome::Replaced ? "replaced"
                                                                                                     : "changed";
    } catch (const quillet::Error& error) {
        return error.what();
    }
}

// Makes `dir` unusable for a temporary file: append-only where the process
// may set that (root on most local file systems), else not writable.
// Returns false when neither works here.
bool lockDirectory(const fs::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool appendOnly = false;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_APPEND_FL;
        appendOnly = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0)
        ::close(fd);
    if (appendOnly)
        return true;
    if (geteuid() == 0)
        return false; // root creates files in any directory
    fs::permissions(dir, fs::perms(0555));
    return true;
}

void unlockDirectory(const fs::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0) {
        flags &= ~FS_APPEND_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0)
        ::close(fd);
    fs::permissions(dir, fs::perms(0755));
}

} // namespace

TEST(RewriteFile, HooksSeeTheOldAndNewTextAndMayRefuse) {
    TempDir dir;
    const std::string path = dir.write("a.txt", "old");
    RecordingHooks hooks;
    EXPECT_EQ(rewrite(path, "old", "new", &hooks), "replaced");
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"before old -> new", "after ok"}));

    hooks.during = [](const ReplaceContext&) { throw quillet::Error("Cannot keep a copy"); };
    EXPECT_EQ(rewrite(path, "new", "newer", &hooks), "Cannot keep a copy");
    EXPECT_EQ(hooks.calls.back(), "before new -> newer") << "a hook that refuses is not told it was abandoned";
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(temporaryFilesIn(dir.path()), 0);
}

TEST(RewriteFile, AFileThatChangedBeforeTheRenameIsLeftAsTheOtherProgramMadeIt) {
    TempDir dir;
    const std::string path = dir.write("a.txt", "old");
    RecordingHooks hooks;
    // An editor's save, which a read lease does not hold up.
    hooks.during = [&](const ReplaceContext&) { fs::rename(dir.write("saved.tmp", "the editor's"), path); };
    EXPECT_EQ(rewrite(path, "old", "new", &hooks), "changed");
    EXPECT_EQ(readFile(path), "the editor's");
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"before old -> new", "abandoned"}));
    EXPECT_EQ(temporaryFilesIn(dir.path()), 0);
}

// Where the file system has no unnamed files, or for the instant one is
// named before its swap, the handler of a second Ctrl-C removes it.
TEST(RewriteFile, DiscardingOnASignalLeavesNoTemporaryFile) {
    for (const detail::TemporaryFiles how : kEveryWay) {
        const TemporaryFilesMade mode(how);
        const bool named = how == detail::TemporaryFiles::Named;
        TempDir dir;
        const std::string path = dir.write("a.txt", "old");
        RecordingHooks hooks;
        int during = -1;
        hooks.during = [&](const ReplaceContext&) {
            during = temporaryFilesIn(dir.path());
            DiscardTemporaryFileOnSignal();
        };
        const std::string outcome = rewrite(path, "old", "new", &hooks);
        EXPECT_EQ(during, named ? 1 : 0) << "named " << named;
        EXPECT_EQ(temporaryFilesIn(dir.path()), 0) << "named " << named;
        if (named) {
            EXPECT_NE(outcome, "replaced");
            EXPECT_EQ(readFile(path), "old");
        }
        DiscardTemporaryFileOnSignal(); // between rewrites: nothing to do
    }
}

// Every staged rewrite's temporary file is removed, not only the last one's.
TEST(RewriteFile, DiscardingOnASignalRemovesTheTemporaryFilesOfEveryStagedRewrite) {
    const TemporaryFilesMade mode(detail::TemporaryFiles::Named);
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<FileIdentity> read;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        paths.push_back(dir.write(name, "old"));
        read.push_back(identityOf(paths.back()));
    }
    std::vector<StagedRewrite> staged(paths.size());
    const std::string_view newText[] = {"new"};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        RewriteRequest request;
        request.Expected = &read[i];
        ASSERT_EQ(staged[i].stage(FileLocation::atPath(paths[i]), newText, request), RewriteOutcome::Staged);
    }
    EXPECT_EQ(temporaryFilesIn(dir.path()), 3);
    DiscardTemporaryFileOnSignal();
    EXPECT_EQ(temporaryFilesIn(dir.path()), 0);
    for (const std::string& path : paths)
        EXPECT_EQ(readFile(path), "old");
}

// No handler runs on SIGKILL: the rewrites a run had staged, for the journal
// and ahead of their turn, must not have left files beside the old ones.
TEST(RewriteFile, RewritesStagedWhenARunIsKilledLeaveNoFileBehind) {
    TempDir dir;
    const std::string a = dir.write("a.txt", "old");
    const std::string b = dir.write("b.txt", "old");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const FileIdentity readA = identityOf(a);
        const FileIdentity readB = identityOf(b);
        const std::string_view newText[] = {"new"};
        RewriteRequest request;
        request.OldText = "old";
        StagedRewrite now;
        StagedRewrite ahead;
        request.Expected = &readA;
        const bool stagedNow = now.stage(FileLocation::atPath(a), newText, request) == RewriteOutcome::Staged;
        request.Expected = &readB;
        if (stagedNow && ahead.stageAhead(FileLocation::atPath(b), newText, request))
            ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "both rewrites staged";
    EXPECT_EQ(temporaryFilesIn(dir.path()), 0);
    EXPECT_EQ(readFile(a), "old");
    EXPECT_EQ(readFile(b), "old");
}

// Where no temporary file can be made, the file is rewritten in place only
// when the old bytes are kept elsewhere; a hard link then stays shared.
TEST(RewriteFile, InPlaceOnlyWhenTheHooksKeepTheOldBytes) {
    TempDir dir;
    const std::string path = dir.write("locked/a.txt", "old text");
    fs::create_hard_link(path, dir.path() / "locked" / "b.txt");
    if (!lockDirectory(dir.path() / "locked"))
        GTEST_SKIP() << "no way to lock a directory here";
    RecordingHooks hooks;
    const std::string refused = rewrite(path, "old text", "new", &hooks);
    hooks.keeps = true;
    const std::string shorter = rewrite(path, "old text", "new", &hooks);
    const std::string longer = rewrite(path, "new", "a much longer new text", &hooks);
    const std::string linked = readFile(dir.file("locked/b.txt"));
    const int temporary = temporaryFilesIn(dir.path() / "locked");
    unlockDirectory(dir.path() / "locked");
    EXPECT_TRUE(refused.starts_with("Cannot create file \"" + path + "\". ")) << refused;
    EXPECT_EQ(shorter, "replaced");
    EXPECT_EQ(longer, "replaced");
    EXPECT_EQ(readFile(path), "a much longer new text");
    EXPECT_EQ(linked, "a much longer new text");
    EXPECT_EQ(temporary, 0);
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"before old text -> new in place", "after ok",
                                                     "before new -> a much longer new text in place", "after ok"}));
}

// Staged ahead on a worker, a rewrite is taken up at its turn, or given up
// with nothing left behind wherever only its turn may decide: another name of
// the file may come first, the file changed, or it must be rewritten in place.
TEST(RewriteFile, StagedAheadOnlyWhatItsTurnCanTakeOverUnchanged) {
    struct Case {
        const char* name;
        // After the read (or before it, by reading again); false where it
        // cannot be done here.
        std::function<bool(TempDir&, const std::string& path, FileIdentity& read)> before;
        bool staged;
    } cases[] = {
        {"plain file", [](TempDir&, const std::string&, FileIdentity&) { return true; }, true},
        {"hard-linked when read",
         [](TempDir& dir, const std::string& path, FileIdentity& read) {
             fs::create_hard_link(path, dir.file("d/b"));
             read = identityOf(path);
             return true;
         },
         false},
        {"edited", [](TempDir& dir, const std::string&, FileIdentity&) { return !dir.write("d/a.txt", "e").empty(); },
         false},
        {"deleted", [](TempDir&, const std::string& path, FileIdentity&) { return fs::remove(path); }, false},
        {"folder locked",
         [](TempDir& dir, const std::string&, FileIdentity&) { return lockDirectory(dir.path() / "d"); }, false},
    };
    for (const detail::TemporaryFiles how : kEveryWay)
        for (const Case& c : cases) {
            const TemporaryFilesMade mode(how);
            const bool named = how == detail::TemporaryFiles::Named;
            TempDir dir;
            const std::string path = dir.write("d/a.txt", "old");
            FileIdentity read = identityOf(path);
            if (!c.before(dir, path, read))
                continue;
            RewriteRequest request;
            request.Expected = &read;
            request.OldText = "old";
            const std::string_view newText[] = {"new"};
            StagedRewrite rewrite;
            const bool staged = rewrite.stageAhead(FileLocation::atPath(path), newText, request);
            const int temporary = temporaryFilesIn(dir.path() / "d");
            unlockDirectory(dir.path() / "d");
            EXPECT_EQ(staged, c.staged) << c.name;
            EXPECT_EQ(temporary, c.staged && named ? 1 : 0) << c.name << " named " << named;
            if (!staged)
                continue;
            RecordingHooks hooks;
            EXPECT_EQ(rewrite.announce(&hooks), RewriteOutcome::Staged);
            EXPECT_EQ(rewrite.finish(), RewriteOutcome::Replaced);
            EXPECT_EQ(readFile(path), "new");
            EXPECT_EQ(hooks.calls, (std::vector<std::string>{"before old -> new", "after ok"})) << c.name;
            EXPECT_EQ(temporaryFilesIn(dir.path() / "d"), 0);
        }
}

TEST(RewriteFile, PreparedInodeTakesThePlaceAsItIsOrIsCopiedWhereItCannotBeLinked) {
    TempDir dir;
    char shm[] = "/dev/shm/quillet-prepared-XXXXXX";
    const bool otherFileSystem = ::mkdtemp(shm) != nullptr && identityOf(shm).Device != identityOf(dir.path()).Device;
    const struct {
        const char* what;
        std::string keptIn;
        bool changedMeanwhile;
        const char* outcome;
        bool sameInode;
    } cases[] = {
        {"linked back", dir.file("kept"), false, "replaced", true},
        {"file changed since it was looked at", dir.file("kept"), true, "changed", false},
        {"on another file system", std::string(shm) + "/kept", false, "replaced", false},
    };
    for (const auto& c : cases) {
        if (c.keptIn.starts_with("/dev/shm") && !otherFileSystem)
            continue;
        const std::string path = dir.write("f", "new");
        fs::create_directories(fs::path(c.keptIn).parent_path());
        std::ofstream(c.keptIn) << "old bytes";
        ::chmod(c.keptIn.c_str(), 0640);
        struct timespec past[2] = {{1000, 0}, {1000, 0}};
        ::utimensat(AT_FDCWD, c.keptIn.c_str(), past, 0);
        const FileIdentity kept = identityOf(c.keptIn);
        const FileIdentity read = identityOf(path);
        if (c.changedMeanwhile)
            std::ofstream(path, std::ios::app) << " and more";

        UniqueFd keptFolder(::open(fs::path(c.keptIn).parent_path().c_str(), O_RDONLY | O_DIRECTORY));
        UniqueFd keptFd(::open(c.keptIn.c_str(), O_RDONLY));
        const CopiedContent copied{keptFd.get(), 0, kept.Size};
        const PreparedInode prepared{keptFolder.get(), "kept"};
        NewFileMetadata metadata;
        metadata.Mode = 0604;
        RewriteRequest request;
        request.Expected = &read;
        request.Copied = &copied;
        request.Prepared = &prepared;
        request.Metadata = &metadata;
        std::string outcome;
        try {
            outcome = RewriteFile(FileLocation::atPath(path), std::string_view(), request) == RewriteOutcome::Replaced
                          ? "replaced"
                          : "changed";
        } catch (const quillet::Error& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.outcome) << c.what;
        EXPECT_EQ(temporaryFilesIn(dir.path()), 0) << c.what;
        EXPECT_EQ(identityOf(path).sameInode(kept), c.sameInode) << c.what;
        if (outcome == "replaced") {
            EXPECT_EQ(readFile(path), "old bytes") << c.what;
            struct stat info {};
            ::stat(path.c_str(), &info);
            EXPECT_EQ(info.st_mode & 07777, 0604u) << c.what;
            EXPECT_GT(info.st_mtim.tv_sec, 1000) << c.what << ": a build tool must see the change";
        } else {
            // Given up: the prepared inode is as it was.
            EXPECT_EQ(identityOf(c.keptIn), kept) << c.what;
            EXPECT_EQ(readFile(path), "new and more") << c.what;
        }
        EXPECT_EQ(readFile(c.keptIn), "old bytes") << c.what << ": the prepared inode keeps its name";
        fs::remove(c.keptIn);
    }
    fs::remove_all(shm);
}

// Each row runs in a child process of its own, whose limit it may change;
// the child's exit status is the verdict. (The table's growth shows only in
// a process that starts afresh: see the command line's tests.)
TEST(DescriptorLimit, ASoftLimitIsRaisedTowardTheHardOneAndNeverLowered) {
    rlimit given{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &given), 0);
    const rlim_t raised = std::min<rlim_t>(given.rlim_max, 65536);
    // The soft limit set first, and what it is after RaiseDescriptorLimit.
    const std::pair<rlim_t, rlim_t> rows[] = {{std::min<rlim_t>(given.rlim_max, 256), raised},
                                              {given.rlim_cur, std::max(given.rlim_cur, raised)},
                                              {given.rlim_max, given.rlim_max}};
    for (const auto& [soft, after] : rows) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            rlimit set = given;
            set.rlim_cur = soft;
            rlimit now{};
            if (::setrlimit(RLIMIT_NOFILE, &set) != 0)
                ::_exit(3);
            RaiseDescriptorLimit();
            ::_exit(::getrlimit(RLIMIT_NOFILE, &now) == 0 && now.rlim_cur == after ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "soft limit " << soft;
    }
}
