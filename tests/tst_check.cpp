#include "BrowserDriver.h"
#include "BrowserTestMain.h"
#include "CodePage.h"
#include "Files.h"
#include "HarFile.h"
#include "MessageBoxCatcher.h"
#include "RecorderSession.h"
#include "StepCheck.h"
#include "TransactionFile.h"
#include "frmCheck.h"

#include <QTcpServer>
#include <QWebEnginePage>
#include <QtWidgets>

#include <csignal>

// Steps are spelled with designated initializers naming only the fields they set.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// The check window's grid: a step's result and what failed.
constexpr int ResultColumn = 5, FailedColumn = 6;

QString statusText(frmCheck* check)
{
    return check->findChild<QLabel*>(u"lblCheckStatus"_qs)->text();
}

QList<QWidget*> visibleWindows()
{
    QList<QWidget*> list;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->isWindow() && !qobject_cast<QMenu*>(w))
            list.append(w);
    return list;
}

// Opens steps as a transaction file, through the File menu.
bool openSteps(RecorderSession& s, const QList<RecordedStep>& steps, const QString& path)
{
    frmBrowser::setNextFileName(path);
    return writeFile(path, transactionFileBytes(steps, {})) && s.choose("mOpen") &&
           QTest::qWaitFor([&] { return s.count() == steps.size(); }, 5000);
}

// Presses the check's shortcut in the main window; the check window that opens.
frmCheck* startCheck(RecorderSession& s)
{
    const auto shown = [&] { return s.recorder->checkWindow() && s.recorder->checkWindow()->isVisible(); };
    return s.press(Qt::Key_K, Qt::ControlModifier) && QTest::qWaitFor(shown, 5000) ? s.recorder->checkWindow()
                                                                                   : nullptr;
}

// A port on which nothing answers.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

// Selects the word under an element by a double click, opens the page's context
// menu on it and picks an entry by a click.
bool pickFromContextMenu(WebBrowser* browser, const QString& id, const char* entry)
{
    QWidget* input = browser->view()->focusProxy();
    const QPoint at = browserdriver::centre(browser, u'#' + id);
    if (!input || at.isNull())
        return false;
    userinput::doubleClick(input, at);
    if (!QTest::qWaitFor([&] { return browser->page()->hasSelection(); }, 5000))
        return false;
    userinput::click(input, at, Qt::RightButton);
    QMenu* menu = nullptr;
    const auto shown = [&] {
        return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) && menu->isVisible();
    };
    QAction* action =
        QTest::qWaitFor(shown, 5000) ? menu->findChild<QAction*>(QString::fromLatin1(entry)) : nullptr;
    if (action)
        QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, menu->actionGeometry(action).center());
    return action != nullptr;
}

} // namespace

class TestCheck : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_site = std::make_unique<TestSite>();
        QVERIFY(m_site->isRunning());
    }

    void keywordRules_data()
    {
        QTest::addColumn<QString>("keywords");
        QTest::addColumn<QString>("errors");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("failures");

        const QString none;
        QTest::newRow("phrases trimmed, any case")
            << u" order  placed ,TOTAL"_qs << none << u"Your ORDER placed.\nTotal: 3"_qs << QStringList();
        QTest::newRow("blanks fold across lines")
            << u"order placed"_qs << none << u"order\n  placed"_qs << QStringList();
        QTest::newRow("one missing") << u"order,refund"_qs << none << u"order"_qs
                                     << QStringList{u"Keyword not found: \"refund\""_qs};
        QTest::newRow("error found") << none << u"out of stock, , error"_qs << u"Error: Out of Stock"_qs
                                     << QStringList{u"Error keyword found: \"out of stock\""_qs,
                                                    u"Error keyword found: \"error\""_qs};
        QTest::newRow("empty fields pass") << none << none << none << QStringList();
    }

    void keywordRules()
    {
        QFETCH(QString, keywords);
        QFETCH(QString, errors);
        QFETCH(QString, text);
        QFETCH(QStringList, failures);
        RecordedStep step{.url = u"http://a/"_qs, .keywords = keywords, .errors = errors};
        stepcheck::Load load{.succeeded = true, .ms = 10, .text = text};
        QCOMPARE(stepcheck::judge(1, step, load).failures, failures);

        // A phrase picked from a page joins the field once, blanks folded.
        QCOMPARE(stepcheck::withPhrase(keywords, u" new\n phrase "_qs),
                 keywords.trimmed().isEmpty() ? u"new phrase"_qs : keywords + u", new phrase"_qs);
        if (!stepcheck::phrases(keywords).isEmpty())
            QCOMPARE(stepcheck::withPhrase(keywords, stepcheck::phrases(keywords).first().toUpper()),
                     keywords);
    }

    // A transaction of every kind of step gets the verdict each deserves (the
    // keyword rules are keywordRules'), each page requested once with the
    // recorded bytes, and the store stays as it was. File >
    // Export HAR then writes the steps with what the check found; File > Open HAR
    // reads them back to the same transaction.
    void verdictsPerStep()
    {
        struct Row
        {
            RecordedStep step;
            QString seen; // a pattern of the grid's result and what failed, after a blank
        };
        const QString passed = u"^Passed $"_qs;
        const QString dead = u"http://127.0.0.1:%1/gone"_qs.arg(closedPort());
        const QList<Row> rows = {
            {{.url = m_site->url(u"/echo/home"_qs), .keywords = u"/ECHO/home"_qs, .label = u"First"_qs},
             passed},
            {{.url = m_site->url(u"/order"_qs),
              .postdata = u"item=caf%E9+\xe9t\xe9&qty=2"_qs,
              .keywords = u"/order, application/x-www-form-urlencoded"_qs,
              .ping = u"Y"_qs},
             passed},
            {{.url = m_site->url(u"/auth?user=ann&pass=s3cret"_qs),
              .keywords = u"welcome, ann"_qs,
              .httpuser = u"ann"_qs,
              .httppass = u"s3cret"_qs},
             passed},
            {{.url = m_site->url(u"/auth?user=bob&pass=right"_qs),
              .httpuser = u"bob"_qs,
              .httppass = u"wrong"_qs},
             u"^Failed HTTP status 401$"_qs},
            {{.url = m_site->url(u"/echo/cart"_qs), .keywords = u"/echo/cart, Thank you"_qs},
             u"^Failed Keyword not found: \"Thank you\"$"_qs},
            {{.url = m_site->url(u"/echo/slow?delay=4000"_qs), .timeout = u"1"_qs},
             u"^Failed Not loaded within the timeout of 1 s$"_qs},
            {{.url = dead}, u"^Failed Load failed: "_qs},
            // Last, with settings: opening the HAR must keep the last step's own.
            {{.url = m_site->url(u"/check/popup.html"_qs), .keywords = u"offers"_qs}, passed},
        };
        QList<RecordedStep> steps;
        for (const Row& r : rows)
            steps.append(r.step);

        const QString har = m_dir.filePath(u"t.har"_qs);
        QByteArray saved;
        {
            RecorderSession s(*m_site);
            QVERIFY(openSteps(s, steps, m_dir.filePath(u"all.xml"_qs)));
            const QList<RecordedStep> stored = s.editor().store().steps();
            m_site->clear();
            const QList<QWidget*> before = visibleWindows();

            QPointer<frmCheck> check = startCheck(s);
            QVERIFY(check);
            QTRY_VERIFY_WITH_TIMEOUT(!check->run().isRunning(), 60000);
            auto* table = check->findChild<QTableWidget*>(u"grdCheck"_qs);
            for (int i = 0; i < rows.size(); ++i) {
                const QString seen =
                    table->item(i, ResultColumn)->text() + u' ' + table->item(i, FailedColumn)->text();
                QVERIFY2(QRegularExpression(rows[i].seen).match(seen).hasMatch(), qPrintable(seen));
            }
            QCOMPARE(statusText(check), u"4 of 8 steps passed"_qs);
            QCOMPARE(s.editor().store().steps(), stored);
            QVERIFY(s.popups().isEmpty()); // the page's popup was refused
            for (QWidget* w : visibleWindows())
                QVERIFY2(before.contains(w) || w == check || w == &s.editor(), w->metaObject()->className());

            // Each step once, as recorded (the popup's page never requested).
            QStringList targets;
            for (const LoggedRequest& r : m_site->navigations()) {
                targets.append(QString::fromLatin1(r.method + ' ' + r.target));
                // Its content type is the step's keyword, from the site's answer.
                if (r.method == "POST")
                    QCOMPARE(r.body, codepage::toAnsi(rows[1].step.postdata));
            }
            targets.removeAll(u"GET /auth?user=ann&pass=s3cret"_qs); // the first try asks for the password
            targets.removeAll(u"GET /auth?user=bob&pass=right"_qs);
            QCOMPARE(targets, (QStringList{u"GET /echo/home"_qs, u"POST /order"_qs, u"GET /echo/cart"_qs,
                                           u"GET /echo/slow?delay=4000"_qs, u"GET /check/popup.html"_qs}));

            // A row shows its step in the step editor.
            userinput::click(table->viewport(), table->visualItemRect(table->item(4, 3)).center());
            QTRY_VERIFY(s.editor().isVisible());
            QTRY_COMPARE(s.editor().selectedLine(), 4);

            // The saved report is a page a browser shows with one row per step.
            const QString report = m_dir.filePath(u"report"_qs);
            frmBrowser::setNextFileName(report);
            userinput::click(check->findChild<QPushButton*>(u"cmdSaveReport"_qs));
            QTRY_VERIFY(QFile::exists(report + u".html"_qs));
            const QString chromium = QStandardPaths::findExecutable(u"chromium"_qs);
            QVERIFY2(!chromium.isEmpty(), "chromium is installed by scripts/install-deps.sh");
            QProcess browser;
            browser.start(chromium, {u"--headless"_qs, u"--no-sandbox"_qs, u"--disable-gpu"_qs,
                                     u"--user-data-dir="_qs + m_dir.filePath("chr"), u"--dump-dom"_qs,
                                     QUrl::fromLocalFile(report + u".html"_qs).toString()});
            QVERIFY(browser.waitForFinished(60000));
            const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
            QCOMPARE(dom.count(u"<tr class=\"passed\">"_qs), 4);
            QCOMPARE(dom.count(u"<tr class=\"failed\">"_qs), 4);
            QVERIFY(dom.contains(u"Keyword not found: \"Thank you\""_qs));
            QVERIFY(dom.contains(u"4 of 8 steps passed"_qs));

            frmBrowser::setNextFileName(har);
            QVERIFY(s.choose("mExportHar"));
            QTRY_VERIFY(QFile::exists(har));
            saved = transactionFileBytes(s.editor().store().steps(), {});
            check->close();
        }
        const QJsonArray entries = QJsonDocument::fromJson(readFile(har))["log"]["entries"].toArray();
        QCOMPARE(entries.size(), 8);
        QVERIFY(entries[0]["time"].toDouble() >= 0); // loaded in the check
        QCOMPARE(entries[3]["response"]["status"].toInt(), 401);

        RecorderSession t(*m_site);
        frmBrowser::setNextFileName(har);
        MessageBoxCatcher boxes;
        QVERIFY(t.choose("mOpenHar"));
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, u"8 steps added."_qs);
        QCOMPARE(transactionFileBytes(t.editor().store().steps(), {}), saved);
    }

    // Stop mid-run and a renderer that dies both end the run with a report; closing
    // the report leaves no window behind.
    void stopAndCrashEndWithAReport()
    {
        RecorderSession s(*m_site);
        QVERIFY(openSteps(s,
                          {{.url = m_site->url(u"/echo/slow?delay=5000"_qs)},
                           {.url = m_site->url(u"/echo/after"_qs)},
                           {.url = m_site->url(u"/echo/slow?delay=5000&again"_qs)},
                           {.url = m_site->url(u"/echo/never"_qs)}},
                          m_dir.filePath(u"stop.xml"_qs)));
        m_site->clear();
        const QList<QWidget*> before = visibleWindows();
        QPointer<frmCheck> check = startCheck(s);
        QVERIFY(check);

        // The first page's renderer is killed while the page loads.
        QTRY_VERIFY(check->run().page()->renderProcessPid() > 0);
        QTRY_VERIFY(m_site->requests().size() >= 1);
        ::kill(pid_t(check->run().page()->renderProcessPid()), SIGKILL);
        // Stop while the third step loads.
        QTRY_COMPARE_WITH_TIMEOUT(statusText(check), u"Checking step 3 of 4..."_qs, 20000);
        userinput::click(check->findChild<QPushButton*>(u"cmdCheckStop"_qs));
        QTRY_VERIFY(!check->run().isRunning());

        auto* table = check->findChild<QTableWidget*>(u"grdCheck"_qs);
        QCOMPARE(table->item(0, ResultColumn)->text(), u"Failed"_qs);
        QCOMPARE(table->item(0, FailedColumn)->text(), u"The page's renderer ended"_qs);
        QCOMPARE(table->item(1, ResultColumn)->text(), u"Passed"_qs);
        QCOMPARE(table->item(2, ResultColumn)->text(), u"Not run"_qs);
        QCOMPARE(table->item(3, FailedColumn)->text(), u"Not run: the check was stopped"_qs);
        QCOMPARE(statusText(check), u"1 of 4 steps passed"_qs);
        QCOMPARE(s.count(), 4);

        userinput::click(check->findChild<QPushButton*>(u"cmdCheckClose"_qs));
        QTRY_VERIFY(!check);
        for (QWidget* w : visibleWindows())
            QVERIFY2(before.contains(w) || w == &s.editor(), w->metaObject()->className());
    }

    // An answer that is a file to download, or no page at all (204), ends its
    // step at once, not at its timeout: the file is not saved and counts as
    // loaded but unread; no page is a failure that says so.
    void answersWithoutAPage()
    {
        RecorderSession s(*m_site);
        QVERIFY(openSteps(s,
                          {{.url = m_site->url(u"/download?name=report.bin"_qs)},
                           {.url = m_site->url(u"/download?name=list.csv"_qs), .keywords = u"total"_qs},
                           {.url = m_site->url(u"/nocontent"_qs)},
                           {.url = m_site->url(u"/echo/after"_qs), .keywords = u"/echo/after"_qs}},
                          m_dir.filePath(u"files.xml"_qs)));
        QPointer<frmCheck> check = startCheck(s);
        QVERIFY(check);
        QTRY_VERIFY_WITH_TIMEOUT(!check->run().isRunning(), 60000);
        auto* table = check->findChild<QTableWidget*>(u"grdCheck"_qs);
        QStringList seen;
        for (int i = 0; i < table->rowCount(); ++i)
            seen << table->item(i, ResultColumn)->text() + u' ' + table->item(i, FailedColumn)->text();
        QCOMPARE(seen,
                 (QStringList{u"Passed "_qs,
                              u"Failed Keywords not looked for: the answer is a file to download (list.csv), "
                              "not a page"_qs,
                              u"Failed Load failed: the answer had no page (such as 204 No Content), or the "
                              "load was stopped"_qs,
                              u"Passed "_qs}));
        QCOMPARE(statusText(check), u"2 of 4 steps passed"_qs);
        check->close();
    }

    // Every step is asked of the site, as the service asks: a page the site lets
    // the browser keep, opened again after a post, is not taken from the copy
    // the first step left. Enter on the focused Close closes the window.
    void eachStepAskedOfTheSite()
    {
        RecorderSession s(*m_site);
        QVERIFY(s.choose("mAllowDuplicates"));
        const QString page = m_site->url(u"/echo/account?maxage=600"_qs);
        QVERIFY(openSteps(s,
                          {{.url = page},
                           {.url = m_site->url(u"/echo/signin"_qs), .postdata = u"user=ann"_qs},
                           {.url = page, .keywords = u"/echo/account"_qs}},
                          m_dir.filePath(u"again.xml"_qs)));
        m_site->clear();
        QPointer<frmCheck> check = startCheck(s);
        QVERIFY(check);
        QTRY_VERIFY_WITH_TIMEOUT(!check->run().isRunning(), 60000);
        QStringList asked;
        for (const LoggedRequest& r : m_site->navigations())
            asked << QString::fromLatin1(r.method + ' ' + r.target);
        QCOMPARE(asked, (QStringList{u"GET /echo/account?maxage=600"_qs, u"POST /echo/signin"_qs,
                                     u"GET /echo/account?maxage=600"_qs}));
        QCOMPARE(statusText(check), u"3 of 3 steps passed"_qs);
        // Tab to Close; Enter presses it.
        auto* table = check->findChild<QTableWidget*>(u"grdCheck"_qs);
        QVERIFY(userinput::click(table->viewport(), table->visualItemRect(table->item(0, 0)).center()));
        QVERIFY(userinput::tabTo(check->findChild<QPushButton*>(u"cmdCheckClose"_qs)));
        QVERIFY(userinput::key(Qt::Key_Return));
        QTRY_VERIFY(!check);
    }

    // A HAR Chromium records of a flow on the local site opens as the steps the
    // recorder records of the same flow. Then text selected in the recording
    // browser becomes a check of the step its page belongs to, within the field's
    // limit.
    void chromiumHarImportsAsRecordedAndChecksPicked()
    {
        QList<RecordedStep> recorded;
        {
            RecorderSession s(*m_site);
            WebBrowser* browser = s.main->brwWebBrowser();
            const auto fill = [&](const QString& selector, const QString& text) {
                return browserdriver::click(browser, selector) && userinput::type(text);
            };
            const auto submitTo = [&](const QString& path) {
                return browserdriver::click(browser, u"#go"_qs) &&
                       QTest::qWaitFor([&] { return browser->LocationURL() == m_site->url(path); }, 15000) &&
                       s.waitIdle(s.main);
            };
            QVERIFY(s.open(m_site->url(u"/harflow/index.html"_qs)));
            QVERIFY(fill(u"#user"_qs, u"anna@example.test"_qs));
            QVERIFY(fill(u"#pass"_qs, u"s3same & co"_qs));
            QVERIFY(submitTo(u"/harflow/login"_qs));
            QVERIFY(s.open(m_site->url(u"/harflow/notes.html"_qs)));
            QVERIFY(fill(u"#subject"_qs, u"Cafe"_qs));
            QVERIFY(fill(u"#body"_qs, u"two words"_qs));
            QVERIFY(submitTo(u"/harflow/notes"_qs));
            recorded = s.editor().store().steps();

            QVERIFY(s.open(m_site->url(u"/echo/first"_qs)));
            QVERIFY(s.open(m_site->url(u"/check/text.html"_qs)));
            QVERIFY(s.open(m_site->url(u"/echo/last"_qs)));
            // Back on the page of the seventh step: a duplicate, not recorded again.
            QVERIFY(s.open(m_site->url(u"/check/text.html"_qs)));
            QCOMPARE(s.count(), 8);
            QVERIFY(pickFromContextMenu(browser, u"good"_qs, "mAlertNotFound"));
            QTRY_COMPARE(s.editor().store().at(6).keywords, u"confirmed"_qs);
            QVERIFY(pickFromContextMenu(browser, u"bad"_qs, "mAlertFound"));
            QTRY_COMPARE(s.editor().store().at(6).errors, u"backorder"_qs);
            QVERIFY(s.editor().isVisible());
            QCOMPARE(s.editor().selectedLine(), 6);
            QCOMPARE(s.editor().findChild<QLineEdit*>(u"txtErrors"_qs)->text(), u"backorder"_qs);
            // A field that would grow past its 250 characters stays as it was.
            auto* keywords = s.editor().findChild<QLineEdit*>(u"txtKeywords"_qs);
            userinput::click(keywords);
            userinput::key(Qt::Key_End);
            userinput::type(u", "_qs + QString(235, u'x'));
            const QString full = keywords->text();
            MessageBoxCatcher boxes;
            QVERIFY(pickFromContextMenu(browser, u"good"_qs, "mAlertFound"));
            QVERIFY(pickFromContextMenu(browser, u"bad"_qs, "mAlertNotFound"));
            QTRY_COMPARE(boxes.count(), 1);
            QVERIFY(boxes.last().text.contains(u"limit of 250"_qs));
            QCOMPARE(s.editor().store().at(6).keywords, full);
            QCOMPARE(s.editor().store().at(6).errors, u"backorder, confirmed"_qs);
        }
        QCOMPARE(recorded.size(), 5); // the page, its frame, the sign-in post, the notes page, its post

        const QString har = m_dir.filePath(u"chromium.har"_qs);
        QProcess node;
        node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        node.start(u"node"_qs,
                   {QStringLiteral(TALLYRO_TEST_DATA_DIR "/../../tools/har-schema/record-flow.js"),
                    m_site->url(QString()), har});
        QVERIFY(node.waitForFinished(120000));
        QCOMPARE(node.exitCode(), 0);
        StepStore imported;
        QVERIFY(importHarFile(har, imported).read);
        const auto requests = [](const QList<RecordedStep>& steps) {
            QStringList list;
            for (const RecordedStep& step : steps)
                list.append(step.url + u' ' + step.postdata);
            return list;
        };
        QCOMPARE(requests(imported.steps()), requests(recorded));
    }

    void oneTimeValuesFlagged_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("frame");      // the form's frame; none for the top document
        QTest::addColumn<QStringList>("typing"); // "id=text": what a person types into a field
        QTest::addColumn<QStringList>("flagged");

        const QString top;
        QTest::newRow("hidden field")
            << "/onetime/hidden.html" << top << QStringList{"name=Ann"} << QStringList{"csrf_token"};
        QTest::newRow("meta tag, copied by script")
            << "/onetime/meta.html" << top << QStringList{"text=hello"} << QStringList{"form_key"};
        QTest::newRow("added by script")
            << "/onetime/script.html" << top << QStringList() << QStringList{"sig"};
        QTest::newRow("token in a link")
            << "/onetime/link.html" << top << QStringList() << QStringList{"sid"};
        QTest::newRow("typed password, chosen product code")
            << "/onetime/lookalike.html" << top << QStringList{"user=ann", "pass=Summer2024ab"}
            << QStringList();
        QTest::newRow("the same in a frame") << "/onetime/lookalike-frame.html" << u"iframe >> "_qs
                                             << QStringList{"user=ann", "pass=Summer2024ab"} << QStringList();
    }

    // Recording flags the values the site gave for one use, and only those; the
    // step editor notes them and Upload warns of them first.
    void oneTimeValuesFlagged()
    {
        QFETCH(QString, page);
        QFETCH(QString, frame);
        QFETCH(QStringList, typing);
        QFETCH(QStringList, flagged);
        RecorderSession s(*m_site);
        QVERIFY(s.open(m_site->url(page)));
        WebBrowser* browser = s.main->brwWebBrowser();
        for (const QString& field : typing) {
            QVERIFY(browserdriver::click(browser, frame + u'#' + field.section(u'=', 0, 0)));
            QVERIFY(userinput::type(field.section(u'=', 1)));
        }
        QVERIFY(browserdriver::click(browser, frame + u"#go"_qs));
        // The page, its frame's document if any, the form's or link's step.
        const int sent = frame.isEmpty() ? 1 : 2;
        QTRY_COMPARE(s.count(), sent + 1);
        QVERIFY(s.waitIdle(s.main));
        const RecordedStep step = s.editor().store().at(sent);
        QCOMPARE(step.oneTime.value_or(QStringList{u"(not judged)"_qs}), flagged);

        auto* note = s.editor().findChild<QLabel*>(u"lblOneTime"_qs);
        QTRY_COMPARE(s.editor().selectedLine(), sent);
        QCOMPARE(note->isVisibleTo(&s.editor()), !flagged.isEmpty());
        if (flagged.isEmpty())
            return;
        QCOMPARE(note->text(), u"One-time values: "_qs + flagged.join(u", "_qs));

        // Upload asks first; the box is not answered with Go on, so nothing else opens.
        MessageBoxCatcher boxes;
        QVERIFY(s.press(Qt::Key_U, Qt::ControlModifier));
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.last().text.contains(u"Step %1 ("_qs.arg(sent + 1) + step.label + u"): "_qs +
                                            flagged.join(u", "_qs)),
                 qPrintable(boxes.last().text));
        QTest::qWait(200);
        QCOMPARE(boxes.count(), 1);
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestSite> m_site;
};

TALLYRO_BROWSER_TEST_MAIN(TestCheck)
#include "tst_check.moc"
