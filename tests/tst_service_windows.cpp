#include "MessageBoxCatcher.h"
#include "ProgramFolder.h"
#include "ServiceRules.h"
#include "ServiceWindows.h"
#include "StepStore.h"
#include "TransactionFile.h"
#include "frmProblem.h"
#include "frmUpload.h"
#include "frmfileUpload.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

void click(QAbstractButton* button)
{
    QVERIFY(button->isVisible() && button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
}

// Two recorded pages, the second a form post.
void recordTwoSteps(StepStore& store)
{
    store.addURL(QStringLiteral("http://shop.test/"), QString());
    store.addURL(QStringLiteral("http://shop.test/login"), QStringLiteral("user=ann&pw=x y"));
    store.setSettings(
        1, StepSettings{QStringLiteral("Welcome"), {}, {}, {}, {}, {}, {}, QStringLiteral("Log in")});
}

} // namespace

class TestServiceWindows : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void signInWindowControls();
    void uploadEndToEnd();
    void uploadModes_data();
    void uploadModes();
    void replaceNeedsAChosenTransaction();
    void uploadRefusedOrUnreadable_data();
    void uploadRefusedOrUnreadable();
    void signInRefusals_data();
    void signInRefusals();
    void signInStopsWhenTheFileCannotBeWritten();
    void refusedListBringsSignInBack();
    void unreachableService();
    void problemReport();
    void problemReportNotSent_data();
    void problemReportNotSent();
    void currentAccountLoadsSavedValues();

private:
    void startStandin();
    void signIn(ServiceWindows& windows, const QString& user, const QString& key, bool save);
    QStringList stored(const QString& kind) const;

    QTemporaryDir m_data;
    QTemporaryDir m_service;
    QProcess m_standin;
    QByteArray m_host;
    std::unique_ptr<QWidget> m_mainWindow;
    std::unique_ptr<StepStore> m_store;
    std::unique_ptr<ServiceWindows> m_windows;
};

void TestServiceWindows::initTestCase()
{
    QVERIFY(m_data.isValid() && m_service.isValid());
    // The program's folder lives in a temporary folder for the whole run.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path()));
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    startStandin();
}

void TestServiceWindows::startStandin()
{
    const QString accounts = m_service.filePath(QStringLiteral("accounts.txt"));
    writeAll(accounts, "# test accounts\n"
                       "account jdoe s3cret\n"
                       "transaction 7 Checkout\n"
                       "transaction 12 Login\n");
    m_standin.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_standin.start(QStringLiteral(TALLYRO_STANDIN_SERVICE),
                    {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--accounts"), accounts,
                     QStringLiteral("--store"), m_service.filePath(QStringLiteral("store"))});
    QVERIFY(m_standin.waitForStarted(5000));
    QByteArray line;
    for (int i = 0; i < 50 && !line.endsWith('\n'); ++i) {
        m_standin.waitForReadyRead(200);
        line += m_standin.readLine();
    }
    QVERIFY2(line.startsWith("Listening on "), line.constData());
    m_host = line.mid(13).trimmed();
}

void TestServiceWindows::cleanupTestCase()
{
    m_standin.kill();
    m_standin.waitForFinished(5000);
}

void TestServiceWindows::init()
{
    qputenv("TALLYRO_SERVICE_HOST", m_host);
    QDir folder(programFolder());
    for (const QString& name : {QStringLiteral("recorder.ini"), QStringLiteral("recorder.xml")}) {
        folder.remove(name);
        folder.rmdir(name);
    }
    m_mainWindow = std::make_unique<QWidget>();
    m_store = std::make_unique<StepStore>();
    recordTwoSteps(*m_store);
    m_windows = std::make_unique<ServiceWindows>(*m_store, m_mainWindow.get());
}

void TestServiceWindows::cleanup()
{
    m_windows.reset();
    m_mainWindow.reset();
    m_store.reset();
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

QStringList TestServiceWindows::stored(const QString& kind) const
{
    return QDir(m_service.filePath(QStringLiteral("store")))
        .entryList({kind + QStringLiteral("-*")}, QDir::Dirs, QDir::Name);
}

void TestServiceWindows::signIn(ServiceWindows& windows, const QString& user, const QString& key, bool save)
{
    windows.lblUpload_Click();
    frmUpload* form = windows.frmUpload();
    QVERIFY(form && form->isVisible());
    form->txtUsername()->setText(user);
    form->txtKey()->setText(key);
    form->cSave()->setChecked(save);
    click(form->Command2());
}

void TestServiceWindows::signInWindowControls()
{
    m_windows->lblUpload_Click();
    frmUpload* form = m_windows->frmUpload();
    QVERIFY(form);
    QVERIFY(QTest::qWaitForWindowActive(form));
    QCOMPARE(form->windowTitle(), QStringLiteral("Upload Form"));

    // Typing limits, and the tab order user name, key, Upload.
    QTRY_VERIFY(form->txtUsername()->hasFocus());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("u").repeated(25));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(form->txtKey()->hasFocus());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("k").repeated(40));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(form->Command2()->hasFocus());
    QCOMPARE(form->txtUsername()->text(), QStringLiteral("u").repeated(20));
    QCOMPARE(form->txtKey()->text(), QStringLiteral("k").repeated(32));
    QCOMPARE(form->txtKey()->echoMode(), QLineEdit::Normal);
}

void TestServiceWindows::uploadEndToEnd()
{
    MessageBoxCatcher boxes;
    signIn(*m_windows, QStringLiteral("jdoe"), QStringLiteral("s3cret"), true);
    QCOMPARE(boxes.count(), 0);

    // The sign-in wrote the transaction file with the typed account and remembered it.
    const QString xmlPath = defaultTransactionFile();
    const QByteArray written = readAll(xmlPath);
    QCOMPARE(written,
             transactionFileBytes(m_store->steps(), {QStringLiteral("jdoe"), QStringLiteral("s3cret")}));
    QCOMPARE(readAll(programFile(QStringLiteral("recorder.ini"))),
             iniFileBytes({QStringLiteral("jdoe"), QStringLiteral("s3cret")}));

    // The sign-in window is gone; the upload window lists the account's transactions.
    QCOMPARE(m_windows->frmUpload(), nullptr);
    frmfileUpload* upload = m_windows->frmfileUpload();
    QVERIFY(upload && upload->isVisible());
    QComboBox* trans = upload->Trans();
    // The account's two transactions come first; uploads of new ones made by
    // other tests follow them.
    const int listed = trans->count();
    QVERIFY(listed >= 2);
    QCOMPARE(trans->itemText(0), QStringLiteral("Checkout"));
    QCOMPARE(trans->itemData(0).toInt(), 7);
    QCOMPARE(trans->itemText(1), QStringLiteral("Login"));
    QCOMPARE(trans->itemData(1).toInt(), 12);
    QVERIFY(upload->Option1(0)->isChecked());
    QVERIFY(!trans->isEnabled());
    QCOMPARE(trans->currentText(), QStringLiteral("Please select a transaction"));
    QVERIFY(!upload->cRefresh()->isVisible());

    // Replace the steps of "Login".
    const QStringList before = stored(QStringLiteral("upload"));
    click(upload->Option1(2));
    QVERIFY(trans->isEnabled() && upload->cRefresh()->isVisible());
    trans->setCurrentIndex(1);
    // Steps recorded after the sign-in are not sent.
    m_store->addURL(QStringLiteral("http://shop.test/late"), QString());
    click(upload->Command1());

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Upload Status"));
    QCOMPARE(boxes.last().text, uploadSuccessText());
    QCOMPARE(boxes.last().icon, QMessageBox::Information);
    QCOMPARE(boxes.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!upload->isVisible());
    QCOMPARE(m_windows->frmfileUpload(), upload); // hidden, not closed
    QVERIFY(upload->Command1()->isEnabled());

    const QStringList after = stored(QStringLiteral("upload"));
    QCOMPARE(after.size(), before.size() + 1);
    const QString folder = m_service.filePath(QStringLiteral("store/") + after.last());
    QCOMPARE(readAll(folder + QStringLiteral("/recorder.xml")), written);
    QCOMPARE(readAll(folder + QStringLiteral("/target.txt")), QByteArray("replace 12"));

    // The next sign-in window opens with the saved account.
    m_windows->lblUpload_Click();
    frmUpload* again = m_windows->frmUpload();
    QVERIFY(again && again->isVisible());
    QCOMPARE(again->txtUsername()->text(), QStringLiteral("jdoe"));
    QCOMPARE(again->txtKey()->text(), QStringLiteral("s3cret"));
    QVERIFY(again->cSave()->isChecked());

    // Signing in again shows the kept upload window as it was, without a new list request.
    click(again->Command2());
    QCOMPARE(m_windows->frmfileUpload(), upload);
    QVERIFY(upload->isVisible());
    QVERIFY(upload->Option1(2)->isChecked());
    QCOMPARE(trans->count(), listed);
}

void TestServiceWindows::uploadModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("performance") << 0 << QByteArray("performance");
    QTest::newRow("full page") << 1 << QByteArray("fullpage");
    QTest::newRow("replace by editing the list") << 2 << QByteArray("replace 7");
}

void TestServiceWindows::uploadModes()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, target);
    MessageBoxCatcher boxes;
    signIn(*m_windows, QStringLiteral("jdoe"), QStringLiteral("s3cret"), false);
    frmfileUpload* upload = m_windows->frmfileUpload();
    QVERIFY(upload);
    if (mode == 2) {
        // Editing the list's text chooses the replace mode; picking an entry names the transaction.
        upload->Trans()->setEnabled(true);
        QTest::keyClicks(upload->Trans()->lineEdit(), QStringLiteral("x"));
        QVERIFY(upload->Option1(2)->isChecked());
        upload->Trans()->setCurrentIndex(0);
    } else {
        click(upload->Option1(mode));
    }
    click(upload->Command1());
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, uploadSuccessText());
    const QStringList uploads = stored(QStringLiteral("upload"));
    QCOMPARE(readAll(m_service.filePath(QStringLiteral("store/") + uploads.last() +
                                        QStringLiteral("/target.txt"))),
             target);
    QCOMPARE(readAll(programFile(QStringLiteral("recorder.ini"))), iniFileBytes({}));
}

void TestServiceWindows::replaceNeedsAChosenTransaction()
{
    MessageBoxCatcher boxes;
    signIn(*m_windows, QStringLiteral("jdoe"), QStringLiteral("s3cret"), false);
    frmfileUpload* upload = m_windows->frmfileUpload();
    QVERIFY(upload);
    click(upload->Option1(2));
    upload->Trans()->setCurrentIndex(0);
    // Refresh reloads the list and leaves no entry chosen.
    click(upload->cRefresh());
    QVERIFY(upload->Trans()->count() >= 2);
    QCOMPARE(upload->Trans()->itemText(1), QStringLiteral("Login"));
    QCOMPARE(upload->Trans()->currentText(), QStringLiteral("Please select transaction"));

    const QStringList before = stored(QStringLiteral("upload"));
    click(upload->Command1());
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("No transaction selected"));
    QCOMPARE(boxes.last().text, QStringLiteral("Please select transaction"));
    QCOMPARE(boxes.last().icon, QMessageBox::Warning);
    QVERIFY(upload->isVisible());
    QCOMPARE(stored(QStringLiteral("upload")), before);
}

void TestServiceWindows::uploadRefusedOrUnreadable_data()
{
    QTest::addColumn<QString>("file"); // "refused", "unreadable" or "delimiter"
    QTest::newRow("service refuses the account in the file") << QStringLiteral("refused");
    QTest::newRow("file unreadable") << QStringLiteral("unreadable");
    QTest::newRow("file holds the part delimiter") << QStringLiteral("delimiter");
}

void TestServiceWindows::uploadRefusedOrUnreadable()
{
    QFETCH(QString, file);
    MessageBoxCatcher boxes;
    signIn(*m_windows, QStringLiteral("jdoe"), QStringLiteral("s3cret"), false);
    frmfileUpload* upload = m_windows->frmfileUpload();
    QVERIFY(upload);
    const QString path = defaultTransactionFile();
    QVERIFY(QFile::remove(path));
    if (file == u"unreadable") {
        QVERIFY(QDir().mkdir(path));
    } else if (file == u"refused") {
        writeAll(path,
                 transactionFileBytes(m_store->steps(), {QStringLiteral("jdoe"), QStringLiteral("other")}));
    } else {
        // The address encoding keeps these characters, so the text reaches the file as it is.
        QList<RecordedStep> steps = m_store->steps();
        steps[0].url += QStringLiteral("?a=----Xu02=$");
        writeAll(path, transactionFileBytes(steps, {QStringLiteral("jdoe"), QStringLiteral("s3cret")}));
    }

    const QStringList before = stored(QStringLiteral("upload"));
    click(upload->Command1());
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Upload Status"));
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    if (file == u"refused") {
        QCOMPARE(boxes.last().text, uploadFailureText(QStringLiteral("Error: Invalid username or key")));
        QVERIFY(!upload->isVisible());
    } else {
        // Nothing is sent; the window stays for another try.
        const QString expected =
            file == u"unreadable" ? QDir::toNativeSeparators(path) : delimiterInPartText(QStringLiteral("file"));
        QVERIFY2(boxes.last().text.contains(expected), qPrintable(boxes.last().text));
        QVERIFY(upload->isVisible());
    }
    QVERIFY(upload->Command1()->isEnabled());
    QCOMPARE(stored(QStringLiteral("upload")), before);
}

void TestServiceWindows::signInRefusals_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("emptyStore");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");
    const QString invalidTitle = QStringLiteral("Inavlid username or key");
    const QString invalidText = QStringLiteral("Please enter your username and key!");
    QTest::newRow("no user name") << QString() << QStringLiteral("k") << false << invalidTitle << invalidText
                                  << int(QMessageBox::Warning);
    QTest::newRow("no key") << QStringLiteral("u") << QString() << false << invalidTitle << invalidText
                            << int(QMessageBox::Warning);
    QTest::newRow("no steps") << QStringLiteral("u") << QStringLiteral("k") << true
                              << QStringLiteral("No steps") << QStringLiteral("No steps recorded")
                              << int(QMessageBox::Critical);
}

void TestServiceWindows::signInRefusals()
{
    QFETCH(QString, user);
    QFETCH(QString, key);
    QFETCH(bool, emptyStore);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, icon);

    MessageBoxCatcher boxes;
    m_windows->lblUpload_Click();
    if (emptyStore)
        m_store->clearitems();
    frmUpload* form = m_windows->frmUpload();
    form->txtUsername()->setText(user);
    form->txtKey()->setText(key);
    click(form->Command2());
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, title);
    QCOMPARE(boxes.last().text, text);
    QCOMPARE(int(boxes.last().icon), icon);
    QVERIFY(form->isVisible());
    QVERIFY(!QFile::exists(defaultTransactionFile()));
    QCOMPARE(m_windows->frmfileUpload(), nullptr);

    // The main window's command refuses an empty store before any window opens.
    m_store->clearitems();
    form->close();
    m_windows->lblUpload_Click();
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(boxes.last().title, QStringLiteral("Nothing to upload"));
    QCOMPARE(boxes.last().text, QStringLiteral("No steps recorded yet."));
    QCOMPARE(boxes.last().icon, QMessageBox::Information);
    QCOMPARE(m_windows->frmUpload(), nullptr);
}

void TestServiceWindows::signInStopsWhenTheFileCannotBeWritten()
{
    // A folder in the file's place cannot be replaced by the file.
    QVERIFY(QDir(programFolder()).mkdir(QStringLiteral("recorder.xml")));
    const QStringList before = stored(QStringLiteral("upload"));
    MessageBoxCatcher boxes;
    signIn(*m_windows, QStringLiteral("jdoe"), QStringLiteral("s3cret"), true);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    QVERIFY2(boxes.last().text.contains(QDir::toNativeSeparators(defaultTransactionFile())),
             qPrintable(boxes.last().text));
    QVERIFY(m_windows->frmUpload() && m_windows->frmUpload()->isVisible());
    QCOMPARE(m_windows->frmfileUpload(), nullptr);
    QCOMPARE(stored(QStringLiteral("upload")), before);
}

void TestServiceWindows::refusedListBringsSignInBack()
{
    MessageBoxCatcher boxes;
    signIn(*m_windows, QStringLiteral("jdoe"), QStringLiteral("wrong"), false);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, QStringLiteral("Error: Invalid username or key"));
    QCOMPARE(boxes.last().title, applicationTitle());
    QCOMPARE(boxes.last().icon, QMessageBox::NoIcon);
    QCOMPARE(m_windows->frmfileUpload(), nullptr);
    // The sign-in window is back, filled from recorder.ini, which the sign-in cleared.
    frmUpload* form = m_windows->frmUpload();
    QVERIFY(form && form->isVisible());
    QCOMPARE(form->txtUsername()->text(), QString());
    QCOMPARE(form->txtKey()->text(), QString());
    QVERIFY(!form->cSave()->isChecked());
}

void TestServiceWindows::unreachableService()
{
    MessageBoxCatcher boxes;
    signIn(*m_windows, QStringLiteral("jdoe"), QStringLiteral("s3cret"), false);
    frmfileUpload* upload = m_windows->frmfileUpload();
    QVERIFY(upload);
    QCOMPARE(boxes.count(), 0);

    // The service goes away: port 9 (discard) on the loopback refuses connections.
    qputenv("TALLYRO_SERVICE_HOST", "127.0.0.1:9");
    click(upload->Option1(2));
    click(upload->cRefresh());
    QCOMPARE(boxes.count(), 1);
    QVERIFY(boxes.last().text.startsWith(serviceUnreachableText(QString())));
    QVERIFY(boxes.last().text.size() > serviceUnreachableText(QString()).size());
    QCOMPARE(upload->Trans()->count(), 0);
    QVERIFY(upload->isVisible());

    click(upload->Option1(0));
    click(upload->Command1());
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(boxes.last().title, QStringLiteral("Upload Status"));
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    QVERIFY(boxes.last().text.startsWith(uploadFailureText(QString())));
    QVERIFY(boxes.last().text.size() > uploadFailureText(QString()).size());
    QVERIFY(!upload->isVisible());
    QVERIFY(upload->Command1()->isEnabled());
}

void TestServiceWindows::problemReport()
{
    writeAll(programFile(QStringLiteral("recorder.ini")),
             iniFileBytes({QStringLiteral("jdoe"), QStringLiteral("s3cret")}));
    MessageBoxCatcher boxes;
    m_windows->openProblemReport();
    frmProblem* report = m_windows->frmProblem();
    QVERIFY(report && report->isVisible());

    // Every field is needed.
    report->fName()->setText(QStringLiteral("Ann"));
    report->fEmail()->setText(QStringLiteral("ann@shop.test"));
    click(report->SubmitProblem());
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Missing information"));
    QCOMPARE(boxes.last().text, QStringLiteral("Please fill in all the fields"));
    QVERIFY(report->SubmitProblem()->isEnabled());

    // What the sign-in window showed is replaced by the saved account.
    m_windows->currentAccount();
    m_windows->frmUpload()->txtUsername()->setText(QStringLiteral("typed"));
    const QStringList before = stored(QStringLiteral("report"));
    report->description()->setPlainText(QStringLiteral("It fails.\nOn every page."));
    click(report->SubmitProblem());
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(boxes.last().title, QStringLiteral("Report Status"));
    QCOMPARE(boxes.last().text, reportSuccessText());
    QCOMPARE(boxes.last().icon, QMessageBox::Information);

    const QStringList after = stored(QStringLiteral("report"));
    QCOMPARE(after.size(), before.size() + 1);
    const QString folder = m_service.filePath(QStringLiteral("store/") + after.last() + u'/');
    QCOMPARE(readAll(folder + QStringLiteral("name.txt")), QByteArray("Ann"));
    QCOMPARE(readAll(folder + QStringLiteral("email.txt")), QByteArray("ann@shop.test"));
    QCOMPARE(readAll(folder + QStringLiteral("user.txt")), QByteArray("jdoe"));
    QCOMPARE(readAll(folder + QStringLiteral("description.txt")), QByteArray("It fails.\r\nOn every page."));
    QCOMPARE(readAll(folder + QStringLiteral("recorder.xml")),
             transactionFileBytes(m_store->steps(), {QStringLiteral("jdoe"), QStringLiteral("s3cret")}));

    // Hidden with its texts and a disabled Submit; shown again as it was.
    QVERIFY(!report->isVisible());
    m_windows->openProblemReport();
    QCOMPARE(m_windows->frmProblem(), report);
    QVERIFY(report->isVisible());
    QCOMPARE(report->fName()->text(), QStringLiteral("Ann"));
    QVERIFY(!report->SubmitProblem()->isEnabled());

    // Cancel closes it; the next opening is fresh.
    click(report->btnCancel());
    QCOMPARE(m_windows->frmProblem(), nullptr);
    m_windows->openProblemReport();
    frmProblem* fresh = m_windows->frmProblem();
    QVERIFY(fresh && fresh != report);
    QCOMPARE(fresh->fName()->text(), QString());
    QVERIFY(fresh->SubmitProblem()->isEnabled());
}

void TestServiceWindows::problemReportNotSent_data()
{
    QTest::addColumn<bool>("fileBlocked");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("expected"); // part of the message

    const QString plain = QStringLiteral("It fails.");
    QTest::newRow("file cannot be written")
        << true << QStringLiteral("Ann") << plain << QDir::toNativeSeparators(defaultTransactionFile());
    QTest::newRow("description holds the part delimiter")
        << false << QStringLiteral("Ann") << QStringLiteral("It fails.\n----Xu02=$\nname=x")
        << delimiterInPartText(QStringLiteral("description"));
    QTest::newRow("name holds the part delimiter")
        << false << QStringLiteral("Ann ----Xu02=$") << plain << delimiterInPartText(QStringLiteral("name"));
}

void TestServiceWindows::problemReportNotSent()
{
    QFETCH(bool, fileBlocked);
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QString, expected);
    if (fileBlocked)
        QVERIFY(QDir(programFolder()).mkdir(QStringLiteral("recorder.xml")));
    else
        writeAll(programFile(QStringLiteral("recorder.ini")),
                 iniFileBytes({QStringLiteral("jdoe"), QStringLiteral("s3cret")}));
    MessageBoxCatcher boxes;
    m_windows->openProblemReport();
    frmProblem* report = m_windows->frmProblem();
    report->fName()->setText(name);
    report->fEmail()->setText(QStringLiteral("ann@shop.test"));
    report->description()->setPlainText(description);
    const QStringList before = stored(QStringLiteral("report"));
    click(report->SubmitProblem());
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    QVERIFY2(boxes.last().text.contains(expected), qPrintable(boxes.last().text));
    QCOMPARE(stored(QStringLiteral("report")), before);
    QVERIFY(report->isVisible());
    QVERIFY(report->SubmitProblem()->isEnabled());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void TestServiceWindows::currentAccountLoadsSavedValues()
{
    writeAll(programFile(QStringLiteral("recorder.ini")),
             iniFileBytes({QStringLiteral("ann"), QStringLiteral("k1")}));
    QCOMPARE(m_windows->frmUpload(), nullptr);
    const AccountCredentials account = m_windows->currentAccount();
    QCOMPARE(account.username, QStringLiteral("ann"));
    QCOMPARE(account.key, QStringLiteral("k1"));
    QVERIFY(m_windows->frmUpload() && !m_windows->frmUpload()->isVisible());
}

QTEST_MAIN(TestServiceWindows)
#include "tst_service_windows.moc"
