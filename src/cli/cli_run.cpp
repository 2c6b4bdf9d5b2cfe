#include "cli/cli_run.h"

#include "core/error.h"
#include "engine/file_io.h"
#include "engine/path_list.h"
#include "engine/run.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <algorithm>
#include <set>
#include <thread>
#include <string>
#include <vector>

namespace quillet::cli {

namespace {

// Set by the first Ctrl-C (or SIGTERM, SIGHUP): the run stops after the file
// in hand, so no file is left half-done and no temporary file stays behind.
// A second signal ends the process at once, as usual, after removing the
// temporary file being written, if any.
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int signal) {
    if (g_interrupted == 0) {
        g_interrupted = signal;
        return;
    }
    engine::DiscardTemporaryFileOnSignal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class InterruptGuard {
public:
    InterruptGuard() {
        g_interrupted = 0;
        for (int signal : kSignals)
            m_previous[index(signal)] = std::signal(signal, onInterrupt);
    }
    ~InterruptGuard() {
        for (int signal : kSignals)
            std::signal(signal, m_previous[index(signal)]);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    static std::size_t index(int signal) { return signal == SIGINT ? 0 : signal == SIGTERM ? 1 : 2; }
    void (*m_previous[3])(int) = {};
};

std::string readStream(std::FILE* in) {
    std::string text;
    char buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
        text.append(buffer, got);
        if (got < sizeof buffer) {
            if (std::ferror(in))
                throw Error(std::string("Cannot read standard input. ") + std::strerror(errno));
            break;
        }
    }
    return text;
}

engine::RunRequest buildRequest(const CliOptions& options, std::FILE* in) {
    engine::RunRequest request;
    engine::TSRParam& param = request.Param;
    param.Operation = options.Operation;
    param.SearchPattern = options.Pattern;
    param.CaseSensitive = options.CaseSensitive;
    param.NewText = options.NewText;
    param.ResultIsPattern = options.Template.value_or(options.NewText.find(core::kTagOpen) != std::string::npos);
    param.MaxCount = options.MaxCount;
    param.DryRun = options.DryRun;
    request.MaxFiles = options.MaxFiles;
    request.Threads =
        options.Threads > 0 ? options.Threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    if (options.Directory) {
        request.Directory = *options.Directory;
        if (options.Recursive) {
            request.Shape = engine::RunShape::DirectoryWalk;
            request.Mask = options.Mask;
        } else {
            // The run lists the directory itself (and fails if it cannot).
            request.Shape = engine::RunShape::DirectoryListing;
            request.Mask = options.Mask;
        }
        return request;
    }

    request.Shape = engine::RunShape::PathList;
    request.Entries = options.Paths;
    if (options.ListFile) {
        std::string text;
        if (*options.ListFile == "-")
            text = readStream(in);
        else
            engine::LoadFileText(*options.ListFile, text);
        const auto separator = options.NulSeparatedList ? engine::ListSeparator::Nul : engine::ListSeparator::Lines;
        for (std::string& path : engine::SplitPathList(text, separator))
            request.Entries.push_back(std::move(path));
    }
    return request;
}

} // namespace

int RunCli(const CliOptions& options, std::FILE* in, std::FILE* out, std::FILE* err) {
    std::int64_t matchedFiles = 0;
    std::set<std::string> warned;
    const InterruptGuard interruptGuard;
    engine::RunEvents events;
    events.OnFile = [](const engine::FileReport&, bool& stop) { stop = g_interrupted != 0; };
    events.OnResult = [&](const std::string& entry) {
        ++matchedFiles;
        if (options.Quiet)
            return;
        std::fwrite(entry.data(), 1, entry.size(), out);
        std::fputc(options.NullTerminated ? '\0' : '\n', out);
    };
    events.OnUnreadableDirectory = [&](const std::string& directory, const std::string& reason) {
        if (warned.insert(directory).second)
            std::fprintf(err, "quillet-cli: cannot read directory \"%s\": %s\n", directory.c_str(), reason.c_str());
    };

    try {
        const engine::RunRequest request = buildRequest(options, in);
        const std::int64_t filesDone = engine::ExecuteRun(request, events);
        std::fflush(out);
        std::fprintf(err, "Finished! Found and Processed %lld files.\n", static_cast<long long>(filesDone));
    } catch (const std::exception& error) {
        std::fflush(out);
        std::fprintf(err, "quillet-cli: %s\n", error.what());
        return 2;
    }
    if (g_interrupted != 0) {
        std::fprintf(err, "quillet-cli: interrupted; the run stopped between two files\n");
        return 128 + static_cast<int>(g_interrupted);
    }
    if (std::ferror(out)) {
        std::fprintf(err, "quillet-cli: cannot write the result list: %s\n", std::strerror(errno));
        return 2;
    }
    return matchedFiles > 0 ? 0 : 1;
}

} // namespace quillet::cli
