// A label that can be clicked, for the window's web site link and its icon.
#pragma once

#include <QLabel>

namespace quillet::gui {

class ClickLabel : public QLabel {
    Q_OBJECT

public:
    explicit ClickLabel(QWidget* parent = nullptr);

signals:
    // A left click released over the label.
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace quillet::gui
