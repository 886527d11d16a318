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

    // Signed in, the account's list; a mode chosen by its option or, for
    // Replace, by editing the list's text; uploaded (by the keyboard for the
    // full page: Enter on the focused button); signed in again with
    // another account (the same account's kept window is serviceFailures').
    void upload_data()
    {
        QTest::addColumn<int>("mode"); // 3: the list's text edited
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("performance") << 0 << QByteArray("performance");
        QTest::newRow("full page") << 1 << QByteArray("fullpage");
        QTest::newRow("replace") << 2 << QByteArray("replace 12");
        QTest::newRow("replace by editing the list") << 3 << QByteArray("replace 7");
    }

    void upload()
    {
        QFETCH(int, mode);
        MessageBoxCatcher boxes;
        frmfileUpload* upload = signIn(jdoe, true);
        QVERIFY(upload && QTest::qWaitForWindowExposed(upload));
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(m_windows->frmUpload(), nullptr);
        QCOMPARE(layoutcheck::cutCaptions(upload), QStringList());
        const QByteArray written = readFile(defaultTransactionFile());
        // The account's transactions come first (uploads of new ones by other tests follow).
        QComboBox* trans = upload->Trans();
        QVERIFY(trans->count() >= 2);
        QCOMPARE(
            (QList<QVariant>{trans->itemText(0), trans->itemData(0), trans->itemText(1), trans->itemData(1)}),
            (QList<QVariant>{u"Checkout"_qs, 7, u"Login"_qs, 12}));
        QVERIFY(upload->Option1(0)->isChecked() && !trans->isEnabled() && !upload->cRefresh()->isVisible());
        QCOMPARE(trans->currentText(), u"Please select a transaction"_qs);
        const int option = std::min(mode, 2);
        if (mode == 3) {
            trans->setEnabled(true);
            QVERIFY(userinput::click(trans->lineEdit()));
            QVERIFY(userinput::type(u"x"_qs));
        } else {
            click(upload->Option1(mode));
        }
        QVERIFY(upload->Option1(option)->isChecked());
        QCOMPARE(trans->isEnabled() && upload->cRefresh()->isVisible(), option == 2);
        if (option == 2)
            trans->setCurrentIndex(mode == 3 ? 0 : 1);
        // What goes is what the sign-in wrote: neither a step recorded since nor
        // the file another recorder sharing the folder wrote meanwhile.
        m_store->addURL(u"http://shop.test/late"_qs, QString());
        QVERIFY(writeFile(defaultTransactionFile(), transactionFileBytes({}, {u"x"_qs, {}})));
        if (mode == 1) { // by the keyboard: Tab to the button, Enter
            QVERIFY(userinput::tabTo(upload->Command1()));
            QVERIFY(userinput::key(Qt::Key_Enter, Qt::KeypadModifier));
        } else {
            click(upload->Command1());
        }
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, uploadSuccessText());
        QVERIFY(!upload->isVisible() && upload->Command1()->isEnabled());
        QCOMPARE(m_windows->frmfileUpload(), upload); // hidden, not closed
        QCOMPARE(received(u"upload"_qs, u"recorder.xml"_qs), written);
        QTEST(received(u"upload"_qs, u"target.txt"_qs), "target");
        // The next sign-in window opens with the saved account.
        m_windows->lblUpload_Click();
        frmUpload* again = m_windows->frmUpload();
        QVERIFY(again && QTest::qWaitForWindowExposed(again));
        QCOMPARE(layoutcheck::cutCaptions(again), QStringList());
        QCOMPARE(again->txtUsername()->text(), jdoe.username);
        QCOMPARE(again->txtKey()->text(), jdoe.key);
        QVERIFY(again->cSave()->isChecked());
        // Another account's sign-in (Enter in the key field) shows that account's
        // list with nothing chosen.
        upload = signIn({u"ann"_qs, u"k3y"_qs}, false, true);
        QVERIFY(upload && upload->isVisible());
        QCOMPARE(upload->Trans()->count(), 1);
        QCOMPARE(upload->Trans()->itemText(0), u"Basket"_qs);
        QCOMPARE(upload->Trans()->currentIndex(), -1);
        QVERIFY(upload->Option1(0)->isChecked());
        QCOMPARE(boxes.count(), 1);
    }

    // A request that goes no further: the message, the window still up for another try, and nothing sent.
    void refused_data()
    {
        QTest::addColumn<QString>("window"); // where it is refused: sign-in, upload or report
        QTest::addColumn<QString>("first");  // typed: the user name and key, or the name and e-mail
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("before"); // "no steps", "file blocked", "delimiter", "refresh" or nothing
        QTest::addColumn<QString>("message");
        const QString invalid = u"Please enter your username and key!"_qs;
        const QString file = QDir::toNativeSeparators(defaultTransactionFile());
        const QString signIn = u"sign-in"_qs;
        const QString upload = u"upload"_qs;
        const QString report = u"report"_qs;
        QTest::newRow("sign-in, no user name") << signIn << QString() << u"k"_qs << QString() << invalid;
        QTest::newRow("sign-in, no key") << signIn << u"u"_qs << QString() << QString() << invalid;
        QTest::newRow("sign-in, no steps")
            << signIn << u"u"_qs << u"k"_qs << u"no steps"_qs << u"No steps recorded"_qs;
        QTest::newRow("sign-in, file cannot be written")
            << signIn << jdoe.username << jdoe.key << u"file blocked"_qs << file;
        QTest::newRow("sign-in, refused by the service")
            << signIn << jdoe.username << u"wrong"_qs << QString() << u"Error: Invalid username or key"_qs;
        QTest::newRow("upload, file holds the part delimiter")
            << upload << jdoe.username << jdoe.key << u"delimiter"_qs << delimiterInPartText(u"file"_qs);
        QTest::newRow("upload, no transaction chosen after Refresh")
            << upload << jdoe.username << jdoe.key << u"refresh"_qs << u"Please select transaction"_qs;
        QTest::newRow("report, a field empty")
            << report << u"Ann"_qs << QString() << QString() << u"Please fill in all the fields"_qs;
        QTest::newRow("report, file cannot be written")
            << report << u"Ann"_qs << u"ann@shop.test"_qs << u"file blocked"_qs << file;
        QTest::newRow("report, description holds the part delimiter")
            << report << u"Ann"_qs << u"ann@shop.test"_qs << u"delimiter"_qs
            << delimiterInPartText(u"description"_qs);
    }

    void refused()
    {
        QFETCH(QString, window);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, before);
        QFETCH(QString, message);
        if (before == u"file blocked") // a folder in the file's place cannot be replaced by it
            QVERIFY(QDir(programFolder()).mkdir(u"recorder.xml"_qs));
        // The address encoding keeps these characters, so the text reaches the file as it is.
        if (before == u"delimiter" && window == u"upload")
            m_store->addURL(u"http://shop.test/?a=----Xu02=$"_qs, QString());
        const QStringList sent = stored(u"upload"_qs) + stored(u"report"_qs);
        MessageBoxCatcher boxes;
        QAbstractButton* go = nullptr;
        if (window == u"report") {
            m_windows->openProblemReport();
            frmProblem* report = m_windows->frmProblem();
            QVERIFY(report);
            typeInto(report->fName(), first);
            typeInto(report->fEmail(), second);
            report->description()->setPlainText(
                u"It fails.\n"_qs + (before == u"delimiter" ? u"----Xu02=$\nname=x"_qs : QString()));
            go = report->SubmitProblem();
        } else {
            m_windows->lblUpload_Click();
            QVERIFY(m_windows->frmUpload());
            if (before == u"no steps")
                m_store->clearitems();
            typeInto(m_windows->frmUpload()->txtUsername(), first);
            typeInto(m_windows->frmUpload()->txtKey(), second);
            go = m_windows->frmUpload()->Command2();
        }
        if (window == u"upload") {
            click(go);
            frmfileUpload* upload = m_windows->frmfileUpload();
            QVERIFY(upload);
            go = upload->Command1();
            if (before == u"refresh") {
                click(upload->Option1(2));
                upload->Trans()->setCurrentIndex(0);
                click(upload->cRefresh()); // reloads the list and leaves no entry chosen
                QCOMPARE(upload->Trans()->itemText(1), u"Login"_qs);
                QCOMPARE(upload->Trans()->currentText(), u"Please select transaction"_qs);
            }
        }
        click(go);
        QCOMPARE(boxes.count(), 1);
        QVERIFY2(boxes.last().text.contains(message), qPrintable(boxes.last().text));
        QCOMPARE(stored(u"upload"_qs) + stored(u"report"_qs), sent);
        if (window == u"sign-in") {
            QCOMPARE(m_windows->frmfileUpload(), nullptr);
            QVERIFY(m_windows->frmUpload());
            go = m_windows->frmUpload()->Command2(); // after a refusal by the service, a new window's
        }
        QVERIFY(go->window()->isVisible() && go->isEnabled());
        if (second == u"wrong") {
            // The new sign-in window is filled from recorder.ini, which the refusal cleared.
            frmUpload* form = m_windows->frmUpload();
            QCOMPARE(form->txtUsername()->text() + form->txtKey()->text(), QString());
            QVERIFY(!form->cSave()->isChecked());
        } else if (window == u"sign-in" && before != u"file blocked") {
            QVERIFY(!QFile::exists(defaultTransactionFile()));
        }
        if (before != u"no steps")
            return;
        // The main window's command refuses an empty store before any window opens.
        m_windows->frmUpload()->close();
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

    // The service unreachable, then answering an error slowly: the reason shows
    // each time; while the answer comes the window repaints and takes no input.
    void serviceFailures()
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
        // A stand-in that answers every request with an error text of 160 bytes, a few
        // bytes at a time; the kept window comes back without asking it for the list.
        QProcess answering;
        const QByteArray host = startStandin(
            answering, m_service.filePath(u"accounts.txt"_qs), m_service.filePath(u"store-other"_qs),
            {u"--answer-size"_qs, u"160"_qs, u"--answer-slowly"_qs, u"25"_qs});
        QVERIFY(!host.isEmpty());
        qputenv("TALLYRO_SERVICE_HOST", host);
        QCOMPARE(signIn(jdoe), upload);
        // The window is asked to repaint all along; it does so only where its event
        // loop turns. Once busy, a person clicks another mode.
        PaintsWhileBusy paints(upload);
        bool clicked = false;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, upload, [&] {
            upload->update();
            if (paints.paints > 0 && !std::exchange(clicked, true))
                userinput::click(upload->Option1(1));
        });
        ticker.start(20);
        QElapsedTimer clock;
        clock.start();
        click(upload->Command1());
        const qint64 took = clock.elapsed();
        answering.kill();
        answering.waitForFinished(5000);
        QCOMPARE(boxes.count(), 3);
        QCOMPARE(boxes.last().icon, QMessageBox::Critical);
        QVERIFY(boxes.last().text.startsWith(uploadFailureText(QString()) + u"Error: "_qs));
        QVERIFY(!upload->isVisible() && clicked && upload->Option1(0)->isChecked());
        QVERIFY2(took < 10'000, qPrintable(QString::number(took)));
        QVERIFY2(paints.paints >= 3, qPrintable(QString::number(paints.paints)));
    }

    void problemReport()
    {
        QVERIFY(writeFile(programFile(u"recorder.ini"_qs), iniFileBytes(jdoe)));
        // Save as takes the saved account without making the sign-in window.
        QCOMPARE(m_windows->currentAccount().key, jdoe.key);
        QVERIFY(!m_windows->frmUpload());
        MessageBoxCatcher boxes;
        m_windows->openProblemReport();
        frmProblem* report = m_windows->frmProblem();
        QVERIFY(report && QTest::qWaitForWindowExposed(report));
        QCOMPARE(layoutcheck::cutCaptions(report), QStringList());
        typeInto(report->fName(), u"Ann"_qs);
        typeInto(report->fEmail(), u"ann@shop.test"_qs);
        report->description()->setPlainText(u"It fails.\nOn every page."_qs);
        // What the sign-in window showed is replaced by the saved account.
        m_windows->loadedSignIn().txtUsername()->setText(u"typed"_qs);
        // Tab to Submit; Enter presses it.
        QVERIFY(userinput::click(report->fEmail()));
        QVERIFY(userinput::tabTo(report->SubmitProblem()));
        QVERIFY(userinput::key(Qt::Key_Return));
        QCOMPARE(boxes.count(), 1);
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
        // Cancel closes it (the next opening makes a new one, as the refused reports show).
        click(report->btnCancel());
        QCOMPARE(m_windows->frmProblem(), nullptr);
    }

private:
    // Opens the sign-in window, types the account and presses Upload; the upload window, if one came.
    frmfileUpload* signIn(const AccountCredentials& account, bool save = false, bool byEnter = false)
    {
        m_windows->lblUpload_Click();
        frmUpload* form = m_windows->frmUpload();
        if (!form || !form->isVisible())
            return nullptr;
        typeInto(form->txtUsername(), account.username);
        typeInto(form->txtKey(), account.key);
        if (form->cSave()->isChecked() != save)
            click(form->cSave());
        if (!byEnter)
            click(form->Command2());
        else if (!userinput::click(form->txtKey()) || !userinput::key(Qt::Key_Return))
            return nullptr;
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
