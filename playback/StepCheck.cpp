#include "StepCheck.h"

#include <algorithm>

namespace stepcheck {

QStringList phrases(const QString& field)
{
    QStringList list;
    for (const QString& part : field.split(u',')) {
        const QString phrase = part.simplified();
        if (!phrase.isEmpty())
            list.append(phrase);
    }
    return list;
}

QString withPhrase(const QString& field, const QString& phrase)
{
    const QString added = phrase.simplified();
    if (added.isEmpty() || phrases(field).contains(added, Qt::CaseInsensitive))
        return field;
    return field.trimmed().isEmpty() ? added : field + QStringLiteral(", ") + added;
}

int timeoutSeconds(const RecordedStep& step)
{
    bool ok = false;
    const int seconds = step.timeoutOrDefault().trimmed().toInt(&ok);
    return ok && seconds > 0 ? seconds : 30;
}

namespace {

Result head(int number, const RecordedStep& step)
{
    Result r;
    r.number = number;
    r.label = step.label;
    r.method = step.postdata.isEmpty() ? QStringLiteral("GET") : QStringLiteral("POST");
    r.url = step.url;
    return r;
}

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 2);
}

} // namespace

Result judge(int number, const RecordedStep& step, const Load& load)
{
    Result r = head(number, step);
    r.ms = load.ms;
    r.httpStatus = load.httpStatus;
    const int timeout = timeoutSeconds(step);
    if (load.crashed)
        r.failures.append(QStringLiteral("The page's renderer ended"));
    else if (load.timedOut)
        r.failures.append(QStringLiteral("Not loaded within the timeout of %1 s").arg(timeout));
    else if (load.httpStatus != 0)
        r.failures.append(QStringLiteral("HTTP status %1").arg(load.httpStatus));
    else if (!load.succeeded)
        r.failures.append(load.error.isEmpty() ? QStringLiteral("The page did not load")
                                               : QStringLiteral("Load failed: %1").arg(load.error));
    else if (load.ms > qint64(timeout) * 1000)
        r.failures.append(
            QStringLiteral("Loaded in %1 s, over the timeout of %2 s").arg(seconds(load.ms)).arg(timeout));

    // Keywords are judged on a page that loaded; an error page is not the site's,
    // and a file to download is not read.
    if (load.succeeded && !load.file.isEmpty()) {
        if (!phrases(step.keywords).isEmpty() || !phrases(step.errors).isEmpty())
            r.failures.append(
                QStringLiteral("Keywords not looked for: the answer is a file to download (%1), not a page")
                    .arg(load.file));
    } else if (load.succeeded && !load.timedOut && !load.crashed) {
        const QString text = load.text.simplified();
        for (const QString& k : phrases(step.keywords)) {
            if (!text.contains(k, Qt::CaseInsensitive))
                r.failures.append(QStringLiteral("Keyword not found: \"%1\"").arg(k));
        }
        for (const QString& e : phrases(step.errors)) {
            if (text.contains(e, Qt::CaseInsensitive))
                r.failures.append(QStringLiteral("Error keyword found: \"%1\"").arg(e));
        }
    }
    r.outcome = r.failures.isEmpty() ? Outcome::Passed : Outcome::Failed;
    return r;
}

Result notRun(int number, const RecordedStep& step)
{
    Result r = head(number, step);
    r.failures.append(QStringLiteral("Not run: the check was stopped"));
    return r;
}

QString summary(const QList<Result>& results)
{
    const auto passed = std::count_if(results.cbegin(), results.cend(),
                                      [](const Result& r) { return r.outcome == Outcome::Passed; });
    return QStringLiteral("%1 of %2 steps passed").arg(passed).arg(results.size());
}

QString outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Passed:
        return QStringLiteral("Passed");
    case Outcome::Failed:
        return QStringLiteral("Failed");
    case Outcome::NotRun:
        break;
    }
    return QStringLiteral("Not run");
}

QString loadTimeText(qint64 ms)
{
    return ms < 0 ? QString() : seconds(ms) + QStringLiteral(" s");
}

QByteArray htmlReport(const QList<Result>& results, const QDateTime& when, const QStringList& notices)
{
    const auto cell = [](const QString& text) {
        return QStringLiteral("<td>") + text.toHtmlEscaped() + QStringLiteral("</td>");
    };
    QString html =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>Transaction check report</title>\n<style>\n"
                       "body{font-family:sans-serif;margin:1.5em;color:#222}\n"
                       "table{border-collapse:collapse;width:100%}\n"
                       "th,td{border:1px solid #bbb;padding:.3em .5em;text-align:left;vertical-align:top}\n"
                       "th{background:#eee}\ntd.url{word-break:break-all}\n"
                       "tr.passed td.result{color:#161}\ntr.failed td.result{color:#b11;font-weight:bold}\n"
                       "tr.notrun td.result{color:#777}\n.note{color:#555;font-size:90%}\n"
                       "</style>\n</head>\n<body>\n<h1>Transaction check report</h1>\n");
    html +=
        QStringLiteral("<p class=\"when\">Checked %1</p>\n").arg(when.toString(Qt::ISODate).toHtmlEscaped());
    html += QStringLiteral("<p class=\"summary\">%1</p>\n").arg(summary(results).toHtmlEscaped());
    html += QStringLiteral("<table>\n<thead><tr><th>Step</th><th>Label</th><th>Method</th><th>Address</th>"
                           "<th>Load time</th><th>Result</th><th>What failed</th></tr></thead>\n<tbody>\n");
    for (const Result& r : results) {
        const QString kind = r.outcome == Outcome::Passed   ? QStringLiteral("passed")
                             : r.outcome == Outcome::Failed ? QStringLiteral("failed")
                                                            : QStringLiteral("notrun");
        html += QStringLiteral("<tr class=\"%1\">").arg(kind) + cell(QString::number(r.number)) +
                cell(r.label) + cell(r.method) + QStringLiteral("<td class=\"url\">") +
                r.url.toHtmlEscaped() + QStringLiteral("</td>") + cell(loadTimeText(r.ms)) +
                QStringLiteral("<td class=\"result\">") + outcomeText(r.outcome).toHtmlEscaped() +
                QStringLiteral("</td>") + cell(r.failures.join(QStringLiteral("; "))) +
                QStringLiteral("</tr>\n");
    }
    html += QStringLiteral("</tbody>\n</table>\n");
    if (!notices.isEmpty()) {
        html += QStringLiteral("<h2>One-time values</h2>\n<p>These steps send values the site gave for one "
                               "use only; the service sends them as recorded, and the site may refuse "
                               "them.</p>\n<ul class=\"notices\">\n");
        for (const QString& n : notices)
            html += QStringLiteral("<li>") + n.toHtmlEscaped() + QStringLiteral("</li>\n");
        html += QStringLiteral("</ul>\n");
    }
    html += QStringLiteral(
        "<p class=\"note\">Local check: each keyword field is read as a comma-separated list of phrases, "
        "blanks trimmed, compared without regard to case. The monitoring service applies its own "
        "keyword syntax.</p>\n</body>\n</html>\n");
    return html.toUtf8();
}

} // namespace stepcheck
