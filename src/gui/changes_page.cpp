#include "changes_page.h"

#include "changes_page_list.h"
#include "changes_page_parts.h"

#include "core/error.h"
#include "core/text_ops.h"
#include "diff_view.h"
#include "engine/keep/journal.h"
#include "engine/keep/undo.h"
#include "launcher/shell_launcher.h"
#include "run_controller.h"
#include "user_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMetaObject>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace quillet::gui {

using namespace detail;

namespace {

QString undoNote(engine::UndoOutcome outcome, std::string_view reason) {
    QString why = QString::fromLocal8Bit(reason.data(), static_cast<qsizetype>(reason.size()));
    switch (outcome) {
    case engine::UndoOutcome::Restored:
        return QStringLiteral("restored");
    case engine::UndoOutcome::AlreadyOld:
        return QStringLiteral("already as before the run");
    case engine::UndoOutcome::LeftAlone:
        return QStringLiteral("left alone: ") + why;
    case engine::UndoOutcome::NotKept:
    case engine::UndoOutcome::Failed:
        return why;
    }
    return why;
}

// Paths lose their middle when they do not fit, a change's row its end: its
// line number and old text stay in sight.
class ChangeRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.parent().isValid())
            option->textElideMode = Qt::ElideRight;
    }
};

// As the Result page's list does: the desktop's handler, never a program
// named like the file.
void openWithDesktop(const QString& path) {
    if (path.isEmpty())
        return;
    if (!QFileInfo::exists(path))
        throw Error("\"" + QFile::encodeName(path).toStdString() + "\" does not exist");
    if (!OpenWithDesktop(path))
        throw Error("No program is set up to open \"" + QFile::encodeName(path).toStdString() + "\"");
}

} // namespace

std::string describeRun(const engine::RunRequest& request) {
    const engine::FileOperation& param = request.Param;
    const core::OperationInfo* operation = core::FindOperation(param.Operation);
    std::string text = operation ? std::string(operation->Caption) : std::string("Operation");
    const bool recipe = core::IsRecipe(param.Operation);
    if (!recipe) {
        text += " \"" + param.SearchPattern + "\"";
        if (param.Operation != core::OpOnlySearch)
            text += (param.Operation == core::OpReplaceText ? " with \"" : " text \"") + param.NewText + "\"";
    }
    switch (request.Shape) {
    case engine::RunShape::DirectoryWalk:
        text += " in " + request.Directory + " (" + request.Mask + ", sub folders)";
        break;
    case engine::RunShape::DirectoryListing:
        text += " in " + request.Directory + " (" + std::to_string(request.Entries.size()) + " listed files)";
        break;
    case engine::RunShape::PathList:
        text += " in " + std::to_string(request.Entries.size()) + " listed paths";
        break;
    }
    return text;
}

QString undoQuestion(const QString& description, std::size_t files) {
    return QStringLiteral("Undo the last run (%1)?\n\nThis restores the old content of %2; files changed since "
                          "the run are left alone.")
        .arg(description, filesText(files));
}

ChangesPage::ChangesPage(RequestSource source, QWidget* parent)
    : QWidget(parent), m_source(std::move(source)), m_run(new RunController(this)),
      m_preview(new QPushButton(QStringLiteral("&Preview"), this)),
      m_stop(new QPushButton(QStringLiteral("&Stop"), this)), m_apply(new QPushButton(QStringLiteral("&Apply"), this)),
      m_undo(new QPushButton(QStringLiteral("&Undo Last Run"), this)),
      m_keepBackups(new QCheckBox(QStringLiteral("Keep &Backups"), this)), m_status(new QLabel(this)),
      m_model(new ListModel(*this)), m_list(new QTreeView(this)), m_diff(new DiffView(this)) {
    m_preview->setObjectName(QStringLiteral("Preview_Btn"));
    m_stop->setObjectName(QStringLiteral("StopPreview_Btn"));
    m_apply->setObjectName(QStringLiteral("Apply_Btn"));
    m_undo->setObjectName(QStringLiteral("Undo_Btn"));
    m_keepBackups->setObjectName(QStringLiteral("KeepBackups_Chk"));
    m_keepBackups->setToolTip(QStringLiteral("Execute and Apply keep each rewritten file's old content beside it, "
                                             "as FILE%1")
                                  .arg(QLatin1String(kBackupSuffix)));
    m_status->setObjectName(QStringLiteral("Changes_Lab"));
    m_list->setObjectName(QStringLiteral("Changes_List"));
    m_diff->setObjectName(QStringLiteral("Diff_View"));
    m_preview->setToolTip(QStringLiteral("List the files the current settings would change, writing nothing"));
    m_stop->setToolTip(QStringLiteral("End the preview after the file in hand, keeping what it found (Esc)"));
    m_apply->setToolTip(QStringLiteral("Make the ticked changes of the ticked files, as previewed"));
    m_undo->setToolTip(QStringLiteral("Give the files of the last run their old content back"));

    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(true);
    m_list->setUniformRowHeights(true);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    // The path takes the room the other columns leave, and loses its middle
    // rather than its file name when it does not fit; the tooltips show the
    // whole path and note.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setItemDelegate(new ChangeRowDelegate(m_list));
    QHeaderView* header = m_list->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(FileColumn, QHeaderView::Stretch);
    // Sized from the counts as rows come, not by the view measuring every
    // row at each insertion, which a list of thousands cannot afford.
    header->setSectionResizeMode(MatchesColumn, QHeaderView::Interactive);
    m_list->setColumnWidth(MatchesColumn, header->sectionSizeHint(MatchesColumn));
    header->setSectionResizeMode(NoteColumn, QHeaderView::Interactive);
    m_diff->showMessage(QStringLiteral("Preview to see what the settings would change."));
    m_status->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_preview);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_apply);
    buttons->addSpacing(12);
    buttons->addWidget(m_keepBackups);
    buttons->addStretch(1);
    buttons->addWidget(m_undo);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_list);
    splitter->addWidget(m_diff);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    splitter->setChildrenCollapsible(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(13, 7, 13, 7);
    layout->addLayout(buttons);
    layout->addWidget(m_status);
    layout->addWidget(splitter, 1);

    auto guarded = [this](void (ChangesPage::*handler)()) {
        return [this, handler] { runGuarded([&] { (this->*handler)(); }); };
    };
    connect(m_preview, &QPushButton::clicked, this, guarded(&ChangesPage::Preview_BtnClick));
    connect(m_stop, &QPushButton::clicked, this, &ChangesPage::Stop_BtnClick);
    // Only while a run goes, so that Esc stays free for the rest of the
    // window otherwise.
    m_escape = new QShortcut(QKeySequence(Qt::Key_Escape), this, nullptr, nullptr, Qt::WindowShortcut);
    connect(m_escape, &QShortcut::activated, this, &ChangesPage::Stop_BtnClick);
    connect(m_apply, &QPushButton::clicked, this, guarded(&ChangesPage::Apply_BtnClick));
    connect(m_undo, &QPushButton::clicked, this, guarded(&ChangesPage::Undo_BtnClick));
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) { runGuarded([&] { onCurrentChanged(index); }); });
    connect(m_list, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { runGuarded([&] { openItem(index); }); });
    connect(m_list, &QWidget::customContextMenuRequested, this, &ChangesPage::showContextMenu);
    connect(m_diff, &DiffView::openLineRequested, this,
            [this](std::int64_t line) { runGuarded([&] { openItemAtLine(m_list->currentIndex(), line); }); });
    m_list->installEventFilter(this);
    connect(m_list, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (index.isValid() && !index.parent().isValid())
            runGuarded([&] { showChangesOf(ListModel::fileRow(index)); });
    });
    connect(m_run, &RunController::filesHandled, this, &ChangesPage::onFilesHandled);
    connect(m_run, &RunController::finished, this, &ChangesPage::onRunFinished);
    connect(m_run, &RunController::failed, this, &ChangesPage::onRunFailed);
    updateButtons();
}

ChangesPage::~ChangesPage() {
    m_run->stopAndWait();
    // An undo cannot be stopped halfway: each file it has begun is put back
    // whole, so closing the window waits for the rest.
    if (m_undoThread.joinable()) {
        m_undoThread.join();
        QApplication::restoreOverrideCursor();
    }
}

bool ChangesPage::isBusy() const {
    return m_run->isRunning() || m_undoThread.joinable();
}

void ChangesPage::setWindowRunning(bool running) {
    m_windowRunning = running;
    updateButtons();
}

QList<QWidget*> ChangesPage::focusChain() const {
    return {m_preview, m_stop, m_apply, m_keepBackups, m_undo, m_list, m_diff};
}

std::optional<std::string> ChangesPage::backupSuffix() const {
    if (!m_keepBackups->isChecked())
        return std::nullopt;
    return std::string(kBackupSuffix);
}

void ChangesPage::updateButtons() {
    const bool idle = !m_windowRunning && !isBusy();
    m_preview->setEnabled(idle);
    m_stop->setEnabled(m_run->isRunning() && !m_stopping);
    m_escape->setEnabled(m_run->isRunning());
    const bool ticked = std::any_of(m_rows.begin(), m_rows.end(), [](const Row& row) { return row.Checkable; });
    m_apply->setEnabled(idle && ticked);
    m_undo->setEnabled(idle);
}

void ChangesPage::showRunChanges(std::vector<FileChange> changes, const engine::FileOperation& param) {
    m_rows.clear();
    for (FileChange& change : changes)
        m_rows.push_back({std::move(change), {}, true});
    m_param = param;
    m_shown = Shown::RunChanges;
    m_showsMatches = param.Operation == core::OpOnlySearch;
    fillList(m_showsMatches ? QStringLiteral("The last search found matches in %1.").arg(filesText(m_rows.size()))
                            : QStringLiteral("The last run changed %1.").arg(filesText(m_rows.size())));
}

void ChangesPage::clearList() {
    m_model->beginReset();
    m_rows.clear();
    m_model->endReset();
    m_list->setColumnWidth(MatchesColumn, m_list->header()->sectionSizeHint(MatchesColumn));
}

void ChangesPage::fillList(const QString& status) {
    std::vector<Row> rows = std::exchange(m_rows, {});
    clearList();
    appendRows(std::move(rows));
    finishList(status);
}

void ChangesPage::appendRows(std::vector<Row> rows) {
    if (rows.empty())
        return;
    // One insertion for the whole batch: the view lays its rows out once.
    bool expandable = false;
    std::int64_t mostMatches = -1;
    m_model->beginAppend(rows.size());
    for (Row& row : rows) {
        expandable = expandable || !row.Ticks.empty();
        if (row.Counted)
            mostMatches = std::max(mostMatches, row.Change.Matches);
        m_rows.push_back(std::move(row));
    }
    m_model->endAppend();
    if (expandable)
        m_list->setRootIsDecorated(true);
    // The widest count is that of the most matches: one measure per batch.
    if (mostMatches >= 0) {
        const QFontMetrics metrics = m_list->fontMetrics();
        const int countWidth = metrics.horizontalAdvance(QString::number(mostMatches)) + metrics.averageCharWidth() * 3;
        if (countWidth > m_list->columnWidth(MatchesColumn))
            m_list->setColumnWidth(MatchesColumn, countWidth);
    }
}

void ChangesPage::finishList(const QString& status) {
    m_list->setRootIsDecorated(
        std::any_of(m_rows.begin(), m_rows.end(), [](const Row& row) { return !row.Ticks.empty(); }));
    // A long note (an undo's reason) is cut rather than squeezing the paths.
    const QFontMetrics metrics = m_list->fontMetrics();
    int noteWidth = 0;
    for (const Row& row : m_rows) {
        if (!row.Note.isEmpty())
            noteWidth = std::max(noteWidth, metrics.horizontalAdvance(row.Note) + metrics.averageCharWidth() * 2);
    }
    m_list->setColumnWidth(NoteColumn, std::max(m_list->header()->sectionSizeHint(NoteColumn),
                                                std::min(noteWidth, metrics.averageCharWidth() * 48)));
    m_status->setText(status);
    const bool diffs = !m_rows.empty() && m_shown != Shown::UndoOutcome;
    m_diff->showMessage(!diffs           ? QString()
                        : m_showsMatches ? QStringLiteral("Select a file to see its matches.")
                                         : QStringLiteral("Select a file to see its changes."));
    updateButtons();
}

void ChangesPage::onCurrentChanged(const QModelIndex& index) {
    if (!index.isValid()) {
        m_diff->showMessage(QString());
        return;
    }
    const std::size_t file = ListModel::fileRow(index);
    Row& row = m_rows.at(file);
    if (m_shown == Shown::UndoOutcome || !row.Counted) {
        m_diff->showMessage(row.Note);
        return;
    }
    if (row.Change.IsSearch) {
        QString note;
        if (row.Change.MatchesBinary)
            note = QStringLiteral("Binary file: its matches are not shown.");
        else if (row.Change.MatchesCut)
            note = QStringLiteral("Only the first matches are shown: there are too many to keep for display.");
        m_diff->showMatches(row.Change.MatchRows, note);
        return;
    }
    if (row.Change.DiffKept) {
        m_diff->showDiff(row.Change.Diff, m_shown == Shown::Preview ? DiskSide::Old : DiskSide::New);
        return;
    }
    // A preview's file is still there to be read (it shows the ticked
    // changes, and whether it is still as previewed); a real run's old
    // content is gone (it is in the journal).
    if (row.Checkable) {
        checkStillAsPreviewed(file);
        if (!row.Checkable) {
            m_diff->showMessage(row.Note);
            return;
        }
        showFileDiff(row);
        return;
    }
    m_diff->showMessage(QStringLiteral("The changes of this file are too large to keep for display."));
}

void ChangesPage::startUndoWork(const QString& status, std::function<std::function<void()>()> work) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_status->setText(status);
    m_undoThread = std::thread([this, work = std::move(work)] {
        std::function<void()> done = work();
        QMetaObject::invokeMethod(
            this,
            [this, done = std::move(done)] {
                m_undoThread.join();
                QApplication::restoreOverrideCursor();
                updateButtons();
                emit busyChanged(false);
                done();
            },
            Qt::QueuedConnection);
    });
    updateButtons();
    emit busyChanged(true);
}

void ChangesPage::Undo_BtnClick() {
    // Even the listing reads every run's record: the window does not wait
    // for the disk meanwhile.
    const engine::JournalPlace place = engine::JournalPlace::fromEnvironment();
    const QString before = m_status->text();
    startUndoWork(QStringLiteral("Reading the run journal..."), [this, place, before]() -> std::function<void()> {
        try {
            return [this, place, before, runs = engine::ListRuns(place)] {
                m_status->setText(before);
                askToUndo(place, runs);
            };
        } catch (...) {
            return [this, before, error = std::current_exception()] {
                m_status->setText(before);
                runGuarded([&] { std::rethrow_exception(error); });
            };
        }
    });
}

void ChangesPage::askToUndo(const engine::JournalPlace& place, const std::vector<engine::RunSummary>& runs) {
    if (runs.empty()) {
        userDialogs().showInformation(this, QStringLiteral("No run to undo: the journal is empty."));
        return;
    }
    const engine::RunSummary& last = runs.front();
    if (last.State == engine::RunState::Undone) {
        userDialogs().showInformation(this, QStringLiteral("The last run was already undone."));
        return;
    }
    if (!userDialogs().askConfirmation(this, undoQuestion(QString::fromLocal8Bit(last.Description), last.Files)))
        return;
    startUndo(place, last.Id);
}

void ChangesPage::startUndo(const engine::JournalPlace& place, const std::string& id) {
    const QString before = m_status->text();
    startUndoWork(QStringLiteral("Undoing the last run..."), [this, place, id, before]() -> std::function<void()> {
        std::vector<Row> rows;
        engine::UndoSummary summary;
        std::exception_ptr error;
        try {
            engine::UndoRequest request;
            request.RunId = id;
            request.OnFile = [&rows](const engine::UndoFileReport& report) {
                FileChange change;
                change.Path = std::string(report.ListedPath);
                rows.push_back({std::move(change), undoNote(report.Outcome, report.Reason), false});
            };
            summary = engine::UndoRun(place, request);
        } catch (...) {
            error = std::current_exception();
        }
        return [this, rows = std::move(rows), summary, error, before]() mutable {
            showUndoOutcome(std::move(rows), summary, error, before);
        };
    });
}

void ChangesPage::showUndoOutcome(std::vector<Row> rows, const engine::UndoSummary& summary, std::exception_ptr error,
                                  const QString& statusBefore) {
    if (error) {
        m_status->setText(statusBefore);
        runGuarded([&] { std::rethrow_exception(error); });
        emit actionEnded();
        return;
    }
    m_rows = std::move(rows);
    m_shown = Shown::UndoOutcome;
    m_showsMatches = false;
    QString status = QStringLiteral("Undone: %1 restored").arg(filesText(summary.Restored + summary.AlreadyOld));
    if (summary.LeftAlone > 0)
        status += QStringLiteral(", %1 changed since and left alone").arg(filesText(summary.LeftAlone));
    if (summary.NotKept + summary.Failed > 0)
        status += QStringLiteral(", %1 not restored").arg(filesText(summary.NotKept + summary.Failed));
    if (summary.RecordIncomplete)
        status += QStringLiteral("; the journal's record of the run is damaged or cut short: files it does not "
                                 "name may still hold the run's changes");
    fillList(status + QLatin1Char('.'));
    emit actionEnded();
}

QString ChangesPage::absolutePath(const QModelIndex& index) const {
    if (!index.isValid())
        return {};
    return QFileInfo(fromBytes(m_rows.at(ListModel::fileRow(index)).Change.Path)).absoluteFilePath();
}

void ChangesPage::openItem(const QModelIndex& index) {
    openWithDesktop(absolutePath(index));
}

void ChangesPage::openItemAtLine(const QModelIndex& index, std::int64_t line) {
    const QString path = absolutePath(index);
    if (path.isEmpty())
        return;
    if (!QFileInfo::exists(path))
        throw Error("\"" + QFile::encodeName(path).toStdString() + "\" does not exist");
    if (!OpenFileAtLine(path, line))
        throw Error("No program is set up to open \"" + QFile::encodeName(path).toStdString() + "\"");
}

void ChangesPage::showContextMenu(const QPoint& at) {
    const QModelIndex item = m_list->indexAt(at);
    const QString path = absolutePath(item);
    QMenu menu(this);
    QAction* open = menu.addAction(QStringLiteral("Open"));
    QAction* folder = menu.addAction(QStringLiteral("Open Containing Folder"));
    QAction* copy = menu.addAction(QStringLiteral("Copy Path"));
    open->setObjectName(QStringLiteral("Open_Change_MI"));
    folder->setObjectName(QStringLiteral("OpenFolder_Change_MI"));
    copy->setObjectName(QStringLiteral("CopyPath_Change_MI"));
    for (QAction* action : {open, folder, copy})
        action->setEnabled(!path.isEmpty());
    const QAction* chosen = menu.exec(m_list->viewport()->mapToGlobal(at));
    runGuarded([&] {
        if (chosen == open)
            openWithDesktop(path);
        else if (chosen == folder)
            openWithDesktop(QFileInfo(path).absolutePath());
        else if (chosen == copy)
            QGuiApplication::clipboard()->setText(path);
    });
}

} // namespace quillet::gui
