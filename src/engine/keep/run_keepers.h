// Which keepers a writing run gets, one policy for both front ends: the run
// journal (unless it is turned off), backups beside each rewritten file (when
// a suffix is asked for), and nothing at all for a run that writes nothing
// (a search, a dry run). Engine layer; the command line and the window hand
// hooks() to the run as its RunRequest::Hooks and call finish() when the run
// has ended, whatever way it ended.
#pragma once

#include "engine/keep/backup_hooks.h"
#include "engine/keep/journal.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::engine {

// Whether a run of `operation` writes files: not a search, not a dry run.
bool RunWrites(std::uint8_t operation, bool dryRun);

struct RunKeepersOptions {
    // Whether the run writes (RunWrites): a run that does not gets no
    // keeper, whatever else is asked.
    bool Writes = false;
    // Keep the run's journal, so that undo can give the old content back.
    bool Journal = true;
    // What the run did, shown by the journal's listing (JournalOptions).
    std::string Description;
    // A file whose old bytes the journal could not keep, and why; called on
    // the run's thread (JournalOptions::OnNotKept).
    std::function<void(std::string_view listedPath, std::string_view reason)> OnNotKept;
    // Keep each rewritten file's old content beside it as FILE+suffix.
    std::optional<std::string> BackupSuffix;
    // When the runs the journal drops to make room are deleted.
    DroppedRuns Dropped = DroppedRuns::DeletedDuringRun;
};

class RunKeepers {
public:
    // Reads the journal's place and limits from the environment. Raises the
    // errors of JournalOptionsFromEnvironment (a journal folder that is not
    // the user's own) and of BackupHooks (an invalid suffix), before the run
    // has touched a file. Touches no file itself.
    explicit RunKeepers(RunKeepersOptions options);

    // The hooks point into this object.
    RunKeepers(const RunKeepers&) = delete;
    RunKeepers& operator=(const RunKeepers&) = delete;
    // Finishes the journal.
    ~RunKeepers();

    // The run's hooks; nullptr when nothing is kept.
    CommitHooks* hooks() { return m_chain.empty() ? nullptr : &m_chain; }

    // Marks the journal's run finished (RunJournal::finish). Later calls do
    // nothing.
    void finish() noexcept;

    bool journaled() const { return m_journal.has_value(); }
    bool keepsBackups() const { return m_backups.has_value(); }
    // The journal's run id, and how many files it recorded and how many of
    // those without their old content; "" and 0 without a journal.
    const std::string& journalId() const;
    std::size_t journaledFiles() const { return m_journal ? m_journal->files() : 0; }
    std::size_t notKept() const { return m_journal ? m_journal->notKept() : 0; }
    // With DroppedRuns::LeftToCaller: whether runs wait for DeleteDroppedRuns.
    bool runsLeftToDelete() const { return m_journal && m_journal->runsLeftToDelete(); }

private:
    std::optional<RunJournal> m_journal;
    std::optional<BackupHooks> m_backups;
    HookChain m_chain;
    bool m_finished = false;
};

} // namespace quillet::engine
