#pragma once

#include "ServiceExchange.h"

#include <QMessageBox>

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

// A modal message box with an OK button only and plain text (the service's
// answers are shown as they are, never as markup). The normal cursor shows over
// it even while a busy cursor is set. A text longer than the screen can show is
// cut, and a note saying how many characters were left out takes the rest's
// place, so the box and its OK button stay on the screen.
void showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text);

// The note that ends a cut text, for the number of characters left out.
QString cutTextNote(qsizetype leftOut);
