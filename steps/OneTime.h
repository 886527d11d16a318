#pragma once

#include "RecordedStep.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// One-time values: what a site puts into a form or a link for one use only (a
// CSRF token, __VIEWSTATE, a nonce). The service re-sends a step's recorded
// bytes, so such a value is stale at its first run and the site refuses it.
namespace onetime {

// Where an entry's value came from, as the page knew it.
enum class Origin
{
    Site,    // given by the site: a hidden field, a default left as it was, set by page script
    User,    // typed or chosen by the user
    Unknown, // no page behind it (a step opened from a file)
};

struct Entry
{
    QString name;
    QString value;
    Origin origin = Origin::Unknown;
};

// A name sites use for such values (csrf, __VIEWSTATE, nonce, authenticity_token...).
bool isTokenName(const QString& name);
// At least 8 characters mixing letters and digits, or shaped as base64 or hex.
bool looksGenerated(const QString& value);
// The names of the entries to flag: a token's name, or a value the site gave
// (or, with no page behind it, any value) that looks generated. Each name once.
QStringList flagged(const QList<Entry>& entries);

// The name=value pairs of a form-encoded text (a body or a query), decoded.
QList<QPair<QString, QString>> formPairs(const QString& encoded);

// A step's flags: as recorded, or for a step with no page behind it by the
// name and shape of its body's and query's entries alone.
QStringList flagsOf(const RecordedStep& step);
// "name1, name2" for a step's note; empty when nothing is flagged.
QString noteFor(const RecordedStep& step);

// One line per step with one-time values: "Step 2 (Login): csrf_token, nonce".
QStringList stepLines(const QList<RecordedStep>& steps);
// The warning before the steps leave the program (saved, uploaded); empty
// when no step holds one-time values.
QString warningFor(const QList<RecordedStep>& steps);

} // namespace onetime
