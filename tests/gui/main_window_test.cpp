// The window, driven through its controls by their names: defaults and
// captions, size and layout, the consistency handlers, the three shapes of a
// run with their counts, result lists and progress texts, Stop, failing runs,
// closing during a run, and the links. Message boxes and the launcher's back
// end are replaced by recording fakes, so nothing blocks and nothing opens.
#include "core/text_ops.h"
#include "launcher/shell_launcher.h"
#include "main_window.h"
#include "radio_group.h"
#include "run_controller.h"
#include "user_dialogs.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <functional>
#include <fcntl.h>
#include <unistd.h>
#include <memory>

using quillet::gui::MainWindow;
using quillet::gui::RadioGroup;

namespace {

class FakeDialogs final : public quillet::gui::UserDialogs {
public:
    QStringList errors;
    QStringList informations;
    QString textAnswer; // null: the input box is cancelled
    QString fileAnswer;
    QStringList asked; // title | prompt | initial text of each input box
    QString filter;
    std::function<void()> onInformation;

    void showError(QWidget*, const QString& text) override { errors << text; }
    void showInformation(QWidget*, const QString& text) override {
        if (onInformation)
            onInformation();
        informations << text;
    }
    QString askText(QWidget*, const QString& title, const QString& prompt, const QString& initial) override {
        asked << title + QLatin1Char('|') + prompt + QLatin1Char('|') + initial;
        return textAnswer.isNull() ? initial : textAnswer;
    }
    QString askOpenFileName(QWidget*, const QString& fileFilter) override {
        filter = fileFilter;
        return fileAnswer;
    }
};

class FakeBackend final : public quillet::gui::LauncherBackend {
public:
    QList<QUrl> urls;
    QStringList programs;
    bool startSucceeds = true;

    bool startDetached(const QString& program, const QStringList& arguments) override {
        programs << (QStringList{program} + arguments).join(QLatin1Char(' '));
        return startSucceeds;
    }
    bool openUrl(const QUrl& url) override {
        urls << url;
        return true;
    }
};

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

QStringList memoLines(const QPlainTextEdit* memo) {
    const QString text = memo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    FakeDialogs m_dialogs;
    FakeBackend m_backend;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QTemporaryDir> m_dir;
    // What the progress display showed after each handled file, and at the
    // final message: "Progress_Lab|CurFileName_Lab|bar value/bar maximum".
    QStringList m_shown;
    QString m_atFinish;

    template <typename T>
    T* control(const char* name) const {
        T* found = m_window->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }

    QString progressState() const {
        const auto* bar = control<QProgressBar>("ProgressBar");
        return control<QLabel>("Progress_Lab")->text() + QLatin1Char('|') + control<QLabel>("CurFileName_Lab")->text() +
               QLatin1Char('|') + QString::number(bar->value()) + QLatin1Char('/') + QString::number(bar->maximum());
    }

    QString tempPath(const QString& relative) const { return m_dir->filePath(relative); }

    // Presses Execute and waits until the run has ended.
    void execute() {
        QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
        control<QPushButton>("Execute_Btn")->click();
        if (ended.isEmpty())
            QVERIFY(ended.wait(20000));
    }

    void setPattern(const QString& pattern, const QString& newText, int operation) {
        control<QPlainTextEdit>("SearchPattern_Memo")->setPlainText(pattern);
        control<QPlainTextEdit>("NewText_Memo")->setPlainText(newText);
        control<RadioGroup>("SROperation_Rdg")->item(operation)->click();
    }

    // The display showed some of the states a file-by-file display would
    // have, in their order, and always the last one.
    void checkShownInOrder(const QStringList& perFile) {
        QVERIFY(!m_shown.isEmpty());
        qsizetype at = -1;
        for (const QString& shown : std::as_const(m_shown)) {
            const qsizetype found = perFile.indexOf(shown);
            QVERIFY2(found > at, qPrintable(m_shown.join(QLatin1String("; "))));
            at = found;
        }
        QCOMPARE(m_shown.last(), perFile.last());
    }

    void checkIdleAfterRun() {
        QVERIFY(control<QPushButton>("Execute_Btn")->isEnabled());
        QVERIFY(!m_window->isRunning());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void checkVisibleControlsFit() {
        for (QWidget* widget : m_window->findChildren<QWidget*>()) {
            if (!widget->isVisible() || widget->objectName().isEmpty() ||
                widget->objectName().startsWith(QLatin1String("qt_")))
                continue;
            if (auto* label = qobject_cast<QLabel*>(widget);
                label && !label->text().isEmpty() && label->objectName() != QLatin1String("CurFileName_Lab"))
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
            if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget))
                QVERIFY2(widget->width() >= widget->sizeHint().width(), qPrintable(widget->objectName()));
            QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()),
                     qPrintable(widget->objectName() + QLatin1String(" leaves its parent ") +
                                QString::number(widget->geometry().width()) + 'x' +
                                QString::number(widget->geometry().height()) + '+' + QString::number(widget->x()) +
                                '+' + QString::number(widget->y()) + " in " +
                                QString::number(widget->parentWidget()->width()) + 'x' +
                                QString::number(widget->parentWidget()->height())));
            QList<QWidget*> siblings;
            for (QObject* child : widget->children()) {
                auto* sibling = qobject_cast<QWidget*>(child);
                if (sibling && sibling->isVisible() && !sibling->isWindow() && !sibling->objectName().isEmpty() &&
                    !sibling->objectName().startsWith(QLatin1String("qt_")))
                    siblings << sibling;
            }
            for (qsizetype i = 0; i < siblings.size(); ++i)
                for (qsizetype j = i + 1; j < siblings.size(); ++j) {
                    const QRect overlap = siblings.at(i)->geometry() & siblings.at(j)->geometry();
                    QVERIFY2(overlap.isEmpty() || overlap.width() <= 1 || overlap.height() <= 1,
                             qPrintable(siblings.at(i)->objectName() + QLatin1String(" overlaps ") +
                                        siblings.at(j)->objectName()));
                }
        }
    }

private slots:
    void initTestCase() {
        QApplication::setStyle(QStringLiteral("Fusion"));
        qunsetenv("BROWSER");
        quillet::gui::setUserDialogs(&m_dialogs);
        quillet::gui::setLauncherBackend(&m_backend);
    }

    void cleanupTestCase() {
        quillet::gui::setUserDialogs(nullptr);
        quillet::gui::setLauncherBackend(nullptr);
    }

    void init() {
        m_dialogs = FakeDialogs();
        m_backend.urls.clear();
        m_backend.programs.clear();
        m_backend.startSucceeds = true;
        m_shown.clear();
        m_atFinish.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        connect(m_window.get(), &MainWindow::progressShown, this, [this] { m_shown << progressState(); });
        m_dialogs.onInformation = [this] { m_atFinish = progressState(); };
    }

    void cleanup() {
        m_window.reset();
        m_dir.reset();
    }

    void captionsAndDefaults() {
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Quillet 1.3"));
        const struct {
            const char* name;
            const char* text;
        } captions[] = {
            {"Label2", "Filename Mask"},
            {"Label5", "One file name per line"},
            {"Label6", "Search Pattern "},
            {"Label1", " (e.g.  ABCD, href=http*.htm, A*B*C*D)"},
            {"Process_Lab", "Search Pattern for"},
            {"Label4", "times at most in each file"},
            {"Label7", "New Text"},
            {"Hint_Lab", "(e.g.    CDBA,  href=http://{$1}.htm,  C{$2}B{$1}A   )"},
            {"Label3", "Result File List "},
            {"Progress_Lab", ""},
            {"CurFileName_Lab", ""},
        };
        for (const auto& caption : captions)
            QVERIFY2(control<QLabel>(caption.name)->text() == QLatin1String(caption.text), caption.name);

        const struct {
            const char* name;
            const char* text;
        } boxes[] = {
            {"SubFolders_Chk", "Include Sub Folders"},
            {"CaseSensitive_Chk", "Case Sensitive"},
            {"WholeWord_Chk", "Whole Word"},
            {"ResultIsPattern_Chk", "Is Pattern"},
            {"Stop_Chk", "Stop"},
        };
        for (const auto& box : boxes) {
            const auto* check = control<QCheckBox>(box.name);
            QVERIFY2(check->text() == QLatin1String(box.text), box.name);
            QVERIFY2(!check->isChecked(), box.name);
            QVERIFY2(check->isEnabled(), box.name);
        }
        QCOMPARE(control<QPushButton>("Execute_Btn")->text(), QStringLiteral("&Execute"));

        const struct {
            const char* name;
            const char* hint;
        } hints[] = {
            {"HomePage_Btn", "Homepage of Quillet"},
            {"Email_Btn", "Email Support"},
            {"OpenDir_Btn", "Select Directory By Path"},
            {"OpenFileList_Btn", "Load File List From a File"},
            {"Image", "Quillet is a free software help you search, replace and insert text in files by pattern."},
            {"Hint_Lab", "You can also use {$1} to reference the text that the first '*' on behalf of. And use {$2} "
                         "for the second and so on."},
        };
        for (const auto& hint : hints)
            QVERIFY2(control<QWidget>(hint.name)->toolTip() == QLatin1String(hint.hint), hint.name);

        const auto* from = control<RadioGroup>("FileListFrom_Rdg");
        QCOMPARE(from->title(), QStringLiteral("List From"));
        QCOMPARE(from->count(), 2);
        QCOMPARE(from->item(0)->text(), QStringLiteral("Directory"));
        QCOMPARE(from->item(1)->text(), QStringLiteral("File Full Path List"));
        QCOMPARE(from->itemIndex(), 0);

        const auto* operation = control<RadioGroup>("SROperation_Rdg");
        QCOMPARE(operation->title(), QStringLiteral("Operation"));
        const QStringList operations{QStringLiteral("Only Search"),   QStringLiteral("Replace Text"),
                                     QStringLiteral("Insert Before"), QStringLiteral("Insert After          "),
                                     QStringLiteral("Remove Script"), QStringLiteral("Strip Word HTML")};
        QCOMPARE(operation->count(), int(operations.size()));
        for (int i = 0; i < operation->count(); ++i) {
            QCOMPARE(operation->item(i)->text(), operations.at(i));
            // The item index is the operation code, whose caption the
            // Changes page and the run journal show.
            const auto* info = quillet::core::FindOperation(static_cast<std::uint8_t>(i));
            QVERIFY(info != nullptr);
            QCOMPARE(operations.at(i).trimmed(),
                     QString::fromLatin1(info->Caption.data(), static_cast<qsizetype>(info->Caption.size())));
        }
        QCOMPARE(operation->itemIndex(), 1);

        const auto* maxCount = control<QComboBox>("MaxCount_Cbo");
        QStringList items;
        for (int i = 0; i < maxCount->count(); ++i)
            items << maxCount->itemText(i);
        QCOMPARE(items.join(QLatin1Char(',')), QStringLiteral("No Limit,1,2,3,4,5,6,7,8,9,10,20,50,100,1000,10000"));
        QVERIFY(maxCount->isEditable());
        QCOMPARE(maxCount->currentText(), QStringLiteral("No Limit"));
        QCOMPARE(control<QLineEdit>("Mask_Edt")->text(), QStringLiteral("*.htm"));

        const auto* pages = control<QTabWidget>("PC");
        QCOMPARE(pages->currentIndex(), 0);
        QCOMPARE(pages->count(), 4);
        QCOMPARE(pages->tabText(0), QStringLiteral("File"));
        QCOMPARE(pages->tabText(1), QStringLiteral("Text"));
        QCOMPARE(pages->tabText(2), QStringLiteral("Result"));
        QCOMPARE(pages->tabText(3), QStringLiteral("Changes"));
        QCOMPARE(pages->widget(1)->objectName(), QStringLiteral("TabSheet4"));
        const auto* inner = control<QTabWidget>("FileList_PC");
        QCOMPARE(inner->currentWidget()->objectName(), QStringLiteral("FileDir_TS"));
        QVERIFY(!inner->tabBar()->isVisible());

        QVERIFY(control<QPlainTextEdit>("ResultFileNames_Memo")->isReadOnly());
        QVERIFY(!control<QPlainTextEdit>("SearchPattern_Memo")->isReadOnly());
        QVERIFY(!control<QPlainTextEdit>("NewText_Memo")->isReadOnly());
        QCOMPARE(m_window->currentDirectory(), QDir::currentPath());
        QVERIFY(m_window->findChild<QAction*>(QStringLiteral("Open_MI")));
    }

    void windowSizeAndLayout() {
        QCOMPARE(m_window->size(), QSize(495, 530));
        // The laid-out size is the smallest; the window may grow.
        QCOMPARE(m_window->minimumSize(), QSize(495, 530));
        QVERIFY(m_window->windowFlags() & Qt::WindowMaximizeButtonHint);
        const auto* execute = control<QPushButton>("Execute_Btn");
        QCOMPARE(execute->x(), (495 - execute->width()) / 2);
        QCOMPARE(control<QToolButton>("HomePage_Btn")->x(), 7);
        for (const char* name : {"Note_Lab", "URL_Lab"}) {
            const auto* label = control<QLabel>(name);
            QVERIFY2(qAbs(label->x() + label->width() / 2 - 495 / 2) <= 1, name);
        }

        // Every page in turn: every caption whole, no control leaving its
        // parent, and no two controls of one parent on top of each other
        // (the two bottom lines may touch by a pixel).
        auto* pages = control<QTabWidget>("PC");
        auto* inner = control<QTabWidget>("FileList_PC");
        for (int page = 0; page < pages->count(); ++page) {
            pages->setCurrentIndex(page);
            for (int innerPage = 0; innerPage < inner->count(); ++innerPage) {
                inner->setCurrentIndex(innerPage);
                checkVisibleControlsFit();
            }
        }
    }

    void operationSetsMemos_data() {
        QTest::addColumn<int>("operation");
        QTest::addColumn<bool>("patternReadOnly");
        QTest::addColumn<bool>("newTextReadOnly");
        QTest::addColumn<bool>("isPatternEnabled");
        QTest::newRow("Only Search") << 0 << false << true << false;
        QTest::newRow("Replace Text") << 1 << false << false << true;
        QTest::newRow("Insert Before") << 2 << false << false << true;
        QTest::newRow("Insert After") << 3 << false << false << true;
        QTest::newRow("Remove Script") << 4 << true << true << true;
        QTest::newRow("Strip Word HTML") << 5 << true << true << true;
    }

    // Measured on the drawn button, enabled and disabled (each state has
    // its own glyph): along the middle row, the blank columns between the
    // glyph and the caption's first letter. The button's shading runs top to
    // bottom, so a row's background is one colour and any change is ink. The
    // letter may start a pixel into its box.
    void executeGlyphStandsApartFromItsCaption() {
        auto* execute = control<QPushButton>("Execute_Btn");
        if (execute->icon().isNull())
            QSKIP("built without the icons");
        for (const bool enabled : {true, false}) {
            execute->setEnabled(enabled);
            const QImage image = execute->grab().toImage();
            const int row = image.height() / 2;
            const QColor background = image.pixelColor(4, row);
            auto ink = [&](int x) {
                const QColor pixel = image.pixelColor(x, row);
                return qAbs(pixel.red() - background.red()) + qAbs(pixel.green() - background.green()) +
                           qAbs(pixel.blue() - background.blue()) >
                       3;
            };
            int x = 4;
            while (x < image.width() - 4 && !ink(x))
                ++x;
            const int glyphStart = x;
            while (x < image.width() - 4 && ink(x))
                ++x;
            const int glyphEnd = x;
            while (x < image.width() - 4 && !ink(x))
                ++x;
            QVERIFY2(glyphEnd - glyphStart == 16, qPrintable(QString::number(glyphEnd - glyphStart)));
            QVERIFY2(x - glyphEnd == 16 || x - glyphEnd == 17, qPrintable(QString::number(x - glyphEnd)));
        }
        execute->setEnabled(true);
    }

    void operationSetsMemos() {
        QFETCH(int, operation);
        QFETCH(bool, patternReadOnly);
        QFETCH(bool, newTextReadOnly);
        QFETCH(bool, isPatternEnabled);
        auto* group = control<RadioGroup>("SROperation_Rdg");
        // Start from the opposite state so that each change is seen.
        group->item(operation == 4 ? 0 : 4)->click();
        group->item(operation)->click();
        QCOMPARE(group->itemIndex(), operation);

        const QColor buttonFace = QApplication::palette().color(QPalette::Button);
        const QColor editable = QApplication::palette().color(QPalette::Base);
        QVERIFY(buttonFace != editable);
        const auto* pattern = control<QPlainTextEdit>("SearchPattern_Memo");
        const auto* newText = control<QPlainTextEdit>("NewText_Memo");
        QCOMPARE(pattern->isReadOnly(), patternReadOnly);
        QCOMPARE(newText->isReadOnly(), newTextReadOnly);
        QCOMPARE(pattern->palette().color(QPalette::Base), patternReadOnly ? buttonFace : editable);
        QCOMPARE(newText->palette().color(QPalette::Base), newTextReadOnly ? buttonFace : editable);
        QCOMPARE(control<QCheckBox>("ResultIsPattern_Chk")->isEnabled(), isPatternEnabled);
    }

    void listFromShowsItsPage() {
        auto* from = control<RadioGroup>("FileListFrom_Rdg");
        const auto* inner = control<QTabWidget>("FileList_PC");
        from->item(1)->click();
        QCOMPARE(inner->currentWidget()->objectName(), QStringLiteral("FileList_TS"));
        from->item(0)->click();
        QCOMPARE(inner->currentWidget()->objectName(), QStringLiteral("FileDir_TS"));
    }

    void newTextTicksIsPattern() {
        auto* memo = control<QPlainTextEdit>("NewText_Memo");
        auto* isPattern = control<QCheckBox>("ResultIsPattern_Chk");
        memo->setFocus();
        QTest::keyClicks(memo, QStringLiteral("href={"));
        QVERIFY(!isPattern->isChecked());
        QTest::keyClicks(memo, QStringLiteral("$1}"));
        QVERIFY(isPattern->isChecked());
        isPattern->setChecked(false); // by hand; the next edit sets it again
        QTest::keyClicks(memo, QStringLiteral("x"));
        QVERIFY(isPattern->isChecked());
        memo->setPlainText(QStringLiteral("plain {1}"));
        QVERIFY(!isPattern->isChecked());
    }

    void maskRefillsFileList() {
        writeFile(tempPath(QStringLiteral("a.htm")), "a");
        writeFile(tempPath(QStringLiteral("B.HTM")), "b");
        writeFile(tempPath(QStringLiteral("c.txt")), "c");
        writeFile(tempPath(QStringLiteral(".hidden.htm")), "h");
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder.htm")));
        m_window->setCurrentDirectory(m_dir->path());
        QCOMPARE(m_window->currentDirectory(), m_dir->path());

        auto* mask = control<QLineEdit>("Mask_Edt");
        const auto* list = control<QListWidget>("FileListBox");
        auto names = [list] {
            QStringList result;
            for (int i = 0; i < list->count(); ++i)
                result << list->item(i)->text();
            return result.join(QLatin1Char(','));
        };
        QCOMPARE(names(), QStringLiteral("B.HTM,a.htm"));
        const struct {
            const char* mask;
            const char* names;
        } cases[] = {
            {"*.txt", "c.txt"}, {"*.htm;*.txt", "B.HTM,a.htm,c.txt"}, {"?.htm", "B.HTM,a.htm"},
            {"", ""},           {"*", "B.HTM,a.htm,c.txt"},
        };
        // The list follows the mask when its listing arrives from the
        // background.
        for (const auto& c : cases) {
            mask->setText(QLatin1String(c.mask));
            QTRY_VERIFY2(names() == QLatin1String(c.names), c.mask);
        }
    }

    void walkRun() {
        writeFile(tempPath(QStringLiteral("a.htm")), "foo one");
        writeFile(tempPath(QStringLiteral("news/b.htm")), "two foo");
        writeFile(tempPath(QStringLiteral("news/c.htm")), "nothing");
        writeFile(tempPath(QStringLiteral("x.txt")), "foo");
        m_window->setCurrentDirectory(m_dir->path());
        setPattern(QStringLiteral("foo"), QStringLiteral("bar"), 1);
        control<QCheckBox>("SubFolders_Chk")->setChecked(true);

        QSignalSpy ended(m_window.get(), &MainWindow::runEnded);
        control<QPushButton>("Execute_Btn")->click();
        QVERIFY(!control<QPushButton>("Execute_Btn")->isEnabled());
        QVERIFY(ended.wait(20000));
        checkIdleAfterRun();

        QCOMPARE(m_dialogs.informations, QStringList{QStringLiteral("Finished! Found and Processed 2 files.")});
        QVERIFY(m_dialogs.errors.isEmpty());
        QStringList results = memoLines(control<QPlainTextEdit>("ResultFileNames_Memo"));
        results.sort();
        QCOMPARE(results, (QStringList{tempPath(QStringLiteral("a.htm")), tempPath(QStringLiteral("news/b.htm"))}));
        QCOMPARE(readFile(tempPath(QStringLiteral("a.htm"))), QByteArray("bar one"));
        QCOMPARE(readFile(tempPath(QStringLiteral("news/b.htm"))), QByteArray("two bar"));
        QCOMPARE(readFile(tempPath(QStringLiteral("news/c.htm"))), QByteArray("nothing"));
        QCOMPARE(readFile(tempPath(QStringLiteral("x.txt"))), QByteArray("foo"));

        // The display is brought up to date at display rate: each state shown
        // is one the run passed through (the label shows every file, the
        // count and the bar only the matching ones).
        QVERIFY(!m_shown.isEmpty());
        const QStringList possible{QStringLiteral("1|/../a.htm|1/100"),      QStringLiteral("2|/../a.htm|2/100"),
                                   QStringLiteral("1|/../news/b.htm|1/100"), QStringLiteral("2|/../news/b.htm|2/100"),
                                   QStringLiteral("|/../news/c.htm|0/100"),  QStringLiteral("1|/../news/c.htm|1/100"),
                                   QStringLiteral("2|/../news/c.htm|2/100")};
        for (const QString& shown : std::as_const(m_shown))
            QVERIFY2(possible.contains(shown), qPrintable(m_shown.join(QLatin1String("; "))));
        QVERIFY(m_atFinish.startsWith(QLatin1String("2|")));
        QVERIFY(m_atFinish.endsWith(QLatin1String("|100/100")));
        QCOMPARE(progressState(), QStringLiteral("||0/1"));
    }

    // A replace meant for text leaves an image as it is, and says so.
    void walkPassesOverBinaryFiles() {
        const QByteArray image("\x89PNG\r\n\x1A\n\0\0foo", 13);
        writeFile(tempPath(QStringLiteral("a.htm")), "foo");
        writeFile(tempPath(QStringLiteral("img/b.png")), image);
        m_window->setCurrentDirectory(m_dir->path());
        setPattern(QStringLiteral("foo"), QStringLiteral("bar"), 1);
        control<QCheckBox>("SubFolders_Chk")->click();
        auto* mask = control<QLineEdit>("Mask_Edt");
        mask->selectAll();
        QTest::keyClicks(mask, QStringLiteral("*.htm;*.png"));
        execute();
        checkIdleAfterRun();
        QCOMPARE(m_dialogs.informations,
                 QStringList{QStringLiteral("Finished! Found and Processed 1 files. Passed over 1 binary file.")});
        QCOMPARE(memoLines(control<QPlainTextEdit>("ResultFileNames_Memo")),
                 QStringList{tempPath(QStringLiteral("a.htm"))});
        QCOMPARE(readFile(tempPath(QStringLiteral("a.htm"))), QByteArray("bar"));
        QCOMPARE(readFile(tempPath(QStringLiteral("img/b.png"))), image);
    }

    // Root reads every folder: the unprivileged suite runs this one.
    void walkNamesTheFoldersItCouldNotRead() {
        if (::geteuid() == 0)
            QSKIP("root reads every folder");
        writeFile(tempPath(QStringLiteral("a.htm")), "foo");
        writeFile(tempPath(QStringLiteral("locked/b.htm")), "foo");
        QVERIFY(QFile::setPermissions(tempPath(QStringLiteral("locked")), QFileDevice::Permissions()));
        m_window->setCurrentDirectory(m_dir->path());
        setPattern(QStringLiteral("foo"), QStringLiteral("bar"), 1);
        control<QCheckBox>("SubFolders_Chk")->click();
        execute();
        QFile::setPermissions(tempPath(QStringLiteral("locked")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        checkIdleAfterRun();
        QCOMPARE(m_dialogs.informations,
                 QStringList{QStringLiteral("Finished! Found and Processed 1 files.\n\n"
                                            "Passed over 1 folder that could not be read:\n") +
                             tempPath(QStringLiteral("locked")) + QStringLiteral(": Permission denied")});
        QCOMPARE(readFile(tempPath(QStringLiteral("a.htm"))), QByteArray("bar"));
    }

    void finalMessageTexts() {
        QStringList twelve;
        for (int i = 1; i <= 12; ++i)
            twelve << QStringLiteral("/w/%1: Permission denied").arg(i);
        const struct {
            qint64 files;
            QStringList folders;
            QString text;
            qint64 passedOver = 0;
        } cases[] = {
            {2, {}, QStringLiteral("Finished! Found and Processed 2 files.")},
            {2, {}, QStringLiteral("Finished! Found and Processed 2 files. Passed over 3 binary files."), 3},
            {0,
             {QStringLiteral("/w/x: Permission denied")},
             QStringLiteral("Finished! Found and Processed 0 files. Passed over 1 binary file.\n\nPassed over 1 folder "
                            "that could not be read:\n/w/x: Permission denied"),
             1},
            {0,
             {QStringLiteral("/w/x: Permission denied"), QStringLiteral("/w/y: Too many open files")},
             QStringLiteral("Finished! Found and Processed 0 files.\n\nPassed over 2 folders that could not be "
                            "read:\n/w/x: Permission denied\n/w/y: Too many open files")},
            {5, twelve,
             QStringLiteral("Finished! Found and Processed 5 files.\n\nPassed over 12 folders that could not be "
                            "read:\n") +
                 twelve.first(10).join(QLatin1Char('\n')) + QStringLiteral("\nand 2 more")},
        };
        for (const auto& c : cases)
            QCOMPARE(quillet::gui::finishedText(c.files, c.folders, c.passedOver), c.text);
    }

    void directoryListingRun() {
        writeFile(tempPath(QStringLiteral("a.htm")), "foo");
        writeFile(tempPath(QStringLiteral("b.htm")), "none");
        writeFile(tempPath(QStringLiteral("c.htm")), "x foo");
        writeFile(tempPath(QStringLiteral("sub/d.htm")), "foo");
        m_window->setCurrentDirectory(m_dir->path());
        setPattern(QStringLiteral("foo"), QString(), 0);
        execute();
        checkIdleAfterRun();

        // Only Search counts every file handled, lists the matching names
        // bare, and rewrites nothing.
        QCOMPARE(m_dialogs.informations, QStringList{QStringLiteral("Finished! Found and Processed 3 files.")});
        QCOMPARE(memoLines(control<QPlainTextEdit>("ResultFileNames_Memo")),
                 (QStringList{QStringLiteral("a.htm"), QStringLiteral("c.htm")}));
        checkShownInOrder(QStringList{QStringLiteral("1/3 = 33.33%|a.htm|1/3"),
                                      QStringLiteral("2/3 = 66.66%|b.htm|2/3"),
                                      QStringLiteral("3/3 = 100%|c.htm|3/3")});
        QCOMPARE(m_atFinish, QStringLiteral("3/3 = 100%|c.htm|3/3"));
        QCOMPARE(readFile(tempPath(QStringLiteral("c.htm"))), QByteArray("x foo"));
    }

    void pathListRun() {
        const QString a = tempPath(QStringLiteral("one/a.txt"));
        const QString b = tempPath(QStringLiteral("b.htm"));
        const QString c = tempPath(QStringLiteral("two/c.txt"));
        writeFile(a, "say Hello");
        writeFile(b, "nothing");
        writeFile(c, "hello hello");
        control<RadioGroup>("FileListFrom_Rdg")->item(1)->click();
        // Sub-folders ticked has no effect on a path list.
        control<QCheckBox>("SubFolders_Chk")->setChecked(true);
        control<QPlainTextEdit>("FileList_Memo")->setPlainText(a + QStringLiteral("\n\n") + b + QLatin1Char('\n') + c);
        setPattern(QStringLiteral("hello"), QStringLiteral("bye"), 2);
        execute();
        checkIdleAfterRun();

        QCOMPARE(m_dialogs.informations, QStringList{QStringLiteral("Finished! Found and Processed 3 files.")});
        QCOMPARE(memoLines(control<QPlainTextEdit>("ResultFileNames_Memo")), (QStringList{a, c}));
        checkShownInOrder(QStringList{QStringLiteral("1/3 = 33.33%|a.txt|1/3"),
                                      QStringLiteral("2/3 = 66.66%|b.htm|2/3"),
                                      QStringLiteral("3/3 = 100%|c.txt|3/3")});
        QCOMPARE(readFile(a), QByteArray("say byeHello"));
        QCOMPARE(readFile(c), QByteArray("byehello byehello"));
    }

    void emptyPathListFinishesWithZero() {
        control<RadioGroup>("FileListFrom_Rdg")->item(1)->click();
        setPattern(QStringLiteral("x"), QStringLiteral("y"), 1);
        execute();
        checkIdleAfterRun();
        QCOMPARE(m_dialogs.informations, QStringList{QStringLiteral("Finished! Found and Processed 0 files.")});
        QVERIFY(m_shown.isEmpty());
        // An empty range must not turn the bar into a busy indicator.
        const auto* bar = control<QProgressBar>("ProgressBar");
        QVERIFY(bar->maximum() > bar->minimum());
    }

    void typedMaxCountLimitsMatches() {
        const QString a = tempPath(QStringLiteral("a.txt"));
        writeFile(a, "foo foo foo");
        control<RadioGroup>("FileListFrom_Rdg")->item(1)->click();
        control<QPlainTextEdit>("FileList_Memo")->setPlainText(a);
        setPattern(QStringLiteral("foo"), QStringLiteral("bar"), 1);
        control<QComboBox>("MaxCount_Cbo")->setEditText(QStringLiteral("2"));
        execute();
        QCOMPARE(readFile(a), QByteArray("bar bar foo"));
        auto* maxCount = control<QComboBox>("MaxCount_Cbo");
        maxCount->setCurrentIndex(0);
        execute();
        QCOMPARE(readFile(a), QByteArray("bar bar bar"));
    }

    void stopTickedHandlesOneFile() {
        writeFile(tempPath(QStringLiteral("a.htm")), "foo");
        writeFile(tempPath(QStringLiteral("b.htm")), "foo");
        writeFile(tempPath(QStringLiteral("c.htm")), "foo");
        m_window->setCurrentDirectory(m_dir->path());
        setPattern(QStringLiteral("foo"), QStringLiteral("bar"), 1);
        control<QCheckBox>("Stop_Chk")->setChecked(true);
        execute();
        checkIdleAfterRun();
        QCOMPARE(m_dialogs.informations, QStringList{QStringLiteral("Finished! Found and Processed 1 files.")});
        QCOMPARE(m_shown, QStringList{QStringLiteral("1/3 = 33.33%|a.htm|1/3")});
        QVERIFY(control<QCheckBox>("Stop_Chk")->isChecked());
        // Files read ahead of the stop are left as they were.
        QCOMPARE(readFile(tempPath(QStringLiteral("a.htm"))), QByteArray("bar"));
        QCOMPARE(readFile(tempPath(QStringLiteral("b.htm"))), QByteArray("foo"));
        QCOMPARE(readFile(tempPath(QStringLiteral("c.htm"))), QByteArray("foo"));
    }

    void failingRunRestoresTheWindow() {
        const QString a = tempPath(QStringLiteral("a.txt"));
        const QString missing = tempPath(QStringLiteral("missing.txt"));
        const QString c = tempPath(QStringLiteral("c.txt"));
        writeFile(a, "foo");
        writeFile(c, "foo");
        control<RadioGroup>("FileListFrom_Rdg")->item(1)->click();
        control<QPlainTextEdit>("FileList_Memo")->setPlainText(QStringList{a, missing, c}.join(QLatin1Char('\n')));
        setPattern(QStringLiteral("foo"), QStringLiteral("bar"), 1);
        execute();
        checkIdleAfterRun();

        QVERIFY(m_dialogs.informations.isEmpty());
        QCOMPARE(m_dialogs.errors.size(), 1);
        QVERIFY2(m_dialogs.errors.at(0).startsWith(QStringLiteral("Cannot open file \"") + missing + QLatin1Char('"')),
                 qPrintable(m_dialogs.errors.at(0)));
        QVERIFY(m_dialogs.errors.at(0).endsWith(QLatin1Char('.')));
        // What was done before the error stays done and shown.
        QCOMPARE(readFile(a), QByteArray("bar"));
        QCOMPARE(readFile(c), QByteArray("foo"));
        QCOMPARE(memoLines(control<QPlainTextEdit>("ResultFileNames_Memo")), QStringList{a});
        QCOMPARE(progressState(), QStringLiteral("1/3 = 33.33%|a.txt|1/3"));
    }

    void maxCountNotAnInteger() {
        const QString a = tempPath(QStringLiteral("a.txt"));
        writeFile(a, "foo");
        control<RadioGroup>("FileListFrom_Rdg")->item(1)->click();
        control<QPlainTextEdit>("FileList_Memo")->setPlainText(a);
        control<QPlainTextEdit>("ResultFileNames_Memo")->setPlainText(QStringLiteral("previous run"));
        control<QLabel>("Progress_Lab")->setText(QStringLiteral("7/9 = 77.77%"));
        setPattern(QStringLiteral("foo"), QStringLiteral("bar"), 1);
        control<QComboBox>("MaxCount_Cbo")->setEditText(QStringLiteral("abc"));
        control<QPushButton>("Execute_Btn")->click();
        QTest::qWait(50);

        QCOMPARE(m_dialogs.errors, QStringList{QStringLiteral("'abc' is not a valid integer value.")});
        QVERIFY(m_dialogs.informations.isEmpty());
        checkIdleAfterRun();
        QCOMPARE(control<QPlainTextEdit>("ResultFileNames_Memo")->toPlainText(), QStringLiteral("previous run"));
        QCOMPARE(control<QLabel>("Progress_Lab")->text(), QStringLiteral("7/9 = 77.77%"));
        QCOMPARE(readFile(a), QByteArray("foo"));
    }

    void closingStopsTheRun() {
        for (int i = 0; i < 400; ++i)
            writeFile(tempPath(QStringLiteral("d%1/f%2.htm").arg(i % 20).arg(i)), QByteArray(2000, 'x') + "foo");
        m_window->setCurrentDirectory(m_dir->path());
        setPattern(QStringLiteral("foo"), QStringLiteral("bar"), 1);
        control<QCheckBox>("SubFolders_Chk")->setChecked(true);
        control<QPushButton>("Execute_Btn")->click();
        QVERIFY(m_window->isRunning());
        m_window->close();
        QVERIFY(!m_window->isRunning());
        checkIdleAfterRun();
        QTest::qWait(50);
        // Nothing that was still on its way is shown after the close.
        QVERIFY(m_dialogs.informations.isEmpty());
        QVERIFY(m_dialogs.errors.isEmpty());
    }

    void linksReachTheLauncher() {
        QTest::keyRelease(control<QPlainTextEdit>("SearchPattern_Memo"), Qt::Key_F1);
        QCOMPARE(m_backend.urls, QList<QUrl>{QUrl(quillet::gui::homePageUrl())});
        m_backend.urls.clear();

        control<QToolButton>("HomePage_Btn")->click();
        QCOMPARE(m_backend.urls, QList<QUrl>{QUrl(quillet::gui::homePageUrl())});
        m_backend.urls.clear();

        auto* link = control<QLabel>("URL_Lab");
        QCOMPARE(link->text(), quillet::gui::websiteCaption());
        QTest::mouseClick(link, Qt::LeftButton);
        QTest::mouseClick(control<QLabel>("Image"), Qt::LeftButton);
        QCOMPARE(m_backend.urls, (QList<QUrl>{QUrl(quillet::gui::websiteUrl()), QUrl(quillet::gui::websiteUrl())}));
        m_backend.urls.clear();

        control<QToolButton>("Email_Btn")->click();
        QCOMPARE(m_backend.urls.size(), 1);
        QCOMPARE(m_backend.urls.at(0).scheme(), QStringLiteral("mailto"));
        QCOMPARE(m_backend.urls.at(0).toString(),
                 QStringLiteral("mailto:") + quillet::gui::supportEmail() + QStringLiteral("?subject=About Quillet"));
        m_backend.urls.clear();

        m_window->setCurrentDirectory(m_dir->path());
        m_window->findChild<QAction*>(QStringLiteral("Open_MI"))->trigger();
        QCOMPARE(m_backend.urls.size(), 1);
        QCOMPARE(m_backend.urls.at(0).toLocalFile(), m_dir->path());
        QVERIFY(m_dialogs.errors.isEmpty());
        QVERIFY(m_backend.programs.isEmpty());
    }

    void doubleClickOpensTheFile() {
        writeFile(tempPath(QStringLiteral("page one.htm")), "x");
        writeFile(tempPath(QStringLiteral("tool.exe.htm")), "x");
        m_window->setCurrentDirectory(m_dir->path());
        auto* list = control<QListWidget>("FileListBox");
        QCOMPARE(list->count(), 2);

        list->setCurrentRow(0);
        emit list->itemDoubleClicked(list->item(0));
        QCOMPARE(m_backend.urls.size(), 1);
        QCOMPARE(m_backend.urls.at(0).toLocalFile(), tempPath(QStringLiteral("page one.htm")));

        // ".exe" anywhere makes it a program; one that does not start gives
        // the launcher's error in the error box.
        m_backend.startSucceeds = false;
        list->setCurrentRow(1);
        emit list->itemDoubleClicked(list->item(1));
        QCOMPARE(m_backend.programs.size(), 1);
        QCOMPARE(m_dialogs.errors, QStringList{QStringLiteral("Unable to run ") +
                                               tempPath(QStringLiteral("tool.exe.htm")) + QLatin1Char(' ')});
    }

    void inputBoxChangesDirectory() {
        writeFile(tempPath(QStringLiteral("sub/a.htm")), "x");
        const QString before = m_window->currentDirectory();
        control<QToolButton>("OpenDir_Btn")->click(); // cancelled
        QCOMPARE(m_dialogs.asked, QStringList{QStringLiteral("Directry Path|Directory:|") + before});
        QCOMPARE(m_window->currentDirectory(), before);

        m_dialogs.textAnswer = tempPath(QStringLiteral("sub"));
        control<QToolButton>("OpenDir_Btn")->click();
        QCOMPARE(m_window->currentDirectory(), tempPath(QStringLiteral("sub")));
        QCOMPARE(control<QListWidget>("FileListBox")->count(), 1);
        QCOMPARE(control<QTreeView>("DirectoryListBox")->currentIndex().data().toString(), QStringLiteral("sub"));

        m_dialogs.textAnswer = tempPath(QStringLiteral("nowhere"));
        control<QToolButton>("OpenDir_Btn")->click();
        QCOMPARE(m_dialogs.errors.size(), 1);
        QCOMPARE(m_window->currentDirectory(), tempPath(QStringLiteral("sub")));
    }

    // The tree and the drive box are the user's other two ways to move; the
    // other controls follow whichever moved, and a pick that fails leaves
    // the directory as it was.
    void treeAndDriveBoxMoveTheDirectory() {
        writeFile(tempPath(QStringLiteral("sub/a.htm")), "x");
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("gone")));
        m_window->setCurrentDirectory(m_dir->path());
        auto* tree = control<QTreeView>("DirectoryListBox");
        auto* model = qobject_cast<QFileSystemModel*>(tree->model());
        QVERIFY(model);
        auto* drives = control<QComboBox>("DriveComboBox");
        QCOMPARE(drives->currentData().toString(), QStorageInfo(m_dir->path()).rootPath());

        tree->setCurrentIndex(model->index(tempPath(QStringLiteral("sub"))));
        QCOMPARE(m_window->currentDirectory(), tempPath(QStringLiteral("sub")));
        QCOMPARE(control<QListWidget>("FileListBox")->count(), 1);
        QVERIFY(m_dialogs.errors.isEmpty());

        const QModelIndex gone = model->index(tempPath(QStringLiteral("gone")));
        QVERIFY(gone.isValid());
        QVERIFY(QDir(m_dir->path()).rmdir(QStringLiteral("gone")));
        tree->setCurrentIndex(gone);
        QCOMPARE(m_dialogs.errors.size(), 1);
        QCOMPARE(m_window->currentDirectory(), tempPath(QStringLiteral("sub")));

        const int root = drives->findData(QStringLiteral("/"));
        QVERIFY(root >= 0);
        drives->setCurrentIndex(root);
        emit drives->activated(root);
        QCOMPARE(m_window->currentDirectory(), QStringLiteral("/"));
        QCOMPARE(model->filePath(tree->currentIndex()), QStringLiteral("/"));
        QCOMPARE(drives->currentIndex(), root);
        QCOMPARE(m_dialogs.errors.size(), 1);
    }

    void pathListFromFile() {
        const QString listFile = tempPath(QStringLiteral("list.txt"));
        writeFile(listFile, "/x/a.htm\r\n/y/b.htm\n\n/z/c.htm\n");
        auto* memo = control<QPlainTextEdit>("FileList_Memo");
        m_dialogs.fileAnswer = listFile;
        control<QToolButton>("OpenFileList_Btn")->click();
        QCOMPARE(m_dialogs.filter, QStringLiteral("Text Files(*.txt);;All Files(*)"));
        QCOMPARE(memo->toPlainText(), QStringLiteral("/x/a.htm\n/y/b.htm\n/z/c.htm"));

        m_dialogs.fileAnswer = tempPath(QStringLiteral("missing.txt"));
        control<QToolButton>("OpenFileList_Btn")->click();
        QCOMPARE(m_dialogs.errors.size(), 1);
        QVERIFY2(m_dialogs.errors.at(0).startsWith(QLatin1String("Cannot open file")),
                 qPrintable(m_dialogs.errors.at(0)));
        QCOMPARE(memo->toPlainText(), QStringLiteral("/x/a.htm\n/y/b.htm\n/z/c.htm"));
    }

    // A listed name that is not valid UTF-8 came back from the box altered
    // (each invalid byte as U+FFFD), and the run looked for a file that does
    // not exist; it must be found under its own bytes, also when another line
    // of the box was edited after the list was loaded.
    void pathListFromFileKeepsNamesThatAreNotText() {
        const QByteArray dir = QFile::encodeName(m_dir->path());
        const QByteArray odd = dir + "/odd\xff\xfe.txt";
        const QByteArray plain = dir + "/plain.txt";
        for (const QByteArray& name : {odd, plain}) {
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "say hello", 9), ssize_t{9});
            ::close(fd);
        }
        const QString listFile = tempPath(QStringLiteral("list.txt"));
        writeFile(listFile, odd + "\n" + plain + "\n");
        m_dialogs.fileAnswer = listFile;
        control<RadioGroup>("FileListFrom_Rdg")->item(1)->click();
        control<QToolButton>("OpenFileList_Btn")->click();
        setPattern(QStringLiteral("hello"), QStringLiteral("bye"), 1);
        execute();
        QCOMPARE(m_dialogs.errors, QStringList());
        QCOMPARE(m_dialogs.informations, QStringList{QStringLiteral("Finished! Found and Processed 2 files.")});
        QCOMPARE(readFile(QFile::decodeName(plain)), QByteArray("say bye"));

        // The second line typed anew, by keys: the first keeps its bytes.
        auto* memo = control<QPlainTextEdit>("FileList_Memo");
        memo->setFocus();
        QTest::keyClick(memo, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(memo, Qt::Key_Home, Qt::ShiftModifier);
        QTest::keyClicks(memo, QFile::decodeName(dir + "//plain.txt"));
        setPattern(QStringLiteral("bye"), QStringLiteral("hi"), 1);
        m_dialogs.informations.clear();
        execute();
        QCOMPARE(m_dialogs.errors, QStringList());
        QCOMPARE(m_dialogs.informations, QStringList{QStringLiteral("Finished! Found and Processed 2 files.")});
        const int fd = ::open(odd.constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        char bytes[16] = {};
        const ssize_t got = ::read(fd, bytes, sizeof bytes);
        ::close(fd);
        QCOMPARE(QByteArray(bytes, static_cast<int>(got)), QByteArray("say hi"));
        QCOMPARE(readFile(QFile::decodeName(plain)), QByteArray("say hi"));
    }

    void progressTexts() {
        const struct {
            qint64 done, total;
            const char* text;
        } lists[] = {
            {2, 3, "2/3 = 66.66%"},   {1, 3, "1/3 = 33.33%"},        {2, 4, "2/4 = 50%"},
            {1, 8, "1/8 = 12.5%"},    {3, 3, "3/3 = 100%"},          {1, 7, "1/7 = 14.28%"},
            {1, 200, "1/200 = 0.5%"}, {1, 10000, "1/10000 = 0.01%"}, {1, 20000, "1/20000 = 0%"},
        };
        for (const auto& c : lists)
            QCOMPARE(quillet::gui::listProgressText(c.done, c.total), QLatin1String(c.text));

        const struct {
            qint64 done;
            int position;
        } bars[] = {{0, 0}, {1, 1}, {99, 99}, {100, 100}, {101, 1}, {200, 100}, {250, 50}};
        for (const auto& c : bars)
            QCOMPARE(quillet::gui::walkBarPosition(c.done), c.position);

        using quillet::gui::walkFileLabel;
        const QString tail = QStringLiteral("/..");
        QCOMPARE(walkFileLabel(tail, QStringLiteral("/web/news/"), 4, QStringLiteral("a.htm")),
                 QStringLiteral("/../news/a.htm"));
        QCOMPARE(walkFileLabel(tail, QStringLiteral("/web/"), 4, QStringLiteral("a.htm")), QStringLiteral("/../a.htm"));
        QCOMPARE(walkFileLabel(tail, QStringLiteral("/"), 1, QStringLiteral("a.htm")), QStringLiteral("/..a.htm"));
        QCOMPARE(walkFileLabel(tail, QStringLiteral("/sub/"), 1, QStringLiteral("a.htm")),
                 QStringLiteral("/..sub/a.htm"));
    }

    void errorBoxTexts() {
        const struct {
            const char* message;
            const char* shown;
        } cases[] = {
            {"No such file", "No such file."},
            {"Done.", "Done."},
            {"Done!", "Done!"},
            {"", ""},
            {"Count 1", "Count 1."},
            {"Unable to run x ", "Unable to run x "},
            {"file \"a\"", "file \"a\""},
            {"end/", "end/."},
            {"a-", "a-"},
        };
        for (const auto& c : cases)
            QCOMPARE(quillet::gui::errorBoxText(QLatin1String(c.message)), QLatin1String(c.shown));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
