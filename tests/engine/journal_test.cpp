#include "engine/keep/journal.h"
#include "engine/keep/undo.h"

#include "core/error.h"
#include "engine/fs/rewrite.h"
#include "rewrite_simulation.h"
#include "testutil/error_of.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillet::engine;
using quillet::Error;
using quillet::testutil::errorOf;
using quillet::testutil::readFile;
using quillet::testutil::RewriteShape;
using quillet::testutil::rewriteWithHooks;
using quillet::testutil::TempDir;

namespace {

mode_t modeOf(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Points $XDG_STATE_HOME and $XDG_CONFIG_HOME at fresh directories for one
// test, and holds the files the test rewrites.
class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME"}) {
            const char* value = std::getenv(name);
            m_saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        ::setenv("XDG_STATE_HOME", m_home.file("state").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", m_home.file("config").c_str(), 1);
    }
    void TearDown() override {
        // A run's folders in keep folders outlive the test's journal: gone
        // with it, so that no test leaves anything at the top of /dev/shm.
        const std::string runs = m_home.file("state") + "/quillet/runs";
        if (fs::is_directory(runs))
            for (const auto& run : fs::directory_iterator(runs))
                if (const auto manifest = fs::is_regular_file(run.path() / "manifest")
                                              ? ParseManifest(readFile(run.path() / "manifest"))
                                              : std::nullopt)
                    for (const KeepFolderRecord& folder : manifest->KeepFolders)
                        fs::remove_all(folder.Path);
        for (const auto& [name, value] : m_saved)
            value ? (void)::setenv(name.c_str(), value->c_str(), 1) : (void)::unsetenv(name.c_str());
    }

    void configure(const std::string& text) { m_home.write("config/quillet/journal.conf", text); }

    JournalOptions options(std::string description = "test run") {
        JournalOptions options = JournalOptionsFromEnvironment(std::move(description));
        options.OnNotKept = [this](std::string_view path, std::string_view reason) {
            notKept.push_back(std::string(path) + ": " + std::string(reason));
        };
        return options;
    }

    // One run that rewrites each path with its new text; returns its id.
    std::string run(const std::vector<std::pair<std::string, std::string>>& rewrites,
                    RewriteShape shape = RewriteShape::Rename, bool keepFolders = true) {
        JournalOptions journalOptions = options();
        journalOptions.KeepFoldersOnOtherFileSystems = keepFolders;
        RunJournal journal(std::move(journalOptions));
        for (const auto& [path, text] : rewrites)
            rewriteWithHooks(journal, path, text, shape);
        return journal.id();
    }

    UndoSummary undo(const std::string& id = {}, bool force = false, int threads = 0) {
        UndoRequest request;
        request.RunId = id;
        request.Force = force;
        request.Threads = threads;
        request.OnFile = [this](const UndoFileReport& report) {
            outcomes[std::string(report.ListedPath)] = {report.Outcome, std::string(report.Reason)};
        };
        outcomes.clear();
        return UndoRun(JournalPlace::fromEnvironment(), request);
    }

    TempDir m_home;
    TempDir files;
    std::vector<std::string> notKept;
    std::map<std::string, std::pair<UndoOutcome, std::string>> outcomes;

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

} // namespace

TEST(NewRunIdTest, UtcSecondThenFourHexDigitsThatDiffer) {
    const struct {
        std::int64_t ns;
        const char* prefix;
    } cases[] = {{1796653501LL * 1000000000 + 999999999, "20261207-142501-"},
                 {946684800LL * 1000000000, "20000101-000000-"}};
    for (const auto& c : cases) {
        std::set<std::string> ids;
        for (int i = 0; i < 20; ++i) {
            const std::string id = NewRunId(c.ns);
            EXPECT_TRUE(id.starts_with(c.prefix)) << id;
            EXPECT_EQ(id.size(), std::string_view(c.prefix).size() + 4) << id;
            EXPECT_EQ(id.find_first_not_of("0123456789abcdef", std::string_view(c.prefix).size()), std::string::npos)
                << id;
            ids.insert(id);
        }
        EXPECT_GT(ids.size(), 10u) << c.prefix;
    }
}

// An id drawn twice (within one second, by chance or by a coarse clock)
// while the run that first had it was being pruned out of sight: the new
// run took it, and the pruning deleted the new run's kept files.
TEST(MakeRunFolderTest, NeverTakesTheIdOfARunBeingPruned) {
    const std::string id = "20261209-191902-b916";
    const struct {
        const char* name;
        const char* present; // in the runs folder before
        bool made;
    } cases[] = {{"free", nullptr, true},
                 {"a run has it", "20261209-191902-b916", false},
                 {"a run being pruned has it", ".pruning-20261209-191902-b916", false},
                 {"another id is being pruned", ".pruning-20261209-191902-b917", true}};
    for (const auto& c : cases) {
        TempDir runs;
        if (c.present != nullptr) {
            ASSERT_EQ(::mkdir(runs.file(c.present).c_str(), 0700), 0) << c.name;
        }
        const UniqueFd fd(::open(runs.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const bool made = detail::MakeRunFolder(fd.get(), id);
        const int error = errno;
        EXPECT_EQ(made, c.made) << c.name;
        EXPECT_TRUE(made || error == EEXIST) << c.name << ": " << error;
        EXPECT_EQ(fs::is_directory(runs.file(id)), c.made || c.present == id) << c.name;
    }
}

TEST_F(JournalTest, UndoRestoresEveryFileByteForByteWithItsMode) {
    struct Case {
        const char* name;
        std::string old;
        mode_t mode;
    };
    const Case cases[] = {
        {"empty", "", 0644},
        {"binary", std::string("a\0b\r\n\xff", 6), 0600},
        {"script", "#!/bin/sh\necho old\n", 0755},
        {"large", std::string(3 << 20, 'x') + "end", 0640},
    };
    std::vector<std::pair<std::string, std::string>> rewrites;
    for (const Case& c : cases) {
        const std::string path = files.write(c.name, c.old);
        ::chmod(path.c_str(), c.mode);
        rewrites.emplace_back(path, std::string("new content of ") + c.name);
    }
    const std::string id = run(rewrites);
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(modeOf(JournalPlace::fromEnvironment().RunsDirectory + "/" + id), 0700u);
    for (const auto& [path, text] : rewrites)
        ASSERT_EQ(readFile(path), text) << path;

    const std::vector<RunSummary> runs = ListRuns(JournalPlace::fromEnvironment());
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Id, id);
    EXPECT_EQ(runs[0].Files, std::size(cases));
    EXPECT_EQ(runs[0].Description, "test run");
    EXPECT_EQ(runs[0].State, RunState::Finished);

    const UndoSummary summary = undo();
    EXPECT_EQ(summary.RunId, id);
    EXPECT_EQ(summary.Restored, std::size(cases));
    EXPECT_TRUE(summary.Complete);
    for (const Case& c : cases) {
        const std::string path = files.file(c.name);
        EXPECT_EQ(readFile(path), c.old) << c.name;
        EXPECT_EQ(modeOf(path), c.mode) << c.name;
        EXPECT_EQ(outcomes[path].first, UndoOutcome::Restored) << c.name << ": " << outcomes[path].second;
    }
    EXPECT_EQ(ListRuns(JournalPlace::fromEnvironment())[0].State, RunState::Undone);
}

TEST_F(JournalTest, HostileNamesRoundTripThroughTheManifest) {
    const std::string names[] = {"new\nline", "\xff\xfe-invalid-utf8", std::string(255, 'L'),
                                 "-dash",     "back\\slash x41",       " "};
    std::vector<std::pair<std::string, std::string>> rewrites;
    for (const std::string& name : names)
        rewrites.emplace_back(files.write(name, "old " + name), "new");
    run(rewrites);
    EXPECT_TRUE(undo().Complete);
    for (const std::string& name : names) {
        EXPECT_EQ(readFile(files.file(name)), "old " + name) << name;
        EXPECT_EQ(outcomes[files.file(name)].first, UndoOutcome::Restored) << name;
    }
}

TEST_F(JournalTest, FileChangedAfterTheRunIsLeftAloneUnlessForced) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> change;
        const char* reason;
    };
    const Case cases[] = {
        {"appended", [](const std::string& p) { std::ofstream(p, std::ios::app) << "more"; },
         "it changed since the run"},
        {"saved-anew", [](const std::string& p) { fs::remove(p), std::ofstream(p) << "new"; },
         "it changed since the run"},
        {"removed", [](const std::string& p) { fs::remove(p); }, "it no longer exists"},
        {"now-a-link", [](const std::string& p) { fs::remove(p), fs::create_symlink("/dev/null", p); },
         "it is no longer a regular file"},
    };
    std::vector<std::pair<std::string, std::string>> rewrites = {{files.write("untouched", "old"), "new"}};
    for (const Case& c : cases)
        rewrites.emplace_back(files.write(c.name, std::string("old ") + c.name), "new");
    const std::string id = run(rewrites);
    for (const Case& c : cases)
        c.change(files.file(c.name));

    UndoSummary summary = undo();
    EXPECT_FALSE(summary.Complete);
    EXPECT_EQ(summary.Restored, 1u);
    EXPECT_EQ(summary.LeftAlone, std::size(cases));
    for (const Case& c : cases) {
        EXPECT_EQ(outcomes[files.file(c.name)], std::make_pair(UndoOutcome::LeftAlone, std::string(c.reason)))
            << c.name;
        EXPECT_FALSE(fs::is_regular_file(files.file(c.name)) &&
                     readFile(files.file(c.name)) == "old " + std::string(c.name))
            << c.name;
    }
    EXPECT_EQ(ListRuns(JournalPlace::fromEnvironment())[0].State, RunState::PartlyUndone);

    // Trying again touches only what is left; forcing restores it.
    summary = undo(id);
    EXPECT_EQ(summary.LeftAlone, std::size(cases));
    EXPECT_EQ(outcomes.count(files.file("untouched")), 0u);
    summary = undo(id, true);
    EXPECT_TRUE(summary.Complete);
    EXPECT_EQ(summary.Restored, std::size(cases));
    for (const Case& c : cases) {
        EXPECT_EQ(readFile(files.file(c.name)), std::string("old ") + c.name) << c.name;
        EXPECT_FALSE(fs::is_symlink(files.file(c.name))) << c.name;
    }
}

TEST_F(JournalTest, UndoRefusesTwiceAndUnknownRuns) {
    EXPECT_EQ(errorOf([&] { undo(); }), "No run to undo: the journal is empty");
    const std::string id = run({{files.write("a", "old"), "new"}});
    EXPECT_EQ(errorOf([&] { undo("20000101-000000-0000"); }), "No run 20000101-000000-0000 in the journal");
    EXPECT_EQ(errorOf([&] { undo("../a"); }), "No run ../a in the journal");
    undo();
    EXPECT_EQ(errorOf([&] { undo(); }), "Run " + id + " was already undone");
    EXPECT_EQ(errorOf([&] { undo(id, true); }), "Run " + id + " was already undone");
    EXPECT_EQ(readFile(files.file("a")), "old");
}

TEST_F(JournalTest, RunThatWritesNothingLeavesNoRun) {
    { RunJournal journal(options()); }
    EXPECT_TRUE(ListRuns(JournalPlace::fromEnvironment()).empty());
}

TEST_F(JournalTest, OldestRunsArePrunedByCount) {
    configure("max-runs = 3\n");
    const std::string path = files.write("f", "0");
    std::vector<std::string> ids;
    for (int i = 1; i <= 5; ++i)
        ids.push_back(run({{path, std::to_string(i)}}));
    std::vector<std::string> listed;
    for (const RunSummary& summary : ListRuns(JournalPlace::fromEnvironment()))
        listed.push_back(summary.Id);
    EXPECT_EQ(listed, (std::vector<std::string>{ids[4], ids[3], ids[2]}));
}

TEST_F(JournalTest, OldestRunsArePrunedByBytes) {
    configure("max-bytes = 1K\n");
    const std::string path = files.write("f", std::string(400, '0'));
    std::vector<std::string> ids;
    for (char c = '1'; c <= '5'; ++c)
        ids.push_back(run({{path, std::string(400, c)}}));
    std::vector<std::string> listed;
    std::int64_t bytes = 0;
    for (const RunSummary& summary : ListRuns(JournalPlace::fromEnvironment())) {
        listed.push_back(summary.Id);
        bytes += summary.Bytes;
    }
    EXPECT_EQ(listed, (std::vector<std::string>{ids[4], ids[3]}));
    EXPECT_EQ(bytes, 800);
    EXPECT_TRUE(notKept.empty());
}

TEST_F(JournalTest, FileBeyondTheCapIsReportedAndUndoSaysSo) {
    configure("max-bytes = 1K\n");
    const std::string first = files.write("first", std::string(600, 'a'));
    const std::string second = files.write("second", std::string(600, 'b'));
    run({{first, "1"}, {second, "2"}});
    EXPECT_EQ(readFile(second), "2");
    const std::string reason = "it does not fit within the journal's limit of 1K (max-bytes)";
    EXPECT_EQ(notKept, std::vector<std::string>{second + ": " + reason});
    EXPECT_EQ(ListRuns(JournalPlace::fromEnvironment())[0].NotKept, 1u);

    const UndoSummary summary = undo();
    EXPECT_EQ(outcomes[second], std::make_pair(UndoOutcome::NotKept, "not kept by the journal: " + reason));
    EXPECT_EQ(outcomes[first].first, UndoOutcome::Restored);
    EXPECT_EQ(readFile(first), std::string(600, 'a'));
    EXPECT_EQ(readFile(second), "2");
    EXPECT_TRUE(summary.Complete);
}

TEST_F(JournalTest, RewriteInPlaceIsRefusedWhenTheJournalCannotKeepIt) {
    configure("max-bytes = 10\n");
    const std::string path = files.write("f", "more than ten bytes");
    RunJournal journal(options());
    EXPECT_EQ(errorOf([&] { rewriteWithHooks(journal, path, "new", RewriteShape::InPlace); }),
              "Cannot rewrite \"" + path +
                  "\" in place: the journal could not keep its old content (it does not fit within the journal's "
                  "limit of 10 bytes (max-bytes))");
    EXPECT_EQ(readFile(path), "more than ten bytes");
}

TEST_F(JournalTest, FileWithOtherHardLinksIsKeptAsACopy) {
    const std::string path = files.write("f", "old");
    const std::string other = files.file("other-name");
    fs::create_hard_link(path, other);
    run({{path, "new"}});
    // Writing through the other name changes the old inode; the journal's
    // copy must not follow it.
    std::ofstream(other, std::ios::trunc) << "changed through the other name";
    undo();
    EXPECT_EQ(readFile(path), "old");
}

namespace {

// Runs `rewrites` with a journal in a child process that SIGKILLs itself
// during the last one.
void runAndGetKilled(const JournalOptions& options, const std::vector<std::pair<std::string, std::string>>& rewrites,
                     RewriteShape lastShape) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            RunJournal journal(options);
            for (std::size_t i = 0; i < rewrites.size(); ++i)
                rewriteWithHooks(journal, rewrites[i].first, rewrites[i].second,
                                 i + 1 == rewrites.size() ? lastShape : RewriteShape::Rename);
        } catch (...) {
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
}

} // namespace

// The journal keeps the inode the run holds open and checked, not whatever
// the file's name stands for by the time it keeps it (an editor that saves by
// renaming the old file aside and writing a new one); a file removed since
// keeps the bytes the run read.
TEST_F(JournalTest, KeptOldBytesAreThoseOfTheInodeTheRunReadWhateverItsNameBecame) {
    const struct {
        const char* name;
        std::function<void(const std::string& path)> meanwhile;
        KeptAs kept;
    } cases[] = {
        {"name untouched", [](const std::string&) {}, KeptAs::Link},
        {"renamed aside, another file took the name",
         [](const std::string& path) {
             fs::rename(path, path + "~");
             std::ofstream(path) << "someone else's";
         },
         KeptAs::Link},
        {"removed", [](const std::string& path) { fs::remove(path); }, KeptAs::Packed},
        {"replaced by another file", [this](const std::string& path) { fs::rename(files.write("other", "x"), path); },
         KeptAs::Packed},
    };
    for (const auto& c : cases) {
        const std::string path = files.write("f", "old bytes");
        const UniqueFd directory(::open(files.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const UniqueFd old(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        const UniqueFd fresh(::openat(directory.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        struct stat read {};
        ASSERT_EQ(::fstat(old.get(), &read), 0) << c.name;
        ASSERT_TRUE(fresh.valid()) << c.name;
        c.meanwhile(path);

        RunJournal journal(options());
        ReplaceContext context;
        context.DirectoryFd = directory.get();
        context.Name = "f";
        context.ListedPath = path;
        context.OldFd = old.get();
        context.Old = FileIdentity::of(read);
        context.OldStatus = &read;
        context.OldText = "old bytes";
        context.NewFd = fresh.get();
        journal.beforeReplace(context);
        journal.makeDurable();
        journal.afterReplace(context, context.Old);
        journal.finish();

        const std::string run = JournalPlace::fromEnvironment().RunsDirectory + "/" + journal.id();
        const auto manifest = ParseManifest(readFile(run + "/manifest"));
        ASSERT_TRUE(manifest && manifest->Entries.size() == 1) << c.name;
        EXPECT_EQ(manifest->Entries[0].Kept, c.kept) << c.name;
        if (c.kept == KeptAs::Link) {
            struct stat kept {};
            EXPECT_EQ(::stat((run + "/1").c_str(), &kept), 0) << c.name;
            EXPECT_EQ(kept.st_ino, read.st_ino) << c.name;
            EXPECT_EQ(readFile(run + "/1"), "old bytes") << c.name;
        } else {
            EXPECT_EQ(readFile(run + "/pack").substr(static_cast<std::size_t>(manifest->Entries[0].PackOffset)),
                      "old bytes")
                << c.name;
        }
        fs::remove(path);
        fs::remove(path + "~");
    }
}

TEST_F(JournalTest, RunKilledRightAfterARenameCanBeUndone) {
    // On tmpfs the records are not flushed, yet written before any rename.
    char shm[] = "/dev/shm/quillet-tree-XXXXXX";
    std::vector<std::string> places{files.path()};
    if (::mkdtemp(shm) != nullptr)
        places.push_back(shm);
    for (const std::string& place : places) {
        const std::string a = place + "/a";
        const std::string b = place + "/b";
        std::ofstream(a) << "old a";
        std::ofstream(b) << "old b";
        runAndGetKilled(options(), {{a, "new a"}, {b, "new b"}}, RewriteShape::KilledAfterRename);
        ASSERT_EQ(readFile(b), "new b") << place;
        const std::vector<RunSummary> runs = ListRuns(JournalPlace::fromEnvironment());
        ASSERT_FALSE(runs.empty()) << place;
        EXPECT_EQ(runs[0].State, RunState::Interrupted) << place;
        EXPECT_EQ(undo().Restored, 2u) << place;
        EXPECT_EQ(readFile(a), "old a") << place;
        EXPECT_EQ(readFile(b), "old b") << place;
    }
    if (places.size() > 1)
        fs::remove_all(shm);
}

TEST_F(JournalTest, UndoRemovesTheNewContentARunKilledBeforeItsRenameLeftBeside) {
    const std::string path = files.write("f", "old");
    const std::string other = files.write(".quillet-other", "another run's file");
    runAndGetKilled(options(), {{path, "new"}}, RewriteShape::KilledBeforeRename);
    auto hidden = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(files.path()))
            names.insert(entry.path().filename().string());
        return names;
    };
    ASSERT_EQ(hidden().size(), 3u) << "the new content waits in a temporary file";
    EXPECT_EQ(undo().AlreadyOld, 1u);
    EXPECT_EQ(hidden(), (std::set<std::string>{"f", ".quillet-other"}));
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(readFile(other), "another run's file");
}

TEST_F(JournalTest, RewriteInPlaceKilledHalfwayCanBeUndone) {
    const std::string path = files.write("f", "the old content, long enough");
    runAndGetKilled(options(), {{path, "the new content, just as long"}}, RewriteShape::KilledHalfwayInPlace);
    ASSERT_NE(readFile(path), "the old content, long enough");
    EXPECT_EQ(undo().Restored, 1u);
    EXPECT_EQ(readFile(path), "the old content, long enough");
}

namespace {

// Bytes that differ from one offset to the next, so that a stretch kept from
// the wrong place or cut short shows.
std::string varied(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 23) % 26);
    return bytes;
}

} // namespace

TEST_F(JournalTest, JournalOnAnotherFileSystemPacksSmallFilesAndCopiesLargeOnes) {
    struct stat shm {
    }, tmp{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(files.path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "/dev/shm is not another file system here";
    char state[] = "/dev/shm/quillet-journal-XXXXXX";
    ASSERT_NE(::mkdtemp(state), nullptr);
    ::setenv("XDG_STATE_HOME", state, 1);
    const struct {
        std::string name;
        std::string old;
        KeptAs kept;
    } cases[] = {
        {"small", "old bytes", KeptAs::Packed},
        {"empty", "", KeptAs::Packed},
        {"second small", "more old bytes", KeptAs::Packed},
        {"large", varied(static_cast<std::size_t>(kPackUpTo) + 1), KeptAs::Copy},
    };
    std::vector<std::pair<std::string, std::string>> rewrites;
    for (const auto& c : cases) {
        rewrites.emplace_back(files.write(c.name, c.old), "new");
        ::chmod(rewrites.back().first.c_str(), 0604);
    }
    // The copies that stand in where no keep folder can be used (here, it
    // would be one at the top of the tests' own file system).
    const std::string id = run(rewrites, RewriteShape::Rename, false);
    const auto manifest = ParseManifest(readFile(std::string(state) + "/quillet/runs/" + id + "/manifest"));
    const UndoSummary summary = undo();
    fs::remove_all(state);
    ASSERT_TRUE(manifest);
    EXPECT_EQ(summary.Restored, std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(manifest->Entries.at(i).Kept, cases[i].kept) << cases[i].name;
        EXPECT_EQ(readFile(rewrites[i].first), cases[i].old) << cases[i].name;
        EXPECT_EQ(modeOf(rewrites[i].first), 0604u) << cases[i].name;
    }
}

TEST_F(JournalTest, RunStillGoingIsNeitherUndoneNorPruned) {
    configure("max-runs = 1\n");
    const std::string path = files.write("f", "old");
    RunJournal going(options("going"));
    rewriteWithHooks(going, path, "new");
    EXPECT_EQ(errorOf([&] { undo(going.id()); }), "Run " + going.id() + " is still going, or being undone");
    const std::string later = run({{files.write("g", "old g"), "new g"}});

    const std::vector<RunSummary> runs = ListRuns(JournalPlace::fromEnvironment());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].Id, going.id());
    EXPECT_EQ(runs[1].State, RunState::Running);
    going.finish();
    EXPECT_EQ(ListRuns(JournalPlace::fromEnvironment())[1].State, RunState::Finished);
    EXPECT_EQ(undo(going.id()).Restored, 1u);
    EXPECT_EQ(readFile(path), "old");
}

TEST_F(JournalTest, RestoredFileSharesNoInodeWithTheJournal) {
    const std::string path = files.write("f", "old");
    const std::string id = run({{path, "new"}});
    EXPECT_EQ(undo().Restored, 1u);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_nlink, 1u) << "a write to the file would change what the journal keeps";
    EXPECT_FALSE(fs::exists(JournalPlace::fromEnvironment().RunsDirectory + "/" + id + "/1"));
    EXPECT_EQ(readFile(path), "old");
}

TEST_F(JournalTest, FilePutBackByHandNeedsNoRestore) {
    const std::string path = files.write("f", "old");
    run({{path, "new"}});
    fs::remove(path);
    files.write("f", "old");
    const UndoSummary summary = undo();
    EXPECT_EQ(summary.AlreadyOld, 1u);
    EXPECT_TRUE(summary.Complete);
}

TEST_F(JournalTest, RestoredFileHasAFreshModificationTime) {
    const std::string path = files.write("f", "old");
    const timespec longAgo[2] = {{946684800, 0}, {946684800, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), longAgo, 0);
    run({{path, "new"}});
    undo();
    struct stat info {};
    ::stat(path.c_str(), &info);
    EXPECT_EQ(readFile(path), "old");
    EXPECT_GT(info.st_mtim.tv_sec, 946684800 + 86400);
}

TEST_F(JournalTest, UndoRewritesInPlaceWhereTheDirectoryIsNotWritable) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes any directory";
    const std::string path = files.write("locked/f", "old content");
    ::chmod(files.file("locked").c_str(), 0555);
    run({{path, "new"}}, RewriteShape::InPlace);
    ASSERT_EQ(readFile(path), "new");
    EXPECT_EQ(undo().Restored, 1u);
    EXPECT_EQ(readFile(path), "old content");
}

TEST_F(JournalTest, SymlinkListedInTheRunStaysASymlink) {
    const std::string target = files.write("real/f", "old");
    const std::string link = files.file("elsewhere/link");
    fs::create_directories(files.file("elsewhere"));
    fs::create_symlink(target, link);
    {
        RunJournal journal(options());
        rewriteWithHooks(journal, target, "new", RewriteShape::Rename, link);
    }
    EXPECT_EQ(undo().Restored, 1u);
    EXPECT_EQ(outcomes.count(link), 1u);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(fs::directory_iterator(files.file("elsewhere"))->path().filename(), "link");
}

TEST_F(JournalTest, JournalTellsItsOwnDirectoryForAWalkToSkip) {
    const JournalPlace place = JournalPlace::fromEnvironment();
    for (const bool existedBefore : {false, true}) {
        RunJournal journal(options());
        rewriteWithHooks(journal, files.write("f", "old"), "new");
        struct stat runs {
        }, other{};
        ASSERT_EQ(::stat(place.RunsDirectory.c_str(), &runs), 0);
        ::stat(files.path().c_str(), &other);
        EXPECT_TRUE(journal.isJournalDirectory(runs.st_dev, runs.st_ino)) << "existed before: " << existedBefore;
        EXPECT_FALSE(journal.isJournalDirectory(other.st_dev, other.st_ino)) << "existed before: " << existedBefore;
    }
}

TEST_F(JournalTest, FileRewrittenTwiceInOneRunGetsItsFirstContentBack) {
    const std::string path = files.write("f", "first");
    const std::string other = files.write("g", "other");
    run({{path, "second"}, {other, "other changed"}, {path, "third"}});
    const UndoSummary summary = undo();
    EXPECT_EQ(summary.Restored, 3u);
    EXPECT_TRUE(summary.Complete);
    EXPECT_EQ(readFile(path), "first");
    EXPECT_EQ(readFile(other), "other");
}

// Undo of a large run on the disk took three flushes per file (the kept
// inode, itself again once in place, its folder): it now puts a batch back
// as a run does, sharing them; and a batch of 32 shared between two threads
// flushed twice as often as a run.
TEST_F(JournalTest, UndoOfALargeRunSharesItsFlushesAmongEachBatch) {
    const int batchSize = StagedRewritesAllowed(kUndoBatch);
    const int kFiles = 2 * batchSize + kMaxStagedRewrites;
    const int kBatches = (kFiles + batchSize - 1) / batchSize;
    // Whatever else the machine has unwritten, which makes a flush of the
    // whole file system cost more than one per folder.
    struct QuietSystem {
        QuietSystem() {
            detail::g_unwrittenBytes = [] { return std::int64_t{0}; };
        }
        ~QuietSystem() { detail::g_unwrittenBytes = nullptr; }
        QuietSystem(const QuietSystem&) = delete;
        QuietSystem& operator=(const QuietSystem&) = delete;
    } const quiet;
    // Each thread puts its stretch of a batch in place together.
    for (const auto& [folders, threads] : {std::pair{1, 1}, {8, 1}, {1, 2}, {8, 4}}) {
        const UniqueFd top(::open(files.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (OnVolatileFileSystem(top.get()))
            GTEST_SKIP() << "nothing is flushed on a file system that a restart empties";
        std::vector<std::pair<std::string, std::string>> rewrites;
        for (int i = 0; i < kFiles; ++i)
            rewrites.emplace_back(files.write(std::to_string(folders) + "-" + std::to_string(threads) + "/d" +
                                                  std::to_string(i % folders) + "/f" + std::to_string(i),
                                              "old " + std::to_string(i)),
                                  "new");
        run(rewrites);
        const detail::FlushCounts before = detail::FlushesMade();
        const UndoSummary summary = undo({}, false, threads);
        const detail::FlushCounts after = detail::FlushesMade();
        EXPECT_EQ(summary.Restored, static_cast<std::size_t>(kFiles)) << folders << " folders";
        EXPECT_TRUE(summary.Complete) << folders << " folders";
        for (int i = 0; i < kFiles; ++i)
            ASSERT_EQ(readFile(rewrites[static_cast<std::size_t>(i)].first), "old " + std::to_string(i))
                << folders << " folders";
        EXPECT_EQ(after.Files - before.Files, 0) << folders << " folders";
        EXPECT_EQ(after.Directories - before.Directories, 0) << folders << " folders";
        EXPECT_LE(after.FileSystems - before.FileSystems, 2 * kBatches * threads)
            << folders << " folders, " << threads << " threads";
    }
}

TEST_F(JournalTest, PackCutShortFailsOnlyTheFilesWhoseBytesItLost) {
    // Files with another name are packed whatever the file system.
    std::vector<std::pair<std::string, std::string>> rewrites;
    for (const char* name : {"first", "second"}) {
        rewrites.emplace_back(files.write(name, std::string("old ") + name), "new");
        fs::create_hard_link(rewrites.back().first, files.file(std::string(name) + "-link"));
    }
    const std::string id = run(rewrites);
    fs::resize_file(JournalPlace::fromEnvironment().RunsDirectory + "/" + id + "/pack", 9);
    const UndoSummary summary = undo();
    EXPECT_EQ(readFile(rewrites[0].first), "old first");
    EXPECT_EQ(readFile(rewrites[1].first), "new");
    EXPECT_EQ(outcomes[rewrites[1].first],
              std::make_pair(UndoOutcome::Failed, "Cannot restore \"" + rewrites[1].first +
                                                      "\". The journal's copy of it changed since the run"));
    EXPECT_FALSE(summary.Complete);
}

TEST_F(JournalTest, KeptFileLostFromTheJournalFailsThatFileOnly) {
    const std::string lost = files.write("lost", "old lost");
    const std::string kept = files.write("kept", "old kept");
    const std::string id = run({{lost, "new"}, {kept, "new"}});
    fs::remove(JournalPlace::fromEnvironment().RunsDirectory + "/" + id + "/1");
    const UndoSummary summary = undo();
    EXPECT_EQ(outcomes[lost], std::make_pair(UndoOutcome::Failed,
                                             "Cannot restore \"" + lost +
                                                 "\". The journal no longer holds its old content: No such file or "
                                                 "directory"));
    EXPECT_EQ(summary.Failed, 1u);
    EXPECT_FALSE(summary.Complete);
    EXPECT_EQ(readFile(lost), "new");
    EXPECT_EQ(readFile(kept), "old kept");
}

// What another user (or a careless hand) can leave in a journal: each
// makes listing, undo and a new run refuse the journal with the path and the
// reason, before any file is touched. A FIFO hung all three until now: the
// alarm turns a hang into a failure.
TEST_F(JournalTest, JournalThatIsNotTheUsersOwnIsRefusedAndNothingIsTouched) {
    const bool root = ::geteuid() == 0;
    const struct {
        const char* what;
        const char* path; // under the state folder; "<run>" is the run's id
        const char* reason;
        bool needsRoot;
        void (*tamper)(const std::string& path);
    } cases[] = {
        {"runs folder of another user", "quillet/runs", "it belongs to another user", true,
         [](const std::string& p) { ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0); }},
        {"quillet folder others may write", "quillet", "others have access to it (mode 0777", false,
         [](const std::string& p) { ASSERT_EQ(::chmod(p.c_str(), 0777), 0); }},
        {"run folder of another user", "quillet/runs/<run>", "it belongs to another user", true,
         [](const std::string& p) { ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0); }},
        {"manifest of another user", "quillet/runs/<run>/manifest", "it belongs to another user", true,
         [](const std::string& p) { ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0); }},
        {"manifest others may read", "quillet/runs/<run>/manifest", "others have access to it (mode 0644", false,
         [](const std::string& p) { ASSERT_EQ(::chmod(p.c_str(), 0644), 0); }},
        {"runs folder a symlink", "quillet/runs", "it is a symbolic link", false,
         [](const std::string& p) {
             fs::rename(p, p + "-real");
             fs::create_directory_symlink(p + "-real", p);
         }},
        {"manifest a FIFO", "quillet/runs/<run>/manifest", "it is not a regular file", false,
         [](const std::string& p) {
             fs::remove(p);
             ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
         }},
    };
    for (const auto& c : cases) {
        if (c.needsRoot && !root)
            continue;
        fs::remove_all(m_home.file("state"));
        const std::string file = files.write("f.txt", "old");
        const std::string id = run({{file, "new"}});
        std::string path = m_home.file("state/") + c.path;
        if (const auto at = path.find("<run>"); at != std::string::npos)
            path.replace(at, 5, id);
        c.tamper(path);
        const std::string expected = "The run journal \"" + path + "\" is not safe to use: " + c.reason;
        ::alarm(20);
        const JournalPlace place = JournalPlace::fromEnvironment();
        EXPECT_TRUE(errorOf([&] { ListRuns(place); }).starts_with(expected)) << c.what;
        EXPECT_TRUE(errorOf([&] { undo(); }).starts_with(expected)) << c.what;
        EXPECT_TRUE(errorOf([&] { undo(id); }).starts_with(expected)) << c.what;
        EXPECT_TRUE(errorOf([&] { JournalOptionsFromEnvironment("next"); }).starts_with(expected)) << c.what;
        ::alarm(0);
        EXPECT_EQ(readFile(file), "new") << c.what;
    }
}

// A manifest cut after its first file's lines, as a lost write leaves it:
// undo gave the first file back, said the run was undone, and left the
// others changed.
TEST_F(JournalTest, ManifestCutShortIsNotMarkedUndoneWhileFilesStayChanged) {
    std::vector<std::pair<std::string, std::string>> rewrites;
    for (const char* name : {"a", "b", "c"})
        rewrites.emplace_back(files.write(name, std::string("old ") + name), "new");
    const std::string id = run(rewrites);
    const std::string manifest = JournalPlace::fromEnvironment().RunsDirectory + "/" + id + "/manifest";
    std::string text = readFile(manifest);
    text.resize(text.find("\nold 2 ") + 1);
    std::ofstream(manifest, std::ios::trunc) << text;

    UndoSummary summary = undo();
    EXPECT_EQ(readFile(rewrites[0].first), "old a");
    EXPECT_TRUE(summary.RecordIncomplete);
    EXPECT_FALSE(summary.Complete);
    EXPECT_NE(ListRuns(JournalPlace::fromEnvironment())[0].State, RunState::Undone);
}

TEST_F(JournalTest, DamagedEntryIsRefusedAndTheOthersAreRestored) {
    const std::string edited = files.write("edited", "old edited");
    const std::string other = files.write("other", "old other");
    const std::string id = run({{edited, "new"}, {other, "new"}});
    const std::string manifest = JournalPlace::fromEnvironment().RunsDirectory + "/" + id + "/manifest";
    std::string text = readFile(manifest);
    // The first entry's name, edited to lead out of its folder.
    const std::string name = " edited ";
    text.replace(text.find(name), name.size(), " ..\\x2fedited ");
    std::ofstream(manifest, std::ios::trunc) << text;

    const UndoSummary summary = undo();
    EXPECT_EQ(outcomes[edited],
              std::make_pair(UndoOutcome::Failed, std::string("The run journal's record of it is damaged")));
    EXPECT_EQ(readFile(edited), "new");
    EXPECT_EQ(readFile(other), "old other");
    EXPECT_FALSE(fs::exists(files.path().parent_path() / "edited"));
    EXPECT_FALSE(summary.Complete);
}

// A FIFO in place of the pack or of a kept file hung undo; now only the
// files whose old bytes were there fail, without waiting.
TEST_F(JournalTest, KeptBytesReplacedByAFifoFailOnlyTheirFileWithoutWaiting) {
    for (const bool packed : {true, false}) {
        fs::remove_all(m_home.file("state"));
        const std::string file = files.write("f", "old");
        // A file with another name is packed; one without is linked.
        if (packed)
            fs::create_hard_link(file, files.file("f-link"));
        const std::string id = run({{file, "new"}});
        const std::string kept = JournalPlace::fromEnvironment().RunsDirectory + "/" + id + (packed ? "/pack" : "/1");
        fs::remove(kept);
        ASSERT_EQ(::mkfifo(kept.c_str(), 0600), 0);
        ::alarm(20);
        const UndoSummary summary = undo();
        ::alarm(0);
        EXPECT_EQ(outcomes[file],
                  std::make_pair(UndoOutcome::Failed, "Cannot restore \"" + file +
                                                          "\". The journal's copy of it is not safe to use: it is not "
                                                          "a regular file"))
            << packed;
        EXPECT_FALSE(summary.Complete) << packed;
        EXPECT_EQ(readFile(file), "new") << packed;
        fs::remove(files.file("f-link"));
    }
}

namespace {

// A folder on /dev/shm, another file system than the tests' journal's, for
// the files of a run; skips the test where /dev/shm is not one.
class KeepFolderTest : public JournalTest {
protected:
    void SetUp() override {
        JournalTest::SetUp();
        struct stat shm {
        }, state{};
        char tree[] = "/dev/shm/quillet-tree-XXXXXX";
        if (::stat("/dev/shm", &shm) != 0 || ::stat(m_home.path().c_str(), &state) != 0 || shm.st_dev == state.st_dev ||
            ::mkdtemp(tree) == nullptr)
            GTEST_SKIP() << "/dev/shm is not another file system here";
        m_tree = tree;
    }
    void TearDown() override {
        if (!m_tree.empty())
            fs::remove_all(m_tree);
        JournalTest::TearDown();
    }
    std::string write(const std::string& name, const std::string& content) {
        std::ofstream(m_tree + "/" + name, std::ios::binary) << content;
        return m_tree + "/" + name;
    }
    RunManifest manifestOf(const std::string& id) {
        auto manifest = ParseManifest(readFile(JournalPlace::fromEnvironment().RunsDirectory + "/" + id + "/manifest"));
        return manifest ? *manifest : RunManifest();
    }

    std::string m_tree;
};

} // namespace

TEST_F(KeepFolderTest, OldInodesAreLinkedAtTheTopOfTheirFileSystemAndUndoneByteForByte) {
    const struct {
        const char* name;
        std::string old;
        mode_t mode;
    } cases[] = {
        {"empty", "", 0644},
        {"small", std::string("a\0b\r\n\xff", 6), 0600},
        {"large", varied(static_cast<std::size_t>(kPackUpTo) + 7), 0755},
    };
    std::vector<std::pair<std::string, std::string>> rewrites;
    for (const auto& c : cases) {
        rewrites.emplace_back(write(c.name, c.old), "new");
        ::chmod(rewrites.back().first.c_str(), c.mode);
    }
    const std::string id = run(rewrites);
    const RunManifest manifest = manifestOf(id);
    const std::string keep = "/dev/shm/" + KeepFolderName();
    ASSERT_EQ(manifest.KeepFolders.size(), 1u);
    EXPECT_EQ(manifest.KeepFolders[0].Path, keep + "/" + id);
    EXPECT_EQ(modeOf(keep), 0700u);
    EXPECT_EQ(modeOf(keep + "/" + id), 0700u);
    // Nothing of the old bytes went to the journal's own file system.
    EXPECT_EQ(fs::directory_iterator(JournalPlace::fromEnvironment().RunsDirectory + "/" + id)->path().filename(),
              "manifest");
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(manifest.Entries.at(i).Kept, KeptAs::Link) << cases[i].name;
        EXPECT_EQ(manifest.Entries.at(i).KeptIn, 1u) << cases[i].name;
        EXPECT_EQ(readFile(keep + "/" + id + "/" + std::to_string(i + 1)), cases[i].old) << cases[i].name;
    }
    EXPECT_EQ(ListRuns(JournalPlace::fromEnvironment())[0].Bytes, static_cast<std::int64_t>(kPackUpTo + 7 + 6));

    const UndoSummary summary = undo();
    EXPECT_EQ(summary.Restored, std::size(cases));
    EXPECT_TRUE(summary.Complete);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(readFile(rewrites[i].first), cases[i].old) << cases[i].name;
        EXPECT_EQ(modeOf(rewrites[i].first), cases[i].mode) << cases[i].name;
        EXPECT_EQ(fs::hard_link_count(rewrites[i].first), 1u) << cases[i].name << ": the journal let go of it";
    }
    EXPECT_TRUE(fs::is_empty(keep + "/" + id));
}

TEST_F(KeepFolderTest, PruningRemovesTheRunsFolderInTheKeepFolder) {
    configure("max-runs = 1\n");
    const std::string path = write("f", "old");
    const std::string first = run({{path, "one"}});
    const std::string keep = "/dev/shm/" + KeepFolderName() + "/";
    ASSERT_TRUE(fs::exists(keep + first + "/1"));
    const std::string second = run({{path, "two"}});
    EXPECT_FALSE(fs::exists(keep + first)) << "pruned with its run";
    EXPECT_TRUE(fs::exists(keep + second + "/1"));
    ASSERT_EQ(ListRuns(JournalPlace::fromEnvironment()).size(), 1u);
}

TEST_F(KeepFolderTest, DroppedRunIsOutOfSightAtOnceAndAPruningCutShortIsTakenUpByTheNextRun) {
    configure("max-runs = 1\n");
    const std::string runs = JournalPlace::fromEnvironment().RunsDirectory + "/";
    const std::string keep = "/dev/shm/" + KeepFolderName() + "/";
    const std::string path = write("f", "old");
    const std::string dropped = run({{path, "one"}});
    {
        RunJournal going(options("going"));
        rewriteWithHooks(going, path, "two");
        const std::vector<RunSummary> listed = ListRuns(JournalPlace::fromEnvironment());
        ASSERT_EQ(listed.size(), 1u) << "never listed while its files are removed";
        EXPECT_EQ(listed[0].Id, going.id());
    }
    EXPECT_FALSE(fs::exists(runs + ".pruning-" + dropped));
    EXPECT_FALSE(fs::exists(keep + dropped));

    // What a pruning cut short (or killed) leaves: the run renamed out of
    // sight with some of its files. Another process may be removing it.
    // Its manifest goes last: a removal cut short after it leaves an empty
    // folder, which nothing else would ever remove.
    enum class Left { Run, RunHeldByAnother, EmptyFolder };
    const struct {
        const char* name;
        Left left;
    } cases[] = {{"left behind", Left::Run},
                 {"being removed by another process", Left::RunHeldByAnother},
                 {"cut short after its manifest", Left::EmptyFolder}};
    configure("max-runs = 5\n");
    for (const auto& c : cases) {
        const bool heldByAnother = c.left == Left::RunHeldByAnother;
        const std::string id = run({{path, c.name}});
        const std::string hidden = runs + ".pruning-" + id;
        ASSERT_EQ(::rename((runs + id).c_str(), hidden.c_str()), 0) << c.name;
        if (c.left == Left::EmptyFolder) {
            fs::remove_all(keep + id);
            for (const auto& entry : fs::directory_iterator(hidden))
                fs::remove(entry.path());
            run({{path, "next"}});
            EXPECT_FALSE(fs::exists(hidden)) << c.name;
            continue;
        }
        const UniqueFd manifest(::open((hidden + "/manifest").c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(manifest.valid()) << c.name;
        if (heldByAnother) {
            ASSERT_EQ(::flock(manifest.get(), LOCK_EX), 0) << c.name;
        }
        const std::string next = run({{path, std::string(c.name) + " after"}});
        EXPECT_EQ(fs::exists(hidden), heldByAnother) << c.name;
        EXPECT_EQ(fs::exists(keep + id), heldByAnother) << c.name;
        EXPECT_TRUE(fs::exists(keep + next + "/1")) << c.name;
        for (const RunSummary& listed : ListRuns(JournalPlace::fromEnvironment()))
            EXPECT_NE(listed.Id, id) << c.name;
    }
}

TEST_F(KeepFolderTest, RunThatCutsItsPruningShortEndsAndTheNextRunDeletesTheRest) {
    configure("max-runs = 3\n");
    const std::string keep = "/dev/shm/" + KeepFolderName() + "/";
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 1500; ++i)
        many.emplace_back(write("f" + std::to_string(i), "old"), "new");
    const std::vector<std::string> dropped = {run(many), run(many), run(many)};
    configure("max-runs = 1\n");
    const std::string path = write("small", "old");
    std::string small;
    {
        JournalOptions hasty = options("small");
        hasty.PruningGrace = std::chrono::milliseconds(0);
        RunJournal journal(std::move(hasty));
        rewriteWithHooks(journal, path, "new");
        small = journal.id();
    } // three runs of 1,500 kept files each are seldom deleted by then
    ASSERT_EQ(ListRuns(JournalPlace::fromEnvironment()).size(), 1u);
    {
        JournalOptions patient = options("last");
        patient.PruningGrace = std::chrono::minutes(1); // waits until all is deleted
        RunJournal journal(std::move(patient));
        rewriteWithHooks(journal, path, "newer");
    }
    for (const std::string& id : dropped) {
        EXPECT_FALSE(fs::exists(keep + id)) << id;
        EXPECT_FALSE(fs::exists(JournalPlace::fromEnvironment().RunsDirectory + "/.pruning-" + id)) << id;
    }
    EXPECT_FALSE(fs::exists(keep + small)) << "dropped by the last run";
}

TEST_F(KeepFolderTest, RunsLeftToTheCallerStayHiddenUntilDeletedUnlessAnotherProcessHoldsThem) {
    const std::string runs = JournalPlace::fromEnvironment().RunsDirectory + "/";
    const std::string keep = "/dev/shm/" + KeepFolderName() + "/";
    const std::string path = write("f", "old");
    const auto runLeavingDropped = [&](const std::string& text, bool& left) {
        JournalOptions leaving = options(text);
        leaving.Dropped = DroppedRuns::LeftToCaller;
        RunJournal journal(std::move(leaving));
        rewriteWithHooks(journal, path, text);
        journal.finish();
        left = journal.runsLeftToDelete();
        return journal.id();
    };
    enum class Holder { Nobody, AnotherProcess };
    const struct {
        const char* name;
        const char* conf;
        bool dropsOne;
        Holder holder;
    } cases[] = {{"nothing dropped", "max-runs = 5\n", false, Holder::Nobody},
                 {"one dropped", "max-runs = 1\n", true, Holder::Nobody},
                 {"one dropped, held by another process", "max-runs = 1\n", true, Holder::AnotherProcess}};
    for (const auto& c : cases) {
        configure("max-runs = 5\n");
        const std::string older = run({{path, std::string(c.name) + " before"}});
        configure(c.conf);
        bool left = false;
        const std::string id = runLeavingDropped(c.name, left);
        EXPECT_EQ(left, c.dropsOne) << c.name;
        const std::string hidden = runs + ".pruning-" + older;
        ASSERT_EQ(fs::exists(hidden), c.dropsOne) << c.name;
        EXPECT_EQ(ListRuns(JournalPlace::fromEnvironment()).size(), c.dropsOne ? 1u : 2u) << c.name;
        EXPECT_TRUE(fs::exists(keep + older + "/1")) << c.name << ": nothing deleted during the run";
        UniqueFd held;
        if (c.holder == Holder::AnotherProcess) {
            held.reset(::open((hidden + "/manifest").c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_EQ(::flock(held.get(), LOCK_EX), 0) << c.name;
        }
        DeleteDroppedRuns(JournalPlace::fromEnvironment());
        EXPECT_EQ(fs::exists(hidden), c.holder == Holder::AnotherProcess) << c.name;
        EXPECT_EQ(fs::exists(keep + older), !c.dropsOne || c.holder == Holder::AnotherProcess) << c.name;
        EXPECT_TRUE(fs::exists(keep + id + "/1")) << c.name;
        held.reset();
        // What a deletion left (its process killed with its command, as in
        // a container) goes with the next run itself, so that hidden runs
        // never pile up.
        configure("max-runs = 5\n");
        bool leftByNext = true;
        runLeavingDropped(std::string(c.name) + ", the next run", leftByNext);
        EXPECT_FALSE(leftByNext) << c.name;
        EXPECT_FALSE(fs::exists(hidden)) << c.name;
        EXPECT_EQ(fs::exists(keep + older), !c.dropsOne) << c.name;
    }
}

TEST_F(KeepFolderTest, RunKilledBeforeItsFirstRecordsLeavesNothingInTheKeepFolderOncePruned) {
    configure("max-runs = 1\n");
    const std::string path = write("f", "old");
    runAndGetKilled(options(), {{path, "new"}}, RewriteShape::KilledBeforeRecord);
    const std::string keep = "/dev/shm/" + KeepFolderName();
    ASSERT_EQ(fs::hard_link_count(path), 2u) << "the old inode was linked into the keep folder";
    const std::vector<RunSummary> killed = ListRuns(JournalPlace::fromEnvironment());
    ASSERT_EQ(killed.size(), 1u);
    ASSERT_TRUE(fs::exists(keep + "/" + killed[0].Id));
    run({{path, "two"}});
    EXPECT_FALSE(fs::exists(keep + "/" + killed[0].Id)) << "pruned with its run";
    EXPECT_EQ(fs::hard_link_count(path), 1u);
}

TEST_F(KeepFolderTest, UnreachableKeepFolderFailsItsFilesAndTouchesNothing) {
    const std::string a = write("a", "old a");
    const std::string b = write("b", "old b");
    const std::string id = run({{a, "new a"}, {b, "new b"}});
    const std::string folder = "/dev/shm/" + KeepFolderName() + "/" + id;
    const struct {
        const char* what;
        std::function<void()> make;
        std::string problem;
    } cases[] = {
        {"removed", [&] { fs::remove_all(folder); }, "it no longer exists (is its disk mounted?)"},
        {"another folder", [&] { fs::create_directory(folder), fs::permissions(folder, fs::perms::owner_all); },
         "another folder stands there"},
        {"a symlink", [&] { fs::remove(folder), fs::create_directory_symlink(m_tree, folder); },
         "a symbolic link stands there"},
    };
    for (const auto& c : cases) {
        c.make();
        const UndoSummary summary = undo(id);
        EXPECT_EQ(summary.Failed, 2u) << c.what;
        EXPECT_FALSE(summary.Complete) << c.what;
        EXPECT_EQ(outcomes[a].second, "Cannot restore \"" + a + "\". The journal kept its old content in \"" + folder +
                                          "\", which cannot be used: " + c.problem)
            << c.what;
        EXPECT_EQ(readFile(a), "new a") << c.what;
        EXPECT_EQ(readFile(b), "new b") << c.what;
        const auto listed = ListRuns(JournalPlace::fromEnvironment()).at(0).UnusableKeepFolders;
        EXPECT_EQ(listed, (std::vector<std::pair<std::string, std::string>>{{folder, c.problem}})) << c.what;
    }
    fs::remove(folder);
}

TEST_F(KeepFolderTest, WalkSkipsTheKeepFolderOfAnEarlierRun) {
    run({{write("f", "old"), "new"}});
    struct stat keep {};
    ASSERT_EQ(::stat(("/dev/shm/" + KeepFolderName()).c_str(), &keep), 0);
    const RunJournal later(options());
    EXPECT_TRUE(later.isJournalDirectory(keep.st_dev, keep.st_ino));
    struct stat tree {};
    ::stat(m_tree.c_str(), &tree);
    EXPECT_FALSE(later.isJournalDirectory(tree.st_dev, tree.st_ino));
}

TEST_F(KeepFolderTest, FileWithOtherNamesIsStillCopied) {
    const std::string path = write("f", "old");
    fs::create_hard_link(path, m_tree + "/g");
    const std::string id = run({{path, "new"}});
    EXPECT_EQ(manifestOf(id).Entries.at(0).Kept, KeptAs::Packed);
    EXPECT_EQ(undo().Restored, 1u);
    EXPECT_EQ(readFile(path), "old");
}

namespace {

// What a run as root made of a keep folder at the top of a fresh tmpfs, in
// a mount namespace of a child process of its own: the top given `topMode`
// and `plant`ed first, the tree under it another user's to write.
std::string runOnAFileSystemOfItsOwn(const std::string& mountPoint, mode_t topMode,
                                     const std::function<void(const std::string&)>& plant,
                                     const JournalOptions& options) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string result;
        try {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "mode=755") != 0) {
                result = "no mount namespace";
            } else {
                ::chmod(mountPoint.c_str(), topMode);
                plant(mountPoint);
                const std::string tree = mountPoint + "/tree";
                const std::string file = tree + "/f";
                ::mkdir(tree.c_str(), 0777);
                std::ofstream(file) << "old";
                (void)!::chown(tree.c_str(), 65534, 65534);
                (void)!::chown(file.c_str(), 65534, 65534);
                ::chmod(file.c_str(), 0644);
                std::string id;
                {
                    RunJournal journal(options);
                    rewriteWithHooks(journal, file, "new");
                    id = journal.id();
                }
                const auto manifest = ParseManifest(readFile(options.Place.RunsDirectory + "/" + id + "/manifest"));
                const bool linked = manifest && manifest->Entries.at(0).Kept == KeptAs::Link;
                result = linked ? "linked" : "copied";
                if (linked) {
                    // Another user may not read it, though the file's own mode lets all read it.
                    const std::string kept = manifest->KeepFolders.at(0).Path + "/1";
                    const pid_t other = ::fork();
                    if (other == 0) {
                        const bool denied = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 &&
                                            ::setuid(65534) == 0 && ::open(kept.c_str(), O_RDONLY) < 0 &&
                                            errno == EACCES;
                        ::_exit(denied ? 0 : 1);
                    }
                    int status = 1;
                    ::waitpid(other, &status, 0);
                    result += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ", private" : ", readable by others";
                }
                UndoRequest request;
                request.RunId = id;
                result += UndoRun(options.Place, request).Restored == 1 && readFile(file) == "old" ? ", undone"
                                                                                                   : ", not undone";
                // What was planted holds nothing of the run's.
                for (const auto& entry : fs::recursive_directory_iterator(mountPoint))
                    if (entry.path().filename() == "f" && entry.path() != file)
                        result += ", old bytes in " + entry.path().string();
            }
        } catch (const std::exception& error) {
            result = error.what();
        }
        (void)!::write(pipeFds[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string result;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return result;
}

} // namespace

TEST_F(JournalTest, AsRootAKeepFolderThatIsNotItsOwnAndPrivateIsNeverUsed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: another user's folders, and a mount of its own";
    const std::string name = "/" + KeepFolderName();
    const auto nothing = [](const std::string&) {};
    const struct {
        const char* what;
        mode_t topMode;
        std::function<void(const std::string&)> plant;
        const char* result;
    } cases[] = {
        {"none yet, sticky top open to all", 01777, nothing, "linked, private, undone"},
        {"none yet, top of root's", 0755, nothing, "linked, private, undone"},
        {"another user's folder", 01777,
         [&](const std::string& top) {
             ::mkdir((top + name).c_str(), 0700);
             (void)!::chown((top + name).c_str(), 65534, 65534);
         },
         "copied, undone"},
        {"a symlink to a folder of root's", 01777,
         [&](const std::string& top) {
             ::mkdir((top + "/elsewhere").c_str(), 0700);
             (void)!::symlink("elsewhere", (top + name).c_str());
         },
         "copied, undone"},
        {"root's folder open to others", 01777,
         [&](const std::string& top) {
             ::mkdir((top + name).c_str(), 0700);
             ::chmod((top + name).c_str(), 0755);
         },
         "copied, undone"},
        {"a top others may write without the sticky bit", 0777, nothing, "copied, undone"},
    };
    for (const auto& c : cases) {
        char mountPoint[] = "/tmp/quillet-mount-XXXXXX";
        ASSERT_NE(::mkdtemp(mountPoint), nullptr);
        const std::string result = runOnAFileSystemOfItsOwn(mountPoint, c.topMode, c.plant, options());
        ::rmdir(mountPoint);
        if (result == "no mount namespace")
            GTEST_SKIP() << "no mount namespace to be had here";
        EXPECT_EQ(result, c.result) << c.what;
    }
}

TEST_F(JournalTest, RunUndoneWholeIsListedFromItsManifestsEndsWithWhatItStillKeeps) {
    std::vector<std::pair<std::string, std::string>> rewrites;
    for (int i = 0; i < 600; ++i)
        rewrites.emplace_back(files.write("f" + std::to_string(i), "old"), "new");
    const std::string id = run(rewrites);
    ASSERT_TRUE(undo().Complete);
    const std::string text = readFile(JournalPlace::fromEnvironment().RunsDirectory + "/" + id + "/manifest");
    const std::size_t end = std::min<std::size_t>(4096, text.size());
    const auto summary = ParseManifest(ManifestSummaryText(
        std::string_view(text).substr(0, end), std::string_view(text).substr(text.size() - end), text.size()));
    ASSERT_TRUE(summary) << "a listing and each run's pruning would read every entry";
    EXPECT_TRUE(summary->UndoneNs);
    EXPECT_TRUE(summary->FinishedNs);
    ASSERT_TRUE(summary->Totals);
    EXPECT_EQ(summary->Totals->Files, 600u);
    EXPECT_EQ(summary->keptBytes(), 0) << "the kept links went with the undo";
    EXPECT_EQ(ListRuns(JournalPlace::fromEnvironment()).at(0).State, RunState::Undone);
}
