// The application's last line of defence: a failure that escapes an event
// handler is shown in the error box, and the event loop goes on.
#include "application.h"
#include "user_dialogs.h"

#include "core/error.h"

#include <QEvent>
#include <QTest>

namespace {

class RecordingDialogs : public quillet::gui::UserDialogs {
public:
    QStringList errors;
    void showError(QWidget*, const QString& text) override { errors << text; }
    void showInformation(QWidget*, const QString&) override {}
    QString askText(QWidget*, const QString&, const QString&, const QString& initial) override { return initial; }
    QString askOpenFileName(QWidget*, const QString&) override { return {}; }
};

// Throws from its event handler, as a handler that fails would.
class Failing : public QObject {
public:
    std::string message;
    int handled = 0;

protected:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        ++handled;
        if (!message.empty())
            throw quillet::Error(message);
        return true;
    }
};

} // namespace

class ApplicationTest : public QObject {
    Q_OBJECT

private slots:
    void failuresReachTheErrorBoxAndTheLoopGoesOn() {
        RecordingDialogs dialogs;
        quillet::gui::setUserDialogs(&dialogs);
        Failing target;
        const struct {
            std::string message;
            QString shown;
        } cases[] = {
            {"Cannot open file \"/x\". No such file or directory",
             "Cannot open file \"/x\". No such file or directory."},
            {"'abc' is not a valid integer value", "'abc' is not a valid integer value."},
            {"Unable to run /a b.exe ", "Unable to run /a b.exe "}, // a blank sorts before "."
            {"Done.", "Done."},
        };
        for (const auto& c : cases) {
            target.message = c.message;
            QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
            QCoreApplication::processEvents();
            QCOMPARE(dialogs.errors.last(), c.shown);
        }
        // The loop still delivers events after the failures.
        target.message.clear();
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        QCOMPARE(target.handled, 5);
        QCOMPARE(dialogs.errors.size(), 4);
        quillet::gui::setUserDialogs(nullptr);
    }
};

int main(int argc, char** argv) {
    quillet::gui::Application app(argc, argv);
    ApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "application_test.moc"
