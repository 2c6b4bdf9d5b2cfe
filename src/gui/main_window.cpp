#include "main_window.h"

#include "core/error.h"
#include "core/text_ops.h"
#include "core/version.h"
#include "changes_page.h"
#include "directory_panel.h"
#include "engine/fs/file_io.h"
#include "file_list_actions.h"
#include "form_anchors.h"
#include "help_window.h"
#include "memo_history.h"
#include "launcher/shell_launcher.h"
#include "scale_form.h"
#include "start_options.h"
#include "text_bytes.h"
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
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>
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

// The Execute button keeps 16 pixels between its glyph and its caption.
// QPushButton has no such setting: Qt 6's styles start the text 2 pixels
// (half their 4-pixel icon spacing) after the icon, so the glyph is drawn on
// a wider transparent pixmap that adds the rest.
constexpr int kExecuteGlyphSpacing = 16;
constexpr int kStyleIconSpacing = 2;

QPixmap withRightMargin(const QString& file, int margin) {
    QPixmap glyph(file);
    if (glyph.isNull())
        return glyph;
    QPixmap wider(glyph.width() + margin, glyph.height());
    wider.fill(Qt::transparent);
    QPainter painter(&wider);
    painter.drawPixmap(0, 0, glyph);
    return wider;
}

} // namespace
} // namespace detail

MainWindow::MainWindow(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::MainWindow>()) {
    initQuilletResources();
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(detail::windowFont());

    // The controls sit on a form, at least of the layout's size, inside a
    // scroll area, so that a screen too small for the scaled layout (a
    // 1024-pixel screen at twice the scale) still reaches every control.
    m_form = new QWidget;
    ui->setupUi(m_form);
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("Form_Scroll"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setWidget(m_form);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scroll);
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
// page). Of the small image buttons, the folder and path-list buttons are
// the only way to type a folder or load a list, so Tab reaches them; the
// links at the bottom have F1 and the mouse.
void MainWindow::setupKeyboard() {
    for (QPlainTextEdit* memo : findChildren<QPlainTextEdit*>())
        memo->setTabChangesFocus(true);
    for (QToolButton* button : findChildren<QToolButton*>())
        button->setFocusPolicy(Qt::NoFocus);
    ui->OpenDir_Btn->setFocusPolicy(Qt::TabFocus);
    ui->OpenFileList_Btn->setFocusPolicy(Qt::TabFocus);
}

QList<QWidget*> MainWindow::focusChain() const {
    const QList<QWidget*> all{ui->PC->tabBar(),
                              ui->DriveComboBox,
                              ui->OpenDir_Btn,
                              ui->DirectoryListBox,
                              ui->FileListBox,
                              ui->SubFolders_Chk,
                              ui->Mask_Edt,
                              ui->OpenFileList_Btn,
                              ui->FileList_Memo,
                              ui->FileListFrom_Rdg->focusItem(),
                              ui->SearchPattern_Memo,
                              ui->NewText_Memo,
                              ui->SROperation_Rdg->focusItem(),
                              ui->CaseSensitive_Chk,
                              ui->MaxCount_Cbo,
                              ui->WholeWord_Chk,
                              ui->ResultIsPattern_Chk,
                              ui->KeepCase_Chk,
                              ui->ResultFileNames_Memo,
                              ui->Stop_Chk,
                              ui->Execute_Btn};
    // The Changes page's controls come before Execute.
    QList<QWidget*> candidates = all.first(all.size() - 1) + m_changes->focusChain();
    candidates << all.last();
    QList<QWidget*> chain;
    for (QWidget* widget : candidates) {
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

    m_resultActions = new FileListActions(ui->ResultFileNames_Memo);
    m_patternHistory = new MemoHistory(ui->SearchPattern_Memo);
    m_newTextHistory = new MemoHistory(ui->NewText_Memo);

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
    // What the File page shows is always what the radio group chose: that
    // is what a run takes its files from.
    connect(ui->FileList_PC, &QTabWidget::currentChanged, this, [this] {
        const int chosen = std::max(0, ui->FileListFrom_Rdg->itemIndex());
        if (ui->FileList_PC->currentIndex() != chosen)
            ui->FileList_PC->setCurrentIndex(chosen);
    });
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

    connect(ui->DirectoryListBox, &QWidget::customContextMenuRequested, this, &MainWindow::showTreeMenu);
    ui->Mask_Edt->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->Mask_Edt, &QWidget::customContextMenuRequested, this, &MainWindow::showMaskMenu);
    connect(ui->Stop_Chk, &QCheckBox::toggled, this, [this](bool checked) { m_run->setStopRequested(checked); });

    connect(m_run, &RunController::filesHandled, this, &MainWindow::onFilesHandled);
    connect(m_run, &RunController::finished, this, &MainWindow::onRunFinished);
    connect(m_run, &RunController::failed, this, &MainWindow::onRunFailed);
    connect(m_changes, &ChangesPage::busyChanged, this, [this](bool busy) { ui->Execute_Btn->setEnabled(!busy); });
}

void MainWindow::showTreeMenu(const QPoint& at) {
    delete m_earlierFoldersMenu;
    m_earlierFoldersMenu = m_earlierFolders.createMenu(
        QStringLiteral("Earlier Folders"), QStringLiteral("EarlierFolders_MI"), PopupMenu,
        [this](const QString& folder) { runGuarded([&] { setCurrentDirectory(folder); }); });
    PopupMenu->addMenu(m_earlierFoldersMenu);
    PopupMenu->popup(ui->DirectoryListBox->viewport()->mapToGlobal(at));
}

void MainWindow::showMaskMenu(const QPoint& at) {
    QMenu* menu = ui->Mask_Edt->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QMenu* earlier = m_earlierMasks.createMenu(QStringLiteral("Earlier Masks"), QStringLiteral("EarlierMasks_MI"), menu,
                                               [this](const QString& mask) { ui->Mask_Edt->setText(mask); });
    QAction* first = menu->actions().isEmpty() ? nullptr : menu->actions().front();
    menu->insertMenu(first, earlier);
    if (first)
        menu->insertSeparator(first);
    menu->popup(ui->Mask_Edt->mapToGlobal(at));
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
    KeepCaptionsWhole(m_form);
    KeepFramesWhole(m_form);
    FitFormToPage(m_form, ui->PC, ui->URL_Lab, ui->PC);
    m_form->setMinimumSize(m_form->size());

    // Centred in the client width: before the window is shown its frame is
    // unknown, and the frame is the window manager's on Linux.
    for (QWidget* control : {static_cast<QWidget*>(ui->Note_Lab), static_cast<QWidget*>(ui->URL_Lab),
                             static_cast<QWidget*>(ui->Execute_Btn)})
        control->move((m_form->width() - control->width()) / 2, control->y());

    // The mask first: the directory's listing then comes at once, under it.
    m_directories->setMask(ui->Mask_Edt->text());
    setCurrentDirectory(QDir::currentPath());
    ui->HomePage_Btn->move(ui->PC->x(), ui->HomePage_Btn->y());
    setupAnchors();
    fitWindowToScreen();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

// The window opens at the form's laid-out size, which is also its smallest
// size; the user may make it larger or maximise it. Only when the screen's
// available area is smaller does it open at that area's size, with scroll
// bars, and may be made smaller still.
void MainWindow::fitWindowToScreen() {
    const QSize form = m_form->minimumSize();
    const QScreen* screen = QGuiApplication::primaryScreen();
    // Room for the window manager's frame and title bar.
    const QSize room = screen ? screen->availableGeometry().size() - QSize(16, 48) : form;
    if (form.width() <= room.width() && form.height() <= room.height()) {
        // Scroll bars shown while the window was still being laid out
        // would stay, each one making room for the other.
        m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setMinimumSize(form);
        resize(form);
        return;
    }
    // A scroll bar along one side takes room from the other.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_scroll);
    const QSize withBars(form.width() + (form.height() > room.height() ? bar : 0),
                         form.height() + (form.width() > room.width() ? bar : 0));
    setMinimumSize(QSize(200, 150));
    resize(withBars.boundedTo(room));
}

// The lists, the tree and the memos take the room a larger window gives; the
// tree and the file list share the height, as do the two memos of the Text
// page; the other controls keep their places against their edges.
void MainWindow::setupAnchors() {
    using S = Share;
    const QVector<AnchorRule> rules{
        {ui->PC, S::None, S::Full, S::None, S::Full},
        {ui->Progress_Pnl, S::None, S::Full, S::Full, S::None},
        {ui->CurFileName_Lab, S::None, S::Full, S::None, S::None},
        {ui->ProgressBar, S::None, S::Full, S::None, S::None},
        {ui->Execute_Btn, S::Half, S::None, S::Full, S::None},
        {ui->Note_Lab, S::Half, S::None, S::Full, S::None},
        {ui->URL_Lab, S::Half, S::None, S::Full, S::None},
        {ui->HomePage_Btn, S::None, S::None, S::Full, S::None},
        {ui->Email_Btn, S::Full, S::None, S::Full, S::None},
        // The File page.
        {ui->Image, S::Full, S::None, S::None, S::None},
        {ui->FileList_PC, S::None, S::Full, S::None, S::Full},
        {ui->OpenDir_Btn, S::Full, S::None, S::None, S::None},
        {ui->DirectoryListBox, S::None, S::Full, S::None, S::Half},
        {ui->Label2, S::None, S::None, S::Half, S::None},
        {ui->Mask_Edt, S::None, S::None, S::Half, S::None},
        {ui->SubFolders_Chk, S::Full, S::None, S::Half, S::None},
        {ui->FileListBox, S::None, S::Full, S::Half, S::OtherHalf},
        {ui->OpenFileList_Btn, S::Full, S::None, S::None, S::None},
        {ui->FileList_Memo, S::None, S::Full, S::None, S::Full},
        // The Text page.
        {ui->CaseSensitive_Chk, S::Full, S::None, S::None, S::None},
        {ui->SearchPattern_Memo, S::None, S::Full, S::None, S::Half},
        {ui->SROperation_Rdg, S::None, S::None, S::Half, S::None},
        {ui->Process_Lab, S::None, S::None, S::Half, S::None},
        {ui->MaxCount_Cbo, S::None, S::None, S::Half, S::None},
        {ui->WholeWord_Chk, S::Full, S::None, S::Half, S::None},
        {ui->Label4, S::None, S::None, S::Half, S::None},
        {ui->Label7, S::None, S::None, S::Half, S::None},
        {ui->Hint_Lab, S::None, S::None, S::Half, S::None},
        {ui->ResultIsPattern_Chk, S::Full, S::None, S::Half, S::None},
        {ui->NewText_Memo, S::None, S::Full, S::Half, S::OtherHalf},
        {ui->KeepCase_Chk, S::Full, S::None, S::Full, S::None},
        // The Result page.
        {ui->Stop_Chk, S::Full, S::None, S::None, S::None},
        {ui->ResultFileNames_Memo, S::None, S::Full, S::None, S::Full},
    };
    m_anchors = new FormAnchors(m_form, rules);
}

// Key preview: every key released anywhere in the window comes here first.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool pageKey = (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
                             (key->modifiers() & Qt::ControlModifier) && !(key->modifiers() & Qt::AltModifier);
        // Ctrl+Tab changes the window's page wherever the focus is: the File
        // page's inner page (a tab widget too) would otherwise take it when
        // the focus is inside it.
        if (pageKey && widget && widget->window() == this && isActiveWindow()) {
            const bool back = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
            const int count = ui->PC->count();
            ui->PC->setCurrentIndex((ui->PC->currentIndex() + (back ? count - 1 : 1)) % count);
            return true;
        }
    }
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
    // Only Replace Text writes a new text in place of a match.
    ui->KeepCase_Chk->setEnabled(operation == core::OpReplaceText);
    // A memo the operation takes no text from is read-only.
    if (const core::OperationInfo* info = core::FindOperation(static_cast<std::uint8_t>(operation))) {
        SetMemoReadOnly(ui->SearchPattern_Memo, info->Arguments < 1);
        SetMemoReadOnly(ui->NewText_Memo, info->Arguments < 2);
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
    engine::LoadFileText(pathToBytes(fileName), text);
    ui->FileList_Memo->setPlainText(m_listedPaths.load(text));
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

// As for any link that cannot be opened, the user is told.
void MainWindow::Email_BtnClick() {
    const QString link = supportEmailLink();
    if (!OpenTarget(link))
        throw Error("No program is set up to open \"" + link.toStdString() + "\"");
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

} // namespace quillet::gui
