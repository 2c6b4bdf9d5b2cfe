// The window as a new user meets it: every test starts from a window that
// nothing has touched and works it by clicks and key presses only, reading a
// control's state after the user's action, never before (a read can set up
// what the click alone would not).
#include "help_window.h"
#include "main_window.h"
#include "run_controller.h"
#include "window_test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeView>

#include <memory>

using quillet::gui::HelpWindow;
using quillet::gui::MainWindow;
using quillet::testing::child;

class FirstUseTest : public QObject, private quillet::testing::WindowFixture {
    Q_OBJECT

private:
    // The name of the chain stop that holds the focus ("tabs" for the page
    // tabs): the focused widget or its nearest named ancestor.
    static QString focusName() {
        for (QWidget* widget = QApplication::focusWidget(); widget; widget = widget->parentWidget()) {
            if (qobject_cast<QTabBar*>(widget))
                return QStringLiteral("tabs");
            if (!widget->objectName().isEmpty() && !widget->objectName().startsWith(QLatin1String("qt_")))
                return widget->objectName();
        }
        return QStringLiteral("(none)");
    }

    static QStringList pressAndRecord(Qt::KeyboardModifiers modifiers, int presses) {
        QStringList visited;
        for (int i = 0; i < presses; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
            visited << focusName();
        }
        return visited;
    }

private slots:
    void initTestCase() {
        qunsetenv("BROWSER");
        installFakes();
    }

    void cleanupTestCase() { removeFakes(); }

    void init() { resetFakes(); }

    void cleanup() {
        delete HelpWindow::instance();
        m_window.reset();
    }

    // Regression: the radio groups only listened to their buttons once
    // something had asked for their index, so the first click of a fresh
    // window changed nothing else.
    void radioGroupsWorkOnTheFirstClick_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("expected");
        QTest::newRow("File Full Path List") << 0 << "FileListFrom_Rdg_1"
                                             << "page FileList_TS";
        QTest::newRow("Only Search") << 1 << "SROperation_Rdg_0"
                                     << "pattern rw, new text ro, is pattern off";
        QTest::newRow("Insert Before") << 1 << "SROperation_Rdg_2"
                                       << "pattern rw, new text rw, is pattern on";
        QTest::newRow("Remove Script") << 1 << "SROperation_Rdg_4"
                                       << "pattern ro, new text ro, is pattern on";
        QTest::newRow("Strip Word HTML") << 1 << "SROperation_Rdg_5"
                                         << "pattern ro, new text ro, is pattern on";
    }

    void radioGroupsWorkOnTheFirstClick() {
        QFETCH(int, page);
        QFETCH(QString, button);
        QFETCH(QString, expected);
        freshWindow();
        clickPage(page);
        clickRadio(child<QRadioButton>(m_window.get(), qPrintable(button)));
        QString state;
        if (page == 0) {
            state = QStringLiteral("page ") +
                    child<QTabWidget>(m_window.get(), "FileList_PC")->currentWidget()->objectName();
        } else {
            auto rw = [this](const char* name) {
                return child<QPlainTextEdit>(m_window.get(), name)->isReadOnly() ? QStringLiteral("ro")
                                                                                 : QStringLiteral("rw");
            };
            state =
                QStringLiteral("pattern %1, new text %2, is pattern %3")
                    .arg(rw("SearchPattern_Memo"), rw("NewText_Memo"),
                         child<QCheckBox>(m_window.get(), "ResultIsPattern_Chk")->isEnabled() ? QStringLiteral("on")
                                                                                              : QStringLiteral("off"));
        }
        QCOMPARE(state, expected);
    }

    // Regression: the live focus chain was three separate loops (Execute out
    // of reach, the directory controls cycling among themselves, tab
    // characters typed into the pattern).
    void tabWalksEachPageThenExecuteThenTheTabs() {
        freshWindow();
        QTest::mouseClick(child<QWidget>(m_window.get(), "Mask_Edt"), Qt::LeftButton);
        QCOMPARE(focusName(), QStringLiteral("Mask_Edt"));
        const QStringList filePage{"FileListFrom_Rdg_0", "Execute_Btn",    "tabs",
                                   "DriveComboBox",      "OpenDir_Btn",    "DirectoryListBox",
                                   "FileListBox",        "SubFolders_Chk", "Mask_Edt"};
        QCOMPARE(pressAndRecord(Qt::NoModifier, 9), filePage);
        QStringList backwards{"SubFolders_Chk", "FileListBox", "DirectoryListBox",   "OpenDir_Btn", "DriveComboBox",
                              "tabs",           "Execute_Btn", "FileListFrom_Rdg_0", "Mask_Edt"};
        QCOMPARE(pressAndRecord(Qt::ShiftModifier, 9), backwards);

        // To the Text page from the tabs, by the arrow key.
        QCOMPARE(pressAndRecord(Qt::NoModifier, 3).last(), QStringLiteral("tabs"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        const QStringList textPage{"SearchPattern_Memo", "NewText_Memo",  "SROperation_Rdg_1",   "CaseSensitive_Chk",
                                   "MaxCount_Cbo",       "WholeWord_Chk", "ResultIsPattern_Chk", "KeepCase_Chk",
                                   "Execute_Btn",        "tabs"};
        QCOMPARE(pressAndRecord(Qt::NoModifier, 10), textPage);
        QVERIFY(child<QPlainTextEdit>(m_window.get(), "SearchPattern_Memo")->toPlainText().isEmpty());
        QVERIFY(child<QPlainTextEdit>(m_window.get(), "NewText_Memo")->toPlainText().isEmpty());

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        const QStringList resultPage{"ResultFileNames_Memo", "Stop_Chk", "Execute_Btn", "tabs"};
        QCOMPARE(pressAndRecord(Qt::NoModifier, 4), resultPage);
        const QStringList resultBack{"Execute_Btn", "Stop_Chk", "ResultFileNames_Memo", "tabs"};
        QCOMPARE(pressAndRecord(Qt::ShiftModifier, 4), resultBack);

        // Ctrl+Tab in a memo still changes the page.
        auto* pages = child<QTabWidget>(m_window.get(), "PC");
        clickPage(1);
        QTest::mouseClick(child<QPlainTextEdit>(m_window.get(), "SearchPattern_Memo")->viewport(), Qt::LeftButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(pages->currentIndex(), 2);
    }

    // Regression: a click in the tree re-centred it while the click was
    // still going on, and the highlight landed on another folder than the
    // run's.
    void treeClickHighlightsTheRunsFolder() {
        QTemporaryDir dir;
        for (int i = 0; i < 40; ++i)
            QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("d%1/inner").arg(i, 2, 10, QLatin1Char('0'))));
        freshWindow();
        m_window->setCurrentDirectory(dir.filePath(QStringLiteral("d00")));
        auto* tree = child<QTreeView>(m_window.get(), "DirectoryListBox");
        auto* model = qobject_cast<QFileSystemModel*>(tree->model());
        QTRY_COMPARE(model->rowCount(model->index(dir.path())), 40);
        QTest::qWait(100);

        const int rows[] = {37, 20, 3};
        for (int row : rows) {
            const QString folder = dir.filePath(QStringLiteral("d%1").arg(row, 2, 10, QLatin1Char('0')));
            tree->scrollTo(model->index(folder), QAbstractItemView::PositionAtBottom);
            const QPoint at = tree->visualRect(model->index(folder)).center();
            QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, at);
            QTest::qWait(200); // the folder's contents arrive meanwhile
            QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, at);
            QTest::qWait(200);
            QCOMPARE(m_window->currentDirectory(), folder);
            const QModelIndexList selected = tree->selectionModel()->selectedRows();
            QCOMPARE(selected.size(), 1);
            QCOMPARE(model->filePath(selected.front()), folder);
            QCOMPARE(model->filePath(tree->currentIndex()), folder);
        }
    }

    // Regression: with no browser and no handler the help links did nothing
    // visible.
    void helpShowsTheManualWithoutABrowser_data() {
        QTest::addColumn<QString>("trigger");
        QTest::newRow("F1") << "F1";
        QTest::newRow("home page button") << "HomePage_Btn";
        QTest::newRow("link") << "URL_Lab";
        QTest::newRow("icon") << "Image";
    }

    void helpShowsTheManualWithoutABrowser() {
        QFETCH(QString, trigger);
        m_backend.succeeds = false;
        freshWindow();
        if (trigger == QLatin1String("F1"))
            QTest::keyClick(child<QWidget>(m_window.get(), "Mask_Edt"), Qt::Key_F1);
        else
            QTest::mouseClick(child<QWidget>(m_window.get(), qPrintable(trigger)), Qt::LeftButton);
        HelpWindow* help = HelpWindow::instance();
        QVERIFY(help);
        QVERIFY(help->isVisible());
        QVERIFY2(help->browser()->toPlainText().contains(QLatin1String("user manual")),
                 qPrintable(help->browser()->toPlainText().left(200)));
        QVERIFY(m_dialogs.errors.isEmpty());
    }

    void otherLinksKeepTheLauncherRules() {
        m_backend.succeeds = false;
        freshWindow();
        QTest::mouseClick(child<QToolButton>(m_window.get(), "Email_Btn"), Qt::LeftButton);
        QCOMPARE(m_backend.urls.size(), 1);
        QVERIFY(!HelpWindow::instance());
        // Regression: the envelope then did nothing visible.
        QCOMPARE(
            m_dialogs.errors,
            QStringList{QStringLiteral("No program is set up to open \"%1\"").arg(quillet::gui::supportEmailLink())});
    }

    // Regression: the link showed the file:// path of the clone the program
    // was built in.
    void linkShowsACaptionNotABuildPath() {
        freshWindow();
        const QString caption = child<QLabel>(m_window.get(), "URL_Lab")->text();
        QCOMPARE(caption, quillet::gui::websiteCaption());
        QVERIFY2(!caption.contains(QLatin1String("file:")) && !caption.contains(QDir::separator()),
                 qPrintable(caption));
        // The manual is found from the program's place: here, the test's
        // build directory leads back to the source tree.
        QVERIFY2(QFileInfo(quillet::gui::manualPath()).isFile(), qPrintable(quillet::gui::manualPath()));
    }

    // The file list box lists in the background while the mask is typed; a
    // run started at once still handles what the mask picks.
    void maskTypedJustBeforeExecuteIsUsed() {
        QTemporaryDir dir;
        for (const char* name : {"a.htm", "b.txt", "c.txt"})
            quillet::testing::writeFile(dir.filePath(QLatin1String(name)), "word");
        freshWindow();
        m_window->setCurrentDirectory(dir.path());
        QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
        auto* mask = child<QWidget>(m_window.get(), "Mask_Edt");
        QTest::mouseClick(mask, Qt::LeftButton);
        QTest::keyClick(mask, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(mask, QStringLiteral("*.txt"));
        clickPage(1);
        QTest::mouseClick(child<QPlainTextEdit>(m_window.get(), "SearchPattern_Memo")->viewport(), Qt::LeftButton);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("word"));
        clickRadio(child<QRadioButton>(m_window.get(), "SROperation_Rdg_0"));
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Execute_Btn"), Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        QCOMPARE(m_dialogs.informations, QStringList{QStringLiteral("Finished! Found and Processed 2 files.")});
        QCOMPARE(child<QPlainTextEdit>(m_window.get(), "ResultFileNames_Memo")->toPlainText(),
                 QStringLiteral("b.txt\nc.txt"));
    }

    // One rule for the list and the runs: the file list shows what a run
    // over the folder handles, exclusions included, and a walk under the same
    // mask leaves out the same names and never takes a file of the left-out
    // folder.
    void maskWithExclusionsListsWhatTheRunsHandle() {
        QTemporaryDir dir;
        for (const char* name : {"a.txt", "b.min.txt", "c.htm", "node_modules/d.txt", "sub/e.txt", "sub/f.MIN.txt"})
            quillet::testing::writeFile(dir.filePath(QLatin1String(name)), "word");
        freshWindow();
        m_window->setCurrentDirectory(dir.path());
        QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
        auto* mask = child<QWidget>(m_window.get(), "Mask_Edt");
        QTest::mouseClick(mask, Qt::LeftButton);
        QTest::keyClick(mask, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(mask, QStringLiteral("!*.min.txt;*.txt;!node_modules/"));
        auto* list = child<QListWidget>(m_window.get(), "FileListBox");
        const auto listed = [list] {
            QStringList names;
            for (int i = 0; i < list->count(); ++i)
                names << list->item(i)->text();
            return names.join(QLatin1Char('\n'));
        };
        QTRY_COMPARE(listed(), QStringLiteral("a.txt"));

        clickPage(1);
        QTest::mouseClick(child<QPlainTextEdit>(m_window.get(), "SearchPattern_Memo")->viewport(), Qt::LeftButton);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("word"));
        clickRadio(child<QRadioButton>(m_window.get(), "SROperation_Rdg_0"));
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Execute_Btn"), Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        const auto* results = child<QPlainTextEdit>(m_window.get(), "ResultFileNames_Memo");
        QCOMPARE(results->toPlainText(), listed());

        clickPage(0);
        auto* subFolders = child<QCheckBox>(m_window.get(), "SubFolders_Chk");
        QTest::mouseClick(subFolders, Qt::LeftButton, {}, QPoint(8, subFolders->height() / 2));
        QVERIFY(subFolders->isChecked());
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Execute_Btn"), Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        QCOMPARE(results->toPlainText(),
                 dir.filePath(QStringLiteral("a.txt")) + QLatin1Char('\n') + dir.filePath(QStringLiteral("sub/e.txt")));
        QCOMPARE(m_dialogs.informations, (QStringList{QStringLiteral("Finished! Found and Processed 1 files."),
                                                      QStringLiteral("Finished! Found and Processed 2 files.")}));
    }

    // Whole Word as a user first ticks it: a replace that passes over
    // parts of words, then Only Search with and without it.
    void wholeWordReachesTheRuns() {
        QTemporaryDir dir;
        quillet::testing::writeFile(dir.filePath(QStringLiteral("a.htm")), "cat concat\n");
        quillet::testing::writeFile(dir.filePath(QStringLiteral("b.htm")), "concat\n");
        freshWindow();
        m_window->setCurrentDirectory(dir.path()); // the mask is "*.htm" at first
        QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
        clickPage(1);
        QTest::mouseClick(child<QPlainTextEdit>(m_window.get(), "SearchPattern_Memo")->viewport(), Qt::LeftButton);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("cat"));
        QTest::mouseClick(child<QPlainTextEdit>(m_window.get(), "NewText_Memo")->viewport(), Qt::LeftButton);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("dog"));
        auto* wholeWord = child<QCheckBox>(m_window.get(), "WholeWord_Chk");
        QTest::mouseClick(wholeWord, Qt::LeftButton, {}, QPoint(8, wholeWord->height() / 2));
        auto* execute = child<QPushButton>(m_window.get(), "Execute_Btn");
        QTest::mouseClick(execute, Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        QCOMPARE(quillet::testing::readFile(dir.filePath(QStringLiteral("a.htm"))), QByteArray("dog concat\n"));
        QCOMPARE(quillet::testing::readFile(dir.filePath(QStringLiteral("b.htm"))), QByteArray("concat\n"));

        clickRadio(child<QRadioButton>(m_window.get(), "SROperation_Rdg_0"));
        const auto* results = child<QPlainTextEdit>(m_window.get(), "ResultFileNames_Memo");
        QTest::mouseClick(execute, Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        const QString wholeWordsFound = results->toPlainText();
        clickPage(1);
        QTest::mouseClick(wholeWord, Qt::LeftButton, {}, QPoint(8, wholeWord->height() / 2));
        QTest::mouseClick(execute, Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        QCOMPARE(wholeWordsFound, QString());
        QCOMPARE(results->toPlainText(), QStringLiteral("a.htm\nb.htm"));
    }

    // Regression: only the window's own call cleared the controller's stop
    // flag; any other start after a stop ended after one file.
    void stopRequestDoesNotCarryOverToTheNextRun() {
        QTemporaryDir dir;
        quillet::engine::RunRequest request;
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            quillet::testing::writeFile(dir.filePath(QLatin1String(name)), "x");
            request.Entries.push_back(dir.filePath(QLatin1String(name)).toStdString());
        }
        request.Param.SearchPattern.assign(1, 'x');
        request.Param.Operation = 0;

        quillet::gui::RunController controller;
        QSignalSpy finished(&controller, &quillet::gui::RunController::finished);
        using quillet::gui::StopAtStart;
        const struct {
            bool stopRequestedBefore;
            StopAtStart stop;
            qint64 expected;
        } runs[] = {{false, StopAtStart::Yes, 1},
                    {false, StopAtStart::No, 3},
                    {true, StopAtStart::No, 3},
                    {true, StopAtStart::Yes, 1},
                    {false, StopAtStart::No, 3}};
        for (const auto& run : runs) {
            if (run.stopRequestedBefore)
                controller.setStopRequested(true);
            controller.start(request, run.stop);
            QVERIFY(finished.wait(10000));
            QCOMPARE(finished.takeFirst().at(0).toLongLong(), run.expected);
        }
    }
};

QTEST_MAIN(FirstUseTest)
#include "first_use_test.moc"
