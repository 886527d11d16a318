#include "ServiceExchange.h"

#include "CodePage.h"
#include "ServiceHost.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

const QByteArray delimiter = QByteArrayLiteral("----Xu02=$");
const QByteArray crlf = QByteArrayLiteral("\r\n");

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The answer as it arrives, up to a limit.
struct Received
{
    QByteArray bytes;
    qint64 limit = 0;
    bool tooLarge = false;
};

size_t appendResponse(char* data, size_t size, size_t count, void* target)
{
    const size_t bytes = size * count;
    auto* received = static_cast<Received*>(target);
    if (static_cast<qint64>(bytes) > received->limit - received->bytes.size()) {
        // Returning less than was handed over makes libcurl end the transfer.
        received->tooLarge = true;
        return 0;
    }
    received->bytes.append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

QString sizeText(qint64 bytes)
{
    constexpr qint64 kb = 1024;
    constexpr qint64 mb = 1024 * kb;
    if (bytes >= mb && bytes % mb == 0)
        return QStringLiteral("%1 MB").arg(bytes / mb);
    if (bytes >= kb && bytes % kb == 0)
        return QStringLiteral("%1 KB").arg(bytes / kb);
    return QStringLiteral("%1 bytes").arg(bytes);
}

struct CurlCleanup
{
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistCleanup
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Characters that may stand raw in a request target: RFC 3986's unreserved and
// sub-delimiter characters, ':', '@', '/', '?', and '%' (a typed '%' is sent
// as typed, as the service expects the texts unescaped).
bool sendsRaw(unsigned char byte)
{
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9'))
        return true;
    return QByteArrayView("-._~!$&'()*+,;=:@/?%").contains(static_cast<char>(byte));
}

} // namespace

FormPart FormPart::text(const QString& name, const QString& value, const QString& contentType)
{
    return {name, std::nullopt, contentType, codepage::toAnsi(value)};
}

FormPart FormPart::transactionFile(const QString& path, const QByteArray& bytes)
{
    return {QStringLiteral("file"), path, QStringLiteral("text/xml"), bytes};
}

QString multipartHeader()
{
    return QStringLiteral("Content-Type: multipart/form-data; boundary=--Xu02=$");
}

QByteArray buildFormBody(const QList<FormPart>& parts)
{
    QByteArray body;
    for (const FormPart& part : parts) {
        body += delimiter + crlf;
        body += "Content-Disposition: form-data; name=\"" + codepage::toAnsi(part.name) + '"';
        if (part.fileName)
            body += "; filename=\"" + codepage::toAnsi(*part.fileName) + '"';
        body += crlf;
        if (!part.contentType.isEmpty())
            body += "Content-type: " + codepage::toAnsi(part.contentType) + crlf;
        body += crlf;
        body += part.value + crlf;
    }
    body += delimiter + "--";
    return body;
}

std::optional<QString> partHoldingDelimiter(const QList<FormPart>& parts)
{
    for (const FormPart& part : parts) {
        if (part.value.contains(delimiter))
            return part.name;
    }
    return std::nullopt;
}

QString answerTooLargeText(qint64 limitBytes)
{
    return QStringLiteral("The service's answer was larger than %1; it was not read.")
        .arg(sizeText(limitBytes));
}

QByteArray requestTarget(const QString& objectPath)
{
    const QByteArray bytes = codepage::toAnsi(objectPath);
    QByteArray target;
    target.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (sendsRaw(byte)) {
            target += c;
        } else {
            target += '%';
            target += QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
        }
    }
    return target;
}

bool sendServiceRequest(const QString& verb, const QString& objectPath, const QString& header,
                        const QByteArray& body, QString* response, QString* error,
                        const ExchangeLimits& limits)
{
    response->clear();
    initCurlOnce();
    std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
    if (!curl) {
        if (error)
            *error = QStringLiteral("The network library could not be started.");
        return false;
    }
    CURL* handle = curl.get();

    const QByteArray url = "http://" + codepage::toAnsi(serviceHost()) + requestTarget(objectPath);
    const QByteArray verbBytes = codepage::toAnsi(verb);
    const QByteArray headerBytes = codepage::toAnsi(header);

    // libcurl adds "Accept: */*" and, for larger bodies, "Expect: 100-continue";
    // an empty header of that name removes it, so only the one header given goes
    // out next to the host, agent and length.
    curl_slist* list = curl_slist_append(nullptr, "Accept:");
    list = curl_slist_append(list, "Expect:");
    if (!headerBytes.isEmpty())
        list = curl_slist_append(list, headerBytes.constData());
    std::unique_ptr<curl_slist, SlistCleanup> headers(list);

    Received received;
    received.limit = std::max<qint64>(limits.answerBytes, 0);
    char errorBuffer[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(handle, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Tallyro Recorder");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count()));
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, 1024L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &appendResponse);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
    // An announced length above the limit is refused before the body is read;
    // an answer without one is stopped by appendResponse.
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(received.limit));
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);

    if (verbBytes == "GET") {
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    } else {
        if (verbBytes != "POST")
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, verbBytes.constData());
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.constData());
    }

    const CURLcode result = curl_easy_perform(handle);
    if (result != CURLE_OK) {
        if (error) {
            const QString detail = QString::fromLocal8Bit(errorBuffer).trimmed();
            if (result == CURLE_FILESIZE_EXCEEDED || (result == CURLE_WRITE_ERROR && received.tooLarge))
                *error = answerTooLargeText(received.limit);
            else
                *error = detail.isEmpty() ? QString::fromLocal8Bit(curl_easy_strerror(result)) : detail;
        }
        return false;
    }
    *response = trimSpaces(codepage::fromAnsi(received.bytes));
    if (error)
        error->clear();
    return true;
}
