// A run on a file system that fills up midway: it stops with an error, every
// file holds its old or its new content, no temporary file stays, and the
// journal can still undo what the run did. Needs a small tmpfs, so root only.
#include "cli_fixture.h"

#include <sys/mount.h>
#include <unistd.h>

using namespace clitest;

namespace {

class SmallFileSystem {
public:
    explicit SmallFileSystem(const fs::path& where) : m_where(where) {
        fs::create_directories(where);
        m_mounted = ::mount("tmpfs", where.c_str(), "tmpfs", 0, "size=256k") == 0;
    }
    ~SmallFileSystem() {
        if (m_mounted)
            ::umount2(m_where.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool mounted() const { return m_mounted; }
    bool grow() { return ::mount("tmpfs", m_where.c_str(), "tmpfs", MS_REMOUNT, "size=2m") == 0; }

private:
    fs::path m_where;
    bool m_mounted = false;
};

} // namespace

// With several threads, the files written ahead of their turn must not take
// the room the file at its turn needs (they once made even the first fail).
TEST_F(CliTest, AFullDiskEndsTheRunWithEveryFileOldOrNewAndTheRunUndoable) {
    for (const char* threads : {"1", "3"}) {
        SCOPED_TRACE(std::string("-j ") + threads);
        const fs::path disk = dir.path() / ("disk" + std::string(threads));
        SmallFileSystem small(disk);
        if (!small.mounted())
            GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
        const std::string old(10000, 'a');
        const std::string grown(40000, 'a'); // each "a" becomes "aaaa": the disk fills after a few files
        std::vector<std::string> args = {"replace", "a", "aaaa", "-j", threads}; // the journal lives elsewhere
        for (int i = 0; i < 12; ++i)
            args.push_back(dir.write(disk.filename().string() + "/f" + std::to_string(i), old));
        const ProcessResult r = cli(args);
        EXPECT_EQ(r.ExitCode, 2) << r.Err;
        EXPECT_NE(r.Err.find("No space left on device"), std::string::npos) << r.Err;
        // The old files stay on the disk they were on, in its keep folder.
        const std::string keepFolder = ".quillet-keep-" + std::to_string(::geteuid());
        int rewritten = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(disk)) {
            const std::string name = entry.path().filename().string();
            if (name == keepFolder)
                continue;
            EXPECT_FALSE(name.starts_with(".quillet-")) << "temporary file left: " << name;
            const std::string content = readFile(entry.path());
            EXPECT_TRUE(content == old || content == grown) << name << " holds " << content.size() << " bytes";
            rewritten += content == grown ? 1 : 0;
        }
        EXPECT_GT(rewritten, 0);
        EXPECT_LT(rewritten, 12);

        // Room again (the user freed some), then the run is undone.
        ASSERT_TRUE(small.grow());
        const ProcessResult undo = cli({"undo"});
        EXPECT_EQ(undo.ExitCode, 0) << undo.Out << undo.Err;
        for (const fs::directory_entry& entry : fs::directory_iterator(disk)) {
            if (entry.path().filename() != keepFolder) {
                EXPECT_EQ(readFile(entry.path()), old) << entry.path().filename();
            }
        }
    }
}
