#include "HarFile.h"

#include "CodePage.h"
#include "StepStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QUrl>
#include <QStringList>

#include <optional>
#include <utility>

namespace {

const QString formMimeType = QStringLiteral("application/x-www-form-urlencoded");
const QString ownKey = QStringLiteral("_tallyro");
const QString bytesKey = QStringLiteral("postDataBytes");

using Pairs = QList<std::pair<QString, QString>>;

// The text the bytes are as UTF-8, when they are exactly that.
std::optional<QString> exactUtf8(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes)
        return std::nullopt;
    return text;
}

// A replacement character or a NUL: text a browser shows for bytes it could not
// read as text. Such text is not taken as a body, and not written as one.
bool looksBinary(const QString& text)
{
    return text.contains(QChar::ReplacementCharacter) || text.contains(QChar::Null);
}

// One character per byte, U+0000..U+00FF.
QString bytesAsLatin1(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

std::optional<QByteArray> latin1AsBytes(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return std::nullopt;
    }
    return text.toLatin1();
}

// Form encoding as browsers write it: letters, digits and *-._ stay, a space
// becomes '+', every other byte %XX.
QByteArray formEncode(const QByteArray& bytes)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '*' ||
            b == '-' || b == '.' || b == '_') {
            out += ch;
        } else if (b == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0xF];
        }
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// '+' as a space and %XX as its byte; nothing for a broken escape.
std::optional<QByteArray> formDecode(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// name=value pairs of a query or form body, decoded; unreadable parts are left out.
Pairs decodePairs(const QByteArray& text)
{
    Pairs pairs;
    for (const QByteArray& part : text.split('&')) {
        if (part.isEmpty())
            continue;
        const qsizetype eq = part.indexOf('=');
        const auto name = formDecode(eq < 0 ? part : part.left(eq));
        const auto value = formDecode(eq < 0 ? QByteArray() : part.mid(eq + 1));
        if (name && value)
            pairs.append({QString::fromUtf8(*name), QString::fromUtf8(*value)});
    }
    return pairs;
}

// The body's fields when writing them as a form gives exactly the body again.
std::optional<Pairs> exactFormParams(const QByteArray& body)
{
    if (body.isEmpty())
        return std::nullopt;
    Pairs pairs;
    for (const QByteArray& part : body.split('&')) {
        const qsizetype eq = part.indexOf('=');
        if (eq < 0)
            return std::nullopt;
        const auto name = formDecode(part.left(eq));
        const auto value = formDecode(part.mid(eq + 1));
        if (!name || !value)
            return std::nullopt;
        const auto nameText = exactUtf8(*name);
        const auto valueText = exactUtf8(*value);
        if (!nameText || !valueText || formEncode(*name) + '=' + formEncode(*value) != part)
            return std::nullopt;
        pairs.append({*nameText, *valueText});
    }
    return pairs;
}

QJsonArray nameValues(const Pairs& pairs)
{
    QJsonArray array;
    for (const auto& [name, value] : pairs)
        array.append(QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("value"), value}});
    return array;
}

QJsonObject requestObject(const RecordedStep& step, QJsonObject& own)
{
    const QByteArray body = codepage::toAnsi(step.postdata);
    QJsonArray headers;
    QJsonObject request{
        {QStringLiteral("method"), body.isEmpty() ? QStringLiteral("GET") : QStringLiteral("POST")},
        {QStringLiteral("url"), step.url},
        {QStringLiteral("httpVersion"), QStringLiteral("HTTP/1.1")},
        {QStringLiteral("cookies"), QJsonArray()},
        {QStringLiteral("headersSize"), -1},
        {QStringLiteral("bodySize"), static_cast<qint64>(body.size())},
    };
    const qsizetype query = step.url.indexOf(QLatin1Char('?'));
    QString queryText = query < 0 ? QString() : step.url.mid(query + 1);
    queryText.truncate(queryText.indexOf(QLatin1Char('#')));
    request.insert(QStringLiteral("queryString"), nameValues(decodePairs(queryText.toUtf8())));
    if (!body.isEmpty()) {
        // The replay sends every body with this type.
        headers.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("Content-Type")},
                                   {QStringLiteral("value"), formMimeType}});
        QJsonObject postData{{QStringLiteral("mimeType"), formMimeType}};
        if (const auto text = exactUtf8(body); text && !looksBinary(*text)) {
            postData.insert(QStringLiteral("text"), *text);
        } else {
            postData.insert(QStringLiteral("text"), step.postdata);
            own.insert(bytesKey, bytesAsLatin1(body));
        }
        if (const auto params = exactFormParams(body))
            postData.insert(QStringLiteral("params"), nameValues(*params));
        request.insert(QStringLiteral("postData"), postData);
    }
    request.insert(QStringLiteral("headers"), headers);
    return request;
}

QJsonObject responseObject(const HarResponse& response)
{
    const bool known = response.status > 0;
    return {
        {QStringLiteral("status"), response.status},
        {QStringLiteral("statusText"), QString()},
        {QStringLiteral("httpVersion"), known ? QStringLiteral("HTTP/1.1") : QString()},
        {QStringLiteral("cookies"), QJsonArray()},
        {QStringLiteral("headers"), QJsonArray()},
        {QStringLiteral("content"),
         QJsonObject{{QStringLiteral("size"), 0}, {QStringLiteral("mimeType"), QString()}}},
        {QStringLiteral("redirectURL"), QString()},
        {QStringLiteral("headersSize"), -1},
        {QStringLiteral("bodySize"), -1},
    };
}

QString isoTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace

QByteArray harBytes(const QList<RecordedStep>& steps, const QList<HarResponse>& responses,
                    const QDateTime& started)
{
    QDateTime time = started.isValid() ? started : QDateTime::currentDateTimeUtc();
    QJsonArray pages;
    QJsonArray entries;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const RecordedStep& step = steps[i];
        const HarResponse response = i < responses.size() ? responses[i] : HarResponse{};
        const qint64 ms = response.ms >= 0 ? response.ms : -1;
        const QString pageId = QStringLiteral("page_%1").arg(i + 1);

        pages.append(QJsonObject{
            {QStringLiteral("startedDateTime"), isoTime(time)},
            {QStringLiteral("id"), pageId},
            {QStringLiteral("title"), step.label.isEmpty() ? step.url : step.label},
            {QStringLiteral("pageTimings"),
             QJsonObject{{QStringLiteral("onContentLoad"), -1}, {QStringLiteral("onLoad"), ms}}},
        });

        QJsonObject own{
            {QStringLiteral("keywords"), step.keywords}, {QStringLiteral("errors"), step.errors},
            {QStringLiteral("cookies"), step.cookies},   {QStringLiteral("httpuser"), step.httpuser},
            {QStringLiteral("httppass"), step.httppass}, {QStringLiteral("timeout"), step.timeout},
            {QStringLiteral("ping"), step.ping},         {QStringLiteral("label"), step.label},
        };
        QJsonObject request = requestObject(step, own);
        // Unknown timings: -1 where HAR allows it; send, wait and receive must be numbers.
        const qint64 wait = ms >= 0 ? ms : 0;
        entries.append(QJsonObject{
            {QStringLiteral("pageref"), pageId},
            {QStringLiteral("startedDateTime"), isoTime(time)},
            {QStringLiteral("time"), wait},
            {QStringLiteral("request"), request},
            {QStringLiteral("response"), responseObject(response)},
            {QStringLiteral("cache"), QJsonObject()},
            {QStringLiteral("timings"), QJsonObject{{QStringLiteral("blocked"), -1},
                                                    {QStringLiteral("dns"), -1},
                                                    {QStringLiteral("connect"), -1},
                                                    {QStringLiteral("ssl"), -1},
                                                    {QStringLiteral("send"), 0},
                                                    {QStringLiteral("wait"), wait},
                                                    {QStringLiteral("receive"), 0}}},
            {QStringLiteral("_resourceType"), QStringLiteral("document")},
            {ownKey, own},
        });
        time = time.addMSecs(wait + 1);
    }
    QString version = QCoreApplication::applicationVersion();
    const QJsonObject log{
        {QStringLiteral("version"), QStringLiteral("1.2")},
        {QStringLiteral("creator"),
         QJsonObject{{QStringLiteral("name"), QStringLiteral("TallyroNet Transaction Recorder")},
                     {QStringLiteral("version"), version}}},
        {QStringLiteral("pages"), pages},
        {QStringLiteral("entries"), entries},
    };
    return QJsonDocument(QJsonObject{{QStringLiteral("log"), log}}).toJson(QJsonDocument::Indented);
}

namespace {

QString plural(int n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString tooLargeMessage()
{
    return QStringLiteral("The file is larger than %1 MB and was not read.").arg(harMaxFileSize >> 20);
}

HarImport refused(const QString& message)
{
    HarImport result;
    result.message = message;
    return result;
}

QString headerValue(const QJsonValue& headers, QLatin1String name)
{
    for (const QJsonValue& header : headers.toArray()) {
        const QJsonObject h = header.toObject();
        if (h.value(QStringLiteral("name")).toString().compare(name, Qt::CaseInsensitive) == 0)
            return h.value(QStringLiteral("value")).toString().trimmed();
    }
    return {};
}

bool isPageLoad(const QJsonObject& entry, const QJsonObject& request)
{
    if (entry.value(ownKey).isObject())
        return true;
    const QString method = request.value(QStringLiteral("method")).toString().toUpper();
    if (!method.isEmpty() && method != QLatin1String("GET") && method != QLatin1String("POST"))
        return false;
    // Chrome's own type, then the destination the browser declared, then the response.
    const QJsonValue resourceType = entry.value(QStringLiteral("_resourceType"));
    if (resourceType.isString())
        return resourceType.toString().compare(QLatin1String("document"), Qt::CaseInsensitive) == 0;
    const QJsonValue headers = request.value(QStringLiteral("headers"));
    const QString dest = headerValue(headers, QLatin1String("Sec-Fetch-Dest")).toLower();
    if (!dest.isEmpty())
        return dest == QLatin1String("document") || dest == QLatin1String("iframe") ||
               dest == QLatin1String("frame");
    if (!headerValue(headers, QLatin1String("X-Requested-With")).isEmpty())
        return false;
    const QString mode = headerValue(headers, QLatin1String("Sec-Fetch-Mode")).toLower();
    if (!mode.isEmpty() && mode != QLatin1String("navigate"))
        return false;
    const QJsonObject content =
        entry.value(QStringLiteral("response")).toObject().value(QStringLiteral("content")).toObject();
    const QString mime = content.value(QStringLiteral("mimeType")).toString().section(QLatin1Char(';'), 0, 0);
    return mime.trimmed().compare(QLatin1String("text/html"), Qt::CaseInsensitive) == 0 ||
           mime.trimmed().compare(QLatin1String("application/xhtml+xml"), Qt::CaseInsensitive) == 0;
}

enum class Body
{
    Read,
    Unreadable,
    Encoded
};

// The body's bytes, one character per byte in the program's code page.
Body readBody(const QJsonObject& entry, const QJsonObject& request, QString& postdata)
{
    postdata.clear();
    const QJsonValue exact = entry.value(ownKey).toObject().value(bytesKey);
    if (exact.isString()) {
        if (const auto bytes = latin1AsBytes(exact.toString())) {
            postdata = codepage::fromAnsi(*bytes);
            return Body::Read;
        }
    }
    const QJsonValue value = request.value(QStringLiteral("postData"));
    if (value.isUndefined() || value.isNull())
        return Body::Read;
    if (!value.isObject())
        return Body::Unreadable;
    const QJsonObject postData = value.toObject();
    // A multipart body cannot be replayed as the form the replay sends.
    const QString mime =
        postData.value(QStringLiteral("mimeType")).toString().section(QLatin1Char(';'), 0, 0).trimmed();
    if (postData.contains(QStringLiteral("encoding")) ||
        mime.startsWith(QLatin1String("multipart/"), Qt::CaseInsensitive))
        return Body::Encoded;
    const QJsonValue text = postData.value(QStringLiteral("text"));
    const QJsonValue params = postData.value(QStringLiteral("params"));
    // Playwright leaves the text empty, with the fields, when it omits bodies.
    const bool fieldsOnly = text.isString() && text.toString().isEmpty() && !params.toArray().isEmpty();
    if (text.isString() && !fieldsOnly) {
        const QString t = text.toString();
        if (looksBinary(t))
            return Body::Encoded;
        postdata = codepage::fromAnsi(t.toUtf8());
        return Body::Read;
    }
    if (!fieldsOnly && !text.isUndefined() && !text.isNull())
        return Body::Unreadable;
    if (params.isUndefined() || params.isNull())
        return Body::Read;
    if (!params.isArray())
        return Body::Unreadable;
    // Fields without the body's text: written as the form the browser sent.
    if (mime.compare(formMimeType, Qt::CaseInsensitive) != 0)
        return Body::Encoded;
    QByteArray body;
    for (const QJsonValue& param : params.toArray()) {
        const QJsonObject p = param.toObject();
        if (!param.isObject() || !p.value(QStringLiteral("name")).isString())
            return Body::Unreadable;
        if (p.contains(QStringLiteral("fileName")) || p.contains(QStringLiteral("encoding")))
            return Body::Encoded;
        if (!body.isEmpty())
            body += '&';
        body += formEncode(p.value(QStringLiteral("name")).toString().toUtf8()) + '=' +
                formEncode(p.value(QStringLiteral("value")).toString().toUtf8());
    }
    postdata = codepage::fromAnsi(body);
    return Body::Read;
}

bool isWebScheme(const QString& url)
{
    const QString scheme = url.section(QLatin1Char(':'), 0, 0).toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("ftp");
}

QString importMessage(const HarImport& r)
{
    QStringList parts;
    parts << (r.added ? plural(r.added, "step", "steps") + QStringLiteral(" added.")
                      : QStringLiteral("No steps added."));
    if (r.entries == 0)
        parts << QStringLiteral("The file holds no requests.");
    if (r.notPageLoads)
        parts << plural(r.notPageLoads, "request was not a page load.", "requests were not page loads.");
    if (r.redirects)
        parts << plural(r.redirects, "page load followed a server redirect (the step before it makes it).",
                        "page loads followed server redirects (the steps before them make them).");
    if (r.notWebAddresses)
        parts << plural(r.notWebAddresses, "page load was not of a web or ftp address.",
                        "page loads were not of web or ftp addresses.");
    if (r.encodedBodies)
        parts << plural(r.encodedBodies,
                        "page load had binary, base64 or multipart post data and was skipped.",
                        "page loads had binary, base64 or multipart post data and were skipped.");
    if (r.unreadable)
        parts << plural(r.unreadable, "request could not be read.", "requests could not be read.");
    if (r.duplicates)
        parts << plural(r.duplicates, "step was a duplicate.", "steps were duplicates.");
    if (r.storeFull)
        parts << QStringLiteral("The transaction is full (%1 steps): %2 not added.")
                     .arg(StepStore::capacity)
                     .arg(plural(r.storeFull, "step", "steps"));
    return parts.join(QLatin1Char(' '));
}

} // namespace

HarImport importHar(const QByteArray& bytes, StepStore& store)
{
    if (bytes.size() > harMaxFileSize)
        return refused(tooLargeMessage());
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        return refused(
            QStringLiteral("The file is not a HAR file: it is not JSON or is cut short (%1 at byte %2).")
                .arg(error.errorString())
                .arg(error.offset));
    }
    const QJsonValue log = document.object().value(QStringLiteral("log"));
    if (!log.isObject())
        return refused(QStringLiteral("The file is not a HAR file: it has no \"log\" object."));
    const QJsonValue entries = log.toObject().value(QStringLiteral("entries"));
    if (!entries.isArray())
        return refused(QStringLiteral("The file is not a HAR file: its log has no \"entries\" list."));

    HarImport result;
    result.read = true;
    QList<QUrl> redirectTargets; // where redirects sent the browser, not yet seen
    for (const QJsonValue& value : entries.toArray()) {
        ++result.entries;
        const QJsonObject entry = value.toObject();
        const QJsonValue requestValue = entry.value(QStringLiteral("request"));
        const QJsonObject request = requestValue.toObject();
        const QJsonValue url = request.value(QStringLiteral("url"));
        if (!value.isObject() || !requestValue.isObject() || !url.isString()) {
            ++result.unreadable;
            continue;
        }
        if (!isPageLoad(entry, request)) {
            ++result.notPageLoads;
            continue;
        }
        // A server redirect is not a step of its own, as in recording: the
        // request that got it makes the browser follow it again.
        const QUrl address = QUrl(url.toString()).adjusted(QUrl::RemoveFragment);
        const QJsonObject response = entry.value(QStringLiteral("response")).toObject();
        const int status = response.value(QStringLiteral("status")).toInt();
        const QString location = response.value(QStringLiteral("redirectURL")).toString();
        const bool hop = redirectTargets.removeOne(address);
        if (status >= 300 && status < 400 && !location.isEmpty())
            redirectTargets.append(address.resolved(QUrl(location)).adjusted(QUrl::RemoveFragment));
        if (hop) {
            ++result.redirects;
            continue;
        }
        if (!isWebScheme(url.toString())) {
            ++result.notWebAddresses;
            continue;
        }
        QString postdata;
        switch (readBody(entry, request, postdata)) {
        case Body::Read:
            break;
        case Body::Unreadable:
            ++result.unreadable;
            continue;
        case Body::Encoded:
            ++result.encodedBodies;
            continue;
        }
        const QJsonObject own = entry.value(ownKey).toObject();
        const auto field = [&own](const char* name) { return own.value(QLatin1String(name)).toString(); };
        switch (store.addURL(url.toString(), postdata, field("keywords"), field("errors"), field("cookies"),
                             field("httpuser"), field("httppass"), field("timeout"), field("ping"),
                             field("label"))) {
        case StepStore::AddResult::Added:
            ++result.added;
            break;
        case StepStore::AddResult::NotWebAddress:
            ++result.notWebAddresses;
            break;
        case StepStore::AddResult::StoreFull:
            ++result.storeFull;
            break;
        case StepStore::AddResult::Duplicate:
            ++result.duplicates;
            break;
        }
    }
    result.message = importMessage(result);
    return result;
}

HarImport importHar(QIODevice& device, StepStore& store)
{
    if (!device.isSequential() && device.size() > harMaxFileSize)
        return refused(tooLargeMessage());
    // One byte more than allowed tells a file that is too large.
    const QByteArray bytes = device.read(harMaxFileSize + 1);
    return importHar(bytes, store);
}

HarImport importHarFile(const QString& path, StepStore& store)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return refused(
            QStringLiteral("%1 could not be read: %2.").arg(QFileInfo(path).fileName(), file.errorString()));
    }
    return importHar(file, store);
}
