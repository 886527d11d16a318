#include "TransactionFile.h"

#include "CodePage.h"
#include "Encodings.h"
#include "ProgramFolder.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {

class LineWriter
{
public:
    void line(QStringView text)
    {
        m_text += text;
        m_text += u"\r\n";
    }

    // Start tag, value and end tag on one line, without blanks.
    void element(QStringView name, QStringView value)
    {
        m_text += u'<';
        m_text += name;
        m_text += u'>';
        m_text += value;
        m_text += u"</";
        m_text += name;
        m_text += u">\r\n";
    }

    const QString& text() const { return m_text; }

private:
    QString m_text;
};

} // namespace

QByteArray transactionFileBytes(const QList<RecordedStep>& steps, const AccountCredentials& account)
{
    LineWriter out;
    out.line(u"<?xml version = '1.0'?>");
    out.line(u"<data>");
    out.element(u"username", account.username);
    out.element(u"key", account.key);
    out.line(u"<transaction>");
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const RecordedStep& step = steps.at(i);
        out.line(u"<step>");
        out.element(u"id", QString::number(i + 1));
        out.element(u"url", escapeSymbols(step.url));
        out.element(u"method", step.method());
        out.element(u"keywords", escapeSymbols(step.keywords));
        out.element(u"errors", escapeSymbols(step.errors));
        out.element(u"timeout", step.timeoutOrDefault());
        out.element(u"ping", step.pingOrDefault());
        out.element(u"postdata", escapeSymbols(step.postdata));
        out.element(u"cookies", escapeSymbols(step.cookies));
        out.element(u"httpuser", escapeSymbols(step.httpuser));
        out.element(u"httppass", escapeSymbols(step.httppass));
        out.element(u"label", escapeSymbols(step.label));
        out.line(u"</step>");
    }
    out.line(u"</transaction>");
    out.line(u"</data>");
    return codepage::toAnsi(out.text());
}

bool saveTransactionFile(const QString& path, const QByteArray& bytes, QString* error)
{
    // A new file holds the account key: its owner alone may read it. An existing
    // file keeps the permissions it has.
    QString reason;
    if (replaceFile(path, bytes, !QFileInfo::exists(path), &reason))
        return true;
    if (error)
        *error = fileErrorMessage(path, reason);
    return false;
}

QString defaultTransactionFile()
{
    return programFile(QStringLiteral("recorder.xml"));
}
