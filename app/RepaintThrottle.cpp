#include "RepaintThrottle.h"

#include <QCoreApplication>
#include <QEvent>

RepaintThrottle::RepaintThrottle(QList<QWidget*> widgets, int intervalMs, QObject* parent)
    : QObject(parent), m_interval(intervalMs)
{
    for (QWidget* w : widgets) {
        m_widgets.append(w);
        w->installEventFilter(this);
        for (QWidget* child : w->findChildren<QWidget*>())
            child->installEventFilter(this);
    }
    m_release.setSingleShot(true);
    connect(&m_release, &QTimer::timeout, this, &RepaintThrottle::release);
}

void RepaintThrottle::aboutToChange()
{
    if (m_held)
        return;
    if (!m_lastRepaint.isValid() || m_lastRepaint.elapsed() >= m_interval) {
        m_lastRepaint.start(); // this change repaints now
        return;
    }
    // Changes within the interval after a repaint wait for its end, together.
    holdFor(int(qMax<qint64>(0, m_interval - m_lastRepaint.elapsed())));
}

void RepaintThrottle::hold()
{
    if (!m_held)
        holdFor(m_interval);
}

void RepaintThrottle::holdFor(int ms)
{
    m_held = true;
    for (QWidget* w : std::as_const(m_widgets)) {
        if (w)
            w->setUpdatesEnabled(false);
    }
    m_release.start(ms);
}

bool RepaintThrottle::eventFilter(QObject*, QEvent* event)
{
    if (m_held) {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
            release();
            break;
        default:
            break;
        }
    }
    return false;
}

void RepaintThrottle::release()
{
    if (!m_held)
        return;
    m_release.stop();
    m_held = false;
    m_lastRepaint.start();
    // Enabling updates again repaints each widget once, with what it shows now.
    for (QWidget* w : std::as_const(m_widgets)) {
        if (!w)
            continue;
        w->setUpdatesEnabled(true);
        // A window changed just before the hold can have its repaint request
        // handled while held, and then ask for none until its next expose (the
        // editor kept showing the steps Reset had cleared). Ask again.
        if (w->isWindow() && w->isVisible())
            QCoreApplication::postEvent(w, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    }
}
