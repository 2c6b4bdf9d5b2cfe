// A titled group of radio buttons whose item index is the position of the
// checked button, as the window's "List From" and "Operation" groups use it
// (the operation group's index is the operation code). The buttons are the
// group's own radio-button children in the order they were created, which is
// their order in main_window.ui; the .ui file also places them in columns.
#pragma once

#include <QGroupBox>
#include <QList>

class QButtonGroup;
class QRadioButton;

namespace quillet::gui {

class RadioGroup : public QGroupBox {
    Q_OBJECT

public:
    explicit RadioGroup(QWidget* parent = nullptr);

    // The index of the checked item, -1 when none is checked.
    int itemIndex() const;
    // Checks the item at index; an index out of range unchecks every item.
    void setItemIndex(int index);

    int count() const;
    QRadioButton* item(int index) const;

signals:
    // The user or the program checked another item.
    void itemIndexChanged(int index);

private:
    void attachItems() const;

    mutable QButtonGroup* m_group = nullptr;
    mutable QList<QRadioButton*> m_items;
};

} // namespace quillet::gui
