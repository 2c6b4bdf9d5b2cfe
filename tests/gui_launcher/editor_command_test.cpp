// Tests of the command that opens a file at a line in the user's editor:
// each kind of editor's way of naming the line, editors that need a terminal,
// and paths that a shell would split or expand.
#include "editor_command.h"

#include <QTest>

using namespace quillet::gui;

class EditorCommandTest : public QObject {
    Q_OBJECT

private slots:
    void commandOpensTheFileAtTheLine_data() {
        QTest::addColumn<QString>("editor");
        QTest::addColumn<QString>("terminal");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("command"); // program and arguments; empty: none
        const QString plain = QStringLiteral("/w/a.htm");
        const QString awkward = QStringLiteral("/w/My \"Pages\"/$HOME it's.htm");
        QTest::newRow("vim in a terminal") << "vim"
                                           << "xterm" << plain << QStringList{"xterm", "-e", "vim", "+7", plain};
        QTest::newRow("editor with words, terminal with words")
            << "/usr/bin/nvim -u NONE"
            << "alacritty --class ed" << plain
            << QStringList{"alacritty", "--class", "ed", "-e", "/usr/bin/nvim", "-u", "NONE", "+7", plain};
        QTest::newRow("quoted editor path")
            << "\"/opt/my tools/hx\""
            << "xterm" << plain << QStringList{"xterm", "-e", "/opt/my tools/hx", "+7", plain};
        QTest::newRow("awkward path as one argument")
            << "nano"
            << "xterm" << awkward << QStringList{"xterm", "-e", "nano", "+7", awkward};
        QTest::newRow("terminal editor without a terminal") << "micro"
                                                            << "" << plain << QStringList{};
        QTest::newRow("kak") << "kak"
                             << "xterm" << plain << QStringList{"xterm", "-e", "kak", "+7", plain};
        QTest::newRow("gvim needs no terminal") << "gvim"
                                                << "" << plain << QStringList{"gvim", "+7", plain};
        QTest::newRow("emacs draws a window") << "emacs"
                                              << "" << plain << QStringList{"emacs", "+7", plain};
        QTest::newRow("emacs -nw stays in a terminal")
            << "emacs -nw"
            << "xterm" << plain << QStringList{"xterm", "-e", "emacs", "-nw", "+7", plain};
        QTest::newRow("emacsclient -c") << "emacsclient -c"
                                        << "" << plain << QStringList{"emacsclient", "-c", "+7", plain};
        QTest::newRow("emacsclient without a frame") << "emacsclient"
                                                     << "" << plain << QStringList{};
        QTest::newRow("code") << "code --wait"
                              << "" << awkward << QStringList{"code", "--wait", "--goto", awkward + ":7"};
        QTest::newRow("codium") << "/usr/bin/codium"
                                << "" << plain << QStringList{"/usr/bin/codium", "--goto", plain + ":7"};
        QTest::newRow("gedit") << "gedit"
                               << "" << plain << QStringList{"gedit", plain, "+7"};
        QTest::newRow("kate") << "kate"
                              << "" << plain << QStringList{"kate", "--line", "7", plain};
        QTest::newRow("subl") << "subl -w"
                              << "" << plain << QStringList{"subl", "-w", plain + ":7"};
        QTest::newRow("unknown editor") << "ed"
                                        << "xterm" << plain << QStringList{};
        QTest::newRow("name that only ends like one") << "notvim"
                                                      << "xterm" << plain << QStringList{};
        QTest::newRow("no editor") << ""
                                   << "xterm" << plain << QStringList{};
        QTest::newRow("blank editor") << "   "
                                      << "xterm" << plain << QStringList{};
    }

    void commandOpensTheFileAtTheLine() {
        QFETCH(QString, editor);
        QFETCH(QString, terminal);
        QFETCH(QString, path);
        QFETCH(QStringList, command);
        const std::optional<EditorCommand> got = editorCommandAt(editor, terminal, path, 7);
        QStringList shown;
        if (got)
            shown = QStringList{got->Program} + got->Arguments;
        QCOMPARE(shown, command);
    }

    void noLineNoCommand() { QVERIFY(!editorCommandAt(QStringLiteral("gvim"), {}, QStringLiteral("/w/a"), 0)); }

    void environmentNamesTheEditorAndTheTerminal() {
        qputenv("VISUAL", "gvim");
        qputenv("EDITOR", "nano");
        QCOMPARE(editorFromEnvironment(), QStringLiteral("gvim"));
        qunsetenv("VISUAL");
        QCOMPARE(editorFromEnvironment(), QStringLiteral("nano"));
        qputenv("TERMINAL", "foot");
        QCOMPARE(terminalFromEnvironment(), QStringLiteral("foot"));
        // Without $TERMINAL, only a system terminal on the PATH counts.
        qunsetenv("TERMINAL");
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        QCOMPARE(terminalFromEnvironment(), QString());
        qputenv("PATH", path);
        qunsetenv("EDITOR");
    }
};

QTEST_MAIN(EditorCommandTest)
#include "editor_command_test.moc"
