// The values of the earlier runs of this session, offered again from a
// field's context menu: "Earlier Texts" in the pattern and new-text memos,
// "Earlier Masks" in the mask field, "Earlier Folders" in the folder tree.
// Nothing is kept once the program ends: every start shows the layout's
// defaults.
//
// Layer: gui.
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QMenu;
class QPlainTextEdit;
class QPoint;

namespace quillet::gui {

// A session's earlier values of one field, newest first: the texts of the
// memos, the window's folders and masks.
class EarlierValues {
public:
    // The most values kept; the oldest goes first.
    static constexpr int kMaxEntries = 20;

    // Keeps `value` as the newest entry; an empty value is not kept, and a
    // value kept before moves to the front instead of appearing twice.
    void remember(const QString& value);
    // Newest first.
    QStringList entries() const { return m_entries; }

    // A submenu titled `title` (its action named `objectName`) with one item
    // per entry, captioned by historyCaption and with the whole value as its
    // tooltip, that calls `choose` with the value; disabled when there is no
    // entry or `enabled` is false. Owned by `parent`.
    QMenu* createMenu(const QString& title, const QString& objectName, QMenu* parent,
                      const std::function<void(const QString&)>& choose, bool enabled = true) const;

private:
    QStringList m_entries;
};

class MemoHistory : public QObject {
    Q_OBJECT

public:
    // The most texts kept; the oldest goes first.
    static constexpr int kMaxEntries = EarlierValues::kMaxEntries;

    // Attaches to `memo` (not owned; the history lives as long as it does)
    // and gives it the context menu below.
    explicit MemoHistory(QPlainTextEdit* memo);

    // Keeps `text` as the newest entry; an empty text is not kept, and a text
    // kept before moves to the front instead of appearing twice.
    void remember(const QString& text) { m_values.remember(text); }
    // Newest first.
    QStringList entries() const { return m_values.entries(); }

    // The memo's standard context menu with an "Earlier Texts" submenu
    // (object name EarlierTexts_MI) at its top: one item per entry, captioned
    // by its first line, that puts the entry into the memo. The submenu is
    // disabled when there is no entry or the memo is read-only.
    QMenu* createMenu(const QPoint& viewportPos);

private:
    QPlainTextEdit* m_memo;
    EarlierValues m_values;
};

// The caption of an entry in a menu: its first line, cut to 60 characters
// with "…" when longer or when more lines follow; "&" doubled so that it
// shows instead of marking an accelerator.
QString historyCaption(const QString& text);

} // namespace quillet::gui
