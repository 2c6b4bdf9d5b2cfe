#include "engine/keep/journal_settings.h"

#include "core/error.h"
#include "testutil/error_of.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillet::engine;
using quillet::Error;
using quillet::testutil::errorOf;

namespace {} // namespace

TEST(JournalLimitsFile, ReadsSettingsAndNamesTheBadLine) {
    struct Case {
        const char* text;
        std::size_t runs;
        std::int64_t bytes;
        const char* error;
    };
    const Case cases[] = {
        {"", 20, 1 << 30, ""},
        {"# nothing\n\n", 20, 1 << 30, ""},
        {"max-runs = 3\nmax-bytes = 1K\n", 3, 1024, ""},
        {"max-runs=7 # few\nmax-bytes=5M", 7, 5 << 20, ""},
        {"  max-bytes = 2G\r\n", 20, std::int64_t{2} << 30, ""},
        {"max-bytes = 12345", 20, 12345, ""},
        {"max-runs = 0\n", 0, 0, "Cannot use \"j.conf\", line 1: not a number of runs (at least 1): \"0\""},
        {"\nmax-bytes = 1Q\n", 0, 0, "Cannot use \"j.conf\", line 2: not a number of bytes: \"1Q\""},
        {"max-bytes = -1\n", 0, 0, "Cannot use \"j.conf\", line 1: not a number of bytes: \"-1\""},
        {"max-bytes = 99999999999T\n", 0, 0, "Cannot use \"j.conf\", line 1: not a number of bytes: \"99999999999T\""},
        {"keep = 3\n", 0, 0, "Cannot use \"j.conf\", line 1: unknown setting \"keep\""},
        {"max-runs 3\n", 0, 0, "Cannot use \"j.conf\", line 1: expected name = value"},
    };
    for (const Case& c : cases) {
        JournalLimits limits;
        const std::string error = errorOf([&] { limits = ParseJournalLimits(c.text, "j.conf"); });
        if (*c.error != '\0') {
            EXPECT_EQ(error, c.error) << c.text;
            continue;
        }
        EXPECT_EQ(error, "(no error)") << c.text;
        EXPECT_EQ(limits.MaxRuns, c.runs) << c.text;
        EXPECT_EQ(limits.MaxBytes, c.bytes) << c.text;
    }
}

// A FIFO named journal.conf hung every run that writes.
TEST(JournalLimitsFile, AFifoOrAFolderInItsPlaceIsRefusedWithoutWaiting) {
    const quillet::testutil::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.path() / "folder");
    for (const char* name : {"fifo", "folder"}) {
        JournalPlace place;
        place.ConfigFile = dir.file(name);
        ::alarm(20);
        EXPECT_EQ(errorOf([&] { LoadJournalLimits(place); }),
                  "Cannot read \"" + place.ConfigFile + "\". It is not a regular file");
        ::alarm(0);
    }
}

TEST(JournalPlaceTest, RelativeXdgDirectoriesAreIgnored) {
    const char* savedState = std::getenv("XDG_STATE_HOME");
    const std::string saved = savedState ? savedState : "";
    ::setenv("XDG_STATE_HOME", "relative/state", 1);
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    const JournalPlace place = JournalPlace::fromEnvironment();
    savedState ? (void)::setenv("XDG_STATE_HOME", saved.c_str(), 1) : (void)::unsetenv("XDG_STATE_HOME");
    EXPECT_TRUE(place.RunsDirectory.ends_with("/.local/state/quillet/runs")) << place.RunsDirectory;
    EXPECT_EQ(place.RunsDirectory.find("relative"), std::string::npos);
}
