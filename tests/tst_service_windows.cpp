#include "BusyWait.h"
#include "LayoutCheck.h"
#include "MessageBoxCatcher.h"
#include "ProgramFolder.h"
#include "RecordingSession.h"
#include "ServiceExchange.h"
#include "ServiceRules.h"
#include "ServiceWindows.h"
#include "Standin.h"
#include "StepStore.h"
#include "TransactionFile.h"
#include "UserInput.h"
#include "frmProblem.h"
#include "frmUpload.h"
#include "frmfileUpload.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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
    QPoint at(-1, -1);
    if (auto* box = qobject_cast<QCheckBox*>(button)) { // on the box itself
        QStyleOptionButton option;
        option.initFrom(box);
        at = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center();
    }
    QVERIFY(userinput::click(button, at));
}

// Replaces a text box's text by typing into it.
void typeInto(QLineEdit* edit, const QString& text)
{
    QVERIFY(userinput::click(edit));
    userinput::key(Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
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
        if (event->type() == QEvent::Paint && cursor && cursor->shape() == Qt::WaitCursor)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

// Two recorded pages, the second a form post.
void recordTwoSteps(StepStore& store)
{
    store.addURL(QStringLiteral("http://shop.test/"), QString());
    store.addURL(QStringLiteral("http://shop.test/login"), QStringLiteral("user=ann&pw=x y"));
    StepSettings settings;
    settings.keywords = QStringLiteral("Welcome");
    settings.label = QStringLiteral("Log in");
    store.setSettings(1, settings);
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

    void uploadEndToEnd();
    void uploadModes_data();
    void uploadModes();
    void replaceNeedsAChosenTransaction();
    void uploadOutcomes_data();
    void uploadOutcomes();
    void signInRefusals_data();
    void signInRefusals();
    void signInStopsWhenTheFileCannotBeWritten();
    void signInTellsAnUnreadableCredentialsFile();
    void anotherAccountGetsItsOwnList();
    void refusedListBringsSignInBack();
    void unreachableService();
    void problemReport();
    void problemReportNotSent_data();
    void problemReportNotSent();

private:
    void startStandin();
    void signIn(ServiceWindows& windows, const QString& user, const QString& key, bool save);
    QStringList stored(const QString& kind) const;

    QTemporaryDir m_data;
    QTemporaryDir m_service;
    QProcess m_standin;
    QByteArray m_host;
    std::unique_ptr<QWidget> m_mainWindow;
    std::unique_ptr<RecordingSession> m_session;
    StepStore* m_store = nullptr;
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
                       "transaction 12 Login\n"
                       "account ann k3y\n"
                       "transaction 31 Basket\n");
    m_host = ::startStandin(m_standin, accounts, m_service.filePath(QStringLiteral("store")));
    QVERIFY(!m_host.isEmpty());
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
    m_session = std::make_unique<RecordingSession>();
    m_store = &m_session->store();
    recordTwoSteps(*m_store);
    m_windows = std::make_unique<ServiceWindows>(*m_session, m_mainWindow.get());
}

void TestServiceWindows::cleanup()
{
    m_windows.reset();
    m_mainWindow.reset();
    m_session.reset();
    m_store = nullptr;
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
    typeInto(form->txtUsername(), user);
    typeInto(form->txtKey(), key);
    if (form->cSave()->isChecked() != save)
        click(form->cSave());
    click(form->Command2());
}

void TestServiceWindows::uploadEndToEnd()
{
    MessageBoxCatcher boxes;
    signIn(*m_windows, QStringLiteral("jdoe"), QStringLiteral("s3cret"), true);
    QCOMPARE(boxes.count(), 0);

    // What the sign-in wrote is what goes up (and it remembered the account:
    // see the next sign-in below).
    const QByteArray written = readAll(defaultTransactionFile());

    // The sign-in window is gone; the upload window lists the account's transactions.
    QCOMPARE(m_windows->frmUpload(), nullptr);
    frmfileUpload* upload = m_windows->frmfileUpload();
    QVERIFY(upload && QTest::qWaitForWindowExposed(upload));
    QCOMPARE(layoutcheck::cutCaptions(upload), QStringList());
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
    QCOMPARE(boxes.last().text, uploadSuccessText());
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
    QVERIFY(again && QTest::qWaitForWindowExposed(again));
    QCOMPARE(layoutcheck::cutCaptions(again), QStringList());
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
    QCOMPARE(boxes.last().text, QStringLiteral("Please select transaction"));
    QVERIFY(upload->isVisible());
    QCOMPARE(stored(QStringLiteral("upload")), before);
}

void TestServiceWindows::uploadOutcomes_data()
{
    QTest::addColumn<QString>("file"); // "replaced", "delimiter" or "sent"
    // For "sent": the options of the stand-in that answers the upload, the size
    // of the error text it answers with, and how the message shows it: "too
    // large" (not read), "cut" or "whole".
    QTest::addColumn<QStringList>("standin");
    QTest::addColumn<qint64>("answerBytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("file replaced by another recorder after the sign-in")
        << QStringLiteral("replaced") << QStringList() << 0LL << QString();
    QTest::newRow("file holds the part delimiter")
        << QStringLiteral("delimiter") << QStringList() << 0LL << QString();

    const QString sent = QStringLiteral("sent");
    const QString size = QStringLiteral("--answer-size");
    const QString tooLarge = QStringLiteral("too large");
    QTest::newRow("answer of 5 MB") << sent << QStringList{size, QStringLiteral("5242880")} << 5'242'880LL
                                    << tooLarge;
    QTest::newRow("answer of a million bytes")
        << sent << QStringList{size, QStringLiteral("1000000")} << 1'000'000LL << QStringLiteral("cut");
    QTest::newRow("answer sent slowly")
        << sent
        << QStringList{size, QStringLiteral("160"), QStringLiteral("--answer-slowly"), QStringLiteral("25")}
        << 160LL << QStringLiteral("whole");
}

void TestServiceWindows::uploadOutcomes()
{
    QFETCH(QString, file);
    QFETCH(QStringList, standin);
    QFETCH(qint64, answerBytes);
    QFETCH(QString, shown);
    MessageBoxCatcher boxes;
    // The address encoding keeps these characters, so the text reaches the file as it is.
    if (file == u"delimiter")
        m_store->addURL(QStringLiteral("http://shop.test/?a=----Xu02=$"), QString());
    signIn(*m_windows, QStringLiteral("jdoe"), QStringLiteral("s3cret"), false);
    frmfileUpload* upload = m_windows->frmfileUpload();
    QVERIFY(upload);
    const QByteArray signedIn = readAll(defaultTransactionFile());
    // Another recorder sharing the folder signs in meanwhile: the file changes.
    if (file == u"replaced")
        writeAll(defaultTransactionFile(),
                 transactionFileBytes({}, {QStringLiteral("someone"), QStringLiteral("else")}));

    // The upload goes to a stand-in that answers as the row asks.
    QProcess answering;
    if (!standin.isEmpty()) {
        const QByteArray host = ::startStandin(answering, m_service.filePath(QStringLiteral("accounts.txt")),
                                               m_service.filePath(QStringLiteral("store-other")), standin);
        QVERIFY(!host.isEmpty());
        qputenv("TALLYRO_SERVICE_HOST", host);
    }
    // The window is asked to repaint all along; it does so only where its
    // event loop turns.
    PaintsWhileBusy paints(upload);
    QTimer ticker;
    ticker.setInterval(20);
    connect(&ticker, &QTimer::timeout, upload, [upload] { upload->update(); });
    ticker.start();

    const QStringList before = stored(QStringLiteral("upload"));
    QElapsedTimer clock;
    clock.start();
    click(upload->Command1());
    const qint64 took = clock.elapsed();
    ticker.stop();
    answering.kill();
    answering.waitForFinished(5000);
    QCOMPARE(boxes.count(), 1);
    if (file == u"replaced") {
        // This window's upload carries what its own sign-in wrote.
        QCOMPARE(boxes.last().icon, QMessageBox::Information);
        const QStringList after = stored(QStringLiteral("upload"));
        QCOMPARE(after.size(), before.size() + 1);
        QCOMPARE(readAll(m_service.filePath(QStringLiteral("store/") + after.last() +
                                            QStringLiteral("/recorder.xml"))),
                 signedIn);
        return;
    }
    QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    if (file == u"sent") {
        // However large the answer, the exchange and the message take seconds at most.
        QVERIFY2(took < 10'000, qPrintable(QString::number(took)));
        const QString text = QString(boxes.last().text).remove(QChar(0x200B));
        const QString full = uploadFailureText(QString()); // and the answer
        if (shown == u"too large") {
            QCOMPARE(text, uploadFailureText(answerTooLargeText(ExchangeLimits().answerBytes)));
        } else if (shown == u"cut") {
            // Shown as the message boxes show a long text: its beginning and a
            // note (how that is cut is the boxes' own test).
            QVERIFY(text.startsWith(full + QStringLiteral("Error: ")));
            QVERIFY2(text.contains(QStringLiteral(" more characters")), qPrintable(text.right(200)));
            QVERIFY(text.size() < full.size() + answerBytes);
        } else {
            QVERIFY(text.startsWith(full + QStringLiteral("Error: ")));
            QCOMPARE(text.size(), full.size() + answerBytes);
        }
        // A slow answer leaves the window time to repaint, as it must.
        if (standin.contains(QStringLiteral("--answer-slowly")))
            QVERIFY2(paints.paints >= 3, qPrintable(QString::number(paints.paints)));
        QVERIFY(!upload->isVisible());
    } else {
        // Nothing is sent; the window stays for another try.
        QVERIFY2(boxes.last().text.contains(delimiterInPartText(QStringLiteral("file"))),
                 qPrintable(boxes.last().text));
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
    QTest::addColumn<QString>("text");
    const QString invalid = QStringLiteral("Please enter your username and key!");
    QTest::newRow("no user name") << QString() << QStringLiteral("k") << false << invalid;
    QTest::newRow("no key") << QStringLiteral("u") << QString() << false << invalid;
    QTest::newRow("no steps") << QStringLiteral("u") << QStringLiteral("k") << true
                              << QStringLiteral("No steps recorded");
}

void TestServiceWindows::signInRefusals()
{
    QFETCH(QString, user);
    QFETCH(QString, key);
    QFETCH(bool, emptyStore);
    QFETCH(QString, text);

    MessageBoxCatcher boxes;
    m_windows->lblUpload_Click();
    if (emptyStore)
        m_store->clearitems();
    frmUpload* form = m_windows->frmUpload();
    form->txtUsername()->setText(user);
    form->txtKey()->setText(key);
    click(form->Command2());
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, text);
    QVERIFY(form->isVisible());
    QVERIFY(!QFile::exists(defaultTransactionFile()));
    QCOMPARE(m_windows->frmfileUpload(), nullptr);

    // The main window's command refuses an empty store before any window opens.
    m_store->clearitems();
    form->close();
    m_windows->lblUpload_Click();
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(boxes.last().text, QStringLiteral("No steps recorded yet."));
    QCOMPARE(m_windows->frmUpload(), nullptr);
}

// The upload window stays loaded after an upload; a sign-in with another
// account shows that account's list with nothing chosen.
void TestServiceWindows::anotherAccountGetsItsOwnList()
{
    MessageBoxCatcher boxes;
    signIn(*m_windows, QStringLiteral("jdoe"), QStringLiteral("s3cret"), false);
    frmfileUpload* upload = m_windows->frmfileUpload();
    QVERIFY(upload);
    const int login = upload->Trans()->findText(QStringLiteral("Login"));
    QVERIFY(login >= 0);
    click(upload->Option1(2));
    upload->Trans()->setCurrentIndex(login);
    click(upload->Command1());
    QCOMPARE(boxes.count(), 1);
    QVERIFY(!upload->isVisible());

    signIn(*m_windows, QStringLiteral("ann"), QStringLiteral("k3y"), false);
    upload = m_windows->frmfileUpload();
    QVERIFY(upload && upload->isVisible());
    QCOMPARE(upload->Trans()->count(), 1);
    QCOMPARE(upload->Trans()->itemText(0), QStringLiteral("Basket"));
    QCOMPARE(upload->Trans()->currentIndex(), -1);
    QVERIFY(upload->Option1(0)->isChecked());
    QCOMPARE(boxes.count(), 1);
}

void TestServiceWindows::signInTellsAnUnreadableCredentialsFile()
{
    // A folder in the file's place can be neither read nor created.
    QVERIFY(QDir(programFolder()).mkdir(QStringLiteral("recorder.ini")));
    MessageBoxCatcher boxes;
    m_windows->lblUpload_Click();
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().icon, QMessageBox::Warning);
    QVERIFY2(
        boxes.last().text.contains(QDir::toNativeSeparators(programFile(QStringLiteral("recorder.ini")))),
        qPrintable(boxes.last().text));
    QVERIFY(m_windows->frmUpload() && m_windows->frmUpload()->isVisible());
    QVERIFY(m_windows->frmUpload()->txtUsername()->text().isEmpty());
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
    QVERIFY(boxes.last().text.startsWith(uploadFailureText(QString())));
    QVERIFY(boxes.last().text.size() > uploadFailureText(QString()).size());
    QVERIFY(!upload->isVisible());
    QVERIFY(upload->Command1()->isEnabled());
}

void TestServiceWindows::problemReport()
{
    writeAll(programFile(QStringLiteral("recorder.ini")),
             iniFileBytes({QStringLiteral("jdoe"), QStringLiteral("s3cret")}));
    // Save as takes the saved account without making the sign-in window.
    QCOMPARE(m_windows->currentAccount().key, QStringLiteral("s3cret"));
    QVERIFY(!m_windows->frmUpload());
    MessageBoxCatcher boxes;
    m_windows->openProblemReport();
    frmProblem* report = m_windows->frmProblem();
    QVERIFY(report && QTest::qWaitForWindowExposed(report));
    QCOMPARE(layoutcheck::cutCaptions(report), QStringList());

    // Every field is needed.
    report->fName()->setText(QStringLiteral("Ann"));
    report->fEmail()->setText(QStringLiteral("ann@shop.test"));
    click(report->SubmitProblem());
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, QStringLiteral("Please fill in all the fields"));
    QVERIFY(report->SubmitProblem()->isEnabled());

    // What the sign-in window showed is replaced by the saved account.
    m_windows->loadedSignIn().txtUsername()->setText(QStringLiteral("typed"));
    const QStringList before = stored(QStringLiteral("report"));
    report->description()->setPlainText(QStringLiteral("It fails.\nOn every page."));
    click(report->SubmitProblem());
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(boxes.last().text, reportSuccessText());

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

QTEST_MAIN(TestServiceWindows)
#include "tst_service_windows.moc"
