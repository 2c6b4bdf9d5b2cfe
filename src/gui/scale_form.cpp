#include "scale_form.h"

#include <QAbstractButton>
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

} // namespace

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
