#include "BrowserTestMain.h"
#include "CodePage.h"
#include "HarFile.h"
#include "MessageBoxCatcher.h"
#include "RecorderSession.h"
#include "StepCheck.h"
#include "TransactionFile.h"
#include "frmCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <csignal>

// Steps are spelled with designated initializers naming only the fields they set.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

enum Column
{
    ResultColumn = 5,
    FailedColumn = 6
};

// The check window the main window opened.
frmCheck* checkWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* check = qobject_cast<frmCheck*>(w); check && check->isVisible())
            return check;
    }
    return nullptr;
}

QTableWidget* grid(frmCheck* check)
{
    return check->findChild<QTableWidget*>(QStringLiteral("grdCheck"));
}

QString statusText(frmCheck* check)
{
    return check->findChild<QLabel*>(QStringLiteral("lblCheckStatus"))->text();
}

QList<QWidget*> visibleWindows()
{
    QList<QWidget*> list;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->isWindow() && !qobject_cast<QMenu*>(w))
            list.append(w);
    }
    return list;
}

// Opens steps as a transaction file, through the File menu.
bool openSteps(RecorderSession& s, const QList<RecordedStep>& steps, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(transactionFileBytes(steps, {})) < 0)
        return false;
    file.close();
    frmBrowser::setNextFileName(path);
    return s.choose("mOpen") && QTest::qWaitFor([&] { return s.count() == steps.size(); }, 5000);
}

// Presses the check's shortcut in the main window and waits for the run to end.
frmCheck* runCheck(RecorderSession& s, int ms = 60000)
{
    if (!userinput::activate(s.main) || !userinput::key(Qt::Key_K, Qt::ControlModifier))
        return nullptr;
    frmCheck* check = nullptr;
    if (!QTest::qWaitFor([&] { return (check = checkWindow()) != nullptr; }, 5000))
        return nullptr;
    QPointer<frmCheck> guard(check);
    if (!QTest::qWaitFor([&] { return !guard || !guard->run().isRunning(); }, ms))
        qWarning("the check did not end");
    return guard;
}

// A port on which nothing answers.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

// The centre of an element of the page, in the view's input widget.
QPoint centreOf(WebBrowser* browser, const QString& id)
{
    QVariantList r;
    QEventLoop loop;
    browser->page()->runJavaScript(
        QStringLiteral("(function(){var b=document.getElementById('%1').getBoundingClientRect();"
                       "return [b.left+b.width/2, b.top+b.height/2];})()")
            .arg(id),
        [&](const QVariant& v) {
            r = v.toList();
            loop.quit();
        });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    return r.size() == 2 ? QPoint(qRound(r.at(0).toDouble()), qRound(r.at(1).toDouble())) : QPoint();
}

// Selects the word under an element by a double click, opens the page's context
// menu on it and picks an entry by a click.
bool pickFromContextMenu(WebBrowser* browser, const QString& id, const char* entry)
{
    QWidget* input = browser->view()->focusProxy();
    const QPoint at = centreOf(browser, id);
    if (!input || at.isNull())
        return false;
    userinput::doubleClick(input, at);
    if (!QTest::qWaitFor([&] { return browser->page()->hasSelection(); }, 5000))
        return false;
    userinput::click(input, at, Qt::RightButton);
    QMenu* menu = nullptr;
    if (!QTest::qWaitFor([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); },
                         5000))
        return false;
    auto* action = menu->findChild<QAction*>(QString::fromLatin1(entry));
    if (!action || !QTest::qWaitFor([&] { return menu->isVisible(); }, 2000))
        return false;
    QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, menu->actionGeometry(action).center());
    return true;
}

} // namespace

class TestCheck : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void keywordRules_data();
    void keywordRules();
    void verdictsPerStep();
    void stopAndCrashEndWithAReport();
    void checksPickedFromThePage();
    void harExportAndOpen();
    void chromiumHarImportsAsRecorded();
    void oneTimeValuesFlagged_data();
    void oneTimeValuesFlagged();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestSite> m_site;
};

void TestCheck::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_site = std::make_unique<TestSite>();
    QVERIFY(m_site->isRunning());
}

void TestCheck::keywordRules_data()
{
    QTest::addColumn<QString>("keywords");
    QTest::addColumn<QString>("errors");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("failures");

    QTest::newRow("phrases trimmed, any case") << " order  placed ,TOTAL"
                                               << ""
                                               << "Your ORDER placed.\nTotal: 3" << QStringList();
    QTest::newRow("blanks fold across lines") << "order placed"
                                              << ""
                                              << "order\n  placed" << QStringList();
    QTest::newRow("one missing") << "order,refund"
                                 << ""
                                 << "order" << QStringList{QStringLiteral("Keyword not found: \"refund\"")};
    QTest::newRow("error found") << ""
                                 << "out of stock, , error"
                                 << "Error: Out of Stock"
                                 << QStringList{QStringLiteral("Error keyword found: \"out of stock\""),
                                                QStringLiteral("Error keyword found: \"error\"")};
    QTest::newRow("empty fields pass") << ""
                                       << ""
                                       << "" << QStringList();
}

void TestCheck::keywordRules()
{
    QFETCH(QString, keywords);
    QFETCH(QString, errors);
    QFETCH(QString, text);
    QFETCH(QStringList, failures);
    RecordedStep step{.url = QStringLiteral("http://a/"), .keywords = keywords, .errors = errors};
    stepcheck::Load load{.succeeded = true, .ms = 10, .text = text};
    QCOMPARE(stepcheck::judge(1, step, load).failures, failures);

    // A phrase picked from a page joins the field once, blanks folded.
    QCOMPARE(stepcheck::withPhrase(keywords, QStringLiteral(" new\n phrase ")),
             keywords.trimmed().isEmpty() ? QStringLiteral("new phrase")
                                          : keywords + QStringLiteral(", new phrase"));
    if (!stepcheck::phrases(keywords).isEmpty())
        QCOMPARE(stepcheck::withPhrase(keywords, stepcheck::phrases(keywords).first().toUpper()), keywords);
}

// A transaction of every kind of step gets the verdict each deserves, each page
// requested once with the recorded bytes, and the store stays as it was.
void TestCheck::verdictsPerStep()
{
    struct Row
    {
        RecordedStep step;
        QString result;
        QString failure; // a pattern of what failed
    };
    const QString dead = QStringLiteral("http://127.0.0.1:%1/gone").arg(closedPort());
    const QList<Row> rows = {
        {{.url = m_site->url(QStringLiteral("/echo/home")), .keywords = QStringLiteral("/ECHO/home")},
         QStringLiteral("Passed"),
         {}},
        {{.url = m_site->url(QStringLiteral("/order")),
          .postdata = QStringLiteral("item=tea+\xe9t\xe9&qty=2"),
          .keywords = QStringLiteral("/order, application/x-www-form-urlencoded")},
         QStringLiteral("Passed"),
         {}},
        {{.url = m_site->url(QStringLiteral("/auth?user=ann&pass=s3cret")),
          .keywords = QStringLiteral("welcome, ann"),
          .httpuser = QStringLiteral("ann"),
          .httppass = QStringLiteral("s3cret")},
         QStringLiteral("Passed"),
         {}},
        {{.url = m_site->url(QStringLiteral("/auth?user=bob&pass=right")),
          .httpuser = QStringLiteral("bob"),
          .httppass = QStringLiteral("wrong")},
         QStringLiteral("Failed"),
         QStringLiteral("^HTTP status 401$")},
        {{.url = m_site->url(QStringLiteral("/echo/cart")),
          .keywords = QStringLiteral("/echo/cart, Thank you")},
         QStringLiteral("Failed"),
         QStringLiteral("^Keyword not found: \"Thank you\"$")},
        {{.url = m_site->url(QStringLiteral("/check/error.html")),
          .errors = QStringLiteral("internal error")},
         QStringLiteral("Failed"),
         QStringLiteral("^Error keyword found: \"internal error\"$")},
        {{.url = m_site->url(QStringLiteral("/slow?ms=4000")), .timeout = QStringLiteral("1")},
         QStringLiteral("Failed"),
         QStringLiteral("^Not loaded within the timeout of 1 s$")},
        {{.url = dead}, QStringLiteral("Failed"), QStringLiteral("^Load failed: ")},
        {{.url = m_site->url(QStringLiteral("/check/popup.html")), .keywords = QStringLiteral("offers")},
         QStringLiteral("Passed"),
         {}},
    };
    QList<RecordedStep> steps;
    for (const Row& r : rows)
        steps.append(r.step);

    RecorderSession s(*m_site);
    QVERIFY(openSteps(s, steps, m_dir.filePath(QStringLiteral("all.xml"))));
    const QList<RecordedStep> stored = s.editor().store().steps();
    m_site->clear();
    const QList<QWidget*> before = visibleWindows();

    frmCheck* check = runCheck(s);
    QVERIFY(check);
    QTableWidget* table = grid(check);
    for (int i = 0; i < rows.size(); ++i) {
        const QString failed = table->item(i, FailedColumn)->text();
        QVERIFY2(table->item(i, ResultColumn)->text() == rows[i].result,
                 qPrintable(QString::number(i + 1) + failed));
        if (rows[i].failure.isEmpty())
            QCOMPARE(failed, QString());
        else
            QVERIFY2(QRegularExpression(rows[i].failure).match(failed).hasMatch(), qPrintable(failed));
    }
    QCOMPARE(statusText(check), QStringLiteral("4 of 9 steps passed"));
    QCOMPARE(s.editor().store().steps(), stored);
    QVERIFY(s.popups().isEmpty()); // the page's popup was refused
    for (QWidget* w : visibleWindows())
        QVERIFY2(before.contains(w) || w == check || w == &s.editor(), w->metaObject()->className());

    // Each step once, as recorded (the popup's page never requested).
    QStringList targets;
    for (const LoggedRequest& r : m_site->navigations()) {
        targets.append(QString::fromLatin1(r.method + ' ' + r.target));
        if (r.method == "POST") {
            QCOMPARE(r.body, codepage::toAnsi(rows[1].step.postdata));
            QCOMPARE(r.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
        }
    }
    targets.removeAll(
        QStringLiteral("GET /auth?user=ann&pass=s3cret")); // the first try asks for the password
    targets.removeAll(QStringLiteral("GET /auth?user=bob&pass=right"));
    QCOMPARE(targets,
             (QStringList{QStringLiteral("GET /echo/home"), QStringLiteral("POST /order"),
                          QStringLiteral("GET /echo/cart"), QStringLiteral("GET /check/error.html"),
                          QStringLiteral("GET /slow?ms=4000"), QStringLiteral("GET /check/popup.html")}));

    // A row shows its step in the step editor.
    userinput::click(table->viewport(), table->visualItemRect(table->item(4, 3)).center());
    QTRY_VERIFY(s.editor().isVisible());
    QTRY_COMPARE(s.editor().selectedLine(), 4);

    // The saved report is a page a browser shows with one row per step.
    const QString report = m_dir.filePath(QStringLiteral("report"));
    frmBrowser::setNextFileName(report);
    userinput::click(check->findChild<QPushButton*>(QStringLiteral("cmdSaveReport")));
    QTRY_VERIFY(QFile::exists(report + QStringLiteral(".html")));
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    QVERIFY2(!chromium.isEmpty(), "chromium is installed by scripts/install-deps.sh");
    QProcess browser;
    browser.start(chromium,
                  {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                   QStringLiteral("--disable-gpu"),
                   QStringLiteral("--user-data-dir=") + m_dir.filePath("chr"), QStringLiteral("--dump-dom"),
                   QUrl::fromLocalFile(report + QStringLiteral(".html")).toString()});
    QVERIFY(browser.waitForFinished(60000));
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
    QCOMPARE(dom.count(QStringLiteral("<tr class=\"passed\">")), 4);
    QCOMPARE(dom.count(QStringLiteral("<tr class=\"failed\">")), 5);
    QVERIFY(dom.contains(QStringLiteral("Keyword not found: \"Thank you\"")));
    QVERIFY(dom.contains(QStringLiteral("4 of 9 steps passed")));
    check->close();
}

// Stop mid-run and a renderer that dies both end the run with a report; closing
// the report leaves no window behind.
void TestCheck::stopAndCrashEndWithAReport()
{
    RecorderSession s(*m_site);
    QVERIFY(openSteps(s,
                      {{.url = m_site->url(QStringLiteral("/slow?ms=5000"))},
                       {.url = m_site->url(QStringLiteral("/echo/after"))},
                       {.url = m_site->url(QStringLiteral("/slow?ms=5000&again"))},
                       {.url = m_site->url(QStringLiteral("/echo/never"))}},
                      m_dir.filePath(QStringLiteral("stop.xml"))));
    m_site->clear();
    const QList<QWidget*> before = visibleWindows();
    QVERIFY(userinput::activate(s.main));
    QVERIFY(userinput::key(Qt::Key_K, Qt::ControlModifier));
    frmCheck* check = nullptr;
    QTRY_VERIFY((check = checkWindow()) != nullptr);
    QPointer<frmCheck> guard(check);

    // The first page's renderer is killed while the page loads.
    QTRY_VERIFY(check->run().page()->renderProcessPid() > 0);
    QTRY_VERIFY(m_site->requests().size() >= 1);
    ::kill(pid_t(check->run().page()->renderProcessPid()), SIGKILL);
    // Stop while the third step loads.
    QTRY_COMPARE_WITH_TIMEOUT(statusText(check), QStringLiteral("Checking step 3 of 4..."), 20000);
    userinput::click(check->findChild<QPushButton*>(QStringLiteral("cmdCheckStop")));
    QTRY_VERIFY(!check->run().isRunning());

    QTableWidget* table = grid(check);
    QCOMPARE(table->item(0, ResultColumn)->text(), QStringLiteral("Failed"));
    QCOMPARE(table->item(0, FailedColumn)->text(), QStringLiteral("The page's renderer ended"));
    QCOMPARE(table->item(1, ResultColumn)->text(), QStringLiteral("Passed"));
    QCOMPARE(table->item(2, ResultColumn)->text(), QStringLiteral("Not run"));
    QCOMPARE(table->item(3, FailedColumn)->text(), QStringLiteral("Not run: the check was stopped"));
    QCOMPARE(statusText(check), QStringLiteral("1 of 4 steps passed"));
    QCOMPARE(s.count(), 4);

    userinput::click(check->findChild<QPushButton*>(QStringLiteral("cmdCheckClose")));
    QTRY_VERIFY(!guard);
    for (QWidget* w : visibleWindows())
        QVERIFY2(before.contains(w) || w == &s.editor(), w->metaObject()->className());
}

// Text selected in the recording browser becomes a check of the step its page
// belongs to, within the field's limit, and is saved with the transaction.
void TestCheck::checksPickedFromThePage()
{
    const QString file = m_dir.filePath(QStringLiteral("picked.xml"));
    QList<RecordedStep> saved;
    {
        RecorderSession s(*m_site);
        QVERIFY(s.open(m_site->url(QStringLiteral("/echo/first"))));
        QVERIFY(s.open(m_site->url(QStringLiteral("/check/text.html"))));
        QVERIFY(s.open(m_site->url(QStringLiteral("/echo/last"))));
        // Back on the page of the second step: a duplicate, not recorded again.
        QVERIFY(s.open(m_site->url(QStringLiteral("/check/text.html"))));
        QCOMPARE(s.count(), 3);

        WebBrowser* browser = s.main->brwWebBrowser();
        QVERIFY(pickFromContextMenu(browser, QStringLiteral("good"), "mAlertNotFound"));
        QTRY_COMPARE(s.editor().store().at(1).keywords, QStringLiteral("confirmed"));
        QVERIFY(pickFromContextMenu(browser, QStringLiteral("bad"), "mAlertFound"));
        QTRY_COMPARE(s.editor().store().at(1).errors, QStringLiteral("backorder"));
        QVERIFY(s.editor().isVisible());
        QCOMPARE(s.editor().selectedLine(), 1);
        QCOMPARE(s.editor().findChild<QLineEdit*>(QStringLiteral("txtErrors"))->text(),
                 QStringLiteral("backorder"));

        // A field that would grow past its 250 characters stays as it was.
        auto* keywords = s.editor().findChild<QLineEdit*>(QStringLiteral("txtKeywords"));
        userinput::click(keywords);
        userinput::key(Qt::Key_End);
        userinput::type(QStringLiteral(", ") + QString(235, u'x'));
        const QString full = keywords->text();
        {
            MessageBoxCatcher boxes;
            QVERIFY(pickFromContextMenu(browser, QStringLiteral("good"), "mAlertFound"));
            QVERIFY(pickFromContextMenu(browser, QStringLiteral("bad"), "mAlertNotFound"));
            QTRY_COMPARE(boxes.count(), 1);
            QVERIFY(boxes.last().text.contains(QStringLiteral("limit of 250")));
        }
        QCOMPARE(s.editor().store().at(1).keywords, full);
        QCOMPARE(s.editor().store().at(1).errors, QStringLiteral("backorder, confirmed"));

        // Save as, then open in a fresh recorder.
        frmBrowser::setNextFileName(file);
        {
            MessageBoxCatcher boxes;
            QVERIFY(s.choose("mSave"));
            QTRY_COMPARE(boxes.count(), 1);
        }
        saved = s.editor().store().steps();
    }
    RecorderSession t(*m_site);
    frmBrowser::setNextFileName(file);
    QVERIFY(t.choose("mOpen"));
    QTRY_COMPARE(t.count(), 3);
    QCOMPARE(transactionFileBytes(t.editor().store().steps(), {}), transactionFileBytes(saved, {}));
}

// File > Export HAR writes the steps with what the last check found; File >
// Open HAR reads them back to the same transaction.
void TestCheck::harExportAndOpen()
{
    const QList<RecordedStep> steps = {{.url = m_site->url(QStringLiteral("/echo/a")),
                                        .keywords = QStringLiteral("/echo/a"),
                                        .label = QStringLiteral("First")},
                                       {.url = m_site->url(QStringLiteral("/order")),
                                        .postdata = QStringLiteral("q=caf%E9&n=\xe9"),
                                        .timeout = QStringLiteral("9"),
                                        .ping = QStringLiteral("Y")},
                                       {.url = m_site->url(QStringLiteral("/missing-page.html"))}};
    const QString har = m_dir.filePath(QStringLiteral("t.har"));
    QByteArray saved;
    {
        RecorderSession s(*m_site);
        QVERIFY(openSteps(s, steps, m_dir.filePath(QStringLiteral("har.xml"))));
        frmCheck* check = runCheck(s);
        QVERIFY(check);
        frmBrowser::setNextFileName(har);
        QVERIFY(s.choose("mExportHar"));
        QTRY_VERIFY(QFile::exists(har));
        saved = transactionFileBytes(s.editor().store().steps(), {});
        check->close();
    }
    QFile file(har);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonArray entries =
        QJsonDocument::fromJson(file.readAll()).object().value("log").toObject().value("entries").toArray();
    QCOMPARE(entries.size(), 3);
    QVERIFY(entries.at(0).toObject().value("time").toDouble() >= 0); // loaded in the check
    QCOMPARE(entries.at(2).toObject().value("response").toObject().value("status").toInt(), 404);

    RecorderSession t(*m_site);
    frmBrowser::setNextFileName(har);
    MessageBoxCatcher boxes;
    QVERIFY(t.choose("mOpenHar"));
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, QStringLiteral("3 steps added."));
    QCOMPARE(transactionFileBytes(t.editor().store().steps(), {}), saved);
}

// A HAR Chromium records of a flow on the local site opens as the steps the
// recorder records of the same flow.
void TestCheck::chromiumHarImportsAsRecorded()
{
    QList<RecordedStep> recorded;
    {
        RecorderSession s(*m_site);
        WebBrowser* browser = s.main->brwWebBrowser();
        const auto fill = [&](const char* id, const QString& text) {
            userinput::click(browser->view()->focusProxy(), centreOf(browser, QString::fromLatin1(id)));
            return userinput::type(text);
        };
        const auto submitTo = [&](const QString& path) {
            userinput::click(browser->view()->focusProxy(), centreOf(browser, QStringLiteral("go")));
            return QTest::qWaitFor([&] { return browser->LocationURL() == m_site->url(path); }, 15000) &&
                   s.waitIdle(s.main);
        };
        QVERIFY(s.open(m_site->url(QStringLiteral("/harflow/index.html"))));
        QVERIFY(fill("user", QStringLiteral("anna@example.test")));
        QVERIFY(fill("pass", QStringLiteral("s3same & co")));
        QVERIFY(submitTo(QStringLiteral("/harflow/login")));
        QVERIFY(s.open(m_site->url(QStringLiteral("/harflow/notes.html"))));
        QVERIFY(fill("subject", QStringLiteral("Cafe")));
        QVERIFY(fill("body", QStringLiteral("two words")));
        QVERIFY(submitTo(QStringLiteral("/harflow/notes")));
        recorded = s.editor().store().steps();
    }
    QCOMPARE(recorded.size(), 5); // the page, its frame, the sign-in post, the notes page, its post

    const QString har = m_dir.filePath(QStringLiteral("chromium.har"));
    QProcess node;
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node.start(QStringLiteral("node"),
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

void TestCheck::oneTimeValuesFlagged_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("typing"); // "id=text": what a person types into a field
    QTest::addColumn<QStringList>("flagged");

    QTest::newRow("hidden field") << "/onetime/hidden.html" << QStringList{"name=Ann"}
                                  << QStringList{"csrf_token"};
    QTest::newRow("meta tag, copied by script")
        << "/onetime/meta.html" << QStringList{"text=hello"} << QStringList{"form_key"};
    QTest::newRow("added by script") << "/onetime/script.html" << QStringList() << QStringList{"sig"};
    QTest::newRow("page state written at load") << "/onetime/viewstate.html" << QStringList{"q=tea"}
                                                << QStringList{"__VIEWSTATE", "__EVENTVALIDATION"};
    QTest::newRow("token in a link") << "/onetime/link.html" << QStringList() << QStringList{"sid"};
    QTest::newRow("typed password, chosen product code")
        << "/onetime/lookalike.html" << QStringList{"user=ann", "pass=Summer2024ab"} << QStringList();
}

// Recording flags the values the site gave for one use, and only those; the
// step editor notes them and Upload warns of them first.
void TestCheck::oneTimeValuesFlagged()
{
    QFETCH(QString, page);
    QFETCH(QStringList, typing);
    QFETCH(QStringList, flagged);
    RecorderSession s(*m_site);
    QVERIFY(s.open(m_site->url(page)));
    WebBrowser* browser = s.main->brwWebBrowser();
    QWidget* input = browser->view()->focusProxy();
    for (const QString& field : typing) {
        userinput::click(input, centreOf(browser, field.section(u'=', 0, 0)));
        QVERIFY(userinput::type(field.section(u'=', 1)));
    }
    userinput::click(input, centreOf(browser, QStringLiteral("go")));
    QTRY_COMPARE(s.count(), 2);
    QVERIFY(s.waitIdle(s.main));
    const RecordedStep step = s.editor().store().at(1);
    QVERIFY(step.oneTime.has_value());
    QCOMPARE(*step.oneTime, flagged);

    auto* note = s.editor().findChild<QLabel*>(QStringLiteral("lblOneTime"));
    QTRY_COMPARE(s.editor().selectedLine(), 1);
    QCOMPARE(note->isVisibleTo(&s.editor()), !flagged.isEmpty());
    if (flagged.isEmpty())
        return;
    QCOMPARE(note->text(), QStringLiteral("One-time values: ") + flagged.join(QStringLiteral(", ")));

    // Upload asks first; the box is not answered with Go on, so nothing else opens.
    MessageBoxCatcher boxes;
    QVERIFY(userinput::activate(s.main));
    QVERIFY(userinput::key(Qt::Key_U, Qt::ControlModifier));
    QTRY_COMPARE(boxes.count(), 1);
    QVERIFY2(boxes.last().text.contains(QStringLiteral("Step 2 (") + step.label + QStringLiteral("): ") +
                                        flagged.join(QStringLiteral(", "))),
             qPrintable(boxes.last().text));
    QTest::qWait(200);
    QCOMPARE(boxes.count(), 1);
}

TALLYRO_BROWSER_TEST_MAIN(TestCheck)
#include "tst_check.moc"
