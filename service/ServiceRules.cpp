#include "ServiceRules.h"

#include <limits>

namespace {

const QString crlf = QStringLiteral("\r\n");

// An optional sign and decimal digits, blanks around them allowed, within 32 bits.
bool parseId(const QString& text, qint32* id)
{
    const QString digits = trimSpaces(text);
    qsizetype pos = 0;
    bool negative = false;
    if (pos < digits.size() && (digits.at(pos) == u'-' || digits.at(pos) == u'+')) {
        negative = digits.at(pos) == u'-';
        ++pos;
    }
    if (pos == digits.size())
        return false;
    qint64 value = 0;
    for (; pos < digits.size(); ++pos) {
        const char16_t c = digits.at(pos).unicode();
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c - u'0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            return false;
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<qint32>::max())
        return false;
    *id = static_cast<qint32>(value);
    return true;
}

} // namespace

TransactionList parseTransactionList(const QString& response)
{
    TransactionList list;
    if (response.startsWith(QStringLiteral("Error:"))) {
        list.kind = TransactionList::Kind::Refused;
        list.message = response;
        return list;
    }
    if (response == u"0") {
        list.kind = TransactionList::Kind::NoTransactions;
        return list;
    }
    list.kind = TransactionList::Kind::Entries;
    QStringList records = response.split(crlf);
    records.removeLast(); // the text after the last CR LF is not a record
    for (const QString& record : std::as_const(records)) {
        const QStringList fields = record.split(QStringLiteral(";;"));
        TransactionEntry entry;
        if (fields.size() < 2 || !parseId(fields.at(0), &entry.id))
            continue;
        entry.name = fields.at(1);
        list.entries.append(entry);
    }
    return list;
}

QString listObjectPath(const QString& username, const QString& key)
{
    return QStringLiteral("/uploadtrans.php?username=") + username + QStringLiteral("&key=") + key;
}

QString uploadObjectPath(UploadMode mode, qint32 transactionId)
{
    QString path = QStringLiteral("/uploadtrans.php");
    if (mode == UploadMode::Replace)
        path += QStringLiteral("?trid=") + QString::number(transactionId);
    else if (mode == UploadMode::FullPage)
        path += QStringLiteral("?fp=1");
    return path;
}

QString reportObjectPath()
{
    return QStringLiteral("/uploadtrans.php?report=problem");
}

QList<FormPart> uploadParts(const QString& filePath, const QByteArray& fileBytes)
{
    return {FormPart::transactionFile(filePath, fileBytes),
            FormPart::text(QStringLiteral("upl"), QStringLiteral("Upload"))};
}

QList<FormPart> reportParts(const QString& filePath, const QByteArray& fileBytes, const QString& name,
                            const QString& email, const QString& user, const QString& description)
{
    const QString plain = QStringLiteral("text/plain");
    return {FormPart::transactionFile(filePath, fileBytes),
            FormPart::text(QStringLiteral("name"), name, plain),
            FormPart::text(QStringLiteral("email"), email, plain),
            FormPart::text(QStringLiteral("user"), user, plain),
            FormPart::text(QStringLiteral("description"), description, plain)};
}

bool isSuccessAnswer(const QString& response)
{
    return response.startsWith(QStringLiteral("OK"));
}

QString uploadSuccessText()
{
    return QStringLiteral("Transaction uploaded successfully.") + crlf +
           QStringLiteral(
               "Please login to your TallyroNet account to adjust your configuration and start the "
               "monitoring of this transaction");
}

QString uploadFailureText(const QString& detail)
{
    return QStringLiteral("Error uploading transaction: ") + crlf + detail;
}

QString reportSuccessText()
{
    return QStringLiteral("Report sent successfully") + crlf +
           QStringLiteral("You will be contacted shortly by a TallyroNet support representative");
}

QString delimiterInPartText(const QString& partName)
{
    const QString what = partName == QLatin1String("file") ? QStringLiteral("The transaction file")
                                                           : QStringLiteral("The field \"%1\"").arg(partName);
    return what + QStringLiteral(" contains \"----Xu02=$\", the text that separates the parts of the "
                                 "request, so it cannot be sent. Please remove that text and try again.");
}

QString reportFailureText(const QString& detail)
{
    return QStringLiteral("Error delivering report: ") + crlf + detail + crlf +
           QStringLiteral(
               "Please make sure you are connected to the Internet and try again. If you are still "
               "expiriencing problems calls us at 1-888-TALLYRO");
}

QString serviceUnreachableText(const QString& reason)
{
    return QStringLiteral(
               "The list of your transactions could not be loaded: the TallyroNet service could not "
               "be reached.") +
           crlf + reason;
}

QString applicationTitle()
{
    return QStringLiteral("TallyroNet Transaction Recorder");
}
