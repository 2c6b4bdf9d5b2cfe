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

void MemoHistory::remember(const QString& text) {
    if (text.isEmpty())
        return;
    m_entries.removeAll(text);
    m_entries.prepend(text);
    while (m_entries.size() > kMaxEntries)
        m_entries.removeLast();
}

QMenu* MemoHistory::createMenu(const QPoint& viewportPos) {
    QMenu* menu = m_memo->createStandardContextMenu(viewportPos);
    auto* earlier = new QMenu(QStringLiteral("Earlier Texts"), menu);
    earlier->menuAction()->setObjectName(QStringLiteral("EarlierTexts_MI"));
    for (const QString& entry : std::as_const(m_entries)) {
        QAction* item = earlier->addAction(historyCaption(entry));
        item->setToolTip(entry);
        connect(item, &QAction::triggered, m_memo, [memo = m_memo, entry] { memo->setPlainText(entry); });
    }
    earlier->setEnabled(!m_entries.isEmpty() && !m_memo->isReadOnly());
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
