#include "scale_form.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QEvent>
#include <QPainter>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>

#include <algorithm>

namespace quillet::gui {

void FitFormToControls(QWidget* form, const QWidget* widthControl, const QWidget* heightControl, int rightMargin,
                       int bottomMargin) {
    int width = widthControl->x() + widthControl->width() + rightMargin;
    if (widthControl->parentWidget() != form)
        width += widthControl->parentWidget()->x();
    int height = heightControl->y() + heightControl->height() + bottomMargin;
    if (heightControl->parentWidget() != form)
        height += heightControl->parentWidget()->y();
    form->resize(width, height);
}

void FitFormToPage(QWidget* form, const QWidget* widthControl, const QWidget* heightControl,
                   const QWidget* marginControl) {
    FitFormToControls(form, widthControl, heightControl, marginControl->x(), marginControl->x());
}

namespace {

void growToFit(QWidget* control, QSize needed) {
    QRect geometry = control->geometry();
    if (needed.width() > geometry.width()) {
        geometry.setWidth(needed.width());
        const QWidget* parent = control->parentWidget();
        if (parent && geometry.right() >= parent->width())
            geometry.moveLeft(std::max(0, parent->width() - geometry.width()));
    }
    if (needed.height() > geometry.height()) {
        const int grow = needed.height() - geometry.height();
        geometry.setTop(std::max(0, geometry.top() - grow / 2));
        geometry.setHeight(needed.height());
    }
    control->setGeometry(geometry);
}

// Draws, on the parent it watches, a frame around each of its children that
// carries the "parentDrawsFrame" property.
class ParentFrames final : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint)
            return false;
        auto* parent = static_cast<QWidget*>(watched);
        QPainter painter(parent);
        painter.setPen(QPen(parent->palette().color(QPalette::Mid), 0));
        for (QObject* object : parent->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child && child->isVisible() && child->property("parentDrawsFrame").toBool())
                painter.drawRect(child->geometry().adjusted(-1, -1, 1, 1));
        }
        return false;
    }
};

} // namespace

void KeepFramesWhole(QWidget* root) {
    const qreal ratio = root->devicePixelRatioF();
    if (qFuzzyCompare(ratio, static_cast<qreal>(qRound(ratio))))
        return;
    auto* drawer = new ParentFrames(root);
    for (QAbstractScrollArea* area : root->findChildren<QAbstractScrollArea*>()) {
        QWidget* parent = area->parentWidget();
        if (area->frameShape() == QFrame::NoFrame || !parent || area->property("parentDrawsFrame").toBool())
            continue;
        area->setFrameShape(QFrame::NoFrame);
        // One pixel on the left and top, two on the right and bottom: the
        // child's area, rounded outwards to device pixels, must not cover
        // the parent's line.
        area->setGeometry(area->geometry().adjusted(1, 1, -2, -2));
        area->setProperty("parentDrawsFrame", true);
        parent->installEventFilter(drawer);
    }
}

void KeepCaptionsWhole(QWidget* root) {
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->text().isEmpty() || label->wordWrap() || label->property("fixedWidth").toBool())
            continue;
        growToFit(label, label->sizeHint());
    }
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (!qobject_cast<QCheckBox*>(button) && !qobject_cast<QRadioButton*>(button))
            continue;
        growToFit(button, button->sizeHint());
    }
}

} // namespace quillet::gui
