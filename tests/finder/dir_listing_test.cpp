#include "finder/dir_listing.h"

#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet::finder {
namespace {

namespace fs = std::filesystem;
using testutil::TempDir;

// One directory holding every kind of entry the listing types.
class DirListingTest : public ::testing::Test {
protected:
    TempDir tmp;

    void SetUp() override {
        tmp.write("b.txt", "12345");
        tmp.write("ro.txt", "");
        fs::permissions(tmp.file("ro.txt"), fs::perms::owner_read | fs::perms::group_read);
        fs::create_directory(tmp.file("sub"));
        fs::create_directory(tmp.file(".git"));
        tmp.write(".hid", "");
        ASSERT_EQ(mkfifo(tmp.file("pipe").c_str(), 0644), 0);
        fs::create_symlink("b.txt", tmp.file("link"));
        fs::create_symlink("missing", tmp.file("dangle"));
        fs::create_directory_symlink("sub", tmp.file("dirlink"));
    }

    std::vector<TSearchRec> list(int attrMask, const std::string& dir) {
        std::vector<TSearchRec> entries;
        std::string error;
        EXPECT_TRUE(ListDirectory(dir, attrMask, entries, error)) << dir;
        EXPECT_EQ(error, "");
        return entries;
    }
    std::vector<TSearchRec> list(int attrMask) { return list(attrMask, tmp.path().string()); }

    static std::vector<std::string> names(const std::vector<TSearchRec>& entries) {
        std::vector<std::string> out;
        for (const TSearchRec& e : entries)
            out.push_back(e.Name);
        return out;
    }
};

// The walk lists the directories it holds open: the same entries as by path,
// also when the directory was renamed since it was opened, and again from the
// start on a second listing.
TEST_F(DirListingTest, AnOpenDirectoryListsAsItsPathDoesWhereverItMoved) {
    const int fd = open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const fs::path moved = tmp.path().string() + "-moved";
    for (int mask : {faAnyFile, faArchive, faDirectory | faHidden}) {
        const std::vector<TSearchRec> byPath = list(mask);
        fs::rename(tmp.path(), moved);
        for (int round = 0; round < 2; ++round) {
            std::vector<TSearchRec> entries;
            std::string error;
            EXPECT_TRUE(ListDirectoryAt(fd, mask, entries, error));
            EXPECT_EQ(names(entries), names(byPath)) << "mask " << mask << ", round " << round;
        }
        fs::rename(moved, tmp.path());
    }
    close(fd);
}

// A folder the walk holds open and someone removes meanwhile has nothing
// left to list, and that is no failure.
TEST(DirListingRemovedTest, AnOpenDirectoryRemovedMeanwhileListsNothing) {
    TempDir tmp;
    const std::string dir = tmp.file("gone");
    fs::create_directory(dir);
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    fs::remove(dir);
    std::vector<TSearchRec> entries(1);
    std::string error = "stale";
    EXPECT_TRUE(ListDirectoryAt(fd, faAnyFile, entries, error));
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(error, "");
    close(fd);
}

TEST_F(DirListingTest, TypesEveryKindOfEntryWithoutFollowingLinks) {
    struct Expect {
        const char* name;
        int attr;
        bool symlink;
    };
    const Expect expected[] = {
        {".", faDirectory, false},
        {"..", faDirectory, false},
        {".git", faDirectory | faHidden, false},
        {".hid", faArchive | faHidden, false},
        {"b.txt", faArchive, false},
        {"dangle", 0, true},
        {"dirlink", 0, true},
        {"link", 0, true},
        {"pipe", faSysFile, false},
        {"ro.txt", faArchive | faReadOnly, false},
        {"sub", faDirectory, false},
    };
    const std::vector<TSearchRec> entries = list(faAnyFile);
    ASSERT_EQ(entries.size(), std::size(expected)) << ::testing::PrintToString(names(entries));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].Name, expected[i].name) << "entry " << i;
        EXPECT_EQ(entries[i].Attr, expected[i].attr) << expected[i].name;
        EXPECT_EQ(entries[i].IsSymlink, expected[i].symlink) << expected[i].name;
        EXPECT_EQ(entries[i].isRegularFile(), (expected[i].attr & faArchive) != 0) << expected[i].name;
    }
    EXPECT_EQ(entries[4].Size, 5);
    struct stat st {};
    ASSERT_EQ(stat(tmp.file("b.txt").c_str(), &st), 0);
    EXPECT_EQ(entries[4].Time, static_cast<std::int64_t>(st.st_mtime));
}

// A listing by type only types every entry as the full one does, without the
// details that need a call per entry.
TEST_F(DirListingTest, TypeOnlyListingTypesAsTheFullOne) {
    const int fd = open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int mask : {faAnyFile, faArchive}) {
        std::vector<TSearchRec> full, typed;
        std::string error;
        ASSERT_TRUE(ListDirectoryAt(fd, mask, full, error, EntryDetail::Full));
        ASSERT_TRUE(ListDirectoryAt(fd, mask, typed, error, EntryDetail::TypeOnly));
        ASSERT_EQ(names(typed), names(full)) << mask;
        for (std::size_t i = 0; i < full.size(); ++i) {
            EXPECT_EQ(typed[i].Attr, full[i].Attr & ~faReadOnly) << full[i].Name;
            EXPECT_EQ(typed[i].IsSymlink, full[i].IsSymlink) << full[i].Name;
            EXPECT_EQ(typed[i].Size, -1) << full[i].Name;
        }
    }
    close(fd);
}

TEST_F(DirListingTest, ExclusionRuleLeavesOutHiddenSystemAndDirectoriesUnlessAsked) {
    const std::vector<std::string> plain = {"b.txt", "dangle", "dirlink", "link", "ro.txt"};
    struct Case {
        int mask;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {0, plain},
        {faReadOnly | faArchive | faVolumeId, plain}, // bits that filter nothing
        {faDirectory, {".", "..", "b.txt", "dangle", "dirlink", "link", "ro.txt", "sub"}},
        {faHidden, {".hid", "b.txt", "dangle", "dirlink", "link", "ro.txt"}},
        {faSysFile, {"b.txt", "dangle", "dirlink", "link", "pipe", "ro.txt"}},
        {faHidden | faDirectory, {".", "..", ".git", ".hid", "b.txt", "dangle", "dirlink", "link", "ro.txt", "sub"}},
        {faAnyFile & ~faDirectory, {".hid", "b.txt", "dangle", "dirlink", "link", "pipe", "ro.txt"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(names(list(c.mask)), c.expected) << "attrMask " << c.mask;
}

TEST_F(DirListingTest, TrailingSlashMakesNoDifference) {
    EXPECT_EQ(names(list(faAnyFile, tmp.path().string() + "/")), names(list(faAnyFile)));
}

TEST(DirListingOrderTest, DotEntriesFirstThenByteOrder) {
    TempDir tmp;
    for (const char* name : {"b", "B", "!bang", "a", "\xC3\xA9t\xC3\xA9", "-dash", "a.b", "a-b", "~", ".-x", ".a"})
        tmp.write(name, "");
    std::vector<TSearchRec> entries;
    std::string error;
    ASSERT_TRUE(ListDirectory(tmp.path().string(), faAnyFile, entries, error));
    std::vector<std::string> got;
    for (const TSearchRec& e : entries)
        got.push_back(e.Name);
    // "!" and "-" sort before "." in bytes, and ".-x" between "." and "..",
    // yet the dot entries lead; bytes above 127 sort last.
    const std::vector<std::string> expected = {
        ".", "..", "!bang", "-dash", ".-x", ".a", "B", "a", "a-b", "a.b", "b", "~", "\xC3\xA9t\xC3\xA9"};
    EXPECT_EQ(got, expected);
}

TEST(DirListingFailureTest, DirectoryThatCannotBeOpened) {
    TempDir tmp;
    const std::string file = tmp.write("plain", "x");
    struct Case {
        std::string directory;
        std::string reason;
    };
    const Case cases[] = {
        {tmp.file("missing"), "No such file or directory"},
        {file, "Not a directory"},
        {"", "No such file or directory"},
    };
    for (const Case& c : cases) {
        std::vector<TSearchRec> entries(2); // stale content is dropped
        std::string error = "stale";
        EXPECT_FALSE(ListDirectory(c.directory, faAnyFile, entries, error)) << c.directory;
        EXPECT_TRUE(entries.empty()) << c.directory;
        EXPECT_EQ(error, c.reason) << c.directory;
    }
}

TEST(DirListingFailureTest, UnreadableDirectory) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads directories whatever their mode";
    TempDir tmp;
    const std::string dir = tmp.file("locked");
    fs::create_directory(dir);
    tmp.write("locked/a.txt", "");
    fs::permissions(dir, fs::perms::none);
    std::vector<TSearchRec> entries;
    std::string error;
    EXPECT_FALSE(ListDirectory(dir, faAnyFile, entries, error));
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(error, "Permission denied");
}

TEST(DirListingFailureTest, ReadableButNotSearchableDirectoryIsTypedFromTheListing) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root searches directories whatever their mode";
    TempDir tmp;
    const std::string dir = tmp.file("listonly");
    tmp.write("listonly/a.txt", "abc");
    fs::create_directory(tmp.file("listonly/sub"));
    fs::permissions(dir, fs::perms::owner_read);
    // By path, and open (where it cannot be opened again through its ".").
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<TSearchRec> byPath;
    std::vector<TSearchRec> open[2];
    std::string error;
    ASSERT_TRUE(ListDirectory(dir, faArchive, byPath, error));
    for (std::vector<TSearchRec>& entries : open)
        ASSERT_TRUE(ListDirectoryAt(fd, faArchive, entries, error)) << error;
    close(fd);
    fs::permissions(dir, fs::perms::owner_all);
    // The entries cannot be examined, yet they keep the kind the listing gave.
    for (const std::vector<TSearchRec>* entries : {&byPath, &open[0], &open[1]}) {
        ASSERT_EQ(entries->size(), 1U);
        EXPECT_EQ((*entries)[0].Name, "a.txt");
        EXPECT_EQ((*entries)[0].Attr, faArchive);
    }
}

TEST_F(DirListingTest, MatchingFilesAreRegularVisibleAndFitAnyMask) {
    tmp.write("a.htm", "");
    tmp.write("B.HTML", "");
    tmp.write("c.htmx", "");
    tmp.write(".x.htm", "");
    fs::create_directory(tmp.file("old.htm"));
    fs::create_symlink("a.htm", tmp.file("l.htm"));
    ASSERT_EQ(mkfifo(tmp.file("p.htm").c_str(), 0644), 0);

    struct Case {
        std::string masks;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"*.htm;*.html", {"B.HTML", "a.htm"}},
        {"*.HTM", {"a.htm"}},
        {"*", {"B.HTML", "a.htm", "b.txt", "c.htmx", "ro.txt"}},
        {"*.*", {"B.HTML", "a.htm", "b.txt", "c.htmx", "ro.txt"}},
        {"", {}},
        {";", {}},
        {"*.none", {}},
    };
    for (const Case& c : cases) {
        std::string error = "stale";
        EXPECT_EQ(ListMatchingFiles(tmp.path().string(), c.masks, &error), c.expected) << "masks \"" << c.masks << "\"";
        EXPECT_EQ(error, "");
    }
    EXPECT_EQ(ListMatchingFiles(tmp.path().string() + "/", "*.htm"), std::vector<std::string>{"a.htm"});
}

TEST(ListMatchingFilesTest, MissingDirectoryGivesEmptyListAndReason) {
    TempDir tmp;
    std::string error;
    EXPECT_TRUE(ListMatchingFiles(tmp.file("gone"), "*", &error).empty());
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_TRUE(ListMatchingFiles(tmp.file("gone"), "*").empty());
}

} // namespace
} // namespace quillet::finder
