// The window's "Changes" page, after "Result": what a run would change or
// did change, file by file, and the way back.
//   Preview          runs the window's current settings as a dry run and lists
//                    each file that would change, with its number of matches
//                    and a tick, as the files are found (the status line
//                    counts the files looked at and names the one in hand);
//                    nothing is written. A file's row opens into its changes,
//                    each with its line, the old and the new text and a tick
//                    of its own, all ticked at first; unticking each change
//                    of a file unticks the file, ticking the file ticks them
//                    all. Space toggles the tick of the current row. With
//                    Only Search, it lists the matching files and their
//                    matches, as Execute does.
//   Stop (or Esc)    ends a preview (or an apply) after the file in hand;
//                    the list keeps what was found so far and says so.
//   Apply            rewrites exactly the ticked changes of the ticked files
//                    of the preview, with the settings of the preview, as one
//                    journaled run; the engine applies the choice
//                    (RunEvents::ChooseMatches). A file whose text is no
//                    longer the one previewed is left as it is, read afresh
//                    and listed again, marked, with its changes unticked for
//                    a review; a clean-up recipe's file (whose changes are
//                    not counted, so not chosen one by one) is processed
//                    afresh and marked.
//   Undo Last Run    gives the newest journaled run's files their old content
//                    back, after a confirmation that says how many; files
//                    changed since that run are left alone and listed so.
//                    The journal is read, and the undo runs, on a thread of
//                    the page's own, so that the window answers meanwhile
//                    (a large run's record takes a while); the page and
//                    Execute wait for it.
//   Keep Backups     (off at every start) Execute and Apply keep each
//                    rewritten file's old content beside it as FILE.bak,
//                    besides the journal, as quillet-cli --backup does.
// Selecting a file shows its changes as a coloured diff with line numbers.
// After a real run of the window (Execute), the page lists what that run
// changed, the same way; after Only Search, each matching file with its
// count, and selecting one shows its matches, highlighted, with line numbers
// and context (DiffView::showMatches). A double-click or Return opens a file
// with the desktop's handler; the context menu (also the Menu key or
// Shift+F10, for the current row) offers Open, Open Containing Folder, Copy
// Path. A double-click on a line of the diff or of the matches, or Return on
// the line the view's caret is on, opens the file at that line in the user's
// editor when the environment names one that can (OpenFileAtLine), else with
// the desktop's handler.
//
// Layer: gui. Runs go through a RunController of the page's own; the page
// knows the window only through the RequestSource it is given.
#pragma once

#include "change_list.h"
#include "engine/run/run.h"
#include "run_controller.h"
#include "engine/keep/run_keepers.h"
#include "engine/keep/undo.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QModelIndex;
class QShortcut;
class QTreeView;

namespace quillet::gui {

class DiffView;

// What a journal entry says of a run of the window: the operation, its texts
// and where it ran, e.g. Replace Text "a" with "b" in /web (*.htm, sub
// folders). Bytes as the settings hold them.
std::string describeRun(const engine::RunRequest& request);

// The backups' suffix, as quillet-cli --backup's default.
inline constexpr const char* kBackupSuffix = ".bak";

// The text of the confirmation before an undo: "Undo the last run
// (<description>)?" and how many files it restores ("1 file", "3 files").
QString undoQuestion(const QString& description, std::size_t files);

class ChangesPage : public QWidget {
    Q_OBJECT

public:
    // The window's current settings as a run request; raises quillet::Error
    // for settings that Execute would refuse too.
    using RequestSource = std::function<engine::RunRequest()>;

    explicit ChangesPage(RequestSource source, QWidget* parent = nullptr);
    ~ChangesPage() override;

    // Shows what a real run of the window changed (its collector's record),
    // `param` being the run's settings; for Only Search, the files it found
    // and their matches (ChangeCollector::recordMatches).
    void showRunChanges(std::vector<FileChange> changes, const engine::FileOperation& param);

    // While the window's own run goes, the page starts nothing.
    void setWindowRunning(bool running);
    // A preview, an apply or an undo is going on.
    bool isBusy() const;

    // The suffix of the backups a writing run of the window keeps: ".bak"
    // while Keep Backups is ticked, else none.
    std::optional<std::string> backupSuffix() const;

    // The page's controls in the order Tab visits them.
    QList<QWidget*> focusChain() const;

    // The shortest time between two additions of rows to the list while a
    // run goes.
    static constexpr std::chrono::milliseconds kRowsInterval{250};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // A preview, apply or undo started (true) or ended (false): the window's
    // Execute waits for it.
    void busyChanged(bool busy);
    // A preview, apply or undo has ended and the list shows its outcome.
    void actionEnded();

private:
    enum class Shown { Nothing, Preview, RunChanges, UndoOutcome };
    // One line of the list: a changed file, and what the list says of it
    // beyond its count (changed since the preview, left alone by an undo).
    struct Row {
        Row(FileChange change, QString note, bool counted)
            : Change(std::move(change)), Note(std::move(note)), Counted(counted) {}

        FileChange Change;
        QString Note;
        bool Counted = true; // the Matches column applies
        // A preview's file (or one to review again after an apply): it has a
        // tick, and Ticks one per change (match n at [n - 1]), unless the
        // operation is a recipe, whose file is ticked as a whole (Ticked).
        bool Checkable = false;
        bool Ticked = true;
        std::vector<bool> Ticks;
        // The changes listed under the file's row once it was opened (at
        // most kMaxChangeItems of them), and how many more follow its tick.
        std::vector<ChangeRow> Listed;
        std::size_t Unlisted = 0;
    };
    class ListModel;
    // What an apply takes from the preview, and what it finds, shared with
    // the run's thread.
    struct ApplyChoices;

    void Preview_BtnClick();
    void Stop_BtnClick();
    void Apply_BtnClick();
    void Undo_BtnClick();
    // Runs `work` on m_undoThread, with the page busy, the wait cursor and
    // `status` shown, then, on the window's thread once that thread has
    // ended, the function `work` returned.
    void startUndoWork(const QString& status, std::function<std::function<void()>()> work);
    // On the window's thread, once the journal has been listed.
    void askToUndo(const engine::JournalPlace& place, const std::vector<engine::RunSummary>& runs);
    void startUndo(const engine::JournalPlace& place, const std::string& id);
    // On the window's thread, once the undo's thread has ended.
    void showUndoOutcome(std::vector<Row> rows, const engine::UndoSummary& summary, std::exception_ptr error,
                         const QString& statusBefore);
    void onRunFinished();
    void onRunFailed(const QString& message);
    void onFilesHandled(const QList<FileBatch>& batches);
    void showRunOutcome(bool complete);
    void onCurrentChanged(const QModelIndex& index);
    // A tick set by the user on a file's row or a change's row: the file's
    // tick and its changes' follow one another.
    void setTick(const QModelIndex& index, Qt::CheckState state);
    // Lists the changes of a preview's file, read again; a file that is no
    // longer as previewed is marked and its changes unticked.
    void showChangesOf(std::size_t file);
    // Reads the row's file again: false (and the row marked, its changes
    // unticked or gone) when it is no longer the text previewed.
    bool checkStillAsPreviewed(std::size_t file);
    void showFileDiff(const Row& row);
    Qt::CheckState tickState(const Row& row) const;
    void showContextMenu(const QPoint& at);
    void openItem(const QModelIndex& index);
    void openItemAtLine(const QModelIndex& index, std::int64_t line);

    // `keep`: the keepers of a run that writes, made on the run's thread.
    void startRun(engine::RunRequest request, Shown shows, std::optional<engine::RunKeepersOptions> keep);
    // Adds rows and their items to the list (a run's, as they come).
    void appendRows(std::vector<Row> rows);
    void appendCollected();
    void clearList();
    void fillList(const QString& status);
    void finishList(const QString& status);
    void updateButtons();
    QString absolutePath(const QModelIndex& index) const;

    RequestSource m_source;
    RunController* m_run;
    QPushButton* m_preview;
    QPushButton* m_stop;
    QShortcut* m_escape;
    QPushButton* m_apply;
    QPushButton* m_undo;
    QCheckBox* m_keepBackups;
    QLabel* m_status;
    ListModel* m_model;
    QTreeView* m_list;
    DiffView* m_diff;

    bool m_windowRunning = false;
    std::thread m_undoThread; // joined when it has ended, or by the destructor
    Shown m_shown = Shown::Nothing;
    bool m_showsMatches = false;         // the rows are a search's matches, not changes
    Shown m_running = Shown::Nothing;    // what the run going on will show
    engine::RunRequest m_previewRequest; // the settings of the preview shown
    engine::FileOperation m_param;       // the settings of the changes shown
    std::shared_ptr<ChangeCollector> m_collector;
    std::vector<Row> m_rows;
    // The ticked files of the apply going on that it has listed.
    std::set<std::string> m_written;
    std::shared_ptr<ApplyChoices> m_choices; // the apply going on
    bool m_stopping = false;                 // Stop was asked of the run going on
    std::int64_t m_filesSeen = 0;            // by the run going on
    std::int64_t m_filesTotal = -1;
    QString m_currentFile;
    QElapsedTimer m_sinceRowsAdded; // to the list, while a run goes
};

} // namespace quillet::gui
