#pragma once

#include <QtTest>
#include <QtWidgets>

// Input as a person gives it. Keys go to the window that has the keyboard and
// from there to its focus widget; clicks go to a point of a window. Both enter
// through the window system interface, so shortcuts, focus proxies, composite
// widgets and event filters all run as they do for a real keyboard and mouse.
namespace userinput {

// Gives the window the keyboard, as a window manager does when it is clicked:
// the X server's focus, set at the current time. (The program's own request
// carries the time of the last event it saw, which the server ignores once the
// focus changed later, as when the active window was hidden.)
inline bool activate(QWidget* window)
{
    window = window->window();
    for (int attempt = 0; attempt < 5 && !window->isActiveWindow(); ++attempt) {
        window->activateWindow();
        if (QTest::qWaitFor([window] { return window->isActiveWindow(); }, 300))
            break;
        QProcess::execute(u"xdotool"_qs, {u"windowfocus"_qs, QString::number(window->winId())});
        if (QTest::qWaitFor([window] { return window->isActiveWindow(); }, 1000))
            break;
    }
    if (window->isActiveWindow())
        return true;
    const QWidget* active = QApplication::activeWindow();
    qWarning("%s did not get the keyboard; %s has it", qPrintable(window->windowTitle()),
             active ? qPrintable(active->windowTitle()) : "no window");
    return false;
}

// Clicks a widget at a point of its own (its centre by default).
inline bool click(QWidget* widget, QPoint at = QPoint(-1, -1), Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = {})
{
    QWidget* top = widget->window();
    // A click reaches the window whether or not it then has the keyboard.
    activate(top);
    const QPoint local = at == QPoint(-1, -1) ? widget->rect().center() : at;
    QTest::mouseClick(top->windowHandle(), button, modifiers, widget->mapTo(top, local));
    return true;
}

inline bool doubleClick(QWidget* widget, QPoint at)
{
    QWidget* top = widget->window();
    activate(top);
    const QPoint p = widget->mapTo(top, at);
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, p);
    QTest::mouseDClick(top->windowHandle(), Qt::LeftButton, {}, p);
    return true;
}

// Presses a key in the window that has the keyboard.
inline bool key(Qt::Key k, Qt::KeyboardModifiers modifiers = {})
{
    QWindow* window = QGuiApplication::focusWindow();
    if (!window)
        return false;
    QTest::keyClick(window, k, modifiers);
    return true;
}

// Presses Tab until the widget has the focus, at most a dozen times.
inline bool tabTo(QWidget* widget)
{
    for (int i = 0; i < 12 && QApplication::focusWidget() != widget; ++i) {
        QWidget* was = QApplication::focusWidget();
        key(Qt::Key_Tab);
        // A web page hands the focus on by itself, a moment later.
        (void)QTest::qWaitFor([was] { return QApplication::focusWidget() != was; }, 1000);
    }
    return QApplication::focusWidget() == widget;
}

// Types text (Latin-1) into the window that has the keyboard.
inline bool type(const QString& text)
{
    for (const QChar c : text) {
        QWindow* window = QGuiApplication::focusWindow();
        if (!window || c.unicode() > 0xff)
            return false;
        QTest::keyClick(window, char(c.unicode()));
    }
    return true;
}

} // namespace userinput
