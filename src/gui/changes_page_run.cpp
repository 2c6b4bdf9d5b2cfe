// The Changes page's runs: Preview, Stop and Apply, their progress and what
// the list shows when they end.
#include "changes_page.h"

#include "changes_page_parts.h"
#include "core/text_ops.h"
#include "diff_view.h"
#include "user_dialogs.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

namespace quillet::gui {

using namespace detail;

// Shared by the page and the run's thread: the ticks of the files as the
// page hands them over (read only while the run goes), and the files found
// no longer as previewed (guarded).
struct ChangesPage::ApplyChoices {
    struct Previewed {
        std::uint64_t TextHash = 0;
        std::vector<bool> Ticks;
    };
    std::map<std::string, Previewed> ByPath;

    std::mutex Mutex;
    std::vector<FileChange> ReviewAgain; // guarded by Mutex

    // The previewed ticks of the file, when its text is still the one
    // previewed (then its matches are the ones ticked, by number); else
    // none, and the file is noted for a review.
    std::vector<bool> choose(const std::string& path, std::string_view text, std::size_t count) {
        const std::uint64_t hash = engine::HashText(text);
        const auto previewed = ByPath.find(path);
        const bool same =
            previewed != ByPath.end() && previewed->second.TextHash == hash && previewed->second.Ticks.size() == count;
        const std::lock_guard lock(Mutex);
        // A file is asked about again when it changed between two reads:
        // only its last answer holds.
        std::erase_if(ReviewAgain, [&](const FileChange& change) { return change.Path == path; });
        if (same)
            return previewed->second.Ticks;
        FileChange again;
        again.Path = path;
        again.Matches = static_cast<std::int64_t>(count);
        again.TextHash = hash;
        again.DiffKept = false;
        ReviewAgain.push_back(std::move(again));
        return std::vector<bool>(count, false);
    }
};

void ChangesPage::Preview_BtnClick() {
    engine::RunRequest request = m_source();
    request.Param.DryRun = true;
    request.Hooks = nullptr;
    m_previewRequest = request;
    startRun(std::move(request), Shown::Preview, std::nullopt);
}

void ChangesPage::Stop_BtnClick() {
    if (!m_run->isRunning())
        return;
    m_stopping = true;
    m_run->setStopRequested(true);
    updateButtons();
}

// The ticked files, by the paths the preview listed, with the preview's
// settings (the window's controls may have changed since) and the ticks of
// their changes.
void ChangesPage::Apply_BtnClick() {
    engine::RunRequest request;
    request.Shape = engine::RunShape::PathList;
    request.Param = m_previewRequest.Param;
    request.Param.DryRun = false;
    request.Threads = m_previewRequest.Threads;
    auto choices = std::make_shared<ApplyChoices>();
    for (const Row& row : m_rows) {
        if (!row.Checkable || tickState(row) == Qt::Unchecked)
            continue;
        request.Entries.push_back(row.Change.Path);
        choices->ByPath[row.Change.Path] = {row.Change.TextHash, row.Ticks};
    }
    if (request.Entries.empty()) {
        userDialogs().showInformation(this, QStringLiteral("No file is ticked: nothing to apply."));
        return;
    }
    engine::RunKeepersOptions keep;
    keep.Writes = engine::RunWrites(request.Param.Operation, request.Param.DryRun);
    keep.Description = describeRun(m_previewRequest) + " (applied from a preview)";
    keep.BackupSuffix = backupSuffix();
    m_choices = std::move(choices);
    m_written.clear();
    startRun(std::move(request), Shown::RunChanges, std::move(keep));
}

void ChangesPage::startRun(engine::RunRequest request, Shown shows, std::optional<engine::RunKeepersOptions> keep) {
    ChangeLimits limits;
    limits.DiffsOnDemand = shows == Shown::Preview;
    m_collector = std::make_shared<ChangeCollector>(limits);
    RunAttachments attachments;
    attachments.Keep = std::move(keep);
    // The page shows the count and the file in hand; its rows come from
    // the collector.
    attachments.Delivered = RunAttachments::Reports::LatestOnly;
    const bool search = request.Param.Operation == core::OpOnlySearch;
    if (search) {
        // As after Execute: the matches of each file. A listing's entries
        // are bare names: the page opens and names them by path.
        request.Param.ListMatches = true;
        request.Param.ListMatchesUpTo = m_collector->listedMatches();
        std::string base;
        if (request.Shape == engine::RunShape::DirectoryListing && !request.Directory.empty())
            base = request.Directory.back() == '/' ? request.Directory : request.Directory + '/';
        attachments.OnMatches = [collector = m_collector, base](const std::string& entry, std::string_view text,
                                                                const std::vector<engine::MatchLocation>& matches,
                                                                std::int64_t count) {
            collector->recordMatches(base + entry, text, matches, count);
        };
    } else {
        attachments.OnChanged = [collector = m_collector](const std::string& path, std::string_view oldText,
                                                          std::string_view newText, std::int64_t matches,
                                                          std::uint64_t textHash) {
            collector->record(path, oldText, newText, matches, textHash);
        };
        // A preview's diffs are made when a file is looked at; a recipe's
        // are still made, to count its changed places.
        attachments.ChangedNeedsNewText = !limits.DiffsOnDemand || core::IsRecipe(request.Param.Operation);
    }
    if (m_choices && !core::IsRecipe(request.Param.Operation)) {
        attachments.ChooseMatches = [choices = m_choices](const std::string& path, std::string_view text,
                                                          const std::vector<engine::MatchLocation>&,
                                                          std::int64_t count) {
            return choices->choose(path, text, static_cast<std::size_t>(count));
        };
        attachments.ChoiceListsUpTo = 0; // the ticks go by number
    }
    m_param = request.Param;
    m_running = shows;
    m_shown = shows;
    m_showsMatches = search;
    m_stopping = false;
    m_filesSeen = 0;
    m_filesTotal = -1;
    m_currentFile.clear();
    m_sinceRowsAdded.invalidate();
    clearList();
    m_status->setText(shows == Shown::Preview ? QStringLiteral("Previewing...") : QStringLiteral("Applying..."));
    m_diff->showMessage(QString());
    m_run->start(std::move(request), StopAtStart::No, std::move(attachments));
    // The button pressed is now disabled: the keyboard goes to Stop.
    const bool fromButton = m_preview->hasFocus() || m_apply->hasFocus();
    updateButtons();
    if (fromButton || !m_list->hasFocus())
        m_stop->setFocus(Qt::OtherFocusReason);
    emit busyChanged(true);
}

void ChangesPage::onFilesHandled(const QList<FileBatch>& batches) {
    if (m_running == Shown::Nothing || batches.isEmpty())
        return;
    const engine::FileReport& last = batches.back().Report;
    m_filesSeen = last.Index;
    m_filesTotal = last.Total;
    m_currentFile = fromBytes(last.FullPath);
    // The view lays out all its rows again after each insertion: rows join
    // the list a few times a second, the count and the file in hand at
    // display rate.
    if (!m_sinceRowsAdded.isValid() || m_sinceRowsAdded.elapsed() >= kRowsInterval.count()) {
        appendCollected();
        m_sinceRowsAdded.start();
    }
    const QString seen = m_filesTotal > 0 ? QStringLiteral("%1 of %2 files").arg(m_filesSeen).arg(m_filesTotal)
                                          : filesText(static_cast<std::size_t>(m_filesSeen));
    QString progress;
    if (m_running == Shown::Preview)
        progress = QStringLiteral("Previewing: %1 looked at, %2 %3 so far")
                       .arg(seen)
                       .arg(m_rows.size())
                       .arg(m_showsMatches ? QStringLiteral("matching") : QStringLiteral("would change"));
    else
        progress = QStringLiteral("Applying: %1 done, %2 changed so far").arg(seen).arg(m_rows.size());
    const QFontMetrics metrics = m_status->fontMetrics();
    const int room = std::max(metrics.averageCharWidth() * 20,
                              m_status->width() - metrics.horizontalAdvance(progress) - metrics.averageCharWidth() * 4);
    m_status->setText(progress + QStringLiteral(" \u2014 ") + metrics.elidedText(m_currentFile, Qt::ElideMiddle, room));
}

void ChangesPage::onRunFinished() {
    showRunOutcome(true);
}

void ChangesPage::appendCollected() {
    std::vector<Row> rows;
    for (FileChange& change : m_collector->take()) {
        Row row{std::move(change), {}, true};
        if (m_running == Shown::Preview && !row.Change.IsSearch) {
            row.Checkable = true;
            if (!core::IsRecipe(m_param.Operation) && row.Change.Matches > 0)
                row.Ticks.assign(static_cast<std::size_t>(row.Change.Matches), true);
        }
        // A file whose changes were chosen was written only where its text
        // was still the one previewed; a recipe's is processed afresh.
        if (m_running == Shown::RunChanges && m_choices) {
            const auto previewed = m_choices->ByPath.find(row.Change.Path);
            m_written.insert(row.Change.Path);
            if (previewed != m_choices->ByPath.end() && previewed->second.TextHash != row.Change.TextHash)
                row.Note = QStringLiteral("changed since the preview: processed afresh");
        }
        rows.push_back(std::move(row));
    }
    appendRows(std::move(rows));
}

// A run that failed halfway leaves the checked files after the failure
// unprocessed: only a complete run says that a file has nothing to change.
void ChangesPage::showRunOutcome(bool complete) {
    appendCollected();
    const std::size_t changed = m_rows.size();
    std::vector<Row> extra;
    std::size_t reviewAgain = 0;
    if (m_running == Shown::RunChanges && m_choices) {
        const std::lock_guard lock(m_choices->Mutex);
        for (FileChange& change : m_choices->ReviewAgain) {
            m_written.insert(change.Path);
            Row row{std::move(change), kChangedSincePreview, true};
            row.Checkable = true;
            row.Ticks.assign(static_cast<std::size_t>(row.Change.Matches), false);
            extra.push_back(std::move(row));
            ++reviewAgain;
        }
        // A ticked file that the whole run left as it was has changed since
        // the preview: the text previewed would change.
        if (complete && !m_stopping) {
            for (const auto& [path, previewed] : m_choices->ByPath) {
                if (m_written.count(path) != 0)
                    continue;
                FileChange unchanged;
                unchanged.Path = path;
                extra.push_back({std::move(unchanged), kNothingToChangeNow, false});
            }
        }
    }
    appendRows(std::move(extra));
    m_choices.reset();
    const Shown ran = std::exchange(m_running, Shown::Nothing);
    const bool stopped = std::exchange(m_stopping, false);
    const QString count = filesText(changed);
    const QString seen = filesText(static_cast<std::size_t>(m_filesSeen));
    QString status;
    if (ran == Shown::Preview && m_showsMatches) {
        status = !complete ? QStringLiteral("The search stopped on an error: matches in %1 before it.").arg(count)
                 : stopped ? QStringLiteral("The search was stopped after %1: matches in %2 so far.").arg(seen, count)
                           : QStringLiteral("Matches in %1.").arg(count);
    } else if (ran == Shown::Preview) {
        // A run that failed lists only the files before the failure: the
        // status must not read like a finished one.
        status = !complete ? QStringLiteral("The preview stopped on an error: %1 would change before it. Nothing "
                                            "was written.")
                                 .arg(count)
                 : stopped ? QStringLiteral("The preview was stopped after %1: %2 would change so far. Nothing "
                                            "was written.")
                                 .arg(seen, count)
                           : QStringLiteral("%1 would change. Nothing was written.").arg(count);
    } else {
        status = !complete ? QStringLiteral("The run stopped on an error: %1 changed before it.").arg(count)
                 : stopped ? QStringLiteral("The run was stopped: %1 changed before it.").arg(count)
                           : QStringLiteral("%1 changed.").arg(count);
        if (reviewAgain > 0)
            status += QStringLiteral(" %1 changed since the preview and left as %2: review %3 changes and Apply "
                                     "again.")
                          .arg(filesText(reviewAgain),
                               reviewAgain == 1 ? QStringLiteral("it was") : QStringLiteral("they were"),
                               reviewAgain == 1 ? QStringLiteral("its") : QStringLiteral("their"));
    }
    const bool stopFocused = m_stop->hasFocus();
    finishList(status);
    if (stopFocused)
        m_list->setFocus(Qt::OtherFocusReason);
    emit busyChanged(false);
    emit actionEnded();
}

void ChangesPage::onRunFailed(const QString& message) {
    showRunOutcome(false);
    userDialogs().showError(this, errorBoxText(message));
}

} // namespace quillet::gui
