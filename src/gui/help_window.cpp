#include "help_window.h"

#include "launcher/shell_launcher.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace quillet::gui {

// Implementation details only, past this point.
namespace detail {
namespace {

QPointer<HelpWindow> g_helpWindow;

} // namespace
} // namespace detail

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window), m_browser(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("Help_Frm"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_browser->setObjectName(QStringLiteral("Help_Browser"));
    // Links that leave the manual go to the desktop, anchors stay here.
    m_browser->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);

    const QString file = manualPath();
    m_browser->setSource(file.isEmpty() ? QUrl(QString::fromLatin1(kBundledManualUrl)) : QUrl::fromLocalFile(file));
    setWindowTitle(m_browser->documentTitle().isEmpty() ? QStringLiteral("Quillet Help") : m_browser->documentTitle());

    QSize size(720, 640);
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    resize(size);
}

HelpWindow* HelpWindow::showManual(QWidget* parent) {
    if (!detail::g_helpWindow) {
        QWidget* owner = parent ? parent->window() : nullptr;
        detail::g_helpWindow = new HelpWindow(owner);
        // Over the window it helps with, not in the screen's corner.
        if (owner)
            detail::g_helpWindow->move(owner->frameGeometry().center() - detail::g_helpWindow->rect().center());
    }
    HelpWindow* help = detail::g_helpWindow;
    help->m_browser->scrollToAnchor(QString());
    help->show();
    help->raise();
    help->activateWindow();
    return help;
}

HelpWindow* HelpWindow::instance() {
    return detail::g_helpWindow;
}

} // namespace quillet::gui
