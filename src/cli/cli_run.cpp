#include "cli/cli_run.h"

#include "cli/confirm.h"
#include "cli/match_printer.h"
#include "cli/shown_name.h"

#include "core/error.h"
#include "core/text_diff.h"
#include "core/text_ops.h"
#include "engine/keep/run_keepers.h"
#include "engine/fs/durable_files.h"
#include "engine/fs/file_io.h"
#include "engine/fs/temporary_file.h"
#include "engine/run/path_list.h"
#include "engine/run/run.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <unistd.h>

namespace quillet::cli {

namespace {

// Set by the first Ctrl-C (or SIGTERM, SIGHUP): the run stops before the next
// file is put in place (RunEvents::StopRequested), so no file is left
// half-done, every file changed is listed and counted, and no temporary file
// stays behind.
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

// For the length of a run: catches the stop signals, except one that was
// ignored when the program started (nohup, a background job of a
// non-interactive shell), which stays ignored; and ignores SIGPIPE, so that a
// reader of the result list that goes away (`| head -1`) shows up as a write
// error the run can stop on, not as a silent death between two rewrites.
class SignalGuard {
public:
    SignalGuard() {
        g_interrupted = 0;
        for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
            sigaction(kStopSignals[i], nullptr, &m_previous[i]);
            if (ignored(m_previous[i]))
                continue;
            struct sigaction catcher {};
            catcher.sa_handler = onInterrupt;
            catcher.sa_flags = SA_RESTART;
            sigemptyset(&catcher.sa_mask);
            sigaction(kStopSignals[i], &catcher, nullptr);
        }
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &m_previousPipe);
    }
    ~SignalGuard() {
        for (std::size_t i = 0; i < kStopSignals.size(); ++i)
            sigaction(kStopSignals[i], &m_previous[i], nullptr);
        sigaction(SIGPIPE, &m_previousPipe, nullptr);
    }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    static constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};
    static bool ignored(const struct sigaction& action) {
        return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
    }
    std::array<struct sigaction, 3> m_previous{};
    struct sigaction m_previousPipe {};
};

std::string readStream(std::FILE* in) {
    std::string text;
    char buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
        text.append(buffer, got);
        if (got < sizeof buffer) {
            if (std::ferror(in))
                throw Error(std::string("Cannot read standard input. ") + engine::ErrnoText(errno));
            break;
        }
    }
    return text;
}

engine::RunRequest buildRequest(const CliOptions& options, std::FILE* in) {
    engine::RunRequest request;
    engine::FileOperation& param = request.Param;
    param.Operation = options.Operation;
    param.SearchPattern = options.Pattern;
    param.CaseSensitive = options.CaseSensitive;
    param.Match = options.Match;
    param.NewText = options.NewText;
    param.ResultIsPattern = options.Template.value_or(options.NewText.find(core::kTagOpen) != std::string::npos);
    param.MaxCount = options.MaxCount;
    param.DryRun = options.DryRun;
    param.RecordKept = options.Diff;
    param.ListMatches = options.Matches;
    param.FileEncoding = options.FileEncoding;
    param.Binary = options.Binary;
    request.KeepGoing = options.KeepGoing;
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
        // Without -z a NUL would end up inside a name, which no file has: the
        // list was meant for -z (find -print0) and read as lines it names
        // files that do not exist, or the wrong ones.
        if (!options.NulSeparatedList && text.find('\0') != std::string::npos)
            throw Error("list holds NUL bytes: use -z");
        const auto separator = options.NulSeparatedList ? engine::ListSeparator::Nul : engine::ListSeparator::Lines;
        for (std::string& path : engine::SplitPathList(text, separator))
            request.Entries.push_back(std::move(path));
    }
    return request;
}

void printLine(std::FILE* err, std::string_view path, std::string_view what, std::string_view reason) {
    std::string line = "quillet-cli: ";
    ((((line += EscapeText(path)) += ": ") += what) += EscapeText(reason)) += '\n';
    std::fwrite(line.data(), 1, line.size(), err);
}

// The engine's keepers of a run that writes, as the options ask for them:
// the journal unless --no-journal, backups with --backup.
engine::RunKeepersOptions keepersOptions(const CliOptions& options, std::FILE* err, engine::DroppedRuns dropped) {
    engine::RunKeepersOptions keep;
    keep.Dropped = dropped;
    keep.Writes = engine::RunWrites(options.Operation, options.DryRun);
    keep.Journal = !options.NoJournal;
    keep.Description = options.CommandLine;
    keep.OnNotKept = [err](std::string_view path, std::string_view reason) {
        printLine(err, path, "not kept in the run journal: ", reason);
    };
    keep.BackupSuffix = options.BackupSuffix;
    return keep;
}

// Ends the journal, and names the run on err when it recorded files, so that
// the user knows what to undo; notes in droppedRunsLeft, where given, whether
// runs wait to be deleted.
void finishKeepers(engine::RunKeepers& keepers, std::FILE* err, bool* droppedRunsLeft) {
    keepers.finish();
    if (droppedRunsLeft != nullptr)
        *droppedRunsLeft = keepers.runsLeftToDelete();
    if (keepers.journaledFiles() == 0)
        return;
    const std::string& id = keepers.journalId();
    if (keepers.notKept() > 0)
        std::fprintf(err,
                     "quillet-cli: run %s journaled, %zu of its %zu files without their old content; "
                     "undo with: quillet-cli undo %s\n",
                     id.c_str(), keepers.notKept(), keepers.journaledFiles(), id.c_str());
    else
        std::fprintf(err, "quillet-cli: run %s journaled; undo with: quillet-cli undo %s\n", id.c_str(), id.c_str());
}

// The matches of each file printed as the run gives them; a file begun
// while the output works is printed to its end.
class PrintedMatches final : public engine::MatchListener {
public:
    PrintedMatches(MatchPrinter& printer, std::function<bool()> silent, std::function<void()> fileDone)
        : m_printer(printer), m_silent(std::move(silent)), m_fileDone(std::move(fileDone)) {}
    void begin(const std::string& entry, std::string_view text) override {
        m_printing = !m_silent();
        if (m_printing)
            m_printer.begin(QuotePath(entry), text);
    }
    void matches(std::span<const engine::MatchLocation> batch) override {
        if (!m_printing)
            return;
        for (const engine::MatchLocation& match : batch)
            m_printer.add(match);
    }
    void end() override {
        if (!m_printing)
            return;
        m_printing = false;
        m_printer.end();
        m_fileDone();
    }

private:
    MatchPrinter& m_printer;
    std::function<bool()> m_silent;
    std::function<void()> m_fileDone;
    bool m_printing = false;
};

} // namespace

namespace {
constexpr std::size_t kShortestDiffUpTo = std::size_t{1} << 20;
} // namespace

core::DiffColor ChooseDiffColor(ColorWhen when, bool terminal, const char* noColor, const char* term) {
    if (when != ColorWhen::Auto)
        return when == ColorWhen::Always ? core::DiffColor::Ansi : core::DiffColor::None;
    const bool colour =
        terminal && (noColor == nullptr || *noColor == '\0') && (term == nullptr || std::string_view(term) != "dumb");
    return colour ? core::DiffColor::Ansi : core::DiffColor::None;
}

int RunCli(const CliOptions& options, std::FILE* in, std::FILE* out, std::FILE* err, bool* droppedRunsLeft) {
    std::int64_t matchedFiles = 0;
    std::set<std::string> warned;
    // errno of the first failed write of the result list; the run stops at
    // the next file boundary, as for Ctrl-C.
    int listWriteError = 0;
    // Entries go out one by one while files are being rewritten, so that a
    // reader that has gone away is noticed before the next rewrite rather
    // than a bufferful of rewrites later. A search may buffer.
    const bool flushEachEntry = options.Operation != core::OpOnlySearch && !options.DryRun;
    // A name shown on a terminal must not command it; a list for a script
    // stays byte for byte.
    const bool quoteEntries = !options.NullTerminated && isatty(fileno(out)) == 1;
    // Asked before anything is read: without a terminal, nothing is done.
    std::unique_ptr<ChangeQuestions> questions;
    if (options.Confirm) {
        questions = ChangeQuestions::open(
            ChooseDiffColor(options.Color, true, std::getenv("NO_COLOR"), std::getenv("TERM")) == core::DiffColor::Ansi,
            g_interrupted);
        if (!questions) {
            std::fprintf(err, "quillet-cli: --confirm needs a terminal\n");
            return 2;
        }
    }
    const SignalGuard signalGuard;
    engine::RunEvents events;
    events.OnFile = [&](const engine::FileReport&, bool& stop) {
        stop = g_interrupted != 0 || listWriteError != 0 || (questions && questions->quit());
    };
    // Asked before each file is put in place, so that the files staged
    // together are put in place together. After q (or Ctrl-C at a
    // question, which counts as q), the files already answered get what
    // they accepted: OnFile's stop then ends the run once they are.
    events.StopRequested = [&] {
        return listWriteError != 0 || (g_interrupted != 0 && !(questions && questions->quit()));
    };
    if (questions) {
        events.ChooseMatches = [&](const std::string& path, std::string_view text,
                                   const std::vector<engine::MatchLocation>& matches,
                                   std::int64_t) { return questions->ask(QuotePath(path), text, matches); };
        events.ChoicesAreAsked = true;
    }
    events.OnResult = [&](const std::string& entry) {
        ++matchedFiles;
        if (options.Quiet || listWriteError != 0)
            return;
        const std::string shown = quoteEntries ? QuotePath(entry) : std::string();
        const std::string& name = quoteEntries ? shown : entry;
        const bool written = std::fwrite(name.data(), 1, name.size(), out) == name.size() &&
                             std::fputc(options.NullTerminated ? '\0' : '\n', out) != EOF &&
                             (!flushEachEntry || std::fflush(out) == 0);
        if (!written)
            listWriteError = errno != 0 ? errno : EIO;
    };
    if (options.Diff) {
        // The diffs replace the list. The run notes which stretches each
        // operation kept (buildRequest), which spares the diff a search.
        const core::DiffColor color =
            ChooseDiffColor(options.Color, isatty(fileno(out)) == 1, std::getenv("NO_COLOR"), std::getenv("TERM"));
        events.OnResult = [&](const std::string&) { ++matchedFiles; };
        events.OnChanged = [&, color](const std::string& path, std::string_view oldText, std::string_view newText,
                                      const std::vector<core::KeptStretch>* kept, std::int64_t, std::uint64_t) {
            if (listWriteError != 0)
                return;
            std::string diff;
            // A page-sized file gets the shortest diff, placed as `diff -u`
            // places it; a large one the linear diff along the kept stretches,
            // valid too, but free to align a moved blank line differently.
            const bool large = oldText.size() > kShortestDiffUpTo;
            core::WriteUnifiedDiff(diff, QuotePath("a/" + path), QuotePath("b/" + path), oldText, newText,
                                   large ? kept : nullptr, color);
            const bool written = std::fwrite(diff.data(), 1, diff.size(), out) == diff.size() &&
                                 (!flushEachEntry || std::fflush(out) == 0);
            if (!written)
                listWriteError = errno != 0 ? errno : EIO;
        };
    }
    std::optional<MatchPrinter> matchPrinter;
    std::optional<PrintedMatches> matchListener;
    if (options.Matches) {
        MatchStyle style;
        style.Before = options.ContextBefore;
        style.After = options.ContextAfter;
        style.Column = options.Column;
        style.Color = ChooseDiffColor(options.Color, isatty(fileno(out)) == 1, std::getenv("NO_COLOR"),
                                      std::getenv("TERM")) == core::DiffColor::Ansi;
        style.Replacement = options.Operation != core::OpOnlySearch;
        matchPrinter.emplace(style, [&](std::string_view piece) {
            if (listWriteError == 0 && std::fwrite(piece.data(), 1, piece.size(), out) != piece.size())
                listWriteError = errno != 0 ? errno : EIO;
        });
        events.OnResult = [&](const std::string&) { ++matchedFiles; };
        matchListener.emplace(
            *matchPrinter, [&] { return options.Quiet || listWriteError != 0; },
            [&] {
                if (flushEachEntry && std::fflush(out) != 0)
                    listWriteError = errno != 0 ? errno : EIO;
            });
        events.Matches = &*matchListener;
    }
    events.OnFileError = [&](const std::string& path, const std::string& message) {
        std::fflush(out);
        printLine(err, path, "", message);
    };
    events.OnPassedOver = [&](const std::string& path, std::string_view reason) {
        std::fflush(out);
        printLine(err, path, "", reason);
    };
    events.OnUnreadableDirectory = [&](const std::string& directory, const std::string& reason) {
        if (warned.insert(directory).second)
            std::fprintf(err, "quillet-cli: cannot read directory \"%s\": %s\n", EscapeText(directory).c_str(),
                         EscapeText(reason).c_str());
    };

    int finalWriteError = 0;
    engine::RunTotals totals;
    std::optional<engine::RunKeepers> keepers;
    try {
        engine::RunRequest request = buildRequest(options, in);
        keepers.emplace(keepersOptions(options, err,
                                       droppedRunsLeft != nullptr ? engine::DroppedRuns::LeftToCaller
                                                                  : engine::DroppedRuns::DeletedDuringRun));
        request.Hooks = keepers->hooks();
        const std::int64_t filesDone = engine::ExecuteRun(request, events, &totals);
        if (std::fflush(out) != 0 || std::ferror(out))
            finalWriteError = errno != 0 ? errno : EIO;
        finishKeepers(*keepers, err, droppedRunsLeft);
        if (totals.PassedOver > 0)
            std::fprintf(err, "quillet-cli: %lld binary %s passed over; --binary processes them\n",
                         static_cast<long long>(totals.PassedOver), totals.PassedOver == 1 ? "file" : "files");
        std::fprintf(err, "Finished! Found and Processed %lld files.\n", static_cast<long long>(filesDone));
    } catch (const std::exception& error) {
        std::fflush(out);
        if (keepers)
            finishKeepers(*keepers, err, droppedRunsLeft);
        std::fprintf(err, "quillet-cli: %s\n", EscapeText(error.what()).c_str());
        return 2;
    }
    if (g_interrupted != 0) {
        std::fprintf(err, "quillet-cli: interrupted; the run stopped between two files\n");
        return 128 + static_cast<int>(g_interrupted);
    }
    if (listWriteError != 0) {
        std::fprintf(err, "quillet-cli: cannot write the result list: %s; the run stopped between two files\n",
                     engine::ErrnoText(listWriteError).c_str());
        return 2;
    }
    if (finalWriteError != 0) {
        std::fprintf(err, "quillet-cli: cannot write the result list: %s\n",
                     engine::ErrnoText(finalWriteError).c_str());
        return 2;
    }
    // A folder the walk could not read is a part of the tree left out.
    if (totals.Failed > 0 || !warned.empty())
        return 2;
    return matchedFiles > 0 ? 0 : 1;
}

} // namespace quillet::cli
