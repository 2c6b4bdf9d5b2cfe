// The texts of the earlier runs of this session, offered again from a memo's
// context menu ("Earlier Texts"), as the window's pattern and new-text memos
// do. Nothing is kept once the program ends: every start shows the layout's
// defaults.
//
// Layer: gui.
#pragma once

#include <QObject>
#include <QStringList>

class QMenu;
class QPlainTextEdit;
class QPoint;

namespace quillet::gui {

class MemoHistory : public QObject {
    Q_OBJECT

public:
    // The most texts kept; the oldest goes first.
    static constexpr int kMaxEntries = 20;

    // Attaches to `memo` (not owned; the history lives as long as it does)
    // and gives it the context menu below.
    explicit MemoHistory(QPlainTextEdit* memo);

    // Keeps `text` as the newest entry; an empty text is not kept, and a text
    // kept before moves to the front instead of appearing twice.
    void remember(const QString& text);
    // Newest first.
    QStringList entries() const { return m_entries; }

    // The memo's standard context menu with an "Earlier Texts" submenu
    // (object name EarlierTexts_MI) at its top: one item per entry, captioned
    // by its first line, that puts the entry into the memo. The submenu is
    // disabled when there is no entry or the memo is read-only.
    QMenu* createMenu(const QPoint& viewportPos);

private:
    QPlainTextEdit* m_memo;
    QStringList m_entries;
};

// The caption of an entry in a menu: its first line, cut to 60 characters
// with "…" when longer or when more lines follow; "&" doubled so that it
// shows instead of marking an accelerator.
QString historyCaption(const QString& text);

} // namespace quillet::gui
