#include "ClickActivation.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

bool ClickActivation::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType()) {
        QWidget* window = static_cast<QWidget*>(watched)->window();
        // Menus and drop-down lists are popups: they take the mouse without the keyboard.
        const bool popup = window->windowType() == Qt::Popup || window->windowType() == Qt::ToolTip;
        if (!popup && window->isVisible() && !window->isActiveWindow() && !QApplication::activeModalWidget())
            window->activateWindow();
    }
    return QObject::eventFilter(watched, event);
}
