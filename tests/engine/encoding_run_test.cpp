// Runs over files with byte-order marks and over binary files: what is
// written, what is matched, what is passed over. The C library's iconv makes
// the encoded files and the expected bytes.
#include "engine/run/run.h"

#include "testutil/encoding_reference.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

using namespace quillet;
using namespace quillet::engine;
using namespace std::string_literals;
using quillet::testutil::Iconv;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

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

FileOperation operation(std::uint8_t code, const std::string& pattern, const std::string& newText = "") {
    FileOperation op;
    op.Operation = code;
    op.SearchPattern = pattern;
    op.NewText = newText;
    op.ResultIsPattern = newText.find("{$") != std::string::npos;
    return op;
}

struct Ran {
    std::int64_t filesDone = 0;
    RunTotals totals;
    std::vector<std::string> results;
    std::vector<std::string> passedOver;
    std::vector<std::string> errors;
    std::vector<std::pair<std::string, std::string>> changed; // old and new text
    std::vector<core::KeptStretch> kept;                      // of the last change
};

Ran run(const std::vector<std::string>& paths, const FileOperation& op, int threads = 1, bool keepGoing = false) {
    RunRequest request;
    request.Entries = paths;
    request.Param = op;
    request.Threads = threads;
    request.KeepGoing = keepGoing;
    Ran ran;
    RunEvents events;
    events.OnResult = [&](const std::string& entry) { ran.results.push_back(entry); };
    events.OnPassedOver = [&](const std::string& path, std::string_view reason) {
        ran.passedOver.push_back(path + ": " + std::string(reason));
    };
    events.OnFileError = [&](const std::string&, const std::string& message) { ran.errors.push_back(message); };
    events.OnChanged = [&](const std::string&, std::string_view oldText, std::string_view newText,
                           const std::vector<core::KeptStretch>* kept) {
        ran.changed.emplace_back(oldText, newText);
        ran.kept = kept != nullptr ? *kept : std::vector<core::KeptStretch>();
    };
    ran.filesDone = ExecuteRun(request, events, &ran.totals);
    return ran;
}

ino_t inodeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

// Every form, with and without a change, one thread or several (a rewrite
// staged ahead by a worker writes the same bytes as one at its turn).
TEST(EncodedFiles, RoundTripByteForByte) {
    const struct {
        std::uint8_t operation;
        std::string text, pattern, newText, expected; // expected "": unchanged
    } cases[] = {
        {core::OpReplaceText, "Hello World\r\n", "absent", "x", ""},
        {core::OpReplaceText, "Hello World\r\n", "world", "Welt", "Hello Welt\r\n"},
        {core::OpReplaceText, "a <\xF0\x9F\x98\x80> b", "<*>", "[{$1}\xC3\xA9]", "a [\xF0\x9F\x98\x80\xC3\xA9] b"},
        {core::OpInsertAfter, "\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5", "\xEF\xBF\xBF",
         "\xE6\x97\xA5\xEF\xBF\xBF\xE6\x9C\xAC"},
        {core::OpReplaceText, "all of it", "*", "", "\x01"}, // "\x01": the mark alone
        {core::OpReplaceText, "same", "same", "same", ""},
    };
    TempDir dir;
    for (const int threads : {1, 3}) {
        for (const auto& c : cases) {
            std::vector<std::string> paths;
            for (const Form& form : kForms)
                paths.push_back(dir.write(std::string(form.name) + ".txt", encoded(form, c.text)));
            std::vector<ino_t> inodes;
            for (const std::string& path : paths)
                inodes.push_back(inodeOf(path));
            const Ran ran = run(paths, operation(c.operation, c.pattern, c.newText), threads);
            const std::string where = c.text + " / " + c.pattern + ", " + std::to_string(threads) + " threads";
            EXPECT_EQ(ran.totals.Handled, 4) << where;
            for (std::size_t i = 0; i < paths.size(); ++i) {
                const Form& form = kForms[i];
                if (c.expected.empty()) {
                    EXPECT_EQ(readFile(paths[i]), encoded(form, c.text)) << form.name << " " << where;
                    EXPECT_EQ(inodeOf(paths[i]), inodes[i]) << form.name << " rewritten: " << where;
                } else {
                    const std::string expected = c.expected == "\x01" ? "" : c.expected;
                    EXPECT_EQ(readFile(paths[i]), encoded(form, expected)) << form.name << " " << where;
                }
            }
        }
    }
}

// The operation and the diff see the text, never the encoded bytes.
TEST(EncodedFiles, MatchesAndChangesAreOfTheDecodedText) {
    TempDir dir;
    for (const Form& form : kForms) {
        const std::string path = dir.write("f.txt", encoded(form, "Hello World\n"));
        const std::string rawPiece = Iconv(form.name, "UTF-8", "ello");
        const struct {
            std::string pattern;
            FileOperation::Encoding encoding;
            bool matched;
        } searches[] = {
            {"ello W", FileOperation::Encoding::Sniff, true},  {"HELLO", FileOperation::Encoding::Sniff, true},
            {rawPiece, FileOperation::Encoding::Sniff, false}, {form.mark, FileOperation::Encoding::Sniff, false},
            {"ello", FileOperation::Encoding::Bytes, false},   {rawPiece, FileOperation::Encoding::Bytes, true},
        };
        for (const auto& s : searches) {
            FileOperation op = operation(core::OpOnlySearch, s.pattern);
            op.FileEncoding = s.encoding;
            EXPECT_EQ(run({path}, op).results.size(), s.matched ? 1u : 0u) << form.name << " " << s.pattern;
        }
        FileOperation op = operation(core::OpReplaceText, "World", "Welt");
        op.RecordKept = true;
        const Ran ran = run({path}, op);
        ASSERT_EQ(ran.changed.size(), 1u) << form.name;
        EXPECT_EQ(ran.changed[0].first, "Hello World\n") << form.name;
        EXPECT_EQ(ran.changed[0].second, "Hello Welt\n") << form.name;
        const std::vector<core::KeptStretch> kept{{0, 0, 6}, {11, 10, 1}};
        EXPECT_EQ(ran.kept, kept) << form.name;
    }
}

// A UTF-8 mark is kept first and never matched or captured.
TEST(EncodedFiles, AUtf8MarkIsNeverPartOfAMatch) {
    const std::string mark = "\xEF\xBB\xBF";
    const struct {
        std::uint8_t operation;
        std::string pattern, newText;
        FileOperation::Encoding encoding;
        std::string text, expected; // expected "": no match
    } cases[] = {
        {core::OpOnlySearch, mark, "", FileOperation::Encoding::Sniff, mark + "abc", ""},
        {core::OpOnlySearch, "*", "", FileOperation::Encoding::Sniff, mark, ""},
        {core::OpOnlySearch, "*", "", FileOperation::Encoding::Sniff, mark + "a", mark + "a"},
        {core::OpOnlySearch, mark, "", FileOperation::Encoding::Bytes, mark + "abc", mark + "abc"},
        {core::OpReplaceText, mark, "x", FileOperation::Encoding::Sniff, mark + "abc", ""},
        {core::OpReplaceText, "*c", "[{$1}]", FileOperation::Encoding::Sniff, mark + "abc", mark + "[ab]"},
        {core::OpReplaceText, "*", "x", FileOperation::Encoding::Sniff, mark + "abc", mark + "x"},
        {core::OpInsertBefore, "a", ">", FileOperation::Encoding::Sniff, mark + "abc", mark + ">abc"},
        {core::OpReplaceText, "*c", "[{$1}]", FileOperation::Encoding::Bytes, mark + "abc", "[" + mark + "ab]"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("f.txt", c.text);
        FileOperation op = operation(c.operation, c.pattern, c.newText);
        op.FileEncoding = c.encoding;
        const Ran ran = run({path}, op);
        const std::string where = c.pattern + " in " + c.text;
        EXPECT_EQ(ran.results.size(), c.expected.empty() ? 0u : 1u) << where;
        EXPECT_EQ(readFile(path), c.operation == core::OpOnlySearch || c.expected.empty() ? c.text : c.expected)
            << where;
    }
}

// A search reads a first piece to look for a mark, and goes on from it: a
// match across the piece's end, or wholly past it, is found.
TEST(EncodedFiles, SearchGoesOnFromWhatWasReadForTheMark) {
    const std::string mark = "\xEF\xBB\xBF";
    const struct {
        std::string head; // before the filler
        std::size_t filler;
        bool matched;
    } cases[] = {
        {"", 65536 - 3, true}, {"", 65536, true}, {mark, 65536 - 6, true}, {mark, 200000, true},
        {"", 0, true},         {mark, 0, true},   {"n", 65536, false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string text = c.head + std::string(c.filler, 'x') + (c.matched ? "needle" : "needl");
        const std::string path = dir.write("f.txt", text);
        const Ran ran = run({path}, operation(core::OpOnlySearch, "need*le"));
        EXPECT_EQ(ran.results.size(), c.matched ? 1u : 0u) << c.head.size() << " + " << c.filler;
    }
}

// Searched as far as it decodes, never rewritten: a rewrite could not give
// back what did not decode.
TEST(EncodedFiles, TextThatDoesNotDecodeIsNeverRewritten) {
    const std::string utf16 = "\xFF\xFE"
                              "A\0B\0\x00\xD8"
                              "C\0"s;                            // an unpaired surrogate before C
    const std::string utf32 = "\0\0\xFE\xFF\0\0\0A\0\0\0B\0\0"s; // cut short
    const struct {
        std::string content;
        std::uint8_t operation;
        std::string pattern, newText;
        bool dryRun;
        std::string error; // "": none
        bool matched;
    } cases[] = {
        {utf16, core::OpOnlySearch, "B", "", false, "", true},
        {utf16, core::OpOnlySearch, "C", "", false, "", false},
        {utf16, core::OpReplaceText, "B", "b", false, "not valid UTF-16", false},
        {utf16, core::OpReplaceText, "B", "b", true, "not valid UTF-16", false},
        {utf16, core::OpReplaceText, "C", "c", false, "", false},
        {utf16, core::OpReplaceText, "B", "B", false, "", true},
        {utf32, core::OpReplaceText, "A", "a", false, "not valid UTF-32", false},
        {"\xFF\xFE"
         "A\0"s,
         core::OpReplaceText, "A", "\xFF", false, "the new text is not valid UTF-8", false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("bad.txt", c.content);
        const std::string after = dir.write("after.txt", "old");
        FileOperation op = operation(c.operation, c.pattern, c.newText);
        op.DryRun = c.dryRun;
        const Ran bad = run({path, after}, op, 1, true);
        const std::string where = c.pattern + " -> " + c.newText;
        if (c.error.empty()) {
            EXPECT_TRUE(bad.errors.empty()) << where;
        } else {
            ASSERT_EQ(bad.errors.size(), 1u) << where;
            EXPECT_EQ(bad.errors[0], "Cannot rewrite \"" + path + "\": " + c.error) << where;
        }
        EXPECT_EQ(std::find(bad.results.begin(), bad.results.end(), path) != bad.results.end(), c.matched) << where;
        EXPECT_EQ(readFile(path), c.content) << where;
        EXPECT_EQ(bad.totals.Handled, c.error.empty() ? 2 : 1) << where; // the run went on
    }
}

// A writing run leaves binary files as they are and says so; a search lists
// them as any other.
TEST(BinaryFiles, WritingRunsPassThemOver) {
    const std::string png = "\x89PNG\r\n\x1A\n\0\0\0\rthe"s;
    const std::string utf16Nul = "\xFF\xFE"
                                 "t\0h\0e\0\0\0"s;
    const std::string utf16 = "\xFF\xFE"
                              "t\0h\0e\0"s;
    const std::string lateNul = std::string(8192, ' ') + "the\0"s;
    using Binary = FileOperation::BinaryFiles;
    using Encoding = FileOperation::Encoding;
    const struct {
        std::string content;
        std::uint8_t operation;
        std::string pattern;
        Binary binary;
        Encoding encoding;
        bool dryRun;
        bool passedOver, changed;
    } cases[] = {
        {png, core::OpReplaceText, "the", Binary::PassOver, Encoding::Sniff, false, true, false},
        {png, core::OpReplaceText, "the", Binary::PassOver, Encoding::Sniff, true, true, false},
        {png, core::OpReplaceText, "absent", Binary::PassOver, Encoding::Sniff, false, false, false},
        {png, core::OpReplaceText, "the", Binary::Process, Encoding::Sniff, false, false, true},
        {png, core::OpRemoveScript, "", Binary::PassOver, Encoding::Sniff, false, true, false},
        {png, core::OpOnlySearch, "the", Binary::PassOver, Encoding::Sniff, false, false, false},
        {lateNul, core::OpReplaceText, "the", Binary::PassOver, Encoding::Sniff, false, false, true},
        {utf16Nul, core::OpReplaceText, "the", Binary::PassOver, Encoding::Sniff, false, true, false},
        {utf16, core::OpReplaceText, "the", Binary::PassOver, Encoding::Sniff, false, false, true},
        {utf16, core::OpReplaceText, "t", Binary::PassOver, Encoding::Bytes, false, true, false},
    };
    TempDir dir;
    int index = 0;
    for (const auto& c : cases) {
        const std::string where = "case " + std::to_string(index++);
        const std::string path = dir.write("f.bin", c.content);
        const std::string text = dir.write("t.txt", "the");
        FileOperation op = operation(c.operation, c.pattern, "THE");
        op.Binary = c.binary;
        op.FileEncoding = c.encoding;
        op.DryRun = c.dryRun;
        const Ran ran = run({path, text}, op);
        EXPECT_EQ(ran.passedOver, c.passedOver ? std::vector<std::string>{path + ": binary file passed over"}
                                               : std::vector<std::string>{})
            << where;
        EXPECT_EQ(ran.totals.PassedOver, c.passedOver ? 1 : 0) << where;
        EXPECT_EQ(ran.totals.Handled, c.passedOver ? 1 : 2) << where;
        EXPECT_EQ(ran.filesDone, ran.totals.Handled) << where;
        const bool listed = std::find(ran.results.begin(), ran.results.end(), path) != ran.results.end();
        EXPECT_EQ(listed, c.changed || c.operation == core::OpOnlySearch) << where;
        EXPECT_EQ(readFile(path) != c.content, c.changed && !c.dryRun) << where;
    }
}

// A walk counts matching files: those passed over are not among them.
TEST(BinaryFiles, AWalkDoesNotCountThem) {
    TempDir dir;
    dir.write("site/a.txt", "old");
    dir.write("site/b.bin", "old\0"s);
    dir.write("site/c.txt", "old");
    RunRequest request;
    request.Shape = RunShape::DirectoryWalk;
    request.Directory = dir.file("site");
    request.Mask = "*";
    request.Param = operation(core::OpReplaceText, "old", "new");
    RunTotals totals;
    std::vector<std::string> passedOver;
    RunEvents events;
    events.OnPassedOver = [&](const std::string& path, std::string_view) { passedOver.push_back(path); };
    EXPECT_EQ(ExecuteRun(request, events, &totals), 2);
    EXPECT_EQ(totals.PassedOver, 1);
    EXPECT_EQ(passedOver, std::vector<std::string>{dir.file("site/b.bin")});
    EXPECT_EQ(readFile(dir.file("site/b.bin")), "old\0"s);
    EXPECT_EQ(readFile(dir.file("site/c.txt")), "new");
}
