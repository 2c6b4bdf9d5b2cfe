// The Changes page's review of each change: the ticks of a preview's files
// and of their changes, which follow one another, and each file read again
// to list its changes and to show the diff of the ticked ones.
#include "changes_page.h"

#include "changes_page_parts.h"
#include "diff_view.h"
#include "user_dialogs.h"

#include <QKeyEvent>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

namespace quillet::gui {

using namespace detail;

Qt::CheckState ChangesPage::tickState(const Row& row) const {
    if (row.Ticks.empty())
        return row.Ticked ? Qt::Checked : Qt::Unchecked;
    const auto ticked = std::count(row.Ticks.begin(), row.Ticks.end(), true);
    if (ticked == 0)
        return Qt::Unchecked;
    return static_cast<std::size_t>(ticked) == row.Ticks.size() ? Qt::Checked : Qt::PartiallyChecked;
}

void ChangesPage::setItemTick(QTreeWidgetItem* item, Qt::CheckState state) {
    const bool before = std::exchange(m_settingTicks, true);
    item->setCheckState(FileColumn, state);
    m_settingTicks = before;
}

// Space toggles the tick of the current row, whichever of its columns the
// keyboard is on (the view itself toggles only in the column of the box).
bool ChangesPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        QTreeWidgetItem* item = m_list->currentItem();
        if (item != nullptr && (item->flags() & Qt::ItemIsUserCheckable) &&
            item->data(FileColumn, Qt::CheckStateRole).isValid()) {
            item->setCheckState(FileColumn, item->checkState(FileColumn) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ChangesPage::onItemChanged(QTreeWidgetItem* item) {
    if (m_settingTicks || item == nullptr)
        return;
    QTreeWidgetItem* fileItem = item->parent() != nullptr ? item->parent() : item;
    Row& row = m_rows.at(fileItem->data(FileColumn, kRowRole).toULongLong());
    if (!row.Checkable)
        return;
    const Qt::CheckState state = item->checkState(FileColumn);
    if (item->parent() != nullptr) {
        const QVariant change = item->data(FileColumn, kChangeRole);
        if (!change.isValid() || change.toULongLong() >= row.Ticks.size())
            return;
        row.Ticks[change.toULongLong()] = state == Qt::Checked;
    } else if (state == tickState(row)) {
        return; // not a tick that changed
    } else if (row.Ticks.empty()) {
        row.Ticked = state == Qt::Checked;
    } else {
        row.Ticks.assign(row.Ticks.size(), state == Qt::Checked);
    }
    // The file's tick and its changes' follow one another.
    setItemTick(fileItem, tickState(row));
    for (int i = 0; i < fileItem->childCount(); ++i) {
        QTreeWidgetItem* child = fileItem->child(i);
        const QVariant change = child->data(FileColumn, kChangeRole);
        if (change.isValid() && change.toULongLong() < row.Ticks.size())
            setItemTick(child, row.Ticks[change.toULongLong()] ? Qt::Checked : Qt::Unchecked);
    }
    QTreeWidgetItem* current = m_list->currentItem();
    if (current != nullptr && (current == fileItem || current->parent() == fileItem))
        runGuarded([&] { showFileDiff(row); });
}

bool ChangesPage::checkStillAsPreviewed(Row& row, QTreeWidgetItem* fileItem) {
    const FileReview review = reviewFileNow(m_param, row.Change.Path);
    const bool same = review.Changed && review.TextHash == row.Change.TextHash &&
                      (row.Ticks.empty() || review.Changes.size() == row.Ticks.size());
    if (same)
        return true;
    const bool before = std::exchange(m_settingTicks, true);
    if (!review.Changed) {
        row.Note = kNothingToChangeNow;
        row.Checkable = false;
        row.Counted = false;
        row.Ticks.clear();
        fileItem->setData(FileColumn, Qt::CheckStateRole, QVariant());
        fileItem->setText(MatchesColumn, QString());
    } else {
        row.Note = kChangedSincePreview;
        row.Change.TextHash = review.TextHash;
        if (!row.Ticks.empty()) {
            row.Change.Matches = static_cast<std::int64_t>(review.Changes.size());
            row.Ticks.assign(review.Changes.size(), false);
            fileItem->setText(MatchesColumn, QString::number(row.Change.Matches));
        } else {
            row.Ticked = false;
        }
        fileItem->setCheckState(FileColumn, tickState(row));
    }
    fileItem->setText(NoteColumn, row.Note);
    fileItem->setToolTip(NoteColumn, row.Note);
    const bool expanded = fileItem->isExpanded();
    qDeleteAll(fileItem->takeChildren());
    fileItem->setChildIndicatorPolicy(row.Ticks.empty() ? QTreeWidgetItem::DontShowIndicator
                                                        : QTreeWidgetItem::ShowIndicator);
    m_settingTicks = before;
    if (expanded && !row.Ticks.empty())
        showChangesOf(fileItem);
    return false;
}

void ChangesPage::showChangesOf(QTreeWidgetItem* fileItem) {
    if (fileItem == nullptr || fileItem->parent() != nullptr || fileItem->childCount() > 0)
        return;
    Row& row = m_rows.at(fileItem->data(FileColumn, kRowRole).toULongLong());
    if (!row.Checkable || row.Ticks.empty())
        return;
    const FileReview review = reviewFileNow(m_param, row.Change.Path);
    if (!review.Changed || review.TextHash != row.Change.TextHash || review.Changes.size() != row.Ticks.size()) {
        checkStillAsPreviewed(row, fileItem); // marks it, and lists its changes anew
        return;
    }
    const bool before = std::exchange(m_settingTicks, true);
    QList<QTreeWidgetItem*> children;
    const std::size_t shown = std::min(review.Changes.size(), kMaxChangeItems);
    const QVariant rowIndex = fileItem->data(FileColumn, kRowRole);
    for (std::size_t i = 0; i < shown; ++i) {
        const ChangeRow& change = review.Changes[i];
        auto* child = new QTreeWidgetItem;
        child->setText(
            FileColumn,
            QStringLiteral("%1: %2 \u2192 %3").arg(change.Line).arg(fromUtf8(change.Old), fromUtf8(change.New)));
        child->setToolTip(FileColumn, child->text(FileColumn));
        child->setData(FileColumn, kRowRole, rowIndex);
        child->setData(FileColumn, kChangeRole, QVariant::fromValue<qulonglong>(i));
        child->setCheckState(FileColumn, row.Ticks[i] ? Qt::Checked : Qt::Unchecked);
        children << child;
    }
    if (review.Changes.size() > shown) {
        auto* more = new QTreeWidgetItem;
        more->setText(FileColumn,
                      QStringLiteral("%1 more changes, ticked with the file").arg(review.Changes.size() - shown));
        more->setData(FileColumn, kRowRole, rowIndex);
        children << more;
    }
    fileItem->addChildren(children);
    m_settingTicks = before;
}

void ChangesPage::showFileDiff(const Row& row) {
    if (tickState(row) == Qt::Unchecked) {
        m_diff->showMessage(QStringLiteral("No change of this file is ticked: Apply leaves it as it is."));
        return;
    }
    engine::FileOperation param = m_param;
    if (!row.Ticks.empty())
        param.Match.Selection = row.Ticks;
    m_diff->showDiff(diffOfFileNow(param, row.Change.Path), DiskSide::Old);
}

} // namespace quillet::gui
