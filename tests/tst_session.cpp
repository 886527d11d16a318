#include "OneTime.h"
#include "RecordingSession.h"
#include "Steps.h"

#include <QTest>

// The recording rules a window applies, without a window.
class TestSession : public QObject
{
    Q_OBJECT
private slots:
    // While recording, the cases no window test brings about (a page recorded,
    // Recording off, the blank page refused with steps, a page labelled, a step
    // back shown again are tst_browser's and tst_commands'): the blank page before
    // any step goes on unrecorded; a full store lets the page go on, and tells.
    void navigationStarting()
    {
        RecordingSession session;
        RecordingSession::Start start = session.navigationStarting(u"about:blank"_qs, {}, true);
        QVERIFY(!start.cancel && !start.storeFull);
        QCOMPARE(session.store().count(), 0);
        for (int i = 0; i < 150; ++i)
            session.store().addURL(u"http://a/%1"_qs.arg(i), {});
        start = session.navigationStarting(u"http://a/next"_qs, {}, true);
        QVERIFY(!start.cancel && start.storeFull);
        QCOMPARE(session.store().count(), 150);
    }

    // Loads that failed or were not sent again: a failed load still labels its
    // step; a step back to a posted page not sent again neither labels it nor
    // shows the editor.
    void documentCompleted()
    {
        RecordingSession session;
        session.store().addURL(u"http://a/0"_qs, {});
        session.store().addURL(u"http://a/1"_qs, {});
        const QString title = u"  Order   page "_qs;
        const auto failed = session.documentCompleted(u"http://a/1"_qs, title, true, false, false);
        QCOMPARE(failed.step, 1);
        QVERIFY(failed.showEditor && failed.label && failed.label->contains(u"Order"_qs));
        const auto back = session.documentCompleted(u"http://a/0"_qs, title, true, true, false);
        QCOMPARE(back.step, 1);
        QVERIFY(!back.showEditor && !back.label);
    }

    // The step a page belongs to: the last one recorded for its address (a
    // fragment aside), else the last one. A site's sign-in offers that step's user
    // name; only the page being recorded keeps the answer, and only its own step
    // takes it, once.
    void siteSignIn_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("keep");

        QTest::newRow("page being recorded, recorded twice") << "http://a/1" << true << "u3" << true;
        QTest::newRow("fragment aside") << "http://a/1#top" << true << "u3" << true;
        QTest::newRow("not recording") << "http://a/1" << false << "u3" << false;
        QTest::newRow("an earlier page, fragment aside") << "http://a/auth#top" << true << "u2" << false;
        QTest::newRow("a sub-resource: the last step's") << "http://a/img.png" << true << "u3" << false;
    }

    void siteSignIn()
    {
        QFETCH(QString, page);
        QFETCH(bool, recording);
        RecordingSession session;
        QCOMPARE(session.pageStep(page), -1); // no steps
        QVERIFY(session.signInOffer(page, recording).user.isEmpty());
        session.store().setAllowDuplicates(true);
        int n = 0;
        for (const QString& url : {u"http://a/1"_qs, u"http://a/auth"_qs, u"http://a/1"_qs}) {
            const QString user = u"u%1"_qs.arg(++n);
            session.store().add(step(url, {}, {}, {}, {}, user, user + u"-pw"_qs));
        }
        const RecordingSession::SignInOffer offer = session.signInOffer(page, recording);
        QTEST(offer.user, "offered");
        QCOMPARE(offer.password, offer.user + u"-pw"_qs);
        QTEST(offer.keep, "keep");
        if (!offer.keep)
            return;
        session.siteSignedIn({page, u"new"_qs, u"pw"_qs});
        QVERIFY(!session.takeSiteSignIn(1)); // another page's step
        const auto taken = session.takeSiteSignIn(2);
        QVERIFY(taken && taken->user == u"new" && taken->password == u"pw");
        QVERIFY(!session.takeSiteSignIn(2)); // forgotten once taken
    }

    void oneTimeRules_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("postdata");
        QTest::addColumn<QStringList>("flagged");

        // A step opened from a file: the name and the shape of a value alone.
        QTest::newRow("token names, any value")
            << u"http://a/"_qs << u"_wpnonce=1&authenticity_token=x&RelayState=&n=1"_qs
            << QStringList{"_wpnonce", "authenticity_token", "RelayState"};
        QTest::newRow("generated shapes")
            << u"http://a/"_qs << u"a=ab12cd34&b=deadbeefcafebabe00&c=QWxhZGRpbjpvcGVuIHNlc2FtZQ%3D%3D"_qs
            << QStringList{"a", "b", "c"};
        QTest::newRow("plain values")
            << u"http://a/"_qs << u"name=Ann+Lee&qty=12&city=Z%FCrich&date=2026-12-07&w=abcdefgh"_qs
            << QStringList();
        QTest::newRow("query of a GET")
            << u"http://a/p?session=Xk29aQ7mLp&page=2"_qs << QString() << QStringList{"session"};
    }

    void oneTimeRules()
    {
        QFETCH(QString, url);
        QFETCH(QString, postdata);
        RecordedStep step;
        step.url = url;
        step.postdata = postdata;
        QTEST(onetime::flagsOf(step), "flagged");
        // What recording judged stands, whatever the shapes.
        step.oneTime = QStringList{u"x"_qs};
        QCOMPARE(onetime::flagsOf(step), QStringList{u"x"_qs});
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
