#include "user_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace quillet::gui {

UserDialogs::~UserDialogs() = default;

bool UserDialogs::askConfirmation(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok | QMessageBox::Cancel,
                    parent);
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

// Implementation details only, past this point.
namespace detail {
namespace {

class QtDialogs final : public UserDialogs {
public:
    void showError(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok, parent);
        box.exec();
    }
    void showInformation(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Information, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok, parent);
        box.exec();
    }
    QString askText(QWidget* parent, const QString& title, const QString& prompt, const QString& initial) override {
        bool ok = false;
        const QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, initial, &ok);
        return ok ? text : initial;
    }
    QString askOpenFileName(QWidget* parent, const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
    }
};

QtDialogs g_qtDialogs;
UserDialogs* g_dialogs = &g_qtDialogs;

} // namespace
} // namespace detail

UserDialogs& userDialogs() {
    return *detail::g_dialogs;
}

void setUserDialogs(UserDialogs* dialogs) {
    detail::g_dialogs = dialogs ? dialogs : &detail::g_qtDialogs;
}

QString errorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

QString errorMessage(const std::exception& error) {
    return QString::fromLocal8Bit(error.what());
}

void showErrorBox(const std::exception& error) {
    userDialogs().showError(QApplication::activeWindow(), errorBoxText(errorMessage(error)));
}

} // namespace quillet::gui
