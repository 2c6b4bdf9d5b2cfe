// The Changes page's list as a model over the page's rows: a preview of
// thousands of files costs one Row each, and no item per file or per cell.
// A file's row opens into its changes (made when it is opened, see
// ChangesPage::showChangesOf), each with a tick of its own, and, past
// kMaxChangeItems, one row that says how many more follow the file's tick.
//
// Indexes: a file's row has internal id 0; a change's row has the number of
// its file's row plus one, so that both are found from the index alone.
//
// Layer: gui; private to the page.
#pragma once

#include "changes_page.h"

#include <QAbstractItemModel>

namespace quillet::gui {

class ChangesPage::ListModel : public QAbstractItemModel {
public:
    explicit ListModel(ChangesPage& page) : QAbstractItemModel(&page), m_page(page) {}

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // A preview's file with changes to choose from shows that it opens
    // before its changes are made.
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // A tick set by a click or by Space: the page makes the file's tick and
    // its changes' follow one another.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The number of the file's row of `index` (a file's or a change's row).
    static std::size_t fileRow(const QModelIndex& index);
    // The number of the change of a change's row, or -1 for a file's row and
    // for the row that counts the changes not listed.
    std::int64_t changeNumber(const QModelIndex& index) const;

    // What the page tells the views of the rows it changed.
    void beginReset() { beginResetModel(); }
    void endReset() { endResetModel(); }
    void beginAppend(std::size_t count);
    void endAppend() { endInsertRows(); }
    // Row `file` now lists `changes` change rows (and the rows it listed
    // before are gone).
    void setChanges(std::size_t file, std::vector<ChangeRow> changes, std::size_t unlisted);
    void clearChanges(std::size_t file);
    // The file's row and its change rows show what the row now says.
    void rowChanged(std::size_t file);

private:
    const Row& rowAt(std::size_t file) const { return m_page.m_rows.at(file); }
    static int childCount(const Row& row);

    ChangesPage& m_page;
};

} // namespace quillet::gui
