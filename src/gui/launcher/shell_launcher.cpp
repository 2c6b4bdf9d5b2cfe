#include "shell_launcher.h"

#include "core/error.h"
#include "editor_command.h"
#include "quillet_config.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

namespace quillet::gui {

LauncherBackend::~LauncherBackend() = default;

// Implementation details only, past this point.
namespace detail {
namespace {

class SystemBackend final : public LauncherBackend {
public:
    bool startDetached(const QString& program, const QStringList& arguments) override {
        return QProcess::startDetached(program, arguments);
    }
    bool openUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

SystemBackend g_systemBackend;
LauncherBackend* g_backend = &g_systemBackend;

QString trimmedBelow33(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() < 33)
        ++first;
    while (last > first && text.at(last - 1).unicode() < 33)
        --last;
    return text.mid(first, last - first);
}

// The dispatch looks at letters A to Z only (other characters keep their case)
// and drops blanks and control characters at both ends.
QString dispatchKey(const QString& target) {
    QString key = trimmedBelow33(target);
    for (QChar& c : key) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return key;
}

bool namesExistingPath(const QString& target) {
    return !target.isEmpty() && QFileInfo::exists(target);
}

// "firefox %s" -> {"firefox", url}; "%%" stands for a plain "%".
QStringList browserCommand(const QString& entry, const QString& url) {
    QStringList words = QProcess::splitCommand(entry);
    bool placed = false;
    for (QString& word : words) {
        if (!word.contains(QLatin1Char('%')))
            continue;
        QString expanded;
        for (qsizetype i = 0; i < word.size(); ++i) {
            if (word.at(i) == QLatin1Char('%') && i + 1 < word.size()) {
                if (word.at(i + 1) == QLatin1Char('s')) {
                    expanded += url;
                    placed = true;
                    ++i;
                    continue;
                }
                if (word.at(i + 1) == QLatin1Char('%')) {
                    expanded += QLatin1Char('%');
                    ++i;
                    continue;
                }
            }
            expanded += word.at(i);
        }
        word = expanded;
    }
    if (!words.isEmpty() && !placed)
        words.append(url);
    return words;
}

bool hasUrlScheme(const QString& text) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(text).hasMatch();
}

} // namespace
} // namespace detail

void setLauncherBackend(LauncherBackend* backend) {
    detail::g_backend = backend != nullptr ? backend : &detail::g_systemBackend;
}

bool OpenTarget(const QString& target, const QString& parameters) {
    const QString key = detail::dispatchKey(target);
    if (key.isEmpty())
        return false;
    if (key.contains(QLatin1String(".exe"))) {
        RunProgram(target + QLatin1Char(' ') + parameters);
        return true;
    }
    if (detail::namesExistingPath(target))
        return ShellOpen(target, parameters);
    if (key.contains(QLatin1String("http:")) || key.contains(QLatin1Char('/')) || key.contains(QLatin1String("www.")))
        return OpenInBrowser(target);
    return ShellOpen(target, parameters);
}

void RunProgram(const QString& commandLine) {
    QStringList words;
    // An unquoted program path with blanks ("/opt/My Tools/app.exe -x") would
    // be cut at its first blank by the quoting rules; take the whole path when
    // it names a file.
    const QString line = detail::trimmedBelow33(commandLine);
    const qsizetype exe = line.indexOf(QLatin1String(".exe"), 0, Qt::CaseInsensitive);
    if (!line.startsWith(QLatin1Char('"')) && exe > 0) {
        const QString program = line.left(exe + 4);
        if (program.contains(QLatin1Char(' ')) && QFileInfo(program).isFile()) {
            words = QProcess::splitCommand(line.mid(exe + 4));
            words.prepend(program);
        }
    }
    if (words.isEmpty())
        words = QProcess::splitCommand(commandLine);
    if (words.isEmpty() || words.front().isEmpty()) {
        throw Error("Unable to run " + commandLine.toStdString());
    }
    const QString program = words.takeFirst();
    if (!detail::g_backend->startDetached(program, words))
        throw Error("Unable to run " + commandLine.toStdString());
}

bool OpenInBrowser(const QString& url) {
    if (detail::trimmedBelow33(url).isEmpty())
        return false;
    const QString browsers = qEnvironmentVariable("BROWSER");
    for (const QString& entry : browsers.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        QStringList command = detail::browserCommand(entry, url);
        if (command.isEmpty())
            continue;
        const QString program = command.takeFirst();
        if (detail::g_backend->startDetached(program, command))
            return true;
    }
    return detail::g_backend->openUrl(QUrl::fromUserInput(url));
}

bool ShellOpen(const QString& target, const QString& parameters) {
    Q_UNUSED(parameters)
    QString file = target;
    const QString trimmed = detail::trimmedBelow33(target);
    if (trimmed.isEmpty())
        return false;
    if (trimmed.size() >= 2 && trimmed.startsWith(QLatin1Char('"')) && trimmed.endsWith(QLatin1Char('"')))
        file = trimmed.mid(1, trimmed.size() - 2);
    if (detail::trimmedBelow33(file).isEmpty())
        return false;
    if (!detail::namesExistingPath(file) && detail::hasUrlScheme(file))
        return detail::g_backend->openUrl(QUrl(file, QUrl::TolerantMode));
    return detail::g_backend->openUrl(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
}

bool OpenWithDesktop(const QString& path) {
    if (detail::trimmedBelow33(path).isEmpty())
        return false;
    return detail::g_backend->openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

bool OpenFileAtLine(const QString& path, std::int64_t line) {
    if (detail::trimmedBelow33(path).isEmpty())
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const std::optional<EditorCommand> editor =
        editorCommandAt(editorFromEnvironment(), terminalFromEnvironment(), absolute, line);
    if (editor && detail::g_backend->startDetached(editor->Program, editor->Arguments))
        return true;
    return OpenWithDesktop(absolute);
}

QString manualPath() {
    if (QCoreApplication::instance() == nullptr)
        return {};
    const QString chosen = qEnvironmentVariable("QUILLET_MANUAL");
    if (!chosen.isEmpty() && QFileInfo(chosen).isFile())
        return QFileInfo(chosen).absoluteFilePath();
    const QDir programDir(QCoreApplication::applicationDirPath());
    QString installed = QDir::cleanPath(programDir.filePath(QStringLiteral(QUILLET_BINDIR_TO_MANUAL)));
    if (QFileInfo(installed).isFile())
        return installed;
    // A program in its build tree: configuring wrote where the source
    // tree's manual is beside it.
    QFile pointer(programDir.filePath(QStringLiteral("quillet-manual.path")));
    if (pointer.open(QIODevice::ReadOnly)) {
        QString source = QFile::decodeName(pointer.readLine(4096).trimmed());
        if (!source.isEmpty() && QFileInfo(source).isFile())
            return source;
    }
    return {};
}

QString manualUrl() {
    const QString path = manualPath();
    return path.isEmpty() ? QString::fromLatin1(kBundledManualUrl) : QUrl::fromLocalFile(path).toString();
}

QString websiteCaption() {
    const QString configured = QStringLiteral(QUILLET_WEBSITE);
    return configured.isEmpty() ? QStringLiteral("Quillet user manual") : configured;
}

QString websiteUrl() {
    const QString configured = QStringLiteral(QUILLET_WEBSITE);
    return configured.isEmpty() ? manualUrl() : configured;
}

QString homePageUrl() {
    const QString configured = QStringLiteral(QUILLET_HOMEPAGE);
    return configured.isEmpty() ? manualUrl() : configured;
}

QString supportEmail() {
    return QStringLiteral(QUILLET_SUPPORT_EMAIL);
}

QString supportEmailLink() {
    return QStringLiteral("\"mailto:") + supportEmail() + QStringLiteral("?subject=About Quillet\"");
}

} // namespace quillet::gui
