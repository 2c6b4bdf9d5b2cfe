// The keys by which the window's lists act on their current item, one rule
// for every list: Return (or the keypad's Enter) opens it, and the Menu key or
// Shift+F10 shows its context menu, which Qt does not do for a widget by
// itself. The keypad flag does not count as a modifier.
//
// Layer: gui.
#pragma once

#include <QKeyEvent>

namespace quillet::gui {

inline bool IsOpenKey(const QKeyEvent& key) {
    return (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) &&
           (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

inline bool IsMenuKey(const QKeyEvent& key) {
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    return (key.key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
           (key.key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
}

} // namespace quillet::gui
