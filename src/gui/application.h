// The application object of the window program. Every event passes through
// notify(), the one place where a failure that escaped a handler can still be
// caught before it would cross Qt's event loop: it is shown in the error box
// and the program goes on with the next event.
#pragma once

#include <QApplication>

namespace quillet::gui {

class Application : public QApplication {
    Q_OBJECT

public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace quillet::gui
