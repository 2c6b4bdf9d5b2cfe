#include "main_window.h"

#include "core/error.h"
#include "core/version.h"
#include "changes_page.h"
#include "directory_panel.h"
#include "engine/file_io.h"
#include "engine/journal.h"
#include "help_window.h"
#include "launcher/shell_launcher.h"
#include "scale_form.h"
#include "start_options.h"
#include "ui_main_window.h"
#include "user_dialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTabBar>

#include <algorithm>
#include <charconv>
#include <climits>
#include <thread>

// Resources live in the static library; pulling them in needs a call from
// outside any namespace.
static void initQuilletResources() {
#ifdef QUILLET_HAVE_RESOURCES
    Q_INIT_RESOURCE(quillet);
#endif
}

namespace quillet::gui {

// Implementation details only, past this point.
namespace detail {
namespace {

// The layout's sizes were made for an 8-point face whose text line is 13
// pixels high. DejaVu Sans Condensed at 11 pixels has that line height and
// keeps every caption inside its place; plain DejaVu Sans is wider and needs
// 10 pixels for that.
QFont windowFont() {
    const bool condensed = QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans Condensed"));
    QFont face(condensed ? QStringLiteral("DejaVu Sans Condensed") : QStringLiteral("DejaVu Sans"));
    face.setStyleHint(QFont::SansSerif);
    face.setPixelSize(condensed ? 11 : 10);
    return face;
}

// The radio groups draw their title on the frame line, as the layout's
// heights (33 pixels for one row of buttons) expect.
constexpr const char* kRadioGroupStyle =
    "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 7px; padding: 0 2px; }";

std::string toBytes(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

std::string pathToBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The Execute button keeps 16 pixels between its glyph and its caption.
// QPushButton has no such setting: Qt 6's styles start the text 2 pixels
// (half their 4-pixel icon spacing) after the icon, so the glyph is drawn on
// a wider transparent pixmap that adds the rest.
constexpr int kExecuteGlyphSpacing = 16;
constexpr int kStyleIconSpacing = 2;

QPixmap withRightMargin(const QString& file, int margin) {
    const QPixmap glyph(file);
    if (glyph.isNull())
        return glyph;
    QPixmap wider(glyph.width() + margin, glyph.height());
    wider.fill(Qt::transparent);
    QPainter painter(&wider);
    painter.drawPixmap(0, 0, glyph);
    return wider;
}

QString pathFromBytes(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// A text file's lines as a string list loads them: CR LF, LF and CR all end
// a line, and a line break at the very end adds no empty line.
QStringList splitLines(const std::string& text) {
    QStringList lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r')
            continue;
        lines << QString::fromLocal8Bit(text.data() + start, static_cast<qsizetype>(i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << QString::fromLocal8Bit(text.data() + start, static_cast<qsizetype>(text.size() - start));
    return lines;
}

} // namespace
} // namespace detail

MainWindow::MainWindow(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::MainWindow>()) {
    initQuilletResources();
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(detail::windowFont());

    ui->setupUi(this);
    ui->FileListFrom_Rdg->gatherItems();
    ui->SROperation_Rdg->gatherItems();
    m_run = new RunController(this);
    m_changes = new ChangesPage([this] { return runRequestFromSettings(); });
    ui->PC->addTab(m_changes, QStringLiteral("Changes"));
    setupLook();
    setupKeyboard();
    setupDirectoryControls();
    connectHandlers();
    qApp->installEventFilter(this);
    FormCreate();
}

MainWindow::~MainWindow() {
    m_run->stopAndWait();
    restoreCursor();
}

bool MainWindow::isRunning() const {
    return m_run->isRunning();
}

// Fonts, icons, colours and texts that the .ui file cannot hold.
void MainWindow::setupLook() {
    QFont bold = font();
    bold.setBold(true);
    ui->Label6->setFont(bold);
    ui->Label7->setFont(bold);

    QFont link = font();
    link.setUnderline(true);
    ui->URL_Lab->setFont(link);
    QPalette linkPalette = ui->URL_Lab->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    ui->URL_Lab->setPalette(linkPalette);
    ui->URL_Lab->setText(websiteCaption());
    ui->CurFileName_Lab->setProperty("fixedWidth", true);
    ui->FileListFrom_Rdg->setStyleSheet(QLatin1String(detail::kRadioGroupStyle));
    ui->SROperation_Rdg->setStyleSheet(QLatin1String(detail::kRadioGroupStyle));

    QPalette listPalette = ui->FileListBox->palette();
    listPalette.setColor(QPalette::Base, listPalette.color(QPalette::ToolTipBase));
    listPalette.setColor(QPalette::Text, listPalette.color(QPalette::ToolTipText));
    ui->FileListBox->setPalette(listPalette);
    SetMemoReadOnly(ui->ResultFileNames_Memo, true);

    const QIcon programIcon(QStringLiteral(":/icons/quillet.png"));
    setWindowIcon(programIcon);
    ui->Image->setPixmap(programIcon.pixmap(32, 32));
    constexpr int margin = detail::kExecuteGlyphSpacing - detail::kStyleIconSpacing;
    const QPixmap executeGlyph = detail::withRightMargin(QStringLiteral(":/icons/execute.png"), margin);
    if (!executeGlyph.isNull()) {
        QIcon execute(executeGlyph);
        execute.addPixmap(detail::withRightMargin(QStringLiteral(":/icons/execute_disabled.png"), margin),
                          QIcon::Disabled);
        ui->Execute_Btn->setIcon(execute);
        ui->Execute_Btn->setIconSize(executeGlyph.size());
    }
    ui->HomePage_Btn->setIcon(QIcon(QStringLiteral(":/icons/homepage.png")));
    ui->HomePage_Btn->setIconSize(QSize(20, 20));
    ui->Email_Btn->setIcon(QIcon(QStringLiteral(":/icons/email.png")));
    ui->Email_Btn->setIconSize(QSize(20, 20));
    ui->OpenDir_Btn->setIcon(QIcon(QStringLiteral(":/icons/opendir.png")));
    ui->OpenFileList_Btn->setIcon(QIcon(QStringLiteral(":/icons/openfile.png")));
}

// The memos pass Tab on to the next control (Ctrl+Tab still changes the
// page); the small image buttons are reached by the mouse only, as laid out.
void MainWindow::setupKeyboard() {
    for (QPlainTextEdit* memo : findChildren<QPlainTextEdit*>())
        memo->setTabChangesFocus(true);
    for (QToolButton* button : findChildren<QToolButton*>())
        button->setFocusPolicy(Qt::NoFocus);
}

QList<QWidget*> MainWindow::focusChain() const {
    const QList<QWidget*> listed{ui->PC->tabBar(),
                                 ui->DriveComboBox,
                                 ui->DirectoryListBox,
                                 ui->FileListBox,
                                 ui->SubFolders_Chk,
                                 ui->Mask_Edt,
                                 ui->FileList_Memo,
                                 ui->FileListFrom_Rdg->focusItem(),
                                 ui->SearchPattern_Memo,
                                 ui->NewText_Memo,
                                 ui->SROperation_Rdg->focusItem(),
                                 ui->CaseSensitive_Chk,
                                 ui->MaxCount_Cbo,
                                 ui->ResultIsPattern_Chk,
                                 ui->ResultFileNames_Memo,
                                 ui->Stop_Chk};
    QList<QWidget*> all = listed + m_changes->focusChain();
    all << ui->Execute_Btn;
    QList<QWidget*> chain;
    for (QWidget* widget : all) {
        if (widget && widget->isVisibleTo(this) && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus))
            chain << widget;
    }
    return chain;
}

bool MainWindow::focusNextPrevChild(bool next) {
    const QList<QWidget*> chain = focusChain();
    if (chain.isEmpty())
        return QWidget::focusNextPrevChild(next);
    // The focus may sit inside a stop (the line edit of a combo box).
    const QWidget* focused = QApplication::focusWidget();
    qsizetype at = -1;
    for (qsizetype i = 0; i < chain.size() && focused; ++i) {
        if (chain.at(i) == focused) {
            at = i;
            break;
        }
        if (chain.at(i)->isAncestorOf(focused) && (at < 0 || chain.at(at)->isAncestorOf(chain.at(i))))
            at = i;
    }
    const qsizetype count = chain.size();
    const qsizetype target = at < 0 ? (next ? 0 : count - 1) : (at + (next ? 1 : count - 1)) % count;
    chain.at(target)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void MainWindow::setupDirectoryControls() {
    m_directories = new DirectoryPanel(ui->DriveComboBox, ui->DirectoryListBox, ui->FileListBox, this);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    Open_MI = PopupMenu->addAction(QStringLiteral("Open"));
    Open_MI->setObjectName(QStringLiteral("Open_MI"));
}

void MainWindow::connectHandlers() {
    auto guarded = [this](void (MainWindow::*handler)()) {
        return [this, handler] { runGuarded([&] { (this->*handler)(); }); };
    };
    connect(ui->FileListFrom_Rdg, &RadioGroup::itemIndexChanged, this, guarded(&MainWindow::FileListFrom_RdgClick));
    connect(ui->SROperation_Rdg, &RadioGroup::itemIndexChanged, this, guarded(&MainWindow::SROperation_RdgClick));
    connect(ui->NewText_Memo, &QPlainTextEdit::textChanged, this, guarded(&MainWindow::NewText_MemoChange));
    connect(ui->Mask_Edt, &QLineEdit::textChanged, this, guarded(&MainWindow::Mask_EdtChange));
    connect(ui->OpenDir_Btn, &QToolButton::clicked, this, guarded(&MainWindow::OpenDir_BtnClick));
    connect(ui->OpenFileList_Btn, &QToolButton::clicked, this, guarded(&MainWindow::OpenFileList_BtnClick));
    connect(ui->FileListBox, &QListWidget::itemDoubleClicked, this, guarded(&MainWindow::FileListBoxDblClick));
    connect(Open_MI, &QAction::triggered, this, guarded(&MainWindow::Open_MIClick));
    connect(ui->URL_Lab, &ClickLabel::clicked, this, guarded(&MainWindow::URL_LabClick));
    connect(ui->Image, &ClickLabel::clicked, this, guarded(&MainWindow::URL_LabClick));
    connect(ui->Email_Btn, &QToolButton::clicked, this, guarded(&MainWindow::Email_BtnClick));
    connect(ui->HomePage_Btn, &QToolButton::clicked, this, guarded(&MainWindow::HomePage_BtnClick));
    connect(ui->Execute_Btn, &QPushButton::clicked, this, guarded(&MainWindow::Execute_BtnClick));

    connect(ui->DirectoryListBox, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu->popup(ui->DirectoryListBox->viewport()->mapToGlobal(at)); });
    connect(ui->Stop_Chk, &QCheckBox::toggled, this, [this](bool checked) { m_run->setStopRequested(checked); });

    connect(m_run, &RunController::filesHandled, this, &MainWindow::onFilesHandled);
    connect(m_run, &RunController::finished, this, &MainWindow::onRunFinished);
    connect(m_run, &RunController::failed, this, &MainWindow::onRunFailed);
    connect(m_changes, &ChangesPage::busyChanged, this, [this](bool busy) { ui->Execute_Btn->setEnabled(!busy); });
}

void MainWindow::FormCreate() {
    ListMaxMatches = -1;
    FilesDone = 0;
    setWindowTitle(QStringLiteral("Quillet ") + QLatin1String(kShortVersion));
    ui->CurFileName_Lab->clear();
    ui->PC->setCurrentIndex(0);
    ui->Progress_Lab->clear();
    ui->FileList_PC->tabBar()->hide();
    ui->FileList_PC->setCurrentIndex(0);

    // The face in use may draw captions wider than the layout planned.
    KeepCaptionsWhole(this);
    FitFormToPage(this, ui->PC, ui->URL_Lab, ui->PC);
    setFixedSize(size());

    // Centred in the client width: before the window is shown its frame is
    // unknown, and the frame is the window manager's on Linux.
    for (QWidget* control : {static_cast<QWidget*>(ui->Note_Lab), static_cast<QWidget*>(ui->URL_Lab),
                             static_cast<QWidget*>(ui->Execute_Btn)})
        control->move((width() - control->width()) / 2, control->y());

    // The mask first: the directory's listing then comes at once, under it.
    m_directories->setMask(ui->Mask_Edt->text());
    setCurrentDirectory(QDir::currentPath());
    ui->HomePage_Btn->move(ui->PC->x(), ui->HomePage_Btn->y());

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

// Key preview: every key released anywhere in the window comes here first.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        auto* widget = qobject_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        if (widget && widget->window() == this && key->key() == Qt::Key_F1 && !key->isAutoRepeat()) {
            runGuarded([&] { FormKeyUp(key->key()); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::FormKeyUp(int key) {
    if (key == Qt::Key_F1)
        showHelp(homePageUrl());
}

// The help links always show something: the desktop's browser or handler,
// else Quillet's own help window on the manual.
void MainWindow::showHelp(const QString& target) {
    if (target.startsWith(QLatin1String("qrc:")) || !OpenTarget(target))
        HelpWindow::showManual(this);
}

void MainWindow::FileListFrom_RdgClick() {
    ui->FileList_PC->setCurrentIndex(ui->FileListFrom_Rdg->itemIndex());
}

void MainWindow::SROperation_RdgClick() {
    const int operation = ui->SROperation_Rdg->itemIndex();
    ui->ResultIsPattern_Chk->setEnabled(operation != core::OpOnlySearch);
    switch (operation) {
    case core::OpOnlySearch:
        SetMemoReadOnly(ui->SearchPattern_Memo, false);
        SetMemoReadOnly(ui->NewText_Memo, true);
        break;
    case core::OpReplaceText:
    case core::OpInsertBefore:
    case core::OpInsertAfter:
        SetMemoReadOnly(ui->SearchPattern_Memo, false);
        SetMemoReadOnly(ui->NewText_Memo, false);
        break;
    case core::OpRemoveScript:
    case core::OpStripWordHtml:
        SetMemoReadOnly(ui->SearchPattern_Memo, true);
        SetMemoReadOnly(ui->NewText_Memo, true);
        break;
    default:
        break;
    }
}

void MainWindow::SetMemoReadOnly(QPlainTextEdit* memo, bool readOnly) {
    memo->setReadOnly(readOnly);
    QPalette palette = memo->palette();
    const QPalette standard = QApplication::palette(memo);
    palette.setColor(QPalette::Base, readOnly ? standard.color(QPalette::Button) : standard.color(QPalette::Base));
    memo->setPalette(palette);
}

void MainWindow::NewText_MemoChange() {
    ui->ResultIsPattern_Chk->setChecked(ui->NewText_Memo->toPlainText().contains(QLatin1String("{$")));
}

void MainWindow::Mask_EdtChange() {
    m_directories->setMask(ui->Mask_Edt->text());
}

void MainWindow::OpenDir_BtnClick() {
    const QString directory =
        userDialogs().askText(this, QStringLiteral("Directry Path"), QStringLiteral("Directory:"), currentDirectory());
    if (!directory.isEmpty())
        setCurrentDirectory(directory);
}

void MainWindow::OpenFileList_BtnClick() {
    const QString fileName = userDialogs().askOpenFileName(this, QStringLiteral("Text Files(*.txt);;All Files(*)"));
    if (fileName.isEmpty())
        return;
    std::string text;
    engine::LoadFileText(detail::pathToBytes(fileName), text);
    ui->FileList_Memo->setPlainText(detail::splitLines(text).join(QLatin1Char('\n')));
}

void MainWindow::FileListBoxDblClick() {
    const QListWidgetItem* item = ui->FileListBox->currentItem();
    OpenTarget(item ? QDir(currentDirectory()).filePath(item->text()) : QString());
}

void MainWindow::Open_MIClick() {
    OpenTarget(currentDirectory());
}

// The label shows a caption; the address behind it is the web site's.
void MainWindow::URL_LabClick() {
    showHelp(websiteUrl());
}

void MainWindow::Email_BtnClick() {
    OpenTarget(supportEmailLink());
}

void MainWindow::HomePage_BtnClick() {
    showHelp(homePageUrl());
}

QString MainWindow::currentDirectory() const {
    return m_directories->directory();
}

void MainWindow::setCurrentDirectory(const QString& directory) {
    m_directories->setDirectory(directory);
}

void MainWindow::applyStartOptions(const StartOptions& options) {
    if (options.Mask)
        ui->Mask_Edt->setText(*options.Mask);
    if (options.SubFolders)
        ui->SubFolders_Chk->setChecked(true);
    if (options.Pattern)
        ui->SearchPattern_Memo->setPlainText(*options.Pattern);
    if (options.NewText)
        ui->NewText_Memo->setPlainText(*options.NewText);
    if (options.Directory)
        setCurrentDirectory(*options.Directory);
}

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
    engine::TSRParam& param = request.Param;
    const QString directory = currentDirectory();
    const bool fromDirectory = ui->FileListFrom_Rdg->itemIndex() == 0;
    if (fromDirectory) {
        for (const QString& name : m_directories->fileNames())
            request.Entries.push_back(detail::pathToBytes(name));
        param.RootDir = detail::pathToBytes(directory);
        if (param.RootDir.empty() || param.RootDir.back() != '/')
            param.RootDir += '/';
        param.SubFolders = ui->SubFolders_Chk->isChecked();
    } else {
        const QStringList lines = ui->FileList_Memo->toPlainText().split(QLatin1Char('\n'));
        for (const QString& line : lines)
            request.Entries.push_back(detail::pathToBytes(line));
        param.RootDir.clear();
        param.SubFolders = false;
    }
    param.CaseSensitive = ui->CaseSensitive_Chk->isChecked();
    param.SearchPattern = detail::toBytes(ui->SearchPattern_Memo->toPlainText());
    param.Operation = static_cast<std::uint8_t>(std::max(0, ui->SROperation_Rdg->itemIndex()));
    param.NewText = detail::toBytes(ui->NewText_Memo->toPlainText());
    param.ResultIsPattern = ui->ResultIsPattern_Chk->isChecked();
    param.TagOpen = core::kTagOpen;
    param.TagClose = core::kTagClose;
    param.MaxCount = maxCountFromComboBox();

    request.Directory = detail::pathToBytes(directory);
    request.MaxFiles = ListMaxMatches;
    // Files are read and matched ahead on the other processors; writing,
    // progress and Stop still go file by file, in order.
    request.Threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (param.SubFolders) {
        request.Shape = engine::RunShape::DirectoryWalk;
        request.Mask = detail::toBytes(ui->Mask_Edt->text());
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
    RunParam = request.Param;
    PathCutLen = currentDirectory().size();
    DriveTail = QStringLiteral("/..");
    RunAttachments attachments;
    if (RunParam.Operation != core::OpOnlySearch) {
        attachments.Hooks =
            std::make_shared<engine::RunJournal>(engine::JournalOptionsFromEnvironment(describeRun(request)));
        m_runChanges = std::make_shared<ChangeCollector>(RunParam);
        attachments.OnChanged = [collector = m_runChanges](const std::string& path, std::string_view oldText,
                                                           std::string_view newText) {
            collector->record(path, oldText, newText);
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
        m_changes->setWindowRunning(true);
        m_run->start(std::move(request), ui->Stop_Chk->isChecked() ? StopAtStart::Yes : StopAtStart::No,
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
        throw Error("'" + detail::toBytes(text) + "' is not a valid integer value");
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
        ui->CurFileName_Lab->setText(walkFileLabel(DriveTail, detail::pathFromBytes(last.Directory), PathCutLen,
                                                   detail::pathFromBytes(last.Name)));
        if (FilesDone > 0) {
            setProgressText(QString::number(FilesDone));
            setBarPosition(walkBarPosition(FilesDone));
        }
    } else {
        setBarPosition(static_cast<int>(std::min<std::int64_t>(FilesDone, INT_MAX)));
        setProgressText(listProgressText(FilesDone, last.Total));
        ui->CurFileName_Lab->setText(fileNamePart(detail::pathFromBytes(last.FullPath)));
    }
    emit progressShown();
}

void MainWindow::DoOnFileFinderFileFound(const FileBatch& batch, QStringList& results) {
    if (!batch.Report.Matched)
        return;
    ++FilesDone;
    for (const std::string& entry : batch.Results)
        results << detail::pathFromBytes(entry);
}

void MainWindow::DoOnListProgress(const FileBatch& batch, QStringList& results) {
    for (const std::string& entry : batch.Results)
        results << detail::pathFromBytes(entry);
    ++FilesDone;
}

void MainWindow::showRunChanges() {
    m_changes->setWindowRunning(false);
    if (m_runChanges)
        m_changes->showRunChanges(m_runChanges->take(), RunParam);
    m_runChanges.reset();
}

void MainWindow::onRunFinished() {
    showRunChanges();
    restoreCursor();
    ShowFinished();
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

void MainWindow::ShowFinished() {
    setBarPosition(m_barMaximum);
    ui->ProgressBar->repaint();
    userDialogs().showInformation(this, QStringLiteral("Finished! Found and Processed %1 files.").arg(FilesDone));
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
