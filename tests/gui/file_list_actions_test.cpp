// The Result page's list as a user acts on it after a run: a double-click
// opens the file under the pointer, the context menu opens it, its folder,
// or copies its path, for the names of a listing, the paths of a walk and
// the lines of a path list.
#include "main_window.h"
#include "window_test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <memory>

using quillet::gui::MainWindow;
using quillet::testing::child;

class FileListActionsTest : public QObject, private quillet::testing::WindowFixture {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    // Searches for "word" in the shape given, by clicks and typing, and
    // leaves the Result page shown.
    void searchFor(const QString& shape) {
        if (shape == QLatin1String("path list")) {
            auto* list = child<QRadioButton>(m_window.get(), "FileListFrom_Rdg_1");
            QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(8, list->height() / 2));
            auto* memo = child<QPlainTextEdit>(m_window.get(), "FileList_Memo");
            QTest::mouseClick(memo->viewport(), Qt::LeftButton);
            // Relative lines are taken from the program's current directory.
            QTest::keyClicks(memo, QDir::current().relativeFilePath(m_dir->filePath(QStringLiteral("sub/b.htm"))));
        } else if (shape == QLatin1String("walk")) {
            auto* sub = child<QCheckBox>(m_window.get(), "SubFolders_Chk");
            QTest::mouseClick(sub, Qt::LeftButton, {}, QPoint(8, sub->height() / 2));
        }
        clickPage(1);
        auto* pattern = child<QPlainTextEdit>(m_window.get(), "SearchPattern_Memo");
        QTest::mouseClick(pattern->viewport(), Qt::LeftButton);
        QTest::keyClicks(pattern, QStringLiteral("word"));
        auto* onlySearch = child<QRadioButton>(m_window.get(), "SROperation_Rdg_0");
        QTest::mouseClick(onlySearch, Qt::LeftButton, {}, QPoint(8, onlySearch->height() / 2));
        QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Execute_Btn"), Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        clickPage(2);
    }

    QPoint lineCentre(int line) const {
        auto* memo = child<QPlainTextEdit>(m_window.get(), "ResultFileNames_Memo");
        QTextCursor cursor(memo->document()->findBlockByNumber(line));
        return memo->cursorRect(cursor).center() + QPoint(10, 0);
    }

    // Right-clicks the line and triggers the named item of the menu shown.
    void menuItem(int line, const char* name) {
        auto* viewport = child<QPlainTextEdit>(m_window.get(), "ResultFileNames_Memo")->viewport();
        const QPoint at = lineCentre(line);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &event);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        auto* action = menu->findChild<QAction*>(QLatin1String(name));
        QVERIFY(action);
        QVERIFY(action->isEnabled());
        menu->close();
        action->trigger();
    }

private slots:
    void initTestCase() { installFakes(); }

    void cleanupTestCase() { removeFakes(); }

    void init() {
        resetFakes();
        m_dir = std::make_unique<QTemporaryDir>();
        quillet::testing::writeFile(m_dir->filePath(QStringLiteral("a.htm")), "a word");
        quillet::testing::writeFile(m_dir->filePath(QStringLiteral("sub/b.htm")), "b word");
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        m_window->setCurrentDirectory(m_dir->path());
    }

    void cleanup() {
        m_window.reset();
        m_dir.reset();
    }

    void actOnEachShape_data() {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QString>("firstFile"); // relative to the temporary directory
        QTest::newRow("listing: bare names") << "listing"
                                             << "a.htm";
        QTest::newRow("walk: full paths") << "walk"
                                          << "a.htm";
        QTest::newRow("path list: lines as written") << "path list"
                                                     << "sub/b.htm";
    }

    void actOnEachShape() {
        QFETCH(QString, shape);
        QFETCH(QString, firstFile);
        searchFor(shape);
        const QString file = m_dir->filePath(firstFile);
        auto* viewport = child<QPlainTextEdit>(m_window.get(), "ResultFileNames_Memo")->viewport();

        QTest::mouseDClick(viewport, Qt::LeftButton, {}, lineCentre(0));
        QCOMPARE(m_backend.urls, QList<QUrl>{QUrl::fromLocalFile(file)});

        menuItem(0, "OpenFolder_File_MI");
        QCOMPARE(m_backend.urls.last(), QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
        menuItem(0, "CopyPath_File_MI");
        QCOMPARE(QGuiApplication::clipboard()->text(), file);
        menuItem(0, "Open_File_MI");
        QCOMPARE(m_backend.urls.last(), QUrl::fromLocalFile(file));
        QCOMPARE(m_backend.urls.size(), 3);
        QVERIFY(m_dialogs.errors.isEmpty());
    }

    void failuresReachTheErrorBox() {
        searchFor(QStringLiteral("listing"));
        auto* viewport = child<QPlainTextEdit>(m_window.get(), "ResultFileNames_Memo")->viewport();
        const QString file = m_dir->filePath(QStringLiteral("a.htm"));

        m_backend.succeeds = false;
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, lineCentre(0));
        QCOMPARE(m_dialogs.errors, QStringList{"No program is set up to open \"" + file + "\""});

        QVERIFY(QFile::remove(file));
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, lineCentre(0));
        QCOMPARE(m_dialogs.errors.last(), "\"" + file + "\" does not exist.");

        // Below the last line there is no file: nothing opens.
        m_dialogs.errors.clear();
        m_backend.urls.clear();
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 5));
        QVERIFY(m_backend.urls.isEmpty());
        QVERIFY(m_dialogs.errors.isEmpty());
    }
};

QTEST_MAIN(FileListActionsTest)
#include "file_list_actions_test.moc"
