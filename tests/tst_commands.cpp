#include "BrowserDriver.h"
#include "BrowserTestMain.h"
#include "CodePage.h"
#include "MessageBoxCatcher.h"
#include "Recorder.h"
#include "RecorderSession.h"
#include "ServiceWindows.h"
#include "TestSite.h"
#include "TransactionFile.h"
#include "UserInput.h"
#include "frmBrowser.h"
#include "frmControlPanel.h"
#include "frmUpload.h"
#include "frmfileUpload.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

using namespace browserdriver;

namespace {

using Session = RecorderSession;

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void addressBox_data();
    void addressBox();
    void skipRemovesTheLastStep_data();
    void skipRemovesTheLastStep();
    void stepBack_data();
    void stepBack();
    void resetClearsAndRecordsAgain();
    void duplicatesSwitch();
    void servicePages();
    void playWithoutSteps();
    void saveOpenAndPlay();
    void stopLeavesTheRestUnrequested();
    void saveAsMessages();
    void uploadRecordedPages();

private:
    QTemporaryDir m_data;
    std::unique_ptr<TestSite> m_site;
};

void TestCommands::initTestCase()
{
    QVERIFY(m_data.isValid());
    qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
    m_site = std::make_unique<TestSite>();
    QVERIFY(m_site->isRunning());
}

void TestCommands::addressBox_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Enter") << "Enter";
    QTest::newRow("keypad Enter") << "keypad";
    QTest::newRow("chosen from the history") << "history";
}

// From a fresh start, Enter or keypad Enter in the address box requests the
// typed address; choosing an earlier address from the list requests it again.
void TestCommands::addressBox()
{
    QFETCH(QString, how);
    Session s(*m_site);
    const QString first = s.site.url(QStringLiteral("/echo/first"));
    const QString second = s.site.url(QStringLiteral("/echo/second"));
    const auto requestsOf = [&](const QString& address) {
        int n = 0;
        for (const LoggedRequest& r : m_site->navigations())
            n += s.site.url(QString::fromLatin1(r.target)) == address;
        return n;
    };
    m_site->clear();
    QVERIFY(s.type(first, how == u"keypad" ? Qt::Key_Enter : Qt::Key_Return));
    QTRY_COMPARE_WITH_TIMEOUT(requestsOf(first), 1, 15000);
    QTRY_COMPARE(s.main->brwWebBrowser()->LocationURL(), first);
    QCOMPARE(s.count(), 1);
    if (how != u"history")
        return;
    QVERIFY(s.open(second));
    QVERIFY(userinput::click(s.main->cboAddress()->lineEdit()));
    QVERIFY(userinput::key(Qt::Key_Down, Qt::AltModifier));
    QTRY_VERIFY(s.main->cboAddress()->view()->isVisible());
    QCOMPARE(s.main->cboAddress()->itemText(1), first); // most recent first
    QVERIFY(userinput::key(Qt::Key_Down));
    QVERIFY(userinput::key(Qt::Key_Return));
    QTRY_COMPARE_WITH_TIMEOUT(requestsOf(first), 2, 15000);
    QTRY_COMPARE(s.main->brwWebBrowser()->LocationURL(), first);
}

void TestCommands::skipRemovesTheLastStep_data()
{
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("selected");
    QTest::newRow("five, first selected") << 5 << 0;
    QTest::newRow("five, middle selected") << 5 << 2;
    QTest::newRow("one") << 1 << 0;
    QTest::newRow("none") << 0 << -1;
}

void TestCommands::skipRemovesTheLastStep()
{
    QFETCH(int, steps);
    QFETCH(int, selected);
    Session s(*m_site);
    QVERIFY(s.record(steps));
    if (selected >= 0) {
        QVERIFY(userinput::click(s.button("Label1")));
        auto* list = s.editor().findChild<QListWidget*>(QStringLiteral("recordedItems"));
        QVERIFY(userinput::click(list->viewport(), list->visualItemRect(list->item(selected)).center()));
    }
    const QList<RecordedStep> before = s.editor().store().steps();
    QVERIFY(userinput::click(s.button("lblSkip")));
    QCOMPARE(s.count(), qMax(0, steps - 1));
    for (int i = 0; i < s.count(); ++i)
        QCOMPARE(s.editor().store().at(i).url, before.at(i).url);
}

void TestCommands::stepBack_data()
{
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("left");
    QTest::addColumn<bool>("wentBack");
    QTest::newRow("one step") << 1 << 1 << false;
    QTest::newRow("three steps") << 3 << 2 << true;
}

void TestCommands::stepBack()
{
    QFETCH(int, steps);
    QFETCH(int, left);
    QFETCH(bool, wentBack);
    Session s(*m_site);
    QVERIFY(s.record(steps));
    const QString before = s.main->brwWebBrowser()->LocationURL();
    s.editor().hide();
    QVERIFY(userinput::click(s.button("lblStepBack")));
    QCOMPARE(s.count(), left);
    QVERIFY(s.main->backStepPending);
    if (wentBack) {
        const QString previous = s.site.url(QStringLiteral("/echo/page%1").arg(steps - 2));
        QTRY_COMPARE_WITH_TIMEOUT(s.main->brwWebBrowser()->LocationURL(), previous, 15000);
        QTRY_VERIFY(!s.main->backStepPending);
        // The page reached is a step already: nothing new, and the editor stays hidden.
        QCOMPARE(s.count(), left);
        QVERIFY(!s.editor().isVisible());
    } else {
        QTest::qWait(500); // nothing is to happen
        QCOMPARE(s.main->brwWebBrowser()->LocationURL(), before);
    }
}

void TestCommands::resetClearsAndRecordsAgain()
{
    Session s(*m_site);
    QVERIFY(s.record(2));
    QVERIFY(userinput::click(s.main->chkSave()));
    QVERIFY(!s.main->chkSave()->isChecked());
    QVERIFY(userinput::click(s.button("lblRestart")));
    QCOMPARE(s.count(), 0);
    QVERIFY(s.main->chkSave()->isChecked());
    QTRY_COMPARE(s.main->brwWebBrowser()->LocationURL(), QStringLiteral("about:blank"));
    QCOMPARE(s.count(), 0);
}

void TestCommands::duplicatesSwitch()
{
    Session s(*m_site);
    QAction* entry = s.action("mAllowDuplicates");
    QVERIFY(s.choose("mAllowDuplicates"));
    QVERIFY(entry->isChecked());
    QVERIFY(s.editor().cAllowDuplicates()->isChecked());
    QVERIFY(s.open(s.site.url(QStringLiteral("/echo/same"))));
    QVERIFY(s.open(s.site.url(QStringLiteral("/echo/other"))));
    QVERIFY(s.open(s.site.url(QStringLiteral("/echo/same"))));
    QTRY_COMPARE(s.count(), 3);
    {
        MessageBoxCatcher boxes;
        QVERIFY(s.choose("mAllowDuplicates"));
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, QStringLiteral("Warning"));
        QCOMPARE(boxes.last().text,
                 QStringLiteral("You have already recorded duplicate URLs, please delete them first."));
        QVERIFY(entry->isChecked());
        QVERIFY(s.editor().cAllowDuplicates()->isChecked());
    }
    QVERIFY(userinput::click(s.button("lblSkip")));
    MessageBoxCatcher none;
    QVERIFY(s.choose("mAllowDuplicates"));
    QCOMPARE(none.count(), 0);
    QVERIFY(!entry->isChecked());
    QVERIFY(!s.editor().cAllowDuplicates()->isChecked());
}

void TestCommands::servicePages()
{
    Session s(*m_site);
    QList<QUrl> opened;
    frmBrowser::setPageOpener([&](const QUrl& url) {
        opened << url;
        return false; // no browser: stays silent
    });
    MessageBoxCatcher boxes;
    QVERIFY(s.choose("mnuUpdates"));
    QVERIFY(userinput::key(Qt::Key_F1));
    QCOMPARE(opened.size(), 2);
    QVERIFY(opened.at(0).toString().endsWith(QStringLiteral("/recorderupdates.php?version=") +
                                             frmBrowser::versionText()));
    QCOMPARE(opened.at(0).scheme(), QStringLiteral("http"));
    QCOMPARE(opened.at(1).path(), QStringLiteral("/kb/windows_recorder.html"));
    QCOMPARE(boxes.count(), 0);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$"))
                .match(frmBrowser::versionText())
                .hasMatch());
}

void TestCommands::playWithoutSteps()
{
    Session s(*m_site);
    MessageBoxCatcher boxes;
    QVERIFY(userinput::click(s.button("Label2")));
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, QStringLiteral("No steps were recorded - nothing to play"));
    QCOMPARE(boxes.last().title, QStringLiteral("Transaction Recorder"));
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    QVERIFY(s.main->findChild<QPushButton*>(QStringLiteral("Label2"))->isVisible());
    QVERIFY(s.main->chkSave()->isChecked());
}

// Record three pages with a form post, save, reset, open, play at the real
// pace: the site receives the three requests in order, five seconds apart.
void TestCommands::saveOpenAndPlay()
{
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(QStringLiteral("/echo/start"))));
    QVERIFY(s.open(s.site.url(QStringLiteral("/forms/non-ascii.html"))));
    QVERIFY(click(s.main->brwWebBrowser(), QStringLiteral("#go")));
    QTRY_COMPARE_WITH_TIMEOUT(s.count(), 3, 15000);
    QVERIFY(s.main->StatusBar() != nullptr);
    const QList<RecordedStep> recorded = s.editor().store().steps();
    QVERIFY(!recorded.at(2).postdata.isEmpty());
    // The step is recorded when the request starts; the site logs it when it arrives.
    const auto postArrived = [&] {
        for (const LoggedRequest& r : m_site->navigations()) {
            if (s.site.url(QString::fromLatin1(r.target)) == recorded.at(2).url)
                return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(postArrived(), 15000);

    const QString file = m_data.filePath(QStringLiteral("three.xml"));
    {
        MessageBoxCatcher boxes;
        frmBrowser::setNextFileName(file);
        s.action("mSave")->trigger();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, QStringLiteral("File saved successfully"));
        QCOMPARE(boxes.last().title, QStringLiteral("File Save"));
    }
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), transactionFileBytes(recorded, {}));

    s.main->lblRestart_Click();
    QCOMPARE(s.count(), 0);
    frmBrowser::setNextFileName(file);
    s.action("mOpen")->trigger();
    QCOMPARE(s.count(), 3);
    QVERIFY(s.editor().isVisible());
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(s.editor().store().at(i).url, recorded.at(i).url);
        QCOMPARE(s.editor().store().at(i).postdata, recorded.at(i).postdata);
    }

    QTRY_VERIFY(!s.main->brwWebBrowser()->Busy());
    m_site->clear();
    QElapsedTimer clock;
    clock.start();
    s.main->findChild<QPushButton*>(QStringLiteral("Label2"))->click();
    QVERIFY(!s.main->chkSave()->isChecked());
    QVERIFY(!s.editor().isVisible());
    QVERIFY(s.main->findChild<QPushButton*>(QStringLiteral("Command1"))->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 3, 20000);
    const qint64 third = clock.elapsed();
    const QList<LoggedRequest> served = m_site->navigations();
    QStringList servedUrls;
    QStringList recordedUrls;
    for (int i = 0; i < 3; ++i) {
        servedUrls << s.site.url(QString::fromLatin1(served.at(i).target));
        recordedUrls << recorded.at(i).url;
    }
    QCOMPARE(servedUrls, recordedUrls);
    QCOMPARE(served.at(2).method, QByteArray("POST"));
    QCOMPARE(served.at(2).body, codepage::toAnsi(recorded.at(2).postdata));
    QCOMPARE(served.at(2).headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    QVERIFY2(third >= 9500 && third < 14000, qPrintable(QString::number(third)));
    // Controls are idle at once; the run ends one tick later.
    QVERIFY(s.main->findChild<QPushButton*>(QStringLiteral("Label2"))->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!s.editor().playback().isActive(), 7000);
    QTRY_COMPARE(s.main->StatusBar()->text(), QStringLiteral("Done."));
    // Recording stays off: pages now visited are not recorded.
    QVERIFY(s.open(s.site.url(QStringLiteral("/echo/after"))));
    QCOMPARE(s.count(), 3);
}

void TestCommands::stopLeavesTheRestUnrequested()
{
    Session s(*m_site);
    QVERIFY(s.record(4));
    s.editor().playback().setInterval(400);
    QTRY_VERIFY(!s.main->brwWebBrowser()->Busy());
    m_site->clear();
    QVERIFY(userinput::click(s.button("Label2")));
    QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 2, 10000);
    QVERIFY(userinput::click(s.button("Command1")));
    // The page the last request opened may still be loading; its end shows the status.
    QTRY_COMPARE(s.main->StatusBar()->text(), QStringLiteral("Done."));
    QVERIFY(!s.editor().playback().isActive());
    QVERIFY(s.main->findChild<QPushButton*>(QStringLiteral("Label2"))->isVisible());
    QVERIFY(!s.main->findChild<QPushButton*>(QStringLiteral("Command1"))->isVisible());
    QTest::qWait(1500); // three more ticks would have passed
    QCOMPARE(m_site->navigations().size(), 2);
    QVERIFY(!s.main->chkSave()->isChecked());
}

void TestCommands::saveAsMessages()
{
    Session s(*m_site);
    {
        MessageBoxCatcher boxes;
        QVERIFY(userinput::activate(s.main));
        userinput::key(Qt::Key_S, Qt::ControlModifier);
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, QStringLiteral("You haven't recorded any steps"));
        QCOMPARE(boxes.last().title, QStringLiteral("No steps recorded"));
    }
    QVERIFY(s.record(1));
    MessageBoxCatcher boxes;
    // Cancelled: nothing written, nothing said.
    frmBrowser::setNextFileName(QStringLiteral("*.xml"));
    QVERIFY(userinput::activate(s.main));
    userinput::key(Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(boxes.count(), 0);
    // A folder that does not exist: the reason is told and nothing claims success.
    frmBrowser::setNextFileName(m_data.filePath(QStringLiteral("missing/folder/x.xml")));
    userinput::key(Qt::Key_S, Qt::ControlModifier);
    QTRY_COMPARE(boxes.count(), 1);
    QVERIFY(boxes.last().text.contains(QLatin1String("x.xml")));
    QVERIFY(boxes.last().text != QLatin1String("File saved successfully"));
    // The default file is written silently.
    frmBrowser::setNextFileName(defaultTransactionFile());
    QVERIFY(userinput::activate(s.main));
    userinput::key(Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(boxes.count(), 1);
    QVERIFY(QFile::exists(defaultTransactionFile()));
    // Opening a missing file says so, then shows the editor.
    frmBrowser::setNextFileName(m_data.filePath(QStringLiteral("nothing.xml")));
    QVERIFY(s.choose("mOpen"));
    QTRY_COMPARE(boxes.count(), 2);
    QCOMPARE(boxes.last().text,
             QStringLiteral("Error opening file ") + m_data.filePath(QStringLiteral("nothing.xml")));
    QCOMPARE(s.count(), 1);
    QVERIFY(s.editor().isVisible());
}

// Record two pages, upload them through the main window's button to the local
// stand-in of the service: it stores exactly the file written at sign-in.
void TestCommands::uploadRecordedPages()
{
    QTemporaryDir service;
    QFile accounts(service.filePath(QStringLiteral("accounts.txt")));
    QVERIFY(accounts.open(QIODevice::WriteOnly));
    accounts.write("account jdoe s3cret\ntransaction 12 Login\n");
    accounts.close();
    QProcess standin;
    standin.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    standin.start(QStringLiteral(TALLYRO_STANDIN_SERVICE),
                  {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--accounts"),
                   accounts.fileName(), QStringLiteral("--store"),
                   service.filePath(QStringLiteral("store"))});
    QVERIFY(standin.waitForStarted(5000));
    QByteArray line;
    for (int i = 0; i < 50 && !line.endsWith('\n'); ++i) {
        standin.waitForReadyRead(200);
        line += standin.readLine();
    }
    QVERIFY2(line.startsWith("Listening on "), line.constData());
    qputenv("TALLYRO_SERVICE_HOST", line.mid(13).trimmed());

    Session s(*m_site);
    QVERIFY(s.record(2));
    s.main->findChild<QPushButton*>(QStringLiteral("LblUpload"))->click();
    frmUpload* signIn = s.recorder->services().frmUpload();
    QVERIFY(signIn && signIn->isVisible());
    signIn->txtUsername()->setText(QStringLiteral("jdoe"));
    signIn->txtKey()->setText(QStringLiteral("s3cret"));
    signIn->cSave()->setChecked(true);
    MessageBoxCatcher boxes;
    signIn->Command2()->click();
    frmfileUpload* upload = s.recorder->services().frmfileUpload();
    QVERIFY(upload && upload->isVisible());
    upload->Command1()->click();
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Upload Status"));

    const QStringList uploads = QDir(service.filePath(QStringLiteral("store")))
                                    .entryList({QStringLiteral("upload-*")}, QDir::Dirs, QDir::Name);
    QCOMPARE(uploads.size(), 1);
    QFile sent(
        service.filePath(QStringLiteral("store/") + uploads.first() + QStringLiteral("/recorder.xml")));
    QVERIFY(sent.open(QIODevice::ReadOnly));
    QCOMPARE(sent.readAll(), transactionFileBytes(s.editor().store().steps(),
                                                  {QStringLiteral("jdoe"), QStringLiteral("s3cret")}));
    qunsetenv("TALLYRO_SERVICE_HOST");
    standin.kill();
    standin.waitForFinished(5000);
}

TALLYRO_BROWSER_TEST_MAIN(TestCommands)
#include "tst_commands.moc"
