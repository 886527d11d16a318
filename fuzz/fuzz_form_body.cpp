// The multipart body on any parts: it is read back part by part, as a service
// reading the fixed boundary sees it, whenever no value holds the boundary line
// itself (the boundary is fixed, so such a value cannot be told apart from it;
// the senders refuse those, which partHoldingDelimiter finds).
#include "FuzzSupport.h"
#include "ServiceExchange.h"
#include "ServiceRules.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <optional>

namespace {

const QByteArray delimiter = QByteArrayLiteral("----Xu02=$");
const QByteArray crlf = QByteArrayLiteral("\r\n");

struct ReadPart
{
    QByteArray name;
    std::optional<QByteArray> fileName;
    QByteArray contentType; // empty: no content-type line
    QByteArray value;
};

QByteArray bytesOf(const std::string& s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

QString textOf(FuzzedDataProvider& in, std::size_t maxLength)
{
    const QByteArray raw = bytesOf(in.ConsumeRandomLengthString(maxLength));
    if (in.ConsumeBool())
        return codepage::fromAnsi(raw);
    return fuzz::utf16Text(reinterpret_cast<const std::uint8_t*>(raw.constData()),
                           static_cast<std::size_t>(raw.size()));
}

// Takes a quoted parameter `key="..."` from the front of header; false when absent.
bool takeQuoted(QByteArray& header, const QByteArray& key, QByteArray& value)
{
    if (!header.startsWith(key + "=\""))
        return false;
    const qsizetype end = header.indexOf('"', key.size() + 2);
    if (end < 0)
        return false;
    value = header.mid(key.size() + 2, end - key.size() - 2);
    header.remove(0, end + 1);
    return true;
}

// Reads one part's text between "<delimiter> CR LF" and the CR LF before the next delimiter.
std::optional<ReadPart> readPart(const QByteArray& text)
{
    const qsizetype headerEnd = text.indexOf(crlf + crlf);
    if (headerEnd < 0)
        return std::nullopt;
    const QList<QByteArray> lines = text.left(headerEnd).split('\n');
    QByteArray disposition = lines.at(0);
    if (lines.size() > 2 || (lines.size() == 2 && !disposition.endsWith('\r')))
        return std::nullopt;
    if (lines.size() == 2)
        disposition.chop(1);
    ReadPart part;
    if (!disposition.startsWith("Content-Disposition: form-data; "))
        return std::nullopt;
    disposition.remove(0, 32);
    if (!takeQuoted(disposition, "name", part.name))
        return std::nullopt;
    if (disposition.startsWith("; ")) {
        disposition.remove(0, 2);
        QByteArray fileName;
        if (!takeQuoted(disposition, "filename", fileName))
            return std::nullopt;
        part.fileName = fileName;
    }
    if (!disposition.isEmpty())
        return std::nullopt;
    if (lines.size() == 2) {
        if (!lines.at(1).startsWith("Content-type: "))
            return std::nullopt;
        part.contentType = lines.at(1).mid(14);
    }
    part.value = text.mid(headerEnd + 4);
    return part;
}

std::optional<QList<ReadPart>> readBody(const QByteArray& body)
{
    const QByteArray closing = delimiter + "--";
    if (!body.endsWith(closing))
        return std::nullopt;
    if (body == closing)
        return QList<ReadPart>();
    if (!body.startsWith(delimiter + crlf))
        return std::nullopt;
    QList<ReadPart> parts;
    const QByteArray separator = crlf + delimiter;
    qsizetype begin = delimiter.size() + crlf.size();
    for (;;) {
        const qsizetype end = body.indexOf(separator, begin);
        if (end < 0)
            return std::nullopt;
        const std::optional<ReadPart> part = readPart(body.mid(begin, end - begin));
        if (!part)
            return std::nullopt;
        parts.append(*part);
        const qsizetype after = end + separator.size();
        if (body.mid(after) == "--")
            return parts;
        if (body.mid(after, crlf.size()) != crlf)
            return std::nullopt;
        begin = after + crlf.size();
    }
}

// Header texts a reader can take apart: no quote and no line break.
bool isPlainHeaderText(const QByteArray& text)
{
    return !text.contains('"') && !text.contains('\r') && !text.contains('\n');
}

// The value holds a line that starts like the boundary line.
bool holdsBoundary(const QByteArray& value)
{
    return (crlf + value + crlf + delimiter).indexOf(crlf + delimiter) != value.size() + crlf.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    QList<FormPart> parts;
    const int count = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: {
            const QString name = textOf(in, 32);
            const QString value = textOf(in, 512);
            parts.append(
                FormPart::text(name, value, in.ConsumeBool() ? QStringLiteral("text/plain") : QString()));
            break;
        }
        case 1: {
            const QString path = textOf(in, 64);
            parts.append(FormPart::transactionFile(path, bytesOf(in.ConsumeRandomLengthString(2048))));
            break;
        }
        case 2: {
            const QString path = textOf(in, 64);
            parts.append(uploadParts(path, bytesOf(in.ConsumeRandomLengthString(2048))));
            break;
        }
        default: {
            const QString path = textOf(in, 64);
            const QByteArray file = bytesOf(in.ConsumeRandomLengthString(1024));
            const QString name = textOf(in, 64);
            const QString email = textOf(in, 64);
            const QString user = textOf(in, 64);
            parts.append(reportParts(path, file, name, email, user, textOf(in, 1024)));
            break;
        }
        }
    }

    // Every value that holds a boundary line is one the senders refuse.
    for (const FormPart& part : std::as_const(parts))
        FUZZ_CHECK(!holdsBoundary(part.value) || partHoldingDelimiter(parts).has_value());

    const QByteArray body = buildFormBody(parts);

    bool readable = true;
    for (const FormPart& part : std::as_const(parts)) {
        readable = readable && isPlainHeaderText(codepage::toAnsi(part.name)) &&
                   (!part.fileName || isPlainHeaderText(codepage::toAnsi(*part.fileName))) &&
                   isPlainHeaderText(codepage::toAnsi(part.contentType)) && !holdsBoundary(part.value);
    }
    if (!readable) {
        FUZZ_CHECK(body.endsWith(delimiter + "--"));
        return 0;
    }
    const std::optional<QList<ReadPart>> read = readBody(body);
    FUZZ_CHECK(read.has_value());
    FUZZ_CHECK(read->size() == parts.size());
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const FormPart& sent = parts.at(i);
        const ReadPart& got = read->at(i);
        FUZZ_CHECK(got.name == codepage::toAnsi(sent.name));
        FUZZ_CHECK(got.fileName.has_value() == sent.fileName.has_value());
        if (sent.fileName)
            FUZZ_CHECK(*got.fileName == codepage::toAnsi(*sent.fileName));
        FUZZ_CHECK(got.contentType == codepage::toAnsi(sent.contentType));
        FUZZ_CHECK(got.value == sent.value);
    }
    return 0;
}
