#include "BrowserDriver.h"
#include "BrowserTestMain.h"
#include "CodePage.h"
#include "LayoutCheck.h"
#include "MessageBoxCatcher.h"
#include "RecorderSession.h"

#include <QSslKey>
#include <QSslServer>
#include <QWebEnginePage>
#include <QtWidgets>

#include <optional>

using namespace browserdriver;

namespace {

using Step = std::pair<QString, QByteArray>; // address and body bytes

// What the recorder must record for a request the site received: its body, or
// for a multipart form the form-encoded serialisation of its entries (file
// fields by file name), which is what a replay sends.
QByteArray expectedBody(const LoggedRequest& r)
{
    const QByteArray type = r.headers.value("content-type");
    if (!type.startsWith("multipart/form-data"))
        return r.body;
    const QByteArray boundary = "--" + type.mid(type.indexOf("boundary=") + 9);
    const auto encoded = [](const QByteArray& b) {
        return b.toPercentEncoding("*", "~").replace("%20", "+");
    };
    QByteArrayList entries;
    for (qsizetype at = r.body.indexOf(boundary), next = 0; at >= 0; at = next) {
        const qsizetype start = at + boundary.size() + 2; // CR LF after the delimiter
        next = r.body.indexOf(boundary, start);
        if (next < 0)
            break;
        const QByteArray part = r.body.mid(start, next - start - 2); // CR LF before the next one
        const qsizetype headersEnd = part.indexOf("\r\n\r\n");
        const QByteArray headers = part.left(headersEnd);
        const auto quoted = [&](const QByteArray& key) -> std::optional<QByteArray> {
            const qsizetype k = headers.indexOf(key + "=\"");
            const qsizetype begin = k + key.size() + 2;
            return k < 0 ? std::nullopt
                         : std::optional(headers.mid(begin, headers.indexOf('"', begin) - begin));
        };
        entries << encoded(quoted("name").value_or("")) + '=' +
                       encoded(quoted("filename").value_or(part.mid(headersEnd + 4)));
    }
    return entries.join('&');
}

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
        lines << s.first + u" ["_qs + QString::fromLatin1(s.second.left(80).toPercentEncoding()) + u"] "_qs +
                     QString::number(s.second.size());
    return lines.join(u'\n');
}

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
        QFile key(u"" TALLYRO_TEST_DATA_DIR "/tls/key.pem"_qs);
        if (key.open(QIODevice::ReadOnly))
            tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
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

int postsTotal = 0;
int postsExact = 0;

} // namespace

class TestBrowser : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_site = std::make_unique<TestSite>();
        QVERIFY(m_site->isRunning());
    }

    void cleanupTestCase()
    {
        qInfo("capture: %d/%d POST bodies byte-exact", postsExact, postsTotal);
        QCOMPARE(postsExact, postsTotal);
        m_site.reset();
        m_tls.reset();
    }

    void startUpAndRecordingOff()
    {
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
        QCOMPARE(s.main->cboAddress()->currentText(), QString());
        QVERIFY(!s.main->brwWebBrowser()->Busy());
        // With Recording off nothing is recorded and the editor stays hidden.
        QVERIFY(userinput::click(s.main->chkSave()));
        QVERIFY(s.open(s.site.url(u"/links.html"_qs)));
        QCOMPARE(s.editor().store().count(), 0);
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
              "/links.html click #script", "/redirect-302.html click #r302", "/redirect-302.html click #r307",
              "/redirect-302.html click #chain", "/redirect-302.html click #cross", "/meta-refresh.html auto",
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
        QVERIFY2(sameLoads(steps, s.served()),
                 qPrintable(u"steps:\n"_qs + describe(steps) + u"\nserved:\n"_qs + describe(s.served())));
    }

    // The way to the blank page, the program's own or a page's, is refused while
    // steps are recorded, the window staying on its page; BeforeNavigate2 comes
    // for it all the same.
    void blankPageFromThePage_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("recording");
        QTest::newRow("the program's, recording") << "" << true;
        QTest::newRow("the program's, not recording") << "" << false;
        QTest::newRow("link, recording") << "#link" << true;
        QTest::newRow("script, recording") << "#script" << true;
        QTest::newRow("link, not recording") << "#link" << false;
    }

    void blankPageFromThePage()
    {
        QFETCH(QString, how);
        QFETCH(bool, recording);
        Session s(*m_site);
        const QString page = s.site.url(u"/to-blank.html"_qs);
        QVERIFY(s.open(page));
        QCOMPARE(s.editor().store().count(), 1);
        if (!recording)
            QVERIFY(userinput::click(s.main->chkSave()));
        QSignalSpy before(s.main->brwWebBrowser(), &WebBrowser::BeforeNavigate2);
        if (how.isEmpty())
            s.main->brwWebBrowser()->Navigate(u"about:blank"_qs);
        else
            QVERIFY(click(s.main->brwWebBrowser(), how));
        QTRY_COMPARE(before.count(), 1);
        QCOMPARE(before.first().first().toString(), u"about:blank"_qs);
        if (recording) {
            QTest::qWait(300); // nothing may happen: nothing to wait for
            QCOMPARE(s.main->brwWebBrowser()->LocationURL(), page);
        } else {
            QTRY_COMPARE(s.main->brwWebBrowser()->LocationURL(), u"about:blank"_qs);
        }
        QCOMPARE(s.editor().store().count(), 1);
    }

    // Each navigation raises BeforeNavigate2, NavigateComplete2 and DocumentComplete
    // in that order, also when the address stays and for a frame's document; the
    // window is busy while a frame loads.
    void everyNavigationRaisesItsEvents_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("action"); // a selector to click, or "enter" on the address again
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("slowFrame");
        QTest::newRow("form posting to its own address")
            << u"/self-post.html"_qs << u"#go"_qs << u"/self-post.html"_qs << false;
        QTest::newRow("Enter on the current address")
            << u"/links.html"_qs << u"enter"_qs << u"/links.html"_qs << false;
        QTest::newRow("a frame's document")
            << u"/frame-later.html"_qs << u"#load"_qs << u"/echo/slow?delay=1500"_qs << true;
    }

    void everyNavigationRaisesItsEvents()
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
                events << u"before"_qs;
        });
        connect(browser, &WebBrowser::NavigateComplete2, this, [&] {
            if (events.contains(u"before"_qs) && !events.contains(u"committed"_qs))
                events << u"committed"_qs;
        });
        connect(browser, &WebBrowser::DocumentComplete, this, [&](const QString& url) {
            if (url == wanted)
                events << u"complete"_qs;
        });
        if (action == u"enter")
            QVERIFY(s.type(wanted));
        else
            QVERIFY(click(browser, action));
        if (slowFrame) {
            QTRY_VERIFY(browser->Busy());
            QTRY_COMPARE(s.main->windowTitle(), u"Working..."_qs);
        }
        QTRY_VERIFY_WITH_TIMEOUT(events.contains(u"complete"_qs), 15000);
        QCOMPARE(events, QStringList({"before", "committed", "complete"}));
        QTRY_VERIFY(!browser->Busy());
        // The status line's repaints are held back only for a moment.
        QTRY_VERIFY(s.main->findChild<QWidget*>(u"StatusContainer"_qs)->updatesEnabled());
    }

    // A step's label is its page's title, cut to 50 characters. A page visited
    // again is no new step: it labels the last step.
    void labelsFromTitles_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("length");
        QTest::newRow("long title") << "/long-title.html" << 50;
        QTest::newRow("non-ASCII title") << "/non-ascii-title.html" << -1;
    }

    void labelsFromTitles()
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
        QVERIFY(s.open(s.site.url(u"/no-title.html"_qs)));
        QCOMPARE(s.count(), 2);
        QVERIFY(s.open(s.site.url(page)));
        QCOMPARE(s.count(), 2);
        QTRY_COMPARE(s.editor().store().at(1).label, title.left(50));
        QCOMPARE(s.editor().store().at(0).label, title.left(50));
    }

    // A site's HTTP sign-in is asked in a box; the answer reaches the site and the
    // recorded step keeps it for the monitor. Cancelled, the site's refusal shows.
    void siteSignIn_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("title");
        QTest::newRow("answered") << true << u"Welcome"_qs;
        QTest::newRow("cancelled") << false << u"Unauthorized"_qs;
    }
    void siteSignIn()
    {
        QFETCH(bool, answer);
        QFETCH(QString, title);
        Session s(*m_site);
        m_site->clear();
        // The engine remembers an answer for the rest of the run: each row's site
        // asks for another user.
        const QString address =
            s.site.url((answer ? u"/auth?user=ann"_qs : u"/auth?user=cat"_qs) + u"&pass=s3cret%20pw"_qs);
        // The box runs its own event loop inside the engine's request: it is
        // answered from a timer, with keys, once it has the keyboard.
        bool answered = false;
        QTimer person;
        person.setInterval(10);
        connect(&person, &QTimer::timeout, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (answered || !box || box->objectName() != u"siteSignIn"_qs || !userinput::activate(box))
                return;
            answered = true;
            if (answer) {
                userinput::type(u"ann"_qs);
                userinput::key(Qt::Key_Tab);
                userinput::type(u"s3cret pw"_qs);
                userinput::key(Qt::Key_Return);
            } else {
                userinput::key(Qt::Key_Escape);
            }
        });
        person.start();
        QVERIFY(s.type(address));
        QTRY_VERIFY_WITH_TIMEOUT(answered, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(s.main->brwWebBrowser()->LocationName(), title, 15000);
        QVERIFY(s.waitIdle(s.main));
        QCOMPARE(s.count(), 1);
        const RecordedStep step = s.editor().store().at(0);
        QCOMPARE(step.url, address);
        QCOMPARE(step.httpuser, answer ? u"ann"_qs : QString());
        QCOMPARE(step.httppass, answer ? u"s3cret pw"_qs : QString());
        if (answer)
            QCOMPARE(m_site->requests().constLast().headers.value("authorization"),
                     "Basic " + QByteArray("ann:s3cret pw").toBase64());
    }

    // A site whose certificate is not trusted loads only when the user says so.
    void untrustedCertificate_data()
    {
        QTest::addColumn<bool>("goOn");
        QTest::newRow("cancelled") << false; // first: the engine remembers a yes for the run
        QTest::newRow("gone on") << true;
    }
    void untrustedCertificate()
    {
        QFETCH(bool, goOn);
        if (!m_tls)
            m_tls = std::make_unique<UntrustedSite>();
        UntrustedSite& tls = *m_tls;
        tls.requestLines.clear();
        Session s(*m_site);
        QString asked;
        QTimer person;
        person.setInterval(10);
        connect(&person, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!asked.isEmpty() || !box)
                return;
            asked = box->text();
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == (goOn ? u"Go on"_qs : u"Cancel"_qs))
                    userinput::click(button);
            }
        });
        person.start();
        QVERIFY(s.type(tls.url(u"/secure"_qs)));
        QTRY_VERIFY_WITH_TIMEOUT(!asked.isEmpty(), 15000);
        QVERIFY2(asked.startsWith(u"The certificate of 127.0.0.1 is not trusted"_qs), qPrintable(asked));
        QVERIFY(QTest::qWaitFor([&] { return !s.main->brwWebBrowser()->Busy(); }, 15000));
        if (goOn) {
            QTRY_COMPARE(s.main->brwWebBrowser()->LocationName(), u"Secure"_qs);
            QVERIFY(tls.requestLines.contains("GET /secure HTTP/1.1"));
        } else {
            QVERIFY(!tls.requestLines.contains("GET /secure HTTP/1.1"));
            QVERIFY(s.main->brwWebBrowser()->LocationName() != u"Secure"_qs);
        }
    }

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
        // Closing it leaves the rest.
        popup->close();
        QTRY_COMPARE(s.popups().size(), 0);
        QVERIFY(s.main->isVisible());
        QCOMPARE(s.editor().store().count(), 2);
        // Closing the main window ends the program: its popups and the editor go too.
        QVERIFY(click(s.main->brwWebBrowser(), u"#blank"_qs));
        QTRY_COMPARE(s.popups().size(), 1);
        s.editor().show();
        QPointer<frmBrowser> main = s.main;
        QPointer<frmBrowser> other = s.popups().first();
        main->close();
        QTRY_VERIFY(!main);
        QTRY_VERIFY(!other);
        QVERIFY(!s.editor().isVisible());
        QVERIFY(s.recorder->windows().isEmpty());
    }

    void scriptClosingWindows()
    {
        Session s(*m_site);
        // A popup that closes itself goes.
        QVERIFY(s.open(s.site.url(u"/popup-self-close.html"_qs)));
        QVERIFY(click(s.main->brwWebBrowser(), u"#open"_qs));
        QTRY_COMPARE(s.popups().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(s.popups().size(), 0, 15000);
        // The main window refuses. The engine itself lets a page close only a window
        // without history, which the main window never is: its request is simulated.
        MessageBoxCatcher boxes;
        QVERIFY(s.open(s.site.url(u"/main-close.html"_qs)));
        emit s.main->brwWebBrowser()->page()->windowCloseRequested();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 10000);
        QCOMPARE(boxes.last().title, u"Error"_qs);
        QCOMPARE(boxes.last().text, u"Error: Cannot close this window"_qs);
        QVERIFY(s.main->isVisible());
    }

    void rendererCrashIsReported()
    {
        Session s(*m_site);
        QVERIFY(s.open(s.site.url(u"/links.html"_qs)));
        QSignalSpy crashed(s.main->brwWebBrowser(), &WebBrowser::RendererCrashed);
        s.main->brwWebBrowser()->Navigate(u"chrome://crash"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(crashed.count(), 1, 15000);
        QTRY_VERIFY(s.main->StatusBar()->text().startsWith(QLatin1String("The page stopped working")));
        QCOMPARE(s.editor().store().count(), 1);
        // The user navigates on.
        QVERIFY(s.open(s.site.url(u"/no-title.html"_qs)));
        QCOMPARE(s.editor().store().count(), 2);
    }

private:
    std::unique_ptr<TestSite> m_site;
    std::unique_ptr<UntrustedSite> m_tls;
};

TALLYRO_BROWSER_TEST_MAIN(TestBrowser)
#include "tst_browser.moc"
