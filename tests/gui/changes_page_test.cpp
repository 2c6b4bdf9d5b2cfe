// The "Changes" page: preview, apply of the checked files, what a real run
// changed, undo of the last run. Each window test starts from a window that
// nothing has touched and works it by clicks and key presses; the journal
// lives in a temporary XDG_STATE_HOME.
#include "change_list.h"
#include "core/text_lines.h"
#include "changes_page.h"
#include "diff_view.h"
#include "main_window.h"
#include "run_controller.h"
#include "window_test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTreeView>

#include <algorithm>
#include <memory>

using quillet::gui::ChangesPage;
using quillet::gui::DiffRow;
using quillet::gui::MainWindow;
using quillet::testing::child;
using quillet::testing::readFile;
using quillet::testing::writeFile;

namespace {

class ConfirmingDialogs final : public quillet::gui::UserDialogs {
public:
    quillet::testing::FakeDialogs plain;
    QStringList questions;
    bool answer = true;

    void showError(QWidget* parent, const QString& text) override { plain.showError(parent, text); }
    void showInformation(QWidget* parent, const QString& text) override { plain.showInformation(parent, text); }
    QString askText(QWidget*, const QString&, const QString&, const QString& initial) override { return initial; }
    QString askOpenFileName(QWidget*, const QString&) override { return {}; }
    bool askConfirmation(QWidget*, const QString& text) override {
        questions << text;
        return answer;
    }
};

} // namespace

class ChangesPageTest : public QObject {
    Q_OBJECT

private:
    ConfirmingDialogs m_dialogs;
    quillet::testing::FakeBackend m_backend;
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QTemporaryDir> m_state;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;

    QString path(const char* name) const { return m_dir->filePath(QLatin1String(name)); }

    void freshWindowIn(const QString& directory) {
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_window->setCurrentDirectory(directory);
    }

    void clickPage(const QString& caption) {
        QTabBar* tabs = child<QTabWidget>(m_window.get(), "PC")->tabBar();
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->tabText(i) == caption)
                QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(i).center());
        }
    }

    void typeInto(const char* memo, const QString& text) {
        QTest::mouseClick(child<QPlainTextEdit>(m_window.get(), memo)->viewport(), Qt::LeftButton);
        QTest::keyClicks(QApplication::focusWidget(), text);
    }

    // The Text page filled in: Replace Text (the default) of `pattern`.
    void replace(const QString& pattern, const QString& newText) {
        clickPage(QStringLiteral("Text"));
        typeInto("SearchPattern_Memo", pattern);
        typeInto("NewText_Memo", newText);
    }

    void clickAndWaitForPage(const char* button) {
        auto* page = m_window->findChild<ChangesPage*>();
        QSignalSpy ended(page, &ChangesPage::actionEnded);
        QTest::mouseClick(child<QPushButton>(m_window.get(), button), Qt::LeftButton);
        QVERIFY2(ended.count() > 0 || ended.wait(10000), button);
    }

    QTreeView* list() const { return child<QTreeView>(m_window.get(), "Changes_List"); }
    QModelIndex fileIndex(int row, int column = 0) const { return list()->model()->index(row, column); }
    QString cell(int row, int column) const { return fileIndex(row, column).data().toString(); }
    Qt::CheckState tickOf(const QModelIndex& index) const {
        return static_cast<Qt::CheckState>(index.data(Qt::CheckStateRole).toInt());
    }

    // "name matches [note]" per row, names without their directory.
    QStringList rows() const {
        QStringList shown;
        for (int i = 0; i < list()->model()->rowCount(); ++i) {
            QStringList row{QFileInfo(cell(i, 0)).fileName()};
            if (!cell(i, 1).isEmpty())
                row << cell(i, 1);
            if (!cell(i, 2).isEmpty())
                row << QStringLiteral("[") + cell(i, 2) + QLatin1Char(']');
            shown << row.join(QLatin1Char(' '));
        }
        return shown;
    }

    // The changes a file's row opened into, "[x] LINE: OLD -> NEW".
    QStringList changesOf(int row) const {
        QStringList shown;
        const QModelIndex file = fileIndex(row);
        for (int i = 0; i < list()->model()->rowCount(file); ++i) {
            const QModelIndex change = list()->model()->index(i, 0, file);
            shown << (tickOf(change) == Qt::Checked ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) +
                         change.data().toString();
        }
        return shown;
    }

    void clickRow(int row) {
        const QRect rect = list()->visualRect(fileIndex(row));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
    }

    // From a fresh window: foo replaced by bar, previewed, and the first
    // file's changes opened with the Right key.
    void previewFooToBarAndOpenTheFirstFile() {
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        clickRow(0);
        QTest::keyClick(list(), Qt::Key_Right);
    }

    // A click on the tick box of the row of `index`, where the view draws it.
    void clickBox(const QModelIndex& index) {
        QStyleOptionViewItem option;
        option.initFrom(list());
        option.rect = list()->visualRect(index);
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect box = list()->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list());
        QVERIFY(!box.isEmpty());
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, box.center());
    }

    // Each place of `needle` in `text`, numbered as the engine numbers it.
    static std::vector<quillet::engine::MatchLocation> literalMatches(std::string_view text, std::string_view needle) {
        std::vector<quillet::engine::MatchLocation> matches;
        quillet::core::LineCounter lines(text);
        for (std::size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) {
            quillet::engine::MatchLocation match;
            match.Start = at;
            match.End = at + needle.size();
            match.FirstLine = lines.seek(at);
            match.LastLine = match.FirstLine + std::count(needle.begin(), needle.end(), '\n');
            matches.push_back(match);
        }
        return matches;
    }

    // Rows as "LINE:TEXT" with each mark in [], "--" for a gap.
    static QStringList shownRows(const std::vector<quillet::gui::MatchRow>& rows) {
        QStringList shown;
        for (const quillet::gui::MatchRow& row : rows) {
            if (row.Line == 0) {
                shown << QStringLiteral("--");
                continue;
            }
            std::string text = row.Text;
            for (auto mark = row.Marks.rbegin(); mark != row.Marks.rend(); ++mark) {
                text.insert(mark->second, "]");
                text.insert(mark->first, "[");
            }
            shown << QString::number(row.Line) + QLatin1Char(':') + QString::fromStdString(text);
        }
        return shown;
    }

private slots:
    void initTestCase() {
        QApplication::setStyle(QStringLiteral("Fusion"));
        m_config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
        quillet::gui::setUserDialogs(&m_dialogs);
        quillet::gui::setLauncherBackend(&m_backend);
    }

    void cleanupTestCase() {
        quillet::gui::setUserDialogs(nullptr);
        quillet::gui::setLauncherBackend(nullptr);
    }

    void init() {
        m_dialogs.plain = {};
        m_dialogs.questions.clear();
        m_dialogs.answer = true;
        m_backend.urls.clear();
        // Each test starts with an empty journal.
        m_state = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_state->filePath(QStringLiteral("state"))));
        m_dir = std::make_unique<QTemporaryDir>();
        writeFile(path("a.htm"), "one foo\ntwo\nfoo three foo\n");
        writeFile(path("b.htm"), "foo\n");
        writeFile(path("c.htm"), "nothing here\n");
    }

    void cleanup() { m_window.reset(); }

    void countChangedPlaces_data() {
        QTest::addColumn<QByteArray>("diff");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("runs of removed and added lines")
            << QByteArray("--- a/f\n+++ b/f\n@@ -1,5 +1,4 @@\n-a\n+b\n c\n-d\n e\n+f\n") << qint64(3);
        QTest::newRow("headings are no change") << QByteArray("--- a/f\n+++ b/f\n") << qint64(0);
        QTest::newRow("a run across hunks is two")
            << QByteArray("--- a/f\n+++ b/f\n@@ -1 +1 @@\n-a\n@@ -9 +9 @@\n+b\n") << qint64(2);
    }

    void countChangedPlaces() {
        QFETCH(QByteArray, diff);
        QFETCH(qint64, expected);
        QCOMPARE(quillet::gui::countChangedPlaces(diff.toStdString()), expected);
    }

    // The hash that tells Apply a file is still as previewed is XXH64: the
    // published test vectors of the algorithm.
    void textHashIsXxh64_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<quint64>("hash");
        QTest::newRow("empty") << QByteArray() << quint64(0xEF46DB3751D8E999ULL);
        QTest::newRow("a") << QByteArray("a") << quint64(0xD24EC4F1A98C6E5BULL);
        QTest::newRow("abc") << QByteArray("abc") << quint64(0x44BC2CF5AD770999ULL);
        QTest::newRow("lanes and tails") << QByteArray("Nobody inspects the spammish repetition")
                                         << quint64(0xFBCEA83C8A378BF1ULL);
    }

    void textHashIsXxh64() {
        QFETCH(QByteArray, text);
        QFETCH(quint64, hash);
        QCOMPARE(quint64(quillet::engine::detail::xxh64(std::string_view(text.constData(), size_t(text.size())), 0)),
                 hash);
    }

    // Every byte counts, in every part of the hash (lanes and tails): a text
    // one byte or one length apart from another hashes apart.
    void textHashReadsEveryByte() {
        for (std::size_t size = 0; size <= 80; ++size) {
            std::string text(size, 'x');
            for (std::size_t i = 0; i < size; ++i)
                text[i] = static_cast<char>('a' + i % 26);
            const std::uint64_t hash = quillet::engine::HashText(text);
            QCOMPARE(quillet::engine::HashText(std::string(text)), hash);
            QVERIFY2(quillet::engine::HashText(text + '\0') != hash, qPrintable(QString::number(size)));
            for (std::size_t i = 0; i < size; ++i) {
                std::string changed = text;
                changed[i] = static_cast<char>(changed[i] ^ 0x20);
                QVERIFY2(quillet::engine::HashText(changed) != hash,
                         qPrintable(QStringLiteral("%1 at %2").arg(size).arg(i)));
            }
        }
    }

    void parseUnifiedDiff_data() {
        QTest::addColumn<QByteArray>("diff");
        QTest::addColumn<QStringList>("expected"); // "kind old new text"
        QTest::newRow("numbers follow the heading")
            << QByteArray("--- a/f\n+++ b/f\n@@ -10,3 +10,3 @@\n x\n-y\n+z\n w\n")
            << QStringList{"H 0 0 @@ -10,3 +10,3 @@", "C 10 10 x", "R 11 0 y", "A 0 11 z", "C 12 12 w"};
        QTest::newRow("two hunks") << QByteArray("--- a/f\n+++ b/f\n@@ -1 +1 @@\n-a\n+b\n@@ -9,0 +10,2 @@\n+c\n+d\n")
                                   << QStringList{"H 0 0 @@ -1 +1 @@",      "R 1 0 a",  "A 0 1 b",
                                                  "H 0 0 @@ -9,0 +10,2 @@", "A 0 10 c", "A 0 11 d"};
        QTest::newRow("no newline at end")
            << QByteArray("--- a/f\n+++ b/f\n@@ -1 +1 @@\n-a\n\\ No newline at end of file\n+b\n")
            << QStringList{"H 0 0 @@ -1 +1 @@", "R 1 0 a", "N 0 0 \\ No newline at end of file", "A 0 1 b"};
        QTest::newRow("binary") << QByteArray("Binary files a/f and b/f differ\n")
                                << QStringList{"N 0 0 Binary files a/f and b/f differ"};
        QTest::newRow("empty context line") << QByteArray("@@ -1,2 +1,2 @@\n\n-x\n+y\n")
                                            << QStringList{"H 0 0 @@ -1,2 +1,2 @@", "C 1 1 ", "R 2 0 x", "A 0 2 y"};
    }

    void parseUnifiedDiff() {
        QFETCH(QByteArray, diff);
        QFETCH(QStringList, expected);
        QStringList rows;
        for (const DiffRow& row : quillet::gui::parseUnifiedDiff(diff.toStdString())) {
            const char kind = "HCRAN"[static_cast<int>(row.RowKind)];
            rows
                << QStringLiteral("%1 %2 %3 %4").arg(QLatin1Char(kind)).arg(row.OldLine).arg(row.NewLine).arg(row.Text);
        }
        QCOMPARE(rows, expected);
    }

    // A preview over many files keeps diffs only within its limits.
    void collectorKeepsDiffsWithinItsLimits_data() {
        QTest::addColumn<int>("maxDiff");
        QTest::addColumn<double>("maxTotalInDiffs"); // the total limit, in diffs of one file
        QTest::addColumn<int>("maxText");
        QTest::addColumn<QString>("expected"); // per file: kept or dropped
        QTest::newRow("room for all") << 1000 << 3.0 << 1000 << "kept kept kept";
        QTest::newRow("one diff too large") << 1 << 3.0 << 1000 << "dropped dropped dropped";
        QTest::newRow("total reached") << 1000 << 1.5 << 1000 << "kept dropped dropped";
        QTest::newRow("text too large to diff") << 1000 << 3.0 << 3 << "dropped dropped dropped";
    }

    void collectorKeepsDiffsWithinItsLimits() {
        QFETCH(int, maxDiff);
        QFETCH(double, maxTotalInDiffs);
        QFETCH(int, maxText);
        QFETCH(QString, expected);
        const double oneDiff =
            static_cast<double>(quillet::gui::fileDiff(path("a.htm").toStdString(), "foo\n", "bar\n").size());
        quillet::gui::ChangeLimits limits;
        limits.MaxDiffBytes = static_cast<std::size_t>(maxDiff);
        limits.MaxTotalBytes = static_cast<std::size_t>(oneDiff * maxTotalInDiffs);
        limits.MaxTextBytes = static_cast<std::size_t>(maxText);
        quillet::gui::ChangeCollector collector(limits);
        for (const char* name : {"a.htm", "b.htm", "c.htm"})
            collector.record(path(name).toStdString(), "foo\n", "bar\n", 1, 0);
        QStringList kept;
        for (const quillet::gui::FileChange& change : collector.take()) {
            QCOMPARE(change.Matches, 1);
            QCOMPARE(change.Diff.empty(), !change.DiffKept);
            kept << (change.DiffKept ? QStringLiteral("kept") : QStringLiteral("dropped"));
        }
        QCOMPARE(kept.join(QLatin1Char(' ')), expected);
    }

    void previewListsFilesWithTheirCountsAndWritesNothing() {
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        QCOMPARE(rows(), (QStringList{"a.htm 3", "b.htm 1"}));
        QCOMPARE(readFile(path("a.htm")), QByteArray("one foo\ntwo\nfoo three foo\n"));
        QCOMPARE(readFile(path("b.htm")), QByteArray("foo\n"));
        QVERIFY(m_dialogs.plain.errors.isEmpty());
    }

    // Whatever the shape of the run, Apply rewrites the previewed files by
    // the paths the preview found them at.
    void previewAndApplyInEachShape_data() {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QStringList>("previewed");
        QTest::newRow("directory") << "directory" << QStringList{"a.htm 3", "b.htm 1"};
        QTest::newRow("sub folders") << "walk" << QStringList{"a.htm 3", "b.htm 1", "d.htm 1"};
        QTest::newRow("path list") << "list" << QStringList{"b.htm 1", "d.htm 1"};
    }

    void previewAndApplyInEachShape() {
        QFETCH(QString, shape);
        QFETCH(QStringList, previewed);
        writeFile(path("sub/d.htm"), "foo\n");
        freshWindowIn(m_dir->path());
        if (shape == QLatin1String("walk")) {
            auto* subFolders = child<QCheckBox>(m_window.get(), "SubFolders_Chk");
            QTest::mouseClick(subFolders, Qt::LeftButton, {}, QPoint(8, subFolders->height() / 2));
        } else if (shape == QLatin1String("list")) {
            auto* fromList = child<QRadioButton>(m_window.get(), "FileListFrom_Rdg_1");
            QTest::mouseClick(fromList, Qt::LeftButton, {}, QPoint(8, fromList->height() / 2));
            typeInto("FileList_Memo", path("b.htm"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTest::keyClicks(QApplication::focusWidget(), path("sub/d.htm"));
        }
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        QStringList shown = rows();
        shown.sort();
        QCOMPARE(shown, previewed);
        QCOMPARE(readFile(path("sub/d.htm")), QByteArray("foo\n"));
        clickAndWaitForPage("Apply_Btn");
        shown = rows();
        shown.sort();
        QCOMPARE(shown, previewed);
        QCOMPARE(readFile(path("b.htm")), QByteArray("bar\n"));
        QCOMPARE(readFile(path("sub/d.htm")),
                 shape == QLatin1String("directory") ? QByteArray("foo\n") : QByteArray("bar\n"));
    }

    void matchRowsShowMatchesInContext_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("needle");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("context shared, then a gap")
            << QByteArray("x1\nfoo\nx3\nx4\nfoo\nx6\nx7\nx8\nx9\nx10\nfoo") << QByteArray("foo")
            << QStringList{"1:x1", "2:[foo]", "3:x3", "4:x4",   "5:[foo]", "6:x6",
                           "7:x7", "--",      "9:x9", "10:x10", "11:[foo]"};
        QTest::newRow("two on a line, one row")
            << QByteArray("a b a\n") << QByteArray("a") << QStringList{"1:[a] b [a]"};
        QTest::newRow("a match over lines marks each") << QByteArray("pre ab\ncd post\nz\n") << QByteArray("ab\ncd")
                                                       << QStringList{"1:pre [ab]", "2:[cd] post", "3:z"};
        QTest::newRow("carriage return stays in the line")
            << QByteArray("foo\r\n") << QByteArray("foo") << QStringList{"1:[foo]\r"};
        const QByteArray longLine = QByteArray(400, 'a') + "foo" + QByteArray(400, 'b');
        QTest::newRow("a long line is cut around its match")
            << longLine << QByteArray("foo")
            << QStringList{QStringLiteral("1:[...]") + QString(100, QLatin1Char('a')) + QStringLiteral("[foo]") +
                           QString(197, QLatin1Char('b')) + QStringLiteral("[...]")};
    }

    void matchRowsShowMatchesInContext() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, needle);
        QFETCH(QStringList, expected);
        const std::string_view view(text.constData(), static_cast<std::size_t>(text.size()));
        const auto matches =
            literalMatches(view, std::string_view(needle.constData(), static_cast<std::size_t>(needle.size())));
        QCOMPARE(shownRows(quillet::gui::matchRows(view, matches, 2)), expected);
    }

    // A change's row: its line, the old and the new text, each cut at a
    // character's start, line ends shown.
    void changeRowsShowEachChangeOnOneLine_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("needle");
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("one per line") << QByteArray("a foo\nfoo b\n") << QByteArray("foo") << QByteArray("bar")
                                      << QStringList{"1: foo > bar", "2: foo > bar"};
        QTest::newRow("over a line end") << QByteArray("x ab\r\ncd y") << QByteArray("ab\r\ncd") << QByteArray("z\n")
                                         << QStringList{"1: ab\u23CEcd > z\u23CE"};
        // Byte 80 falls inside a two-byte character: the cut comes before it.
        const QByteArray wide = "a" + QByteArray("\xC3\xA9").repeated(50);
        QTest::newRow("cut at a character")
            << wide << wide << QByteArray("e") << QStringList{"1: a" + QString(39, QChar(0xE9)) + "[...] > e"};
    }

    void changeRowsShowEachChangeOnOneLine() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, needle);
        QFETCH(QByteArray, replacement);
        QFETCH(QStringList, expected);
        const std::string_view view(text.constData(), static_cast<std::size_t>(text.size()));
        auto matches =
            literalMatches(view, std::string_view(needle.constData(), static_cast<std::size_t>(needle.size())));
        for (quillet::engine::MatchLocation& match : matches)
            match.Replacement = replacement.toStdString();
        QStringList shown;
        for (const quillet::gui::ChangeRow& row : quillet::gui::changeRows(view, matches))
            shown << QStringLiteral("%1: %2 > %3")
                         .arg(row.Line)
                         .arg(QString::fromStdString(row.Old), QString::fromStdString(row.New));
        QCOMPARE(shown, expected);
    }

    // A search over many matches keeps rows of only so many; each file
    // keeps its full count and says when its view is cut.
    void collectorKeepsMatchesWithinItsLimits() {
        quillet::gui::ChangeLimits limits;
        limits.MaxFileMatches = 3;
        limits.MaxTotalMatches = 5;
        quillet::gui::ChangeCollector collector(limits);
        const std::string_view text = "foo\nfoo\nfoo\nfoo\n";
        const std::vector<quillet::engine::MatchLocation> all = literalMatches(text, "foo");
        collector.recordMatches("a", text, all, 4);
        // As a run that lists no more than the collector keeps gives them.
        QCOMPARE(collector.listedMatches(), std::size_t{3});
        collector.recordMatches("b", text, {all.begin(), all.begin() + 3}, 4);
        collector.recordMatches("c", text, all, 4);
        collector.recordMatches("bin", std::string_view("foo\0", 4),
                                literalMatches(std::string_view("foo\0", 4), "foo"), 1);
        QStringList kept;
        for (const quillet::gui::FileChange& change : collector.take()) {
            QVERIFY(change.IsSearch);
            std::int64_t marked = 0;
            for (const quillet::gui::MatchRow& row : change.MatchRows)
                marked += static_cast<std::int64_t>(row.Marks.size());
            kept << QStringLiteral("%1 %2/%3%4%5")
                        .arg(QString::fromStdString(change.Path))
                        .arg(marked)
                        .arg(change.Matches)
                        .arg(change.MatchesCut ? QStringLiteral(" cut") : QString())
                        .arg(change.MatchesBinary ? QStringLiteral(" binary") : QString());
        }
        QCOMPARE(kept, (QStringList{"a 3/4 cut", "b 2/4 cut", "c 0/4 cut", "bin 0/1 binary"}));
    }

    void onlySearchShowsEachFilesMatchesHighlighted() {
        freshWindowIn(m_dir->path());
        clickPage(QStringLiteral("Text"));
        auto* onlySearch = child<QRadioButton>(m_window.get(), "SROperation_Rdg_0");
        QTest::mouseClick(onlySearch, Qt::LeftButton, {}, QPoint(8, onlySearch->height() / 2));
        typeInto("SearchPattern_Memo", QStringLiteral("foo"));
        QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Execute_Btn"), Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        clickPage(QStringLiteral("Changes"));
        QCOMPARE(rows(), (QStringList{"a.htm 3", "b.htm 1"}));
        QCOMPARE(child<QLabel>(m_window.get(), "Changes_Lab")->text(),
                 QStringLiteral("The last search found matches in 2 files."));
        clickRow(0);
        auto* view = child<QPlainTextEdit>(m_window.get(), "Diff_View");
        QCOMPARE(view->toPlainText(), QStringLiteral("1:  one foo\n2-  two\n3:  foo three foo"));
        // Exactly the matched text is marked.
        QString marked;
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
            for (auto part = block.begin(); !part.atEnd(); ++part) {
                if (part.fragment().charFormat().fontWeight() == QFont::Bold)
                    marked += QString::number(block.blockNumber() + 1) + QLatin1Char(':') + part.fragment().text() +
                              QLatin1Char(' ');
            }
        }
        QCOMPARE(marked, QStringLiteral("1:foo 3:foo 3:foo "));
        QCOMPARE(readFile(path("a.htm")), QByteArray("one foo\ntwo\nfoo three foo\n"));
    }

    void selectingAFileShowsItsDiffWithLineNumbers() {
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        clickRow(0);
        const QString shown = child<QPlainTextEdit>(m_window.get(), "Diff_View")->toPlainText();
        QVERIFY2(shown.contains(QStringLiteral("1   - one foo\n  1 + one bar\n2 2   two\n3   - foo three foo\n"
                                               "  3 + bar three bar")),
                 qPrintable(shown));
    }

    // A line of thousands of changes (a minified page): the diff shows a cut
    // of it around its first change (all of it took seconds to lay out),
    // the file opens into its first changes, and Apply makes them all.
    void aLineOfThousandsOfChangesShowsCutAndAppliesWhole() {
        std::string line = "one";
        for (int i = 0; i < 3000; ++i)
            line += " foo";
        writeFile(path("a.htm"), QByteArray::fromStdString(line + "\n"));
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        QCOMPARE(rows(), (QStringList{"a.htm 3000", "b.htm 1"}));
        clickRow(0);
        const QTextDocument* shown = child<QPlainTextEdit>(m_window.get(), "Diff_View")->document();
        for (QTextBlock block = shown->begin(); block.isValid(); block = block.next())
            QVERIFY2(block.text().size() < quillet::gui::kShownDiffLineWidth + 32, qPrintable(block.text().left(80)));
        QVERIFY(shown->toPlainText().contains(QStringLiteral("1   - one foo foo")));
        QVERIFY(shown->toPlainText().contains(QStringLiteral("[...]")));
        QTest::keyClick(list(), Qt::Key_Right);
        const QStringList changes = changesOf(0);
        QCOMPARE(changes.size(), 1001);
        QCOMPARE(changes.back(), QStringLiteral("[ ] 2000 more changes, ticked with the file"));
        clickAndWaitForPage("Apply_Btn");
        QCOMPARE(readFile(path("a.htm")).count("bar"), 3000);
    }

    void uncheckedFileIsLeftAloneAndTheOthersRewritten() {
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        clickRow(1);
        QTest::keyClick(list()->viewport(), Qt::Key_Space);
        QCOMPARE(tickOf(fileIndex(1)), Qt::Unchecked);
        clickAndWaitForPage("Apply_Btn");
        QCOMPARE(readFile(path("a.htm")), QByteArray("one bar\ntwo\nbar three bar\n"));
        QCOMPARE(readFile(path("b.htm")), QByteArray("foo\n"));
        QCOMPARE(rows(), QStringList{"a.htm 3"});
    }

    // A file whose text is no longer the one previewed is not written with
    // changes nobody saw: it is read afresh, marked, and its changes shown
    // unticked; ticking one and applying again makes that one.
    void fileChangedSincePreviewIsShownAgainUnticked_data() {
        QTest::addColumn<QByteArray>("edited"); // b.htm as another program leaves it after the preview
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("changes");  // b.htm's changes, shown again
        QTest::addColumn<QByteArray>("reapplied"); // b.htm once its second change is ticked and applied
        QTest::newRow("more matches now")
            << QByteArray("foo and foo again\n") << "b.htm 2 [changed since the preview: review its changes again]"
            << "1 file changed. 1 file changed since the preview and left as it was: review its changes and Apply "
               "again."
            << QStringList{"[ ] 1: foo \u2192 bar", "[ ] 1: foo \u2192 bar"} << QByteArray("foo and bar again\n");
        QTest::newRow("same count, other text")
            << QByteArray("xx foo\n") << "b.htm 1 [changed since the preview: review its changes again]"
            << "1 file changed. 1 file changed since the preview and left as it was: review its changes and Apply "
               "again."
            << QStringList{"[ ] 1: foo \u2192 bar"} << QByteArray();
        QTest::newRow("no match left") << QByteArray("gone\n")
                                       << "b.htm [changed since the preview: nothing to change now]"
                                       << "1 file changed." << QStringList{} << QByteArray();
    }

    void fileChangedSincePreviewIsShownAgainUnticked() {
        QFETCH(QByteArray, edited);
        QFETCH(QString, row);
        QFETCH(QString, status);
        QFETCH(QStringList, changes);
        QFETCH(QByteArray, reapplied);
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        writeFile(path("b.htm"), edited);
        clickAndWaitForPage("Apply_Btn");
        QCOMPARE(readFile(path("b.htm")), edited);
        QCOMPARE(readFile(path("a.htm")), QByteArray("one bar\ntwo\nbar three bar\n"));
        QCOMPARE(rows(), (QStringList{"a.htm 3", row}));
        QCOMPARE(child<QLabel>(m_window.get(), "Changes_Lab")->text(), status);
        if (changes.isEmpty())
            return;
        QCOMPARE(tickOf(fileIndex(1)), Qt::Unchecked);
        clickRow(1);
        QTest::keyClick(list(), Qt::Key_Right);
        QCOMPARE(changesOf(1), changes);
        if (reapplied.isEmpty())
            return;
        QTest::keyClick(list(), Qt::Key_Down);
        QTest::keyClick(list(), Qt::Key_Down);
        QTest::keyClick(list(), Qt::Key_Space);
        clickAndWaitForPage("Apply_Btn");
        QCOMPARE(readFile(path("b.htm")), reapplied);
    }

    // An opened file edited since the preview: going to one of its changes
    // lists them anew, unticked, under its marked row (the row the keyboard
    // was on goes with the old ones), and Apply leaves the file as edited.
    void openedFileEditedSincePreviewListsItsChangesAnew() {
        previewFooToBarAndOpenTheFirstFile();
        QCOMPARE(changesOf(0).size(), 3);
        writeFile(path("a.htm"), "foo foo\n");
        QTest::keyClick(list(), Qt::Key_Down);
        QCOMPARE(rows(), (QStringList{"a.htm 2 [changed since the preview: review its changes again]", "b.htm 1"}));
        QCOMPARE(changesOf(0), (QStringList{"[ ] 1: foo \u2192 bar", "[ ] 1: foo \u2192 bar"}));
        QCOMPARE(tickOf(fileIndex(0)), Qt::Unchecked);
        clickAndWaitForPage("Apply_Btn");
        QCOMPARE(readFile(path("a.htm")), QByteArray("foo foo\n"));
        QCOMPARE(readFile(path("b.htm")), QByteArray("bar\n"));
    }

    // A clean-up recipe has no matches to choose from: its file is ticked
    // whole, and one edited since the preview is processed afresh, marked.
    void recipeFileChangedSincePreviewIsProcessedAfresh() {
        writeFile(path("s.htm"), "<script>a</script>one\n");
        writeFile(path("t.htm"), "<script>a</script>two\n");
        freshWindowIn(m_dir->path());
        clickPage(QStringLiteral("Text"));
        auto* removeScript = child<QRadioButton>(m_window.get(), "SROperation_Rdg_4");
        QTest::mouseClick(removeScript, Qt::LeftButton, {}, QPoint(8, removeScript->height() / 2));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        QCOMPARE(rows(), (QStringList{"s.htm 1", "t.htm 1"}));
        QVERIFY(!list()->model()->hasChildren(fileIndex(0)));
        writeFile(path("t.htm"), "<script>b</script>three\n");
        clickAndWaitForPage("Apply_Btn");
        QCOMPARE(readFile(path("s.htm")), QByteArray("one\n"));
        QCOMPARE(readFile(path("t.htm")), QByteArray("three\n"));
        QCOMPARE(rows(), (QStringList{"s.htm 1", "t.htm 1 [changed since the preview: processed afresh]"}));
    }

    // From the preview, open a file's changes, untick one by keys: Apply
    // makes exactly the others, as the engine makes that choice itself.
    void untickedChangeIsLeftAndTheOthersMade_data() {
        QTest::addColumn<int>("unticked"); // a.htm's change, from 0
        QTest::addColumn<QByteArray>("applied");
        QTest::newRow("first") << 0 << QByteArray("one foo\ntwo\nbar three bar\n");
        QTest::newRow("middle") << 1 << QByteArray("one bar\ntwo\nfoo three bar\n");
        QTest::newRow("last") << 2 << QByteArray("one bar\ntwo\nbar three foo\n");
    }

    void untickedChangeIsLeftAndTheOthersMade() {
        QFETCH(int, unticked);
        QFETCH(QByteArray, applied);
        const QByteArray before = readFile(path("a.htm"));
        previewFooToBarAndOpenTheFirstFile();
        QCOMPARE(changesOf(0),
                 (QStringList{"[x] 1: foo \u2192 bar", "[x] 3: foo \u2192 bar", "[x] 3: foo \u2192 bar"}));
        for (int i = 0; i <= unticked; ++i)
            QTest::keyClick(list(), Qt::Key_Down);
        QTest::keyClick(list(), Qt::Key_Space);
        QCOMPARE(tickOf(fileIndex(0)), Qt::PartiallyChecked);
        // The diff shows what Apply will make.
        const QString shown = child<QPlainTextEdit>(m_window.get(), "Diff_View")->toPlainText();
        QCOMPARE(shown.count(QStringLiteral("bar")), 2);
        clickAndWaitForPage("Apply_Btn");
        QCOMPARE(readFile(path("a.htm")), applied);
        QCOMPARE(readFile(path("b.htm")), QByteArray("bar\n"));
        QCOMPARE(rows(), (QStringList{"a.htm 2", "b.htm 1"}));
        // The engine, asked for the same choice of the same text.
        const QString copy = m_dir->filePath(QStringLiteral("copy.txt"));
        writeFile(copy, before);
        quillet::engine::FileOperation param;
        param.SearchPattern = "foo";
        param.NewText = "bar";
        param.DryRun = true;
        param.Match.Selection = std::vector<bool>{unticked != 0, unticked != 1, unticked != 2};
        const quillet::engine::PreparedFile engine = quillet::engine::PrepareFile(copy.toStdString(), param);
        QCOMPARE(QByteArray::fromStdString(engine.Result.joined()), applied);
    }

    // A click on a row's tick box ticks as Space does: a change's box makes
    // the file's tick partial, the file's box ticks all its changes again.
    void clickedTickBoxesChooseTheChanges() {
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        clickBox(fileIndex(1));
        QCOMPARE(tickOf(fileIndex(1)), Qt::Unchecked);
        clickRow(0);
        QTest::keyClick(list(), Qt::Key_Right);
        clickBox(list()->model()->index(1, 0, fileIndex(0)));
        QCOMPARE(tickOf(fileIndex(0)), Qt::PartiallyChecked);
        QCOMPARE(changesOf(0),
                 (QStringList{"[x] 1: foo \u2192 bar", "[ ] 3: foo \u2192 bar", "[x] 3: foo \u2192 bar"}));
        clickBox(fileIndex(0));
        QCOMPARE(changesOf(0),
                 (QStringList{"[x] 1: foo \u2192 bar", "[x] 3: foo \u2192 bar", "[x] 3: foo \u2192 bar"}));
        clickBox(list()->model()->index(2, 0, fileIndex(0)));
        clickAndWaitForPage("Apply_Btn");
        QCOMPARE(readFile(path("a.htm")), QByteArray("one bar\ntwo\nbar three foo\n"));
        QCOMPARE(readFile(path("b.htm")), QByteArray("foo\n"));
    }

    // The file's tick and its changes' follow one another.
    void untickingEveryChangeUnticksTheFile() {
        previewFooToBarAndOpenTheFirstFile();
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(list(), Qt::Key_Down);
            QTest::keyClick(list(), Qt::Key_Space);
        }
        QCOMPARE(tickOf(fileIndex(0)), Qt::Unchecked);
        QCOMPARE(child<QPlainTextEdit>(m_window.get(), "Diff_View")->toPlainText(),
                 QStringLiteral("No change of this file is ticked: Apply leaves it as it is."));
        clickRow(0);
        QTest::keyClick(list(), Qt::Key_Space);
        QCOMPARE(changesOf(0),
                 (QStringList{"[x] 1: foo \u2192 bar", "[x] 3: foo \u2192 bar", "[x] 3: foo \u2192 bar"}));
        QTest::keyClick(list(), Qt::Key_Space);
        QCOMPARE(changesOf(0),
                 (QStringList{"[ ] 1: foo \u2192 bar", "[ ] 3: foo \u2192 bar", "[ ] 3: foo \u2192 bar"}));
        clickAndWaitForPage("Apply_Btn");
        QCOMPARE(readFile(path("a.htm")), QByteArray("one foo\ntwo\nfoo three foo\n"));
        QCOMPARE(rows(), (QStringList{"b.htm 1"}));
    }

    // Stop (or Esc) ends a preview of many files after the file in hand: the
    // list keeps what was found, the status says it was stopped, nothing is
    // written, and what was found can be applied.
    void stopEndsAPreviewWithWhatItFound_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Stop") << false;
        QTest::newRow("Esc") << true;
    }

    void stopEndsAPreviewWithWhatItFound() {
        QFETCH(bool, escape);
        // Enough work that the run cannot be over before the click after
        // Preview's lands: each file holds many matches.
        constexpr int kFiles = 2000;
        const QByteArray text = QByteArray("a foo line\n").repeated(2000);
        for (int i = 0; i < kFiles; ++i)
            writeFile(m_dir->filePath(QStringLiteral("many/%1.htm").arg(i)), text);
        freshWindowIn(m_dir->filePath(QStringLiteral("many")));
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        auto* run = m_window->findChild<ChangesPage*>()->findChild<quillet::gui::RunController*>();
        QString progress;
        QMetaObject::Connection once;
        once = connect(run, &quillet::gui::RunController::filesHandled, this, [&] {
            disconnect(once);
            progress = child<QLabel>(m_window.get(), "Changes_Lab")->text();
        });
        QSignalSpy ended(m_window->findChild<ChangesPage*>(), &ChangesPage::actionEnded);
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Preview_Btn"), Qt::LeftButton);
        if (escape)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        else
            QTest::mouseClick(child<QPushButton>(m_window.get(), "StopPreview_Btn"), Qt::LeftButton);
        QVERIFY(ended.wait(20000));
        QVERIFY2(progress.startsWith(QStringLiteral("Previewing: ")) && progress.contains(QStringLiteral(".htm")),
                 qPrintable(progress));
        const QString status = child<QLabel>(m_window.get(), "Changes_Lab")->text();
        const int found = list()->model()->rowCount();
        QVERIFY2(found > 0 && found < kFiles, qPrintable(status));
        QVERIFY2(status.startsWith(QStringLiteral("The preview was stopped after ")) &&
                     status.endsWith(
                         QStringLiteral(": %1 would change so far. Nothing was written.")
                             .arg(found == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(found))),
                 qPrintable(status));
        for (int i = 0; i < kFiles; i += 500)
            QCOMPARE(readFile(m_dir->filePath(QStringLiteral("many/%1.htm").arg(i))), text);
        QVERIFY(child<QPushButton>(m_window.get(), "Apply_Btn")->isEnabled());
        QVERIFY(!child<QPushButton>(m_window.get(), "StopPreview_Btn")->isEnabled());
        clickAndWaitForPage("Apply_Btn");
        QCOMPARE(list()->model()->rowCount(), found);
        QVERIFY(readFile(QFileInfo(cell(0, 0)).absoluteFilePath()).startsWith("a bar line\n"));
    }

    // Preview with Only Search lists the matches as Execute does, and
    // offers nothing to apply.
    void previewOfOnlySearchShowsTheMatches() {
        freshWindowIn(m_dir->path());
        clickPage(QStringLiteral("Text"));
        auto* onlySearch = child<QRadioButton>(m_window.get(), "SROperation_Rdg_0");
        QTest::mouseClick(onlySearch, Qt::LeftButton, {}, QPoint(8, onlySearch->height() / 2));
        typeInto("SearchPattern_Memo", QStringLiteral("foo"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        QCOMPARE(rows(), (QStringList{"a.htm 3", "b.htm 1"}));
        QCOMPARE(child<QLabel>(m_window.get(), "Changes_Lab")->text(), QStringLiteral("Matches in 2 files."));
        QVERIFY(!child<QPushButton>(m_window.get(), "Apply_Btn")->isEnabled());
        clickRow(0);
        QCOMPARE(child<QPlainTextEdit>(m_window.get(), "Diff_View")->toPlainText(),
                 QStringLiteral("1:  one foo\n2-  two\n3:  foo three foo"));
    }

    void realRunIsListedAndUndoRestoresItsFiles() {
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Execute_Btn"), Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        clickPage(QStringLiteral("Changes"));
        QCOMPARE(rows(), (QStringList{"a.htm 3", "b.htm 1"}));
        QCOMPARE(readFile(path("b.htm")), QByteArray("bar\n"));

        writeFile(path("b.htm"), "edited since\n");
        // The undo goes on its own thread: until it has ended, nothing else
        // may start on these files.
        auto* page = m_window->findChild<ChangesPage*>();
        QSignalSpy undone(page, &ChangesPage::actionEnded);
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Undo_Btn"), Qt::LeftButton);
        for (const char* button : {"Undo_Btn", "Preview_Btn", "Execute_Btn"})
            QVERIFY2(!child<QPushButton>(m_window.get(), button)->isEnabled(), button);
        QVERIFY(undone.count() > 0 || undone.wait(10000));
        for (const char* button : {"Undo_Btn", "Preview_Btn", "Execute_Btn"})
            QVERIFY2(child<QPushButton>(m_window.get(), button)->isEnabled(), button);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(m_dialogs.questions.size(), 1);
        QCOMPARE(readFile(path("a.htm")), QByteArray("one foo\ntwo\nfoo three foo\n"));
        QCOMPARE(readFile(path("b.htm")), QByteArray("edited since\n"));
        // Each file once: the journal's link to the old file is not taken for
        // another program's write (which would journal the file twice).
        QVERIFY2(m_dialogs.questions.front().contains(QLatin1String("2 files")),
                 qPrintable(m_dialogs.questions.front()));
        QCOMPARE(rows(), (QStringList{"b.htm [left alone: it changed since the run]", "a.htm [restored]"}));
    }

    // The journal is made on the run's thread: one that is not the user's
    // own ends the run before its first file, with the reason in the box.
    void runWithAJournalNotTheUsersOwnStopsBeforeAnyFile_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Execute") << QStringLiteral("Execute_Btn");
        QTest::newRow("Apply") << QStringLiteral("Apply_Btn");
    }
    void runWithAJournalNotTheUsersOwnStopsBeforeAnyFile() {
        QFETCH(QString, how);
        const QString quillet = m_state->filePath(QStringLiteral("state/quillet"));
        QVERIFY(QDir().mkpath(quillet + QStringLiteral("/runs")));
        QVERIFY(QFile::setPermissions(quillet, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                   QFile::ReadOther | QFile::ExeOther));
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        if (how == QLatin1String("Execute_Btn")) {
            QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
            QTest::mouseClick(child<QPushButton>(m_window.get(), "Execute_Btn"), Qt::LeftButton);
            QVERIFY(ended.wait(10000));
        } else {
            clickPage(QStringLiteral("Changes"));
            clickAndWaitForPage("Preview_Btn");
            clickAndWaitForPage("Apply_Btn");
        }
        QCOMPARE(m_dialogs.plain.errors.size(), 1);
        QVERIFY2(m_dialogs.plain.errors.front().contains(QStringLiteral("The run journal \"%1\" is not safe to use: "
                                                                        "others have access to it (mode 0705")
                                                             .arg(quillet)),
                 qPrintable(m_dialogs.plain.errors.front()));
        QCOMPARE(readFile(path("a.htm")), QByteArray("one foo\ntwo\nfoo three foo\n"));
        QCOMPARE(readFile(path("b.htm")), QByteArray("foo\n"));
    }

    void undoDeclinedTouchesNothing() {
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Execute_Btn"), Qt::LeftButton);
        QVERIFY(ended.wait(10000));
        clickPage(QStringLiteral("Changes"));
        m_dialogs.answer = false;
        QTest::mouseClick(child<QPushButton>(m_window.get(), "Undo_Btn"), Qt::LeftButton);
        // The journal is read off the window's thread: the click returns
        // before the question, with the page waiting.
        QCOMPARE(m_dialogs.questions.size(), 0);
        QVERIFY(!child<QPushButton>(m_window.get(), "Undo_Btn")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.questions.size(), 1, 10000);
        QTRY_VERIFY(child<QPushButton>(m_window.get(), "Undo_Btn")->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(readFile(path("a.htm")), QByteArray("one bar\ntwo\nbar three bar\n"));
    }

    // Tab walks the page's own controls between the tabs and Execute; Apply
    // is passed over until there is a preview to apply.
    void tabWalksThePage() {
        freshWindowIn(m_dir->path());
        clickPage(QStringLiteral("Changes"));
        QStringList visited;
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            while (focused && focused->objectName().isEmpty())
                focused = focused->parentWidget();
            visited << (qobject_cast<QTabBar*>(QApplication::focusWidget()) ? QStringLiteral("tabs")
                                                                            : focused->objectName());
        }
        QCOMPARE(visited, (QStringList{"tabs", "Preview_Btn", "KeepBackups_Chk", "Undo_Btn", "Changes_List",
                                       "Diff_View", "Execute_Btn", "tabs"}));
    }

    // By a right-click on the second file, or from the keyboard (the Menu
    // key, Shift+F10) with the second file current.
    void contextMenuActsOnItsRow_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("opened"); // the URL handed to the desktop, "" for none
        QTest::addColumn<QString>("copied"); // the clipboard's text after
        QTest::addColumn<int>("key");        // 0: the mouse
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Open") << "Open_Change_MI"
                              << "b.htm"
                              << "" << 0 << 0;
        QTest::newRow("Open Containing Folder") << "OpenFolder_Change_MI"
                                                << "."
                                                << "" << 0 << 0;
        QTest::newRow("Copy Path") << "CopyPath_Change_MI"
                                   << ""
                                   << "b.htm" << 0 << 0;
        QTest::newRow("Copy Path, Menu key") << "CopyPath_Change_MI"
                                             << ""
                                             << "b.htm" << int(Qt::Key_Menu) << 0;
        QTest::newRow("Copy Path, Shift+F10") << "CopyPath_Change_MI"
                                              << ""
                                              << "b.htm" << int(Qt::Key_F10) << int(Qt::ShiftModifier);
    }

    void contextMenuActsOnItsRow() {
        QFETCH(QString, action);
        QFETCH(QString, opened);
        QFETCH(QString, copied);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QGuiApplication::clipboard()->clear();
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        // The menu blocks in its own loop: choose from it once it shows.
        QTimer::singleShot(0, this, [action] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu);
            menu->setActiveAction(menu->findChild<QAction*>(action));
            QTest::keyClick(menu, Qt::Key_Return);
        });
        if (key != 0) {
            QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualRect(fileIndex(0)).center());
            QTest::keyClick(list(), Qt::Key_Down);
            QTest::keyClick(list(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        } else {
            const QPoint at = list()->visualRect(fileIndex(1)).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, list()->viewport()->mapToGlobal(at));
            QApplication::sendEvent(list()->viewport(), &event);
        }

        const QDir dir(m_dir->path());
        const QList<QUrl> urls =
            opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl::fromLocalFile(QDir::cleanPath(dir.filePath(opened)))};
        QCOMPARE(m_backend.urls, urls);
        QCOMPARE(QGuiApplication::clipboard()->text(), copied.isEmpty() ? QString() : dir.filePath(copied));
    }

    void aFileOpensByDoubleClickOrReturn_data() {
        QTest::addColumn<bool>("keys");
        QTest::newRow("double-click") << false;
        QTest::newRow("Return") << true;
    }

    void aFileOpensByDoubleClickOrReturn() {
        QFETCH(bool, keys);
        freshWindowIn(m_dir->path());
        replace(QStringLiteral("foo"), QStringLiteral("bar"));
        clickPage(QStringLiteral("Changes"));
        clickAndWaitForPage("Preview_Btn");
        const QRect rect = list()->visualRect(fileIndex(0));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(m_backend.urls, QList<QUrl>());
        if (keys)
            QTest::keyClick(list(), Qt::Key_Return);
        else // a user's double-click: a click that the second press makes double
            QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
        QVERIFY2(m_dialogs.plain.errors.isEmpty(), qPrintable(m_dialogs.plain.errors.join(QLatin1Char('\n'))));
        QCOMPARE(m_backend.urls, QList<QUrl>{QUrl::fromLocalFile(path("a.htm"))});
    }
};

QTEST_MAIN(ChangesPageTest)
#include "changes_page_test.moc"
