#include "memo_history.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>

namespace quillet::gui {

MemoHistory::MemoHistory(QPlainTextEdit* memo) : QObject(memo), m_memo(memo) {
    m_memo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_memo, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = createMenu(at);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_memo->viewport()->mapToGlobal(at));
    });
}

void EarlierValues::remember(const QString& value) {
    if (value.isEmpty())
        return;
    m_entries.removeAll(value);
    m_entries.prepend(value);
    while (m_entries.size() > kMaxEntries)
        m_entries.removeLast();
}

QMenu* EarlierValues::createMenu(const QString& title, const QString& objectName, QMenu* parent,
                                 const std::function<void(const QString&)>& choose, bool enabled) const {
    auto* earlier = new QMenu(title, parent);
    earlier->menuAction()->setObjectName(objectName);
    for (const QString& entry : std::as_const(m_entries)) {
        QAction* item = earlier->addAction(historyCaption(entry));
        item->setToolTip(entry);
        QObject::connect(item, &QAction::triggered, earlier, [choose, entry] { choose(entry); });
    }
    earlier->setEnabled(enabled && !m_entries.isEmpty());
    return earlier;
}

QMenu* MemoHistory::createMenu(const QPoint& viewportPos) {
    QMenu* menu = m_memo->createStandardContextMenu(viewportPos);
    QMenu* earlier = m_values.createMenu(
        QStringLiteral("Earlier Texts"), QStringLiteral("EarlierTexts_MI"), menu,
        [memo = m_memo](const QString& entry) { memo->setPlainText(entry); }, !m_memo->isReadOnly());
    QAction* first = menu->actions().isEmpty() ? nullptr : menu->actions().front();
    menu->insertMenu(first, earlier);
    if (first)
        menu->insertSeparator(first);
    return menu;
}

QString historyCaption(const QString& text) {
    constexpr qsizetype kWidth = 60;
    const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
    QString caption = lineEnd >= 0 ? text.left(lineEnd) : text;
    const bool more = lineEnd >= 0 || caption.size() > kWidth;
    caption.truncate(kWidth);
    if (more)
        caption += QChar(0x2026);
    caption.replace(QLatin1Char('&'), QLatin1String("&&"));
    return caption;
}

} // namespace quillet::gui
