// Shared by the window's Qt Test suites: recording fakes for the message
// boxes and the launcher's back end, so that nothing blocks and nothing is
// ever opened on the desktop, and small file helpers.
#pragma once

#include "launcher/shell_launcher.h"
#include "main_window.h"
#include "user_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRadioButton>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QUrl>
#include <QWidget>

#include <cstdlib>
#include <memory>

namespace quillet::testing {

class FakeDialogs final : public gui::UserDialogs {
public:
    QStringList errors;
    QStringList informations;

    void showError(QWidget*, const QString& text) override { errors << text; }
    void showInformation(QWidget*, const QString& text) override { informations << text; }
    QString askText(QWidget*, const QString&, const QString&, const QString& initial) override { return initial; }
    QString askOpenFileName(QWidget*, const QString&) override { return {}; }
};

class FakeBackend final : public gui::LauncherBackend {
public:
    QList<QUrl> urls;
    QStringList programs;
    // What the desktop answers: false stands for a machine with no browser
    // and no handler.
    bool succeeds = true;

    bool startDetached(const QString& program, const QStringList& arguments) override {
        programs << (QStringList{program} + arguments).join(QLatin1Char(' '));
        return succeeds;
    }
    bool openUrl(const QUrl& url) override {
        urls << url;
        return succeeds;
    }
};

inline void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

// The named child of `root`; the test ends when there is none.
template <typename T>
T* child(const QWidget* root, const char* name) {
    T* found = root->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

// What the window's tests share: the fake dialogs and launcher, put in place
// for the whole test case and emptied before each test, and a window that
// nothing has touched. A test class derives from QObject first and from this.
class WindowFixture {
protected:
    FakeDialogs m_dialogs;
    FakeBackend m_backend;
    std::unique_ptr<gui::MainWindow> m_window;

    // From initTestCase and cleanupTestCase.
    void installFakes() {
        QApplication::setStyle(QStringLiteral("Fusion"));
        gui::setUserDialogs(&m_dialogs);
        gui::setLauncherBackend(&m_backend);
    }
    void removeFakes() {
        gui::setUserDialogs(nullptr);
        gui::setLauncherBackend(nullptr);
    }
    // From init.
    void resetFakes() {
        m_dialogs = {};
        m_backend.urls.clear();
        m_backend.programs.clear();
        m_backend.succeeds = true;
    }

    void freshWindow() {
        m_window = std::make_unique<gui::MainWindow>();
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    template <typename T = QWidget>
    T* control(const char* name) const {
        return child<T>(m_window.get(), name);
    }

    // Clicks a radio button or a check box on its indicator, where a user aims.
    static void clickRadio(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }

    void clickPage(int page) {
        QTabBar* tabs = control<QTabWidget>("PC")->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(page).center());
    }
};

} // namespace quillet::testing
