// Reviewing what a run would do or found: the words that changed marked in
// the diff, a double-click on a line opening the file at that line, and the
// Keep Case box. The window tests start from a window nothing has touched and
// work it by clicks and key presses; the launcher's back end records what
// would have been started.
#include "diff_view.h"
#include "main_window.h"
#include "window_test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTreeView>

#include <memory>

using quillet::gui::DiffRow;
using quillet::gui::DiskSide;
using quillet::gui::MainWindow;
using quillet::testing::child;
using quillet::testing::readFile;
using quillet::testing::writeFile;

namespace {

// A row as "KIND text" with each mark in [].
QString markedRow(const DiffRow& row) {
    QString text = row.Text;
    for (auto mark = row.Marks.rbegin(); mark != row.Marks.rend(); ++mark) {
        text.insert(mark->second, QLatin1Char(']'));
        text.insert(mark->first, QLatin1Char('['));
    }
    return QString(QLatin1Char("HCRAN"[static_cast<int>(row.RowKind)])) + QLatin1Char(' ') + text;
}

} // namespace

class ReviewTest : public QObject, private quillet::testing::WindowFixture {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_state;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const char* name) const { return m_dir->filePath(QLatin1String(name)); }

    void freshWindowInTheFolder() {
        freshWindow();
        m_window->setCurrentDirectory(m_dir->path());
    }

    void clickPage(const QString& caption) {
        QTabBar* tabs = child<QTabWidget>(m_window.get(), "PC")->tabBar();
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->tabText(i) == caption)
                QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(i).center());
        }
    }

    // Clicks near the indicator: a wide box's centre may be past its caption.
    void clickBox(const char* name) {
        auto* box = child<QAbstractButton>(m_window.get(), name);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    }

    void typeInto(const char* memo, const QString& text) {
        QTest::mouseClick(child<QPlainTextEdit>(m_window.get(), memo)->viewport(), Qt::LeftButton);
        QTest::keyClicks(QApplication::focusWidget(), text);
    }

    void execute() {
        QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Execute_Btn"), Qt::LeftButton);
        QVERIFY(ended.wait(10000));
    }

    void preview() {
        clickPage(QStringLiteral("Changes"));
        auto* status = child<QLabel>(m_window.get(), "Changes_Lab");
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Preview_Btn"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QLatin1String("Nothing was written")), 10000);
    }

    QTreeView* list() const { return child<QTreeView>(m_window.get(), "Changes_List"); }
    QPlainTextEdit* view() const { return child<QPlainTextEdit>(m_window.get(), "Diff_View"); }

    void clickRow(int row) {
        const QRect rect = list()->visualRect(list()->model()->index(row, 0));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
    }

    // A user's double-click on the view's line `block`: a click that the
    // second press makes double.
    void doubleClickLine(int block) {
        QTextCursor cursor(view()->document()->findBlockByNumber(block));
        cursor.movePosition(QTextCursor::EndOfBlock);
        const QPoint at = view()->cursorRect(cursor).center() - QPoint(4, 0);
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, at);
    }

    // The view's fragments on a background of their own, as "line:text".
    QStringList markedFragments() const {
        QStringList marked;
        for (QTextBlock block = view()->document()->begin(); block.isValid(); block = block.next()) {
            for (auto part = block.begin(); !part.atEnd(); ++part) {
                if (part.fragment().charFormat().background().style() != Qt::NoBrush)
                    marked << QString::number(block.blockNumber()) + QLatin1Char(':') + part.fragment().text();
            }
        }
        return marked;
    }

private slots:
    void initTestCase() { installFakes(); }

    void cleanupTestCase() { removeFakes(); }

    void init() {
        resetFakes();
        for (const char* name : {"VISUAL", "EDITOR", "TERMINAL"})
            qunsetenv(name);
        m_state = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_state->path()));
        m_dir = std::make_unique<QTemporaryDir>();
    }

    void cleanup() { m_window.reset(); }

    void parsedDiffMarksChangedWords_data() {
        QTest::addColumn<QByteArray>("diff");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("one line") << QByteArray("@@ -1 +1 @@\n-x = foo;\n+x = bar;\n")
                                  << QStringList{"H @@ -1 +1 @@", "R x = [foo];", "A x = [bar];"};
        // Marks count characters, not bytes.
        QTest::newRow("accents") << QByteArray("@@ -1 +1 @@\n-d\xc3\xa9j\xc3\xa0 vu\n+d\xc3\xa9j\xc3\xa0 lu\n")
                                 << QStringList{"H @@ -1 +1 @@", QString::fromUtf8("R d\xc3\xa9j\xc3\xa0 [vu]"),
                                                QString::fromUtf8("A d\xc3\xa9j\xc3\xa0 [lu]")};
        QTest::newRow("two changes in a hunk")
            << QByteArray("@@ -1,3 +1,3 @@\n-a b\n+a c\n same\n-d e\n+d f\n")
            << QStringList{"H @@ -1,3 +1,3 @@", "R a [b]", "A a [c]", "C same", "R d [e]", "A d [f]"};
        QTest::newRow("a note inside a change")
            << QByteArray("@@ -1 +1 @@\n-a b\n\\ No newline at end of file\n+a c\n")
            << QStringList{"H @@ -1 +1 @@", "R a [b]", "N \\ No newline at end of file", "A a [c]"};
        QTest::newRow("added lines alone are not marked") << QByteArray("@@ -1,0 +2,2 @@\n+new one\n+new two\n")
                                                          << QStringList{"H @@ -1,0 +2,2 @@", "A new one", "A new two"};
        QTest::newRow("one line became two")
            << QByteArray("@@ -1 +1,2 @@\n-int count = 0;\n+// the count\n+long count = 0;\n")
            << QStringList{"H @@ -1 +1,2 @@", "R [int] count = 0;", "A // the count", "A [long] count = 0;"};
    }

    void parsedDiffMarksChangedWords() {
        QFETCH(QByteArray, diff);
        QFETCH(QStringList, rows);
        QStringList shown;
        for (const DiffRow& row : quillet::gui::parseUnifiedDiff(diff.toStdString()))
            shown << markedRow(row);
        QCOMPARE(shown, rows);
    }

    // The line of the file each row stands for, on the side the disk holds.
    void diskLinesPointIntoTheFile_data() {
        QTest::addColumn<QByteArray>("diff");
        QTest::addColumn<int>("side");
        QTest::addColumn<QList<qint64>>("lines");
        const QByteArray change("@@ -2,3 +2,3 @@\n two\n-foo\n+bar\n four\n");
        QTest::newRow("old side") << change << 0 << QList<qint64>{2, 2, 3, 4, 4};
        QTest::newRow("new side") << change << 1 << QList<qint64>{2, 2, 3, 3, 4};
        const QByteArray removedAtEnd("@@ -1,2 +1 @@\n one\n-two\n\\ No newline at end of file\n");
        QTest::newRow("removed last line, new side") << removedAtEnd << 1 << QList<qint64>{1, 1, 2, 0};
        const QByteArray addedAtStart("@@ -0,0 +1 @@\n+new\n@@ -5 +6 @@\n-x\n+y\n");
        QTest::newRow("added to an empty file, old side") << addedAtStart << 0 << QList<qint64>{1, 1, 5, 5, 6};
    }

    void diskLinesPointIntoTheFile() {
        QFETCH(QByteArray, diff);
        QFETCH(int, side);
        QFETCH(QList<qint64>, lines);
        const std::vector<std::int64_t> got = quillet::gui::diskLines(
            quillet::gui::parseUnifiedDiff(diff.toStdString()), side == 0 ? DiskSide::Old : DiskSide::New);
        QCOMPARE(QList<qint64>(got.begin(), got.end()), lines);
    }

    void keepCaseFollowsTheMatchedText_data() {
        QTest::addColumn<bool>("tick");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("ticked") << true << QByteArray("Bar BAR bar\n");
        QTest::newRow("not ticked") << false << QByteArray("bar bar bar\n");
    }

    void keepCaseFollowsTheMatchedText() {
        QFETCH(bool, tick);
        QFETCH(QByteArray, written);
        writeFile(path("k.htm"), "Foo FOO foo\n");
        freshWindowInTheFolder();
        clickPage(QStringLiteral("Text"));
        typeInto("SearchPattern_Memo", QStringLiteral("foo"));
        typeInto("NewText_Memo", QStringLiteral("bar"));
        if (tick)
            clickBox("KeepCase_Chk");
        QCOMPARE(child<QCheckBox>(m_window.get(), "KeepCase_Chk")->isChecked(), tick);
        execute();
        QVERIFY2(m_dialogs.errors.isEmpty(), qPrintable(m_dialogs.errors.join(QLatin1Char('\n'))));
        QCOMPARE(readFile(path("k.htm")), written);
    }

    // Only Replace Text writes a new text in place of the match; the box
    // keeps its tick for when it is back.
    void keepCaseIsForReplaceTextOnly() {
        freshWindowInTheFolder();
        clickPage(QStringLiteral("Text"));
        auto* box = child<QCheckBox>(m_window.get(), "KeepCase_Chk");
        QVERIFY(box->isEnabled());
        clickBox("KeepCase_Chk");
        const char* operations[] = {"SROperation_Rdg_0", "SROperation_Rdg_2", "SROperation_Rdg_3", "SROperation_Rdg_4",
                                    "SROperation_Rdg_5"};
        for (const char* operation : operations) {
            clickBox(operation);
            QVERIFY2(!box->isEnabled(), operation);
        }
        clickBox("SROperation_Rdg_1");
        QVERIFY(box->isEnabled());
        QVERIFY(box->isChecked());
    }

    void previewMarksTheChangedWords() {
        writeFile(path("a.htm"), "x = foo;\nkeep\n");
        freshWindowInTheFolder();
        clickPage(QStringLiteral("Text"));
        typeInto("SearchPattern_Memo", QStringLiteral("foo"));
        typeInto("NewText_Memo", QStringLiteral("bar"));
        preview();
        clickRow(0);
        QVERIFY2(view()->toPlainText().startsWith(QLatin1String("@@ -1,2 +1,2 @@\n1   - x = foo;\n  1 + x = bar;")),
                 qPrintable(view()->toPlainText()));
        QCOMPARE(markedFragments(), (QStringList{"1:foo", "2:bar"}));
        // The two marks are stronger than their lines' own colours.
        QTextBlock removed = view()->document()->findBlockByNumber(1);
        QTextBlock added = view()->document()->findBlockByNumber(2);
        QVERIFY(removed.blockFormat().background().color() != added.blockFormat().background().color());
        for (const QTextBlock& block : {removed, added}) {
            for (auto part = block.begin(); !part.atEnd(); ++part) {
                const QBrush mark = part.fragment().charFormat().background();
                if (mark.style() != Qt::NoBrush)
                    QVERIFY(mark.color().lightness() < block.blockFormat().background().color().lightness());
            }
        }
    }

    void doubleClickOnAMatchOpensTheFileAtItsLine_data() {
        QTest::addColumn<QByteArray>("visual");
        QTest::addColumn<QByteArray>("terminal");
        QTest::addColumn<QString>("program"); // "@" for the file's path; empty: the desktop opens it
        QTest::newRow("vim in a terminal") << QByteArray("vim") << QByteArray("xterm") << "xterm -e vim +3 @";
        QTest::newRow("code") << QByteArray("code") << QByteArray() << "code --goto @:3";
        QTest::newRow("no terminal for nano") << QByteArray("nano") << QByteArray() << "";
        QTest::newRow("no editor") << QByteArray() << QByteArray("xterm") << "";
    }

    void doubleClickOnAMatchOpensTheFileAtItsLine() {
        QFETCH(QByteArray, visual);
        QFETCH(QByteArray, terminal);
        QFETCH(QString, program);
        if (!visual.isEmpty())
            qputenv("VISUAL", visual);
        if (!terminal.isEmpty())
            qputenv("TERMINAL", terminal);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent"); // no system terminal either
        writeFile(this->path("my file.htm"), "one\ntwo\nthe foo\nfour\n");
        freshWindowInTheFolder();
        clickPage(QStringLiteral("Text"));
        clickBox("SROperation_Rdg_0");
        typeInto("SearchPattern_Memo", QStringLiteral("foo"));
        execute();
        clickPage(QStringLiteral("Changes"));
        clickRow(0);
        QCOMPARE(view()->document()->findBlockByNumber(2).text(), QStringLiteral("3:  the foo"));
        doubleClickLine(2);
        qputenv("PATH", path);
        QVERIFY2(m_dialogs.errors.isEmpty(), qPrintable(m_dialogs.errors.join(QLatin1Char('\n'))));
        const QString file = this->path("my file.htm");
        if (program.isEmpty()) {
            QCOMPARE(m_backend.programs, QStringList());
            QCOMPARE(m_backend.urls, QList<QUrl>{QUrl::fromLocalFile(file)});
        } else {
            QCOMPARE(m_backend.programs, QStringList{QString(program).replace(QLatin1Char('@'), file)});
            QCOMPARE(m_backend.urls, QList<QUrl>());
        }
    }

    // After a preview the file still holds the old lines; after a run, the
    // new ones: each row opens the line it stands for in the file as it is.
    // By a double-click, or from the keyboard: Tab from the list into the
    // view, down to the line, Return.
    void aDiffLineOpensTheFileAtThatLine_data() {
        QTest::addColumn<bool>("run");
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("line");
        QTest::addColumn<bool>("keys");
        // Rows: hunk, "1 1 one", "2 - foo", "2 + bar", "3 3 three".
        QTest::newRow("preview, removed line") << false << 2 << 2 << false;
        QTest::newRow("preview, added line") << false << 3 << 3 << false;
        QTest::newRow("preview, context") << false << 4 << 3 << false;
        QTest::newRow("run, removed line") << true << 2 << 2 << false;
        QTest::newRow("run, added line") << true << 3 << 2 << false;
        QTest::newRow("run, hunk heading") << true << 0 << 1 << false;
        QTest::newRow("preview, added line, by keys") << false << 3 << 3 << true;
        QTest::newRow("run, hunk heading, by keys") << true << 0 << 1 << true;
    }

    void aDiffLineOpensTheFileAtThatLine() {
        QFETCH(bool, run);
        QFETCH(int, block);
        QFETCH(int, line);
        QFETCH(bool, keys);
        qputenv("VISUAL", "gvim");
        writeFile(path("a.htm"), "one\nfoo\nthree\n");
        freshWindowInTheFolder();
        clickPage(QStringLiteral("Text"));
        typeInto("SearchPattern_Memo", QStringLiteral("foo"));
        typeInto("NewText_Memo", QStringLiteral("bar"));
        if (run) {
            execute();
            clickPage(QStringLiteral("Changes"));
        } else {
            preview();
        }
        clickRow(0);
        QCOMPARE(view()->document()->blockCount(), 5);
        if (keys) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), view());
            for (int i = 0; i < block; ++i)
                QTest::keyClick(view(), Qt::Key_Down);
            QTest::keyClick(view(), Qt::Key_Return);
        } else {
            doubleClickLine(block);
        }
        QCOMPARE(m_backend.programs, QStringList{QStringLiteral("gvim +%1 %2").arg(line).arg(path("a.htm"))});
    }
};

QTEST_MAIN(ReviewTest)
#include "review_test.moc"
