// Names that could command a terminal or forge lines (escape sequences, line
// breaks), in every output that shows them.
#include "cli/shown_name.h"
#include "cli_fixture.h"

#include <termios.h>

using namespace clitest;
using quillet::cli::EscapeText;
using quillet::cli::QuotePath;

namespace {

const std::string kTitle = "\033]0;PWNED-TITLE\a\033[2J\033[31mred.txt";
const std::string kTitleQuoted = "\"\\033]0;PWNED-TITLE\\a\\033[2J\\033[31mred.txt\"";
const std::string kForged = "x\n+++ b/y\n@@ -1 +1 @@\n+EVIL";

// Runs quillet-cli in `cwd` with its standard output on a pseudo-terminal in
// raw mode (no "\r" added), and returns what it wrote there.
std::string onTerminal(const std::vector<std::string>& args, const std::string& cwd) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return "<no pseudo-terminal>";
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios mode{};
    tcgetattr(slave, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave, TCSANOW, &mode);
    std::vector<const char*> argv{cliPath().c_str()};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(slave, 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    close(slave);
    std::string out;
    char buffer[4096];
    for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(got));
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    return out;
}

} // namespace

TEST(ShownNameTest, QuotedAndEscaped) {
    const struct {
        std::string name, quoted, escaped;
    } cases[] = {
        {"plain.txt", "plain.txt", "plain.txt"},
        {"caf\xC3\xA9 \xE2\x82\xAC.txt", "caf\xC3\xA9 \xE2\x82\xAC.txt", "caf\xC3\xA9 \xE2\x82\xAC.txt"},
        {kTitle, kTitleQuoted, kTitleQuoted.substr(1, kTitleQuoted.size() - 2)},
        {"a\nb\tc\rd", "\"a\\nb\\tc\\rd\"", "a\\nb\\tc\\rd"},
        {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\"", "say \"hi\"\\"},
        {"del\x7F", "\"del\\177\"", "del\\177"},
        {"c1 \xC2\x9B"
         "2J",
         "\"c1 \\302\\2332J\"", "c1 \\302\\2332J"}, // CSI as a UTF-8 C1 control
        {"\xC2\xA0nbsp", "\xC2\xA0nbsp", "\xC2\xA0nbsp"},
        {"bad \xFF \xC0\xAF \xED\xA0\x80 \xE2\x82", "\"bad \\377 \\300\\257 \\355\\240\\200 \\342\\202\"",
         "bad \\377 \\300\\257 \\355\\240\\200 \\342\\202"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QuotePath(c.name), c.quoted) << c.name;
        EXPECT_EQ(EscapeText(c.name), c.escaped) << c.name;
    }
}

// The list stays byte for byte for a pipe (and with -0); on a terminal, and
// in --matches, a name is quoted.
TEST_F(CliTest, NamesInTheListAndMatches) {
    dir.write(kTitle, "foo\n");
    const ProcessResult piped = cli({"search", "foo", kTitle});
    EXPECT_EQ(piped.Out, kTitle + "\n");
    EXPECT_EQ(cli({"search", "foo", "-0", kTitle}).Out, kTitle + std::string(1, '\0'));
    EXPECT_EQ(onTerminal({"search", "foo", kTitle}, dir.path().string()), kTitleQuoted + "\n");
    EXPECT_EQ(onTerminal({"search", "foo", "-0", kTitle}, dir.path().string()), kTitle + std::string(1, '\0'));
    EXPECT_EQ(cli({"search", "foo", "--matches", kTitle}).Out, kTitleQuoted + ":1:foo\n");
}

// A diff names such files as git does, and git apply takes it back: the
// lines a name holds forge nothing.
TEST_F(CliTest, NamesInDiffHeadersReadBackByGitApply) {
    if (access("/usr/bin/git", X_OK) != 0)
        GTEST_SKIP() << "no git";
    for (const std::string& name : {kTitle, kForged, std::string("back\\slash \"q\"")}) {
        dir.write(name, "old\n");
        const ProcessResult r = cli({"replace", "old", "new", "-n", "--diff", name});
        ASSERT_EQ(r.ExitCode, 0) << name;
        EXPECT_EQ(r.Out.substr(0, r.Out.find('\n') + 1), "--- " + QuotePath("a/" + name) + "\n") << name;
        EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 5) << r.Out;
        const ProcessResult apply =
            runProcess("/usr/bin/git", {"apply", "--unsafe-paths", "-"}, r.Out, dir.path().string());
        EXPECT_EQ(apply.ExitCode, 0) << name << ": " << apply.Err;
        EXPECT_EQ(readFile(dir.file(name)), "new\n") << name;
        fs::remove(dir.path() / name);
    }
}

// Errors of --keep-going are escaped wherever they go; undo's lines, as a
// run's list, on a terminal (byte for byte to a pipe: see undo_test.cpp).
TEST_F(CliTest, NamesInErrorsAndUndoAreEscaped) {
    const ProcessResult failed = cli({"search", "foo", "--keep-going", kForged});
    EXPECT_EQ(failed.Err, "quillet-cli: x\\n+++ b/y\\n@@ -1 +1 @@\\n+EVIL: Cannot open file \"" +
                              EscapeText(dir.file(kForged)) + "\". No such file or directory\n" + finished(0));
    dir.write(kTitle, "old\n");
    ASSERT_EQ(cli({"replace", "old", "new", kTitle}).ExitCode, 0);
    EXPECT_EQ(onTerminal({"undo"}, dir.path().string()), "restored " + EscapeText(dir.file(kTitle)) + "\n");
    EXPECT_EQ(readFile(dir.file(kTitle)), "old\n");
}
