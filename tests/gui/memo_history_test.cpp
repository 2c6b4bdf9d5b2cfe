// The session's earlier patterns and new texts: what is kept, how it reads in
// the menu, and the pattern memo's menu after two runs of a fresh window.
#include "main_window.h"
#include "memo_history.h"
#include "window_test_support.h"

#include <QAction>
#include <QApplication>
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

using quillet::gui::MemoHistory;
using quillet::testing::child;

class MemoHistoryTest : public QObject {
    Q_OBJECT

private slots:
    void captions() {
        const struct {
            QString text;
            QString caption;
        } cases[] = {
            {"href=*.htm", "href=*.htm"},
            {"one\ntwo", QStringLiteral("one\u2026")},
            {QString(61, 'x'), QString(60, 'x') + QChar(0x2026)},
            {QString(60, 'x'), QString(60, 'x')},
            {"A&B", "A&&B"},
            {"\nsecond", QStringLiteral("\u2026")},
        };
        for (const auto& c : cases)
            QVERIFY2(quillet::gui::historyCaption(c.text) == c.caption, qPrintable(c.text));
    }

    void remembering() {
        const struct {
            QStringList remembered;
            QStringList entries;
        } cases[] = {
            {{"a", "b"}, {"b", "a"}},
            {{"a", "b", "a"}, {"a", "b"}},
            {{"a", "", "b"}, {"b", "a"}},
            {{" ", "a"}, {"a", " "}},
        };
        for (const auto& c : cases) {
            QPlainTextEdit memo;
            MemoHistory history(&memo);
            for (const QString& text : c.remembered)
                history.remember(text);
            QVERIFY2(history.entries() == c.entries, qPrintable(c.remembered.join('|')));
        }
        QPlainTextEdit memo;
        MemoHistory history(&memo);
        for (int i = 0; i < MemoHistory::kMaxEntries + 5; ++i)
            history.remember(QString::number(i));
        QCOMPARE(history.entries().size(), MemoHistory::kMaxEntries);
        QCOMPARE(history.entries().front(), QString::number(MemoHistory::kMaxEntries + 4));
    }

    // Two runs, then the pattern memo's menu offers both patterns, newest
    // first, and puts the one chosen back.
    void patternMenuAfterTwoRuns() {
        QApplication::setStyle(QStringLiteral("Fusion"));
        quillet::testing::FakeDialogs dialogs;
        quillet::gui::setUserDialogs(&dialogs);
        QTemporaryDir dir;
        quillet::gui::MainWindow window;
        window.show();
        window.setCurrentDirectory(dir.path());
        QTabBar* tabs = child<QTabWidget>(&window, "PC")->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        auto* memo = child<QPlainTextEdit>(&window, "SearchPattern_Memo");
        QSignalSpy ended(&window, &quillet::gui::MainWindow::runEnded);
        for (const QString& pattern : {QStringLiteral("first*"), QStringLiteral("second")}) {
            QTest::mouseClick(memo->viewport(), Qt::LeftButton);
            QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(memo, pattern);
            QTest::mouseClick(child<QPushButton>(&window, "Execute_Btn"), Qt::LeftButton);
            QVERIFY(ended.wait(10000));
        }
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                                memo->viewport()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(memo->viewport(), &event);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QAction* earlier = nullptr;
        for (QAction* action : menu->actions()) {
            if (action->objectName() == QLatin1String("EarlierTexts_MI"))
                earlier = action;
        }
        QVERIFY(earlier);
        QVERIFY(earlier->isEnabled());
        QStringList captions;
        for (QAction* action : earlier->menu()->actions())
            captions << action->text();
        QCOMPARE(captions, (QStringList{"second", "first*"}));
        menu->close();
        earlier->menu()->actions().at(1)->trigger();
        QCOMPARE(memo->toPlainText(), QStringLiteral("first*"));
        quillet::gui::setUserDialogs(nullptr);
    }
};

QTEST_MAIN(MemoHistoryTest)
#include "memo_history_test.moc"
