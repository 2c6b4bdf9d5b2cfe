// The window at the scale that QT_SCALE_FACTOR sets for this run (the suite
// is registered at 1, 1.25, 1.5 and 2): every framed list, tree and memo shows
// all four sides of its frame, the window never opens larger than the
// screen's available area (the offscreen screen is 800 x 600), and a larger
// window gives its room to the lists and memos without any control landing
// on another.
#include "main_window.h"
#include "window_test_support.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <cmath>
#include <memory>

using quillet::testing::child;

class HighDpiTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<quillet::gui::MainWindow> m_window;

    void clickPage(int page) {
        QTabBar* tabs = child<QTabWidget>(m_window.get(), "PC")->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(page).center());
    }

    // Whether the band of device pixels around the logical line `edge`
    // (vertical when `vertical`), from `from` to `to` along it, is dark on at
    // least four fifths of its length: a frame line runs there.
    static bool lineAt(const QImage& image, qreal ratio, bool vertical, int edge, int from, int to) {
        const int low = static_cast<int>(std::floor((edge - 2.5) * ratio));
        const int high = static_cast<int>(std::ceil((edge + 1.5) * ratio));
        int dark = 0;
        int total = 0;
        for (int along = static_cast<int>(from * ratio); along < static_cast<int>(to * ratio); ++along) {
            bool found = false;
            for (int across = low; across <= high && !found; ++across) {
                const QPoint at = vertical ? QPoint(across, along) : QPoint(along, across);
                found = image.valid(at) && qGray(image.pixel(at)) < 190;
            }
            dark += found ? 1 : 0;
            ++total;
        }
        return total > 0 && dark * 5 >= total * 4;
    }

    void checkFrame(const char* name) {
        const QWidget* widget = child<QWidget>(m_window.get(), name);
        // The whole form, also the part scrolled out of sight.
        QWidget* form = child<QWidget>(m_window.get(), "Main_Frm");
        const QImage image = form->grab().toImage();
        const qreal ratio = form->devicePixelRatioF();
        const QRect r(widget->mapTo(form, QPoint(0, 0)), widget->size());
        const struct {
            const char* side;
            bool vertical;
            int edge;
        } sides[] = {{"left", true, r.left()},
                     {"right", true, r.right() + 1},
                     {"top", false, r.top()},
                     {"bottom", false, r.bottom() + 1}};
        for (const auto& side : sides) {
            const int from = side.vertical ? r.top() + 4 : r.left() + 4;
            const int to = side.vertical ? r.bottom() - 4 : r.right() - 4;
            QVERIFY2(lineAt(image, ratio, side.vertical, side.edge, from, to),
                     qPrintable(QStringLiteral("%1: no %2 side at scale %3").arg(name, side.side).arg(ratio)));
        }
    }

    // Where the shown controls directly in the named containers leave their
    // container or lie on each other.
    QStringList overlaps() const {
        QStringList found;
        for (const char* name :
             {"Main_Frm", "File_TS", "FileDir_TS", "FileList_TS", "TabSheet4", "Result_TS", "Progress_Pnl"}) {
            const QWidget* container = child<QWidget>(m_window.get(), name);
            QList<const QWidget*> shown;
            for (const QWidget* widget : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (!widget->isWindow() && !widget->isHidden() &&
                    !widget->objectName().startsWith(QLatin1String("qt_")))
                    shown << widget;
            }
            for (qsizetype i = 0; i < shown.size(); ++i) {
                if (!container->rect().contains(shown.at(i)->geometry()))
                    found << shown.at(i)->objectName() + QStringLiteral(" leaves ") + container->objectName();
                for (qsizetype j = i + 1; j < shown.size(); ++j) {
                    if (shown.at(i)->geometry().intersects(shown.at(j)->geometry()))
                        found << shown.at(i)->objectName() + QStringLiteral(" on ") + shown.at(j)->objectName();
                }
            }
        }
        return found;
    }

private slots:
    void initTestCase() { QApplication::setStyle(QStringLiteral("Fusion")); }

    void init() {
        m_window = std::make_unique<quillet::gui::MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup() { m_window.reset(); }

    void framesAreWhole() {
        checkFrame("DirectoryListBox");
        checkFrame("FileListBox");
        auto* list = child<QRadioButton>(m_window.get(), "FileListFrom_Rdg_1");
        QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(8, list->height() / 2));
        checkFrame("FileList_Memo");
        clickPage(1);
        checkFrame("SearchPattern_Memo");
        checkFrame("NewText_Memo");
        clickPage(2);
        checkFrame("ResultFileNames_Memo");
    }

    void windowFitsTheScreen() {
        const QRect available = m_window->screen()->availableGeometry();
        QVERIFY2(m_window->width() <= available.width() && m_window->height() <= available.height(),
                 qPrintable(QStringLiteral("%1x%2 on %3x%4")
                                .arg(m_window->width())
                                .arg(m_window->height())
                                .arg(available.width())
                                .arg(available.height())));
        // Every control can still be reached: the form scrolls.
        QVERIFY(m_window->maximumSize().height() >= 530);
    }

    // Regression: the window could not be resized or maximised, and a
    // 15,000-line result list sat in a box 100 pixels high.
    void largerWindowGivesItsRoomToTheLists() {
        QWidget* form = child<QWidget>(m_window.get(), "Main_Frm");
        const QSize laidOut = form->minimumSize();
        const QSize more(300, 200);
        const struct {
            const char* name;
            int page;
            QSize growth; // at least
        } lists[] = {{"DirectoryListBox", 0, {300, 100}}, {"FileListBox", 0, {300, 100}},
                     {"FileList_Memo", 0, {300, 200}},    {"SearchPattern_Memo", 1, {300, 100}},
                     {"NewText_Memo", 1, {300, 100}},     {"ResultFileNames_Memo", 2, {300, 200}},
                     {"Changes_List", 3, {300, 50}},      {"Diff_View", 3, {300, 50}}};
        const QStringList laidOutOverlaps = overlaps();
        QList<QSize> before;
        for (const auto& list : lists) {
            clickPage(list.page);
            before << child<QWidget>(m_window.get(), list.name)->size();
        }
        m_window->resize(laidOut + more);
        QTRY_COMPARE(form->size(), laidOut + more);
        for (qsizetype i = 0; i < before.size(); ++i) {
            clickPage(lists[i].page);
            const QSize now = child<QWidget>(m_window.get(), lists[i].name)->size();
            const QSize grown = now - before.at(i);
            QVERIFY2(grown.width() >= lists[i].growth.width() && grown.height() >= lists[i].growth.height(),
                     qPrintable(QStringLiteral("%1 grew by %2x%3")
                                    .arg(QLatin1String(lists[i].name))
                                    .arg(grown.width())
                                    .arg(grown.height())));
        }
        // The path list's page takes its size when it is shown.
        clickPage(0);
        auto* pathList = child<QRadioButton>(m_window.get(), "FileListFrom_Rdg_1");
        QTest::mouseClick(pathList, Qt::LeftButton, {}, QPoint(8, pathList->height() / 2));
        // The layout's own touching captions aside, nothing lands on another.
        QCOMPARE(overlaps().join(", "), laidOutOverlaps.join(", "));
        // Never smaller than laid out: a smaller window scrolls.
        m_window->resize(200, 150);
        QTest::qWait(50);
        QVERIFY(form->width() >= laidOut.width() && form->height() >= laidOut.height());
    }
};

QTEST_MAIN(HighDpiTest)
#include "high_dpi_test.moc"
