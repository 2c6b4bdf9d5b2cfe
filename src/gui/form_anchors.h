// How the window's controls follow its size. The layout places every control
// at a fixed position for the laid-out size; when the window is larger, each
// control keeps its place against the edges it is laid out against, and the
// lists, the tree and the memos grow. Every rule is stated against the growth
// of the whole form, (dx, dy) beyond its laid-out size: the page controls, the
// pages and the inner pages all grow by exactly that much, so a control deep
// in a page needs no knowledge of its page's own size, hidden or not.
//
// Layer: gui.
#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <QVector>

class QWidget;

namespace quillet::gui {

// A share of the form's growth along one axis. Half and OtherHalf split an
// odd growth so that two controls stacked one above the other, the first
// growing by Half and the second moved by Half and growing by OtherHalf,
// together fill it exactly.
enum class Share { None, Half, OtherHalf, Full };

struct AnchorRule {
    QWidget* Control = nullptr;
    Share MoveX = Share::None;
    Share GrowX = Share::None;
    Share MoveY = Share::None;
    Share GrowY = Share::None;
};

class FormAnchors : public QObject {
    Q_OBJECT

public:
    // Follows the size of `form` (not owned), whose present size is its
    // laid-out size, as are the present geometries of the rules' controls.
    FormAnchors(QWidget* form, const QVector<AnchorRule>& rules);

    // Places every control for the form's present size.
    void apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Placed {
        AnchorRule Rule;
        QRect LaidOut;
    };

    QWidget* m_form;
    QSize m_laidOut;
    QVector<Placed> m_placed;
};

} // namespace quillet::gui
