#pragma once

#include "RecordedStep.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// A local check of a recorded transaction: each step's page is loaded once, in
// order, and judged by the step's own monitoring settings before the service
// runs them. The keyword fields are read as a comma-separated list of phrases,
// blanks trimmed, compared without regard to case; the service applies its own
// syntax, which this local check only approximates.
namespace stepcheck {

// The phrases of a keyword field.
QStringList phrases(const QString& field);
// A keyword field with one more phrase (blanks in it folded); the field as it
// was when it already holds the phrase or the phrase is empty.
QString withPhrase(const QString& field, const QString& phrase);
// The step's timeout in seconds: "30" when empty, and when unreadable or not positive.
int timeoutSeconds(const RecordedStep& step);

// What loading a step's page came to.
struct Load
{
    bool succeeded = false;
    bool timedOut = false;
    bool crashed = false;
    int httpStatus = 0; // an error status the engine reported; 0 when none
    QString error;      // the engine's description of a failed load
    qint64 ms = -1;     // from the request to the end of the load (or the time-out)
    QString text;       // the loaded page's text
    QString file;       // the answer was a file to download (its name), not a page
};

enum class Outcome
{
    NotRun,
    Passed,
    Failed
};

struct Result
{
    int number = 0; // from 1
    QString label;
    QString method; // "GET" or "POST"
    QString url;
    qint64 ms = -1;     // -1: not loaded
    int httpStatus = 0; // an error status the engine reported; 0 when none
    Outcome outcome = Outcome::NotRun;
    QStringList failures;
};

Result judge(int number, const RecordedStep& step, const Load& load);
Result notRun(int number, const RecordedStep& step);

// "N of M steps passed".
QString summary(const QList<Result>& results);
QString outcomeText(Outcome outcome);
// "1.25 s"; empty for a step that did not load.
QString loadTimeText(qint64 ms);

// The report as one self-contained HTML page. notices: steps that need the
// user's attention beyond their checks, one line each (listed under the table).
QByteArray htmlReport(const QList<Result>& results, const QDateTime& when, const QStringList& notices = {});

} // namespace stepcheck
