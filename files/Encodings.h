#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Percent-encoding of the free-text step fields in the transaction file.
//
// escapeSymbols keeps letters, digits and the marks ":/.?=_-$(){}~" as they are,
// turns the space into "+" and every other character into "%" and the two
// upper-case hex digits of its code-page byte; a single trailing "%00" is
// dropped. URLDecode reverses it. Both handle texts of any length.

QString escapeSymbols(const QString& sRawURL);

// Appends escapeSymbols(raw) to out; the escaped text is ASCII, one byte a character.
void appendEscaped(QByteArray& out, QStringView raw);

// Returns the empty text when a "%" is followed by two characters that are not
// both hex digits; a "%" followed by fewer than two characters is kept as is.
QString URLDecode(const QString& sEncodedURL);
// The same for Latin-1 text, without making a QString of it first.
QString URLDecode(QLatin1StringView sEncodedURL);

// The text without leading and trailing blanks, where a blank is the space
// character only (tabs are kept), as the program's text rules read it.
QString trimSpaces(const QString& text);
