// URLDecode on any text: no crash, no growth, and the documented results.
#include "Encodings.h"
#include "FuzzSupport.h"

namespace {

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f');
}

// Counts the escapes, the '%' signs with two characters after them; false when
// one of them is not followed by two hex digits. Hex digits are never '%', so
// these are the '%' signs the decoder looks at.
bool countEscapes(const QString& encoded, qsizetype& escapes)
{
    escapes = 0;
    for (qsizetype i = encoded.indexOf(u'%'); i >= 0 && i + 2 < encoded.size();
         i = encoded.indexOf(u'%', i + 1)) {
        if (!isHexDigit(encoded.at(i + 1)) || !isHexDigit(encoded.at(i + 2)))
            return false;
        ++escapes;
    }
    return true;
}

void checkDecode(const QString& encoded)
{
    const QString decoded = URLDecode(encoded);
    qsizetype escapes = 0;
    if (!countEscapes(encoded, escapes)) {
        FUZZ_CHECK(decoded.isEmpty());
        return;
    }
    // Every escape gives one character, every other character itself.
    FUZZ_CHECK(decoded.size() == encoded.size() - 2 * escapes);
    if (escapes == 0) {
        // Only the plus signs change ('%' near the end is kept).
        QString expected = encoded;
        expected.replace(u'+', u' ');
        FUZZ_CHECK(decoded == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The Latin-1 form decodes the bytes as the text form decodes their characters.
    const QLatin1StringView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    FUZZ_CHECK(URLDecode(bytes) == URLDecode(QString(bytes)));

    checkDecode(fuzz::codePageText(data, size));
    checkDecode(fuzz::utf16Text(data, size));
    return 0;
}
