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

// Hex digit values by character, -1 for anything else.
constexpr std::array<signed char, 128> makeHexTable()
{
    std::array<signed char, 128> table{};
    for (auto& entry : table)
        entry = -1;
    for (int d = 0; d < 10; ++d)
        table['0' + d] = static_cast<signed char>(d);
    for (int d = 0; d < 6; ++d) {
        table['A' + d] = static_cast<signed char>(10 + d);
        table['a' + d] = static_cast<signed char>(10 + d);
    }
    return table;
}

constexpr std::array<signed char, 128> hexTable = makeHexTable();

int hexValue(char16_t u)
{
    return u < hexTable.size() ? hexTable[u] : -1;
}

// Writes the escaped form of raw from out onwards and returns the end. out must
// have room for three characters per character of raw.
template<typename Out>
Out* escapeInto(QStringView raw, Out* out)
{
    static constexpr char hexDigits[] = "0123456789ABCDEF";

    Out* const begin = out;
    for (const QChar c : raw) {
        if (isKept(c)) {
            *out++ = static_cast<Out>(c.unicode());
            continue;
        }
        // Characters below 0x80 are their own code-page byte.
        const int code = c.unicode() < 0x80 ? c.unicode() : codepage::ansiCode(c);
        if (code == 0x20) {
            *out++ = static_cast<Out>(u'+');
        } else {
            *out++ = static_cast<Out>(u'%');
            *out++ = static_cast<Out>(hexDigits[code >> 4]);
            *out++ = static_cast<Out>(hexDigits[code & 0xF]);
        }
    }
    // Only one trailing NUL is dropped; an earlier one in a run of NULs stays.
    if (out - begin >= 3 && out[-3] == Out('%') && out[-2] == Out('0') && out[-1] == Out('0'))
        out -= 3;
    return out;
}

} // namespace

QString escapeSymbols(const QString& sRawURL)
{
    QString result(sRawURL.size() * 3, Qt::Uninitialized);
    char16_t* const begin = reinterpret_cast<char16_t*>(result.data());
    result.truncate(escapeInto(QStringView(sRawURL), begin) - begin);
    return result;
}

void appendEscaped(QByteArray& out, QStringView raw)
{
    const qsizetype oldSize = out.size();
    out.resize(oldSize + raw.size() * 3);
    char* const begin = out.data() + oldSize;
    out.truncate(oldSize + (escapeInto(raw, begin) - begin));
}

namespace {

// Decodes n characters (UTF-16 code units or Latin-1 bytes) from in.
template<typename In>
QString decode(const In* in, qsizetype n)
{
    // The characters of the code page's 256 bytes, looked up once.
    static const std::array<char16_t, 256> byteChars = [] {
        std::array<char16_t, 256> table{};
        for (int b = 0; b < 256; ++b)
            table[b] = codepage::fromAnsiCode(b).unicode();
        return table;
    }();

    QString result(n, Qt::Uninitialized);
    char16_t* const begin = reinterpret_cast<char16_t*>(result.data());
    char16_t* out = begin;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = static_cast<char16_t>(in[i]);
        if (c == u'+') {
            *out++ = u' ';
        } else if (c == u'%' && i + 2 < n) {
            const int high = hexValue(static_cast<char16_t>(in[i + 1]));
            const int low = hexValue(static_cast<char16_t>(in[i + 2]));
            if (high < 0 || low < 0)
                return {};
            *out++ = byteChars[high * 16 + low];
            i += 2;
        } else {
            *out++ = c;
        }
    }
    result.truncate(out - begin);
    return result;
}

} // namespace

QString URLDecode(const QString& sEncodedURL)
{
    return decode(reinterpret_cast<const char16_t*>(sEncodedURL.constData()), sEncodedURL.size());
}

QString URLDecode(QLatin1StringView sEncodedURL)
{
    return decode(reinterpret_cast<const unsigned char*>(sEncodedURL.data()), sEncodedURL.size());
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
