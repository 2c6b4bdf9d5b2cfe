// The window's side of a run: the settings turned into a run request, the
// run's deliveries turned into the progress display and the result list, the
// final message, and the end of a run on close. The run itself goes on in
// RunController.
#include "main_window.h"

#include "changes_page.h"
#include "core/error.h"
#include "core/text_ops.h"
#include "directory_panel.h"
#include "engine/keep/run_keepers.h"
#include "file_list_actions.h"
#include "memo_history.h"
#include "text_bytes.h"
#include "ui_main_window.h"
#include "user_dialogs.h"

#include <QApplication>
#include <QCloseEvent>

#include <algorithm>
#include <climits>
#include <thread>

namespace quillet::gui {

void MainWindow::Execute_BtnClick() {
    ui->Execute_Btn->setEnabled(false);
    try {
        PrepareAndRun();
    } catch (...) {
        ui->Execute_Btn->setEnabled(true);
        throw;
    }
}

// Copies the settings into a run request. What the run works on (the file
// list box's names, the path list's lines) is taken here: editing the
// controls during the run changes the next run only.
engine::RunRequest MainWindow::runRequestFromSettings() const {
    engine::RunRequest request;
    engine::FileOperation& param = request.Param;
    const QString directory = currentDirectory();
    const bool fromDirectory = ui->FileListFrom_Rdg->itemIndex() == 0;
    if (fromDirectory) {
        for (const QString& name : m_directories->fileNames())
            request.Entries.push_back(pathToBytes(name));
    } else {
        request.Entries = m_listedPaths.entries(ui->FileList_Memo->toPlainText());
    }
    param.CaseSensitive = ui->CaseSensitive_Chk->isChecked();
    param.Match.WholeWord = ui->WholeWord_Chk->isChecked();
    param.Match.KeepCase = ui->KeepCase_Chk->isEnabled() && ui->KeepCase_Chk->isChecked();
    param.SearchPattern = toBytes(ui->SearchPattern_Memo->toPlainText());
    param.Operation = static_cast<std::uint8_t>(std::max(0, ui->SROperation_Rdg->itemIndex()));
    param.NewText = toBytes(ui->NewText_Memo->toPlainText());
    param.ResultIsPattern = ui->ResultIsPattern_Chk->isChecked();
    param.TagOpen = core::kTagOpen;
    param.TagClose = core::kTagClose;
    param.MaxCount = maxCountFromComboBox();

    request.Directory = pathToBytes(directory);
    request.MaxFiles = ListMaxMatches;
    // Files are read and matched ahead on the other processors; writing,
    // progress and Stop still go file by file, in order.
    request.Threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (fromDirectory && ui->SubFolders_Chk->isChecked()) {
        request.Shape = engine::RunShape::DirectoryWalk;
        request.Mask = toBytes(ui->Mask_Edt->text());
    } else {
        request.Shape = fromDirectory ? engine::RunShape::DirectoryListing : engine::RunShape::PathList;
    }
    return request;
}

// Starts the run of the settings. A run that may write is journaled, so that
// the Changes page can undo it, and what it changes is gathered for that
// page.
void MainWindow::PrepareAndRun() {
    engine::RunRequest request = runRequestFromSettings();
    const QString directory = currentDirectory();
    RunParam = request.Param;
    PathCutLen = directory.size();
    DriveTail = QStringLiteral("/..");
    m_patternHistory->remember(ui->SearchPattern_Memo->toPlainText());
    m_newTextHistory->remember(ui->NewText_Memo->toPlainText());
    if (request.Shape != engine::RunShape::PathList) {
        m_earlierFolders.remember(directory);
        m_earlierMasks.remember(ui->Mask_Edt->text());
    }
    RunAttachments attachments;
    if (engine::RunWrites(RunParam.Operation, RunParam.DryRun)) {
        engine::RunKeepersOptions keep;
        keep.Writes = true;
        keep.Description = describeRun(request);
        keep.BackupSuffix = m_changes->backupSuffix();
        attachments.Keep = std::move(keep);
        m_runChanges = std::make_shared<ChangeCollector>();
        attachments.OnChanged = [collector = m_runChanges](const std::string& path, std::string_view oldText,
                                                           std::string_view newText, std::int64_t matches,
                                                           std::uint64_t textHash) {
            collector->record(path, oldText, newText, matches, textHash);
        };
    } else if (RunParam.Operation == core::OpOnlySearch) {
        // The Changes page shows where each file matches. A listing's
        // entries are bare names: the page opens and names them by path.
        request.Param.ListMatches = true;
        m_runChanges = std::make_shared<ChangeCollector>();
        request.Param.ListMatchesUpTo = m_runChanges->listedMatches();
        std::string base;
        if (request.Shape == engine::RunShape::DirectoryListing && !request.Directory.empty())
            base = request.Directory.back() == '/' ? request.Directory : request.Directory + '/';
        attachments.OnMatches = [collector = m_runChanges, base](const std::string& entry, std::string_view text,
                                                                 const std::vector<engine::MatchLocation>& matches,
                                                                 std::int64_t count) {
            collector->recordMatches(base + entry, text, matches, count);
        };
    } else {
        m_runChanges.reset();
    }

    ui->ResultFileNames_Memo->clear();
    ui->CurFileName_Lab->clear();
    ui->Progress_Lab->clear();
    setBarPosition(0);
    FilesDone = 0;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_waitCursor = true;
    try {
        m_shape = request.Shape;
        if (m_shape == engine::RunShape::DirectoryWalk) {
            setBarMaximum(100);
        } else {
            // Empty lines are passed over by the run and not counted.
            const auto entries = std::count_if(request.Entries.begin(), request.Entries.end(),
                                               [](const std::string& entry) { return !entry.empty(); });
            setBarMaximum(static_cast<int>(std::min<std::ptrdiff_t>(entries, INT_MAX)));
        }
        // A listing's results are bare names in the run's directory.
        m_resultActions->setBaseDirectory(m_shape == engine::RunShape::DirectoryListing ? directory : QString());
        m_changes->setWindowRunning(true);
        m_stopTickedAtStart = ui->Stop_Chk->isChecked();
        m_run->start(std::move(request), m_stopTickedAtStart ? StopAtStart::Yes : StopAtStart::No,
                     std::move(attachments));
    } catch (...) {
        m_changes->setWindowRunning(false);
        restoreCursor();
        throw;
    }
}

// "No Limit" is chosen by the item, not by the text: a typed number (0 and
// negative ones included) is used as typed.
std::int64_t MainWindow::maxCountFromComboBox() const {
    const QComboBox* box = ui->MaxCount_Cbo;
    const QString text = box->currentText();
    const int index = box->currentIndex() >= 0 && box->itemText(box->currentIndex()) == text ? box->currentIndex() : -1;
    if (index == 0)
        return -1;
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        throw Error("'" + toBytes(text) + "' is not a valid integer value");
    return value;
}

// The progress label sizes itself to its text ("2/3 = 66.66%" is wider than
// its place in the layout); the file-name label beside it keeps its size.
void MainWindow::setProgressText(const QString& text) {
    ui->Progress_Lab->setText(text);
    ui->Progress_Lab->adjustSize();
}

// A delivery holds the files handled since the last one. Each is counted in
// turn; the display then shows the state after the last of them, as it would
// have after each file one by one.
void MainWindow::onFilesHandled(const QList<FileBatch>& batches) {
    QStringList results;
    for (const FileBatch& batch : batches) {
        if (m_shape == engine::RunShape::DirectoryWalk)
            DoOnFileFinderFileFound(batch, results);
        else
            DoOnListProgress(batch, results);
    }
    if (!results.isEmpty())
        ui->ResultFileNames_Memo->appendPlainText(results.join(QLatin1Char('\n')));
    const engine::FileReport& last = batches.back().Report;
    if (m_shape == engine::RunShape::DirectoryWalk) {
        ui->CurFileName_Lab->setText(
            walkFileLabel(DriveTail, pathFromBytes(last.Directory), PathCutLen, pathFromBytes(last.Name)));
        if (FilesDone > 0) {
            setProgressText(QString::number(FilesDone));
            setBarPosition(walkBarPosition(FilesDone));
        }
    } else {
        setBarPosition(static_cast<int>(std::min<std::int64_t>(FilesDone, INT_MAX)));
        setProgressText(listProgressText(FilesDone, last.Total));
        ui->CurFileName_Lab->setText(fileNamePart(pathFromBytes(last.FullPath)));
    }
    emit progressShown();
}

void MainWindow::DoOnFileFinderFileFound(const FileBatch& batch, QStringList& results) {
    if (!batch.Report.Matched)
        return;
    ++FilesDone;
    for (const std::string& entry : batch.Results)
        results << pathFromBytes(entry);
}

void MainWindow::DoOnListProgress(const FileBatch& batch, QStringList& results) {
    for (const std::string& entry : batch.Results)
        results << pathFromBytes(entry);
    ++FilesDone;
}

void MainWindow::showRunChanges() {
    m_changes->setWindowRunning(false);
    if (m_runChanges)
        m_changes->showRunChanges(m_runChanges->take(), RunParam);
    m_runChanges.reset();
}

void MainWindow::onRunFinished(qint64, const QStringList& unreadableFolders, qint64 passedOver) {
    showRunChanges();
    restoreCursor();
    ShowFinished(unreadableFolders, passedOver);
    // The program never clears Stop; a run it ended at once says why.
    if (m_stopTickedAtStart)
        setProgressText(QStringLiteral("Stop is ticked (Result page): the run ended after its first file."));
    ui->Execute_Btn->setEnabled(true);
    emit runEnded();
}

void MainWindow::onRunFailed(const QString& message) {
    showRunChanges();
    restoreCursor();
    ui->Execute_Btn->setEnabled(true);
    userDialogs().showError(this, errorBoxText(message));
    emit runEnded();
}

void MainWindow::ShowFinished(const QStringList& unreadableFolders, qint64 passedOver) {
    setBarPosition(m_barMaximum);
    ui->ProgressBar->repaint();
    userDialogs().showInformation(this, finishedText(FilesDone, unreadableFolders, passedOver));
    ui->CurFileName_Lab->clear();
    ui->Progress_Lab->clear();
    setBarMaximum(0);
    setBarPosition(0);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    FormClose();
    QWidget::closeEvent(event);
}

// Closing the window ends a run after the file in hand and waits for it, so
// that no file is left half-handled when the program ends.
void MainWindow::FormClose() {
    if (!m_run->isRunning())
        return;
    m_run->stopAndWait();
    showRunChanges();
    restoreCursor();
    ui->Execute_Btn->setEnabled(true);
}

void MainWindow::setBarMaximum(int maximum) {
    m_barMaximum = std::max(0, maximum);
    ui->ProgressBar->setRange(0, std::max(1, m_barMaximum));
}

void MainWindow::setBarPosition(int position) {
    ui->ProgressBar->setValue(m_barMaximum == 0 ? 0 : std::clamp(position, 0, m_barMaximum));
}

void MainWindow::restoreCursor() {
    if (m_waitCursor) {
        QApplication::restoreOverrideCursor();
        m_waitCursor = false;
    }
}

} // namespace quillet::gui
