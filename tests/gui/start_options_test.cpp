// The window program's command line: the table of arguments and what they
// fill in, the refusals, and a window started with them.
#include "main_window.h"
#include "start_options.h"
#include "window_test_support.h"

#include "core/error.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

using quillet::gui::ParseStartOptions;
using quillet::gui::StartOptions;

namespace {

// "dir=/d mask=*.htm sub pattern=a new=b" for the fields that were given.
QString describe(const StartOptions& options) {
    QStringList parts;
    if (options.Directory)
        parts << QStringLiteral("dir=") + *options.Directory;
    if (options.Mask)
        parts << QStringLiteral("mask=") + *options.Mask;
    if (options.SubFolders)
        parts << QStringLiteral("sub");
    if (options.Pattern)
        parts << QStringLiteral("pattern=") + *options.Pattern;
    if (options.NewText)
        parts << QStringLiteral("new=") + *options.NewText;
    if (!options.Screenshot.isEmpty())
        parts << QStringLiteral("shot=%1:%2").arg(options.Screenshot).arg(options.ScreenshotPage);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class StartOptionsTest : public QObject {
    Q_OBJECT

private slots:
    void parse() {
        const struct {
            QStringList arguments;
            const char* expected;
        } cases[] = {
            {{}, ""},
            {{"/srv/site"}, "dir=/srv/site"},
            {{"--dir", "/srv/site"}, "dir=/srv/site"},
            {{"--dir=/srv/my site"}, "dir=/srv/my site"},
            {{"/a", "--dir", "/a"}, "dir=/a"},
            {{"--mask", "*.htm;*.html", "--subfolders"}, "mask=*.htm;*.html sub"},
            {{"--pattern", "href=*.htm", "--new-text", "{$1}.html"}, "pattern=href=*.htm new={$1}.html"},
            {{"--pattern="}, "pattern="},
            {{"--", "--odd-folder"}, "dir=--odd-folder"},
            {{"-x"}, "dir=-x"},
            {{"--screenshot", "s.png", "--page", "2"}, "shot=s.png:2"},
        };
        for (const auto& c : cases) {
            const QStringList arguments = QStringList{QStringLiteral("quillet")} + c.arguments;
            QCOMPARE_EQ(describe(ParseStartOptions(arguments)), QLatin1String(c.expected));
        }
    }

    void refusals() {
        const struct {
            QStringList arguments;
            const char* message;
        } cases[] = {
            {{"--folder", "x"}, "Unknown option --folder (see quillet --help)"},
            {{"--dir"}, "Option --dir needs a value"},
            {{"--pattern"}, "Option --pattern needs a value"},
            {{"--subfolders=yes"}, "Option --subfolders takes no value"},
            {{"/a", "/b"}, "Only one folder can be given: \"/a\" and \"/b\""},
            {{"/a", "--dir", "/b"}, "Only one folder can be given: \"/a\" and \"/b\""},
            {{"--page", "3"}, "Option --page needs 0, 1 or 2, not \"3\""},
        };
        for (const auto& c : cases) {
            QString message;
            try {
                ParseStartOptions(QStringList{QStringLiteral("quillet")} + c.arguments);
            } catch (const quillet::Error& error) {
                message = QString::fromLocal8Bit(error.what());
            }
            QVERIFY2(message == QLatin1String(c.message), qPrintable(c.arguments.join(' ') + " -> " + message));
        }
    }

    void helpAndVersionEnd() {
        QVERIFY(ParseStartOptions({"quillet", "--help"}).PrintAndExit.startsWith(QLatin1String("Usage: quillet")));
        // Regression: -h was taken as the name of a folder.
        const StartOptions shortHelp = ParseStartOptions({"quillet", "-h"});
        QVERIFY(shortHelp.PrintAndExit.startsWith(QLatin1String("Usage: quillet")));
        QVERIFY(!shortHelp.Directory);
        QCOMPARE(describe(ParseStartOptions({"quillet", "--", "-h"})), QStringLiteral("dir=-h"));
        QVERIFY(ParseStartOptions({"quillet", "--version"}).PrintAndExit.startsWith(QLatin1String("quillet 1.")));
    }

    // Regression: a refused command line was reported on standard error
    // only, which a program started from a launcher does not show.
    void refusalIsShownInTheErrorBox() {
        quillet::testing::FakeDialogs dialogs;
        quillet::gui::setUserDialogs(&dialogs);
        const bool parsed = quillet::gui::StartOptionsOrReport({"quillet", "--folder", "x"}).has_value();
        quillet::gui::setUserDialogs(nullptr);
        QVERIFY(!parsed);
        QCOMPARE(dialogs.errors, QStringList{QStringLiteral("Unknown option --folder (see quillet --help)")});
    }

    // The fields given are filled in, the others keep the layout's defaults,
    // and the new text's "{$" ticks "Is Pattern" as typing it would.
    void windowStartsFilledIn() {
        QApplication::setStyle(QStringLiteral("Fusion"));
        QTemporaryDir dir;
        quillet::testing::writeFile(dir.filePath(QStringLiteral("a.html")), "x");
        quillet::testing::writeFile(dir.filePath(QStringLiteral("b.htm")), "x");
        quillet::gui::MainWindow window;
        window.show();
        window.applyStartOptions(
            ParseStartOptions({"quillet", dir.path(), "--mask", "*.html", "--pattern", "a*b", "--new-text", "{$1}"}));
        using quillet::testing::child;
        QCOMPARE(window.currentDirectory(), dir.path());
        QCOMPARE(child<QLineEdit>(&window, "Mask_Edt")->text(), QStringLiteral("*.html"));
        QCOMPARE(child<QPlainTextEdit>(&window, "SearchPattern_Memo")->toPlainText(), QStringLiteral("a*b"));
        QCOMPARE(child<QPlainTextEdit>(&window, "NewText_Memo")->toPlainText(), QStringLiteral("{$1}"));
        QVERIFY(child<QCheckBox>(&window, "ResultIsPattern_Chk")->isChecked());
        QVERIFY(!child<QCheckBox>(&window, "SubFolders_Chk")->isChecked());

        quillet::gui::MainWindow other;
        QVERIFY_THROWS_EXCEPTION(quillet::Error,
                                 other.applyStartOptions(ParseStartOptions({"quillet", dir.filePath("none")})));
        QCOMPARE(child<QLineEdit>(&other, "Mask_Edt")->text(), QStringLiteral("*.htm"));
    }
};

QTEST_MAIN(StartOptionsTest)
#include "start_options_test.moc"
