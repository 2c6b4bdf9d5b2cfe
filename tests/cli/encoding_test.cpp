// quillet-cli on files with byte-order marks and on binary files, end to end:
// --encoding, --binary, and what is said on standard error.
#include "cli_fixture.h"

#include "testutil/encoding_reference.h"

using namespace clitest;
using namespace std::string_literals;
using quillet::testutil::Iconv;

namespace {

const std::string kPng = "\x89PNG\r\n\x1A\n\0\0\0\rIHDR the"s;

std::string passedOver(const std::string& path) {
    return "quillet-cli: " + path + ": binary file passed over\n";
}

} // namespace

// The two examples: a UTF-16 file is found, an image is not changed.
TEST_F(CliTest, AUtf16FileIsFoundAndAnImageIsPassedOver) {
    const std::string u16 = Iconv("UTF-16LE", "UTF-8", "Hello World\n");
    dir.write("u16.txt", "\xFF\xFE" + u16);
    dir.write("img.png", kPng);
    dir.write("a.txt", "the end");
    ProcessResult r = cli({"search", "Hello", "u16.txt"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "u16.txt\n");
    EXPECT_EQ(r.Err, finished(1));

    r = cli({"replace", "the", "THE", "img.png", "a.txt"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "a.txt\n");
    EXPECT_EQ(r.Err, passedOver("img.png") + journaled() +
                         "quillet-cli: 1 binary file passed over; --binary processes them\n" + finished(1));
    EXPECT_EQ(readFile(dir.file("img.png")), kPng);
    EXPECT_EQ(readFile(dir.file("a.txt")), "THE end");

    r = cli({"search", "the", "img.png"});
    EXPECT_EQ(r.Out, "img.png\n") << "a search lists a binary file";
    EXPECT_EQ(r.Err, finished(1));
}

TEST_F(CliTest, BinaryFilesAreChangedOnlyWithBinary) {
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string out;
        bool changed;
        int passed; // files passed over
    } cases[] = {
        {{"replace", "the", "THE", "-d", ".", "-r", "-m", "*.png"}, 1, "", false, 2},
        {{"replace", "the", "THE", "--dry-run", "a.png", "b.png"}, 1, "", false, 2},
        {{"remove-script", "a.png", "b.png"}, 1, "", false, 2},
        {{"replace", "the", "THE", "--binary", "a.png", "b.png"}, 0, "a.png\nb.png\n", true, 0},
        {{"search", "IHDR", "a.png", "b.png"}, 0, "a.png\nb.png\n", false, 0},
    };
    for (const auto& c : cases) {
        dir.write("a.png", kPng);
        dir.write("b.png", kPng);
        const ProcessResult r = cli(c.args);
        const std::string where = c.args[0] + " " + c.args.back();
        EXPECT_EQ(r.ExitCode, c.exitCode) << where << r.Err;
        EXPECT_EQ(r.Out, c.out) << where;
        EXPECT_EQ(readFile(dir.file("a.png")) != kPng, c.changed) << where;
        if (c.passed > 0) {
            const bool walk = std::find(c.args.begin(), c.args.end(), "-d") != c.args.end();
            const std::string prefix = walk ? "./" : "";
            EXPECT_EQ(r.Err, passedOver(prefix + "a.png") + passedOver(prefix + "b.png") +
                                 "quillet-cli: 2 binary files passed over; --binary processes them\n" + finished(0))
                << where;
        }
    }
}

// The diff and the messages speak of the text; the file keeps its encoding.
TEST_F(CliTest, AUtf16FileIsDiffedAsTextAndWrittenBackWithItsMark) {
    for (const char* form : {"UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"}) {
        const std::string mark = Iconv(form, "UTF-8", "\xEF\xBB\xBF");
        dir.write("t.txt", mark + Iconv(form, "UTF-8", "caf\xC3\xA9\nold\n"));
        ProcessResult r = cli({"replace", "old", "n\xC3\xAAw", "--diff", "--no-journal", "t.txt"});
        EXPECT_EQ(r.ExitCode, 0) << form << r.Err;
        EXPECT_EQ(r.Out, "--- a/t.txt\n+++ b/t.txt\n@@ -1,2 +1,2 @@\n caf\xC3\xA9\n-old\n+n\xC3\xAAw\n") << form;
        EXPECT_EQ(readFile(dir.file("t.txt")), mark + Iconv(form, "UTF-8", "caf\xC3\xA9\nn\xC3\xAAw\n")) << form;
    }
}

TEST_F(CliTest, EncodingBytesReadsTheMarkAsBytes) {
    const std::string file = "\xFF\xFE" + Iconv("UTF-16LE", "UTF-8", "old");
    const struct {
        std::vector<std::string> options;
        std::string pattern, newText, after, err;
    } cases[] = {
        {{}, "old", "new", "\xFF\xFE" + Iconv("UTF-16LE", "UTF-8", "new"), finished(1)},
        // Without decoding, its NUL bytes make it binary.
        {{"--encoding=bytes"},
         "o",
         "0",
         file,
         passedOver("t.txt") + "quillet-cli: 1 binary file passed over; --binary processes them\n" + finished(0)},
        {{"--encoding=bytes", "--binary"}, "\xFF\xFE", "", Iconv("UTF-16LE", "UTF-8", "old"), finished(1)},
        {{"--encoding", "auto"}, "\xFF\xFE", "", file, finished(1)},
    };
    for (const auto& c : cases) {
        dir.write("t.txt", file);
        std::vector<std::string> args{"replace", c.pattern, c.newText, "--no-journal", "t.txt"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ProcessResult r = cli(args);
        EXPECT_EQ(r.Err, c.err) << c.pattern;
        EXPECT_EQ(readFile(dir.file("t.txt")), c.after) << c.pattern;
    }
}

TEST_F(CliTest, Utf16ThatDoesNotDecodeIsNeverRewritten) {
    const std::string bad = "\xFF\xFE"
                            "A\0\x00\xD8"
                            "B\0"s;
    dir.write("bad.txt", bad);
    dir.write("good.txt", "A");
    const std::string message = "Cannot rewrite \"" + dir.file("bad.txt") + "\": not valid UTF-16";
    ProcessResult r = cli({"replace", "A", "a", "bad.txt", "good.txt"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Err, "quillet-cli: " + message + "\n");
    EXPECT_EQ(readFile(dir.file("good.txt")), "A");

    r = cli({"replace", "A", "a", "--keep-going", "bad.txt", "good.txt"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Out, "good.txt\n");
    EXPECT_EQ(r.Err, "quillet-cli: bad.txt: " + message + "\n" + journaled() + finished(1));
    EXPECT_EQ(readFile(dir.file("bad.txt")), bad);
    EXPECT_EQ(readFile(dir.file("good.txt")), "a");

    r = cli({"search", "A", "bad.txt"});
    EXPECT_EQ(r.Out, "bad.txt\n") << "searched as far as it decodes";
}
