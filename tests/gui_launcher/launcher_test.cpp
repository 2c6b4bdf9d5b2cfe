// Tests of the shell launcher: which launcher each target reaches and what it
// is handed, through a fake back end that records the calls (so no browser or
// program is ever started), plus one real start of a missing program.
#include "shell_launcher.h"

#include "core/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <optional>

using namespace quillet::gui;

namespace {

// Records every call as one line: "run:<program>|<arg>|<arg>..." or
// "url:<fully encoded URL>". Programs listed in `failing` do not start.
class FakeBackend final : public LauncherBackend {
public:
    QStringList calls;
    QStringList failing;

    bool startDetached(const QString& program, const QStringList& arguments) override {
        calls << QStringLiteral("run:") + (QStringList{program} + arguments).join(QLatin1Char('|'));
        return !failing.contains(program);
    }
    bool openUrl(const QUrl& url) override {
        calls << QStringLiteral("url:") + url.toString(QUrl::FullyEncoded);
        return true;
    }
};

// Sets or unsets $BROWSER for one test and puts the old value back.
class BrowserVariable {
public:
    explicit BrowserVariable(const std::optional<QByteArray>& value)
        : m_had(qEnvironmentVariableIsSet("BROWSER")), m_old(qgetenv("BROWSER")) {
        if (value)
            qputenv("BROWSER", *value);
        else
            qunsetenv("BROWSER");
    }
    ~BrowserVariable() {
        if (m_had)
            qputenv("BROWSER", m_old);
        else
            qunsetenv("BROWSER");
    }
    BrowserVariable(const BrowserVariable&) = delete;
    BrowserVariable& operator=(const BrowserVariable&) = delete;

private:
    bool m_had;
    QByteArray m_old;
};

QString fileUrl(const QString& path) {
    return QStringLiteral("url:") + QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

} // namespace

class LauncherTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    FakeBackend m_fake;

    // "@TMP@" in the tables stands for the test's temporary directory.
    QString expand(QString text) const { return text.replace(QStringLiteral("@TMP@"), m_tmp.path()); }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        QVERIFY(QDir(m_tmp.path()).mkpath(QStringLiteral("My Pages")));
        QVERIFY(QDir(m_tmp.path()).mkpath(QStringLiteral("www.site")));
        QVERIFY(QDir(m_tmp.path()).mkpath(QStringLiteral("Tool Box")));
        QFile index(m_tmp.path() + QStringLiteral("/www.site/index.htm"));
        QVERIFY(index.open(QIODevice::WriteOnly));
        QFile program(m_tmp.path() + QStringLiteral("/Tool Box/App.exe"));
        QVERIFY(program.open(QIODevice::WriteOnly));
    }

    void init() {
        m_fake.calls.clear();
        m_fake.failing.clear();
        setLauncherBackend(&m_fake);
    }

    void cleanup() { setLauncherBackend(nullptr); }

    void dispatch_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("parameters");
        QTest::addColumn<QStringList>("calls");

        // Programs: ".exe" anywhere, any case, wins over every other rule.
        QTest::newRow("capital EXE") << "/tmp/Tools/App.EXE"
                                     << "" << QStringList{"run:/tmp/Tools/App.EXE"};
        QTest::newRow("web address ending in .exe") << "http://x/y.exe"
                                                    << "" << QStringList{"run:http://x/y.exe"};
        QTest::newRow("parameters split by quoting rules")
            << "/usr/bin/tool.exe"
            << "-a \"b c\" d" << QStringList{"run:/usr/bin/tool.exe|-a|b c|d"};
        QTest::newRow("quoted program with blanks") << "\"/opt/My Tools/x.exe\" -v"
                                                    << "" << QStringList{"run:/opt/My Tools/x.exe|-v"};
        QTest::newRow("existing unquoted program with blank")
            << "@TMP@/Tool Box/App.exe"
            << "--go" << QStringList{"run:@TMP@/Tool Box/App.exe|--go"};
        // Web addresses: "http:", "/" or "www." after lower-casing and trimming.
        QTest::newRow("leading blanks before http") << "  http://x"
                                                    << "" << QStringList{"url:http://x"};
        QTest::newRow("HTTP in capitals") << "HTTP://example.org/a"
                                          << "" << QStringList{"url:http://example.org/a"};
        QTest::newRow("bare www") << "www.example.org"
                                  << "" << QStringList{"url:http://www.example.org"};
        QTest::newRow("missing local path") << "/nonexistent/dir/page.htm"
                                            << "" << QStringList{"url:file:///nonexistent/dir/page.htm"};
        QTest::newRow("file URL") << "file:///nonexistent/manual.html"
                                  << "ignored" << QStringList{"url:file:///nonexistent/manual.html"};
        // Existing files and folders: the desktop's default handler, whole path.
        QTest::newRow("existing folder with a blank") << "@TMP@/My Pages"
                                                      << "" << QStringList{fileUrl(m_tmp.path() + "/My Pages")};
        QTest::newRow("existing folder") << "@TMP@"
                                         << "" << QStringList{fileUrl(m_tmp.path())};
        QTest::newRow("existing file under www.") << "@TMP@/www.site/index.htm"
                                                  << "" << QStringList{fileUrl(m_tmp.path() + "/www.site/index.htm")};
        // Everything else: the desktop's "open".
        QTest::newRow("quoted mailto link")
            << "\"mailto:support@quillet.invalid?subject=About Quillet\""
            << "" << QStringList{"url:mailto:support@quillet.invalid?subject=About%20Quillet"};
        QTest::newRow("plain mailto link") << "mailto:me@example.org"
                                           << "" << QStringList{"url:mailto:me@example.org"};
        QTest::newRow("relative name") << "notes.txt"
                                       << "" << QStringList{fileUrl(QDir::currentPath() + "/notes.txt")};
        // Nothing to open.
        QTest::newRow("empty") << ""
                               << "" << QStringList{};
        QTest::newRow("blanks and controls") << " \t\r\n "
                                             << "x" << QStringList{};
        QTest::newRow("two quotes only") << "\"\""
                                         << "" << QStringList{};
    }

    void dispatch() {
        QFETCH(QString, target);
        QFETCH(QString, parameters);
        QFETCH(QStringList, calls);
        BrowserVariable browser(std::nullopt);
        for (QString& call : calls)
            call = expand(call);
        OpenTarget(expand(target), parameters);
        QCOMPARE(m_fake.calls, calls);
    }

    // A program that does not start reports the whole command line: target, one
    // blank, parameters (so an empty parameter list leaves a trailing blank).
    void runFailure_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("parameters");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("message");
        QTest::newRow("capital EXE") << "/tmp/Tools/App.EXE"
                                     << ""
                                     << "/tmp/Tools/App.EXE"
                                     << "Unable to run /tmp/Tools/App.EXE ";
        QTest::newRow("web address") << "http://x/y.exe"
                                     << ""
                                     << "http://x/y.exe"
                                     << "Unable to run http://x/y.exe ";
        QTest::newRow("with parameters") << "  a.exe"
                                         << "-q"
                                         << "a.exe"
                                         << "Unable to run   a.exe -q";
    }

    void runFailure() {
        QFETCH(QString, target);
        QFETCH(QString, parameters);
        QFETCH(QString, program);
        QFETCH(QString, message);
        m_fake.failing << program;
        try {
            OpenTarget(target, parameters);
            QFAIL("no error");
        } catch (const quillet::Error& error) {
            QCOMPARE(QString::fromStdString(error.what()), message);
        }
        QCOMPARE(m_fake.calls.size(), 1);
    }

    void runEmptyCommandLine() {
        for (const QString& line : {QString(), QStringLiteral("   "), QStringLiteral("\"\"")}) {
            try {
                RunProgram(line);
                QFAIL(qPrintable("no error for [" + line + "]"));
            } catch (const quillet::Error& error) {
                QCOMPARE(QString::fromStdString(error.what()), "Unable to run " + line);
            }
        }
        QVERIFY(m_fake.calls.isEmpty());
    }

    // The real back end: QProcess cannot start a missing program.
    void realMissingProgram() {
        setLauncherBackend(nullptr);
        try {
            OpenTarget(QStringLiteral("/nonexistent/prog.exe"));
            QFAIL("no error");
        } catch (const quillet::Error& error) {
            QCOMPARE(QString::fromStdString(error.what()), QStringLiteral("Unable to run /nonexistent/prog.exe "));
        }
    }

    void browserVariable_data() {
        QTest::addColumn<QByteArray>("browser");
        QTest::addColumn<QStringList>("failing");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("one program, untrimmed address")
            << QByteArray("mybrowser") << QStringList{} << "  http://x" << QStringList{"run:mybrowser|  http://x"};
        QTest::newRow("command with %s and %%") << QByteArray("w3m -o x=100%% %s") << QStringList{} << "http://x"
                                                << QStringList{"run:w3m|-o|x=100%|http://x"};
        QTest::newRow("first that starts")
            << QByteArray("nope:mybrowser --new-tab %s:other") << QStringList{"nope"} << "www.a.org"
            << QStringList{"run:nope|www.a.org", "run:mybrowser|--new-tab|www.a.org"};
        QTest::newRow("none starts: default handler")
            << QByteArray("a:b") << QStringList{"a", "b"} << "http://x"
            << QStringList{"run:a|http://x", "run:b|http://x", "url:http://x"};
        QTest::newRow("empty entries skipped")
            << QByteArray("::lynx:") << QStringList{} << "http://x" << QStringList{"run:lynx|http://x"};
        QTest::newRow("set but empty") << QByteArray("") << QStringList{} << "http://x" << QStringList{"url:http://x"};
        QTest::newRow("only separators") << QByteArray("::") << QStringList{} << "http://x"
                                         << QStringList{"url:http://x"};
    }

    void browserVariable() {
        QFETCH(QByteArray, browser);
        QFETCH(QStringList, failing);
        QFETCH(QString, url);
        QFETCH(QStringList, calls);
        BrowserVariable variable(browser);
        m_fake.failing = failing;
        OpenTarget(url);
        QCOMPARE(m_fake.calls, calls);
    }

    // The default addresses reach the right launcher: the manual in the
    // browser, the e-mail link on the desktop.
    void defaultAddresses() {
        BrowserVariable browser(std::nullopt);
        const QUrl manual(manualUrl());
        QVERIFY2(manual.isLocalFile(), qPrintable(manual.toString()));
        QVERIFY2(QFileInfo(manual.toLocalFile()).isFile(), qPrintable(manual.toString()));
        QCOMPARE(QFileInfo(manual.toLocalFile()).fileName(), QStringLiteral("manual.html"));

        OpenTarget(homePageUrl());
        OpenTarget(websiteUrl());
        OpenTarget(supportEmailLink());
        QCOMPARE(m_fake.calls.size(), 3);
        QVERIFY2(m_fake.calls.at(0).startsWith(QStringLiteral("url:")), qPrintable(m_fake.calls.at(0)));
        QVERIFY2(m_fake.calls.at(1).startsWith(QStringLiteral("url:")), qPrintable(m_fake.calls.at(1)));
        QCOMPARE(m_fake.calls.at(2), "url:mailto:" + supportEmail() + "?subject=About%20Quillet");
        QVERIFY(!supportEmail().isEmpty());
    }

    // The manual a user or a package names wins; a name of no file is
    // passed over.
    void manualFromTheEnvironment() {
        QTemporaryDir dir;
        const QString named = dir.filePath(QStringLiteral("my-manual.html"));
        QFile file(named);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString found = manualPath();
        qputenv("QUILLET_MANUAL", QFile::encodeName(named));
        const QString chosen = manualPath();
        qputenv("QUILLET_MANUAL", QFile::encodeName(dir.filePath(QStringLiteral("none.html"))));
        const QString missing = manualPath();
        qunsetenv("QUILLET_MANUAL");
        QCOMPARE(chosen, named);
        QCOMPARE(missing, found);
    }
};

QTEST_MAIN(LauncherTest)
#include "launcher_test.moc"
