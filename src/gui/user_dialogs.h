// The window's modal dialogs (message boxes, the input box, the open-file
// dialog) behind one seam, and the error box that every failure reaching the
// user ends in. The real dialogs block in their own event loop; tests install
// a fake that records what would have been shown and answers at once.
#pragma once

#include <QString>

#include <exception>

class QWidget;

namespace quillet::gui {

// The title of every message box: the application's title.
inline constexpr const char* kAppTitle = "Quillet";

class UserDialogs {
public:
    virtual ~UserDialogs();
    // Modal box titled kAppTitle with the error icon and one OK button.
    virtual void showError(QWidget* parent, const QString& text) = 0;
    // Modal box titled kAppTitle with the information icon and one OK button.
    virtual void showInformation(QWidget* parent, const QString& text) = 0;
    // The input box: returns the text entered, or `initial` when cancelled.
    virtual QString askText(QWidget* parent, const QString& title, const QString& prompt, const QString& initial) = 0;
    // The open-file dialog with Qt filter text ("Text Files(*.txt);;All
    // Files(*)"); the chosen file's path, or empty when cancelled.
    virtual QString askOpenFileName(QWidget* parent, const QString& filter) = 0;
    // Modal box titled kAppTitle with the question icon and the buttons OK
    // and Cancel, Cancel the default; whether OK was chosen. The real box
    // unless overridden, so fakes written before it keep compiling.
    virtual bool askConfirmation(QWidget* parent, const QString& text);
};

// The dialogs in use: the real ones unless a test installed others.
UserDialogs& userDialogs();
// Installs `dialogs` (not owned); nullptr restores the real ones.
void setUserDialogs(UserDialogs* dialogs);

// The text of the error box for a failure's message: the message with "."
// appended when its last character sorts after "." (so "No such file"
// gets a full stop, while "Done!" and "x." stay as they are).
QString errorBoxText(const QString& message);

// A failure's message as the user reads it (file names are bytes in the
// system's encoding).
QString errorMessage(const std::exception& error);

// Shows the error box for `error` over the active window.
void showErrorBox(const std::exception& error);

// Runs `action`; a failure it throws is shown in the error box instead of
// reaching Qt's event loop, and the program goes on. Every handler of the
// window runs this way.
template <typename Action>
void runGuarded(Action&& action) {
    try {
        action();
    } catch (const std::exception& error) {
        showErrorBox(error);
    }
}

} // namespace quillet::gui
