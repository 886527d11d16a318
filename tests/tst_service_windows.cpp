// The service windows' flow against the local stand-in of the service; the
// bytes that go on the wire are tst_service's.
#include "Files.h"
#include "LayoutCheck.h"
#include "MessageBoxCatcher.h"
#include "ProgramFolder.h"
#include "RecordingSession.h"
#include "ServiceRules.h"
#include "ServiceWindows.h"
#include "Standin.h"
#include "TransactionFile.h"
#include "UserInput.h"
#include "frmProblem.h"
#include "frmUpload.h"
#include "frmfileUpload.h"

#include <QtTest>
#include <QtWidgets>

namespace {

void click(QAbstractButton* button)
{
    QVERIFY(button->isVisible() && button->isEnabled());
    QPoint at(-1, -1);
    if (auto* box = qobject_cast<QCheckBox*>(button)) { // on the box itself
        QStyleOptionButton option;
        option.initFrom(box);
        at = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center();
    }
    QVERIFY(userinput::click(button, at));
}

// Replaces a text box's text by typing into it.
void typeInto(QWidget* edit, const QString& text)
{
    QVERIFY(userinput::click(edit));
    userinput::key(Qt::Key_A, Qt::ControlModifier);
    userinput::key(Qt::Key_Delete);
    QVERIFY(userinput::type(text));
}

// Counts a widget's paint events while the busy cursor shows, that is while an
// exchange runs (a message box sets the normal cursor over it).
class PaintsWhileBusy : public QObject
{
public:
    explicit PaintsWhileBusy(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        paints += event->type() == QEvent::Paint && cursor && cursor->shape() == Qt::WaitCursor;
        return QObject::eventFilter(watched, event);
    }
};

const AccountCredentials jdoe{u"jdoe"_qs, u"s3cret"_qs};

} // namespace

class TestServiceWindows : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid() && m_service.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path()));
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
        QVERIFY(writeFile(m_service.filePath(u"accounts.txt"_qs),
                          "account jdoe s3cret\ntransaction 7 Checkout\ntransaction 12 Login\n"
                          "account ann k3y\ntransaction 31 Basket\n"));
        m_host = startStandin(m_standin, m_service.filePath(u"accounts.txt"_qs), store());
        QVERIFY(!m_host.isEmpty());
    }

    void cleanupTestCase()
    {
        m_standin.kill();
        m_standin.waitForFinished(5000);
    }

    // Two recorded pages, the second a form post, and no saved files.
    void init()
    {
        qputenv("TALLYRO_SERVICE_HOST", m_host);
        QDir folder(programFolder());
        for (const QString& name : {u"recorder.ini"_qs, u"recorder.xml"_qs}) {
            folder.remove(name);
            folder.rmdir(name);
        }
        m_fixture.emplace();
        m_store = &m_fixture->session.store();
        m_store->addURL(u"http://shop.test/"_qs, QString());
        m_store->addURL(u"http://shop.test/login"_qs, u"user=ann&pw=x y"_qs);
        m_windows = &m_fixture->windows;
    }

    void cleanup()
    {
        m_fixture.reset();
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void uploadEndToEnd()
    {
        MessageBoxCatcher boxes;
        frmfileUpload* upload = signIn(jdoe, true);
        QVERIFY(upload && QTest::qWaitForWindowExposed(upload));
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(m_windows->frmUpload(), nullptr);
        QCOMPARE(layoutcheck::cutCaptions(upload), QStringList());
        const QByteArray written = readFile(defaultTransactionFile());
        // The account's transactions come first (uploads of new ones by other tests follow).
        QComboBox* trans = upload->Trans();
        const int listed = trans->count();
        QVERIFY(listed >= 2);
        QCOMPARE(
            (QList<QVariant>{trans->itemText(0), trans->itemData(0), trans->itemText(1), trans->itemData(1)}),
            (QList<QVariant>{u"Checkout"_qs, 7, u"Login"_qs, 12}));
        QVERIFY(upload->Option1(0)->isChecked() && !trans->isEnabled() && !upload->cRefresh()->isVisible());
        QCOMPARE(trans->currentText(), u"Please select a transaction"_qs);
        // Replace the steps of "Login"; a step recorded after the sign-in is not sent.
        click(upload->Option1(2));
        QVERIFY(trans->isEnabled() && upload->cRefresh()->isVisible());
        trans->setCurrentIndex(1);
        m_store->addURL(u"http://shop.test/late"_qs, QString());
        click(upload->Command1());
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, uploadSuccessText());
        QVERIFY(!upload->isVisible() && upload->Command1()->isEnabled());
        QCOMPARE(m_windows->frmfileUpload(), upload); // hidden, not closed
        QCOMPARE(received(u"upload"_qs, u"recorder.xml"_qs), written);
        QCOMPARE(received(u"upload"_qs, u"target.txt"_qs), QByteArray("replace 12"));
        // The next sign-in window opens with the saved account.
        m_windows->lblUpload_Click();
        frmUpload* again = m_windows->frmUpload();
        QVERIFY(again && QTest::qWaitForWindowExposed(again));
        QCOMPARE(layoutcheck::cutCaptions(again), QStringList());
        QCOMPARE(again->txtUsername()->text(), jdoe.username);
        QCOMPARE(again->txtKey()->text(), jdoe.key);
        QVERIFY(again->cSave()->isChecked());
        // Signing in again shows the kept upload window as it was, without a new list request.
        click(again->Command2());
        QCOMPARE(m_windows->frmfileUpload(), upload);
        QVERIFY(upload->isVisible() && upload->Option1(2)->isChecked());
        QCOMPARE(trans->count(), listed);
    }

    void uploadModes_data()
    {
        QTest::addColumn<int>("mode"); // 3: the list's text edited
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("performance") << 0 << QByteArray("performance");
        QTest::newRow("full page") << 1 << QByteArray("fullpage");
        QTest::newRow("replace by editing the list") << 3 << QByteArray("replace 7");
        QTest::newRow("replace, no transaction chosen after Refresh") << 2 << QByteArray();
    }

    void uploadModes()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, target);
        MessageBoxCatcher boxes;
        frmfileUpload* upload = signIn(jdoe);
        QVERIFY(upload);
        if (mode == 3) {
            upload->Trans()->setEnabled(true);
            QVERIFY(userinput::click(upload->Trans()->lineEdit()));
            QVERIFY(userinput::type(u"x"_qs));
            QVERIFY(upload->Option1(2)->isChecked());
            upload->Trans()->setCurrentIndex(0);
        } else {
            click(upload->Option1(mode));
        }
        if (mode == 2) {
            upload->Trans()->setCurrentIndex(0);
            click(upload->cRefresh()); // reloads the list and leaves no entry chosen
            QCOMPARE(upload->Trans()->itemText(1), u"Login"_qs);
            QCOMPARE(upload->Trans()->currentText(), u"Please select transaction"_qs);
        }
        const QStringList before = stored(u"upload"_qs);
        click(upload->Command1());
        QCOMPARE(boxes.count(), 1);
        if (target.isEmpty()) {
            QCOMPARE(boxes.last().text, u"Please select transaction"_qs);
            QVERIFY(upload->isVisible());
            QCOMPARE(stored(u"upload"_qs), before);
            return;
        }
        QCOMPARE(boxes.last().text, uploadSuccessText());
        QCOMPARE(stored(u"upload"_qs).size(), before.size() + 1);
        QCOMPARE(received(u"upload"_qs, u"target.txt"_qs), target);
        // The upload window stays loaded; a sign-in with another account shows
        // that account's list with nothing chosen.
        QVERIFY(!upload->isVisible());
        upload = signIn({u"ann"_qs, u"k3y"_qs});
        QVERIFY(upload && upload->isVisible());
        QCOMPARE(upload->Trans()->count(), 1);
        QCOMPARE(upload->Trans()->itemText(0), u"Basket"_qs);
        QCOMPARE(upload->Trans()->currentIndex(), -1);
        QVERIFY(upload->Option1(0)->isChecked());
        QCOMPARE(boxes.count(), 1);
    }

    void uploadOutcomes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("file replaced by another recorder after the sign-in") << u"replaced"_qs;
        QTest::newRow("file holds the part delimiter") << u"delimiter"_qs;
        QTest::newRow("error answer sent slowly") << u"sent"_qs;
    }

    void uploadOutcomes()
    {
        QFETCH(QString, file);
        MessageBoxCatcher boxes;
        // The address encoding keeps these characters, so the text reaches the file as it is.
        if (file == u"delimiter")
            m_store->addURL(u"http://shop.test/?a=----Xu02=$"_qs, QString());
        frmfileUpload* upload = signIn(jdoe);
        QVERIFY(upload);
        const QByteArray signedIn = readFile(defaultTransactionFile());
        // Another recorder sharing the folder signs in meanwhile: the file changes.
        if (file == u"replaced")
            QVERIFY(writeFile(defaultTransactionFile(), transactionFileBytes({}, {u"x"_qs, {}})));
        // A stand-in that answers every request with an error text of 160 bytes, a few bytes at a time.
        QProcess answering;
        if (file == u"sent") {
            const QByteArray host = startStandin(
                answering, m_service.filePath(u"accounts.txt"_qs), m_service.filePath(u"store-other"_qs),
                {u"--answer-size"_qs, u"160"_qs, u"--answer-slowly"_qs, u"25"_qs});
            QVERIFY(!host.isEmpty());
            qputenv("TALLYRO_SERVICE_HOST", host);
        }
        // The window is asked to repaint all along; it does so only where its event loop turns.
        PaintsWhileBusy paints(upload);
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, upload, [upload] { upload->update(); });
        ticker.start(20);
        const QStringList before = stored(u"upload"_qs);
        QElapsedTimer clock;
        clock.start();
        click(upload->Command1());
        const qint64 took = clock.elapsed();
        answering.kill();
        answering.waitForFinished(5000);
        QCOMPARE(boxes.count(), 1);
        QVERIFY(upload->Command1()->isEnabled());
        if (file == u"replaced") {
            // This window's upload carries what its own sign-in wrote.
            QCOMPARE(boxes.last().icon, QMessageBox::Information);
            QCOMPARE(stored(u"upload"_qs).size(), before.size() + 1);
            QCOMPARE(received(u"upload"_qs, u"recorder.xml"_qs), signedIn);
            return;
        }
        QCOMPARE(boxes.last().icon, QMessageBox::Critical);
        QCOMPARE(stored(u"upload"_qs), before);
        if (file == u"delimiter") {
            // Nothing is sent; the window stays for another try.
            QVERIFY2(boxes.last().text.contains(delimiterInPartText(u"file"_qs)),
                     qPrintable(boxes.last().text));
            QVERIFY(upload->isVisible());
            return;
        }
        // The whole answer, and the window repainted while it came.
        QVERIFY(!upload->isVisible());
        QVERIFY2(took < 10'000, qPrintable(QString::number(took)));
        QCOMPARE(boxes.last().text.size(), uploadFailureText(QString()).size() + 160);
        QVERIFY(boxes.last().text.startsWith(uploadFailureText(QString()) + u"Error: "_qs));
        QVERIFY2(paints.paints >= 3, qPrintable(QString::number(paints.paints)));
    }

    // A sign-in that goes no further: the message, the sign-in window still up,
    // no upload window and nothing sent.
    void signInRefused_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("before"); // "no steps", "file blocked" or nothing
        QTest::addColumn<QString>("message");
        const QString invalid = u"Please enter your username and key!"_qs;
        QTest::newRow("no user name") << QString() << u"k"_qs << QString() << invalid;
        QTest::newRow("no key") << u"u"_qs << QString() << QString() << invalid;
        QTest::newRow("no steps") << u"u"_qs << u"k"_qs << u"no steps"_qs << u"No steps recorded"_qs;
        QTest::newRow("file cannot be written") << u"jdoe"_qs << u"s3cret"_qs << u"file blocked"_qs
                                                << QDir::toNativeSeparators(defaultTransactionFile());
        QTest::newRow("refused by the service")
            << u"jdoe"_qs << u"wrong"_qs << QString() << u"Error: Invalid username or key"_qs;
    }

    void signInRefused()
    {
        QFETCH(QString, user);
        QFETCH(QString, key);
        QFETCH(QString, before);
        QFETCH(QString, message);
        if (before == u"file blocked") // a folder in the file's place cannot be replaced by it
            QVERIFY(QDir(programFolder()).mkdir(u"recorder.xml"_qs));
        const QStringList uploads = stored(u"upload"_qs);
        MessageBoxCatcher boxes;
        m_windows->lblUpload_Click();
        frmUpload* form = m_windows->frmUpload();
        QVERIFY(form);
        if (before == u"no steps")
            m_store->clearitems();
        typeInto(form->txtUsername(), user);
        typeInto(form->txtKey(), key);
        click(form->Command2());
        QCOMPARE(boxes.count(), 1);
        QVERIFY2(boxes.last().text.contains(message), qPrintable(boxes.last().text));
        QCOMPARE(m_windows->frmfileUpload(), nullptr);
        QCOMPARE(stored(u"upload"_qs), uploads);
        form = m_windows->frmUpload();
        QVERIFY(form && form->isVisible());
        if (key == u"wrong") {
            // A new sign-in window, filled from recorder.ini, which the refusal cleared.
            QCOMPARE(form->txtUsername()->text() + form->txtKey()->text(), QString());
            QVERIFY(!form->cSave()->isChecked());
        } else if (before.isEmpty()) {
            QVERIFY(!QFile::exists(defaultTransactionFile()));
        }
        if (before != u"no steps")
            return;
        // The main window's command refuses an empty store before any window opens.
        form->close();
        m_windows->lblUpload_Click();
        QCOMPARE(boxes.count(), 2);
        QCOMPARE(boxes.last().text, u"No steps recorded yet."_qs);
        QCOMPARE(m_windows->frmUpload(), nullptr);
    }

    void signInTellsAnUnreadableCredentialsFile()
    {
        // A folder in the file's place can be neither read nor created.
        QVERIFY(QDir(programFolder()).mkdir(u"recorder.ini"_qs));
        MessageBoxCatcher boxes;
        m_windows->lblUpload_Click();
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().icon, QMessageBox::Warning);
        QVERIFY(boxes.last().text.contains(QDir::toNativeSeparators(programFile(u"recorder.ini"_qs))));
        QVERIFY(m_windows->frmUpload() && m_windows->frmUpload()->isVisible());
        QVERIFY(m_windows->frmUpload()->txtUsername()->text().isEmpty());
    }

    void unreachableService()
    {
        MessageBoxCatcher boxes;
        frmfileUpload* upload = signIn(jdoe);
        QVERIFY(upload);
        // The service goes away: port 9 (discard) on the loopback refuses connections.
        qputenv("TALLYRO_SERVICE_HOST", "127.0.0.1:9");
        click(upload->Option1(2));
        click(upload->cRefresh());
        QCOMPARE(boxes.count(), 1);
        QVERIFY(boxes.last().text.startsWith(serviceUnreachableText(QString())));
        QVERIFY(boxes.last().text.size() > serviceUnreachableText(QString()).size()); // and why
        QCOMPARE(upload->Trans()->count(), 0);
        QVERIFY(upload->isVisible());
        click(upload->Option1(0));
        click(upload->Command1());
        QCOMPARE(boxes.count(), 2);
        QVERIFY(boxes.last().text.startsWith(uploadFailureText(QString())));
        QVERIFY(boxes.last().text.size() > uploadFailureText(QString()).size());
        QVERIFY(!upload->isVisible() && upload->Command1()->isEnabled());
    }

    // A report refused before anything is sent (the message, the window kept),
    // or sent whole.
    void problemReport_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("refusal"); // part of the message; empty: sent
        QTest::newRow("file cannot be written")
            << u"It fails."_qs << QDir::toNativeSeparators(defaultTransactionFile());
        QTest::newRow("description holds the part delimiter")
            << u"It fails.\n----Xu02=$\nname=x"_qs << delimiterInPartText(u"description"_qs);
        QTest::newRow("sent") << u"It fails.\nOn every page."_qs << QString();
    }

    void problemReport()
    {
        QFETCH(QString, description);
        QFETCH(QString, refusal);
        if (refusal.startsWith(QDir::toNativeSeparators(programFolder()))) // a folder in the file's place
            QVERIFY(QDir(programFolder()).mkdir(u"recorder.xml"_qs));
        QVERIFY(writeFile(programFile(u"recorder.ini"_qs), iniFileBytes(jdoe)));
        // Save as takes the saved account without making the sign-in window.
        QCOMPARE(m_windows->currentAccount().key, jdoe.key);
        QVERIFY(!m_windows->frmUpload());
        MessageBoxCatcher boxes;
        m_windows->openProblemReport();
        frmProblem* report = m_windows->frmProblem();
        QVERIFY(report && QTest::qWaitForWindowExposed(report));
        QCOMPARE(layoutcheck::cutCaptions(report), QStringList());
        // Every field is needed.
        typeInto(report->fName(), u"Ann"_qs);
        typeInto(report->fEmail(), u"ann@shop.test"_qs);
        click(report->SubmitProblem());
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, u"Please fill in all the fields"_qs);
        QVERIFY(report->SubmitProblem()->isEnabled());
        // What the sign-in window showed is replaced by the saved account.
        m_windows->loadedSignIn().txtUsername()->setText(u"typed"_qs);
        report->description()->setPlainText(description);
        const QStringList before = stored(u"report"_qs);
        click(report->SubmitProblem());
        QCOMPARE(boxes.count(), 2);
        if (!refusal.isEmpty()) {
            QCOMPARE(boxes.last().icon, QMessageBox::Critical);
            QVERIFY2(boxes.last().text.contains(refusal), qPrintable(boxes.last().text));
            QCOMPARE(stored(u"report"_qs), before);
            QVERIFY(report->isVisible() && report->SubmitProblem()->isEnabled());
            return;
        }
        QCOMPARE(boxes.last().text, reportSuccessText());
        const QString r = u"report"_qs;
        QCOMPARE((QList<QByteArray>{received(r, u"name.txt"_qs), received(r, u"email.txt"_qs),
                                    received(r, u"user.txt"_qs), received(r, u"description.txt"_qs)}),
                 (QList<QByteArray>{"Ann", "ann@shop.test", "jdoe", "It fails.\r\nOn every page."}));
        QCOMPARE(received(r, u"recorder.xml"_qs), transactionFileBytes(m_store->steps(), jdoe));
        // Hidden with its texts and a disabled Submit; shown again as it was.
        QVERIFY(!report->isVisible());
        m_windows->openProblemReport();
        QCOMPARE(m_windows->frmProblem(), report);
        QVERIFY(report->isVisible() && !report->SubmitProblem()->isEnabled());
        QCOMPARE(report->fName()->text(), u"Ann"_qs);
        // Cancel closes it; the next opening is fresh.
        click(report->btnCancel());
        QCOMPARE(m_windows->frmProblem(), nullptr);
        m_windows->openProblemReport();
        frmProblem* fresh = m_windows->frmProblem();
        QVERIFY(fresh && fresh != report && fresh->SubmitProblem()->isEnabled());
        QCOMPARE(fresh->fName()->text(), QString());
    }

private:
    // Opens the sign-in window, types the account and presses Upload; the upload window, if one came.
    frmfileUpload* signIn(const AccountCredentials& account, bool save = false)
    {
        m_windows->lblUpload_Click();
        frmUpload* form = m_windows->frmUpload();
        if (!form || !form->isVisible())
            return nullptr;
        typeInto(form->txtUsername(), account.username);
        typeInto(form->txtKey(), account.key);
        if (form->cSave()->isChecked() != save)
            click(form->cSave());
        click(form->Command2());
        return m_windows->frmfileUpload();
    }
    QString store(const QString& entry = {}) const { return m_service.filePath(u"store/"_qs + entry); }
    QStringList stored(const QString& kind) const
    {
        return QDir(store()).entryList({kind + u"-*"_qs}, QDir::Dirs, QDir::Name);
    }
    // A file of the newest upload or report the stand-in kept.
    QByteArray received(const QString& kind, const QString& file) const
    {
        return readFile(store(stored(kind).value(stored(kind).size() - 1) + u'/' + file));
    }

    QTemporaryDir m_data;
    QTemporaryDir m_service;
    QProcess m_standin;
    QByteArray m_host;
    struct Fixture
    {
        RecordingSession session;
        QWidget mainWindow;
        ServiceWindows windows{session, &mainWindow};
    };
    std::optional<Fixture> m_fixture;
    StepStore* m_store = nullptr;
    ServiceWindows* m_windows = nullptr;
};

QTEST_MAIN(TestServiceWindows)
#include "tst_service_windows.moc"
