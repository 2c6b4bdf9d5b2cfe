#include "file_list_actions.h"

#include "core/error.h"
#include "launcher/shell_launcher.h"
#include "list_keys.h"
#include "user_dialogs.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextBlock>

namespace quillet::gui {

// Implementation details only, past this point.
namespace detail {
namespace {

void openOrFail(const QString& path) {
    if (!QFileInfo::exists(path))
        throw Error("\"" + QFile::encodeName(path).toStdString() + "\" does not exist");
    if (!OpenWithDesktop(path))
        throw Error("No program is set up to open \"" + QFile::encodeName(path).toStdString() + "\"");
}

} // namespace
} // namespace detail

FileListActions::FileListActions(QPlainTextEdit* memo) : QObject(memo), m_memo(memo) {
    m_memo->viewport()->installEventFilter(this);
    m_memo->installEventFilter(this);
    // A read-only memo has no caret of its own: the keyboard gets one, and
    // its line is drawn as the list's current line.
    m_memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_memo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_memo, &QWidget::customContextMenuRequested, this, &FileListActions::popupMenu);
    connect(m_memo, &QPlainTextEdit::cursorPositionChanged, this, &FileListActions::showCurrentLine);
    connect(m_memo, &QPlainTextEdit::textChanged, this, &FileListActions::showCurrentLine);
    showCurrentLine();
}

void FileListActions::popupMenu(const QPoint& viewportPos) {
    QMenu* menu = createMenu(viewportPos);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_memo->viewport()->mapToGlobal(viewportPos));
}

void FileListActions::showCurrentLine() {
    QTextEdit::ExtraSelection line;
    QColor colour = m_memo->palette().color(QPalette::Highlight);
    colour.setAlpha(64);
    line.format.setBackground(colour);
    line.format.setProperty(QTextFormat::FullWidthSelection, true);
    line.cursor = m_memo->textCursor();
    line.cursor.clearSelection();
    m_memo->setExtraSelections(m_memo->document()->isEmpty() ? QList<QTextEdit::ExtraSelection>{}
                                                             : QList<QTextEdit::ExtraSelection>{line});
}

QString FileListActions::currentPath() const {
    return pathOfLine(m_memo->textCursor().block().text());
}

QString FileListActions::pathOfLine(const QString& line) const {
    if (line.trimmed().isEmpty())
        return {};
    const QDir base(m_baseDirectory.isEmpty() ? QDir::currentPath() : m_baseDirectory);
    return QDir::cleanPath(base.absoluteFilePath(line));
}

void FileListActions::setBaseDirectory(const QString& directory) {
    m_baseDirectory = directory;
}

QString FileListActions::pathAt(const QPoint& viewportPos) const {
    const QTextCursor cursor = m_memo->cursorForPosition(viewportPos);
    // cursorForPosition gives the nearest line; a point below the text is
    // on no line.
    if (viewportPos.y() > m_memo->cursorRect(cursor).bottom())
        return {};
    return pathOfLine(cursor.block().text());
}

void FileListActions::open(const QString& path) {
    runGuarded([&] { detail::openOrFail(path); });
}

void FileListActions::openContainingFolder(const QString& path) {
    runGuarded([&] { detail::openOrFail(QFileInfo(path).absolutePath()); });
}

void FileListActions::copyPath(const QString& path) {
    QGuiApplication::clipboard()->setText(path);
}

QMenu* FileListActions::createMenu(const QPoint& viewportPos) {
    const QString path = pathAt(viewportPos);
    QMenu* menu = m_memo->createStandardContextMenu(viewportPos);
    QAction* first = menu->actions().isEmpty() ? nullptr : menu->actions().front();
    auto add = [&](const QString& caption, const char* name, void (FileListActions::*action)(const QString&)) {
        auto* item = new QAction(caption, menu);
        item->setObjectName(QLatin1String(name));
        item->setEnabled(!path.isEmpty());
        connect(item, &QAction::triggered, this, [this, action, path] { (this->*action)(path); });
        menu->insertAction(first, item);
    };
    add(QStringLiteral("Open"), "Open_File_MI", &FileListActions::open);
    add(QStringLiteral("Open Containing Folder"), "OpenFolder_File_MI", &FileListActions::openContainingFolder);
    add(QStringLiteral("Copy Path"), "CopyPath_File_MI", &FileListActions::copyPath);
    if (first)
        menu->insertSeparator(first);
    return menu;
}

bool FileListActions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_memo && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (IsOpenKey(*key)) {
            const QString path = currentPath();
            if (!path.isEmpty())
                open(path);
            return true;
        }
        if (IsMenuKey(*key)) {
            m_memo->ensureCursorVisible();
            popupMenu(m_memo->cursorRect().center());
            return true;
        }
    }
    if (watched == m_memo->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QString path = pathAt(mouse->position().toPoint());
        if (mouse->button() == Qt::LeftButton && !path.isEmpty()) {
            open(path);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace quillet::gui
