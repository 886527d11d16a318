#include "TransactionFile.h"

#include "CodePage.h"
#include "Encodings.h"
#include "FileReplace.h"
#include "ProgramFolder.h"

namespace {

// Builds the file's bytes directly: escaped fields are ASCII, the unencoded ones
// are converted to the code page as they are appended.
class LineWriter
{
public:
    explicit LineWriter(qsizetype expectedSize) { m_bytes.reserve(expectedSize); }

    void line(const char* text)
    {
        m_bytes += text;
        m_bytes += "\r\n";
    }

    // Start tag, the field percent-encoded, end tag on one line.
    void escaped(const char* name, QStringView value)
    {
        open(name);
        appendEscaped(m_bytes, value);
        close(name);
    }

    // Start tag, the field as it is, end tag on one line. The three characters
    // that would end or break the element are written as XML entities, which the
    // reader turns back into the characters; any other text is unchanged.
    void unencoded(const char* name, const QString& value)
    {
        open(name);
        const QByteArray bytes = codepage::toAnsi(value);
        if (!bytes.contains('&') && !bytes.contains('<') && !bytes.contains('>')) {
            m_bytes += bytes; // the usual case, at once
        } else {
            for (const char c : bytes) {
                switch (c) {
                case '&':
                    m_bytes += "&amp;";
                    break;
                case '<':
                    m_bytes += "&lt;";
                    break;
                case '>':
                    m_bytes += "&gt;";
                    break;
                default:
                    m_bytes += c;
                }
            }
        }
        close(name);
    }

    QByteArray take() { return std::move(m_bytes); }

private:
    void open(const char* name)
    {
        m_bytes += '<';
        m_bytes += name;
        m_bytes += '>';
    }

    void close(const char* name)
    {
        m_bytes += "</";
        m_bytes += name;
        m_bytes += ">\r\n";
    }

    QByteArray m_bytes;
};

qsizetype expectedSize(const QList<RecordedStep>& steps)
{
    qsizetype size = 256;
    for (const RecordedStep& s : steps)
        size += 256 +
                3 * (s.url.size() + s.keywords.size() + s.errors.size() + s.postdata.size() +
                     s.cookies.size() + s.httpuser.size() + s.httppass.size() + s.label.size()) +
                s.timeout.size() + s.ping.size();
    return size;
}

} // namespace

QByteArray transactionFileBytes(const QList<RecordedStep>& steps, const AccountCredentials& account)
{
    LineWriter out(expectedSize(steps));
    out.line("<?xml version = '1.0'?>");
    out.line("<data>");
    out.unencoded("username", account.username);
    out.unencoded("key", account.key);
    out.line("<transaction>");
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const RecordedStep& step = steps.at(i);
        out.line("<step>");
        out.unencoded("id", QString::number(i + 1));
        out.escaped("url", step.url);
        out.unencoded("method", step.method());
        out.escaped("keywords", step.keywords);
        out.escaped("errors", step.errors);
        out.unencoded("timeout", step.timeoutOrDefault());
        out.unencoded("ping", step.pingOrDefault());
        out.escaped("postdata", step.postdata);
        out.escaped("cookies", step.cookies);
        out.escaped("httpuser", step.httpuser);
        out.escaped("httppass", step.httppass);
        out.escaped("label", step.label);
        out.line("</step>");
    }
    out.line("</transaction>");
    out.line("</data>");
    return out.take();
}

bool saveTransactionFile(const QString& path, const QByteArray& bytes, QString* error)
{
    // The file holds the account key. The program's own copy is kept for its
    // owner alone whatever it was; a file the user chose keeps its permissions
    // (a new one is its owner's alone).
    const FileKind kind = path == defaultTransactionFile() ? FileKind::KeyHolder : FileKind::UserFile;
    QString reason;
    if (replaceFile(path, bytes, kind, &reason))
        return true;
    if (error)
        *error = fileErrorMessage(path, reason);
    return false;
}

QString defaultTransactionFile()
{
    return programFile(QStringLiteral("recorder.xml"));
}
