#include "BrowserDriver.h"
#include "BrowserTestMain.h"
#include "CodePage.h"
#include "Files.h"
#include "MessageBoxCatcher.h"
#include "ProgramFolder.h"
#include "Recorder.h"
#include "RecorderSession.h"
#include "RecoveryFile.h"
#include "RepaintThrottle.h"
#include "TransactionFile.h"

#include <QWebEngineHistory>
#include <QtWidgets>

using namespace browserdriver;
using Session = RecorderSession;

class TestCommands : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        m_site = std::make_unique<TestSite>();
        QVERIFY(m_site->isRunning());
    }

    // From a fresh start, keypad Enter in the address box requests the typed
    // address (Enter is every other test's way); choosing an earlier address from
    // the list requests it again. An address of more than the box's typing limit,
    // reached by a link, is shown (from its beginning), recorded and requested
    // again by Enter whole.
    void addressBoxAndBlankPopups()
    {
        Session s(*m_site);
        const QString first = s.site.url(u"/echo/first"_qs);
        const QString second = s.site.url(u"/long-link.html"_qs);
        const auto requestsOf = [&](const QString& address) {
            int n = 0;
            for (const LoggedRequest& r : m_site->navigations())
                n += s.site.url(QString::fromLatin1(r.target)) == address;
            return n;
        };
        m_site->clear();
        QVERIFY(s.type(first, Qt::Key_Enter));
        QTRY_COMPARE_WITH_TIMEOUT(requestsOf(first), 1, 15000);
        QTRY_COMPARE(s.main->brwWebBrowser()->LocationURL(), first);
        QCOMPARE(s.count(), 1);
        QVERIFY(s.open(second));
        QVERIFY(userinput::click(s.main->cboAddress()->lineEdit()));
        QVERIFY(userinput::key(Qt::Key_Down, Qt::AltModifier));
        QTRY_VERIFY(s.main->cboAddress()->view()->isVisible());
        QCOMPARE(s.main->cboAddress()->itemText(1), first); // most recent first
        QVERIFY(userinput::key(Qt::Key_Down));
        QVERIFY(userinput::key(Qt::Key_Return));
        QTRY_COMPARE_WITH_TIMEOUT(requestsOf(first), 2, 15000);
        QTRY_COMPARE(s.main->brwWebBrowser()->LocationURL(), first);

        // Text that makes no address is refused with a message; the page stays.
        MessageBoxCatcher boxes;
        QVERIFY(s.type(u"foo bar"_qs));
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, u"\"foo bar\" is not an address the browser can open."_qs);
        QCOMPARE(s.main->brwWebBrowser()->LocationURL(), first);
        QCOMPARE(s.count(), 2);

        QVERIFY(s.open(second));
        const QString address = s.site.url(u"/echo/long?x="_qs + QString(3000, u'A'));
        QVERIFY(click(s.main->brwWebBrowser(), u"#long"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(s.main->brwWebBrowser()->LocationURL(), address, 15000);
        QTRY_COMPARE(s.main->cboAddress()->currentText(), address);
        QTRY_COMPARE(s.count(), 3);
        QCOMPARE(s.editor().store().at(2).url, address);
        QCOMPARE(s.main->cboAddress()->lineEdit()->cursorPosition(), 0); // its beginning shows
        QVERIFY(userinput::click(s.main->cboAddress()->lineEdit()));
        QVERIFY(userinput::key(Qt::Key_Return));
        QTRY_COMPARE_WITH_TIMEOUT(requestsOf(address), 2, 15000);
        QCOMPARE(s.count(), 3); // the same address again is no new step

        // A page that writes into a blank window it opened used to bring the browser
        // engine down inside the program: the written content shows, the program
        // runs on. A write a second later may meet the window's reload and be lost
        // (seen once in twelve runs): the window and its page still answer.
        for (const char* page : {"/blank-popup-write.html?auto", "/blank-popup-innerhtml.html?auto",
                                 "/blank-popup-late-write.html?auto"}) {
            QVERIFY(s.open(s.site.url(QString::fromLatin1(page))));
            QTRY_COMPARE(s.popups().size(), 1);
            frmBrowser* popup = s.popups().first();
            QTRY_VERIFY_WITH_TIMEOUT(popup->brwWebBrowser()->isPageShown(), 10000);
            if (!QByteArray(page).contains("late")) {
                QTRY_VERIFY_WITH_TIMEOUT(
                    runJs(popup->brwWebBrowser(), u"!!document.getElementById('written')"_qs).toBool(),
                    10000);
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(
                    runJs(s.main->brwWebBrowser(), u"window.written === true"_qs).toBool(), 10000);
                QCOMPARE(runJs(popup->brwWebBrowser(), u"1 + 1"_qs).toInt(), 2);
            }
            QVERIFY(popup->isVisible());
            QVERIFY(s.main->isVisible());
            popup->close();
            QTRY_COMPARE(s.popups().size(), 0);
        }
    }

    // The picture buttons by the keyboard: Tab from the address box, past the
    // Recording box and the page, reaches the first, which then shows that it
    // has the keyboard; Enter presses it.
    void pictureButtonsByTheKeyboard()
    {
        Session s(*m_site);
        QVERIFY(s.open(s.site.url(u"/echo/first"_qs)));
        QTRY_VERIFY(s.editor().isVisible());
        s.editor().hide();
        QPushButton* steps = s.button("Label1");
        const QImage unfocused = steps->grab().toImage();
        QVERIFY(userinput::click(s.main->cboAddress()->lineEdit()));
        QVERIFY(userinput::tabTo(steps));
        QVERIFY(steps->grab().toImage() != unfocused);
        QVERIFY(userinput::key(Qt::Key_Return));
        QTRY_VERIFY(s.editor().isVisible());
        QVERIFY(s.main->chkSave()->isChecked());
    }

    // Repaints held while a page loads give way to a click or a key at once.
    void heldRepaintsGiveWayToInput()
    {
        QLineEdit edit;
        RepaintThrottle repaints({&edit}, 60000);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        repaints.aboutToChange(); // shown at once; a change within the interval after it is held
        for (const bool click : {true, false}) {
            repaints.aboutToChange();
            QVERIFY(!edit.updatesEnabled());
            QVERIFY(click ? userinput::click(&edit) : userinput::type(u"x"_qs));
            QVERIFY(edit.updatesEnabled());
        }
        QCOMPARE(edit.text(), u"x"_qs);
    }

    // A hold (the step editor's while a recorded page loads) keeps repaints back
    // even right after one, until it is released or its interval ends.
    void holdEndsByItself()
    {
        QLineEdit edit;
        RepaintThrottle repaints({&edit}, 300);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        repaints.hold();
        QVERIFY(!edit.updatesEnabled());
        repaints.release();
        QVERIFY(edit.updatesEnabled());
        repaints.hold();
        QVERIFY(!edit.updatesEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(edit.updatesEnabled(), 5000);
    }

    // Skip removes the last step, whichever step the editor shows, and does nothing
    // without steps. Step back never removes the only one (its removing a later
    // one is recordedPostSentAgain's).
    void removeTheLastStep()
    {
        Session s(*m_site);
        QVERIFY(userinput::click(s.button("lblSkip")));
        QCOMPARE(s.count(), 0);
        QVERIFY(s.record(1));
        s.editor().hide();
        const QString location = s.main->brwWebBrowser()->LocationURL();
        QVERIFY(userinput::click(s.button("lblStepBack")));
        QVERIFY(s.main->stepBackPending());
        QTest::qWait(500); // nothing is to happen
        QCOMPARE(s.main->brwWebBrowser()->LocationURL(), location);
        QCOMPARE(s.count(), 1);
        QVERIFY(s.record(5));
        QVERIFY(userinput::click(s.button("Label1")));
        auto* list = s.editor().findChild<QListWidget*>(u"recordedItems"_qs);
        QVERIFY(userinput::click(list->viewport(), list->visualItemRect(list->item(2)).center()));
        const QList<RecordedStep> before = s.editor().store().steps();
        QVERIFY(userinput::click(s.button("lblSkip")));
        QCOMPARE(s.editor().store().steps(), before.mid(0, 4));
    }

    // Step back from a page whose address a fragment link or the page's own
    // pushState changed (also while it loads) returns to the page before it,
    // not to the same page.
    void stepBackPastInPageEntries_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("controls");
        QTest::newRow("fragment link") << u"/in-page.html"_qs << u"#fragment"_qs;
        QTest::newRow("pushState") << u"/in-page.html"_qs << u"#push"_qs;
        QTest::newRow("both, twice") << u"/in-page.html"_qs << u"#fragment #push #fragment"_qs;
        QTest::newRow("pushState while loading") << u"/in-page.html?push"_qs << QString();
    }
    void stepBackPastInPageEntries()
    {
        QFETCH(QString, page);
        QFETCH(QString, controls);
        Session s(*m_site);
        QVERIFY(s.open(s.site.url(u"/echo/before"_qs)));
        QVERIFY(s.type(s.site.url(page)));
        QTRY_COMPARE(s.count(), 2);
        QVERIFY(s.waitIdle(s.main));
        const QList<RecordedStep> before = s.editor().store().steps();
        WebBrowser* browser = s.main->brwWebBrowser();
        for (const QString& each : controls.split(u' ', Qt::SkipEmptyParts)) {
            const QString was = browser->LocationURL();
            QVERIFY(click(browser, each));
            QTRY_VERIFY(browser->LocationURL() != was);
        }
        QTRY_VERIFY(browser->LocationURL() != s.site.url(page));
        QVERIFY(s.waitIdle(s.main));
        s.editor().hide();
        QVERIFY(userinput::click(s.button("lblStepBack")));
        QTRY_COMPARE_WITH_TIMEOUT(browser->LocationURL(), before.at(0).url, 15000);
        QTRY_VERIFY(!s.main->stepBackPending());
        QVERIFY(s.waitIdle(s.main));
        QCOMPARE(s.editor().store().steps(), before.mid(0, 1));
        QVERIFY(!s.editor().isVisible());
    }

    // A form posted into a new window: Reload there posts it again, as the
    // browser does, and records nothing new.
    void reloadPostInANewWindow()
    {
        Session s(*m_site);
        QVERIFY(s.open(s.site.url(u"/forms/target-blank.html"_qs)));
        m_site->clear();
        QVERIFY(click(s.main->brwWebBrowser(), u"#go"_qs));
        QTRY_COMPARE(s.popups().size(), 1);
        frmBrowser* popup = s.popups().first();
        QTRY_COMPARE_WITH_TIMEOUT(s.count(), 2, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 1, 15000);
        QVERIFY(s.waitIdle(popup));
        const QByteArray sent = m_site->navigations().first().body;
        const QList<RecordedStep> before = s.editor().store().steps();
        QCOMPARE(codepage::toAnsi(before.at(1).postdata), sent);
        s.editor().hide();

        QVERIFY(userinput::activate(popup));
        QVERIFY(pageMenu(popup->brwWebBrowser(), QWebEnginePage::Reload));
        QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 2, 15000);
        QCOMPARE(m_site->navigations().at(1).method, QByteArray("POST"));
        QCOMPARE(m_site->navigations().at(1).body, sent);
        QVERIFY(s.waitIdle(popup));
        QCOMPARE(s.editor().store().steps(), before);
    }

    // Back and Forward from the page's menu move a frame between the page a form
    // posted into it and the next one. The engine does not post again by itself
    // (the site's answers may not be stored: the frame shows its error page), and
    // nothing is recorded twice: no GET step of the posted page, also when Step
    // back returns to the page and the engine restores its frame.
    void framePostReturnedTo()
    {
        Session s(*m_site);
        QVERIFY(s.open(s.site.url(u"/forms/frame-post-back.html"_qs)));
        QTRY_COMPARE(s.count(), 2);
        QVERIFY(s.waitIdle(s.main));
        m_site->clear();
        WebBrowser* browser = s.main->brwWebBrowser();
        QVERIFY(click(browser, u"#inner >> #go"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 1, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(s.count(), 3, 15000);
        QVERIFY(s.waitIdle(s.main));
        const QByteArray sent = m_site->navigations().first().body;
        QVERIFY(click(browser, u"#next"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(s.count(), 4, 15000);
        QVERIFY(s.waitIdle(s.main));
        const QList<RecordedStep> before = s.editor().store().steps();
        QCOMPARE(codepage::toAnsi(before.at(2).postdata), sent);

        const auto framePath = [&] {
            return runJs(browser, u"document.getElementById('inner').contentWindow.location.pathname"_qs)
                .toString();
        };
        QVERIFY(pageMenu(browser, QWebEnginePage::Back, QPoint(600, 20)));
        QTRY_VERIFY_WITH_TIMEOUT(framePath() != u"/echo/frame-next"_qs, 15000);
        QVERIFY(s.waitIdle(s.main));
        QCOMPARE(s.editor().store().steps(), before);
        QVERIFY(pageMenu(browser, QWebEnginePage::Forward, QPoint(600, 20)));
        QTRY_COMPARE_WITH_TIMEOUT(framePath(), u"/echo/frame-next"_qs, 15000);
        QVERIFY(s.waitIdle(s.main));
        QCOMPARE(s.editor().store().steps(), before);
        QCOMPARE(m_site->navigations().size(), 3);
        QCOMPARE(m_site->navigations().at(2).target, QByteArray("/echo/frame-next"));

        // Step back onto the page restores its frame at the posted entry.
        QVERIFY(pageMenu(browser, QWebEnginePage::Back, QPoint(600, 20)));
        QTRY_VERIFY_WITH_TIMEOUT(framePath() != u"/echo/frame-next"_qs, 15000);
        QVERIFY(s.waitIdle(s.main));
        QVERIFY(s.open(s.site.url(u"/echo/after"_qs)));
        QTRY_COMPARE(s.count(), 5);
        s.editor().hide();
        QVERIFY(userinput::click(s.button("lblStepBack")));
        QTRY_VERIFY_WITH_TIMEOUT(browser->LocationURL().endsWith(u"/forms/frame-post-back.html"_qs), 15000);
        QTRY_VERIFY(!s.main->stepBackPending());
        QVERIFY(s.waitIdle(s.main));
        // Selecting the first step again wrote the editor's defaults into it.
        const auto withDefaults = [](QList<RecordedStep> steps) {
            for (RecordedStep& st : steps) {
                st.timeout = st.timeoutOrDefault();
                st.ping = st.pingOrDefault();
            }
            return steps;
        };
        QCOMPARE(withDefaults(s.editor().store().steps()), withDefaults(before));
    }

    // The duplicates switch of the Options menu is the editor's too, refused while
    // duplicates are recorded; the Help menu's entries open the service's pages.
    void menuSwitchAndServicePages()
    {
        Session s(*m_site);
        QAction* entry = s.main->findChild<QAction*>(u"mAllowDuplicates"_qs);
        // The menu entry and the editor's switch, which the store follows.
        QCheckBox* box = s.editor().cAllowDuplicates();
        const auto switches = [&] { return QList<bool>{entry->isChecked(), box->isChecked()}; };
        QVERIFY(s.choose("mAllowDuplicates"));
        QCOMPARE(switches(), QList<bool>({true, true}));
        for (const QString& path : {u"/echo/same"_qs, u"/echo/other"_qs, u"/echo/same"_qs})
            QVERIFY(s.open(s.site.url(path)));
        QTRY_COMPARE(s.count(), 3);
        MessageBoxCatcher boxes;
        QVERIFY(s.choose("mAllowDuplicates"));
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text,
                 u"You have already recorded duplicate URLs, please delete them first."_qs);
        QCOMPARE(switches(), QList<bool>({true, true}));
        QVERIFY(userinput::click(s.button("lblSkip")));
        QVERIFY(s.choose("mAllowDuplicates"));
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(switches(), QList<bool>({false, false}));

        QList<QUrl> opened;
        frmBrowser::setPageOpener([&](const QUrl& url) {
            opened << url;
            return false; // no browser: stays silent
        });
        QVERIFY(s.choose("mnuUpdates"));
        QVERIFY(userinput::key(Qt::Key_F1));
        QCOMPARE(opened.size(), 2);
        QVERIFY(opened.at(0).toString().endsWith(u"/recorderupdates.php?version="_qs +
                                                 frmBrowser::versionText()));
        QCOMPARE(opened.at(0).scheme(), u"http"_qs);
        QCOMPARE(opened.at(1).path(), u"/kb/windows_recorder.html"_qs);
        QCOMPARE(boxes.count(), 1);
    }

    // Step back, Reload and Play send a recorded post again. Its form is text/plain in
    // windows-1252, its bytes above 0x7F (a form-encoded body is the journey's).
    // Step back removes the last step and returns to the posted page as a
    // duplicate, so no GET step of it appears, also once the window's history
    // is full and the engine drops its oldest entries. Play asks the site for
    // every step, also for a page the browser may reuse; Stop leaves the rest
    // unrequested.
    void recordedPostSentAgain_data()
    {
        QTest::addColumn<int>("pagesBefore");
        QTest::newRow("fresh window") << 0;
        QTest::newRow("history full") << 60;
    }
    void recordedPostSentAgain()
    {
        QFETCH(int, pagesBefore);
        Session s(*m_site);
        if (pagesBefore) {
            QVERIFY(s.browseUnrecorded(pagesBefore, true));
            // The engine dropped the oldest entries.
            QVERIFY(s.main->brwWebBrowser()->page()->history()->count() < pagesBefore);
        }
        // A page the browser may keep: the replay asks the site for it all the same.
        QVERIFY(s.open(s.site.url(u"/forms/cs-text-plain-1252.htm?maxage=600"_qs)));
        m_site->clear();
        QVERIFY(click(s.main->brwWebBrowser(), u"#go"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(s.count(), 2, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 1, 15000);
        const QByteArray sent = m_site->navigations().first().body;
        QVERIFY(s.waitIdle(s.main));
        QVERIFY(s.open(s.site.url(u"/echo/after"_qs)));
        QTRY_COMPARE(s.count(), 3);
        const QList<RecordedStep> before = s.editor().store().steps();
        QVERIFY(!before.at(1).postdata.isEmpty());
        s.editor().hide();
        QVERIFY(userinput::click(s.button("lblStepBack")));
        QTRY_COMPARE_WITH_TIMEOUT(s.main->brwWebBrowser()->LocationURL(), before.at(1).url, 15000);
        QTRY_VERIFY(!s.main->stepBackPending());
        QVERIFY(s.waitIdle(s.main));
        QCOMPARE(s.editor().store().steps(), before.mid(0, 2));
        QVERIFY(!s.editor().isVisible());
        // Reload from the page's menu posts it again, as the browser does.
        m_site->clear();
        QVERIFY(pageMenu(s.main->brwWebBrowser(), QWebEnginePage::Reload));
        QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 1, 15000);
        QCOMPARE(m_site->navigations().first().body, sent);
        QVERIFY(s.waitIdle(s.main));
        QCOMPARE(s.editor().store().steps(), before.mid(0, 2));

        QVERIFY(s.open(s.site.url(u"/echo/third"_qs)));
        QVERIFY(s.open(s.site.url(u"/echo/fourth"_qs)));
        QTRY_COMPARE(s.count(), 4);
        s.editor().playback().setInterval(400);
        m_site->clear();
        QVERIFY(userinput::click(s.button("Label2")));
        QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 2, 10000);
        QVERIFY(userinput::click(s.button("Command1")));
        QCOMPARE(m_site->navigations().at(0).target, QByteArray("/forms/cs-text-plain-1252.htm?maxage=600"));
        QCOMPARE(m_site->navigations().at(1).method, QByteArray("POST"));
        QCOMPARE(m_site->navigations().at(1).body, sent);
        // The page the last request opened may still be loading; its end shows the status.
        QTRY_COMPARE(s.main->StatusBar()->text(), u"Done."_qs);
        QVERIFY(s.button("Label2")->isVisible() && !s.button("Command1")->isVisible());
        QTest::qWait(1500); // three more ticks would have passed
        QCOMPARE(m_site->navigations().size(), 2);
        QVERIFY(!s.main->chkSave()->isChecked());
    }

    void withoutStepsAndSaveAs()
    {
        Session s(*m_site);
        MessageBoxCatcher boxes;
        QVERIFY(userinput::click(s.button("Label2")));
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, u"No steps were recorded - nothing to play"_qs);
        QVERIFY(s.button("Label2")->isVisible() && s.main->chkSave()->isChecked());
        QVERIFY(s.press(Qt::Key_S, Qt::ControlModifier));
        QTRY_COMPARE(boxes.count(), 2);
        QCOMPARE(boxes.last().text, u"You haven't recorded any steps"_qs);
        QVERIFY(s.record(1));
        frmBrowser::setNextFileName(u"*.xml"_qs); // cancelled: nothing written, nothing said
        QVERIFY(s.press(Qt::Key_S, Qt::ControlModifier));
        QCOMPARE(boxes.count(), 2);
        // A folder that does not exist: the reason is told and nothing claims success.
        frmBrowser::setNextFileName(m_data.filePath(u"missing/folder/x.xml"_qs));
        QVERIFY(s.press(Qt::Key_S, Qt::ControlModifier));
        QTRY_COMPARE(boxes.count(), 3);
        QVERIFY(boxes.last().text.contains(QLatin1String("x.xml")));
        frmBrowser::setNextFileName(defaultTransactionFile()); // written silently
        QVERIFY(s.press(Qt::Key_S, Qt::ControlModifier));
        QCOMPARE(boxes.count(), 3);
        QVERIFY(QFile::exists(defaultTransactionFile()));
        // Typed into the editor, not yet committed: in what Save as and Export HAR write.
        QVERIFY(userinput::click(s.button("Label1")));
        QTRY_VERIFY(s.editor().isVisible());
        auto* list = s.editor().findChild<QListWidget*>(u"recordedItems"_qs);
        QVERIFY(userinput::click(list->viewport(), list->visualItemRect(list->item(0)).center()));
        for (const char* action : {"mSave", "mExportHar"}) {
            QVERIFY(userinput::click(s.editor().findChild<QLineEdit*>(u"txtKeywords"_qs)));
            QVERIFY(userinput::type(QString::fromLatin1(action)));
            const QString file = m_data.filePath(QString::fromLatin1(action) + u".out"_qs);
            frmBrowser::setNextFileName(file);
            QVERIFY(s.choose(action));
            QTRY_VERIFY(QFile::exists(file));
            QVERIFY(readFile(file).contains(action));
        }
        QTRY_COMPARE(boxes.count(), 4); // "File saved successfully"
        // Opening a missing file says so (the words are the file test's), then shows the editor.
        frmBrowser::setNextFileName(m_data.filePath(u"nothing.xml"_qs));
        QVERIFY(s.choose("mOpen"));
        QTRY_COMPARE(boxes.count(), 5);
        QCOMPARE(s.count(), 1);
        QVERIFY(s.editor().isVisible());
        // A recovery copy that cannot be written (a folder in its place) is told once,
        // not at every recorded step; once a write succeeds again, the next failure is.
        const auto notices = [] {
            QWidgetList shown = QApplication::topLevelWidgets();
            shown.removeIf(
                [](QWidget* w) { return w->objectName() != u"recoveryWriteFailure" || !w->isVisible(); });
            return shown;
        };
        const auto block = [] { return QFile::remove(recoveryFile()) && QDir().mkdir(recoveryFile()); };
        QCOMPARE(notices().size(), 0);
        QVERIFY(block());
        QVERIFY(s.open(s.site.url(u"/echo/full1"_qs)));
        QTRY_COMPARE(notices().size(), 1);
        QVERIFY(s.open(s.site.url(u"/echo/full2"_qs)));
        QTest::qWait(200);
        QCOMPARE(notices().size(), 1);
        QCOMPARE(s.count(), 3); // recording goes on
        for (QWidget* notice : notices())
            notice->close();
        QVERIFY(QDir().rmdir(recoveryFile()));
        QVERIFY(s.open(s.site.url(u"/echo/room"_qs)));
        // The step's second write (its label) is in too before the copy is blocked again.
        QTRY_COMPARE(loadRecovery(recoveryFile()).value_or(RecoveryRead{}).steps.value(3).label,
                     u"Echo /echo/room"_qs);
        QVERIFY(block());
        QVERIFY(s.open(s.site.url(u"/echo/full3"_qs)));
        QTRY_COMPARE(notices().size(), 1);
        QVERIFY(QDir().rmdir(recoveryFile()));
        // Reset clears the steps, turns Recording on again and takes the window to
        // the blank page (from a popup's menu: tst_browser's popupWindows).
        // The editor beside the window shows the emptied list at once, not at its
        // next expose (what the screen shows of the list is what the list holds).
        const auto shownAsHeld = [](QWidget* w) {
            const QPoint at = w->mapToGlobal(QPoint(0, 0));
            const QImage shown =
                w->screen()->grabWindow(0, at.x(), at.y(), w->width(), w->height()).toImage();
            return shown.convertToFormat(QImage::Format_RGB32) ==
                   w->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };
        QVERIFY(s.editor().isVisible());
        QTRY_VERIFY(shownAsHeld(list->viewport()));
        QVERIFY(userinput::click(s.main->chkSave()));
        QVERIFY(!s.main->chkSave()->isChecked());
        QVERIFY(userinput::click(s.button("lblRestart")));
        QCOMPARE(s.count(), 0);
        QCOMPARE(list->count(), 0);
        QTRY_VERIFY(shownAsHeld(list->viewport()));
        QVERIFY(s.main->chkSave()->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(s.main->brwWebBrowser()->LocationURL(), u"about:blank"_qs, 15000);
        QCOMPARE(s.count(), 0);
    }

private:
    QTemporaryDir m_data;
    std::unique_ptr<TestSite> m_site;
};

TALLYRO_BROWSER_TEST_MAIN(TestCommands)
#include "tst_commands.moc"
