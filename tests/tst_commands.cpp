#include "BrowserDriver.h"
#include "BrowserTestMain.h"
#include "CodePage.h"
#include "LayoutCheck.h"
#include "MessageBoxCatcher.h"
#include "ProgramFolder.h"
#include "Recorder.h"
#include "RecorderSession.h"
#include "RecoveryFile.h"
#include "ServiceWindows.h"
#include "SmallDisk.h"
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
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
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
    void captionsShowWhole();
    void addressBox_data();
    void addressBox();
    void longAddressRoundTrip();
    void skipRemovesTheLastStep_data();
    void skipRemovesTheLastStep();
    void stepBack_data();
    void stepBack();
    void stepBackOntoAPostedPage();
    void resetClearsAndRecordsAgain();
    void resetInAPopup();
    void duplicatesSwitch();
    void servicePages();
    void playWithoutSteps();
    void stopLeavesTheRestUnrequested();
    void replaySendsTheRecordedBytes_data();
    void replaySendsTheRecordedBytes();
    void recoveryCopyFailureIsToldOnce();
    void saveAsMessages();

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

// The main window, a popup and the step editor show every caption whole.
void TestCommands::captionsShowWhole()
{
    Session s(*m_site);
    QCOMPARE(layoutcheck::cutCaptions(s.main), QStringList());
    QVERIFY(s.open(s.site.url(QStringLiteral("/window-open.html"))));
    QTRY_VERIFY(s.editor().isVisible());
    QCOMPARE(layoutcheck::cutCaptions(&s.editor()), QStringList());
    QVERIFY(click(s.main->brwWebBrowser(), QStringLiteral("#open")));
    QTRY_COMPARE_WITH_TIMEOUT(s.popups().size(), 1, 15000);
    QVERIFY(s.waitIdle(s.popups().first()));
    // At rest: while a page loads the status line shows its title, which may be of any length.
    QTRY_COMPARE_WITH_TIMEOUT(s.popups().first()->StatusBar()->text(), QStringLiteral("Done."), 15000);
    const QStringList cut = layoutcheck::cutCaptions(s.popups().first());
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u'\n')));
}

void TestCommands::addressBox_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("keypad Enter") << "keypad";
    QTest::newRow("chosen from the history") << "history";
}

// From a fresh start, keypad Enter in the address box requests the typed
// address (Enter is every other test's way); choosing an earlier address from
// the list requests it again.
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

// An address of more than the box's typing limit, reached by a link, is shown,
// recorded and requested again by Enter whole.
void TestCommands::longAddressRoundTrip()
{
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(QStringLiteral("/long-link.html"))));
    const QString address = s.site.url(QStringLiteral("/echo/long?x=") + QString(3000, u'A'));
    m_site->clear();
    QVERIFY(click(s.main->brwWebBrowser(), QStringLiteral("#long")));
    QTRY_COMPARE_WITH_TIMEOUT(s.main->brwWebBrowser()->LocationURL(), address, 15000);
    QTRY_COMPARE(s.main->cboAddress()->currentText(), address);
    QTRY_COMPARE(s.count(), 2);
    QCOMPARE(s.editor().store().at(1).url, address);
    QVERIFY(userinput::click(s.main->cboAddress()->lineEdit()));
    QVERIFY(userinput::key(Qt::Key_Return));
    QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 2, 15000);
    for (const LoggedRequest& r : m_site->navigations())
        QCOMPARE(s.site.url(QString::fromLatin1(r.target)), address);
    QCOMPARE(s.count(), 2); // the same address again is no new step
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
    QVERIFY(s.main->stepBackPending());
    if (wentBack) {
        const QString previous = s.site.url(QStringLiteral("/echo/page%1").arg(steps - 2));
        QTRY_COMPARE_WITH_TIMEOUT(s.main->brwWebBrowser()->LocationURL(), previous, 15000);
        QTRY_VERIFY(!s.main->stepBackPending());
        // The page reached is a step already: nothing new, and the editor stays hidden.
        QCOMPARE(s.count(), left);
        QVERIFY(!s.editor().isVisible());
        // Every step keeps its own page's title as its label.
        for (int i = 0; i < left; ++i)
            QCOMPARE(s.editor().store().at(i).label, QStringLiteral("Echo /echo/page%1").arg(i));
    } else {
        QTest::qWait(500); // nothing is to happen
        QCOMPARE(s.main->brwWebBrowser()->LocationURL(), before);
    }
}

// The page Step back returns to was reached by a form post: the return sends
// that post again, a duplicate, so no GET step of it appears.
void TestCommands::stepBackOntoAPostedPage()
{
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(QStringLiteral("/forms/submit-named.html"))));
    QVERIFY(browserdriver::click(s.main->brwWebBrowser(), QStringLiteral("#send")));
    QTRY_COMPARE_WITH_TIMEOUT(s.count(), 2, 15000);
    QVERIFY(s.waitIdle(s.main));
    QVERIFY(s.open(s.site.url(QStringLiteral("/echo/after"))));
    QTRY_COMPARE(s.count(), 3);
    const QList<RecordedStep> before = s.editor().store().steps();
    QVERIFY(!before.at(1).postdata.isEmpty());
    s.editor().hide();
    QVERIFY(userinput::click(s.button("lblStepBack")));
    QTRY_COMPARE_WITH_TIMEOUT(s.main->brwWebBrowser()->LocationURL(), before.at(1).url, 15000);
    QTRY_VERIFY(!s.main->stepBackPending());
    QVERIFY(s.waitIdle(s.main));
    QCOMPARE(s.count(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(s.editor().store().at(i).url, before.at(i).url);
        QCOMPARE(s.editor().store().at(i).postdata, before.at(i).postdata);
        QCOMPARE(s.editor().store().at(i).label, before.at(i).label);
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

// Reset chosen in a popup's Recorder menu clears the steps and takes the popup
// to the blank page too.
void TestCommands::resetInAPopup()
{
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(QStringLiteral("/window-open.html"))));
    QVERIFY(click(s.main->brwWebBrowser(), QStringLiteral("#open")));
    QTRY_COMPARE_WITH_TIMEOUT(s.popups().size(), 1, 15000);
    frmBrowser* popup = s.popups().first();
    QVERIFY(s.waitIdle(popup));
    QTRY_COMPARE_WITH_TIMEOUT(popup->brwWebBrowser()->LocationURL(),
                              s.site.url(QStringLiteral("/popups/popup.html")), 15000);
    QVERIFY(s.count() >= 2);
    QVERIFY(s.choose("mRestart", popup));
    QTRY_COMPARE(s.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(popup->brwWebBrowser()->LocationURL(), QStringLiteral("about:blank"), 15000);
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
}

void TestCommands::playWithoutSteps()
{
    Session s(*m_site);
    MessageBoxCatcher boxes;
    QVERIFY(userinput::click(s.button("Label2")));
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, QStringLiteral("No steps were recorded - nothing to play"));
    QVERIFY(s.main->findChild<QPushButton*>(QStringLiteral("Label2"))->isVisible());
    QVERIFY(s.main->chkSave()->isChecked());
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

// Pages in other encodings: the replay posts the bytes the browser sent.
void TestCommands::replaySendsTheRecordedBytes_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("Shift_JIS") << "/forms/cs-shift_jis.htm";
    QTest::newRow("text/plain in windows-1252") << "/forms/cs-text-plain-1252.htm";
}

void TestCommands::replaySendsTheRecordedBytes()
{
    QFETCH(QString, page);
    Session s(*m_site);
    QVERIFY(s.open(s.site.url(page)));
    m_site->clear();
    QVERIFY(browserdriver::click(s.main->brwWebBrowser(), QStringLiteral("#go")));
    QTRY_COMPARE_WITH_TIMEOUT(s.count(), 2, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 1, 15000);
    const QByteArray sent = m_site->navigations().first().body;
    QVERIFY(s.waitIdle(s.main));
    s.editor().playback().setInterval(400);
    m_site->clear();
    QVERIFY(userinput::click(s.button("Label2")));
    QTRY_COMPARE_WITH_TIMEOUT(m_site->navigations().size(), 2, 15000);
    const LoggedRequest replayed = m_site->navigations().at(1);
    QCOMPARE(replayed.method, QByteArray("POST"));
    QCOMPARE(replayed.body, sent);
}

// A recovery copy that cannot be written (a full disk) is told once, not at
// every recorded step; once a write succeeds again, the next failure is told.
void TestCommands::recoveryCopyFailureIsToldOnce()
{
    SmallDisk disk(programFolder(), 64);
    if (!disk.mounted())
        QSKIP("mounting a small disk needs root");
    const auto notices = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += w->objectName() == u"recoveryWriteFailure" && w->isVisible();
        return n;
    };
    {
        Session s(*m_site);
        QVERIFY(s.record(1));
        QCOMPARE(notices(), 0);
        disk.fill();
        QVERIFY(s.open(s.site.url(QStringLiteral("/echo/full1"))));
        QTRY_COMPARE(notices(), 1);
        QVERIFY(s.open(s.site.url(QStringLiteral("/echo/full2"))));
        QTest::qWait(200);
        QCOMPARE(notices(), 1);
        QCOMPARE(s.count(), 3); // recording goes on
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == u"recoveryWriteFailure")
                w->close();
        }
        QVERIFY(QFile::remove(programFile(QStringLiteral("filler"))));
        QVERIFY(s.open(s.site.url(QStringLiteral("/echo/room"))));
        QCOMPARE(loadRecovery(recoveryFile())->steps.size(), 4);
        disk.fill();
        QVERIFY(s.open(s.site.url(QStringLiteral("/echo/full3"))));
        QTRY_COMPARE(notices(), 1);
    }
    QFile::remove(programFile(QStringLiteral("filler")));
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
    // A full disk: the failure is told, the old file stays.
    {
        SmallDisk disk(m_data.filePath(QStringLiteral("disk")), 64);
        if (disk.mounted()) {
            const QString onDisk = m_data.filePath(QStringLiteral("disk/kept.xml"));
            QFile old(onDisk);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old bytes") == 9);
            old.close();
            disk.fill();
            frmBrowser::setNextFileName(onDisk);
            QVERIFY(userinput::activate(s.main));
            userinput::key(Qt::Key_S, Qt::ControlModifier);
            QTRY_COMPARE(boxes.count(), 2);
            QVERIFY2(boxes.last().text.contains(QLatin1String("kept.xml")), qPrintable(boxes.last().text));
            QVERIFY2(boxes.last().text.contains(QLatin1String("No space left on device")),
                     qPrintable(boxes.last().text));
            QVERIFY(old.open(QIODevice::ReadOnly));
            QCOMPARE(old.readAll(), QByteArray("old bytes"));
            boxes.seen.removeLast();
        }
    }
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

TALLYRO_BROWSER_TEST_MAIN(TestCommands)
#include "tst_commands.moc"
