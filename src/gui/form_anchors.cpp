#include "form_anchors.h"

#include <QEvent>
#include <QWidget>

#include <algorithm>

namespace quillet::gui {

// Implementation details only, past this point.
namespace detail {
namespace {

int part(Share share, int growth) {
    switch (share) {
    case Share::None:
        return 0;
    case Share::Half:
        return growth / 2;
    case Share::OtherHalf:
        return growth - growth / 2;
    case Share::Full:
        return growth;
    }
    return 0;
}

} // namespace
} // namespace detail

FormAnchors::FormAnchors(QWidget* form, const QVector<AnchorRule>& rules)
    : QObject(form), m_form(form), m_laidOut(form->size()) {
    for (const AnchorRule& rule : rules) {
        if (rule.Control)
            m_placed.push_back({rule, rule.Control->geometry()});
    }
    m_form->installEventFilter(this);
}

void FormAnchors::apply() {
    // The form never gets smaller than laid out; a smaller window scrolls.
    const int dx = std::max(0, m_form->width() - m_laidOut.width());
    const int dy = std::max(0, m_form->height() - m_laidOut.height());
    for (const Placed& placed : std::as_const(m_placed)) {
        const AnchorRule& rule = placed.Rule;
        const QRect& at = placed.LaidOut;
        rule.Control->setGeometry(at.x() + detail::part(rule.MoveX, dx), at.y() + detail::part(rule.MoveY, dy),
                                  at.width() + detail::part(rule.GrowX, dx),
                                  at.height() + detail::part(rule.GrowY, dy));
    }
}

bool FormAnchors::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_form && event->type() == QEvent::Resize)
        apply();
    return QObject::eventFilter(watched, event);
}

} // namespace quillet::gui
