#include "OneTime.h"

#include <QRegularExpression>
#include <QUrl>

namespace onetime {

bool isTokenName(const QString& name)
{
    static const QRegularExpression token(
        QStringLiteral(
            "csrf|xsrf|^__viewstate|^__eventvalidation|nonce|authenticity_token|"
            "requestverificationtoken|^relaystate$|^_?token$|^state$|^samlrequest$|^samlresponse$"),
        QRegularExpression::CaseInsensitiveOption);
    return token.match(name).hasMatch();
}

bool looksGenerated(const QString& value)
{
    static const QRegularExpression mixed(QStringLiteral("^(?=.*[A-Za-z])(?=.*[0-9])\\S{8,}$"));
    static const QRegularExpression base64(
        QStringLiteral("^(?=.*[a-z])(?=.*[A-Z])[A-Za-z0-9+/_-]{16,}={0,2}$"));
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{16,}$"));
    return mixed.match(value).hasMatch() || base64.match(value).hasMatch() || hex.match(value).hasMatch();
}

QStringList flagged(const QList<Entry>& entries)
{
    QStringList names;
    for (const Entry& e : entries) {
        const bool flag = isTokenName(e.name) || (e.origin != Origin::User && looksGenerated(e.value));
        if (flag && !names.contains(e.name))
            names.append(e.name);
    }
    return names;
}

QList<QPair<QString, QString>> formPairs(const QString& encoded)
{
    const auto decode = [](QString part) {
        part.replace(u'+', u' ');
        return QString::fromLatin1(QByteArray::fromPercentEncoding(part.toLatin1()));
    };
    QList<QPair<QString, QString>> pairs;
    for (const QString& item : encoded.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype eq = item.indexOf(u'=');
        pairs.append({decode(item.left(eq)), eq < 0 ? QString() : decode(item.mid(eq + 1))});
    }
    return pairs;
}

QStringList flagsOf(const RecordedStep& step)
{
    if (step.oneTime)
        return *step.oneTime;
    QList<Entry> entries;
    for (const auto& [name, value] : formPairs(step.postdata))
        entries.append({name, value, Origin::Unknown});
    for (const auto& [name, value] : formPairs(QUrl(step.url).query(QUrl::FullyEncoded)))
        entries.append({name, value, Origin::Unknown});
    return flagged(entries);
}

QString noteFor(const RecordedStep& step)
{
    return flagsOf(step).join(QStringLiteral(", "));
}

QStringList stepLines(const QList<RecordedStep>& steps)
{
    QStringList lines;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QString names = noteFor(steps.at(i));
        if (names.isEmpty())
            continue;
        const QString label =
            steps.at(i).label.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(steps.at(i).label);
        lines.append(QStringLiteral("Step %1%2: %3").arg(i + 1).arg(label, names));
    }
    return lines;
}

QString warningFor(const QList<RecordedStep>& steps)
{
    const QStringList lines = stepLines(steps);
    if (lines.isEmpty())
        return {};
    return QStringLiteral("These steps send values the site gave for one use only (a form's security token, "
                          "a page state). The service sends each step as recorded, so the site may refuse "
                          "them at the first run:\n\n%1\n\nGo on anyway?")
        .arg(lines.join(u'\n'));
}

} // namespace onetime
