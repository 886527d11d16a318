#include "BrowserDriver.h"
#include "BrowserTestMain.h"
#include "CodePage.h"
#include "MessageBoxCatcher.h"
#include "Recorder.h"
#include "RecorderSession.h"
#include "TestSite.h"
#include "Twips.h"
#include "UserInput.h"
#include "frmBrowser.h"
#include "frmControlPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QWebEnginePage>

#include <memory>
#include <optional>

using namespace browserdriver;

namespace {

using Step = std::pair<QString, QByteArray>; // address and body bytes

// The form-encoded serialisation of entries, as a browser writes it.
QByteArray formEncoded(const QList<std::pair<QByteArray, QByteArray>>& entries)
{
    QByteArray out;
    for (const auto& [name, value] : entries) {
        if (!out.isEmpty())
            out += '&';
        out += name.toPercentEncoding("*", "~").replace("%20", "+") + '=' +
               value.toPercentEncoding("*", "~").replace("%20", "+");
    }
    return out;
}

// What the recorder must record for a request the site received: its body, or
// for a multipart form the form-encoded serialisation of its entries (file
// fields by file name), which is what a replay sends.
QByteArray expectedBody(const LoggedRequest& r)
{
    const QByteArray type = r.headers.value("content-type");
    if (!type.startsWith("multipart/form-data"))
        return r.body;
    const QByteArray boundary = "--" + type.mid(type.indexOf("boundary=") + 9);
    QList<std::pair<QByteArray, QByteArray>> entries;
    qsizetype at = r.body.indexOf(boundary);
    while (at >= 0) {
        const qsizetype start = at + boundary.size() + 2; // CR LF after the delimiter
        const qsizetype next = r.body.indexOf(boundary, start);
        if (next < 0)
            break;
        const QByteArray part = r.body.mid(start, next - start - 2); // CR LF before the next one
        const qsizetype headersEnd = part.indexOf("\r\n\r\n");
        const QByteArray headers = part.left(headersEnd);
        QByteArray value = part.mid(headersEnd + 4);
        auto quoted = [&](const QByteArray& key) -> std::optional<QByteArray> {
            const qsizetype k = headers.indexOf(key + "=\"");
            if (k < 0)
                return std::nullopt;
            const qsizetype begin = k + key.size() + 2;
            return headers.mid(begin, headers.indexOf('"', begin) - begin);
        };
        if (const auto file = quoted("filename"))
            value = *file;
        entries.append({quoted("name").value_or(QByteArray()), value});
        at = next;
    }
    return formEncoded(entries);
}

// A fresh recorder with its main window, on the local test site.
// The shared session, with what the site served to compare against.
struct Session : RecorderSession
{
    using RecorderSession::RecorderSession;

    QList<Step> steps() const
    {
        QList<Step> list;
        for (const RecordedStep& s : recorder->editor().store().steps())
            list.append({s.url, codepage::toAnsi(s.postdata)});
        return list;
    }
    // What the site received as page loads the browser started.
    QList<Step> served() const
    {
        QList<Step> list;
        for (const LoggedRequest& r : site.navigations()) {
            const QString base = r.port == QUrl(site.url({})).port() ? site.url({}) : site.otherUrl({});
            list.append({base + QString::fromLatin1(r.target), expectedBody(r)});
        }
        return list;
    }
};

QString describe(const QList<Step>& steps)
{
    QStringList lines;
    for (const Step& s : steps)
        lines << s.first + QStringLiteral(" [") + QString::fromLatin1(s.second.left(80).toPercentEncoding()) +
                     QStringLiteral("] ") + QString::number(s.second.size());
    return lines.join(u'\n');
}

int postsTotal = 0;
int postsExact = 0;

} // namespace

class TestBrowser : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void startUp();
    void recordsWhatTheBrowserSent_data();
    void recordsWhatTheBrowserSent();
    void recordingOffRecordsNothing();
    void blankPageFromThePage_data();
    void blankPageFromThePage();
    void everyNavigationRaisesItsEvents_data();
    void everyNavigationRaisesItsEvents();
    void labelsFromTitles_data();
    void labelsFromTitles();
    void revisitRelabelsTheLastStep();
    void fullStoreReportedAtEveryNavigation();
    void popupWindows();
    void scriptClosingWindows();
    void closingTheMainWindowEndsTheProgram();
    void rendererCrashIsReported();

private:
    std::unique_ptr<TestSite> m_site;
};

void TestBrowser::initTestCase()
{
    m_site = std::make_unique<TestSite>();
    QVERIFY(m_site->isRunning());
}

void TestBrowser::cleanupTestCase()
{
    qInfo("capture: %d/%d POST bodies byte-exact", postsExact, postsTotal);
    QCOMPARE(postsExact, postsTotal);
    m_site.reset();
}

void TestBrowser::startUp()
{
    Session s(*m_site);
    QTRY_COMPARE(s.main->StatusBar()->text(), QStringLiteral("Done."));
    QCOMPARE(s.main->cboAddress()->currentText(), QString());
    QVERIFY(s.main->chkSave()->isChecked());
    QVERIFY(!s.editor().isVisible());
    QCOMPARE(s.editor().store().count(), 0);
    // Choosing the blank entry of the history clears the box and goes nowhere.
    QVERIFY(userinput::click(s.main->cboAddress()->lineEdit()));
    QVERIFY(userinput::key(Qt::Key_Down, Qt::AltModifier));
    QTRY_VERIFY(s.main->cboAddress()->view()->isVisible());
    QVERIFY(userinput::key(Qt::Key_Return));
    QCOMPARE(s.main->cboAddress()->currentText(), QString());
    QVERIFY(!s.main->brwWebBrowser()->Busy());
}

// Every page of the form corpus and the navigation pages: the steps in store
// order are the site's page loads, bodies byte for byte.
void TestBrowser::recordsWhatTheBrowserSent_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<int>("posts");
    QFile manifest(TestSite::siteDir() + QStringLiteral("/forms/manifest.tsv"));
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    while (!manifest.atEnd()) {
        const QStringList f = QString::fromUtf8(manifest.readLine()).trimmed().split(u'\t');
        if (f.size() == 3 && !f.at(0).startsWith(u'#'))
            QTest::newRow(qPrintable(f.at(0))) << f.at(0) << f.at(1) << f.at(2).toInt();
    }
    const QList<QStringList> pages{
        {"/links.html", "click #relative"},
        {"/links.html", "click #query"},
        {"/links.html", "click #cross"},
        {"/links.html", "click #script"},
        {"/redirect-302.html", "click #r302"},
        {"/redirect-302.html", "click #r307"},
        {"/redirect-302.html", "click #chain"},
        {"/redirect-302.html", "click #cross"},
        {"/meta-refresh.html", "auto"},
        {"/frameset.html", "auto"},
        {"/iframe-same.html", "auto"},
        {"/iframe-cross.html", "auto"},
        {"/get-form.html", "auto"},
        {"/no-title.html", "auto"},
    };
    for (const QStringList& p : pages)
        QTest::newRow(qPrintable(p.at(0) + u' ' + p.at(1))) << p.at(0) << p.at(1) << 0;
}

void TestBrowser::recordsWhatTheBrowserSent()
{
    QFETCH(QString, page);
    QFETCH(QString, trigger);
    QFETCH(int, posts);
    Session s(*m_site);
    // What was sent is recorded, duplicates included.
    s.editor().cAllowDuplicates()->setChecked(true);
    m_site->clear();
    // The page may move on by itself while it loads: wait for it to arrive.
    s.type(s.site.url(page));
    QTRY_VERIFY_WITH_TIMEOUT(!m_site->navigations().isEmpty(), 15000);
    // The site may log the request before the window hears that loading began.
    QTRY_VERIFY_WITH_TIMEOUT(
        s.main->brwWebBrowser()->LocationURL() != u"about:blank" && !s.main->brwWebBrowser()->Busy(), 15000);

    WebBrowser* browser = s.main->brwWebBrowser();
    const QString how = trigger.section(u' ', 0, 0);
    const QString what = trigger.section(u' ', 1);
    if (how == u"click")
        QVERIFY(click(browser, what));
    else if (how == u"enter")
        QVERIFY(pressEnter(browser, what));
    else if (how == u"js")
        runJs(browser, what);

    auto postCount = [&] {
        int n = 0;
        for (const LoggedRequest& r : m_site->navigations())
            n += r.method == "POST" ? 1 : 0;
        return n;
    };
    QTRY_VERIFY_WITH_TIMEOUT(postCount() >= posts, 15000);
    // Let every window finish what it started.
    auto allIdle = [&] {
        const QList<frmBrowser*> popups = s.popups();
        return !s.main->brwWebBrowser()->Busy() &&
               std::all_of(popups.cbegin(), popups.cend(),
                           [](frmBrowser* w) { return !w->brwWebBrowser()->Busy(); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allIdle(), 15000);
    // The frames of one page are requested at once and may reach the site in
    // any order; the steps keep the order in which the browser started them.
    const bool frames = page.contains(u"frame");
    const auto sameLoads = [frames](QList<Step> steps, QList<Step> served) {
        if (!frames || steps.isEmpty() || served.isEmpty() || steps.first() != served.first())
            return steps == served;
        std::sort(steps.begin(), steps.end());
        std::sort(served.begin(), served.end());
        return steps == served;
    };
    (void)QTest::qWaitFor([&] { return sameLoads(s.steps(), s.served()); }, 5000);
    const QList<Step> steps = s.steps();
    for (const LoggedRequest& r : m_site->navigations()) {
        if (r.method != "POST")
            continue;
        ++postsTotal;
        const QByteArray expected = expectedBody(r);
        postsExact += std::any_of(steps.cbegin(), steps.cend(), [&](const Step& step) {
            return step.second == expected && step.first.endsWith(QString::fromLatin1(r.target));
        });
    }
    QVERIFY2(sameLoads(steps, s.served()), qPrintable(QStringLiteral("steps:\n") + describe(steps) +
                                                      QStringLiteral("\nserved:\n") + describe(s.served())));
}

void TestBrowser::recordingOffRecordsNothing()
{
    Session s(*m_site);
    s.main->chkSave()->setChecked(false);
    QVERIFY(s.open(s.site.url(QStringLiteral("/links.html"))));
    QCOMPARE(s.editor().store().count(), 0);
    QVERIFY(!s.editor().isVisible());
}

// The way to the blank page, the program's own or a page's, is refused while
// steps are recorded, the window staying on its page; BeforeNavigate2 comes
// for it all the same.
void TestBrowser::blankPageFromThePage_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("recording");
    QTest::newRow("the program's, recording") << "" << true;
    QTest::newRow("the program's, not recording") << "" << false;
    QTest::newRow("link, recording") << "#link" << true;
    QTest::newRow("script, recording") << "#script" << true;
    QTest::newRow("link, not recording") << "#link" << false;
}

void TestBrowser::blankPageFromThePage()
{
    QFETCH(QString, how);
    QFETCH(bool, recording);
    Session s(*m_site);
    const QString page = s.site.url(QStringLiteral("/to-blank.html"));
    QVERIFY(s.open(page));
    QCOMPARE(s.editor().store().count(), 1);
    if (!recording)
        QVERIFY(userinput::click(s.main->chkSave()));
    QSignalSpy before(s.main->brwWebBrowser(), &WebBrowser::BeforeNavigate2);
    if (how.isEmpty())
        s.main->brwWebBrowser()->Navigate(QStringLiteral("about:blank"));
    else
        QVERIFY(click(s.main->brwWebBrowser(), how));
    QTRY_COMPARE(before.count(), 1);
    QCOMPARE(before.first().first().toString(), QStringLiteral("about:blank"));
    if (recording) {
        QTest::qWait(300); // nothing may happen: nothing to wait for
        QCOMPARE(s.main->brwWebBrowser()->LocationURL(), page);
    } else {
        QTRY_COMPARE(s.main->brwWebBrowser()->LocationURL(), QStringLiteral("about:blank"));
    }
    QCOMPARE(s.editor().store().count(), 1);
}

// Each navigation raises BeforeNavigate2, NavigateComplete2 and DocumentComplete
// in that order, also when the address stays and for a frame's document; the
// window is busy while a frame loads.
void TestBrowser::everyNavigationRaisesItsEvents_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("action"); // a selector to click, or "enter" on the address again
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("slowFrame");
    QTest::newRow("form posting to its own address") << "/self-post.html"
                                                     << "#go"
                                                     << "/self-post.html" << false;
    QTest::newRow("Enter on the current address") << "/links.html"
                                                  << "enter"
                                                  << "/links.html" << false;
    QTest::newRow("a frame's document") << "/frame-later.html"
                                        << "#load"
                                        << "/slow?ms=1500" << true;
}

void TestBrowser::everyNavigationRaisesItsEvents()
{
    QFETCH(QString, page);
    QFETCH(QString, action);
    QFETCH(QString, target);
    QFETCH(bool, slowFrame);
    QStringList events; // outlives the window whose events it collects
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(page)));
    WebBrowser* browser = s.main->brwWebBrowser();
    const QString wanted = s.site.url(target);
    connect(browser, &WebBrowser::BeforeNavigate2, this, [&](const QString& url) {
        if (url == wanted)
            events << QStringLiteral("before");
    });
    connect(browser, &WebBrowser::NavigateComplete2, this, [&] {
        if (events.contains(u"before"_qs) && !events.contains(u"committed"_qs))
            events << QStringLiteral("committed");
    });
    connect(browser, &WebBrowser::DocumentComplete, this, [&](const QString& url) {
        if (url == wanted)
            events << QStringLiteral("complete");
    });
    if (action == u"enter")
        QVERIFY(s.type(wanted));
    else
        QVERIFY(click(browser, action));
    if (slowFrame) {
        QTRY_VERIFY(browser->Busy());
        QTRY_COMPARE(s.main->windowTitle(), QStringLiteral("Working..."));
    }
    QTRY_VERIFY_WITH_TIMEOUT(events.contains(u"complete"_qs), 15000);
    QCOMPARE(events, QStringList({"before", "committed", "complete"}));
    QTRY_VERIFY(!browser->Busy());
    // The status line's repaints are held back only for a moment.
    QTRY_VERIFY(s.main->findChild<QWidget*>(QStringLiteral("StatusContainer"))->updatesEnabled());
}

void TestBrowser::labelsFromTitles_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("length");
    QTest::newRow("long title") << "/long-title.html" << 50;
    QTest::newRow("non-ASCII title") << "/non-ascii-title.html" << -1;
}

void TestBrowser::labelsFromTitles()
{
    QFETCH(QString, page);
    QFETCH(int, length);
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(page)));
    QTRY_VERIFY(s.editor().isVisible());
    const QString title = s.main->brwWebBrowser()->LocationName();
    QCOMPARE(s.main->windowTitle(), title);
    QTRY_COMPARE(s.editor().store().at(0).label, title.left(50));
    if (length > 0) {
        QVERIFY(title.size() > 50);
        QCOMPARE(s.editor().store().at(0).label.size(), length);
    } else {
        QVERIFY(std::any_of(title.cbegin(), title.cend(), [](QChar c) { return c.unicode() > 127; }));
    }
}

void TestBrowser::revisitRelabelsTheLastStep()
{
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(QStringLiteral("/links.html"))));
    QVERIFY(s.open(s.site.url(QStringLiteral("/no-title.html"))));
    QCOMPARE(s.editor().store().count(), 2);
    QVERIFY(s.open(s.site.url(QStringLiteral("/links.html"))));
    QCOMPARE(s.editor().store().count(), 2);
    QTRY_COMPARE(s.editor().store().at(1).label, QStringLiteral("Links"));
    QCOMPARE(s.editor().store().at(0).label, QStringLiteral("Links"));
}

void TestBrowser::fullStoreReportedAtEveryNavigation()
{
    Session s(*m_site);
    for (int i = 0; i < StepStore::capacity; ++i)
        s.editor().store().addURL(QStringLiteral("http://x.test/%1").arg(i), QString());
    MessageBoxCatcher boxes;
    QVERIFY(s.open(s.site.url(QStringLiteral("/links.html"))));
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("No more"));
    QVERIFY(s.open(s.site.url(QStringLiteral("/no-title.html"))));
    QTRY_COMPARE(boxes.count(), 2);
    QCOMPARE(s.editor().store().count(), StepStore::capacity);
}

void TestBrowser::popupWindows()
{
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(QStringLiteral("/blank-link.html"))));
    QVERIFY(click(s.main->brwWebBrowser(), QStringLiteral("#blank")));
    QTRY_COMPARE(s.popups().size(), 1);
    frmBrowser* popup = s.popups().first();
    QVERIFY(popup->cPopup()->isChecked());
    QTRY_COMPARE_WITH_TIMEOUT(popup->brwWebBrowser()->LocationURL(),
                              s.site.url(QStringLiteral("/popups/popup.html")), 15000);
    QTRY_VERIFY(popup->brwWebBrowser()->isPageShown());
    // Recorded into the one store.
    QTRY_COMPARE(s.editor().store().count(), 2);
    QCOMPARE(s.editor().store().at(1).url, s.site.url(QStringLiteral("/popups/popup.html")));
    // Fewer controls once its page started loading.
    for (const char* name :
         {"Label1", "Label2", "lblStepBack", "lblSkip", "Command1", "lblRestart", "LblUpload", "HelpCommand"})
        QVERIFY2(!popup->findChild<QPushButton*>(QString::fromLatin1(name))->isVisible(), name);
    QVERIFY(!popup->findChild<QMenu*>(QStringLiteral("mMenu"))->menuAction()->isVisible());
    QVERIFY(popup->findChild<QMenu*>(QStringLiteral("mRecorder"))->menuAction()->isVisible());
    QVERIFY(s.main->findChild<QPushButton*>(QStringLiteral("Label1"))->isVisible());
    // Placed 1200 twips right of and below where it first showed.
    const int offset = twips::toPixels(1200, popup->logicalDpiX());
    QCOMPARE(popup->pos(), popup->firstShownAt() + QPoint(offset, offset));
    // Closing it leaves the rest.
    popup->close();
    QTRY_COMPARE(s.popups().size(), 0);
    QVERIFY(s.main->isVisible());
    QCOMPARE(s.editor().store().count(), 2);
}

void TestBrowser::scriptClosingWindows()
{
    Session s(*m_site);
    // A popup that closes itself goes.
    QVERIFY(s.open(s.site.url(QStringLiteral("/popup-self-close.html"))));
    QVERIFY(click(s.main->brwWebBrowser(), QStringLiteral("#open")));
    QTRY_COMPARE(s.popups().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(s.popups().size(), 0, 15000);
    // The main window refuses. The engine itself lets a page close only a window
    // without history, which the main window never is: its request is simulated.
    MessageBoxCatcher boxes;
    QVERIFY(s.open(s.site.url(QStringLiteral("/main-close.html"))));
    emit s.main->brwWebBrowser()->page()->windowCloseRequested();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 10000);
    QCOMPARE(boxes.last().title, QStringLiteral("Error"));
    QCOMPARE(boxes.last().text, QStringLiteral("Error: Cannot close this window"));
    QVERIFY(s.main->isVisible());
}

void TestBrowser::closingTheMainWindowEndsTheProgram()
{
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(QStringLiteral("/window-open.html"))));
    QVERIFY(click(s.main->brwWebBrowser(), QStringLiteral("#open")));
    QTRY_COMPARE(s.popups().size(), 1);
    s.editor().show();
    QPointer<frmBrowser> main = s.main;
    QPointer<frmBrowser> popup = s.popups().first();
    main->close();
    QTRY_VERIFY(!main);
    QTRY_VERIFY(!popup);
    QVERIFY(!s.editor().isVisible());
    QVERIFY(s.recorder->windows().isEmpty());
}

void TestBrowser::rendererCrashIsReported()
{
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(QStringLiteral("/links.html"))));
    QSignalSpy crashed(s.main->brwWebBrowser(), &WebBrowser::RendererCrashed);
    s.main->brwWebBrowser()->Navigate(QStringLiteral("chrome://crash"));
    QTRY_COMPARE_WITH_TIMEOUT(crashed.count(), 1, 15000);
    QTRY_VERIFY(s.main->StatusBar()->text().startsWith(QLatin1String("The page stopped working")));
    QCOMPARE(s.editor().store().count(), 1);
    // The user navigates on.
    QVERIFY(s.open(s.site.url(QStringLiteral("/no-title.html"))));
    QCOMPARE(s.editor().store().count(), 2);
}

TALLYRO_BROWSER_TEST_MAIN(TestBrowser)
#include "tst_browser.moc"
