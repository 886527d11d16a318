#include "CodePage.h"
#include "Encodings.h"

#include <QSet>
#include <QTest>

#include <string_view>

using namespace std::string_view_literals;

namespace {

// For texts with embedded NULs, written as u"..."sv literals.
QString text(std::u16string_view units)
{
    return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
}

} // namespace

class TestEncodings : public QObject
{
    Q_OBJECT
private slots:
    void codePageIsExactForAllBytes();
    void codePageCharacters_data();
    void codePageCharacters();
    void escapeSymbols_data();
    void escapeSymbols();
    void onlyTheFixedSetPassesThrough();
    void URLDecode_data();
    void URLDecode();
};

void TestEncodings::codePageIsExactForAllBytes()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(static_cast<char>(b));
    const QString decoded = codepage::fromAnsi(bytes);
    QCOMPARE(QSet<QChar>(decoded.cbegin(), decoded.cend()).size(), 256);
    QCOMPARE(codepage::toAnsi(decoded), bytes);
    for (int b = 0; b < 256; ++b) {
        QCOMPARE(codepage::fromAnsiCode(b), decoded.at(b));
        QCOMPARE(codepage::ansiCode(decoded.at(b)), b);
    }
}

void TestEncodings::codePageCharacters_data()
{
    QTest::addColumn<QChar>("character");
    QTest::addColumn<int>("code"); // 0x3F: not in the code page

    QTest::newRow("A") << QChar(u'A') << 0x41;
    QTest::newRow("euro sign") << QChar(0x20AC) << 0x80;
    QTest::newRow("Y diaeresis") << QChar(0x0178) << 0x9F;
    QTest::newRow("unassigned 81") << QChar(0x0081) << 0x81;
    QTest::newRow("unassigned 9D") << QChar(0x009D) << 0x9D;
    QTest::newRow("e acute") << QChar(0x00E9) << 0xE9;
    QTest::newRow("U+0080") << QChar(0x0080) << 0x3F;
    QTest::newRow("A macron") << QChar(0x0100) << 0x3F;
    QTest::newRow("high surrogate") << QChar(0xD83D) << 0x3F;
}

void TestEncodings::codePageCharacters()
{
    QFETCH(QChar, character);
    QFETCH(int, code);

    QCOMPARE(codepage::ansiCode(character), code);
    QCOMPARE(codepage::toAnsi(QString(character)), QByteArray(1, static_cast<char>(code)));
    QCOMPARE(codepage::fromAnsiCode(code) == character, code != 0x3F);
}

void TestEncodings::escapeSymbols_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("abc") << "abc"
                         << "abc";
    QTest::newRow("space") << "a b"
                           << "a+b";
    QTest::newRow("ampersand") << "x&y=1"
                               << "x%26y=1";
    QTest::newRow("percent") << "100%"
                             << "100%25";
    QTest::newRow("plus") << "a+b"
                          << "a%2Bb";
    QTest::newRow("tab") << "a\tb"
                         << "a%09b";
    QTest::newRow("less-than") << "1<2"
                               << "1%3C2";
    QTest::newRow("e acute") << QStringLiteral("\u00E9") << "%E9";
    QTest::newRow("trailing NUL") << text(u"ab\0"sv) << "ab";
    QTest::newRow("inner NUL") << text(u"a\0b"sv) << "a%00b";
    QTest::newRow("two trailing NULs") << text(u"ab\0\0"sv) << "ab%00";
    QTest::newRow("line breaks") << "\n\r\x01"
                                 << "%0A%0D%01";
    QTest::newRow("punctuation") << "#;,@!*'\"<>[]\\^`|"
                                 << "%23%3B%2C%40%21%2A%27%22%3C%3E%5B%5D%5C%5E%60%7C";
    QTest::newRow("euro sign, unassigned 81") << QStringLiteral("\u20AC\u0081") << "%80%81";
    QTest::newRow("not in code page") << QStringLiteral("\u0100\U0001F600") << "%3F%3F%3F";
    QTest::newRow("40,000 spaces") << QString(40000, u' ') << QString(40000, u'+');
}

void TestEncodings::escapeSymbols()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);

    QCOMPARE(::escapeSymbols(input), expected);
}

void TestEncodings::onlyTheFixedSetPassesThrough()
{
    const QString fixedSet =
        QStringLiteral("1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:/.?=_-$(){}~");
    QCOMPARE(fixedSet.size(), 75);
    QCOMPARE(::escapeSymbols(fixedSet), fixedSet);
    for (char16_t u = 1; u < 128; ++u) {
        const QString single(QChar{u});
        if (!fixedSet.contains(single))
            QVERIFY2(::escapeSymbols(single) != single, qPrintable(single));
    }
}

void TestEncodings::URLDecode_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("plus") << "a+b"
                          << "a b";
    QTest::newRow("ampersand") << "x%26y=1"
                               << "x&y=1";
    QTest::newRow("escaped plus") << "%2B"
                                  << "+";
    QTest::newRow("lower-case hex") << "%e9" << QStringLiteral("\u00E9");
    // Malformed escapes are fuzz_urldecode's; one stands here for the build's own run.
    QTest::newRow("bad escape after good ones") << "%41%42%4x" << QString();
    QTest::newRow("NUL, mixed case") << "a%00%0d%0A" << text(u"a\0\r\n"sv);
    QTest::newRow("euro sign, unassigned 9D") << "%80%9D" << QStringLiteral("\u20AC\u009D");
    QTest::newRow("digits after escape kept") << "%4142"
                                              << "A42";
    QTest::newRow("escaped percent not re-read") << "%2541"
                                                 << "%41";
}

void TestEncodings::URLDecode()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);

    QCOMPARE(::URLDecode(input), expected);
}

QTEST_GUILESS_MAIN(TestEncodings)
#include "tst_encodings.moc"
