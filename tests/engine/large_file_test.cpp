// A file over 2 GiB: sizes and positions must not wrap at 32 bits. The file
// is sparse, so it costs little disk space.
#include "core/pattern.h"
#include "engine/fs/file_io.h"
#include "engine/file_ops.h"
#include "engine/run/stream_match.h"
#include "testutil/peak_memory.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

using namespace quillet::core;
using quillet::testutil::peakMemoryKiB;
using quillet::testutil::resetPeakMemory;

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

// Only Search streams the file: a match past 2 GiB is found without the file
// ever being held in memory (the peak of resident memory stays far below its
// size). Positions past 2 GiB are checked by the slow test below, which
// rewrites at one.
TEST(LargeFile, MatchesFoundPastTwoGibibytes) {
    quillet::testutil::TempDir dir;
    const std::string path = dir.file("big.bin");
    const std::int64_t offset = (std::int64_t{1} << 31) + 4096;
    ASSERT_TRUE(writeSparse(path, offset, "<a href=far.htm>"));
    const bool peakReset = resetPeakMemory();
    EXPECT_TRUE(quillet::engine::FileMatches(path, "HREF=*.htm>", false));
    if (peakReset) {
        EXPECT_LT(peakMemoryKiB(), 256 * 1024);
    }
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
