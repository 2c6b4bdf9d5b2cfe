// quillet: the window program. Starts the application, shows the main window
// and runs the event loop until the window is closed.
//
// "quillet --screenshot FILE [--page N]" shows the window (page N of the
// three, 0 by default), saves its picture to FILE once it is painted, and
// ends: the project's screenshot script uses it.
#include "application.h"
#include "main_window.h"

#include "core/upper_table.h"

#include <QStyleFactory>
#include <QTabWidget>
#include <QTimer>

#include <clocale>
#include <cstdio>

int main(int argc, char* argv[]) {
    quillet::gui::Application app(argc, argv);
    // Case folding follows the user's locale; the table is built before any search.
    std::setlocale(LC_CTYPE, "");
    quillet::core::BuildUpperTable();
    // The layout holds fixed positions; Fusion draws the same on every desktop.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(style);

    QString screenshot;
    int page = 0;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--screenshot"))
            screenshot = arguments.at(i + 1);
        else if (arguments.at(i) == QLatin1String("--page"))
            page = arguments.at(i + 1).toInt();
    }

    quillet::gui::MainWindow window;
    window.show();
    if (!screenshot.isEmpty()) {
        if (auto* pages = window.findChild<QTabWidget*>(QStringLiteral("PC")))
            pages->setCurrentIndex(page);
        QTimer::singleShot(800, &window, [&window, screenshot] {
            const bool saved = window.grab().save(screenshot);
            if (!saved)
                std::fprintf(stderr, "quillet: cannot write %s\n", qPrintable(screenshot));
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
