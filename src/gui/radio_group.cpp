#include "radio_group.h"

#include <QButtonGroup>
#include <QEvent>
#include <QRadioButton>

namespace quillet::gui {

RadioGroup::RadioGroup(QWidget* parent) : QGroupBox(parent), m_group(new QButtonGroup(this)) {
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked)
            return;
        updateTabStops();
        emit itemIndexChanged(id);
    });
}

void RadioGroup::gatherItems() {
    if (m_gathered)
        return;
    m_gathered = true;
    m_items = findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    for (int i = 0; i < m_items.size(); ++i)
        m_group->addButton(m_items.at(i), i);
    updateTabStops();
}

bool RadioGroup::event(QEvent* event) {
    if (event->type() == QEvent::Polish)
        gatherItems();
    return QGroupBox::event(event);
}

// The unchecked buttons take the focus by click and by the arrow keys, not
// by Tab.
void RadioGroup::updateTabStops() {
    QRadioButton* stop = focusItem();
    for (QRadioButton* button : std::as_const(m_items))
        button->setFocusPolicy(button == stop ? Qt::StrongFocus : Qt::ClickFocus);
}

int RadioGroup::itemIndex() const {
    const_cast<RadioGroup*>(this)->gatherItems();
    return m_group->checkedId();
}

void RadioGroup::setItemIndex(int index) {
    gatherItems();
    if (index >= 0 && index < m_items.size()) {
        m_items.at(index)->setChecked(true);
        return;
    }
    m_group->setExclusive(false);
    for (QRadioButton* button : std::as_const(m_items))
        button->setChecked(false);
    m_group->setExclusive(true);
    updateTabStops();
}

int RadioGroup::count() const {
    const_cast<RadioGroup*>(this)->gatherItems();
    return static_cast<int>(m_items.size());
}

QRadioButton* RadioGroup::item(int index) const {
    const_cast<RadioGroup*>(this)->gatherItems();
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QRadioButton* RadioGroup::focusItem() const {
    const_cast<RadioGroup*>(this)->gatherItems();
    const int checked = m_group->checkedId();
    if (checked >= 0)
        return m_items.at(checked);
    return m_items.isEmpty() ? nullptr : m_items.front();
}

} // namespace quillet::gui
