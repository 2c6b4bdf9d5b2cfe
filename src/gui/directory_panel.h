// The window's three linked directory controls on the File page: the drive
// box, the directory tree and the file list box. Picking a directory in
// either of the first two moves all three; the file list box shows the
// current directory's files under the mask, as a directory run without
// sub-folders would handle them. Kept apart from the window so that the
// window deals with settings and runs, and this class with keeping three
// views of one directory in step while the file system model fills in.
//
// Layer: gui. Depends on the finder (the file list box's listing).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QComboBox;
class QFileSystemModel;
class QListWidget;
class QModelIndex;
class QTreeView;

namespace quillet::gui {

namespace detail {
class BackgroundLister;
}

class DirectoryPanel : public QObject {
    Q_OBJECT

public:
    // The widgets are the window's (not owned); the panel fills the drive
    // box and gives the tree its model. The panel starts with no directory
    // and an empty mask, so the file list box stays empty until both are set.
    DirectoryPanel(QComboBox* driveBox, QTreeView* tree, QListWidget* fileList, QObject* parent = nullptr);
    // Waits for a listing still on its way in the background.
    ~DirectoryPanel() override;

    // The current directory: absolute, no trailing "/" except for the root;
    // empty before the first setDirectory().
    QString directory() const { return m_directory; }
    // Moves all three controls to `directory`. A directory that does not
    // exist raises quillet::Error and changes nothing.
    void setDirectory(const QString& directory);

    QString mask() const { return m_mask; }
    // The file list box lists the names that match `mask` ("*.htm;*.txt").
    // The directory is listed on another thread, so that typing a mask in a
    // folder of 50,000 files never stalls the window; the list box follows
    // when the listing arrives, and a listing overtaken by a newer mask is
    // dropped.
    void setMask(const QString& mask);

    // Lists the current directory again, at once: files may have come or
    // gone.
    void refresh();

    // The names the file list box shows for the current directory and mask,
    // listed at once when the listing for them has not arrived yet: what a
    // directory run without sub-folders handles.
    QStringList fileNames();

private:
    // How the tree brings the current directory into view: centred when
    // the directory came from elsewhere; scrolled as little as possible when
    // the user picked it in the tree by the keyboard; not at all when the
    // pointer picked it: the rows must not move under the pointer between
    // the press and the release of a click, nor between the two clicks of a
    // double-click on a half-visible row.
    enum class TreeScroll { Centre, KeepVisible, Stay };

    void connectControls();
    void fillDriveBox();
    void moveTo(const QString& directory, TreeScroll scroll);
    void pickFromTree(const QModelIndex& index);
    void followDirectoryInDriveBox();
    void showDirectoryInTree();
    void showDirectoryInTreeLater();
    void followWhileLoading(const QModelIndex& parent);
    void showListing(const QStringList& names);

    QComboBox* m_driveBox;
    QTreeView* m_tree;
    QListWidget* m_fileList;
    QFileSystemModel* m_model;

    QString m_directory;
    QString m_mask;
    // Set while the panel itself moves the tree, so that the tree's own
    // signal does not come back as the user's choice.
    bool m_syncingTree = false;
    // One deferred re-show at a time, however many rows arrive at once.
    bool m_followPending = false;
    TreeScroll m_scroll = TreeScroll::Centre;

    // Each change of directory or mask asks for a new listing; the list box
    // shows the listing of m_shownRequest.
    quint64 m_request = 0;
    quint64 m_shownRequest = 0;
    QStringList m_shownNames;
    std::unique_ptr<detail::BackgroundLister> m_lister;
};

} // namespace quillet::gui
