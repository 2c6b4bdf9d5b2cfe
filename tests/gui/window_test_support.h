// Shared by the window's Qt Test suites: recording fakes for the message
// boxes and the launcher's back end, so that nothing blocks and nothing is
// ever opened on the desktop, and small file helpers.
#pragma once

#include "launcher/shell_launcher.h"
#include "user_dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <cstdlib>

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

} // namespace quillet::testing
