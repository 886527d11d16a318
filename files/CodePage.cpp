#include "CodePage.h"

#include <array>
#include <cstdint>

namespace codepage {
namespace {

// Characters of bytes 0x80..0x9F; every other byte stands for the Latin-1
// character of the same value.
constexpr std::array<char16_t, 32> highControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::array<char16_t, 256> makeByteToChar()
{
    std::array<char16_t, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[b] = (b >= 0x80 && b < 0xA0) ? highControls[b - 0x80] : static_cast<char16_t>(b);
    return table;
}

constexpr std::array<std::uint8_t, 65536> makeCharToByte(const std::array<char16_t, 256>& byteToChar)
{
    std::array<std::uint8_t, 65536> table{};
    for (auto& entry : table)
        entry = substituteCode;
    for (int b = 0; b < 256; ++b)
        table[byteToChar[b]] = static_cast<std::uint8_t>(b);
    return table;
}

constexpr std::array<char16_t, 256> byteToChar = makeByteToChar();
constexpr std::array<std::uint8_t, 65536> charToByte = makeCharToByte(byteToChar);

} // namespace

QByteArray toAnsi(const QString& text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    const QChar* in = text.constData();
    char* out = bytes.data();
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = static_cast<char>(charToByte[in[i].unicode()]);
    return bytes;
}

QString fromAnsi(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    const char* in = bytes.constData();
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(byteToChar[static_cast<unsigned char>(in[i])]);
    return text;
}

int ansiCode(QChar c)
{
    return charToByte[c.unicode()];
}

QChar fromAnsiCode(int byte)
{
    return QChar(byteToChar[byte & 0xFF]);
}

} // namespace codepage
