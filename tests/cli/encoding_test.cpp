// quillet-cli on files with byte-order marks and on binary files: the exact
// output of --encoding, --binary and of files passed over or refused.
#include "cli_fixture.h"

#include "testutil/encoding_reference.h"

using namespace clitest;
using namespace std::string_literals;
using quillet::testutil::Iconv;

namespace {

const std::string kPng = "\x89PNG\r\n\x1A\n\0\0\0\rthe"s;
const std::string kU16 = "\xFF\xFE" + Iconv("UTF-16LE", "UTF-8", "Hello World\n");

std::string passedOver(const std::string& path) {
    return "quillet-cli: " + path + ": binary file passed over\n";
}

std::string counted(int files) {
    return "quillet-cli: " + std::to_string(files) + " binary file" + (files == 1 ? "" : "s") +
           " passed over; --binary processes them\n";
}

} // namespace

TEST_F(CliTest, BinaryFilesPassedOverAndUtf16FilesFound) {
    const std::string bad = "\xFF\xFE"
                            "W\0\x00\xD8"s;
    const std::string badError = "Cannot rewrite \"" + dir.file("bad.txt") + "\": not valid UTF-16\n";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string out, err;
        std::string png = "", u16 = ""; // the files after; "": unchanged
    } cases[] = {
        {{"search", "hello", "u16.txt", "img.png"}, 0, "u16.txt\n", finished(2)},
        {{"search", "the", "img.png"}, 0, "img.png\n", finished(1)},
        {{"replace", "the", "THE", "--no-journal", "img.png", "b.png"},
         1,
         "",
         passedOver("img.png") + passedOver("b.png") + counted(2) + finished(0)},
        {{"replace", "the", "THE", "--no-journal", "-d", ".", "-r", "-m", "*.png;u*"},
         1,
         "",
         passedOver("./b.png") + passedOver("./img.png") + counted(2) + finished(0)},
        {{"replace", "the", "THE", "--no-journal", "--binary", "img.png"},
         0,
         "img.png\n",
         finished(1),
         "\x89PNG\r\n\x1A\n\0\0\0\rTHE"s},
        {{"replace", "World", "Welt", "--no-journal", "--diff", "u16.txt", "img.png"},
         0,
         "--- a/u16.txt\n+++ b/u16.txt\n@@ -1 +1 @@\n-Hello World\n+Hello Welt\n",
         finished(2),
         "",
         "\xFF\xFE" + Iconv("UTF-16LE", "UTF-8", "Hello Welt\n")},
        {{"replace", "o", "0", "--no-journal", "--encoding=bytes", "u16.txt"},
         1,
         "",
         passedOver("u16.txt") + counted(1) + finished(0)},
        {{"replace", "W", "w", "--no-journal", "--keep-going", "bad.txt", "u16.txt"},
         2,
         "u16.txt\n",
         "quillet-cli: bad.txt: " + badError + finished(1),
         "",
         "\xFF\xFE" + Iconv("UTF-16LE", "UTF-8", "Hello world\n")},
        {{"replace", "W", "w", "--no-journal", "bad.txt", "u16.txt"}, 2, "", "quillet-cli: " + badError},
    };
    for (const auto& c : cases) {
        dir.write("u16.txt", kU16);
        dir.write("img.png", kPng);
        dir.write("b.png", kPng);
        dir.write("bad.txt", bad);
        const ProcessResult r = cli(c.args);
        const std::string where = c.args[0] + " " + c.args[1] + " " + c.args.back();
        EXPECT_EQ(r.ExitCode, c.exitCode) << where << "\n" << r.Err;
        EXPECT_EQ(r.Out, c.out) << where;
        EXPECT_EQ(r.Err, c.err) << where;
        EXPECT_EQ(readFile(dir.file("img.png")), c.png.empty() ? kPng : c.png) << where;
        EXPECT_EQ(readFile(dir.file("b.png")), kPng) << where;
        EXPECT_EQ(readFile(dir.file("u16.txt")), c.u16.empty() ? kU16 : c.u16) << where;
        EXPECT_EQ(readFile(dir.file("bad.txt")), bad) << where;
    }
}
