#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "Encodings.h" // trimSpaces

#include <chrono>
#include <optional>

// The one request pattern the recorder uses with the monitoring service: a
// single blocking HTTP/1.1 exchange per operation, the multipart body of the two
// POST requests and the reading of the transaction file that goes into it.

// One part of a multipart form body. Text values are stored already converted
// to the program's code page, so the body is assembled from bytes only.
struct FormPart
{
    QString name;                    // form field name
    std::optional<QString> fileName; // only the file part has one: the file's full path
    QString contentType;             // empty: the part has no content-type line
    QByteArray value;

    // A text part; the value goes out in the program's code page.
    static FormPart text(const QString& name, const QString& value, const QString& contentType = {});
    // The transaction file's part: field "file", content type "text/xml", the bytes unchanged.
    static FormPart transactionFile(const QString& path, const QByteArray& bytes);

    friend bool operator==(const FormPart&, const FormPart&) = default;
};

// The request header both POST requests carry, exactly as sent.
QString multipartHeader();

// The body: for each part its delimiter line, disposition line, optional
// content-type line, an empty line and the value, each ended by CR LF; then the
// closing delimiter with nothing after it.
QByteArray buildFormBody(const QList<FormPart>& parts);

// The name of the first part whose value holds the delimiter line's text, or
// nothing. The delimiter is fixed, so such a value would end its part early
// and be read by the service as parts of its own: it is not sent.
std::optional<QString> partHoldingDelimiter(const QList<FormPart>& parts);

// How long an exchange may take and how large its answer may be. The window
// that waits for it takes no input meanwhile, so it must not wait forever on a
// silent service. The service's answers (the transaction list, "OK" texts and
// error sentences) are a few KB at most; a far larger one is refused unread
// rather than held in memory and shown.
struct ExchangeLimits
{
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds total{60'000};
    qint64 answerBytes = 1'048'576; // 1 MB
};

// The reason given when an answer is larger than limitBytes.
QString answerTooLargeText(qint64 limitBytes);

// The request target as it goes on the wire: the object path in the program's
// code page, with only the characters that cannot stand in a request line
// (controls, blanks, non-ASCII, and the few ASCII characters a URL never holds
// raw, such as '#') percent-encoded. Everything else, '%', '&' and '=' included,
// goes out as typed.
QByteArray requestTarget(const QString& objectPath);

// Performs one exchange with the service at serviceHost() (host, optionally
// ":port"; port 80 otherwise): verb and object path, the header line (empty:
// none) and the body (ignored for GET). Blocks the calling thread until the
// response is read whole or the limits run out. The status code and response
// headers are not examined: any response that arrives gives true and its body
// as text in the program's code page, trimmed of spaces at both ends. When no
// response arrives (refused, unknown host, time-out, connection closed without
// an answer) it gives false, an empty response and the reason in error. So does
// an answer larger than limits.answerBytes: the transfer stops at the limit,
// the rest is not read, and the reason is answerTooLargeText.
bool sendServiceRequest(const QString& verb, const QString& objectPath, const QString& header,
                        const QByteArray& body, QString* response, QString* error,
                        const ExchangeLimits& limits = {});
