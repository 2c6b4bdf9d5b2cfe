#include "core/text_diff.h"

#include "core/text_ops.h"
#include "testutil/run_process.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace quillet::core {
namespace {

using testutil::runProcess;
using testutil::TempDir;

class StringSink : public TextSink {
public:
    std::string text;
    int keeps = 0;
    void clear() override { text.clear(); }
    void reserve(std::size_t bytes) override { text.reserve(bytes); }
    void append(std::string_view bytes) override { text += bytes; }
    void keep(std::string_view piece) override {
        ++keeps;
        text += piece;
    }
};

std::string diffOf(std::string_view oldText, std::string_view newText, const std::vector<KeptStretch>* kept,
                   DiffColor color = DiffColor::None) {
    std::string out;
    WriteUnifiedDiff(out, "a/X", "b/X", oldText, newText, kept, color);
    return out;
}

// The equal bytes at both ends, as a record of what was kept.
std::vector<KeptStretch> prefixAndSuffix(std::string_view a, std::string_view b) {
    std::size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
        ++suffix;
    std::vector<KeptStretch> kept;
    if (prefix > 0)
        kept.push_back({0, 0, prefix});
    if (suffix > 0)
        kept.push_back({a.size() - suffix, b.size() - suffix, suffix});
    return kept;
}

// Applies a unified diff as `patch` would, strictly: every context and
// removed line must be where the hunk header says, and the header's counts
// must match its lines. Sets `failure` when the diff does not apply.
std::string applyDiff(const std::string& oldText, const std::string& diff, std::string& failure) {
    auto splitLines = [](const std::string& text) {
        std::vector<std::string> out;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t nl = text.find('\n', at);
            const std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
            out.push_back(text.substr(at, end - at));
            at = end;
        }
        return out;
    };
    const std::vector<std::string> oldLines = splitLines(oldText);
    std::vector<std::string> lines = splitLines(diff);
    if (lines.size() < 2 || lines[0] != "--- a/X\n" || lines[1] != "+++ b/X\n")
        return failure = "no header", std::string();
    std::string result;
    std::size_t copied = 0; // old lines handled so far
    for (std::size_t i = 2; i < lines.size();) {
        long oldStart = 0, oldCount = 1, newStart = 0, newCount = 1;
        if (std::sscanf(lines[i].c_str(), "@@ -%ld,%ld +%ld,%ld @@", &oldStart, &oldCount, &newStart, &newCount) != 4 &&
            std::sscanf(lines[i].c_str(), "@@ -%ld +%ld,%ld @@", &oldStart, &newStart, &newCount) != 3 &&
            std::sscanf(lines[i].c_str(), "@@ -%ld,%ld +%ld @@", &oldStart, &oldCount, &newStart) != 3 &&
            std::sscanf(lines[i].c_str(), "@@ -%ld +%ld @@", &oldStart, &newStart) != 2)
            return failure = "bad hunk header: " + lines[i], std::string();
        const auto begin = static_cast<std::size_t>(oldCount == 0 ? oldStart : oldStart - 1);
        if (begin < copied || begin > oldLines.size())
            return failure = "hunk out of place: " + lines[i], std::string();
        for (; copied < begin; ++copied)
            result += oldLines[copied];
        long seenOld = 0, seenNew = 0;
        for (++i; i < lines.size() && !lines[i].starts_with("@@"); ++i) {
            const char mark = lines[i][0];
            std::string body = lines[i].substr(1);
            if (i + 1 < lines.size() && lines[i + 1] == "\\ No newline at end of file\n") {
                body.pop_back();
                ++i;
            }
            if (mark == ' ' || mark == '-') {
                if (copied >= oldLines.size() || oldLines[copied] != body)
                    return failure = "old line " + std::to_string(copied + 1) + " differs", std::string();
                ++copied;
                ++seenOld;
            } else if (mark != '+') {
                return failure = "bad line: " + lines[i], std::string();
            }
            if (mark != '-') {
                result += body;
                ++seenNew;
            }
        }
        if (seenOld != oldCount || seenNew != newCount)
            return failure = "hunk counts do not match its lines", std::string();
    }
    for (; copied < oldLines.size(); ++copied)
        result += oldLines[copied];
    return result;
}

struct DiffCase {
    const char* name;
    std::string oldText;
    std::string newText;
};

std::string numbered(int from, int to, const char* end = "\n") {
    std::string out;
    for (int i = from; i <= to; ++i)
        out += std::to_string(i) + end;
    return out;
}

const std::vector<DiffCase>& diffCases() {
    static const std::vector<DiffCase> cases = {
        {"one line in the middle", numbered(1, 20), numbered(1, 9) + "ten\n" + numbered(11, 20)},
        {"first line", numbered(1, 10), "one\n" + numbered(2, 10)},
        {"last line", numbered(1, 10), numbered(1, 9) + "ten\n"},
        {"old lacks the final line break", "a\nb\nc", "a\nB\nc\n"},
        {"new lacks the final line break", "a\nb\nc\n", "a\nb\nc"},
        {"both lack it, last line changed", "a\nb\nc", "a\nb\nC"},
        {"both lack it, first line changed", "a\nb\nc", "A\nb\nc"},
        {"gap of six lines: one hunk", numbered(1, 12), "1\nX\n" + numbered(3, 8) + "Y\n" + numbered(10, 12)},
        {"gap of seven lines: two hunks", numbered(1, 14), "1\nX\n" + numbered(3, 9) + "Y\n" + numbered(11, 14)},
        {"insert only", numbered(1, 10), numbered(1, 5) + "new a\nnew b\n" + numbered(6, 10)},
        {"insert at the start", numbered(1, 5), "zero\n" + numbered(1, 5)},
        {"insert at the end", numbered(1, 5), numbered(1, 5) + "six\n"},
        {"delete only", numbered(1, 10), numbered(1, 4) + numbered(8, 10)},
        {"delete the first line", numbered(1, 5), numbered(2, 5)},
        {"from empty", "", "a\nb\n"},
        {"to empty", "a\nb\n", ""},
        {"one line without break to empty", "x", ""},
        {"CRLF lines", "a\r\nb\r\nc\r\n", "a\r\nB\r\nc\r\n"},
        {"CRLF to LF", "a\r\nb\r\n", "a\nb\n"},
        {"several changes in one line", "ab ab ab\nzz\n", "xy ab xy\nzz\n"},
        {"changes far apart", numbered(1, 40), "0\n" + numbered(2, 20) + "X\n" + numbered(22, 39) + "Z\n"},
        {"equal texts", numbered(1, 5), numbered(1, 5)},
        {"empty lines", "\n\n\n", "\n\nx\n"},
        {"a removed repeated line shows as low as it goes", "A\nb\n\n\nc\n", "B\nb\n\nc\n"},
        {"an added repeated line too", "A\nb\n\nc\n", "B\nb\n\n\nc\n"},
        {"a change that splits a line", "one two\nthree\n", "one\ntwo\nthree\n"},
    };
    return cases;
}

class TextDiffTest : public ::testing::Test {
protected:
    static bool have(const char* program) { return access(program, X_OK) == 0; }
    TempDir dir;
};

TEST_F(TextDiffTest, WritesWhatGnuDiffWrites) {
    if (!have("/usr/bin/diff"))
        GTEST_SKIP() << "no /usr/bin/diff to compare with";
    for (const DiffCase& c : diffCases()) {
        const std::string oldPath = dir.write("old", c.oldText);
        const std::string newPath = dir.write("new", c.newText);
        const std::string expected =
            runProcess("/usr/bin/diff", {"-u", "--label", "a/X", "--label", "b/X", oldPath, newPath}).Out;
        EXPECT_EQ(diffOf(c.oldText, c.newText, nullptr), expected) << c.name;
        const std::vector<KeptStretch> kept = prefixAndSuffix(c.oldText, c.newText);
        EXPECT_EQ(diffOf(c.oldText, c.newText, &kept), expected) << c.name << " (with kept stretches)";
    }
}

TEST_F(TextDiffTest, ColoursAsGit) {
    EXPECT_EQ(diffOf("a\nb\n", "a\nc", nullptr, DiffColor::Ansi), "\033[1m--- a/X\033[m\n"
                                                                  "\033[1m+++ b/X\033[m\n"
                                                                  "\033[36m@@ -1,2 +1,2 @@\033[m\n"
                                                                  " a\n"
                                                                  "\033[31m-b\033[m\n"
                                                                  "\033[32m+c\033[m\n"
                                                                  "\\ No newline at end of file\n");
}

TEST_F(TextDiffTest, BinaryWhenANulByteIsAmongTheFirst8KiB) {
    struct Case {
        std::string oldText, newText;
        bool binary;
    } cases[] = {
        {std::string("a\0b\n", 4), "a\n", true},
        {"a\n", std::string("a\0\n", 3), true},
        {std::string(8191, 'x') + std::string(1, '\0'), "y", true},
        {std::string(8192, 'x') + std::string(1, '\0'), "y", false},
    };
    for (const Case& c : cases) {
        const std::string out = diffOf(c.oldText, c.newText, nullptr);
        EXPECT_EQ(out == "Binary files a/X and b/X differ\n", c.binary) << c.oldText.size() << " " << out.size();
    }
    EXPECT_EQ(diffOf(std::string("\0", 1), std::string("\0", 1), nullptr), "") << "equal texts never differ";
}

TEST_F(TextDiffTest, ARecordThatDoesNotFitTheTextsIsNotTrusted) {
    const std::string a = numbered(1, 10);
    const std::string b = numbered(1, 4) + "five\n" + numbered(6, 10);
    const std::string expected = diffOf(a, b, nullptr);
    const std::vector<std::vector<KeptStretch>> records = {
        {{0, 0, a.size()}},     // claims everything was kept
        {{0, 0, 100}},          // runs past the end
        {{8, 8, 4}, {0, 0, 4}}, // out of order
        {{0, 0, 8}, {6, 9, 2}}, // overlapping
        {{1, 0, 4}},            // bytes that differ
    };
    for (const std::vector<KeptStretch>& kept : records) {
        std::string failure;
        EXPECT_EQ(applyDiff(a, diffOf(a, b, &kept), failure), b) << failure;
    }
}

TEST(KeptStretchRecorderTest, RecordsKeptPiecesWhereTheyStandInBothTexts) {
    const std::string input = "0123456789";
    const std::string_view in(input);
    StringSink inner;
    KeptStretchRecorder recorder(inner, in);
    recorder.keep(in.substr(0, 2)); // "01"
    recorder.keep(in.substr(2, 1)); // "2": adjacent in both, joins the first
    recorder.append("ab");          // new bytes
    recorder.keep(in.substr(3, 0)); // empty: not recorded
    recorder.keep(in.substr(5, 3)); // "567": "34" dropped
    recorder.keep(in.substr(8, 2)); // "89": joins
    EXPECT_EQ(inner.text, "012ab56789");
    EXPECT_EQ(inner.keeps, 5) << "every call reaches the inner sink";
    const std::vector<KeptStretch> expected = {{0, 0, 3}, {5, 5, 5}};
    EXPECT_EQ(recorder.stretches(), expected);
    recorder.clear();
    EXPECT_TRUE(recorder.stretches().empty());
    recorder.keep(in.substr(4, 2));
    EXPECT_EQ(recorder.stretches(), (std::vector<KeptStretch>{{4, 0, 2}}));
}

// Two replacements on neighbouring lines, joined only by the part of a line
// between them, came out as two changes, each line removed and added in
// turn; `diff` shows them as one block.
TEST_F(TextDiffTest, ChangesJoinedByPartOfALineShowAsOneBlock) {
    const std::string old = "ab a\nb ab\nxx\n";
    StringSink sink;
    KeptStretchRecorder recorder(sink, old);
    ProcessText(recorder, old, OpReplaceText, "ab", true, "Q\n", false, kTagOpen, kTagClose, 0);
    EXPECT_EQ(diffOf(old, sink.text, &recorder.stretches()), "--- a/X\n"
                                                             "+++ b/X\n"
                                                             "@@ -1,3 +1,5 @@\n"
                                                             "-ab a\n"
                                                             "-b ab\n"
                                                             "+Q\n"
                                                             "+ a\n"
                                                             "+b Q\n"
                                                             "+\n"
                                                             " xx\n");
}

// Random texts, rewritten by the real text operations through a recorder:
// the diff with the record and the diff without it must both turn the old
// text into the new one.
TEST_F(TextDiffTest, DiffsOfRandomRewritesApply) {
    std::mt19937 rng(7);
    const std::string alphabets[] = {"ab\n\n \r", "aabb b\n"};
    const char* patterns[] = {"a", "ab", "b*\n", "\n", "a*b", "\n\n", "ba"};
    const char* newTexts[] = {"", "x", "\n", "y\nz", "{$1}{$1}", "a\n"};
    int checkedWithPatch = 0;
    for (std::size_t round = 0; round < 3000; ++round) {
        std::string old(std::uniform_int_distribution<std::size_t>(0, 80)(rng), ' ');
        const std::string& alphabet = alphabets[round % 2];
        for (char& ch : old)
            ch = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
        const char* pattern = patterns[round % std::size(patterns)];
        const char* newText = newTexts[(round / 7) % std::size(newTexts)];
        const std::uint8_t operation = static_cast<std::uint8_t>(1 + round % 3);
        StringSink sink;
        KeptStretchRecorder recorder(sink, old);
        ProcessText(recorder, old, operation, pattern, true, newText, true, kTagOpen, kTagClose,
                    round % 5 == 0 ? 2 : 0);
        const std::string& now = sink.text;
        for (const bool withRecord : {true, false}) {
            const std::string diff = diffOf(old, now, withRecord ? &recorder.stretches() : nullptr);
            std::string failure;
            const std::string applied = old == now ? old : applyDiff(old, diff, failure);
            ASSERT_EQ(applied, now) << "round " << round << " record " << withRecord << " " << failure << "\n" << diff;
            if (withRecord && round % 100 == 0 && old != now && have("/usr/bin/patch")) {
                dir.write("X", old);
                dir.write("x.diff", diff);
                const auto r = runProcess("/usr/bin/patch", {"-s", "--binary", "-p1", "-i", "x.diff", "-o", "out"}, {},
                                          dir.path().string());
                EXPECT_EQ(r.ExitCode, 0) << "round " << round << r.Err << r.Out;
                EXPECT_EQ(testutil::readFile(dir.path() / "out"), now) << "round " << round;
                ++checkedWithPatch;
            }
        }
    }
    if (have("/usr/bin/patch")) {
        EXPECT_GT(checkedWithPatch, 10);
    }
}

// On a large text the record keeps the diff to the changed lines: one hunk
// per change that stands apart, where the general diff would give up and
// show the whole middle as one change.
TEST_F(TextDiffTest, KeptStretchesGiveOneHunkPerChangeOnALargeText) {
    std::string old;
    for (int i = 0; i < 200000; ++i)
        old += "line " + std::to_string(i) + (i % 1000 == 500 ? " target\n" : "\n");
    StringSink sink;
    KeptStretchRecorder recorder(sink, old);
    ProcessText(recorder, old, OpReplaceText, "target", true, "hit", false, kTagOpen, kTagClose, 0);
    const std::string diff = diffOf(old, sink.text, &recorder.stretches());
    std::size_t hunks = 0;
    for (std::size_t at = diff.find("\n@@ "); at != std::string::npos; at = diff.find("\n@@ ", at + 1))
        ++hunks;
    EXPECT_EQ(hunks, 200u);
    EXPECT_NE(diff.find("@@ -498,7 +498,7 @@\n line 497\n line 498\n line 499\n-line 500 target\n+line 500 hit\n"),
              std::string::npos);
    std::string failure;
    EXPECT_EQ(applyDiff(old, diff, failure), sink.text) << failure;
}

} // namespace
} // namespace quillet::core
