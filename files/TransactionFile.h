#pragma once

#include "Credentials.h"
#include "RecordedStep.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The transaction file: an XML document with the account's user name and key and
// one <step> element per recorded step. Every line ends with CR LF; there is no
// byte-order mark and no indentation; text is written in the program's code page.
// The free-text step fields are percent-encoded (escapeSymbols), so they never
// need XML entities; user name, key, timeout and ping are written as they are,
// except that "&", "<" and ">" in them become XML entities so the file stays
// readable.

// The file's bytes for these steps and account. Ids are renumbered from 1; the
// method is "P" for a step with post data, else "G"; an empty timeout is written
// as "30" and an empty ping as "N".
QByteArray transactionFileBytes(const QList<RecordedStep>& steps, const AccountCredentials& account);

// Replaces the file at path as a whole or not at all. On failure returns false,
// sets *error (when given) to a sentence naming the file and the reason, and
// leaves any old file untouched. A new file is readable by its owner only, since
// it holds the account key; an existing file keeps its permissions.
bool saveTransactionFile(const QString& path, const QByteArray& bytes, QString* error);

// recorder.xml in the program's folder: the file that uploads and problem
// reports send.
QString defaultTransactionFile();
