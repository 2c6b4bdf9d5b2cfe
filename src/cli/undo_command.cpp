#include "cli/undo_command.h"

#include "cli/shown_name.h"

#include "engine/keep/journal.h"
#include "engine/keep/undo.h"

#include <ctime>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace quillet::cli {

namespace {

void writeText(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

std::string_view outcomeWord(engine::UndoOutcome outcome) {
    switch (outcome) {
    case engine::UndoOutcome::Restored:
        return "restored";
    case engine::UndoOutcome::AlreadyOld:
        return "unchanged";
    case engine::UndoOutcome::LeftAlone:
        return "left alone";
    case engine::UndoOutcome::NotKept:
        return "not restored";
    case engine::UndoOutcome::Failed:
        break;
    }
    return "failed";
}

std::string localTime(std::int64_t unixNs) {
    const std::time_t seconds = static_cast<std::time_t>(unixNs / 1000000000);
    std::tm parts{};
    char text[32] = "?";
    if (localtime_r(&seconds, &parts) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

// The description may come from the window, with line breaks, or hold
// escape sequences: one line per run, and nothing for the terminal to obey.
std::string oneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return line;
}

int listRuns(std::FILE* out, std::FILE* err) {
    const std::vector<engine::RunSummary> runs = engine::ListRuns(engine::JournalPlace::fromEnvironment());
    if (runs.empty()) {
        std::fputs("quillet-cli: the run journal is empty\n", err);
        return 0;
    }
    std::fprintf(out, "%-20s  %-19s  %5s  %-13s  %s\n", "ID", "STARTED", "FILES", "STATE", "COMMAND");
    for (const engine::RunSummary& run : runs) {
        std::fprintf(out, "%-20s  %-19s  %5zu  %-13s  ", run.Id.c_str(), localTime(run.StartedNs).c_str(), run.Files,
                     engine::RunStateText(run.State));
        writeText(out, oneLine(run.Description) + "\n");
    }
    for (const engine::RunSummary& run : runs)
        for (const auto& [path, problem] : run.UnusableKeepFolders)
            std::fprintf(err, "quillet-cli: run %s kept old content in \"%s\", which cannot be used: %s\n",
                         run.Id.c_str(), EscapeText(path).c_str(), problem.c_str());
    return 0;
}

int undoRun(const UndoOptions& options, std::FILE* out, std::FILE* err) {
    engine::UndoRequest request;
    request.RunId = options.RunId;
    request.Force = options.Force;
    // As the result list of a run: byte for byte for a script, escaped
    // where a terminal would obey what a name holds.
    const bool escape = isatty(fileno(out)) == 1;
    request.OnFile = [out, escape](const engine::UndoFileReport& report) {
        std::string line(outcomeWord(report.Outcome));
        (line += ' ') += report.Path;
        if (report.Outcome == engine::UndoOutcome::AlreadyOld)
            line += ": it already holds its old content";
        else if (report.Outcome != engine::UndoOutcome::Restored)
            (line += ": ") += report.Reason;
        writeText(out, (escape ? EscapeText(line) : line) + "\n");
    };
    const engine::UndoSummary summary = engine::UndoRun(engine::JournalPlace::fromEnvironment(), request);
    std::fflush(out);
    std::fprintf(err, "Undid run %s: %zu restored, %zu unchanged, %zu left alone, %zu not restored, %zu failed.\n",
                 summary.RunId.c_str(), summary.Restored, summary.AlreadyOld, summary.LeftAlone, summary.NotKept,
                 summary.Failed);
    if (summary.LeftAlone > 0)
        std::fprintf(err,
                     "quillet-cli: files changed since the run were left alone; "
                     "quillet-cli undo %s --force restores them too\n",
                     summary.RunId.c_str());
    if (summary.RecordIncomplete)
        std::fprintf(err,
                     "quillet-cli: the journal's record of run %s is damaged or cut short: "
                     "files it does not name may still hold the run's changes\n",
                     summary.RunId.c_str());
    if (summary.Failed > 0 || summary.RecordIncomplete)
        return 2;
    return summary.Complete && summary.LeftAlone == 0 && summary.NotKept == 0 ? 0 : 1;
}

} // namespace

int RunUndo(const UndoOptions& options, std::FILE* out, std::FILE* err) {
    try {
        return options.List ? listRuns(out, err) : undoRun(options, out, err);
    } catch (const std::exception& error) {
        std::fflush(out);
        std::fprintf(err, "quillet-cli: %s\n", EscapeText(error.what()).c_str());
        return 2;
    }
}

} // namespace quillet::cli
