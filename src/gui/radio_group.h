// A titled group of radio buttons whose item index is the position of the
// checked button, as the window's "List From" and "Operation" groups use it
// (the operation group's index is the operation code). The buttons are the
// group's own radio-button children in the order they were created, which is
// their order in main_window.ui; the .ui file also places them in columns.
//
// The group is one stop of the keyboard's focus chain, as a radio group is on
// every desktop: Tab reaches the checked button only, the arrow keys move
// between the buttons.
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

    // Takes in the radio-button children. The .ui code makes them after the
    // group, so its owner calls this once they exist (the window does, right
    // after setupUi); until then no click would reach itemIndexChanged. Later
    // calls do nothing. Polishing the group (showing it) calls it too.
    void gatherItems();

    // The index of the checked item, -1 when none is checked.
    int itemIndex() const;
    // Checks the item at index; an index out of range unchecks every item.
    void setItemIndex(int index);

    int count() const;
    QRadioButton* item(int index) const;
    // The button that Tab stops at: the checked one, else the first.
    QRadioButton* focusItem() const;

signals:
    // The user or the program checked another item.
    void itemIndexChanged(int index);

protected:
    bool event(QEvent* event) override;

private:
    void updateTabStops();

    QButtonGroup* m_group;
    QList<QRadioButton*> m_items;
    bool m_gathered = false;
};

} // namespace quillet::gui
