// What a user can do with a list of files that the window shows, one path a
// line, in a read-only memo: a double-click opens the file under the pointer
// with the desktop's handler, and the context menu offers "Open", "Open
// Containing Folder" and "Copy Path" for the line under the pointer above the
// memo's own "Copy" and "Select All". From the keyboard, the list has a
// current line, drawn across the memo's width, that the arrows, Page Up/Down
// and Ctrl+Home/End move; Return opens its file, and the Menu key or
// Shift+F10 shows the context menu for it. The Result page's list uses it; any
// other page that lists files attaches one to its own memo.
//
// Layer: gui. Opens through the shell launcher's OpenWithDesktop, so tests
// see the calls through the launcher's back end.
#pragma once

#include <QObject>
#include <QString>

class QMenu;
class QPlainTextEdit;
class QPoint;

namespace quillet::gui {

class FileListActions : public QObject {
    Q_OBJECT

public:
    // Attaches to `memo` (not owned; the actions live as long as it does).
    explicit FileListActions(QPlainTextEdit* memo);

    // Lines that are not absolute paths (the bare names of a directory
    // listing, relative lines of a path list) are taken relative to
    // `directory`; an empty directory means the program's current one.
    void setBaseDirectory(const QString& directory);

    // The absolute path of the line at `viewportPos` (in the memo's viewport
    // coordinates); empty on a blank line or below the last line.
    QString pathAt(const QPoint& viewportPos) const;
    // The absolute path of the current line; empty on a blank line.
    QString currentPath() const;

    // The three actions. A path that no longer exists, or that the desktop
    // has no handler for, is reported in the error box.
    void open(const QString& path);
    void openContainingFolder(const QString& path);
    void copyPath(const QString& path);

    // The context menu for the line at `viewportPos`, as the memo shows it
    // (the caller owns it). Its actions are named Open_File_MI,
    // OpenFolder_File_MI and CopyPath_File_MI; without a path under the
    // pointer they are disabled.
    QMenu* createMenu(const QPoint& viewportPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString pathOfLine(const QString& line) const;
    void popupMenu(const QPoint& viewportPos);
    void showCurrentLine();

    QPlainTextEdit* m_memo;
    QString m_baseDirectory;
};

} // namespace quillet::gui
