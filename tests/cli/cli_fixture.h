// The fixture of the quillet-cli end-to-end tests: a fresh temporary
// directory per test, a run journal of its own, and ways to start the program.
#pragma once

#include "testutil/run_process.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using quillet::testutil::ProcessResult;
using quillet::testutil::readFile;
using quillet::testutil::runProcess;
using quillet::testutil::TempDir;

namespace clitest {

inline const std::string kUsageTail =
    "Usage: quillet-cli OPERATION [ARGS] [OPTIONS] [PATH...]\nTry 'quillet-cli --help' for more information.\n";

// The program under test: QUILLET_CLI in the environment, else the one built
// beside these tests.
inline const std::string& cliPath() {
    static const std::string path = [] {
        const char* fromEnvironment = std::getenv("QUILLET_CLI");
        return std::string(fromEnvironment && *fromEnvironment ? fromEnvironment : QUILLET_CLI_PATH);
    }();
    return path;
}

// What a tree holds, for comparing it before and after: each entry's bytes
// (files), target (symlinks) and permission bits; a symlink is not followed.
struct TreeEntry {
    std::string Content;
    std::string LinkTarget;
    fs::perms Perms = fs::perms::none;
    bool operator==(const TreeEntry&) const = default;
};
using TreeSnapshot = std::map<std::string, TreeEntry>;

inline TreeSnapshot snapshotTree(const fs::path& root) {
    TreeSnapshot tree;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        TreeEntry& item = tree[fs::relative(entry.path(), root).string()];
        const fs::file_status status = entry.symlink_status();
        if (fs::is_symlink(status))
            item.LinkTarget = fs::read_symlink(entry.path()).string();
        else
            item.Perms = status.permissions();
        if (fs::is_regular_file(status))
            item.Content = readFile(entry.path());
    }
    return tree;
}

inline std::string describe(const TreeSnapshot& tree) {
    std::ostringstream text;
    for (const auto& [path, entry] : tree)
        text << path << " -> " << entry.LinkTarget << " " << static_cast<int>(entry.Perms) << " [" << entry.Content
             << "]\n";
    return text.str();
}

inline std::string finished(int n) {
    return "Finished! Found and Processed " + std::to_string(n) + " files.\n";
}

class CliTest : public ::testing::Test {
protected:
    // The run journal and its settings live apart from the files under test,
    // so that a walk over `dir` never meets them.
    TempDir home;
    TempDir dir;

    CliTest() {
        setenv("XDG_STATE_HOME", (home.path() / "state").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
    }

    fs::path runsDirectory() const { return home.path() / "state/quillet/runs"; }

    // The ids in the journal, oldest first (by the start time each run's
    // manifest records: ids alone sort only to the second).
    std::vector<std::string> runIds() const {
        std::vector<std::pair<long long, std::string>> runs;
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(runsDirectory(), error)) {
            if (entry.path().filename().string().starts_with("."))
                continue; // a run dropped from the journal, being deleted
            std::istringstream manifest(readFile(entry.path() / "manifest"));
            std::string header, word, id;
            long long started = 0;
            std::getline(manifest, header);
            manifest >> word >> id >> started;
            runs.emplace_back(started, entry.path().filename().string());
        }
        std::sort(runs.begin(), runs.end());
        std::vector<std::string> ids;
        for (auto& run : runs)
            ids.push_back(std::move(run.second));
        return ids;
    }

    // The line a run that journaled files writes before its final line.
    std::string journaled() const {
        const std::string id = lastRunId();
        return "quillet-cli: run " + id + " journaled; undo with: quillet-cli undo " + id + "\n";
    }

    std::string lastRunId() const {
        const std::vector<std::string> ids = runIds();
        return ids.empty() ? std::string("<none>") : ids.back();
    }

    ProcessResult cli(const std::vector<std::string>& args, const std::string& input = {}) {
        return runProcess(cliPath(), args, input, dir.path().string());
    }

    // Starts quillet-cli in the test directory with its standard input on a
    // pipe (whose write end goes to `input`), its standard error in err.txt
    // and its standard output on `outFd` (-1: /dev/null). `ignoredSignal`, if
    // not 0, is ignored in the child before it starts, as nohup or a
    // background job does.
    pid_t start(const std::vector<std::string>& args, int& input, int outFd = -1, int ignoredSignal = 0) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return -1;
        const std::string err = dir.file("err.txt");
        std::vector<const char*> argv{cliPath().c_str()};
        for (const std::string& arg : args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            dup2(pipeFds[0], 0);
            close(pipeFds[1]);
            const int out = outFd >= 0 ? outFd : open("/dev/null", O_WRONLY);
            dup2(out, 1);
            // As a shell starts a command, even where the tests run as a
            // background job, which ignores SIGINT and SIGQUIT.
            for (const int stop : {SIGINT, SIGTERM, SIGHUP})
                signal(stop, SIG_DFL);
            if (ignoredSignal != 0)
                signal(ignoredSignal, SIG_IGN);
            if (chdir(dir.path().c_str()) != 0 || !freopen(err.c_str(), "w", stderr))
                _exit(126);
            execv(argv[0], const_cast<char* const*>(argv.data()));
            _exit(127);
        }
        close(pipeFds[0]);
        input = pipeFds[1];
        return child;
    }
};

} // namespace clitest
