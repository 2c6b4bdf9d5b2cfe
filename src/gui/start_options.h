// What the window program's command line asks for: a run's fields filled in
// at start, so that a file manager or a script can open the window on a
// folder. Every start still shows the layout's defaults for whatever is not
// given: nothing is saved between runs of the program.
//
//   quillet [DIR]
//   quillet [--dir DIR] [--mask MASK] [--subfolders] [--pattern TEXT] [--new-text TEXT]
//   quillet -h | --help | --version
//
// Layer: gui. Parsing is pure: it touches neither the file system nor a
// window; only StartOptionsOrReport shows a refusal in the error box.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace quillet::gui {

struct StartOptions {
    std::optional<QString> Directory; // the folder of the File page
    std::optional<QString> Mask;      // the file-name mask
    bool SubFolders = false;          // tick "Include Sub Folders"
    std::optional<QString> Pattern;   // the search pattern
    std::optional<QString> NewText;   // the new text
    // For the project's screenshot script: save the window's picture of
    // page ScreenshotPage to this file once it is painted, then end.
    QString Screenshot;
    int ScreenshotPage = 0;
    // --help and --version: print, then end without a window.
    QString PrintAndExit;
};

// Parses the program's arguments (the program's name first, as
// QCoreApplication::arguments() gives them). "--opt value" and "--opt=value"
// are both understood. Throws quillet::Error with the user's text for an
// unknown option, a missing value, a second folder ("quillet A --dir B") or a
// page that is not 0, 1 or 2.
StartOptions ParseStartOptions(const QStringList& arguments);

// Parses as ParseStartOptions does. A refusal is printed on standard error as
// "quillet: <message>" and shown in the error box as well (a program started
// from a launcher or a file manager has no terminal to read), and nothing is
// returned: the program then ends.
std::optional<StartOptions> StartOptionsOrReport(const QStringList& arguments);

// The --help text.
QString StartUsage();

} // namespace quillet::gui
