// The Changes page's list model: what each row shows is read from the
// page's rows when the view paints it.
#include "changes_page_list.h"

#include "changes_page_parts.h"
#include "core/checks.h"

namespace quillet::gui {

using namespace detail;

namespace {

// A file's row; a change's row is numbered by its file's row plus one.
constexpr quintptr kFileId = 0;

QString changeText(const ChangeRow& change) {
    return QStringLiteral("%1: %2 \u2192 %3").arg(change.Line).arg(fromUtf8(change.Old), fromUtf8(change.New));
}

} // namespace

int ChangesPage::ListModel::childCount(const Row& row) {
    return static_cast<int>(row.Listed.size()) + (row.Unlisted > 0 ? 1 : 0);
}

std::size_t ChangesPage::ListModel::fileRow(const QModelIndex& index) {
    QUILLET_ASSERT(index.isValid(), "a row of the list");
    return index.internalId() == kFileId ? static_cast<std::size_t>(index.row())
                                         : static_cast<std::size_t>(index.internalId() - 1);
}

std::int64_t ChangesPage::ListModel::changeNumber(const QModelIndex& index) const {
    if (!index.isValid() || index.internalId() == kFileId)
        return -1;
    const Row& row = rowAt(fileRow(index));
    return static_cast<std::size_t>(index.row()) < row.Listed.size() ? index.row() : -1;
}

QModelIndex ChangesPage::ListModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= columnCount())
        return {};
    if (!parent.isValid())
        return static_cast<std::size_t>(row) < m_page.m_rows.size() ? createIndex(row, column, kFileId) : QModelIndex();
    if (parent.internalId() != kFileId || parent.column() != FileColumn ||
        row >= childCount(rowAt(static_cast<std::size_t>(parent.row()))))
        return {};
    return createIndex(row, column, static_cast<quintptr>(parent.row()) + 1);
}

QModelIndex ChangesPage::ListModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kFileId)
        return {};
    return createIndex(static_cast<int>(child.internalId() - 1), FileColumn, kFileId);
}

int ChangesPage::ListModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid())
        return static_cast<int>(m_page.m_rows.size());
    if (parent.internalId() != kFileId || parent.column() != FileColumn)
        return 0;
    return childCount(rowAt(static_cast<std::size_t>(parent.row())));
}

int ChangesPage::ListModel::columnCount(const QModelIndex&) const {
    return NoteColumn + 1;
}

bool ChangesPage::ListModel::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid())
        return !m_page.m_rows.empty();
    if (parent.internalId() != kFileId || parent.column() != FileColumn)
        return false;
    const Row& row = rowAt(static_cast<std::size_t>(parent.row()));
    return childCount(row) > 0 || (row.Checkable && !row.Ticks.empty());
}

QVariant ChangesPage::ListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const Row& row = rowAt(fileRow(index));
    if (index.internalId() != kFileId) {
        if (index.column() != FileColumn)
            return {};
        const std::int64_t change = changeNumber(index);
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return change >= 0 ? changeText(row.Listed[static_cast<std::size_t>(change)])
                               : QStringLiteral("%1 more changes, ticked with the file").arg(row.Unlisted);
        case Qt::CheckStateRole:
            if (change < 0 || static_cast<std::size_t>(change) >= row.Ticks.size())
                return {};
            return row.Ticks[static_cast<std::size_t>(change)] ? Qt::Checked : Qt::Unchecked;
        default:
            return {};
        }
    }
    switch (index.column()) {
    case FileColumn:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return fromBytes(row.Change.Path);
        if (role == Qt::CheckStateRole && row.Checkable)
            return m_page.tickState(row);
        return {};
    case MatchesColumn:
        if (role == Qt::DisplayRole && row.Counted && row.Change.Matches >= 0)
            return QString::number(row.Change.Matches);
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return {};
    case NoteColumn:
        if ((role == Qt::DisplayRole || role == Qt::ToolTipRole) && !row.Note.isEmpty())
            return row.Note;
        return {};
    default:
        return {};
    }
}

bool ChangesPage::ListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole || index.column() != FileColumn ||
        !data(index, Qt::CheckStateRole).isValid())
        return false;
    m_page.setTick(index, static_cast<Qt::CheckState>(value.toInt()));
    return true;
}

Qt::ItemFlags ChangesPage::ListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // Asked of every row each time the view lays the list out: whether the
    // row has a tick, not the tick itself, which counts a file's changes.
    if (index.column() != FileColumn)
        return flags;
    const Row& row = rowAt(fileRow(index));
    const bool box = index.internalId() == kFileId
                         ? row.Checkable
                         : row.Checkable && changeNumber(index) >= 0 &&
                               static_cast<std::size_t>(changeNumber(index)) < row.Ticks.size();
    return box ? flags | Qt::ItemIsUserCheckable : flags;
}

QVariant ChangesPage::ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case FileColumn:
        return QStringLiteral("File");
    case MatchesColumn:
        return QStringLiteral("Matches");
    case NoteColumn:
        return QStringLiteral("Note");
    default:
        return {};
    }
}

void ChangesPage::ListModel::beginAppend(std::size_t count) {
    const auto first = static_cast<int>(m_page.m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(count) - 1);
}

void ChangesPage::ListModel::setChanges(std::size_t file, std::vector<ChangeRow> changes, std::size_t unlisted) {
    clearChanges(file);
    Row& row = m_page.m_rows.at(file);
    const int count = static_cast<int>(changes.size()) + (unlisted > 0 ? 1 : 0);
    if (count == 0)
        return;
    beginInsertRows(index(static_cast<int>(file), FileColumn), 0, count - 1);
    row.Listed = std::move(changes);
    row.Unlisted = unlisted;
    endInsertRows();
}

void ChangesPage::ListModel::clearChanges(std::size_t file) {
    Row& row = m_page.m_rows.at(file);
    const int count = childCount(row);
    if (count == 0)
        return;
    beginRemoveRows(index(static_cast<int>(file), FileColumn), 0, count - 1);
    row.Listed.clear();
    row.Listed.shrink_to_fit();
    row.Unlisted = 0;
    endRemoveRows();
}

void ChangesPage::ListModel::rowChanged(std::size_t file) {
    const auto at = static_cast<int>(file);
    emit dataChanged(index(at, FileColumn), index(at, NoteColumn));
    const int children = childCount(rowAt(file));
    if (children > 0) {
        const QModelIndex parent = index(at, FileColumn);
        emit dataChanged(index(0, FileColumn, parent), index(children - 1, FileColumn, parent));
    }
}

} // namespace quillet::gui
