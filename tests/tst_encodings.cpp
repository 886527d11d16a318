#include "CodePage.h"
#include "Encodings.h"

#include <QtTest>

class TestEncodings : public QObject
{
    Q_OBJECT
private slots:
    void codePageIsExactForAllBytes()
    {
        QByteArray bytes;
        for (int b = 0; b < 256; ++b)
            bytes.append(static_cast<char>(b));
        const QString decoded = codepage::fromAnsi(bytes);
        QCOMPARE(codepage::toAnsi(decoded), bytes); // so no two bytes read as one character
        for (int b = 0; b < 256; ++b) {
            QCOMPARE(codepage::fromAnsiCode(b), decoded.at(b));
            QCOMPARE(codepage::ansiCode(decoded.at(b)), b);
        }
    }

    // Each row: a text and its escaped form, checked by escapeSymbols, URLDecode or both; the code page's
    // characters go out as their bytes (the round trip in general, the empty text and the trailing NUL
    // dropped are fuzz_escape_roundtrip's, malformed escapes and texts without escapes are fuzz_urldecode's).
    void escapes_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("escaped");
        QTest::addColumn<int>("by"); // 1: escapeSymbols, 2: URLDecode, 3: both
        QTest::newRow("space") << u"a b"_qs << u"a+b"_qs << 1;
        QTest::newRow("ampersand, plus") << u"x&y=a+b"_qs << u"x%26y=a%2Bb"_qs << 3;
        QTest::newRow("lower-case hex") << u"\u00E9"_qs << u"%e9"_qs << 2;
        QTest::newRow("inner NUL, line breaks") << u"a\0b\n\r\x01"_qs << u"a%00b%0A%0D%01"_qs << 1;
        QTest::newRow("punctuation") << u"#;,@!*'\"<>[]\\^`|%"_qs
                                     << u"%23%3B%2C%40%21%2A%27%22%3C%3E%5B%5D%5C%5E%60%7C%25"_qs << 1;
        QTest::newRow("code page, unassigned 81") << u"\u00E9\u20AC\u0081"_qs << u"%E9%80%81"_qs << 1;
        QTest::newRow("euro sign, unassigned 9D") << u"\u20AC\u009D"_qs << u"%80%9D"_qs << 2;
        QTest::newRow("Y diaeresis; U+0080 and others not in the code page")
            << u"\u0178\u0080\u0100\U0001F600"_qs << u"%9F%3F%3F%3F%3F"_qs << 1;
        QTest::newRow("40,000 spaces") << QString(40000, u' ') << QString(40000, u'+') << 1;
        QTest::newRow("digits after escape kept") << u"A42"_qs << u"%4142"_qs << 2;
        QTest::newRow("escaped percent not re-read") << u"%41"_qs << u"%2541"_qs << 2;
    }

    void escapes()
    {
        QFETCH(QString, plain);
        QFETCH(QString, escaped);
        QFETCH(int, by);
        if (by & 1)
            QCOMPARE(escapeSymbols(plain), escaped);
        if (by & 2)
            QCOMPARE(URLDecode(escaped), plain);
    }
};

QTEST_GUILESS_MAIN(TestEncodings)
#include "tst_encodings.moc"
