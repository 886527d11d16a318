#pragma once

#include <QString>

class QWidget;

// The box a site's (or a proxy's) HTTP authentication asks through: the user
// name and password to answer with. user and password come in as the values to
// offer and go out as typed; false when the user cancels. keptInStep: the box
// says the recorded step keeps what is typed.
bool askSiteSignIn(QWidget* parent, const QString& host, const QString& realm, bool proxy, bool keptInStep,
                   QString& user, QString& password);
