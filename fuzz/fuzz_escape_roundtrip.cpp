// escapeSymbols then URLDecode gives the text back as the code page holds it,
// and the encoded form can stand between XML tags as it is.
#include "Encodings.h"
#include "FuzzSupport.h"

namespace {

bool fitsBetweenTags(const QString& encoded)
{
    for (const QChar c : encoded) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u >= 0x7F || u == u'<' || u == u'>' || u == u'&' || u == u'"' || u == u'\'')
            return false;
    }
    return true;
}

void checkRoundTrip(const QString& original)
{
    const QString encoded = escapeSymbols(original);
    FUZZ_CHECK(encoded.size() <= 3 * original.size());
    FUZZ_CHECK(fitsBetweenTags(encoded));

    // The byte form, appended after what a buffer holds, is the same text.
    QByteArray appended("prefix");
    appendEscaped(appended, original);
    FUZZ_CHECK(appended == "prefix" + encoded.toLatin1());

    // What survives: each character as its code-page byte reads back ('?' for
    // characters outside the code page), without one trailing NUL.
    QString expected;
    expected.reserve(original.size());
    for (const QChar c : original)
        expected.append(codepage::fromAnsiCode(codepage::ansiCode(c)));
    if (expected.endsWith(QChar(u'\0')))
        expected.chop(1);
    FUZZ_CHECK(URLDecode(encoded) == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkRoundTrip(fuzz::codePageText(data, size));
    checkRoundTrip(fuzz::utf16Text(data, size));
    return 0;
}
