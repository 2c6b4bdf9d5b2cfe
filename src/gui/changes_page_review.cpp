// The Changes page's review of each change: the ticks of a preview's files
// and of their changes, which follow one another, and each file read again
// to list its changes and to show the diff of the ticked ones.
#include "changes_page.h"

#include "changes_page_list.h"
#include "changes_page_parts.h"
#include "diff_view.h"
#include "list_keys.h"
#include "user_dialogs.h"

#include <QKeyEvent>
#include <QTreeView>

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

// Space toggles the tick of the current row, whichever of its columns the
// keyboard is on (the view itself toggles only in the column of the box).
bool ChangesPage::eventFilter(QObject* watched, QEvent* event) {
    const auto* key = event->type() == QEvent::KeyPress ? static_cast<QKeyEvent*>(event) : nullptr;
    // Return opens the current file as a double-click does (a change's row
    // opens its file too).
    if (watched == m_list && key != nullptr && IsOpenKey(*key)) {
        const QModelIndex current = m_list->currentIndex();
        if (current.isValid())
            runGuarded([&] { openItem(current); });
        return true;
    }
    // The menu acts on the current row, shown where it is.
    if (watched == m_list && key != nullptr && IsMenuKey(*key)) {
        const QModelIndex current = m_list->currentIndex();
        if (current.isValid())
            m_list->scrollTo(current);
        showContextMenu(current.isValid() ? m_list->visualRect(current).center() : QPoint());
        return true;
    }
    if (watched == m_list && key != nullptr && key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
        const QModelIndex current = m_list->currentIndex();
        const QModelIndex box = current.siblingAtColumn(FileColumn);
        const QVariant state = box.data(Qt::CheckStateRole);
        if (current.isValid() && (box.flags() & Qt::ItemIsUserCheckable) && state.isValid()) {
            m_model->setData(box, state.toInt() == Qt::Checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ChangesPage::setTick(const QModelIndex& index, Qt::CheckState state) {
    const std::size_t file = ListModel::fileRow(index);
    Row& row = m_rows.at(file);
    if (!row.Checkable)
        return;
    if (index.parent().isValid()) {
        const std::int64_t change = m_model->changeNumber(index);
        if (change < 0 || static_cast<std::size_t>(change) >= row.Ticks.size())
            return;
        row.Ticks[static_cast<std::size_t>(change)] = state == Qt::Checked;
    } else if (state == tickState(row)) {
        return; // not a tick that changed
    } else if (row.Ticks.empty()) {
        row.Ticked = state == Qt::Checked;
    } else {
        row.Ticks.assign(row.Ticks.size(), state == Qt::Checked);
    }
    // The file's tick and its changes' follow one another.
    m_model->rowChanged(file);
    const QModelIndex current = m_list->currentIndex();
    if (current.isValid() && ListModel::fileRow(current) == file)
        runGuarded([&] { showFileDiff(row); });
}

bool ChangesPage::checkStillAsPreviewed(std::size_t file) {
    Row& row = m_rows.at(file);
    const FileReview review = reviewFileNow(m_param, row.Change.Path, kMaxChangeItems);
    const bool same = review.Changed && review.TextHash == row.Change.TextHash &&
                      (row.Ticks.empty() || review.Count == row.Ticks.size());
    if (same)
        return true;
    m_model->clearChanges(file);
    if (!review.Changed) {
        row.Note = kNothingToChangeNow;
        row.Checkable = false;
        row.Counted = false;
        row.Ticks.clear();
    } else {
        row.Note = kChangedSincePreview;
        row.Change.TextHash = review.TextHash;
        if (!row.Ticks.empty()) {
            row.Change.Matches = static_cast<std::int64_t>(review.Count);
            row.Ticks.assign(review.Count, false);
        } else {
            row.Ticked = false;
        }
    }
    m_model->rowChanged(file);
    const QModelIndex fileIndex = m_model->index(static_cast<int>(file), FileColumn);
    if (m_list->isExpanded(fileIndex) && !row.Ticks.empty())
        showChangesOf(file);
    return false;
}

void ChangesPage::showChangesOf(std::size_t file) {
    Row& row = m_rows.at(file);
    if (!row.Checkable || row.Ticks.empty() || !row.Listed.empty() || row.Unlisted > 0)
        return;
    FileReview review = reviewFileNow(m_param, row.Change.Path, kMaxChangeItems);
    if (!review.Changed || review.TextHash != row.Change.TextHash || review.Count != row.Ticks.size()) {
        checkStillAsPreviewed(file); // marks it, and lists its changes anew
        return;
    }
    const std::size_t unlisted = review.Count - review.Changes.size();
    m_model->setChanges(file, std::move(review.Changes), unlisted);
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
