#pragma once

#include <QObject>

// Gives a window the keyboard when it is clicked. On an X server without a
// window manager nothing else does, and keys would keep going to the window
// that had them; with a window manager this repeats what it already did.
class ClickActivation : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
