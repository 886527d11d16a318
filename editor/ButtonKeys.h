#pragma once

#include <QPushButton>
#include <QWidget>

// Enter (or the keypad's Enter) on a window's focused button presses it, as
// Space does: what people expect of a desktop window, which Qt gives only to
// dialogs. The focused button shows as the one Enter presses.
inline void enterPressesFocusedButton(QWidget* window)
{
    for (QPushButton* button : window->findChildren<QPushButton*>())
        button->setAutoDefault(true);
}
