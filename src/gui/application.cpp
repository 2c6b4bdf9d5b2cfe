#include "application.h"

#include "user_dialogs.h"

#include <exception>
#include <stdexcept>

namespace quillet::gui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    // Only the name: a display name would be appended to every window title
    // on X11 ("Quillet 1.3 — Quillet", with 1.3 the version).
    setApplicationName(QString::fromLatin1(kAppTitle));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        showErrorBox(error);
    } catch (...) {
        showErrorBox(std::runtime_error("Unknown error"));
    }
    return false;
}

} // namespace quillet::gui
