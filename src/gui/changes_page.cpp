#include "changes_page.h"

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
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

namespace quillet::gui {

namespace {

enum Column { FileColumn, MatchesColumn, NoteColumn };

constexpr int kRowRole = Qt::UserRole;

QString fromBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

QString filesText(std::size_t count) {
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

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
      m_apply(new QPushButton(QStringLiteral("&Apply"), this)),
      m_undo(new QPushButton(QStringLiteral("&Undo Last Run"), this)),
      m_keepBackups(new QCheckBox(QStringLiteral("Keep &Backups"), this)), m_status(new QLabel(this)),
      m_list(new QTreeWidget(this)), m_diff(new DiffView(this)) {
    m_preview->setObjectName(QStringLiteral("Preview_Btn"));
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
    m_apply->setToolTip(QStringLiteral("Rewrite the checked files as previewed"));
    m_undo->setToolTip(QStringLiteral("Give the files of the last run their old content back"));

    m_list->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Matches"), QStringLiteral("Note")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    // The path takes the room the other columns leave, and loses its middle
    // rather than its file name when it does not fit; the tooltips show the
    // whole path and note.
    m_list->setTextElideMode(Qt::ElideMiddle);
    QHeaderView* header = m_list->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(FileColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(MatchesColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(NoteColumn, QHeaderView::Interactive);
    m_diff->showMessage(QStringLiteral("Preview to see what the settings would change."));
    m_status->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_preview);
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
    connect(m_apply, &QPushButton::clicked, this, guarded(&ChangesPage::Apply_BtnClick));
    connect(m_undo, &QPushButton::clicked, this, guarded(&ChangesPage::Undo_BtnClick));
    connect(m_list, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { runGuarded([&] { onCurrentItemChanged(item); }); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { runGuarded([&] { openItem(item); }); });
    connect(m_list, &QWidget::customContextMenuRequested, this, &ChangesPage::showContextMenu);
    connect(m_diff, &DiffView::openLineRequested, this,
            [this](std::int64_t line) { runGuarded([&] { openItemAtLine(m_list->currentItem(), line); }); });
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
    return {m_preview, m_apply, m_keepBackups, m_undo, m_list, m_diff};
}

std::optional<std::string> ChangesPage::backupSuffix() const {
    if (!m_keepBackups->isChecked())
        return std::nullopt;
    return std::string(kBackupSuffix);
}

void ChangesPage::updateButtons() {
    const bool idle = !m_windowRunning && !isBusy();
    m_preview->setEnabled(idle);
    m_apply->setEnabled(idle && m_shown == Shown::Preview && !m_rows.empty());
    m_undo->setEnabled(idle);
}

void ChangesPage::Preview_BtnClick() {
    engine::RunRequest request = m_source();
    request.Param.DryRun = true;
    request.Hooks = nullptr;
    m_previewRequest = request;
    m_changedSincePreview.clear();
    startRun(std::move(request), Shown::Preview, std::nullopt);
}

// The checked files, by the paths the preview listed, with the preview's
// settings: the window's controls may have changed since.
void ChangesPage::Apply_BtnClick() {
    engine::RunRequest request;
    request.Shape = engine::RunShape::PathList;
    request.Param = m_previewRequest.Param;
    request.Param.DryRun = false;
    request.Threads = m_previewRequest.Threads;
    m_changedSincePreview.clear();
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->checkState(FileColumn) != Qt::Checked)
            continue;
        const FileChange& change = m_rows.at(item->data(FileColumn, kRowRole).toULongLong()).Change;
        request.Entries.push_back(change.Path);
        if (!change.HasIdentity || !sameFileNow(change.Path, change.Identity))
            m_changedSincePreview.insert(change.Path);
    }
    if (request.Entries.empty()) {
        userDialogs().showInformation(this, QStringLiteral("No file is checked: nothing to apply."));
        return;
    }
    engine::RunKeepersOptions keep;
    keep.Writes = engine::RunWrites(request.Param.Operation, request.Param.DryRun);
    keep.Description = describeRun(m_previewRequest) + " (applied from a preview)";
    keep.BackupSuffix = backupSuffix();
    startRun(std::move(request), Shown::RunChanges, std::move(keep));
}

void ChangesPage::startRun(engine::RunRequest request, Shown shows, std::optional<engine::RunKeepersOptions> keep) {
    m_collector = std::make_shared<ChangeCollector>();
    RunAttachments attachments;
    attachments.Keep = std::move(keep);
    attachments.OnChanged = [collector = m_collector](const std::string& path, std::string_view oldText,
                                                      std::string_view newText, std::int64_t matches) {
        collector->record(path, oldText, newText, matches);
    };
    m_param = request.Param;
    m_running = shows;
    m_status->setText(shows == Shown::Preview ? QStringLiteral("Previewing...") : QStringLiteral("Applying..."));
    m_run->start(std::move(request), StopAtStart::No, std::move(attachments));
    updateButtons();
    emit busyChanged(true);
}

void ChangesPage::onRunFinished() {
    showRunOutcome(true);
}

// A run that failed halfway leaves the checked files after the failure
// unprocessed: only a complete run says that a file has nothing to change.
void ChangesPage::showRunOutcome(bool complete) {
    m_showsMatches = false;
    m_rows.clear();
    for (FileChange& change : m_collector->take()) {
        Row row{std::move(change), {}, true};
        if (m_running == Shown::RunChanges && m_changedSincePreview.erase(row.Change.Path) != 0)
            row.Note = QStringLiteral("changed since the preview: processed afresh");
        m_rows.push_back(std::move(row));
    }
    const std::size_t changed = m_rows.size();
    // Checked files that changed since the preview and no longer change.
    if (complete) {
        for (const std::string& path : m_changedSincePreview) {
            FileChange unchanged;
            unchanged.Path = path;
            m_rows.push_back(
                {std::move(unchanged), QStringLiteral("changed since the preview: nothing to change now"), false});
        }
    }
    m_shown = m_running;
    m_running = Shown::Nothing;
    const QString count = filesText(changed);
    const bool preview = m_shown == Shown::Preview;
    // A run that failed lists only the files before the failure: the status
    // must not read like a finished one.
    if (complete)
        fillList(preview ? QStringLiteral("%1 would change. Nothing was written.").arg(count)
                         : QStringLiteral("%1 changed.").arg(count));
    else
        fillList(preview ? QStringLiteral("The preview stopped on an error: %1 would change before it. Nothing "
                                          "was written.")
                               .arg(count)
                         : QStringLiteral("The run stopped on an error: %1 changed before it.").arg(count));
    emit busyChanged(false);
    emit actionEnded();
}

void ChangesPage::onRunFailed(const QString& message) {
    showRunOutcome(false);
    userDialogs().showError(this, errorBoxText(message));
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

void ChangesPage::fillList(const QString& status) {
    m_list->clear();
    QList<QTreeWidgetItem*> items;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const Row& row = m_rows[i];
        auto* item = new QTreeWidgetItem;
        item->setText(FileColumn, fromBytes(row.Change.Path));
        item->setToolTip(FileColumn, item->text(FileColumn));
        if (row.Counted && row.Change.Matches >= 0)
            item->setText(MatchesColumn, QString::number(row.Change.Matches));
        item->setTextAlignment(MatchesColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(NoteColumn, row.Note);
        item->setToolTip(NoteColumn, row.Note);
        item->setData(FileColumn, kRowRole, QVariant::fromValue<qulonglong>(i));
        if (m_shown == Shown::Preview)
            item->setCheckState(FileColumn, Qt::Checked);
        items << item;
    }
    m_list->addTopLevelItems(items);
    // A long note (an undo's reason) is cut rather than squeezing the paths.
    const QFontMetrics metrics = m_list->fontMetrics();
    int noteWidth = 0;
    for (const Row& row : m_rows)
        noteWidth = std::max(noteWidth, metrics.horizontalAdvance(row.Note) + metrics.averageCharWidth() * 2);
    m_list->setColumnWidth(NoteColumn, std::max(m_list->header()->sectionSizeHint(NoteColumn),
                                                std::min(noteWidth, metrics.averageCharWidth() * 48)));
    m_status->setText(status);
    const bool diffs = !m_rows.empty() && m_shown != Shown::UndoOutcome;
    m_diff->showMessage(!diffs           ? QString()
                        : m_showsMatches ? QStringLiteral("Select a file to see its matches.")
                                         : QStringLiteral("Select a file to see its changes."));
    updateButtons();
}

void ChangesPage::onCurrentItemChanged(QTreeWidgetItem* item) {
    if (!item) {
        m_diff->showMessage(QString());
        return;
    }
    const Row& row = m_rows.at(item->data(FileColumn, kRowRole).toULongLong());
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
    // A preview's file is still there to be read; a real run's old content
    // is gone (it is in the journal).
    if (m_shown == Shown::Preview) {
        m_diff->showDiff(diffOfFileNow(m_param, row.Change.Path), DiskSide::Old);
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

QString ChangesPage::absolutePath(QTreeWidgetItem* item) const {
    return item ? QFileInfo(item->text(FileColumn)).absoluteFilePath() : QString();
}

void ChangesPage::openItem(QTreeWidgetItem* item) {
    openWithDesktop(absolutePath(item));
}

void ChangesPage::openItemAtLine(QTreeWidgetItem* item, std::int64_t line) {
    const QString path = absolutePath(item);
    if (path.isEmpty())
        return;
    if (!QFileInfo::exists(path))
        throw Error("\"" + QFile::encodeName(path).toStdString() + "\" does not exist");
    if (!OpenFileAtLine(path, line))
        throw Error("No program is set up to open \"" + QFile::encodeName(path).toStdString() + "\"");
}

void ChangesPage::showContextMenu(const QPoint& at) {
    QTreeWidgetItem* item = m_list->itemAt(at);
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
            openItem(item);
        else if (chosen == folder)
            openWithDesktop(QFileInfo(path).absolutePath());
        else if (chosen == copy)
            QGuiApplication::clipboard()->setText(path);
    });
}

} // namespace quillet::gui
