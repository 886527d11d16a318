#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <utility>

// A submitted form's entries written into a request body as the browser writes
// them: each text in the form's encoding (the first valid label of the form's
// accept-charset, else the page's), characters the encoding lacks as decimal
// character references ("&#8364;"), then form-encoded ("application/x-www-form-
// urlencoded": letters, digits and "*-._" kept, the space as "+", every other
// byte as "%XX") or, for "text/plain", one "name=value" line per entry ending in
// CR LF. Multipart forms are written form-encoded: that is what a replay sends.
namespace formbody {

using Entry = std::pair<QString, QString>; // name, value; line breaks already CR LF

QByteArray encode(const QList<Entry>& entries, const QString& enctype, const QString& encoding);

// One text in the named encoding (an encoding name or label as pages give it);
// an encoding the program does not know writes UTF-8.
QByteArray encodeText(QStringView text, const QString& encoding);

} // namespace formbody
