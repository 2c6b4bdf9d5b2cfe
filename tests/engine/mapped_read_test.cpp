// Large files are mapped, not read, and written back from pieces of the
// mapping: a file cut short by someone else meanwhile must neither crash the
// run nor end up in anything it writes.
#include "engine/fs/file_io.h"
#include "engine/fs/posix_file.h"
#include "engine/fs/rewrite.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quillet::engine;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

constexpr std::size_t kLarge = std::size_t{4} << 20; // mapped, not read

std::string patterned(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 31) % 26);
    return text;
}

} // namespace

TEST(WritePieces, WritesEveryPieceInOrder) {
    // More pieces than one system call takes, empty ones among them.
    std::vector<std::string> many;
    for (int i = 0; i < 3000; ++i)
        many.push_back(std::string(static_cast<std::size_t>(i % 7), static_cast<char>('a' + i % 26)));
    const std::vector<std::vector<std::string>> cases = {
        {}, {""}, {"one"}, {"", "a", "", "bc", ""}, many, {patterned(kLarge), "tail"}};
    TempDir dir;
    for (const auto& strings : cases) {
        const std::vector<std::string_view> pieces(strings.begin(), strings.end());
        std::string expected;
        for (const std::string& piece : strings)
            expected += piece;
        for (const long long offset : {-1LL, 3LL}) {
            const std::string path = dir.write("out.bin", "XYZ");
            UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND));
            ASSERT_TRUE(detail::writePieces(fd.get(), pieces, offset)) << strings.size();
            EXPECT_EQ(readFile(path), "XYZ" + expected) << strings.size() << " pieces, offset " << offset;
        }
    }
}

TEST(MappedRead, AFileCutShortUnderItsMappingReadsAsTornNotACrash) {
    TempDir dir;
    const std::string content = patterned(kLarge);
    for (const bool cut : {false, true}) {
        const std::string path = dir.write("big.txt", content);
        FileReader reader(path);
        FileBytes bytes;
        reader.readAll(bytes);
        ASSERT_EQ(bytes.view().size(), content.size());
        if (cut) {
            ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
        }
        std::size_t sum = 0;
        for (std::size_t i = 0; i < bytes.size(); i += 4096)
            sum += static_cast<unsigned char>(bytes.view()[i]);
        EXPECT_EQ(bytes.torn(), cut) << sum;
        if (!cut) {
            EXPECT_TRUE(bytes.view() == content);
        }
    }
}

TEST(MappedRead, ABusErrorOutsideTheMappingsStillEndsTheProcess) {
    TempDir dir;
    const std::string path = dir.write("big.txt", patterned(kLarge));
    FileBytes guarded;
    FileReader(path).readAll(guarded); // installs the handler
    EXPECT_EXIT(
        {
            const int fd = ::open(path.c_str(), O_RDONLY);
            auto* unguarded = static_cast<volatile char*>(::mmap(nullptr, kLarge, PROT_READ, MAP_SHARED, fd, 0));
            (void)::truncate(path.c_str(), 0);
            (void)unguarded[kLarge - 1];
            std::_Exit(0);
        },
        // Killed by the signal, or ended by a sanitizer that reports it first:
        // anything but going on to the normal exit.
        [](int status) { return !WIFEXITED(status) || WEXITSTATUS(status) != 0; }, "");
}

TEST(MappedRead, ARewriteFromAMappingOfAFileCutShortSinceIsRefused) {
    TempDir dir;
    const std::string path = dir.write("big.txt", patterned(kLarge));
    FileReader reader(path);
    FileBytes bytes;
    reader.readAll(bytes);
    const std::vector<std::string_view> pieces = {bytes.view().substr(0, kLarge / 2), "new",
                                                  bytes.view().substr(kLarge / 2)};
    ASSERT_EQ(::truncate(path.c_str(), 10), 0);
    // Expect the file as it is now, so that only the copy from the mapping
    // can tell that the bytes are gone.
    struct stat now {};
    ASSERT_EQ(::stat(path.c_str(), &now), 0);
    const FileIdentity current = FileIdentity::of(now);
    RewriteRequest request;
    request.Expected = &current;
    EXPECT_EQ(RewriteFile(FileLocation::atPath(path), pieces, request), RewriteOutcome::NotTheFileRead);
    EXPECT_EQ(readFile(path), patterned(10));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}
