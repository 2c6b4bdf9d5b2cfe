// The one window of Quillet: the settings of a run on three pages (which
// files, what text, the results), the Execute button, the progress area and
// the links at the bottom. Its layout is data (main_window.ui); this class
// keeps the controls consistent with each other, turns the settings into a
// run on a worker thread (RunController) and shows the run's progress and
// result. It holds no text or file logic: that is the engine's.
//
// Layer: gui. Depends on the engine (runs), the directory panel (the linked
// drive, directory and file-list controls) and the shell launcher (links, F1,
// opening files and folders).
#pragma once

#include "engine/run/prepare.h"
#include "listed_paths.h"
#include "memo_history.h"
#include "run_controller.h"

#include <QWidget>

#include <cstdint>
#include <memory>

class QMenu;
class QScrollArea;
class QAction;
class QPlainTextEdit;

namespace Ui {
class MainWindow;
}

namespace quillet::gui {

class ChangeCollector;
class ChangesPage;
class DirectoryPanel;
class FileListActions;
class FormAnchors;
struct StartOptions;

class MainWindow : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    // Stops a run that is going on and waits for it.
    ~MainWindow() override;

    // The directory list's current directory: the directory of a run and of
    // the file list box (absolute, no trailing "/" except for the root).
    QString currentDirectory() const;
    // Moves the directory list to `directory`; the drive box and the file
    // list box follow. A directory that does not exist raises quillet::Error.
    void setCurrentDirectory(const QString& directory);

    bool isRunning() const;

    // Fills in the fields that the command line gave (start_options.h); the
    // others keep their defaults. The directory is set last: one that does
    // not exist raises quillet::Error after the other fields were filled.
    void applyStartOptions(const StartOptions& options);

signals:
    // The progress display was brought up to date: once per delivery of
    // handled files (at most once per display frame), not once per file.
    void progressShown();
    // A run ended: finished (after the final message) or failed (after the
    // error box); the button is enabled and the cursor restored.
    void runEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Tab and Shift+Tab walk focusChain(), whatever Qt's own chain says.
    bool focusNextPrevChild(bool next) override;

private:
    // Handlers, named after their control and event.
    void FormCreate();
    void FormKeyUp(int key);
    void FormClose();
    void FileListFrom_RdgClick();
    void SROperation_RdgClick();
    void SetMemoReadOnly(QPlainTextEdit* memo, bool readOnly);
    void NewText_MemoChange();
    void Mask_EdtChange();
    void OpenDir_BtnClick();
    void OpenFileList_BtnClick();
    void FileListBoxDblClick();
    void Open_MIClick();
    void URL_LabClick();
    void Email_BtnClick();
    void HomePage_BtnClick();
    void showHelp(const QString& target);

    // The run.
    void Execute_BtnClick();
    void PrepareAndRun();
    // The settings as a run request (Execute's and the Changes page's
    // Preview); raises quillet::Error for a count that is not a number.
    engine::RunRequest runRequestFromSettings() const;
    // Count one handled file and gather its result-list entries.
    void DoOnFileFinderFileFound(const FileBatch& batch, QStringList& results);
    void DoOnListProgress(const FileBatch& batch, QStringList& results);
    // The final message, with the folders and binary files the run passed over.
    void ShowFinished(const QStringList& unreadableFolders, qint64 passedOver);
    void onFilesHandled(const QList<FileBatch>& batches);
    // Hands what the run changed to the Changes page.
    void showRunChanges();
    void onRunFinished(qint64 filesDone, const QStringList& unreadableFolders, qint64 passedOver);
    void onRunFailed(const QString& message);

    void fitWindowToScreen();
    void setupAnchors();
    void setupLook();
    void setupKeyboard();
    void setupDirectoryControls();
    void showTreeMenu(const QPoint& at);
    void showMaskMenu(const QPoint& at);
    // The controls Tab visits, in order: the page tabs, the shown page's
    // controls in their laid-out order, then Execute. Hidden, disabled and
    // unfocusable controls are left out.
    QList<QWidget*> focusChain() const;
    void connectHandlers();
    std::int64_t maxCountFromComboBox() const;
    void setBarMaximum(int maximum);
    void setBarPosition(int position);
    void setProgressText(const QString& text);
    void restoreCursor();

    std::unique_ptr<Ui::MainWindow> ui;
    QWidget* m_form = nullptr;
    QScrollArea* m_scroll = nullptr;
    FormAnchors* m_anchors = nullptr;
    DirectoryPanel* m_directories = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* Open_MI = nullptr;
    RunController* m_run = nullptr;
    ChangesPage* m_changes = nullptr;
    // What the run going on changes, for the Changes page.
    std::shared_ptr<ChangeCollector> m_runChanges;
    // Open, Open Containing Folder and Copy Path on the Result page's list.
    FileListActions* m_resultActions = nullptr;
    // The names the path list box shows, as the loaded list file spells them.
    ListedPaths m_listedPaths;
    // This session's earlier patterns and new texts.
    MemoHistory* m_patternHistory = nullptr;
    MemoHistory* m_newTextHistory = nullptr;
    // This session's earlier folders and masks of directory runs, offered
    // by the folder tree's and the mask field's context menus.
    EarlierValues m_earlierFolders;
    EarlierValues m_earlierMasks;
    QMenu* m_earlierFoldersMenu = nullptr;

    // The run state.
    engine::FileOperation RunParam;
    std::int64_t FilesDone = 0;
    qsizetype PathCutLen = 0;
    QString DriveTail;
    std::int64_t ListMaxMatches = -1;
    engine::RunShape m_shape = engine::RunShape::PathList;

    // The run going on started with Stop ticked: it ends after one file.
    bool m_stopTickedAtStart = false;
    bool m_waitCursor = false;
    // The bar's maximum as the run sets it; a QProgressBar with the range
    // 0..0 would show a busy animation instead of an empty bar.
    int m_barMaximum = 100;
};

} // namespace quillet::gui
