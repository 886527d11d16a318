#include "BrowserDriver.h"
#include "BrowserTestMain.h"
#include "CodePage.h"
#include "Files.h"
#include "LayoutCheck.h"
#include "MessageBoxCatcher.h"
#include "RecorderSession.h"

#include <QSslKey>
#include <QSslServer>
#include <QWebEnginePage>
#include <QtWidgets>

using namespace browserdriver;

namespace {

// A page load as one line: its address and its body, percent-encoded.
QString load(const QString& url, const QByteArray& body)
{
    return url + u" ["_qs + QString::fromLatin1(body.toPercentEncoding()) + u']';
}

// What the recorder must record for a request the site received: its body, or
// for a multipart form the form-encoded serialisation of its entries (file
// fields by file name), which is what a replay sends.
QByteArray expectedBody(const LoggedRequest& r)
{
    const QByteArray type = r.headers.value("content-type");
    if (!type.startsWith("multipart/form-data"))
        return r.body;
    // Each part between two delimiters: its name, a file field's file name, its value.
    static const QRegularExpression part(
        u"name=\"([^\"]*)\"(?:; filename=\"([^\"]*)\")?.*?\r\n\r\n(.*)\r\n\\z"_qs,
        QRegularExpression::DotMatchesEverythingOption);
    const auto encoded = [](const QString& s) {
        return s.toLatin1().toPercentEncoding("*", "~").replace("%20", "+");
    };
    QByteArrayList entries;
    // Latin-1 keeps every byte as one character.
    const QString delimiter = u"--"_qs + QString::fromLatin1(type.mid(type.indexOf("boundary=") + 9));
    for (const QString& p : QString::fromLatin1(r.body).split(delimiter))
        if (const QRegularExpressionMatch m = part.match(p); m.hasMatch())
            entries << encoded(m.captured(1)) + '=' + encoded(m.captured(m.hasCaptured(2) ? 2 : 3));
    return entries.join('&');
}

// Does what a corpus trigger says: "click SELECTOR", "enter SELECTOR", "js
// SCRIPT"; "auto" asks nothing (the page acts by itself).
bool act(WebBrowser* browser, const QString& trigger)
{
    const QString how = trigger.section(u' ', 0, 0);
    const QString what = trigger.section(u' ', 1);
    if (how == u"click")
        return click(browser, what);
    if (how == u"enter")
        return pressEnter(browser, what);
    if (how == u"js")
        runJs(browser, what);
    return how == u"js" || how == u"auto";
}

// The shared session, with what the site served to compare against.
struct Session : RecorderSession
{
    using RecorderSession::RecorderSession;

    // Each step as a line: by default its address and its bytes.
    QStringList steps(QString (*line)(const RecordedStep&) = [](const RecordedStep& s) {
        return load(s.url, codepage::toAnsi(s.postdata));
    }) const
    {
        QStringList list;
        for (const RecordedStep& s : recorder->editor().store().steps())
            list << line(s);
        return list;
    }
    // What the site received as page loads the browser started (only its posts).
    QStringList served(bool postsOnly = false) const
    {
        QStringList list;
        for (const LoggedRequest& r : site.navigations()) {
            if (postsOnly && r.method != "POST")
                continue;
            const QString base = r.port == QUrl(site.url({})).port() ? site.url({}) : site.otherUrl({});
            list << load(base + QString::fromLatin1(r.target), expectedBody(r));
        }
        return list;
    }
};

// An HTTPS site on 127.0.0.1 whose certificate no one vouches for. It answers
// every request with a page titled "Secure" and keeps the request lines.
struct UntrustedSite
{
    QSslServer server;
    QByteArrayList requestLines;

    UntrustedSite()
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(
            QSslCertificate::fromPath(u"" TALLYRO_TEST_DATA_DIR "/tls/cert.pem"_qs).value(0));
        tls.setPrivateKey(QSslKey(readFile(u"" TALLYRO_TEST_DATA_DIR "/tls/key.pem"_qs), QSsl::Rsa));
        server.setSslConfiguration(tls);
        QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                auto received = std::make_shared<QByteArray>();
                QObject::connect(socket, &QIODevice::readyRead, socket, [this, socket, received] {
                    received->append(socket->readAll());
                    if (!received->contains("\r\n\r\n"))
                        return;
                    requestLines << received->left(received->indexOf("\r\n"));
                    const QByteArray page = "<!DOCTYPE html><title>Secure</title><p>Secure page</p>";
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
                                  "Content-Length: " +
                                  QByteArray::number(page.size()) + "\r\n\r\n" + page);
                    socket->disconnectFromHost();
                    received->clear();
                });
                QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        if (!server.listen(QHostAddress::LocalHost))
            qWarning("the HTTPS site cannot listen");
    }
    QString url(const QString& path) const
    {
        return u"https://127.0.0.1:%1%2"_qs.arg(server.serverPort()).arg(path);
    }
};

} // namespace

class TestBrowser : public QObject
{
    Q_OBJECT
    int m_posts = 0, m_postsExact = 0; // the corpus's posts, and those recorded byte for byte

private slots:
    void initTestCase()
    {
        m_site = std::make_unique<TestSite>();
        QVERIFY(m_site->isRunning());
    }

    void cleanupTestCase() { qInfo("capture: %d/%d POST bodies byte-exact", m_postsExact, m_posts); }

    // A fresh start. A step's label is its page's title, cut to 50 characters; a page visited again is no new
    // step: it labels the last step. The way to the blank page a page takes is refused while steps are
    // recorded, the window staying on its page; BeforeNavigate2 comes for it all the same. With Recording off
    // the window goes there, and nothing is recorded nor is the editor shown.
    void startUpTitlesAndTheBlankPage()
    {
        QStringList events; // outlive the window whose events they collect
        QString wanted;
        Session s(*m_site);
        QTRY_COMPARE(s.main->StatusBar()->text(), u"Done."_qs);
        QCOMPARE(layoutcheck::cutCaptions(s.main), QStringList());
        QCOMPARE(s.main->cboAddress()->currentText(), QString());
        QVERIFY(s.main->chkSave()->isChecked());
        QVERIFY(!s.editor().isVisible());
        QCOMPARE(s.editor().store().count(), 0);
        // Choosing the blank entry of the history clears the box and goes nowhere.
        QVERIFY(userinput::click(s.main->cboAddress()->lineEdit()));
        QVERIFY(userinput::key(Qt::Key_Down, Qt::AltModifier));
        QTRY_VERIFY(s.main->cboAddress()->view()->isVisible());
        QVERIFY(userinput::key(Qt::Key_Return));
        QTRY_VERIFY(!s.main->cboAddress()->view()->isVisible()); // before the next click
        QCOMPARE(s.main->cboAddress()->currentText(), QString());
        QVERIFY(!s.main->brwWebBrowser()->Busy());

        QStringList titles;
        for (const char* page :
             {"/long-title.html", "/non-ascii-title.html", "/no-title.html", "/long-title.html"}) {
            QVERIFY(s.open(s.site.url(QString::fromLatin1(page))));
            titles << s.main->brwWebBrowser()->LocationName();
            if (!titles.last().isEmpty())
                QCOMPARE(s.main->windowTitle(), titles.last());
        }
        QVERIFY(titles.first().size() > 50);
        QVERIFY(std::any_of(titles[1].cbegin(), titles[1].cend(), [](QChar c) { return c.unicode() > 127; }));
        QTRY_COMPARE(s.steps([](const RecordedStep& step) { return step.label; }),
                     (QStringList{titles[0].left(50), titles[1], titles[0].left(50)}));
        QVERIFY(s.editor().isVisible());
        QCOMPARE(s.editor().txtLabel()->cursorPosition(), 0); // the title's beginning shows

        const QString page = s.site.url(u"/to-blank.html"_qs);
        QVERIFY(s.open(page));
        WebBrowser* browser = s.main->brwWebBrowser();
        QSignalSpy before(browser, &WebBrowser::BeforeNavigate2);
        const auto wayToBlank = [&](const QString& how) {
            before.clear();
            return click(browser, how) && QTest::qWaitFor([&] { return before.count() == 1; }, 5000) &&
                   before.first().first().toString() == u"about:blank";
        };
        for (const QString& how : {u"#link"_qs, u"#script"_qs}) {
            QVERIFY2(wayToBlank(how), qPrintable(how));
            QTest::qWait(300); // nothing may happen: nothing to wait for
            QCOMPARE(browser->LocationURL(), page);
        }
        s.editor().hide();
        QVERIFY(userinput::click(s.main->chkSave()));
        QVERIFY(wayToBlank(u"#link"_qs));
        QTRY_COMPARE(browser->LocationURL(), u"about:blank"_qs);
        QVERIFY(s.open(s.site.url(u"/links.html"_qs)));
        QCOMPARE(s.count(), 4);
        QVERIFY(!s.editor().isVisible());

        // Each navigation raises BeforeNavigate2, NavigateComplete2 and
        // DocumentComplete in that order, also when the address stays (a form
        // posting to its own address, Enter on the current address) and for a
        // frame's document; the window is busy while a frame loads.
        connect(browser, &WebBrowser::BeforeNavigate2, this, [&](const QString& url) {
            if (url == wanted)
                events << u"before"_qs;
        });
        connect(browser, &WebBrowser::NavigateComplete2, this, [&] {
            if (events.contains(u"before"_qs) && !events.contains(u"committed"_qs))
                events << u"committed"_qs;
        });
        // The window's own handler runs first: by then a finished page's status
        // line is shown, whatever the Enter held back.
        bool statusShown = false;
        connect(browser, &WebBrowser::DocumentComplete, this, [&](const QString& url) {
            if (url == wanted) {
                events << u"complete"_qs;
                statusShown = s.main->findChild<QWidget*>(u"StatusContainer"_qs)->updatesEnabled();
            }
        });
        const QString slowFrame = u"/echo/slow?delay=1500"_qs;
        for (const auto& [page, action, target] :
             {std::tuple(u"/self-post.html"_qs, u"#go"_qs, u"/self-post.html"_qs),
              {u"/links.html"_qs, u"enter"_qs, u"/links.html"_qs},
              {u"/frame-later.html"_qs, u"#load"_qs, slowFrame}}) {
            QVERIFY(s.open(s.site.url(page)));
            events.clear();
            wanted = s.site.url(target);
            QVERIFY(action == u"enter" ? s.type(wanted) : click(browser, action));
            if (target == slowFrame) {
                QTRY_VERIFY(browser->Busy());
                QTRY_COMPARE(s.main->windowTitle(), u"Working..."_qs);
            }
            QTRY_VERIFY_WITH_TIMEOUT(events.contains(u"complete"_qs), 15000);
            QVERIFY2(events == QStringList({"before", "committed", "complete"}),
                     qPrintable(page + u": "_qs + events.join(u' ')));
            if (action == u"enter")
                QVERIFY(statusShown);
            QTRY_VERIFY(!browser->Busy());
            // The status line's repaints are held back only for a moment.
            QTRY_VERIFY(s.main->findChild<QWidget*>(u"StatusContainer"_qs)->updatesEnabled());
        }
    }

    // A navigation inside the document (a fragment link, the page's pushState or
    // replaceState) requests nothing: no step, and no new label even when the
    // page's script renames itself, but it completes as it commits, so the
    // pointer and the status line do not stay busy and the editor stays away.
    // Back from the page's menu returns through the same entries.
    // The page's menu offers neither saving, which the recorder does not do, nor
    // the page's source (a new recorder window): on a link and on the page, the
    // engine's other entries stay.
    void pageMenuWithoutSaving()
    {
        Session s(*m_site);
        QVERIFY(s.open(s.site.url(u"/links.html"_qs)));
        QTRY_COMPARE(s.main->StatusBar()->text(), u"Done."_qs);
        s.editor().hide();
        WebBrowser* browser = s.main->brwWebBrowser();
        QWebEnginePage* page = browser->page();
        const auto entriesAt = [&](QPoint at) {
            QList<QWebEnginePage::WebAction> shown;
            QMenu* menu = openPageMenu(browser, at);
            for (int a = QWebEnginePage::NoWebAction + 1; menu && a < QWebEnginePage::WebActionCount; ++a) {
                if (menu->actions().contains(page->action(QWebEnginePage::WebAction(a))))
                    shown << QWebEnginePage::WebAction(a);
            }
            if (menu)
                menu->close();
            return shown;
        };
        const QList<QWebEnginePage::WebAction> onLink = entriesAt(centre(browser, u"#absolute"_qs));
        QVERIFY(onLink.contains(QWebEnginePage::OpenLinkInNewWindow));
        QVERIFY(onLink.contains(QWebEnginePage::CopyLinkToClipboard));
        QVERIFY(!onLink.contains(QWebEnginePage::DownloadLinkToDisk));
        const QList<QWebEnginePage::WebAction> onPage = entriesAt(QPoint(500, 300));
        QVERIFY(onPage.contains(QWebEnginePage::Reload));
        QVERIFY(!onPage.contains(QWebEnginePage::SavePage));
        QVERIFY(!onPage.contains(QWebEnginePage::ViewSource));
    }

    // Alt+Left and Alt+Right go back and forward and F5 loads the page again, as
    // in a browser, from the page and from the address box; the pages they reach
    // are no new steps.
    void historyKeys()
    {
        Session s(*m_site);
        const QString first = s.site.url(u"/links.html"_qs), second = s.site.url(u"/no-title.html"_qs);
        QVERIFY(s.open(first));
        WebBrowser* browser = s.main->brwWebBrowser();
        QVERIFY(click(browser, u"#page"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(browser->LocationURL(), second, 15000);
        QVERIFY(s.waitIdle(s.main));
        const QList<RecordedStep> steps = s.editor().store().steps();
        QCOMPARE(steps.size(), 2);
        const struct
        {
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            QString reached;
            bool fromAddressBox;
        } presses[] = {{Qt::Key_Left, Qt::AltModifier, first, false},
                       {Qt::Key_Right, Qt::AltModifier, second, false},
                       {Qt::Key_Left, Qt::AltModifier, first, true},
                       {Qt::Key_F5, Qt::NoModifier, first, false}};
        for (const auto& press : presses) {
            if (press.fromAddressBox)
                QVERIFY(userinput::click(s.main->cboAddress()->lineEdit()));
            else
                QVERIFY(userinput::click(inputWidget(browser), QPoint(400, 400)));
            const qsizetype loads = m_site->navigations().size();
            QVERIFY(userinput::key(press.key, press.modifiers));
            // The site answers "no-store": each page comes from it again.
            QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), loads + 1, 15000);
            QTRY_COMPARE_WITH_TIMEOUT(browser->LocationURL(), press.reached, 15000);
            QVERIFY(s.waitIdle(s.main));
            QCOMPARE(s.editor().store().count(), steps.size());
        }
    }

    // A link to a PDF document shows it, as a browser does; a link to a file to
    // download leaves the page as it is and says why. A new window a link or a
    // form opens for a file closes again, and the editor, beside the window that
    // opened it, shows the step its request made.
    void documentsAndFiles_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("status");
        const QString saved = u" is a file to download: the recorder saves no files."_qs;
        QTest::newRow("a PDF document") << u"#pdf"_qs << u"/files/report.pdf"_qs << u"Done."_qs;
        QTest::newRow("a file to download")
            << u"#file"_qs << u"/download?name=list.csv"_qs << u"list.csv"_qs + saved;
        QTest::newRow("a file to download, in a new window")
            << u"#fileWindow"_qs << u"/download?name=prices.csv"_qs << u"prices.csv"_qs + saved;
        QTest::newRow("a file to download, posted into a new window")
            << u"#export"_qs << u"/download?name=export.csv"_qs << u"export.csv"_qs + saved;
    }

    void documentsAndFiles()
    {
        QFETCH(QString, link);
        QFETCH(QString, address);
        QFETCH(QString, status);
        Session s(*m_site);
        const QString page = s.site.url(u"/files/index.html"_qs);
        QVERIFY(s.open(page));
        QVERIFY(click(s.main->brwWebBrowser(), link));
        const QString target = s.site.url(address);
        QTRY_COMPARE_WITH_TIMEOUT(s.editor().store().count(), 2, 15000);
        QCOMPARE(s.editor().store().at(1).url, target);
        QTRY_COMPARE_WITH_TIMEOUT(s.main->StatusBar()->text(), status, 15000);
        QTRY_VERIFY(s.popups().isEmpty());
        QVERIFY(s.waitIdle(s.main));
        QTest::qWait(100); // the window's busy check runs every 10 ms
        QCOMPARE(s.main->StatusBar()->text(), status);
        QCOMPARE(s.main->brwWebBrowser()->LocationURL(), status == u"Done." ? target : page);
        QVERIFY(s.editor().isVisible());
        QCOMPARE(s.editor().frameGeometry().left(), s.main->frameGeometry().right() + 1); // beside it
        QCOMPARE(s.editor().selectedLine(), 1);
    }

    void inPageNavigations_data()
    {
        QTest::addColumn<QString>("controls");
        QTest::addColumn<QString>("address");
        QTest::newRow("fragment link") << u"#fragment"_qs << u"/in-page.html#part2"_qs;
        QTest::newRow("pushState, then a fragment") << u"#push #fragment"_qs << u"/in-page/pushed#part2"_qs;
        QTest::newRow("replaceState") << u"#replace"_qs << u"/in-page.html?replaced=1"_qs;
    }
    void inPageNavigations()
    {
        QFETCH(QString, controls);
        QFETCH(QString, address);
        Session s(*m_site);
        const QString page = s.site.url(u"/in-page.html"_qs);
        QVERIFY(s.open(page));
        QTRY_COMPARE(s.main->StatusBar()->text(), u"Done."_qs);
        s.editor().hide();
        WebBrowser* browser = s.main->brwWebBrowser();
        QStringList events;
        connect(browser, &WebBrowser::BeforeNavigate2, this, [&] { events << u"before"_qs; });
        connect(browser, &WebBrowser::NavigateComplete2, this, [&] { events << u"committed"_qs; });
        connect(browser, &WebBrowser::DocumentComplete, this, [&] { events << u"complete"_qs; });
        const int served = int(s.site.navigations().size());

        for (const QString& control : controls.split(u' ')) {
            events.clear();
            const QString was = browser->LocationURL();
            QVERIFY(click(browser, control));
            QTRY_VERIFY(browser->LocationURL() != was);
            QTRY_COMPARE(events, (QStringList{u"committed"_qs, u"complete"_qs}));
        }
        QCOMPARE(browser->LocationURL(), s.site.url(address));
        QCOMPARE(s.main->cboAddress()->currentText(), s.site.url(address));
        QCOMPARE(s.main->StatusBar()->text(), u"Done."_qs);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QVERIFY(!browser->Busy());
        QVERIFY(!s.editor().isVisible());

        if (!controls.contains(u"#replace")) {
            events.clear();
            QVERIFY(pageMenu(browser, QWebEnginePage::Back));
            QTRY_VERIFY(browser->LocationURL() != s.site.url(address));
            QTRY_COMPARE(events, (QStringList{u"committed"_qs, u"complete"_qs}));
            QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        }
        QTest::qWait(300); // a request the site would log: nothing to wait for
        QCOMPARE(int(s.site.navigations().size()), served);
        QCOMPARE(s.count(), 1);
        QCOMPARE(s.editor().store().at(0).label, u"In-page navigations"_qs);
        QVERIFY(!s.editor().isVisible());
    }

    // Every page of the form corpus and the navigation pages: the steps in store
    // order are the site's page loads, bodies byte for byte.
    void recordsWhatTheBrowserSent_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<int>("posts");
        QFile manifest(TestSite::siteDir() + u"/forms/manifest.tsv"_qs);
        QVERIFY(manifest.open(QIODevice::ReadOnly));
        while (!manifest.atEnd()) {
            const QStringList f = QString::fromUtf8(manifest.readLine()).trimmed().split(u'\t');
            if (f.size() == 3 && !f.at(0).startsWith(u'#'))
                QTest::newRow(qPrintable(f.at(0))) << f.at(0) << f.at(1) << f.at(2).toInt();
        }
        for (const char* row :
             {"/links.html click #relative", "/links.html click #query", "/links.html click #cross",
              "/links.html click #script", "/redirect-302.html click #r302",
              "/redirect-302.html click #chain", "/redirect-302.html click #cross",
              "/redirect-302.html click #blank302", "/meta-refresh.html wait /echo/refreshed",
              "/frameset.html auto", "/iframe-same.html auto", "/iframe-cross.html auto",
              "/get-form.html auto", "/no-title.html auto"}) {
            const QString text = QString::fromLatin1(row);
            QTest::newRow(row) << text.section(u' ', 0, 0) << text.section(u' ', 1) << 0;
        }
    }

    void recordsWhatTheBrowserSent()
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
        QTRY_VERIFY_WITH_TIMEOUT(s.main->brwWebBrowser()->LocationURL() != u"about:blank" &&
                                     !s.main->brwWebBrowser()->Busy(),
                                 15000);
        WebBrowser* browser = s.main->brwWebBrowser();
        const QString how = trigger.section(u' ', 0, 0);
        const QString what = trigger.section(u' ', 1);
        if (how != u"wait") {
            const qsizetype before = m_site->requests().size();
            QVERIFY(act(browser, trigger));
            // Each trigger sends something: a page load, or the fetch of a page that makes none.
            const auto sent = [&] {
                const QList<LoggedRequest> all = m_site->requests();
                return std::any_of(
                    all.cbegin() + std::min(before, all.size()), all.cend(), [](const auto& r) {
                        return (r.navigation || r.method == "POST") && !r.target.startsWith("/favicon.ico");
                    });
            };
            if (how != u"auto") // else the page acted while it loaded
                QTRY_VERIFY_WITH_TIMEOUT(sent(), 15000);
        } else // the page moves on by itself
            QTRY_VERIFY_WITH_TIMEOUT(
                std::ranges::any_of(m_site->navigations(),
                                    [&](const auto& r) { return r.target == what.toUtf8(); }),
                15000);
        const auto postCount = [&] {
            const QList<LoggedRequest> loads = m_site->navigations();
            return std::count_if(loads.cbegin(), loads.cend(),
                                 [](const LoggedRequest& r) { return r.method == "POST"; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(postCount() >= posts, 15000);
        // Let every window finish what it started.
        const auto allIdle = [&] {
            const QList<frmBrowser*> windows = s.recorder->windows();
            return std::none_of(windows.cbegin(), windows.cend(),
                                [](frmBrowser* w) { return w->brwWebBrowser()->Busy(); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(allIdle(), 15000);
        // The frames of one page are requested at once and may reach the site in
        // any order; the steps keep the order in which the browser started them.
        const auto inOrder = [&](QStringList loads) {
            if (page.contains(u"frame") && loads.size() > 1)
                std::sort(loads.begin() + 1, loads.end());
            return loads;
        };
        (void)QTest::qWaitFor([&] { return inOrder(s.steps()) == inOrder(s.served()); }, 5000);
        const QStringList steps = s.steps(), sent = s.served(true);
        m_posts += sent.size();
        m_postsExact += std::ranges::count_if(sent, [&](const QString& p) { return steps.contains(p); });
        QCOMPARE(inOrder(steps), inOrder(s.served()));
    }

    // A window used for hundreds of pages still records what its forms send:
    // one in the top document, one in a frame the page builds.
    void recordsAfterHundredsOfPages()
    {
        Session s(*m_site);
        // Not recording meanwhile, so the store does not fill.
        QVERIFY(s.browseUnrecorded(200, false));
        for (const auto& [page, trigger] : {std::pair(u"/forms/non-ascii.html"_qs, u"click #go"_qs),
                                            {u"/forms/tamper-frame-realm.html"_qs, u"js send()"_qs}}) {
            m_site->clear();
            QVERIFY(s.open(s.site.url(page)));
            QVERIFY(act(s.main->brwWebBrowser(), trigger));
            QTRY_COMPARE_WITH_TIMEOUT(s.served(true).size(), 1, 15000);
            QVERIFY(s.waitIdle(s.main));
            QTRY_VERIFY2(s.steps().contains(s.served(true).first()),
                         qPrintable(page + u": "_qs + s.steps().join(u", "_qs)));
        }
    }

    // A site's HTTP sign-in is asked in a box: cancelled, the site's refusal
    // shows; answered, the answer reaches the site and the recorded step keeps it
    // for the monitor. A site whose certificate is not trusted loads only when the
    // user says so. The engine remembers an answer for the run: each is cancelled first.
    void siteSignInAndUntrustedCertificate()
    {
        UntrustedSite tls;
        Session s(*m_site);
        // The boxes run their own event loops inside the engine's requests: they
        // are answered from a timer, once they have the keyboard; once a visit.
        int visits = 0, answered = 0;
        QStringList asked; // the certificate boxes' texts
        QTimer person;
        person.setInterval(10);
        connect(&person, &QTimer::timeout, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (answered == visits || !box || !userinput::activate(box))
                return;
            const bool cancel = ++answered % 2 == 1;
            if (auto* certificate = qobject_cast<QMessageBox*>(box)) {
                asked << certificate->text();
                for (QAbstractButton* button : certificate->buttons())
                    if (button->text() == (cancel ? u"Cancel"_qs : u"Go on"_qs))
                        userinput::click(button);
            } else if (cancel) {
                userinput::key(Qt::Key_Escape);
            } else {
                userinput::type(u"ann"_qs);
                userinput::key(Qt::Key_Tab);
                userinput::type(u"s3cret pw"_qs);
                userinput::key(Qt::Key_Return);
            }
        });
        person.start();
        // Each sign-in visit asks for another user.
        const QString cancelled = s.site.url(u"/auth?user=cat&pass=s3cret%20pw"_qs);
        const QString signedIn = s.site.url(u"/auth?user=ann&pass=s3cret%20pw"_qs);
        for (const QString& title : {u"Unauthorized"_qs, u"Welcome"_qs}) {
            QVERIFY(s.type(++visits == 1 ? cancelled : signedIn));
            QTRY_VERIFY_WITH_TIMEOUT(answered == visits, 15000);
            QTRY_COMPARE_WITH_TIMEOUT(s.main->brwWebBrowser()->LocationName(), title, 15000);
            QVERIFY(s.waitIdle(s.main));
        }
        QCOMPARE(s.steps([](const RecordedStep& step) {
            return step.url + u' ' + step.httpuser + u':' + step.httppass;
        }),
                 (QStringList{cancelled + u" :"_qs, signedIn + u" ann:s3cret pw"_qs}));
        QCOMPARE(m_site->requests().constLast().headers.value("authorization"),
                 "Basic " + QByteArray("ann:s3cret pw").toBase64());

        for (const bool goOn : {false, true}) {
            ++visits;
            QVERIFY(s.type(tls.url(u"/secure"_qs)));
            QTRY_VERIFY_WITH_TIMEOUT(answered == visits, 15000);
            const QString text = asked.value(goOn ? 1 : 0);
            QVERIFY2(text.startsWith(u"The certificate of 127.0.0.1 is not trusted"_qs), qPrintable(text));
            QTRY_COMPARE(s.main->brwWebBrowser()->LocationName() == u"Secure", goOn);
            QVERIFY(s.waitIdle(s.main));
            QCOMPARE(tls.requestLines.contains("GET /secure HTTP/1.1"), goOn);
        }
    }

    // A link's new window: a popup. One that closes itself goes, leaving the rest; the main window refuses.
    // A renderer that dies is reported, and the user navigates on.
    void popupWindows()
    {
        Session s(*m_site);
        QVERIFY(s.open(s.site.url(u"/blank-link.html"_qs)));
        QVERIFY(click(s.main->brwWebBrowser(), u"#blank"_qs));
        QTRY_COMPARE(s.popups().size(), 1);
        frmBrowser* popup = s.popups().first();
        QVERIFY(popup->cPopup()->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(popup->brwWebBrowser()->LocationURL(), s.site.url(u"/popups/popup.html"_qs),
                                  15000);
        QTRY_VERIFY(popup->brwWebBrowser()->isPageShown());
        // Recorded into the one store.
        QTRY_COMPARE(s.editor().store().count(), 2);
        QCOMPARE(s.editor().store().at(1).url, s.site.url(u"/popups/popup.html"_qs));
        // Fewer controls once its page started loading, every caption whole at rest.
        for (const char* name : {"Label1", "Label2", "lblStepBack", "lblSkip", "Command1", "lblRestart",
                                 "LblUpload", "HelpCommand"})
            QVERIFY2(!popup->findChild<QPushButton*>(QString::fromLatin1(name))->isVisible(), name);
        QVERIFY(!popup->findChild<QMenu*>(u"mMenu"_qs)->menuAction()->isVisible());
        QVERIFY(popup->findChild<QMenu*>(u"mRecorder"_qs)->menuAction()->isVisible());
        QVERIFY(s.main->findChild<QPushButton*>(u"Label1"_qs)->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(popup->StatusBar()->text(), u"Done."_qs, 15000);
        QCOMPARE(layoutcheck::cutCaptions(popup), QStringList());
        // Placed right of and below where it first showed.
        QVERIFY(popup->pos().x() > popup->firstShownAt().x() && popup->pos().y() > popup->firstShownAt().y());

        QVERIFY(s.open(s.site.url(u"/popup-self-close.html"_qs)));
        QVERIFY(click(s.main->brwWebBrowser(), u"#open"_qs));
        QTRY_COMPARE(s.popups().size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(s.popups(), QList<frmBrowser*>{popup}, 15000);
        // The engine itself lets a page close only a window without history, which
        // the main window never is: its request is simulated.
        MessageBoxCatcher boxes;
        QVERIFY(s.open(s.site.url(u"/main-close.html"_qs)));
        emit s.main->brwWebBrowser()->page()->windowCloseRequested();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 10000);
        QCOMPARE(boxes.last().title, u"Error"_qs);
        QCOMPARE(boxes.last().text, u"Error: Cannot close this window"_qs);
        QVERIFY(s.main->isVisible());
        const int steps = s.count();
        QSignalSpy crashed(s.main->brwWebBrowser(), &WebBrowser::RendererCrashed);
        s.main->brwWebBrowser()->Navigate(u"chrome://crash"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(crashed.count(), 1, 15000);
        QTRY_VERIFY(s.main->StatusBar()->text().startsWith(QLatin1String("The page stopped working")));
        QCOMPARE(s.count(), steps);
        QVERIFY(s.open(s.site.url(u"/no-title.html"_qs)));
        QCOMPARE(s.count(), steps + 1);

        // Reset from a popup's Recorder menu clears the steps, keeps Recording on
        // and takes that window to the blank page.
        QVERIFY(s.waitIdle(popup));
        QVERIFY(s.choose("mRestart", popup));
        QTRY_COMPARE(s.count(), 0);
        QVERIFY(s.main->chkSave()->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(popup->brwWebBrowser()->LocationURL(), u"about:blank"_qs, 15000);
        QCOMPARE(s.count(), 0);
        // Closing the main window ends the program: its popups and the editor go too.
        s.editor().show();
        QPointer<frmBrowser> main = s.main;
        QPointer<frmBrowser> other = popup;
        main->close();
        QTRY_VERIFY(!main);
        QTRY_VERIFY(!other);
        QVERIFY(!s.editor().isVisible());
        QVERIFY(s.recorder->windows().isEmpty());
    }

private:
    std::unique_ptr<TestSite> m_site;
};

TALLYRO_BROWSER_TEST_MAIN(TestBrowser)
#include "tst_browser.moc"
