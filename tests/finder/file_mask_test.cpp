#include "finder/file_mask.h"

#include "finder/dir_listing.h"
#include "finder/file_finder.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <fnmatch.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quillet::finder {
namespace {

namespace fs = std::filesystem;
using testutil::TempDir;

std::vector<std::string> split(const std::string& text, char at) {
    std::vector<std::string> pieces;
    std::size_t from = 0;
    for (std::size_t cut; (cut = text.find(at, from)) != std::string::npos; from = cut + 1)
        pieces.push_back(text.substr(from, cut - from));
    pieces.push_back(text.substr(from));
    return pieces;
}

bool glob(const std::string& pattern, const std::string& text, int flags = 0) {
    return fnmatch(pattern.c_str(), text.c_str(), FNM_NOESCAPE | FNM_CASEFOLD | flags) == 0;
}

// Whether `mask` takes the file at `path` (relative to the start folder),
// read straight from the syntax: whole paths and their folder prefixes against
// fnmatch, nothing shared with the code under test. Masks fed to it avoid "["
// and the single scan's lenient shapes, where fnmatch would disagree.
bool referenceTakes(const std::string& mask, const std::string& path) {
    const std::vector<std::string> segments = split(path, '/');
    const std::string& name = segments.back();
    bool anyInclude = false, included = false, anyExclude = false;
    for (std::string token : split(mask, ';')) {
        if (token.empty())
            continue;
        if (token[0] != '!') {
            anyInclude = true;
            included = included || glob(token, name);
            continue;
        }
        anyExclude = true;
        token.erase(0, 1);
        const bool folder = !token.empty() && token.back() == '/';
        if (folder)
            token.pop_back();
        const bool anchored = !token.empty() && token[0] == '/';
        if (anchored)
            token.erase(0, 1);
        if (token.empty())
            continue;
        const bool byPath = anchored || token.find('/') != std::string::npos;
        if (!folder && glob(token, byPath ? path : name, byPath ? FNM_PATHNAME : 0))
            return false;
        std::string prefix;
        for (std::size_t i = 0; folder && i + 1 < segments.size(); ++i) {
            prefix += (i == 0 ? "" : "/") + segments[i];
            if (glob(token, byPath ? prefix : segments[i], byPath ? FNM_PATHNAME : 0))
                return false;
        }
    }
    return anyInclude ? included : anyExclude;
}

// Files of the tree the masks are tried on. "Build" is a folder at the top,
// "lib/build" a file; no folder here begins with ".".
const std::vector<std::string> kTree = split("a.js a.min.js README notes.txt Build/x.js lib/build "
                                             "node_modules/p.js node_modules/q.min.js "
                                             "src/b.js src/b.min.js src/notes.txt src/build/y.js "
                                             "src/node_modules/r.js src/docs/old/f.js docs/a.html docs/b.js "
                                             "docs/old/c.html docs/old2/d.html docs/sub/e.html vendor/lib/g.js",
                                             ' ');

class FileMaskTreeTest : public ::testing::Test {
protected:
    TempDir tmp;

    void SetUp() override {
        for (const std::string& path : kTree)
            tmp.write(path, "x");
    }

    std::vector<std::string> walk(const std::string& mask) {
        TFileFinder finder;
        finder.Root = tmp.path().string();
        finder.FuzzySearch = true;
        finder.Filename = mask;
        std::vector<std::string> found;
        finder.OnFileFound = [&](TFileFinder&, const std::string& directory, TSearchRec rec, bool&) {
            if (rec.isRegularFile())
                found.push_back(directory.substr(tmp.path().string().size() + 1) + rec.Name);
        };
        finder.Start();
        std::sort(found.begin(), found.end());
        return found;
    }
};

TEST_F(FileMaskTreeTest, WalkAndListingTakeWhatTheReferenceTakes) {
    // In "*.html; !docs/*" the space makes the second token an including one.
    const char* const masks[] = {"*",
                                 "*.js",
                                 "*.js;!*.min.js",
                                 "!*.min.js;*.js",
                                 "!*.min.js",
                                 "!node_modules/",
                                 "*.js;!NODE_MODULES/;!*.min.js",
                                 "!build/",
                                 "!/build/",
                                 "!build",
                                 "!docs/old/",
                                 "!docs/*.html",
                                 "!/docs/*/",
                                 "!*/old/",
                                 "!/notes.txt",
                                 "!notes.txt",
                                 "!docs/old/;!*.js",
                                 "!*/",
                                 "!src/*/",
                                 "!vendor/lib/",
                                 "!vendor/lib/g.js;!a.*",
                                 "!",
                                 "!/",
                                 "*.JS;!SRC/",
                                 "*.html; !docs/*",
                                 "*.txt;;!",
                                 "",
                                 ";"};
    for (const std::string mask : masks) {
        std::vector<std::string> expected;
        for (const std::string& path : kTree)
            if (referenceTakes(mask, path))
                expected.push_back(path);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(walk(mask), expected) << "mask \"" << mask << "\"";

        std::vector<std::string> topLevel;
        for (const std::string& path : expected)
            if (path.find('/') == std::string::npos)
                topLevel.push_back(path);
        EXPECT_EQ(ListMatchingFiles(tmp.path().string(), mask), topLevel) << "mask \"" << mask << "\"";
    }
}

// Anchors for the reference: what the issue asks, written out.
TEST_F(FileMaskTreeTest, TheIssuesExamples) {
    EXPECT_EQ(walk("*.js;!*.min.js;!node_modules/"),
              (std::vector<std::string>{"Build/x.js", "a.js", "docs/b.js", "src/b.js", "src/build/y.js",
                                        "src/docs/old/f.js", "vendor/lib/g.js"}));
    EXPECT_EQ(walk("*.html;!docs/old/"),
              (std::vector<std::string>{"docs/a.html", "docs/old2/d.html", "docs/sub/e.html"}));
    EXPECT_EQ(walk("*.html;!docs/*.html"),
              (std::vector<std::string>{"docs/old/c.html", "docs/old2/d.html", "docs/sub/e.html"}));
}

// The walk neither reports a left-out folder nor opens it: the folder is
// swapped for a file once listed, and opening it would fail with "Not a
// directory".
TEST_F(FileMaskTreeTest, ALeftOutFolderIsNeverOpened) {
    struct Case {
        const char* mask;
        std::vector<std::string> errors;
    } cases[] = {
        {"*", {"node_modules/: Not a directory"}},
        {"*;!node_modules/", {}},
        {"*;!/node_modules/", {}},
        {"*;!node_*/", {}},
    };
    for (const Case& c : cases) {
        TFileFinder finder;
        finder.Root = tmp.path().string();
        finder.FuzzySearch = true;
        finder.Filename = c.mask;
        std::vector<std::string> errors, reported;
        finder.OnDirectoryError = [&](const std::string& directory, const std::string& reason) {
            errors.push_back(directory.substr(tmp.path().string().size() + 1) + ": " + reason);
        };
        bool swapped = false;
        finder.OnFileFound = [&](TFileFinder&, const std::string& directory, TSearchRec rec, bool&) {
            reported.push_back(directory.substr(tmp.path().string().size() + 1) + rec.Name);
            if (std::exchange(swapped, true))
                return;
            fs::rename(tmp.file("node_modules"), tmp.file("parked"));
            tmp.write("node_modules", "a file now");
        };
        finder.Start();
        EXPECT_EQ(errors, c.errors) << "mask \"" << c.mask << "\"";
        EXPECT_EQ(std::count(reported.begin(), reported.end(), "node_modules"), c.errors.empty() ? 0 : 1)
            << "mask \"" << c.mask << "\"";
        fs::remove(tmp.file("node_modules"));
        fs::rename(tmp.file("parked"), tmp.file("node_modules"));
    }
}

TEST(FileMaskTest, TokensAgainstOneEntry) {
    struct Case {
        const char* mask;
        const char* below;
        const char* name;
        bool takes;
        bool leavesOutFolder;
    } cases[] = {
        {"*.c; *.h", "", "x.h", false, false}, // spaces belong to the token
        {"!x", "", "!x", true, false},         // a name that begins with "!" is left out by "!!"
        {"!!x", "", "!x", false, false},
        {"!!x", "", "x", true, false},
        {"!a//b", "a/", "b", true, false}, // an empty segment fits no name
        {"!a/b/", "a/", "b", true, true},
        {"!a/b/", "c/a/", "b", true, false}, // a path is anchored at the start folder
        {"!a*/", "", "ABC", true, true},     // case is ignored
        {"!*.c", "deep/er/", "X.C", false, false},
        {"!src/*.c", "src/deep/", "x.c", true, false}, // "*" stands for no "/"
        {"!src/**/x.c", "src/deep/", "x.c", false, false},
        {"!src/**/x.c", "src/a/b/", "x.c", true, false}, // "**" is one segment
        {"!build/", "", "build", true, true},            // a folder token leaves no file out
    };
    for (const Case& c : cases) {
        const FileMask mask(c.mask);
        EXPECT_EQ(mask.takes(c.below, c.name), c.takes) << c.mask << " on " << c.below << c.name;
        EXPECT_EQ(mask.leavesOutFolder(c.below, c.name), c.leavesOutFolder) << c.mask << " on " << c.below << c.name;
    }
    EXPECT_TRUE(FileMask("!*.C", false).takes("", "a.c")) << "case kept when asked";
    EXPECT_FALSE(FileMask("!*.C", false).takes("", "a.C"));
}

} // namespace
} // namespace quillet::finder
