#include "engine/fs/durable_files.h"
#include "engine/fs/temporary_file.h"

#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillet::engine;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

TEST(CopyFileBytes, CopiesExactlyTheGivenSizeOverWhatTheTargetHeld) {
    struct Case {
        std::size_t size;
        std::size_t targetHeld;
    };
    const Case cases[] = {{0, 0}, {1, 0}, {5, 100}, {(1 << 20) + 3, 7}, {(3 << 20) + 1, (4 << 20)}};
    for (const Case& c : cases) {
        TempDir dir;
        std::string content(c.size, '\0');
        for (std::size_t i = 0; i < c.size; ++i)
            content[i] = static_cast<char>(i * 131 + i / 977);
        const std::string from = dir.write("from", content);
        const std::string to = dir.write("to", std::string(c.targetHeld, 'T'));
        UniqueFd in(::open(from.c_str(), O_RDONLY));
        UniqueFd out(::open(to.c_str(), O_RDWR));
        ::lseek(in.get(), 3, SEEK_SET); // the position must not matter
        ASSERT_TRUE(CopyFileBytes(in.get(), out.get(), static_cast<std::int64_t>(c.size))) << c.size;
        EXPECT_EQ(readFile(to), content) << "size " << c.size << ", target held " << c.targetHeld;
    }
}

TEST(CopyFileBytes, SourceShorterThanTheSizeFails) {
    TempDir dir;
    UniqueFd in(::open(dir.write("from", "short").c_str(), O_RDONLY));
    UniqueFd out(::open(dir.write("to", "").c_str(), O_RDWR));
    errno = 0;
    EXPECT_FALSE(CopyFileBytes(in.get(), out.get(), 6));
    EXPECT_EQ(errno, EIO);
}

// Unnamed until named, where the file system has unnamed files; either way
// hidden, short, private and distinct once named.
TEST(TemporaryFile, MakesDistinctHiddenPrivateFiles) {
    TempDir dir;
    UniqueFd directory(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY));
    std::set<std::string> names;
    std::vector<std::unique_ptr<TemporaryFile>> kept;
    for (const auto how : {detail::TemporaryFiles::Unnamed, detail::TemporaryFiles::Named})
        for (int i = 0; i < 3; ++i) {
            detail::g_temporaryFiles = how;
            auto& temp = *kept.emplace_back(std::make_unique<TemporaryFile>());
            const bool made = temp.create(directory.get());
            detail::g_temporaryFiles = detail::TemporaryFiles::Unnamed;
            ASSERT_TRUE(made) << ErrnoText(errno);
            EXPECT_EQ(std::string(temp.name()).empty(), how == detail::TemporaryFiles::Unnamed);
            ASSERT_TRUE(temp.giveName()) << ErrnoText(errno);
            const std::string name = temp.name();
            EXPECT_EQ(name.front(), '.');
            EXPECT_LT(name.size(), 40u);
            struct stat info {};
            ::fstat(temp.fd(), &info);
            EXPECT_EQ(info.st_mode & 07777, 0600u) << name;
            names.insert(name);
        }
    EXPECT_EQ(names.size(), 6u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 6);
    kept.clear();
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 0);
}

TEST(OnVolatileFileSystem, AgreesWithTheTypeStatNames) {
    TempDir dir;
    for (const std::string& path : std::vector<std::string>{"/dev/shm", "/proc", dir.path(), "/"}) {
        FILE* pipe = ::popen(("stat -f -c %T '" + path + "' 2>/dev/null").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char type[64] = {};
        const bool named = std::fgets(type, sizeof type, pipe) != nullptr;
        ::pclose(pipe);
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY));
        if (!named || !fd.valid())
            continue;
        const std::string name = std::string(type).substr(0, std::string(type).find('\n'));
        EXPECT_EQ(OnVolatileFileSystem(fd.get()), name == "tmpfs" || name == "ramfs") << path << " is " << name;
    }
}
