// The shell launcher of the window: opens whatever a link of the window points
// at (the web site label and icon, the e-mail and home-page buttons, F1, the
// directory list's "Open", a double-click in the file list) by handing it to a
// program, the user's web browser, or the desktop's default handler.
//
// Layer: gui. Depends on Qt Core/Gui (QProcess, QDesktopServices) and on
// quillet::Error for the one failure it reports. Nothing here waits for the
// started program, and nothing here touches a window.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>

namespace quillet::gui {

// The seam between the launcher and the outside world. The real back end
// starts programs with QProcess::startDetached (no shell) and opens addresses
// with QDesktopServices::openUrl; tests install a fake that records the calls,
// so that no browser or program is ever started from a test.
class LauncherBackend {
public:
    virtual ~LauncherBackend();
    // Starts `program` with `arguments`, detached; false when it could not start.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
    // Hands `url` to the desktop's default handler; false when none took it.
    virtual bool openUrl(const QUrl& url) = 0;
};

// Installs `backend` (not owned; it must outlive its use). nullptr restores
// the real back end.
void setLauncherBackend(LauncherBackend* backend);

// Chooses a launcher by looking at Target, lower-cased (A-Z only) and trimmed
// of characters below 33; the launchers get Target and Parameters unchanged:
//   1. empty or blank                 -> nothing happens;
//   2. contains ".exe"                -> RunProgram(Target + " " + Parameters)
//                                        (an empty Parameters leaves a trailing blank);
//   3. names an existing file/folder  -> ShellOpen(Target, Parameters)
//                                        (every local path holds "/", which would
//                                        otherwise send folders to the browser);
//   4. contains "http:", "/", "www."  -> OpenInBrowser(Target);
//   5. anything else                  -> ShellOpen(Target, Parameters).
// The tests are plain substring searches: "http://x/y.exe" is run as a program.
// Errors of RunProgram pass through. Returns whether a program, browser or
// handler took the target (false for a blank one), so that the window can
// offer its own help window when nothing on the desktop can show the manual.
bool OpenTarget(const QString& target, const QString& parameters = {});

// Starts a program, detached and without a shell. The command line is split
// into words at blanks, double quotes grouping words and three double quotes
// standing for one (QProcess::splitCommand); when it does
// not begin with a double quote and the text up to and including its first
// ".exe" names an existing file, that text is the program even if it holds
// blanks. Throws quillet::Error("Unable to run " + commandLine) when nothing
// can be started (an empty command line included).
void RunProgram(const QString& commandLine);

// Shows `url` in the user's web browser: the first program of $BROWSER (a
// ":"-separated list of commands) that starts, given the address as its last
// argument or in place of every "%s" of its command ("%%" is a plain "%");
// without $BROWSER, or when none of its programs starts, the desktop's default
// handler for the address (a bare "www.x" becomes http://www.x, an absolute
// path a file:// URL). Never throws; a failure to open gives no message, only
// the result false.
bool OpenInBrowser(const QString& url);

// The desktop's "open" on a path or a link. One pair of double quotes around
// the target is removed first (the window wraps its mailto: link in them); the
// target is never split at a blank ("/home/me/My Pages" opens that folder).
// A target with a URL scheme ("mailto:", "file:", ...) is opened as that URL,
// anything else as a local path (relative to the current directory). The
// default handler takes no parameters, so `parameters` is not passed on; no
// caller of the window gives any. A blank target does nothing. Returns
// whether the desktop's handler took the target; no message either way.
bool ShellOpen(const QString& target, const QString& parameters = {});

// Hands an existing local file or folder to the desktop's default handler,
// never to a program or a browser whatever its name holds (unlike
// OpenTarget, for which "setup.exe.txt" is a program). Returns whether the
// handler took it; false for a blank path.
bool OpenWithDesktop(const QString& path);

// Opens the existing file `path` at `line` (1-based) in the user's editor,
// when the environment names one that can jump to a line and can show it
// (editor_command.h), started detached through the back end; otherwise,
// or when that editor does not start, as OpenWithDesktop does. Returns
// whether the editor or the desktop's handler took the file.
bool OpenFileAtLine(const QString& path, std::int64_t line);

// The resource path of the copy of the manual built into the program; the
// window's help window shows it when no file of the manual is found.
inline constexpr const char* kBundledManual = ":/help/manual.html";
inline constexpr const char* kBundledManualUrl = "qrc:/help/manual.html";

// The user manual's file, never from a path of the machine it was built on
// compiled into the program: the file $QUILLET_MANUAL names, else the
// installed one (<prefix>/share/doc/quillet/manual.html beside <prefix>/bin,
// so packages and `cmake --install --prefix` work), else, for a program in
// its build tree, the one named by the file quillet-manual.path that
// configuring wrote beside it. Empty when none exists (or before the
// application object exists).
QString manualPath();
// The file:// URL of manualPath(); kBundledManualUrl when it is empty.
QString manualUrl();
// The caption of the window's web site link: the configured web site, or a
// short caption of our own when the link leads to the manual.
QString websiteCaption();

// The build-time addresses (quillet_config.h); the web site and home page fall
// back to manualUrl() when configured empty, so that help works offline.
QString websiteUrl();
QString homePageUrl();
QString supportEmail();
// "\"mailto:<support e-mail>?subject=About Quillet\"", quotes included, as the
// window's e-mail button hands it to OpenTarget.
QString supportEmailLink();

} // namespace quillet::gui
