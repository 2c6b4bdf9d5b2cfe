// Opening a file at a line in the user's own editor: the command that does
// it, built from the editor the environment names ($VISUAL, then $EDITOR)
// and, for an editor that runs in a terminal, the terminal emulator it names
// ($TERMINAL, else the system's x-terminal-emulator). Plain logic on strings:
// the command is a program and its arguments, started without a shell, so a
// path with blanks, quotes or '$' reaches the editor as it is.
//
// Layer: gui (launcher). Qt Core only.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quillet::gui {

struct EditorCommand {
    QString Program;
    QStringList Arguments;

    bool operator==(const EditorCommand&) const = default;
};

// The command that opens `path` (absolute: a relative one could read as an
// option) at `line` (1-based) in `editor`, a command line such as "vim",
// "emacs -nw" or "/opt/code/bin/code --wait" (split as QProcess::splitCommand
// does: blanks separate words, double quotes group them). The editor's own
// words come first, then its way of naming a line, by the program's file
// name:
//   vi, vim, nvim, gvim, nano, micro, kak, hx, helix, emacs, emacsclient
//                       +LINE PATH
//   gedit               PATH +LINE
//   code, codium, code-oss, vscodium
//                       --goto PATH:LINE
//   subl, sublime_text  PATH:LINE
//   kate, kwrite        --line LINE PATH
// Editors that draw their own window (gvim, gedit, code, subl, kate,
// emacs unless given -nw, -t or --no-window-system, emacsclient only with -c
// or --create-frame) start as they are. The others run in a terminal: the
// command is then `terminal` -e EDITOR..., or none when `terminal` is empty.
// `terminal` is a command line too ("xterm", "alacritty --class ed").
// No command (nullopt) for an empty editor, an editor of no known kind, or a
// line below 1: the caller opens the file with the desktop's handler.
std::optional<EditorCommand> editorCommandAt(const QString& editor, const QString& terminal, const QString& path,
                                             std::int64_t line);

// The editor the environment names: $VISUAL, else $EDITOR; empty for none.
QString editorFromEnvironment();
// The terminal emulator: $TERMINAL, else "x-terminal-emulator" when a
// program of that name is on the PATH; empty for none.
QString terminalFromEnvironment();

} // namespace quillet::gui
