// Quillet's own help window: the user manual in a text browser, for a
// desktop where no web browser or file handler can be started. The window's
// help links (F1, the home-page button, the web site link and the icon) fall
// back to it, so the manual always shows.
//
// Layer: gui. Shows the manual file that the launcher finds beside the
// program (with its pictures), else the copy built into the program.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace quillet::gui {

class HelpWindow : public QWidget {
    Q_OBJECT

public:
    // Shows the one help window of the program (made on first use, owned by
    // the application, above `parent`'s window), raised and at the manual's
    // top.
    static HelpWindow* showManual(QWidget* parent);

    // The window shown, or nullptr before the first showManual().
    static HelpWindow* instance();

    QTextBrowser* browser() const { return m_browser; }

private:
    explicit HelpWindow(QWidget* parent);

    QTextBrowser* m_browser;
};

} // namespace quillet::gui
