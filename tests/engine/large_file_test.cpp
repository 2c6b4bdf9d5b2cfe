// A file over 2 GiB: sizes and positions must not wrap at 32 bits. The file
// is sparse, so it costs little disk space.
#include "core/pattern.h"
#include "engine/fs/file_io.h"
#include "engine/file_ops.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace quillet::core;

namespace {

// A file of `offset` zero bytes (a hole, no disk space) followed by `tail`.
bool writeSparse(const std::string& path, std::int64_t offset, const std::string& tail) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    const bool written = ::pwrite(fd, tail.data(), tail.size(), offset) == static_cast<ssize_t>(tail.size());
    return ::close(fd) == 0 && written;
}

} // namespace

TEST(LargeFile, MatchesFoundPastTwoGibibytes) {
    quillet::testutil::TempDir dir;
    const std::string path = dir.file("big.bin");
    const std::int64_t offset = (std::int64_t{1} << 31) + 4096;
    const std::string tail = "<a href=far.htm>";
    ASSERT_TRUE(writeSparse(path, offset, tail));
    std::string text;
    quillet::engine::LoadFileText(path, text);
    ASSERT_EQ(static_cast<std::int64_t>(text.size()), offset + static_cast<std::int64_t>(tail.size()));

    Pos start = 0, end = 0;
    TSubStrPosArray ranges;
    ASSERT_TRUE(
        MatchPattern(start, end, ranges, text, "href=*.htm", static_cast<Pos>(text.size()), true, 1, false, true));
    EXPECT_EQ(start, offset + 4);
    EXPECT_EQ(end, offset + 15);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(Copy(text, ranges[0].Pos, ranges[0].Len), "far");
    EXPECT_EQ(FindBack(text, "<a", static_cast<Pos>(text.size()), 2, 0), offset + 1);
}

// Slow: writes the 2 GiB file back in full (the sanitizer runs leave it out).
// Its first 8 KiB are text, so that it is not passed over as binary.
TEST(LargeFile, SlowReplacePastTwoGibibytes) {
    quillet::testutil::TempDir dir;
    const std::string path = dir.file("big.bin");
    const std::int64_t offset = (std::int64_t{1} << 31) + 4096;
    const std::string tail = "<a href=far.htm>";
    ASSERT_TRUE(writeSparse(path, offset, tail));
    const int head = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(head, 0);
    const std::string text(8192, 't');
    EXPECT_EQ(::pwrite(head, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    ::close(head);
    ASSERT_TRUE(quillet::engine::ProcessFile(path, path, OpReplaceText, "href=*.htm", false, "href={$1}.html", true,
                                             "{$", "}", -1));
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const std::string expected = "<a href=far.html>";
    std::string read(expected.size() + 1, '?');
    EXPECT_EQ(::pread(fd, read.data(), read.size(), offset), static_cast<ssize_t>(expected.size()));
    read.resize(expected.size());
    EXPECT_EQ(read, expected);
    EXPECT_EQ(::lseek(fd, 0, SEEK_END), offset + static_cast<std::int64_t>(expected.size()));
    ::close(fd);
}
