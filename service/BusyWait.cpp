#include "BusyWait.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QStyle>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QThread>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

// Drops user input for the whole application while it is installed.
class InputBlocker : public QObject
{
public:
    InputBlocker() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputBlocker() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        case QEvent::Close:
            // Close requests from the window system (the close box) are dropped;
            // closes the program makes itself are not spontaneous and pass.
            return event->spontaneous();
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

bool hasGuiApplication()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

void runWhileBusy(const std::function<void()>& work)
{
    if (!QCoreApplication::instance()) {
        work();
        return;
    }
    BusyCursor busy;
    InputBlocker blocker;
    QEventLoop loop;
    std::unique_ptr<QThread> worker(QThread::create(work));
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    // The finished signal is queued to this thread, so it cannot be lost even if
    // the work ends before the loop starts.
    loop.exec();
    worker->wait();
}

bool exchangeWhileBusy(const QString& verb, const QString& objectPath, const QString& header,
                       const QByteArray& body, QString* response, QString* error,
                       const ExchangeLimits& limits)
{
    bool reached = false;
    runWhileBusy(
        [&] { reached = sendServiceRequest(verb, objectPath, header, body, response, error, limits); });
    return reached;
}

BusyCursor::BusyCursor() : m_set(hasGuiApplication())
{
    if (m_set)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyCursor::~BusyCursor()
{
    if (m_set)
        QGuiApplication::restoreOverrideCursor();
}
