// Only Search reads a file through a small buffer; its answer must be that of
// matching the whole text, also when a piece straddles two reads.
#include "engine/run/stream_match.h"

#include "core/error.h"
#include "core/text_ops.h"
#include "engine/fs/file_io.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

using quillet::engine::FileMatches;
using quillet::testutil::TempDir;

TEST(FileMatches, AgreesWithWholeTextMatchingAcrossReadBoundaries) {
    TempDir dir;
    std::mt19937 rng(5);
    const char* patterns[] = {"ab", "a*b", "ab*BA*a", "*", "**", "*b", "a*", "xax", "abab*b", "BbBb"};
    constexpr std::size_t kRead = 256 * 1024;
    int matched = 0;
    for (int iter = 0; iter < 40; ++iter) {
        std::string text(kRead * 2 + 1000 + rng() % 1000, 'x');
        // A few letters, most of them close to where one read ends.
        for (int k = 0; k < 6; ++k) {
            const std::size_t near = kRead * (1 + rng() % 2) + rng() % 9 - 4;
            const std::size_t at = rng() % 3 == 0 ? rng() % text.size() : near;
            text[at % text.size()] = "abAB"[rng() % 4];
        }
        if (iter == 0)
            text.clear();
        const std::string path = dir.write("t.txt", text);
        for (const char* pattern : patterns) {
            for (bool caseSensitive : {true, false}) {
                const bool expected = quillet::core::TextMatches(text, pattern, caseSensitive);
                EXPECT_EQ(FileMatches(path, pattern, caseSensitive), expected)
                    << "pattern '" << pattern << "', iteration " << iter << (caseSensitive ? ", case" : "");
                matched += expected;
            }
        }
    }
    EXPECT_GT(matched, 200);
}

// The search stops reading where a read meets the size the file had when it
// was opened; a file that grew before that read, or whose size reads as 0,
// is still searched to its end.
TEST(FileMatches, SearchesAFileToTheEndItHasWhenItIsRead) {
    TempDir dir;
    constexpr std::size_t kRead = 256 * 1024;
    const struct {
        std::size_t before; // size when opened
        std::size_t after;  // size when read; the last bytes are "tail"
    } cases[] = {{0, 10}, {1, 10}, {100, 101}, {100, 5000}, {kRead - 1, kRead + 10}, {kRead, 3 * kRead}};
    for (const auto& c : cases) {
        for (std::size_t stretches : {1u, 3u}) { // read by one thread, or split among three
            std::string text(c.after, 'x');
            text.replace(text.size() - 4, 4, "tail");
            const std::string path = dir.write("grows.txt", text.substr(0, c.before));
            quillet::engine::FileReader reader(path);
            dir.write("grows.txt", text); // the same file, grown
            EXPECT_TRUE(FileMatches(reader, "tail", true, {}, {0, stretches}))
                << c.before << " -> " << c.after << ", " << stretches << " stretches";
        }
    }
    // A file that hands out bytes its size does not count.
    const char* reported0 = "/proc/self/maps";
    std::ifstream in(reported0);
    const std::string maps((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(maps.size(), 4096u);
    const std::string lastLine = maps.substr(maps.rfind('\n', maps.size() - 2) + 1);
    EXPECT_TRUE(FileMatches(reported0, lastLine.substr(lastLine.size() - 12, 11), true)) << lastLine;
}

TEST(FileMatches, RaisesTheReadErrorsOfAWholeRead) {
    TempDir dir;
    EXPECT_THROW(FileMatches(dir.file("missing"), "x", false), quillet::Error);
    EXPECT_THROW(FileMatches(dir.path().string(), "x", false), quillet::Error);
}

// Without regard to case a match can be longer than its piece (the Kelvin
// sign for "k"), and whether a stray byte matches hangs on the bytes after
// it: both straddling the end of a read.
TEST(FileMatches, FoldedMatchesStraddlingReadBoundaries) {
    TempDir dir;
    constexpr std::size_t kRead = 256 * 1024;
    struct Case {
        std::string_view piece; // placed so that it ends just past a read
        std::string_view pattern;
    };
    const Case cases[] = {
        {"\u212A", "k"},      {"k", "\u212A"},   {"x\u017Fy", "XSY"},     {"\xC3\xA9", "\xC3"},
        {"\xC3\xA9", "\xA9"}, {"\xC3!", "\xC3"}, {"\u1C80\u0442", "в*Т"}, {"\U00010400", "\U00010428"},
    };
    for (const Case& c : cases) {
        for (std::size_t shift = 0; shift < 8; ++shift) {
            std::string text(kRead + shift - 4, '.');
            text += c.piece;
            text += std::string(100, '.');
            const std::string path = dir.write("t.txt", text);
            const bool expected = quillet::core::TextMatches(text, c.pattern, false);
            EXPECT_EQ(FileMatches(path, c.pattern, false), expected)
                << "pattern '" << c.pattern << "', piece ending " << shift << " bytes from a read's end";
        }
    }
}

// A large file is searched by several threads, one stretch each. A match
// that straddles two stretches is the first one's to find, also where the
// first one's reads end just past the cut (n: how far); whether a folded or
// stray byte matches on either side of a cut hangs on the bytes across it.
TEST(FileMatches, SplitAmongThreadsAgreesWithWholeTextMatching) {
    TempDir dir;
    constexpr std::size_t kRead = 256 * 1024;
    for (std::size_t n = 0; n < 16; ++n) {
        const std::size_t half = kRead + 12 - n;
        std::string text(2 * half, '.');
        text.replace(half - 2, 6, "needle");
        const std::string path = dir.write("t.txt", text);
        quillet::engine::FileReader reader(path);
        EXPECT_TRUE(FileMatches(reader, "needle", true, {}, {0, 2})) << "first reads ending " << n << " bytes short";
    }
    struct Case {
        std::string_view piece; // placed across the cut
        std::string_view pattern;
    };
    const Case cases[] = {
        {"needle", "NEEDLE"}, {"\u212A", "k"},      {"k", "\u212A"},   {"x\u017Fy", "XSY"},
        {"\xC3\xA9", "\xC3"}, {"\xC3\xA9", "\xA9"}, {"\xC3!", "\xC3"},
    };
    for (const Case& c : cases) {
        for (std::size_t stretches : {2u, 3u}) {
            for (std::size_t shift = 0; shift < 8; ++shift) {
                // The first cut falls at a third or a half of 120 bytes.
                std::string text(120, '.');
                text.replace(120 / stretches + shift - 4, c.piece.size(), c.piece);
                const std::string path = dir.write("t.txt", text);
                for (bool caseSensitive : {true, false}) {
                    quillet::engine::FileReader reader(path);
                    EXPECT_EQ(FileMatches(reader, c.pattern, caseSensitive, {}, {0, stretches}),
                              quillet::core::TextMatches(text, c.pattern, caseSensitive))
                        << "pattern '" << c.pattern << "', " << stretches << " stretches, shift " << shift
                        << (caseSensitive ? ", case" : "");
                }
            }
        }
    }
}
