#include "directory_panel.h"

#include "core/error.h"
#include "finder/dir_listing.h"
#include "user_dialogs.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QListWidget>
#include <QStorageInfo>
#include <QTimer>
#include <QTreeView>

#include <functional>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillet::gui {

// Implementation details only, past this point.
namespace detail {
namespace {

QStringList listMatchingNames(const std::string& directory, const std::string& mask) {
    QStringList names;
    if (directory.empty())
        return names;
    const std::vector<std::string> listed = finder::ListMatchingFiles(directory, mask);
    names.reserve(static_cast<qsizetype>(listed.size()));
    for (const std::string& name : listed)
        names << QFile::decodeName(QByteArray::fromStdString(name));
    return names;
}

} // namespace

// One thread that lists the latest directory and mask asked for; a request
// made while it lists replaces any request still waiting.
class BackgroundLister {
public:
    struct Request {
        std::string Directory;
        std::string Mask;
        quint64 Number = 0;
    };
    using Deliver = std::function<void(QStringList names, quint64 number)>;

    explicit BackgroundLister(Deliver deliver) : m_deliver(std::move(deliver)), m_thread([this] { work(); }) {}

    ~BackgroundLister() {
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    void ask(Request request) {
        {
            const std::lock_guard lock(m_mutex);
            m_waiting = std::move(request);
        }
        m_wake.notify_one();
    }

private:
    void work() {
        for (;;) {
            Request request;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_quit || m_waiting.has_value(); });
                if (m_quit)
                    return;
                request = std::move(*m_waiting);
                m_waiting.reset();
            }
            m_deliver(listMatchingNames(request.Directory, request.Mask), request.Number);
        }
    }

    Deliver m_deliver;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Request> m_waiting; // guarded by m_mutex
    bool m_quit = false;              // guarded by m_mutex
    std::thread m_thread;
};

} // namespace detail

DirectoryPanel::DirectoryPanel(QComboBox* driveBox, QTreeView* tree, QListWidget* fileList, QObject* parent)
    : QObject(parent), m_driveBox(driveBox), m_tree(tree), m_fileList(fileList), m_model(new QFileSystemModel(this)) {
    m_model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    m_model->setRootPath(QStringLiteral("/"));
    m_tree->setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    // Every row has the same height: laying out 50,000 names stays quick.
    m_fileList->setUniformItemSizes(true);
    fillDriveBox();
    connectControls();
    m_lister = std::make_unique<detail::BackgroundLister>([this](QStringList names, quint64 number) {
        QMetaObject::invokeMethod(
            this,
            [this, names = std::move(names), number] {
                if (number == m_request)
                    showListing(names);
            },
            Qt::QueuedConnection);
    });
}

DirectoryPanel::~DirectoryPanel() = default;

void DirectoryPanel::connectControls() {
    // The model fills in the background and sorts its rows later: whenever
    // rows arrive above the current directory, show it again.
    connect(m_model, &QFileSystemModel::rowsInserted, this,
            [this](const QModelIndex& parent) { followWhileLoading(parent); });
    connect(m_model, &QFileSystemModel::layoutChanged, this,
            [this] { followWhileLoading(m_model->index(m_directory).parent()); });

    // The user's choices arrive from Qt's event loop: a failure goes to the
    // error box there, as for every handler of the window.
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (!m_syncingTree && current.isValid())
            pickFromTree(current);
    });
    // The highlight is the run's directory: a selection that strays from it
    // (a release over another row, a pick that failed) is put back.
    connect(m_tree->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_syncingTree)
            return;
        QModelIndexList selected;
        for (const QModelIndex& index : m_tree->selectionModel()->selectedIndexes()) {
            if (index.column() == 0)
                selected << index;
        }
        if (selected.size() != 1 || selected.front() != m_model->index(m_directory))
            showDirectoryInTreeLater();
    });
    connect(m_driveBox, &QComboBox::activated, this,
            [this](int index) { runGuarded([&] { setDirectory(m_driveBox->itemData(index).toString()); }); });
}

void DirectoryPanel::setDirectory(const QString& directory) {
    moveTo(directory, TreeScroll::Centre);
}

void DirectoryPanel::moveTo(const QString& directory, TreeScroll scroll) {
    const QString absolute = QDir::cleanPath(QDir(directory).absolutePath());
    if (!QFileInfo(absolute).isDir())
        throw Error("Directory \"" + QFile::encodeName(absolute).toStdString() + "\" does not exist");
    m_directory = absolute;
    m_scroll = scroll;
    showDirectoryInTree();
    followDirectoryInDriveBox();
    refresh();
}

void DirectoryPanel::pickFromTree(const QModelIndex& index) {
    const QString picked = m_model->filePath(index);
    const bool byPointer = QGuiApplication::mouseButtons() != Qt::NoButton;
    try {
        moveTo(picked, byPointer ? TreeScroll::Stay : TreeScroll::KeepVisible);
    } catch (const std::exception& error) {
        showDirectoryInTreeLater();
        showErrorBox(error);
    }
}

void DirectoryPanel::setMask(const QString& mask) {
    m_mask = mask;
    m_lister->ask({QFile::encodeName(m_directory).toStdString(), m_mask.toLocal8Bit().toStdString(), ++m_request});
}

// The same listing that a directory run without sub-folders handles.
// A directory that cannot be read lists nothing.
void DirectoryPanel::refresh() {
    ++m_request;
    showListing(
        detail::listMatchingNames(QFile::encodeName(m_directory).toStdString(), m_mask.toLocal8Bit().toStdString()));
}

QStringList DirectoryPanel::fileNames() {
    if (m_shownRequest != m_request)
        refresh();
    return m_shownNames;
}

void DirectoryPanel::showListing(const QStringList& names) {
    m_shownRequest = m_request;
    m_shownNames = names;
    m_fileList->clear();
    m_fileList->addItems(names);
}

void DirectoryPanel::followWhileLoading(const QModelIndex& parent) {
    if (!parent.isValid() || m_followPending)
        return;
    const QString path = m_model->filePath(parent);
    const QString prefix = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    if (m_directory != path && !m_directory.startsWith(prefix))
        return;
    showDirectoryInTreeLater();
}

// Deferred, so that a click the tree is handling finishes first.
void DirectoryPanel::showDirectoryInTreeLater() {
    if (m_followPending)
        return;
    m_followPending = true;
    QTimer::singleShot(0, this, [this] {
        m_followPending = false;
        showDirectoryInTree();
    });
}

void DirectoryPanel::showDirectoryInTree() {
    const QModelIndex index = m_model->index(m_directory);
    if (!index.isValid())
        return;
    m_syncingTree = true;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        m_tree->expand(parent);
    m_tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (m_scroll != TreeScroll::Stay)
        m_tree->scrollTo(index, m_scroll == TreeScroll::Centre ? QAbstractItemView::PositionAtCenter
                                                               : QAbstractItemView::EnsureVisible);
    m_syncingTree = false;
}

void DirectoryPanel::fillDriveBox() {
    QStringList roots{QStringLiteral("/")};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady() && QFileInfo(volume.rootPath()).isDir())
            roots << volume.rootPath();
    }
    roots.sort();
    roots.removeDuplicates();
    m_driveBox->clear();
    for (const QString& root : std::as_const(roots))
        m_driveBox->addItem(root, root);
}

// The drive box shows the volume that holds the current directory: the
// mount point that is the longest leading part of it.
void DirectoryPanel::followDirectoryInDriveBox() {
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < m_driveBox->count(); ++i) {
        const QString root = m_driveBox->itemData(i).toString();
        const bool holds =
            root == QLatin1String("/") || m_directory == root || m_directory.startsWith(root + QLatin1Char('/'));
        if (holds && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    m_driveBox->setCurrentIndex(best);
}

} // namespace quillet::gui
