#include "engine/keep/backup_hooks.h"

#include "core/error.h"
#include "rewrite_simulation.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillet::engine;
using quillet::Error;
using quillet::testutil::readFile;
using quillet::testutil::RewriteShape;
using quillet::testutil::rewriteWithHooks;
using quillet::testutil::TempDir;

namespace {

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Hooks that note each call, and may refuse.
class NotingHooks : public CommitHooks {
public:
    NotingHooks(std::string name, std::vector<std::string>& calls, bool refuse = false, bool keeps = false)
        : m_name(std::move(name)), m_calls(calls), m_refuse(refuse), m_keeps(keeps) {}
    void beforeReplace(const ReplaceContext&) override {
        m_calls.push_back("before " + m_name);
        if (m_refuse)
            throw Error("refused by " + m_name);
    }
    void afterReplace(const ReplaceContext&, const FileIdentity&) override { m_calls.push_back("after " + m_name); }
    bool keepsOldBytes() const override { return m_keeps; }

private:
    std::string m_name;
    std::vector<std::string>& m_calls;
    bool m_refuse;
    bool m_keeps;
};

} // namespace

TEST(BackupHooks, KeepsTheOldBytesBesideTheFileWithItsMode) {
    struct Case {
        const char* suffix;
        mode_t mode;
        std::string old;
    };
    const Case cases[] = {
        {".bak", 0644, "old text\n"},
        {"~", 0600, std::string("bin\0ary", 7)},
        {".orig", 0755, ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.write("f", c.old);
        ::chmod(path.c_str(), c.mode);
        BackupHooks backups(c.suffix);
        rewriteWithHooks(backups, path, "new");
        const std::string backup = path + c.suffix;
        EXPECT_EQ(readFile(path), "new") << c.suffix;
        EXPECT_EQ(readFile(backup), c.old) << c.suffix;
        struct stat made {
        }, file{};
        ::stat(backup.c_str(), &made);
        ::stat(path.c_str(), &file);
        EXPECT_EQ(made.st_mode & 07777, c.mode) << c.suffix;
        EXPECT_TRUE(backups.madeThisRun(made.st_dev, made.st_ino)) << c.suffix;
        EXPECT_FALSE(backups.madeThisRun(file.st_dev, file.st_ino)) << c.suffix;
        EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"f", std::string("f") + c.suffix})) << c.suffix;
    }
}

TEST(BackupHooks, SuffixThatWouldNameTheFileItselfOrAnotherFolderIsRefused) {
    for (const char* suffix : {"", "/x", "a/b"}) {
        std::string error;
        try {
            BackupHooks backups(suffix);
        } catch (const Error& failure) {
            error = failure.what();
        }
        EXPECT_EQ(error, "Invalid backup suffix \"" + std::string(suffix) + "\": it must not be empty or hold \"/\"");
    }
}

TEST(BackupHooks, ExistingBackupIsReplacedOnlyAfterTheNewOneIsComplete) {
    TempDir dir;
    const std::string path = dir.write("f", std::string(64 * 1024, 'o'));
    dir.write("f.bak", "previous backup");
    BackupHooks backups;
    {
        // The backup's write fails midway, as on a full disk.
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved;
        lowered.rlim_cur = 1024;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
        std::string error;
        try {
            rewriteWithHooks(backups, path, "new");
        } catch (const Error& failure) {
            error = failure.what();
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(error, "Cannot create backup \"" + path + ".bak\". File too large");
    }
    EXPECT_EQ(readFile(dir.file("f.bak")), "previous backup");
    EXPECT_EQ(readFile(path), std::string(64 * 1024, 'o'));
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"f", "f.bak"}));

    rewriteWithHooks(backups, path, "new");
    EXPECT_EQ(readFile(dir.file("f.bak")), std::string(64 * 1024, 'o'));
}

TEST(BackupHooks, RewriteInPlaceIsRefusedWithoutAWritableDirectory) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes any directory";
    TempDir dir;
    const std::string path = dir.write("sub/f", "old");
    ::chmod(dir.file("sub").c_str(), 0555);
    BackupHooks backups;
    std::string error;
    try {
        rewriteWithHooks(backups, path, "new", RewriteShape::InPlace);
    } catch (const Error& failure) {
        error = failure.what();
    }
    EXPECT_EQ(error, "Cannot create backup \"" + path + ".bak\". Permission denied");
    EXPECT_EQ(readFile(path), "old");
}

TEST(HookChain, CallsEachInOrderAndStopsAtARefusal) {
    struct Case {
        bool refuseSecond;
        bool keepsFirst;
        bool keepsSecond;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {false, false, false, {"before a", "before b", "after a", "after b"}},
        {true, false, true, {"before a", "before b"}},
        {false, true, false, {"before a", "before b", "after a", "after b"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.write("f", "old");
        std::vector<std::string> calls;
        NotingHooks first("a", calls, false, c.keepsFirst);
        NotingHooks second("b", calls, c.refuseSecond, c.keepsSecond);
        HookChain chain;
        chain.add(first);
        chain.add(second);
        EXPECT_EQ(chain.keepsOldBytes(), c.keepsFirst || c.keepsSecond);
        try {
            rewriteWithHooks(chain, path, "new");
        } catch (const Error&) {
        }
        EXPECT_EQ(calls, c.calls) << "refuse second: " << c.refuseSecond;
        EXPECT_EQ(readFile(path), c.refuseSecond ? "old" : "new");
    }
}
