#include "FormBody.h"

#include <QHash>

#include <unicode/ucnv.h>

#include <optional>

namespace formbody {
namespace {

enum class Kind
{
    Utf8,
    UserDefined, // x-user-defined: the private-use characters U+F780..U+F7FF stand for 0x80..0xFF
    Codec
};

struct Target
{
    Kind kind = Kind::Utf8;
    QByteArray codec;      // the converter's name
    bool stateful = false; // ISO-2022-JP: escape sequences between character sets
};

// Encoding names and labels as browsers read them, to the converter that writes
// the same bytes. The page script reports the canonical name; labels are
// accepted too.
Target targetFor(const QString& encoding)
{
    const QString e = encoding.trimmed().toLower();
    Target t;
    if (e.isEmpty() || e == u"utf-8" || e == u"utf8" || e == u"unicode-1-1-utf-8" ||
        e.startsWith(u"utf-16") || e == u"replacement")
        return t; // forms in UTF-16 pages are sent as UTF-8
    if (e == u"x-user-defined") {
        t.kind = Kind::UserDefined;
        return t;
    }
    t.kind = Kind::Codec;
    static const QHash<QString, QByteArray> names{
        {QStringLiteral("iso-8859-1"), "windows-1252"},
        {QStringLiteral("latin1"), "windows-1252"},
        {QStringLiteral("us-ascii"), "windows-1252"},
        {QStringLiteral("ascii"), "windows-1252"},
        {QStringLiteral("iso-8859-9"), "windows-1254"},
        {QStringLiteral("latin5"), "windows-1254"},
        {QStringLiteral("tis-620"), "windows-874"},
        {QStringLiteral("iso-8859-11"), "windows-874"},
        {QStringLiteral("iso-8859-8-i"), "ISO-8859-8"},
        {QStringLiteral("big5"), "windows-950"},
        {QStringLiteral("big5-hkscs"), "windows-950"},
        {QStringLiteral("gbk"), "GBK"},
        {QStringLiteral("gb2312"), "GBK"},
        {QStringLiteral("x-gbk"), "GBK"},
    };
    t.codec = names.value(e, e.toLatin1());
    t.stateful = t.codec.toLower() == "iso-2022-jp";
    return t;
}

void appendReference(QByteArray& out, char32_t cp)
{
    out += "&#" + QByteArray::number(uint(cp)) + ';';
}

QByteArray encodeUserDefined(QStringView text)
{
    QByteArray out;
    for (char32_t cp : text.toUcs4()) {
        if (cp < 0x80)
            out += char(cp);
        else if (cp >= 0xF780 && cp <= 0xF7FF)
            out += char(cp - 0xF780 + 0x80);
        else
            appendReference(out, cp);
    }
    return out;
}

// An ICU converter as the browser sets it up: fallback mappings on (a
// character without a code of its own takes a similar one, "é" as "e" in Big5),
// stopping at a character it cannot write at all.
class Converter
{
public:
    explicit Converter(const QByteArray& name)
    {
        UErrorCode status = U_ZERO_ERROR;
        m_cnv = ucnv_open(name.constData(), &status);
        if (U_FAILURE(status)) {
            m_cnv = nullptr;
            return;
        }
        ucnv_setFallback(m_cnv, true);
        ucnv_setFromUCallBack(m_cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    }
    ~Converter()
    {
        if (m_cnv)
            ucnv_close(m_cnv);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool isValid() const { return m_cnv; }

    // The text's bytes; nothing when a character cannot be written.
    std::optional<QByteArray> encode(QStringView text)
    {
        ucnv_resetFromUnicode(m_cnv);
        QByteArray out(text.size() * 4 + 16, Qt::Uninitialized);
        UErrorCode status = U_ZERO_ERROR;
        const int32_t n =
            ucnv_fromUChars(m_cnv, out.data(), int32_t(out.size()),
                            reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()), &status);
        if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING)
            return std::nullopt;
        out.truncate(n);
        return out;
    }

private:
    UConverter* m_cnv = nullptr;
};

QByteArray encodeWith(QStringView text, const Target& t)
{
    Converter converter(t.codec);
    if (!converter.isValid())
        return text.toUtf8();
    // Each character alone: those the converter cannot write become references,
    // as the browser writes them.
    QString prepared;
    QByteArray out;
    QHash<char32_t, std::optional<QByteArray>> known;
    for (const char32_t cp : text.toUcs4()) {
        std::optional<QByteArray> bytes;
        if (cp < 0x80 && !t.stateful) {
            bytes = QByteArray(1, char(cp));
        } else if (auto it = known.constFind(cp); it != known.cend()) {
            bytes = *it;
        } else {
            bytes = converter.encode(QString::fromUcs4(&cp, 1));
            known.insert(cp, bytes);
        }
        if (t.stateful)
            prepared += bytes ? QString::fromUcs4(&cp, 1) : QStringLiteral("&#%1;").arg(uint(cp));
        else if (bytes)
            out += *bytes;
        else
            appendReference(out, cp);
    }
    if (!t.stateful)
        return out;
    // One run through the converter keeps its shifts and ends the text in ASCII.
    return converter.encode(prepared).value_or(QByteArray());
}

void appendFormEncoded(QByteArray& out, const QByteArray& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '*' ||
            b == '-' || b == '.' || b == '_') {
            out += char(b);
        } else if (b == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
}

} // namespace

QByteArray encodeText(QStringView text, const QString& encoding)
{
    const Target t = targetFor(encoding);
    switch (t.kind) {
    case Kind::Utf8:
        return text.toUtf8();
    case Kind::UserDefined:
        return encodeUserDefined(text);
    case Kind::Codec:
        break;
    }
    return encodeWith(text, t);
}

QByteArray encode(const QList<Entry>& entries, const QString& enctype, const QString& encoding)
{
    QByteArray out;
    const bool plain = enctype.compare(u"text/plain", Qt::CaseInsensitive) == 0;
    for (const auto& [name, value] : entries) {
        const QByteArray n = encodeText(name, encoding);
        const QByteArray v = encodeText(value, encoding);
        if (plain) {
            out += n + '=' + v + "\r\n";
            continue;
        }
        if (!out.isEmpty())
            out += '&';
        appendFormEncoded(out, n);
        out += '=';
        appendFormEncoded(out, v);
    }
    return out;
}

} // namespace formbody
