// quillet-cli --confirm, answered through a pseudo-terminal as a user would.
#include "cli_fixture.h"

#include <poll.h>
#include <pty.h>

using namespace clitest;

namespace {

struct Answered {
    std::string Screen; // all the terminal showed, "\r\n" for line ends
    int ExitCode = -1;
};

// Runs quillet-cli on a new terminal and types the next answer after each
// question; with none left, or after 20 s of silence, the program is killed.
Answered runOnTerminal(const std::vector<std::string>& arguments, const std::vector<std::string>& answers) {
    std::vector<char*> argv{const_cast<char*>(cliPath().c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
        std::signal(SIGINT, SIG_DFL); // as a shell starts it, even from a background job
        execv(argv[0], argv.data());
        _exit(127);
    }
    Answered answered;
    if (child < 0)
        return answered;
    std::size_t next = 0;
    std::size_t asked = 0;
    for (;;) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 20000) <= 0)
            break;
        char buffer[4096];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0)
            break; // EIO: the program closed the terminal
        answered.Screen.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t at; (at = answered.Screen.find("[q]uit ", asked)) != std::string::npos; asked = at + 1) {
            if (next == answers.size()) {
                kill(child, SIGKILL);
                break;
            }
            const std::string line = answers[next] == "\x03" ? answers[next] : answers[next] + "\n"; // Ctrl-C
            ++next;
            EXPECT_EQ(write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        }
    }
    kill(child, SIGKILL); // a program still running has hung
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    answered.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return answered;
}

} // namespace

// Each answer decides its change: y and n one, a and d the rest of the file,
// A every change after, q writes what the file accepted and stops.
TEST_F(CliTest, ConfirmWritesExactlyTheAcceptedChanges) {
    setenv("NO_COLOR", "1", 1);
    const struct {
        std::string operation;
        std::vector<std::string> answers;
        std::string a, b;
    } cases[] = {
        {"replace", {"y", "n", "what", "y", "n", "y"}, "#1 x2 #3\n", "x4 #5\n"}, // an unknown answer asks again
        {"replace", {"a", "d"}, "#1 #2 #3\n", "x4 x5\n"},
        {"replace", {"n", "A"}, "x1 #2 #3\n", "#4 #5\n"},
        {"replace", {"y", "q"}, "#1 x2 x3\n", "x4 x5\n"},
        {"replace", {"q"}, "x1 x2 x3\n", "x4 x5\n"},
        {"replace", {"a", "y", "q"}, "#1 #2 #3\n", "#4 x5\n"}, // q keeps the files answered before
        {"replace", {"y", "d", "q"}, "#1 x2 x3\n", "x4 x5\n"},
        {"replace", {"n", "n", "n", "d"}, "x1 x2 x3\n", "x4 x5\n"},
        {"insert-before", {"y", "d", "n", "y"}, "#x1 x2 x3\n", "x4 #x5\n"},
        {"insert-after", {"n", "n", "a", "A"}, "x1 x2 x#3\n", "x#4 x#5\n"},
    };
    for (const auto& c : cases) {
        const std::string a = dir.write("a.txt", "x1 x2 x3\n");
        const std::string b = dir.write("b.txt", "x4 x5\n");
        const Answered answered = runOnTerminal({c.operation, "--confirm", "-j", "4", "x", "#", a, b}, c.answers);
        const std::string what = c.operation + " " + c.answers.front() + " " + std::to_string(c.answers.size());
        EXPECT_EQ(readFile(a), c.a) << what << "\n" << answered.Screen;
        EXPECT_EQ(readFile(b), c.b) << what << "\n" << answered.Screen;
        EXPECT_EQ(answered.ExitCode, c.a == "x1 x2 x3\n" && c.b == "x4 x5\n" ? 1 : 0) << what;
    }
    const std::string a = dir.write("a.txt", "x1 x2 x3\n");
    const Answered shown = runOnTerminal({"replace", "--confirm", "x", "#", a}, {"y", "n", "n"});
    EXPECT_NE(shown.Screen.find(a + ":1\r\n-x1 x2 x3\r\n+#1 x2 x3\r\nApply this change? [y]es [n]o [a]ll in this "
                                    "file [d]one with this file [A]ll [q]uit "),
              std::string::npos)
        << shown.Screen;
    unsetenv("NO_COLOR");
}

// Ctrl-C while a question waits stops the run as q does, at once.
TEST_F(CliTest, ConfirmStopsOnCtrlCAtAQuestion) {
    const std::string a = dir.write("a.txt", "x1 x2\n");
    const std::string b = dir.write("b.txt", "x3\n");
    const Answered answered = runOnTerminal({"replace", "--confirm", "x", "#", a, b}, {"y", "\x03"});
    EXPECT_EQ(answered.ExitCode, 128 + SIGINT) << answered.Screen;
    EXPECT_EQ(readFile(a), "#1 x2\n");
    EXPECT_EQ(readFile(b), "x3\n");
}

// Without a terminal nothing is read or written.
// The refusal comes before any input is read: a test that gave the program
// more input than the pipe holds ended with SIGPIPE, now and then, when the
// program exited first.
TEST(RunProcess, AProgramThatExitsWithoutReadingItsInputDoesNotEndTheTest) {
    const ProcessResult result = runProcess("/bin/true", {}, std::string(std::size_t{1} << 20, 'x'));
    EXPECT_EQ(result.ExitCode, 0);
}

TEST_F(CliTest, ConfirmWithoutATerminalIsRefused) {
    const std::string a = dir.write("a.txt", "x1\n");
    const ProcessResult result =
        runProcess("/usr/bin/setsid", {"-w", cliPath(), "replace", "--confirm", "x", "#", "-l", "-"}, a + "\n");
    EXPECT_EQ(result.Err, "quillet-cli: --confirm needs a terminal\n");
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_EQ(readFile(a), "x1\n");
}

// A change in a long line, or one spanning many lines, used to be shown
// whole: a question about one word of a 1 MB line filled the terminal.
TEST_F(CliTest, ConfirmShowsALongChangeCut) {
    setenv("NO_COLOR", "1", 1);
    std::string manyLines;
    for (int n = 1; n <= 100; ++n)
        manyLines += "l" + std::to_string(n) + "\n";
    const struct {
        std::string text, pattern;
        std::vector<std::string> shown; // in the screen, in this order
    } cases[] = {
        {std::string(500000, 'a') + "x" + std::string(500000, 'b') + "\n",
         "x",
         {"\r\n-[...]" + std::string(100, 'a') + "x" + std::string(199, 'b') + "[...]\r\n",
          "\r\n+[...]" + std::string(100, 'a') + "#" + std::string(199, 'b') + "[...]\r\n"}},
        {"<" + manyLines + ">\n",
         "<*>",
         {"\r\n-<l1\r\n", "\r\n-l10\r\n-[... 81 lines]\r\n-l92\r\n", "\r\n-l100\r\n->\r\n+#\r\n"}},
    };
    for (const auto& c : cases) {
        const std::string a = dir.write("a.txt", c.text);
        const Answered answered = runOnTerminal({"replace", "--confirm", c.pattern, "#", a}, {"n"});
        EXPECT_LT(answered.Screen.size(), 2000u);
        std::size_t at = 0;
        for (const std::string& part : c.shown) {
            at = answered.Screen.find(part, at);
            EXPECT_NE(at, std::string::npos) << part << "\n" << answered.Screen.substr(0, 3000);
        }
    }
    unsetenv("NO_COLOR");
}
