#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// One recorded page request and the checks the service runs for it.
// All fields are text; an unset field is empty.
struct RecordedStep
{
    // In the one order the program uses for them everywhere (the store's
    // addURL, the settings below, the files).
    QString url;
    QString postdata; // request body, one character per byte; empty for a GET
    QString keywords;
    QString errors;
    QString cookies;
    QString httpuser;
    QString httppass;
    QString timeout; // empty reads as "30"
    QString ping;    // "N" or "Y"; empty reads as "N"
    QString label;
    // The names of the body's (or the query's) entries that hold one-time
    // values the site gave, as judged while recording; unset for a step with no
    // page behind it (opened from a file). Not written to the transaction file.
    std::optional<QStringList> oneTime;

    // "P" for a step with a body, "G" otherwise.
    QString method() const { return postdata.isEmpty() ? QStringLiteral("G") : QStringLiteral("P"); }
    QString timeoutOrDefault() const { return timeout.isEmpty() ? QStringLiteral("30") : timeout; }
    QString pingOrDefault() const { return ping.isEmpty() ? QStringLiteral("N") : ping; }

    friend bool operator==(const RecordedStep&, const RecordedStep&) = default;
};

// The fields the step editor shows and writes back (everything but url and postdata).
struct StepSettings
{
    QString keywords;
    QString errors;
    QString cookies;
    QString httpuser;
    QString httppass;
    QString timeout;
    QString ping;
    QString label;

    friend bool operator==(const StepSettings&, const StepSettings&) = default;
};
