#include "editor_command.h"

#include "core/checks.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace quillet::gui {

// Implementation details only, past this point.
namespace detail {
namespace {

enum class LineStyle { PlusBefore, PlusAfter, Goto, Suffix, LineOption };

struct KnownEditor {
    const char* Name;
    LineStyle Style;
    bool Graphical;
};

constexpr KnownEditor kKnownEditors[] = {
    {"vi", LineStyle::PlusBefore, false},
    {"vim", LineStyle::PlusBefore, false},
    {"nvim", LineStyle::PlusBefore, false},
    {"gvim", LineStyle::PlusBefore, true},
    {"nano", LineStyle::PlusBefore, false},
    {"micro", LineStyle::PlusBefore, false},
    {"kak", LineStyle::PlusBefore, false},
    {"hx", LineStyle::PlusBefore, false},
    {"helix", LineStyle::PlusBefore, false},
    {"emacs", LineStyle::PlusBefore, true},
    {"emacsclient", LineStyle::PlusBefore, false},
    {"gedit", LineStyle::PlusAfter, true},
    {"code", LineStyle::Goto, true},
    {"codium", LineStyle::Goto, true},
    {"code-oss", LineStyle::Goto, true},
    {"vscodium", LineStyle::Goto, true},
    {"subl", LineStyle::Suffix, true},
    {"sublime_text", LineStyle::Suffix, true},
    {"kate", LineStyle::LineOption, true},
    {"kwrite", LineStyle::LineOption, true},
};

const KnownEditor* knownEditor(const QString& program) {
    const QString name = QFileInfo(program).fileName();
    for (const KnownEditor& editor : kKnownEditors) {
        if (name == QLatin1String(editor.Name))
            return &editor;
    }
    return nullptr;
}

// Emacs draws a window unless told to stay in the terminal; emacsclient
// reuses a running Emacs's terminal frame unless asked for a new frame.
bool drawsWindow(const KnownEditor& editor, const QStringList& words) {
    const QString name = QLatin1String(editor.Name);
    if (name == QLatin1String("emacs"))
        return !words.contains(QStringLiteral("-nw")) && !words.contains(QStringLiteral("-t")) &&
               !words.contains(QStringLiteral("--no-window-system"));
    if (name == QLatin1String("emacsclient"))
        return words.contains(QStringLiteral("-c")) || words.contains(QStringLiteral("--create-frame"));
    return editor.Graphical;
}

} // namespace
} // namespace detail

std::optional<EditorCommand> editorCommandAt(const QString& editor, const QString& terminal, const QString& path,
                                             std::int64_t line) {
    QUILLET_ASSERT(QFileInfo(path).isAbsolute(), "the path cannot be read as an option");
    QStringList words = QProcess::splitCommand(editor);
    if (words.isEmpty() || line < 1)
        return std::nullopt;
    const detail::KnownEditor* known = detail::knownEditor(words.front());
    if (known == nullptr)
        return std::nullopt;
    const bool graphical = detail::drawsWindow(*known, words);
    const QString number = QString::number(line);
    switch (known->Style) {
    case detail::LineStyle::PlusBefore:
        words << QLatin1Char('+') + number << path;
        break;
    case detail::LineStyle::PlusAfter:
        words << path << QLatin1Char('+') + number;
        break;
    case detail::LineStyle::Goto:
        words << QStringLiteral("--goto") << path + QLatin1Char(':') + number;
        break;
    case detail::LineStyle::Suffix:
        words << path + QLatin1Char(':') + number;
        break;
    case detail::LineStyle::LineOption:
        words << QStringLiteral("--line") << number << path;
        break;
    }
    if (!graphical) {
        QStringList terminalWords = QProcess::splitCommand(terminal);
        if (terminalWords.isEmpty())
            return std::nullopt;
        terminalWords << QStringLiteral("-e");
        words = terminalWords + words;
    }
    const QString program = words.takeFirst();
    return EditorCommand{program, words};
}

QString editorFromEnvironment() {
    const QString visual = qEnvironmentVariable("VISUAL").trimmed();
    return visual.isEmpty() ? qEnvironmentVariable("EDITOR").trimmed() : visual;
}

QString terminalFromEnvironment() {
    QString chosen = qEnvironmentVariable("TERMINAL").trimmed();
    if (!chosen.isEmpty())
        return chosen;
    const QString system = QStringLiteral("x-terminal-emulator");
    return QStandardPaths::findExecutable(system).isEmpty() ? QString() : system;
}

} // namespace quillet::gui
