// Runs over files with byte-order marks and over binary files: what is
// written, matched and passed over. The C library's iconv makes the encoded
// files and the bytes expected.
#include "engine/run/run.h"

#include "testutil/encoding_reference.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sys/stat.h>

using namespace quillet;
using namespace quillet::engine;
using namespace std::string_literals;
using quillet::testutil::Iconv;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;
using Encoding = FileOperation::Encoding;
using Binary = FileOperation::BinaryFiles;

namespace {

struct Form {
    const char* name; // iconv's, without a mark
    std::string mark;
};

const Form kForms[] = {
    {"UTF-16LE", "\xFF\xFE"}, {"UTF-16BE", "\xFE\xFF"}, {"UTF-32LE", "\xFF\xFE\0\0"s}, {"UTF-32BE", "\0\0\xFE\xFF"s}};

std::string encoded(const Form& form, std::string_view text) {
    return form.mark + Iconv(form.name, "UTF-8", text);
}

struct Ran {
    RunTotals totals;
    std::vector<std::string> results, passedOver, errors;
    std::string oldText, newText; // of the last change
};

Ran run(const std::vector<std::string>& paths, FileOperation op, int threads = 1) {
    op.ResultIsPattern = op.NewText.find("{$") != std::string::npos;
    RunRequest request;
    request.Entries = paths;
    request.Param = op;
    request.Threads = threads;
    request.KeepGoing = true;
    Ran ran;
    RunEvents events;
    events.OnResult = [&](const std::string& entry) { ran.results.push_back(entry); };
    events.OnPassedOver = [&](const std::string& path, std::string_view reason) {
        ran.passedOver.push_back(path + ": " + std::string(reason));
    };
    events.OnFileError = [&](const std::string&, const std::string& message) { ran.errors.push_back(message); };
    events.OnChanged = [&](const std::string&, std::string_view oldText, std::string_view newText, const auto*,
                           std::int64_t, std::uint64_t) {
        ran.oldText = oldText;
        ran.newText = newText;
    };
    ExecuteRun(request, events, &ran.totals);
    return ran;
}

FileOperation operation(std::uint8_t code, const std::string& pattern, const std::string& newText = "") {
    FileOperation op;
    op.Operation = code;
    op.SearchPattern = pattern;
    op.NewText = newText;
    return op;
}

ino_t inodeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

// Every form, with and without a change, with one thread or several (a
// worker that stages a rewrite ahead writes what the run's thread would).
// The run and its diff see the text, never the encoded bytes.
// A listener that notes only the old text is spared the new one; the rest
// of what it hears stays the same.
TEST(ChangedEvents, NewTextOnlyWhenAskedFor) {
    TempDir dir;
    const std::string path = dir.write("a.txt", "one foo two foo\n");
    for (const bool asked : {true, false}) {
        RunRequest request;
        request.Entries = {path};
        request.Param = operation(core::OpReplaceText, "foo", "bar");
        request.Param.DryRun = true;
        RunEvents events;
        events.ChangedNeedsNewText = asked;
        std::string oldText, newText = "unset";
        std::int64_t matches = 0;
        events.OnChanged = [&](const std::string&, std::string_view oldSeen, std::string_view newSeen, const auto*,
                               std::int64_t count, std::uint64_t) {
            oldText = oldSeen;
            newText = newSeen;
            matches = count;
        };
        EXPECT_EQ(ExecuteRun(request, events), 1);
        EXPECT_EQ(oldText, "one foo two foo\n") << asked;
        EXPECT_EQ(newText, asked ? "one bar two bar\n" : "") << asked;
        EXPECT_EQ(matches, 2) << asked;
    }
}

TEST(EncodedFiles, RoundTripByteForByte) {
    const struct {
        std::uint8_t operation;
        std::string text, pattern, newText;
        std::optional<std::string> expected; // none: the file keeps its bytes and inode
    } cases[] = {
        {core::OpReplaceText, "Hello World\r\n", "absent", "x", std::nullopt},
        {core::OpReplaceText, "Hello World\r\n", "world", "Welt", "Hello Welt\r\n"},
        {core::OpReplaceText, "a <\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF> b", "<*>", "[{$1}\xC3\xA9]",
         "a [\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\xC3\xA9] b"},
        {core::OpInsertAfter, "\xE6\x97\xA5\xEE\x80\x80", "\xE6\x97\xA5", "\xEF\xBF\xBF",
         "\xE6\x97\xA5\xEF\xBF\xBF\xEE\x80\x80"},
        {core::OpReplaceText, "same", "same", "same", std::nullopt},
        {core::OpReplaceText, "all of it", "*", "", ""},
    };
    TempDir dir;
    for (const int threads : {1, 3}) {
        for (const auto& c : cases) {
            std::vector<std::string> paths;
            std::vector<ino_t> inodes;
            for (const Form& form : kForms) {
                paths.push_back(dir.write(std::string(form.name) + ".txt", encoded(form, c.text)));
                inodes.push_back(inodeOf(paths.back()));
            }
            const Ran ran = run(paths, operation(c.operation, c.pattern, c.newText), threads);
            const std::string where = c.text + " / " + c.pattern + ", " + std::to_string(threads) + " threads";
            EXPECT_EQ(ran.totals.Handled, 4) << where;
            for (std::size_t i = 0; i < paths.size(); ++i) {
                EXPECT_EQ(readFile(paths[i]), encoded(kForms[i], c.expected.value_or(c.text)))
                    << kForms[i].name << " " << where;
                if (!c.expected) {
                    EXPECT_EQ(inodeOf(paths[i]), inodes[i]) << kForms[i].name << " rewritten: " << where;
                }
            }
            if (c.expected) {
                EXPECT_EQ(ran.oldText, c.text) << where;
                EXPECT_EQ(ran.newText, *c.expected) << where;
            }
        }
    }
}

// What a pattern is matched against: the decoded text, the text after a
// UTF-8 mark, or with Encoding::Bytes the bytes. A search reads a first
// piece to look for a mark and goes on from it.
TEST(EncodedFiles, PatternsMeetTheTextNeverTheMark) {
    const std::string u8 = "\xEF\xBB\xBF";
    const std::string u16 = encoded(kForms[0], "Hello World");
    const struct {
        std::uint8_t operation;
        std::string content, pattern, newText;
        Encoding encoding;
        std::string after; // for a search: "1" matched, "" not
    } cases[] = {
        {core::OpOnlySearch, u16, "ello W", "", Encoding::Sniff, "1"},
        {core::OpOnlySearch, u16, Iconv("UTF-16LE", "UTF-8", "ello"), "", Encoding::Sniff, ""},
        {core::OpOnlySearch, u16, Iconv("UTF-16LE", "UTF-8", "ello"), "", Encoding::Bytes, "1"},
        {core::OpOnlySearch, u8 + "abc", u8, "", Encoding::Sniff, ""},
        {core::OpOnlySearch, u8 + "abc", u8, "", Encoding::Bytes, "1"},
        {core::OpOnlySearch, u8, "*", "", Encoding::Sniff, ""},
        {core::OpOnlySearch, u8 + std::string(65536, 'x') + "needle", "need*le", "", Encoding::Sniff, "1"},
        {core::OpReplaceText, u8 + "abc", u8, "x", Encoding::Sniff, u8 + "abc"},
        {core::OpReplaceText, u8 + "abc", "*c", "[{$1}]", Encoding::Sniff, u8 + "[ab]"},
        {core::OpReplaceText, u8 + "abc", "*c", "[{$1}]", Encoding::Bytes, "[" + u8 + "ab]"},
        {core::OpInsertBefore, u8 + "abc", "a", ">", Encoding::Sniff, u8 + ">abc"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("f.txt", c.content);
        FileOperation op = operation(c.operation, c.pattern, c.newText);
        op.FileEncoding = c.encoding;
        const Ran ran = run({path}, op);
        const std::string where = c.pattern + " in " + c.content.substr(0, 20);
        if (c.operation == core::OpOnlySearch)
            EXPECT_EQ(ran.results.size(), c.after.size()) << where;
        else
            EXPECT_EQ(readFile(path), c.after) << where;
    }
}

// Searched as far as it decodes, never rewritten: a rewrite could not give
// back what did not decode. The run goes on with the next file.
TEST(EncodedFiles, TextThatDoesNotDecodeIsNeverRewritten) {
    const std::string utf16 = "\xFF\xFE"
                              "A\0B\0\x00\xD8"
                              "C\0"s; // an unpaired surrogate before C
    const struct {
        std::string content;
        std::uint8_t operation;
        std::string pattern, newText;
        bool dryRun;
        std::string error; // "": none
    } cases[] = {
        {utf16, core::OpOnlySearch, "B", "", false, ""},
        {utf16, core::OpReplaceText, "B", "b", false, "not valid UTF-16"},
        {utf16, core::OpReplaceText, "B", "b", true, "not valid UTF-16"},
        {utf16, core::OpReplaceText, "C", "c", false, ""}, // past what decodes: no match
        {"\xFF\xFE"
         "A\0B"s,
         core::OpReplaceText, "A", "a", false, "not valid UTF-16"},
        {"\0\0\xFE\xFF\0\0\0A\0\0"s, core::OpReplaceText, "A", "a", false, "not valid UTF-32"},
        {"\xFF\xFE"
         "A\0"s,
         core::OpReplaceText, "A", "\xFF", false, "the new text is not valid UTF-8"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("bad.txt", c.content);
        FileOperation op = operation(c.operation, c.pattern, c.newText);
        op.DryRun = c.dryRun;
        const Ran ran = run({path, dir.write("next.txt", "B")}, op);
        const std::string where = c.pattern + " -> " + c.newText;
        EXPECT_EQ(ran.errors, c.error.empty() ? std::vector<std::string>{}
                                              : std::vector<std::string>{"Cannot rewrite \"" + path + "\": " + c.error})
            << where;
        EXPECT_EQ(readFile(path), c.content) << where;
        EXPECT_EQ(ran.totals.Handled, c.error.empty() ? 2 : 1) << where;
        if (c.operation == core::OpOnlySearch) {
            EXPECT_EQ(ran.results.size(), 2u) << where;
        }
    }
}

// A writing run leaves a binary file it matches as it is, neither handled nor
// counted; a search lists it as any other file.
TEST(BinaryFiles, WritingRunsPassOverThoseTheyMatch) {
    const std::string png = "\x89PNG\r\n\x1A\n\0\0\0\rthe"s;
    const std::string utf16 = encoded(kForms[0], "the");
    const struct {
        std::string content;
        std::uint8_t operation;
        std::string pattern;
        Binary binary;
        Encoding encoding;
        bool dryRun, passedOver, changed;
    } cases[] = {
        {png, core::OpReplaceText, "the", Binary::PassOver, Encoding::Sniff, false, true, false},
        {png, core::OpReplaceText, "the", Binary::PassOver, Encoding::Sniff, true, true, false},
        {png, core::OpRemoveScript, "", Binary::PassOver, Encoding::Sniff, false, true, false},
        {png, core::OpReplaceText, "absent", Binary::PassOver, Encoding::Sniff, false, false, false},
        {png, core::OpReplaceText, "the", Binary::Process, Encoding::Sniff, false, false, true},
        {png, core::OpOnlySearch, "the", Binary::PassOver, Encoding::Sniff, false, false, false},
        {std::string(8192, ' ') + "the\0"s, core::OpReplaceText, "the", Binary::PassOver, Encoding::Sniff, false, false,
         true},
        {encoded(kForms[0], "the\0"s), core::OpReplaceText, "the", Binary::PassOver, Encoding::Sniff, false, true,
         false},
        {utf16, core::OpReplaceText, "the", Binary::PassOver, Encoding::Sniff, false, false, true},
        {utf16, core::OpReplaceText, "t", Binary::PassOver, Encoding::Bytes, false, true, false},
    };
    TempDir dir;
    int index = 0;
    for (const auto& c : cases) {
        const std::string where = "case " + std::to_string(index++);
        const std::string path = dir.write("f.bin", c.content);
        FileOperation op = operation(c.operation, c.pattern, "THE");
        op.Binary = c.binary;
        op.FileEncoding = c.encoding;
        op.DryRun = c.dryRun;
        const Ran ran = run({path, dir.write("t.txt", "the")}, op);
        EXPECT_EQ(ran.passedOver, c.passedOver ? std::vector<std::string>{path + ": binary file passed over"}
                                               : std::vector<std::string>{})
            << where;
        EXPECT_EQ(ran.totals.PassedOver, c.passedOver ? 1 : 0) << where;
        EXPECT_EQ(ran.totals.Handled, c.passedOver ? 1 : 2) << where;
        const bool listed = std::find(ran.results.begin(), ran.results.end(), path) != ran.results.end();
        EXPECT_EQ(listed, c.changed || c.operation == core::OpOnlySearch) << where;
        EXPECT_EQ(readFile(path) != c.content, c.changed && !c.dryRun) << where;
    }
}
