// quillet_window_run: times runs of the real window, offscreen, for the
// benchmarks. Each run makes a fresh window, fills it in as "quillet ARGS"
// would, chooses the operation, clicks Execute and waits for the final
// message; the time from the click to the message is the run's.
//
//   quillet_window_run [--runs N] [--operation K] ARGS...
//
// K is the operation's position in the window's list (0 Only Search, 1
// Replace Text, ...; default 0); ARGS are the window program's (see
// src/gui/start_options.h), e.g. --dir D --subfolders --mask '*' --pattern x.
// Prints each run's seconds and their median, and the final message.
#include "main_window.h"
#include "start_options.h"
#include "user_dialogs.h"

#include "core/upper_table.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <exception>
#include <vector>

namespace {

// Records the final message and ends the wait; no box is shown.
class FinalMessage final : public quillet::gui::UserDialogs {
public:
    QString text;
    QEventLoop* loop = nullptr;

    void showError(QWidget*, const QString& message) override { finish(QStringLiteral("error: ") + message); }
    void showInformation(QWidget*, const QString& message) override { finish(message); }
    QString askText(QWidget*, const QString&, const QString&, const QString& initial) override { return initial; }
    QString askOpenFileName(QWidget*, const QString&) override { return {}; }

private:
    void finish(const QString& message) {
        text = message;
        if (loop)
            loop->quit();
    }
};

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_CTYPE, "");
    quillet::core::BuildUpperTable();

    int runs = 1;
    int operation = 0;
    QStringList windowArguments{QStringLiteral("quillet")};
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--runs") && i + 1 < arguments.size())
            runs = std::max(1, arguments.at(++i).toInt());
        else if (arguments.at(i) == QLatin1String("--operation") && i + 1 < arguments.size())
            operation = arguments.at(++i).toInt();
        else
            windowArguments << arguments.at(i);
    }

    quillet::gui::StartOptions options;
    try {
        options = quillet::gui::ParseStartOptions(windowArguments);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillet_window_run: %s\n", error.what());
        return 2;
    }

    FinalMessage final;
    quillet::gui::setUserDialogs(&final);
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        quillet::gui::MainWindow window;
        window.show();
        window.applyStartOptions(options);
        auto* button = window.findChild<QRadioButton*>(QStringLiteral("SROperation_Rdg_%1").arg(operation));
        if (!button) {
            std::fprintf(stderr, "quillet_window_run: no operation %d\n", operation);
            return 2;
        }
        button->click();
        QApplication::processEvents();

        QEventLoop loop;
        final.loop = &loop;
        final.text.clear();
        QElapsedTimer clock;
        clock.start();
        window.findChild<QPushButton*>(QStringLiteral("Execute_Btn"))->click();
        if (final.text.isEmpty())
            loop.exec();
        seconds.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        std::printf("run %d: %.3f s  %s\n", run + 1, seconds.back(), qPrintable(final.text));
    }
    quillet::gui::setUserDialogs(nullptr);
    std::sort(seconds.begin(), seconds.end());
    std::printf("median: %.3f s over %d runs\n", seconds[seconds.size() / 2], runs);
    return 0;
}
