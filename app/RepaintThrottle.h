#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

// Lets a few widgets repaint at most once per interval. What they show changes
// at once (whoever reads a text gets the new one); the screen follows within the
// interval, the last change always shown. A browser window's status line and
// address box change several times per page load, and with a page in the same
// window every repaint composes the whole window again. A key or a click on one
// of the widgets shows them at once: typing is never held back.
class RepaintThrottle : public QObject
{
public:
    RepaintThrottle(QList<QWidget*> widgets, int intervalMs, QObject* parent = nullptr);

    // Call before changing what the widgets show.
    void aboutToChange();
    // Holds every repaint from now until release(), or at most the interval: for
    // widgets that change while something else must not wait for them to paint.
    void hold();
    // Shows what the widgets show now; nothing if nothing is held.
    void release();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void holdFor(int ms);

    QList<QPointer<QWidget>> m_widgets;
    int m_interval;
    QElapsedTimer m_lastRepaint;
    QTimer m_release;
    bool m_held = false;
};
