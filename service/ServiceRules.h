#pragma once

#include "ServiceExchange.h"

#include <QList>
#include <QString>

// What the service is asked and how its answers are read, apart from any window.

// One transaction of the account, as the list answer gives it.
struct TransactionEntry
{
    qint32 id = 0;
    QString name;

    friend bool operator==(const TransactionEntry&, const TransactionEntry&) = default;
};

// The list answer read.
struct TransactionList
{
    enum class Kind
    {
        Refused,        // began with "Error:"; message is the whole answer
        NoTransactions, // "0"
        Entries,        // records (possibly none)
    };
    Kind kind = Kind::Entries;
    QString message;
    QList<TransactionEntry> entries;
};

// Reads the trimmed list answer. Records are ended by CR LF; the text after the
// last CR LF is never a record. A record is id ";;" name (further fields are
// ignored). A record without ";;", or whose id is not a decimal 32-bit integer,
// is skipped, so entries keep the order of the valid records only.
TransactionList parseTransactionList(const QString& response);

// Upload modes, numbered as the upload window's option buttons.
enum class UploadMode
{
    Performance = 0,
    FullPage = 1,
    Replace = 2
};

// "/uploadtrans.php?username=" user "&key=" key, as typed.
QString listObjectPath(const QString& username, const QString& key);
// "/uploadtrans.php" alone, with "?fp=1", or with "?trid=" and the id in decimal.
QString uploadObjectPath(UploadMode mode, qint32 transactionId);
QString reportObjectPath();

// The upload's body parts: the transaction file, then "upl" with "Upload".
QList<FormPart> uploadParts(const QString& filePath, const QByteArray& fileBytes);
// The report's body parts: the transaction file, then name, email, user and
// description as plain text.
QList<FormPart> reportParts(const QString& filePath, const QByteArray& fileBytes, const QString& name,
                            const QString& email, const QString& user, const QString& description);

// An upload or report succeeded when the answer begins with "OK" (exact case).
bool isSuccessAnswer(const QString& response);

// Message texts of the upload and the report. The failure texts take the
// service's answer, or the reason the service could not be reached.
QString uploadSuccessText();
QString uploadFailureText(const QString& detail);
QString reportSuccessText();
// Why a form part cannot be sent: its value holds the request's part delimiter.
QString delimiterInPartText(const QString& partName);
QString reportFailureText(const QString& detail);
// Shown when the transaction list could not be fetched at all.
QString serviceUnreachableText(const QString& reason);

// Title of the message boxes that have none of their own.
QString applicationTitle();
