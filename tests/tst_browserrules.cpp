#include "BrowserLayout.h"
#include "FormBody.h"
#include "NavigationTracker.h"

#include <QtTest>

using Type = NavigationTracker::Type;

class TestBrowserRules : public QObject
{
    Q_OBJECT
private slots:
    void caption_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("product");
        // The product's name stands for the blank page and for addresses of fewer
        // than two characters (blanks aside); any other page shows its title.
        QTest::newRow("blank page") << u"about:blank"_qs << u"about:blank"_qs << true;
        QTest::newRow("one character in blanks") << u"  a  "_qs << u"x"_qs << true;
        QTest::newRow("two characters") << u"ab"_qs << u"x"_qs << false;
        QTest::newRow("blank page in capitals") << u"ABOUT:BLANK"_qs << u"t"_qs << false;
    }

    void caption()
    {
        QFETCH(QString, address);
        QFETCH(QString, title);
        QFETCH(bool, product);
        const QString productTitle = u"TallyroNet Transaction Recorder 1.0.0"_qs;
        QCOMPARE(browserlayout::caption(address, title, productTitle), product ? productTitle : title);
    }

    // A script of what the engine, the interceptor and the page script report, and
    // the navigations that must come out, in order. Plain links, redirects, forms,
    // meta refreshes and frames are the corpus's (tst_browser); these are the timings
    // it cannot bring about. Script lines, separated by "; ": "<time> accept <type>
    // <url> [sub]", "<time> request <chainType> <method> <url> [sub]", "<time>
    // announce <url>", "<time> commit <url> [sub]", "<time> form <group> <event> <action> <body>".
    void navigationSequences_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("client redirect then a server hop of it")
            << u"0 announce http://s/r; 1 accept redirect http://s/r; 2 request redirect GET http://s/r; "
               "6 accept redirect http://s/x; 7 request redirect GET http://s/x; 300 commit http://s/x"_qs
            << QStringList{u"http://s/r"_qs};
        QTest::newRow("unannounced page redirect with nothing pending")
            << u"0 accept typed http://s/a; 1 request typed GET http://s/a; 20 commit http://s/a; "
               "500 accept redirect http://s/c; 501 request redirect GET http://s/c"_qs
            << QStringList{u"http://s/a"_qs, u"http://s/c"_qs};
        QTest::newRow("judged a hop, but its chain committed")
            << u"0 accept redirect http://s/r; 1 request redirect GET http://s/r; "
               "5 accept redirect http://s/y; 6 request redirect GET http://s/y; 50 commit http://s/r"_qs
            << QStringList{u"http://s/r"_qs, u"http://s/y"_qs};
        QTest::newRow("form posted into a frame")
            << u"0 accept typed http://s/top; 10 form 1 1 http://s/into a=1; "
               "11 accept other http://s/into sub; 12 request other POST http://s/into sub"_qs
            << QStringList{u"http://s/top"_qs, u"http://s/into a=1"_qs};
        QTest::newRow("body arrives after the request")
            << u"0 accept form http://s/p; 1 request form POST http://s/p; 5 form 2 1 http://s/p z=9"_qs
            << QStringList{u"http://s/p z=9"_qs};
        QTest::newRow("no body ever: the address alone")
            << u"0 accept form http://s/p; 1 request form POST http://s/p; 1000 poll"_qs
            << QStringList{u"http://s/p"_qs};
        QTest::newRow("a fetch's form data is not taken by a later link")
            << u"0 form 1 1 http://s/p a=1; 100 accept link http://s/p"_qs << QStringList{u"http://s/p"_qs};
    }

    void navigationSequences()
    {
        QFETCH(QString, script);
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
        for (const QString& line : script.split(u"; "_qs)) {
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
                captures.add(
                    {u"f"_qs, w.at(2).toInt(), w.at(3).toInt(), u"post"_qs, w.at(4), w.at(5).toUtf8(), t});
            }
        }
        for (qint64 tick = last; tick <= last + 1000; tick += 20)
            recordAll(tracker.poll(tick));
        QTEST(out, "expected");
    }

    void formBodies()
    {
        CaptureStore captures;
        const QString action = u"http://s/p"_qs;
        // One submission reported twice (the second without the submitter), each
        // event once before and once after the page's listeners.
        captures.add({u"f"_qs, 1, 1, u"post"_qs, action, "a=1&go=Go", 0});
        captures.add({u"f"_qs, 1, 1, u"post"_qs, action, "a=1&go=Go&added=1", 0});
        captures.add({u"f"_qs, 1, 2, u"post"_qs, action, "a=1&added=1", 0});
        QCOMPARE(captures.takePost(QUrl(action + u"#frag"_qs), 1), QByteArray("a=1&go=Go&added=1"));
        QVERIFY(!captures.takePost(QUrl(action), 2)); // consumed
        // An older group (a page's own form data for a fetch) loses to the submission.
        captures.add({u"f"_qs, 2, 3, u"post"_qs, action, "old", 10});
        captures.add({u"f"_qs, 3, 4, u"post"_qs, action, "new", 20});
        QCOMPARE(captures.takePost(QUrl(action), 30), QByteArray("new"));
        // In one task a page's own form data (for a fetch) comes before the submission.
        captures.add({u"f"_qs, 9, 20, u"post"_qs, action, "fetched", 50});
        captures.add({u"f"_qs, 9, 21, u"post"_qs, action, "sent&go=1", 50, true});
        captures.add({u"f"_qs, 9, 22, u"post"_qs, action, "sent", 50, true});
        QCOMPARE(captures.takePost(QUrl(action), 60), QByteArray("sent&go=1"));
        // Reports expire.
        QCOMPARE(captures.takePost(QUrl(action), 40), QByteArray("old"));
        captures.add({u"f"_qs, 4, 5, u"post"_qs, action, "stale", 0});
        QVERIFY(!captures.takePost(QUrl(action), 60000));
        // A GET form's report is no body.
        captures.add({u"f"_qs, 5, 6, u"get"_qs, action, "q=1", 0});
        QVERIFY(!captures.takePost(QUrl(action), 1));
    }

    // The corpus (tst_browser, the cs-*.htm pages) checks the encodings its pages
    // use byte for byte; these are encodings no page of it uses.
    void formBodyEncodings_data()
    {
        using Entries = QList<formbody::Entry>;
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QString>("enctype");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QByteArray>("body");
        const QString form = u"application/x-www-form-urlencoded"_qs;
        QTest::newRow("ISO-2022-JP ends in ASCII")
            << Entries{{"v", "日"}} << form << "ISO-2022-JP" << QByteArray("v=%1B%24BF%7C%1B%28B");
        QTest::newRow("x-user-defined") << Entries{{"v", "a\uF780\uF7FF€"}} << form << "x-user-defined"
                                        << QByteArray("v=a%80%FF%26%238364%3B");
        QTest::newRow("UTF-16 page writes UTF-8")
            << Entries{{"v", "é"}} << form << "UTF-16LE" << QByteArray("v=%C3%A9");
        QTest::newRow("unknown encoding writes UTF-8")
            << Entries{{"v", "é"}} << form << "no-such" << QByteArray("v=%C3%A9");
    }

    void formBodyEncodings()
    {
        QFETCH(QList<formbody::Entry>, entries);
        QFETCH(QString, enctype);
        QFETCH(QString, encoding);
        QTEST(formbody::encode(entries, enctype, encoding), "body");
    }
};

QTEST_GUILESS_MAIN(TestBrowserRules)
#include "tst_browserrules.moc"
