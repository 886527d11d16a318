#pragma once

#include "ServiceExchange.h"

#include <functional>

class QWidget;

// Runs work on a worker thread while the calling (user-interface) thread waits
// in a local event loop: windows keep repainting and timers keep running, the
// busy cursor shows, and user input (mouse, keys, shortcuts, close requests
// from the window system) is dropped rather than delivered later, so nothing
// can re-enter a window that is in the middle of an exchange.
void runWhileBusy(const std::function<void()>& work);

// sendServiceRequest run through runWhileBusy.
bool exchangeWhileBusy(const QString& verb, const QString& objectPath, const QString& header,
                       const QByteArray& body, QString* response, QString* error,
                       const ExchangeLimits& limits = {});

// Shows the busy cursor for its lifetime.
class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    bool m_set = false;
};
