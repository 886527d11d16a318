#include "BrowserLayout.h"
#include "FormBody.h"
#include "NavigationTracker.h"

#include <QTest>

using Type = NavigationTracker::Type;

class TestBrowserRules : public QObject
{
    Q_OBJECT
private slots:
    void caption_data();
    void caption();
    void navigationSequences_data();
    void navigationSequences();
    void formBodies();
    void formBodyEncodings_data();
    void formBodyEncodings();
};

// The end-to-end corpus compares with what the engine sends; these rows pin the
// rules it showed (references for characters an encoding lacks, similar
// characters where the converter has them, the encodings that write UTF-8).
void TestBrowserRules::formBodyEncodings_data()
{
    using Entries = QList<formbody::Entry>;
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QString>("enctype");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QByteArray>("body");
    const QString form = QStringLiteral("application/x-www-form-urlencoded");
    QTest::newRow("UTF-8") << Entries{{"a b*-._~", "café"}} << form << "UTF-8"
                           << QByteArray("a+b*-._%7E=caf%C3%A9");
    QTest::newRow("windows-1252, a character it lacks")
        << Entries{{"v", "café € Ω"}} << form << "windows-1252" << QByteArray("v=caf%E9+%80+%26%23937%3B");
    QTest::newRow("ISO-8859-1 label writes windows-1252")
        << Entries{{"v", "€"}} << form << "ISO-8859-1" << QByteArray("v=%80");
    QTest::newRow("Big5, a similar character")
        << Entries{{"v", "é漢"}} << form << "Big5" << QByteArray("v=e%BA%7E");
    QTest::newRow("Shift_JIS yen sign and minus")
        << Entries{{"v", "\u00A5\u2212"}} << form << "Shift_JIS" << QByteArray("v=%5C%81%7C");
    QTest::newRow("GB18030 four bytes")
        << Entries{{"v", "😀"}} << form << "gb18030" << QByteArray("v=%949%FC6");
    QTest::newRow("ISO-2022-JP ends in ASCII")
        << Entries{{"v", "日"}} << form << "ISO-2022-JP" << QByteArray("v=%1B%24BF%7C%1B%28B");
    QTest::newRow("x-user-defined") << Entries{{"v", "a\uF780\uF7FF€"}} << form << "x-user-defined"
                                    << QByteArray("v=a%80%FF%26%238364%3B");
    QTest::newRow("UTF-16 page writes UTF-8")
        << Entries{{"v", "é"}} << form << "UTF-16LE" << QByteArray("v=%C3%A9");
    QTest::newRow("unknown encoding writes UTF-8")
        << Entries{{"v", "é"}} << form << "no-such" << QByteArray("v=%C3%A9");
    QTest::newRow("text/plain, windows-1252") << Entries{{"a", "é\r\nx"}, {"b", "Ω"}} << "text/plain"
                                              << "windows-1252" << QByteArray("a=\xE9\r\nx\r\nb=&#937;\r\n");
}

void TestBrowserRules::formBodyEncodings()
{
    QFETCH(QList<formbody::Entry>, entries);
    QFETCH(QString, enctype);
    QFETCH(QString, encoding);
    QFETCH(QByteArray, body);
    QCOMPARE(formbody::encode(entries, enctype, encoding), body);
}

void TestBrowserRules::caption_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("product");
    // The product's name stands for the blank page and for addresses of fewer
    // than two characters (blanks aside); any other page shows its title.
    QTest::newRow("blank page") << u"about:blank"_qs << u"about:blank"_qs << true;
    QTest::newRow("one character in blanks") << u"  a  "_qs << u"x"_qs << true;
    QTest::newRow("two characters") << u"ab"_qs << u"x"_qs << false;
    QTest::newRow("page with empty title") << u"http://a.test/"_qs << QString() << false;
    QTest::newRow("blank page in capitals") << u"ABOUT:BLANK"_qs << u"t"_qs << false;
}

void TestBrowserRules::caption()
{
    QFETCH(QString, address);
    QFETCH(QString, title);
    QFETCH(bool, product);
    const QString productTitle = QStringLiteral("TallyroNet Transaction Recorder 1.0.0");
    QCOMPARE(browserlayout::caption(address, title, productTitle), product ? productTitle : title);
}

// A script of what the engine, the interceptor and the page script report, and
// the navigations that must come out, in order.
void TestBrowserRules::navigationSequences_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("expected");
    // Lines: "<time> accept <type> <url> [sub]", "<time> request <chainType> <method> <url> [sub]",
    // "<time> announce <url>", "<time> commit <url> [sub]", "<time> form <group> <event> <action> <body>".
    QTest::newRow("link, then a server 302 hop")
        << QStringList{"0 accept link http://s/a", "1 request link GET http://s/a",
                       "5 accept redirect http://s/b", "6 request link GET http://s/b",
                       "200 commit http://s/b"}
        << QStringList{"http://s/a"};
    QTest::newRow("POST through a 307")
        << QStringList{"0 form 1 1 http://s/p a=1",      "1 accept form http://s/p",
                       "2 request form POST http://s/p", "4 accept redirect http://s/q",
                       "5 request form POST http://s/q", "300 commit http://s/q"}
        << QStringList{"http://s/p a=1"};
    QTest::newRow("meta refresh announced") << QStringList{"0 accept typed http://s/m",
                                                           "1 request typed GET http://s/m",
                                                           "50 commit http://s/m",
                                                           "60 announce http://s/t",
                                                           "1060 accept redirect http://s/t",
                                                           "1061 request redirect GET http://s/t",
                                                           "1300 commit http://s/t"}
                                            << QStringList{"http://s/m", "http://s/t"};
    QTest::newRow("client redirect then a server hop of it")
        << QStringList{"0 announce http://s/r",
                       "1 accept redirect http://s/r",
                       "2 request redirect GET http://s/r",
                       "6 accept redirect http://s/x",
                       "7 request redirect GET http://s/x",
                       "300 commit http://s/x"}
        << QStringList{"http://s/r"};
    QTest::newRow("unannounced page redirect with nothing pending")
        << QStringList{"0 accept typed http://s/a", "1 request typed GET http://s/a", "20 commit http://s/a",
                       "500 accept redirect http://s/c", "501 request redirect GET http://s/c"}
        << QStringList{"http://s/a", "http://s/c"};
    QTest::newRow("judged a hop, but its chain committed")
        << QStringList{"0 accept redirect http://s/r", "1 request redirect GET http://s/r",
                       "5 accept redirect http://s/y", "6 request redirect GET http://s/y",
                       "50 commit http://s/r"}
        << QStringList{"http://s/r", "http://s/y"};
    QTest::newRow("GET form waits for its request")
        << QStringList{"0 form 1 1 http://s/g q=1", "1 accept form http://s/g?q=1",
                       "2 request form GET http://s/g?q=1"}
        << QStringList{"http://s/g?q=1"};
    QTest::newRow("frames start in order")
        << QStringList{"0 accept typed http://s/set", "10 accept other http://s/f1 sub",
                       "11 accept other http://s/f2 sub", "12 accept other http://s/f3 sub"}
        << QStringList{"http://s/set", "http://s/f1", "http://s/f2", "http://s/f3"};
    QTest::newRow("form posted into a frame")
        << QStringList{"0 accept typed http://s/top", "10 form 1 1 http://s/into a=1",
                       "11 accept other http://s/into sub", "12 request other POST http://s/into sub"}
        << QStringList{"http://s/top", "http://s/into a=1"};
    QTest::newRow("body arrives after the request")
        << QStringList{"0 accept form http://s/p", "1 request form POST http://s/p",
                       "5 form 2 1 http://s/p z=9"}
        << QStringList{"http://s/p z=9"};
    QTest::newRow("no body ever: the address alone")
        << QStringList{"0 accept form http://s/p", "1 request form POST http://s/p", "1000 poll"}
        << QStringList{"http://s/p"};
    QTest::newRow("a fetch's form data is not taken by a later link")
        << QStringList{"0 form 1 1 http://s/p a=1", "100 accept link http://s/p"}
        << QStringList{"http://s/p"};
}

void TestBrowserRules::navigationSequences()
{
    QFETCH(QStringList, script);
    QFETCH(QStringList, expected);
    CaptureStore captures;
    NavigationTracker tracker(captures);
    QStringList out;
    auto record = [&](const QUrl& url, const QByteArray& body) {
        out << (body.isEmpty() ? url.toString() : url.toString() + u' ' + QString::fromUtf8(body));
    };
    auto recordAll = [&](const QList<NavigationTracker::Started>& list) {
        for (const auto& s : list)
            record(s.url, s.body);
    };
    const QHash<QString, Type> types{{"typed", Type::Typed},       {"link", Type::Link},
                                     {"form", Type::Form},         {"other", Type::Other},
                                     {"redirect", Type::Redirect}, {"back", Type::BackForward}};
    qint64 last = 0;
    for (const QString& line : script) {
        const QStringList w = line.split(u' ');
        const qint64 t = w.at(0).toLongLong();
        // Time passes: due decisions come out first.
        for (qint64 tick = last; tick <= t; tick += 20)
            recordAll(tracker.poll(tick));
        last = t;
        const bool sub = w.last() == u"sub";
        const QString what = w.at(1);
        if (what == u"accept") {
            if (auto body = tracker.navigationRequested(QUrl(w.at(3)), types.value(w.at(2)), !sub, t))
                record(QUrl(w.at(3)), *body);
        } else if (what == u"request") {
            if (auto s =
                    tracker.intercepted(QUrl(w.at(4)), w.at(3).toLatin1(), types.value(w.at(2)), !sub, t))
                record(s->url, s->body);
        } else if (what == u"announce") {
            tracker.announced(QUrl(w.at(2)), t);
        } else if (what == u"commit") {
            recordAll(tracker.committed(QUrl(w.at(2)), !sub, t));
        } else if (what == u"form") {
            captures.add({QStringLiteral("f"), w.at(2).toInt(), w.at(3).toInt(), QStringLiteral("post"),
                          w.at(4), w.at(5).toUtf8(), t});
        }
    }
    for (qint64 tick = last; tick <= last + 1000; tick += 20)
        recordAll(tracker.poll(tick));
    QCOMPARE(out, expected);
}

void TestBrowserRules::formBodies()
{
    CaptureStore captures;
    const QString action = QStringLiteral("http://s/p");
    // One submission reported twice (the second without the submitter), each
    // event once before and once after the page's listeners.
    captures.add({QStringLiteral("f"), 1, 1, QStringLiteral("post"), action, "a=1&go=Go", 0});
    captures.add({QStringLiteral("f"), 1, 1, QStringLiteral("post"), action, "a=1&go=Go&added=1", 0});
    captures.add({QStringLiteral("f"), 1, 2, QStringLiteral("post"), action, "a=1&added=1", 0});
    QCOMPARE(captures.takePost(QUrl(action + QStringLiteral("#frag")), 1), QByteArray("a=1&go=Go&added=1"));
    QVERIFY(!captures.takePost(QUrl(action), 2)); // consumed
    // An older group (a page's own form data for a fetch) loses to the submission.
    captures.add({QStringLiteral("f"), 2, 3, QStringLiteral("post"), action, "old", 10});
    captures.add({QStringLiteral("f"), 3, 4, QStringLiteral("post"), action, "new", 20});
    QCOMPARE(captures.takePost(QUrl(action), 30), QByteArray("new"));
    // In one task a page's own form data (for a fetch) comes before the submission.
    captures.add({QStringLiteral("f"), 9, 20, QStringLiteral("post"), action, "fetched", 50});
    captures.add({QStringLiteral("f"), 9, 21, QStringLiteral("post"), action, "sent&go=1", 50, true});
    captures.add({QStringLiteral("f"), 9, 22, QStringLiteral("post"), action, "sent", 50, true});
    QCOMPARE(captures.takePost(QUrl(action), 60), QByteArray("sent&go=1"));
    // Reports expire.
    QCOMPARE(captures.takePost(QUrl(action), 40), QByteArray("old"));
    captures.add({QStringLiteral("f"), 4, 5, QStringLiteral("post"), action, "stale", 0});
    QVERIFY(!captures.takePost(QUrl(action), 60000));
    // A GET form's report is no body.
    captures.add({QStringLiteral("f"), 5, 6, QStringLiteral("get"), action, "q=1", 0});
    QVERIFY(!captures.takePost(QUrl(action), 1));
}

QTEST_GUILESS_MAIN(TestBrowserRules)
#include "tst_browserrules.moc"
