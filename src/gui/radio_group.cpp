#include "radio_group.h"

#include <QButtonGroup>
#include <QRadioButton>

namespace quillet::gui {

RadioGroup::RadioGroup(QWidget* parent) : QGroupBox(parent) {}

// The buttons are made by the .ui code after this group exists, so they are
// gathered on first use rather than in the constructor.
void RadioGroup::attachItems() const {
    if (m_group)
        return;
    auto* self = const_cast<RadioGroup*>(this);
    m_group = new QButtonGroup(self);
    m_items = findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    for (int i = 0; i < m_items.size(); ++i)
        m_group->addButton(m_items.at(i), i);
    connect(m_group, &QButtonGroup::idToggled, self, [self](int id, bool checked) {
        if (checked)
            emit self->itemIndexChanged(id);
    });
}

int RadioGroup::itemIndex() const {
    attachItems();
    return m_group->checkedId();
}

void RadioGroup::setItemIndex(int index) {
    attachItems();
    if (index >= 0 && index < m_items.size()) {
        m_items.at(index)->setChecked(true);
        return;
    }
    m_group->setExclusive(false);
    for (QRadioButton* button : std::as_const(m_items))
        button->setChecked(false);
    m_group->setExclusive(true);
}

int RadioGroup::count() const {
    attachItems();
    return static_cast<int>(m_items.size());
}

QRadioButton* RadioGroup::item(int index) const {
    attachItems();
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

} // namespace quillet::gui
