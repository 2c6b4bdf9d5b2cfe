// Undo against what can happen between a run and its undo, and during both:
// folders swapped for links, files taken over by another user, an editor's
// save in the middle of a run, a run stopped with files staged.
#include "engine/keep/backup_hooks.h"
#include "engine/keep/journal.h"
#include "engine/keep/undo.h"
#include "engine/run/run.h"

#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillet::engine;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

class UndoSafety : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME"}) {
            const char* value = std::getenv(name);
            m_saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
            ::setenv(name, m_home.file(name).c_str(), 1);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : m_saved)
            value ? (void)::setenv(name.c_str(), value->c_str(), 1) : (void)::unsetenv(name.c_str());
    }

    // Replaces "old" with "new" in each path, with the journal (and `extra`
    // hooks after it); returns how many files the run reported.
    std::int64_t replace(std::vector<std::string> paths, CommitHooks* extra = nullptr, int threads = 1,
                         std::int64_t stopAfter = 0) {
        RunJournal journal(JournalOptionsFromEnvironment("test"));
        HookChain chain;
        chain.add(journal);
        if (extra != nullptr)
            chain.add(*extra);
        RunRequest request;
        request.Entries = std::move(paths);
        request.Param.SearchPattern = "old";
        request.Param.NewText = "new";
        request.Hooks = &chain;
        request.Threads = threads;
        std::int64_t handled = 0;
        RunEvents events;
        events.OnFile = [&](const FileReport&, bool& stop) { stop = ++handled == stopAfter; };
        ExecuteRun(request, events);
        journal.finish();
        return handled;
    }

    UndoSummary undo(bool force) {
        UndoRequest request;
        request.Force = force;
        request.OnFile = [this](const UndoFileReport& report) {
            reports[std::string(report.ListedPath)] = {report.Outcome, std::string(report.Reason)};
        };
        reports.clear();
        return UndoRun(JournalPlace::fromEnvironment(), request);
    }

    TempDir files;
    std::map<std::string, std::pair<UndoOutcome, std::string>> reports;

private:
    TempDir m_home;
    std::map<std::string, std::optional<std::string>> m_saved;
};

// Saves the file as an editor does (a new file renamed over it) once, while
// the run has it staged: the run must read it again and rewrite the
// editor's text.
class EditorSave : public CommitHooks {
public:
    explicit EditorSave(std::string path) : m_path(std::move(path)) {}
    void beforeReplace(const ReplaceContext&) override {
        if (m_saved)
            return;
        m_saved = true;
        std::ofstream(m_path + ".editor", std::ios::binary) << "edited old";
        fs::rename(m_path + ".editor", m_path);
    }

private:
    std::string m_path;
    bool m_saved = false;
};

} // namespace

TEST_F(UndoSafety, APathThatNoLongerLeadsToTheRunsFolderIsRefusedEvenWhenForced) {
    enum class Swap { SymlinkToElsewhere, AnotherFolder, SymlinkHigherUp };
    for (const Swap swap : {Swap::SymlinkToElsewhere, Swap::AnotherFolder, Swap::SymlinkHigherUp}) {
        for (const bool force : {false, true}) {
            SCOPED_TRACE(testing::Message() << "swap " << static_cast<int>(swap) << " force " << force);
            TempDir tree;
            tree.write("top/sub/f.txt", "old text");
            tree.write("elsewhere/sub/f.txt", "new text");
            ASSERT_EQ(replace({tree.file("top/sub/f.txt")}), 1);
            fs::rename(tree.file("top"), tree.file("aside"));
            fs::create_directory(tree.file("top"));
            if (swap == Swap::SymlinkHigherUp) {
                fs::remove(tree.file("top"));
                fs::create_directory_symlink(tree.file("elsewhere"), tree.file("top"));
            } else if (swap == Swap::SymlinkToElsewhere) {
                fs::create_directory_symlink(tree.file("elsewhere/sub"), tree.file("top/sub"));
            } else {
                tree.write("top/sub/f.txt", "new text");
            }
            const UndoSummary summary = undo(force);
            EXPECT_EQ(summary.Restored, 0u);
            EXPECT_FALSE(summary.Complete);
            EXPECT_EQ(readFile(tree.file("elsewhere/sub/f.txt")), "new text");
            EXPECT_EQ(readFile(tree.file("aside/sub/f.txt")), "new text");
            if (swap == Swap::AnotherFolder) {
                EXPECT_EQ(readFile(tree.file("top/sub/f.txt")), "new text");
            }
            ASSERT_EQ(reports.size(), 1u);
            const auto& [outcome, reason] = reports.begin()->second;
            EXPECT_EQ(outcome, UndoOutcome::Failed);
            EXPECT_NE(reason.find("no longer leads to the folder the run wrote in"), std::string::npos) << reason;
            const char* says =
                swap == Swap::AnotherFolder ? "another folder stands at" : "is not a folder but a symbolic link";
            EXPECT_NE(reason.find(says), std::string::npos) << reason;
        }
    }
}

TEST_F(UndoSafety, AForcedUndoGivesTheFileBackItsOwnerGroupAndMode) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give files away";
    const std::string path = files.write("f.txt", "old text");
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    // A second name makes the journal keep a copy rather than the inode itself.
    ASSERT_EQ(::link(path.c_str(), files.file("second name").c_str()), 0);
    ASSERT_EQ(replace({path}), 1);
    // Another file takes its place: the restore must not take its owner.
    fs::remove(path);
    files.write("f.txt", "someone's text");
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    const UndoSummary summary = undo(true);
    EXPECT_EQ(summary.Restored, 1u);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(path), "old text");
}

TEST_F(UndoSafety, UndoBringsBackTheEditorsSaveNotTheTextBeforeIt) {
    const std::string path = files.write("f.txt", "old text");
    EditorSave editor(path);
    ASSERT_EQ(replace({path}, &editor), 1);
    ASSERT_EQ(readFile(path), "edited new");
    const UndoSummary summary = undo(false);
    EXPECT_EQ(summary.Restored, 1u);
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(readFile(path), "edited old");
}

TEST_F(UndoSafety, AStoppedRunJournalsOnlyTheFilesItChanged) {
    std::vector<std::string> paths;
    for (int i = 0; i < 80; ++i)
        paths.push_back(files.write("f" + std::to_string(i), "old " + std::to_string(i)));
    for (const int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        ASSERT_EQ(replace(paths, nullptr, threads, 5), 5);
        const std::vector<RunSummary> runs = ListRuns(JournalPlace::fromEnvironment());
        ASSERT_FALSE(runs.empty());
        EXPECT_EQ(runs.front().Files, 5u);
        const UndoSummary summary = undo(false);
        EXPECT_EQ(summary.Restored, 5u);
        EXPECT_EQ(summary.AlreadyOld, 0u);
        EXPECT_EQ(reports.size(), 5u);
        for (int i = 0; i < 80; ++i)
            ASSERT_EQ(readFile(paths[static_cast<std::size_t>(i)]), "old " + std::to_string(i));
    }
}
