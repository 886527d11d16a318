#include "Encodings.h"

#include "CodePage.h"

#include <array>
#include <string_view>

namespace {

constexpr std::string_view keptCharacters =
    "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:/.?=_-$(){}~";

constexpr std::array<bool, 128> makeKeptTable()
{
    std::array<bool, 128> table{};
    for (char c : keptCharacters)
        table[static_cast<unsigned char>(c)] = true;
    return table;
}

constexpr std::array<bool, 128> kept = makeKeptTable();

// Membership is tested on the character itself, before any code-page conversion.
bool isKept(QChar c)
{
    return c.unicode() < kept.size() && kept[c.unicode()];
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

} // namespace

QString escapeSymbols(const QString& sRawURL)
{
    static constexpr char16_t hexDigits[] = u"0123456789ABCDEF";

    QString result;
    result.reserve(sRawURL.size() * 3);
    for (const QChar c : sRawURL) {
        if (isKept(c)) {
            result.append(c);
            continue;
        }
        const int code = codepage::ansiCode(c);
        if (code == 0x20) {
            result.append(u'+');
        } else {
            result.append(u'%');
            result.append(QChar(hexDigits[code >> 4]));
            result.append(QChar(hexDigits[code & 0xF]));
        }
    }
    // Only one trailing NUL is dropped; an earlier one in a run of NULs stays.
    if (result.endsWith(QStringLiteral("%00")))
        result.chop(3);
    return result;
}

QString URLDecode(const QString& sEncodedURL)
{
    const qsizetype n = sEncodedURL.size();
    QString result;
    result.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        QChar c = sEncodedURL.at(i);
        if (c == u'+') {
            c = u' ';
        } else if (c == u'%' && i + 2 < n) {
            const int high = hexValue(sEncodedURL.at(i + 1));
            const int low = hexValue(sEncodedURL.at(i + 2));
            if (high < 0 || low < 0)
                return {};
            c = codepage::fromAnsiCode(high * 16 + low);
            i += 2;
        }
        result.append(c);
    }
    return result;
}

QString trimSpaces(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}
