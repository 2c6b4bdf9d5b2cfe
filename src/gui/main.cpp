// quillet: the window program. Starts the application, shows the main window
// (with the fields its command line gives filled in, see start_options.h)
// and runs the event loop until the window is closed.
//
// "quillet --screenshot FILE [--page N]" shows the window (page N of the
// three, 0 by default), saves its picture to FILE once it is painted, and
// ends: the project's screenshot script uses it.
#include "application.h"
#include "main_window.h"
#include "start_options.h"
#include "user_dialogs.h"

#include "core/upper_table.h"
#include "engine/fs/rewrite.h"

#include <QStyleFactory>
#include <QTabWidget>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <optional>

int main(int argc, char* argv[]) {
    // While no thread shares the table (Qt starts its own).
    quillet::engine::GrowDescriptorTable();
    quillet::gui::Application app(argc, argv);
    // Case folding follows the user's locale; the table is built before any search.
    // Before any of the program's own threads (runs, listings) start, so that
    // no locale-dependent call races with it.
    std::setlocale(LC_CTYPE, ""); // NOLINT(concurrency-mt-unsafe)
    quillet::core::BuildUpperTable();
    // The layout holds fixed positions; Fusion draws the same on every desktop.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(style);

    const std::optional<quillet::gui::StartOptions> parsed =
        quillet::gui::StartOptionsOrReport(QCoreApplication::arguments());
    if (!parsed)
        return 2;
    const quillet::gui::StartOptions& options = *parsed;
    if (!options.PrintAndExit.isEmpty()) {
        std::fputs(options.PrintAndExit.toLocal8Bit().constData(), stdout);
        return 0;
    }

    quillet::gui::MainWindow window;
    window.show();
    // A folder that does not exist is reported over the shown window, whose
    // other fields are filled in all the same.
    quillet::gui::runGuarded([&] { window.applyStartOptions(options); });
    if (!options.Screenshot.isEmpty()) {
        if (auto* pages = window.findChild<QTabWidget*>(QStringLiteral("PC")))
            pages->setCurrentIndex(options.ScreenshotPage);
        const QString screenshot = options.Screenshot;
        QTimer::singleShot(800, &window, [&window, screenshot] {
            const bool saved = window.grab().save(screenshot);
            if (!saved)
                std::fprintf(stderr, "quillet: cannot write %s\n", qPrintable(screenshot));
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
