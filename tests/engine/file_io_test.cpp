#include "engine/fs/file_io.h"

#include "core/error.h"
#include "testutil/error_of.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using quillet::Error;
using quillet::engine::LoadFileText;
using quillet::engine::SaveFileText;
using quillet::testutil::errorOf;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool runningAsRoot() {
    return geteuid() == 0;
}

// Lowers the file-size limit for one scope, so that a write fails midway as
// on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int);
};

} // namespace

TEST(LoadFileText, ReadsEveryByteExactly) {
    TempDir dir;
    const std::string content("a\0b\r\n\xff\xfe tail", 13);
    const std::string big(3 * 1024 * 1024 + 17, 'x');
    for (const std::string& expected : {std::string(), content, big}) {
        const std::string path = dir.write("f.bin", expected);
        std::string text = "stale";
        LoadFileText(path, text);
        EXPECT_EQ(text, expected) << "size " << expected.size();
    }
}

TEST(LoadFileBytes, ReadsEveryByteAcrossTheBufferKinds) {
    TempDir dir;
    // Below and above the size from which the buffer is mapped rather than allocated.
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{(2 << 20) - 1}, std::size_t{(5 << 20) + 3}}) {
        std::string expected(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            expected[i] = static_cast<char>((i * 7919) >> 3);
        const std::string path = dir.write("f.bin", expected);
        quillet::engine::FileBytes bytes;
        bytes.resize(17); // stale content must not survive
        quillet::engine::LoadFileBytes(path, bytes);
        EXPECT_TRUE(bytes.view() == expected) << "size " << size;
    }
}

TEST(FileReader, AFileThatGrewOrShrankSinceItWasOpenedIsReadAsItStandsNow) {
    TempDir dir;
    const struct {
        std::size_t before;
        std::size_t after;
    } cases[] = {{0, 1}, {0, 5000}, {10, 11}, {10, 10}, {4096, 4097}, {4096, 12000}, {300, 299}, {300, 0}};
    for (const auto& c : cases) {
        std::string content(std::max(c.before, c.after), '\0');
        for (std::size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>('a' + i % 26);
        const std::string path = dir.write("f.txt", content.substr(0, c.before));
        const auto location = quillet::engine::FileLocation::atPath(path);
        quillet::engine::FileReader reader(location);
        ASSERT_EQ(reader.sizeHint(), c.before);
        dir.write("f.txt", content.substr(0, c.after)); // rewritten in place: the same file
        quillet::engine::FileBytes bytes;
        reader.readAll(bytes);
        EXPECT_TRUE(bytes.view() == content.substr(0, c.after)) << c.before << " -> " << c.after;
    }
}

TEST(LoadFileText, FollowsSymlinkToFile) {
    TempDir dir;
    dir.write("target.txt", "through the link");
    fs::create_symlink("target.txt", dir.path() / "link.txt");
    std::string text;
    LoadFileText(dir.file("link.txt"), text);
    EXPECT_EQ(text, "through the link");
}

TEST(LoadFileText, RefusesWhatCannotBeReadAsAFile) {
    TempDir dir;
    fs::create_directory(dir.path() / "old.htm");
    ASSERT_EQ(mkfifo(dir.file("pipe.htm").c_str(), 0600), 0);
    struct Case {
        std::string path;
        std::string expected;
    } cases[] = {
        {dir.file("missing.htm"), "Cannot open file \"" + dir.file("missing.htm") + "\". No such file or directory"},
        {dir.file("old.htm"), "Cannot open file \"" + dir.file("old.htm") + "\". Not a regular file"},
        // Opening a FIFO must not wait for a writer.
        {dir.file("pipe.htm"), "Cannot open file \"" + dir.file("pipe.htm") + "\". Not a regular file"},
        {"/dev/null", "Cannot open file \"/dev/null\". Not a regular file"},
    };
    for (const Case& c : cases) {
        std::string text = "stale";
        EXPECT_EQ(errorOf([&] { LoadFileText(c.path, text); }), c.expected);
        EXPECT_EQ(text, "") << c.path;
    }
}

TEST(LoadFileText, NamesARelativePathByItsFullPath) {
    TempDir dir;
    const auto cwd = fs::current_path();
    fs::current_path(dir.path());
    const std::string message = errorOf([] {
        std::string text;
        LoadFileText("nope.txt", text);
    });
    fs::current_path(cwd);
    EXPECT_EQ(message, "Cannot open file \"" + dir.file("nope.txt") + "\". No such file or directory");
}

TEST(SaveFileText, ReplacesContentAndKeepsPermissions) {
    TempDir dir;
    const std::string path = dir.write("page.htm", "old content that is longer");
    fs::permissions(path, fs::perms(0640));
    SaveFileText("new", path);
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"page.htm"}) << "no temporary file stays";
}

TEST(SaveFileText, CreatesAMissingFile) {
    TempDir dir;
    SaveFileText("fresh", dir.file("new.txt"));
    EXPECT_EQ(readFile(dir.file("new.txt")), "fresh");
}

TEST(SaveFileText, KeepsSymlinkAndRewritesItsTarget) {
    TempDir dir;
    dir.write("real/target.htm", "before");
    fs::create_symlink("real/target.htm", dir.path() / "link.htm");
    SaveFileText("after", dir.file("link.htm"));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.htm"));
    EXPECT_EQ(readFile(dir.file("real/target.htm")), "after");
    EXPECT_EQ(namesIn(dir.path() / "real"), std::vector<std::string>{"target.htm"});
}

TEST(SaveFileText, SplitsAHardLinkLikeSedInPlace) {
    TempDir dir;
    const std::string path = dir.write("a.htm", "shared");
    fs::create_hard_link(path, dir.path() / "b.htm");
    SaveFileText("mine", path);
    EXPECT_EQ(readFile(path), "mine");
    EXPECT_EQ(readFile(dir.file("b.htm")), "shared");
}

TEST(SaveFileText, AWriteFailingMidwayLeavesTheOldContentAndNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.write("page.htm", "the original content");
    const std::string bigger(1 << 20, 'n');
    std::string message;
    {
        FileSizeLimit limit(64 * 1024);
        message = errorOf([&] { SaveFileText(bigger, path); });
    }
    EXPECT_EQ(message.rfind("Cannot create file \"" + path + "\". ", 0), 0u) << message;
    EXPECT_EQ(readFile(path), "the original content");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"page.htm"});
}

TEST(SaveFileText, AProcessKilledMidwayLeavesTheOldContent) {
    TempDir dir;
    const std::string path = dir.write("page.htm", "the original content");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // SIGXFSZ's default action kills the writer in the middle of the write.
        rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_DFL);
        try {
            SaveFileText(std::string(1 << 20, 'n'), path);
        } catch (...) {
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer was expected to be killed";
    EXPECT_EQ(readFile(path), "the original content");
}

TEST(SaveFileText, RefusesAFileTheUserMayNotWrite) {
    if (runningAsRoot())
        GTEST_SKIP() << "root may write any file";
    TempDir dir;
    const std::string path = dir.write("locked.htm", "keep me");
    fs::permissions(path, fs::perms(0444));
    EXPECT_EQ(errorOf([&] { SaveFileText("changed", path); }),
              "Cannot create file \"" + path + "\". Permission denied");
    EXPECT_EQ(readFile(path), "keep me");
}

// Without a place to keep the old bytes, a rewrite in place that a crash
// could leave half done is refused.
TEST(SaveFileText, RefusesToRewriteInPlaceWhenTheDirectoryIsNotWritable) {
    if (runningAsRoot())
        GTEST_SKIP() << "root may create files in any directory";
    TempDir dir;
    const std::string path = dir.write("ro/page.htm", "old");
    fs::permissions(dir.path() / "ro", fs::perms(0555));
    const std::string message = errorOf([&] { SaveFileText("new text", path); });
    fs::permissions(dir.path() / "ro", fs::perms(0755));
    EXPECT_EQ(message, "Cannot create file \"" + path + "\". Permission denied");
    EXPECT_EQ(readFile(path), "old");
}

TEST(SaveFileText, RefusesToReplaceADirectory) {
    TempDir dir;
    fs::create_directory(dir.path() / "old.htm");
    EXPECT_EQ(errorOf([&] { SaveFileText("x", dir.file("old.htm")); }),
              "Cannot create file \"" + dir.file("old.htm") + "\". Not a regular file");
    EXPECT_TRUE(fs::is_directory(dir.path() / "old.htm"));
}
