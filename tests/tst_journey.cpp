// A person's first session with the built program, driven from outside with
// xdotool on the test run's X server: the program runs as its own process with
// a data folder of its own, against the local test site and the local stand-in
// of the service. What the site and the stand-in received, and the saved file's
// bytes, are the checks; the clipboard (Ctrl+C in the step list) shows what the
// step editor lists.
#include "RecordedStep.h"
#include "Standin.h"
#include "TestSite.h"
#include "TransactionFile.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// One xdotool call; its output, trimmed.
QString xdo(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(15000))
        p.kill();
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// The visible window whose title matches exactly (of the given process, when
// one is given), waited for (empty when none came).
QString findWindow(const QString& title, int ms = 20000, qint64 pid = 0)
{
    QString found;
    QStringList args{QStringLiteral("search"), QStringLiteral("--onlyvisible")};
    if (pid != 0) // both conditions, not either (xdotool's default)
        args << QStringLiteral("--all") << QStringLiteral("--pid") << QString::number(pid);
    args << QStringLiteral("--name")
         << QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
    (void)QTest::qWaitFor(
        [&] {
            const QStringList ids = xdo(args).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            found = ids.isEmpty() ? QString() : ids.last();
            return !found.isEmpty();
        },
        ms);
    return found;
}

// Waits until the window has the keyboard (a click gives it asynchronously).
void waitForKeyboard(const QString& window)
{
    (void)QTest::qWaitFor([&] { return xdo({QStringLiteral("getwindowfocus")}) == window; }, 5000);
}

// A window that takes the keyboard when it opens (a dialog, a message box):
// found, and the keyboard arrived there, before anything is typed into it.
QString dialog(const QString& title, qint64 pid = 0)
{
    const QString found = findWindow(title, 20000, pid);
    if (!found.isEmpty())
        waitForKeyboard(found);
    return found;
}

bool windowGone(const QString& title, int ms = 10000)
{
    return QTest::qWaitFor([&] { return findWindow(title, 0).isEmpty(); }, ms);
}

QRect geometry(const QString& window)
{
    QMap<QString, int> v;
    for (const QString& line : xdo({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window})
                                   .split(QLatin1Char('\n'))) {
        const QStringList kv = line.split(QLatin1Char('='));
        if (kv.size() == 2)
            v.insert(kv.at(0), kv.at(1).toInt());
    }
    return {v.value(QStringLiteral("X")), v.value(QStringLiteral("Y")), v.value(QStringLiteral("WIDTH")),
            v.value(QStringLiteral("HEIGHT"))};
}

// A left click at a point of a window (relative to its top left corner), the
// window brought to the front first; the window then has the keyboard.
void clickAt(const QString& window, int x, int y)
{
    // Two recorders' windows open at the same place: the one clicked comes to the front first.
    xdo({QStringLiteral("windowraise"), window});
    xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x),
         QString::number(y)});
    xdo({QStringLiteral("click"), QStringLiteral("1")});
    waitForKeyboard(window);
}

void keys(const QString& combination)
{
    xdo({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), combination});
}

void type(const QString& text)
{
    xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("8"), text});
}

// The program's own windows: titles, and where their controls sit (pixels
// from the window's corner, at the test run's 96 dpi).
const QString editorTitle = QStringLiteral("Control Panel");
const QPoint editorKeywords(150, 300); // "Alert me if the following keywords are not found"
const QPoint editorFirstRow(100, 31);  // the step list's first row

struct Program
{
    QProcess process;
    QString main; // the main window

    bool start(const QString& dataHome, const QString& serviceHost)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        env.insert(QStringLiteral("TALLYRO_SERVICE_HOST"), serviceHost);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(TALLYRO_RECORDER_PROGRAM), {});
        if (!process.waitForStarted(10000))
            return false;
        main =
            findWindow(QStringLiteral("TallyroNet Transaction Recorder 1.0.0"), 30000, process.processId());
        return !main.isEmpty();
    }
    QString window(const QString& title) { return findWindow(title, 20000, process.processId()); }
    // Types an address into the main window's address box and presses Enter.
    void go(const QString& address)
    {
        focusMain();
        keys(QStringLiteral("alt+a"));
        keys(QStringLiteral("ctrl+a"));
        type(address);
        keys(QStringLiteral("Return"));
    }
    // Ctrl+U, the account typed into the sign-in window; true when the upload window came.
    bool signIn(const QString& user, const QString& key)
    {
        focusMain();
        keys(QStringLiteral("ctrl+u"));
        if (dialog(QStringLiteral("Upload Form"), process.processId()).isEmpty())
            return false;
        type(user);
        keys(QStringLiteral("Tab"));
        type(key);
        keys(QStringLiteral("Tab"));
        keys(QStringLiteral("space")); // the Upload button
        return !window(QStringLiteral("Upload transaction")).isEmpty();
    }
    // "Upload !" in the upload window, and the outcome's box answered.
    bool upload()
    {
        const QString w = window(QStringLiteral("Upload transaction"));
        if (w.isEmpty())
            return false;
        clickAt(w, 12, 8); // the window's text: it takes the keyboard, "Upload !" keeps the focus
        keys(QStringLiteral("space"));
        if (dialog(QStringLiteral("Upload Status"), process.processId()).isEmpty())
            return false;
        keys(QStringLiteral("Return"));
        return windowGone(QStringLiteral("Upload Status"));
    }
    // A click on the main window's status line: gives it the keyboard, changes nothing.
    void focusMain()
    {
        const QRect g = geometry(main);
        clickAt(main, g.width() / 2, g.height() - 6);
    }
    // Waits until the main window's caption is the page's title: the page is laid out.
    bool shows(const QString& title)
    {
        return QTest::qWaitFor([&] { return xdo({QStringLiteral("getwindowname"), main}) == title; }, 20000);
    }
    bool exitByMenu()
    {
        focusMain();
        keys(QStringLiteral("alt+f"));
        keys(QStringLiteral("x"));
        return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit;
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

// With TALLYRO_SCREENSHOTS set to a folder, the screen's area is kept there as
// name (the README's pictures, see scripts/screenshots.sh).
void screenshot(const QString& name, const QRect& area)
{
    const QString folder = qEnvironmentVariable("TALLYRO_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    QTest::qWait(700); // let the windows finish painting
    QProcess::execute(
        QStringLiteral("import"),
        {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
         QStringLiteral("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y()),
         QStringLiteral("+repage"), QDir(folder).filePath(name)});
}

QString clipboardAfter(const QString& combination)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("-"));
    keys(combination);
    QString text;
    (void)QTest::qWaitFor(
        [&] {
            // The program clears the clipboard before it puts the text there.
            text = QGuiApplication::clipboard()->text();
            return !text.isEmpty() && text != QLatin1String("-");
        },
        5000);
    return text;
}

} // namespace

class TestJourney : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void firstSession();
    void twoInstancesUploadTheirOwnSteps();

private:
    // The transaction files the stand-in received, oldest first.
    QList<QByteArray> received() const;

    std::unique_ptr<TestSite> m_site;
    QTemporaryDir m_work;
    QProcess m_standin;
    QString m_serviceHost;
};

void TestJourney::initTestCase()
{
    m_site = std::make_unique<TestSite>();
    QVERIFY(m_site->isRunning());
    QVERIFY(m_work.isValid());
    // The stand-in service with one account.
    QFile accounts(m_work.filePath(QStringLiteral("accounts.txt")));
    QVERIFY(accounts.open(QIODevice::WriteOnly));
    accounts.write("account jdoe s3cret\ntransaction 12 Login\n");
    accounts.close();
    m_serviceHost = QString::fromLatin1(
        startStandin(m_standin, accounts.fileName(), m_work.filePath(QStringLiteral("received"))));
    QVERIFY(!m_serviceHost.isEmpty());
}

void TestJourney::cleanupTestCase()
{
    m_standin.kill();
    m_standin.waitForFinished(5000);
}

QList<QByteArray> TestJourney::received() const
{
    QList<QByteArray> files;
    const QDir store(m_work.filePath(QStringLiteral("received")));
    for (const QString& upload : store.entryList({QStringLiteral("upload-*")}, QDir::Dirs, QDir::Name)) {
        QFile file(store.filePath(upload + QStringLiteral("/recorder.xml")));
        files << (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return files;
}

void TestJourney::firstSession()
{
    TestSite& site = *m_site;
    QTemporaryDir& work = m_work;
    const QString& serviceHost = m_serviceHost;
    const QString dataHome = work.filePath(QStringLiteral("data"));

    const QString start = site.url(QStringLiteral("/journey/start.html"));
    const QString next = site.url(QStringLiteral("/journey/next.html"));
    const QString done = site.url(QStringLiteral("/journey/done"));
    const QString body = QStringLiteral("name=Jane+Doe&city=Z%C3%BCrich");
    const auto loaded = [&](const QString& address) {
        for (const LoggedRequest& r : site.navigations()) {
            if (site.url(QString::fromLatin1(r.target)) == address && r.status != 0)
                return true;
        }
        return false;
    };
    const qsizetype uploadsBefore = received().size();

    // Record: type an address and press Enter, click a link, click a form's button.
    QList<RecordedStep> expected;
    {
        Program program;
        QVERIFY(program.start(dataHome, serviceHost));
        program.go(start); // alt+a: the address box
        QVERIFY2(QTest::qWaitFor([&] { return loaded(start); }, 20000),
                 "Enter in the address box requested nothing");
        const QString editor = findWindow(editorTitle);
        QVERIFY2(!editor.isEmpty(), "the step editor did not pop up");
        const QRect mainFrame = geometry(program.main);
        const QRect editorFrame = geometry(editor);
        QVERIFY2(editorFrame.left() >= mainFrame.right(), "the step editor covers the page");

        QVERIFY(program.shows(QStringLiteral("Journey start")));
        clickAt(program.main, 200, 320);
        QVERIFY2(QTest::qWaitFor([&] { return loaded(next); }, 20000), "the link was not followed");
        QVERIFY(program.shows(QStringLiteral("Journey next")));
        clickAt(program.main, 200, 320);
        QVERIFY2(QTest::qWaitFor([&] { return loaded(done); }, 20000), "the form was not posted");
        QVERIFY(program.shows(QStringLiteral("Received"))); // the page is complete, its step labelled

        // The editor lists the three steps.
        QVERIFY(!findWindow(editorTitle).isEmpty());
        clickAt(editor, editorFirstRow.x(), editorFirstRow.y());
        QCOMPARE(clipboardAfter(QStringLiteral("ctrl+c")), start);
        keys(QStringLiteral("End"));
        QCOMPARE(clipboardAfter(QStringLiteral("ctrl+c")), done);

        // Keywords for the form's step, committed by a click on the list.
        clickAt(editor, editorKeywords.x(), editorKeywords.y());
        type(QStringLiteral("Welcome back"));
        screenshot(QStringLiteral("recording.png"), geometry(program.main) | geometry(editor));
        clickAt(editor, editorFirstRow.x(), editorFirstRow.y());

        // Ctrl+P in the editor: the editor goes, the steps are requested once each.
        site.clear();
        clickAt(editor, editorKeywords.x(), editorKeywords.y());
        keys(QStringLiteral("ctrl+p"));
        QVERIFY2(windowGone(editorTitle), "Play left the step editor up");
        // One request every five seconds.
        QElapsedTimer clock;
        clock.start();
        QList<qint64> arrivals;
        for (int n = 1; n <= 3; ++n) {
            QVERIFY(QTest::qWaitFor([&] { return site.navigations().size() >= n; }, 15000));
            arrivals << clock.elapsed();
        }
        QVERIFY2(arrivals.at(1) - arrivals.at(0) >= 4000 && arrivals.at(2) - arrivals.at(1) >= 4000,
                 "the replay did not keep its pace");
        QTest::qWait(6000); // a second run would request again within the next tick
        const QList<LoggedRequest> replayed = site.navigations();
        QStringList addresses;
        for (const LoggedRequest& r : replayed)
            addresses << site.url(QString::fromLatin1(r.target));
        QCOMPARE(addresses, (QStringList{start, next, done}));
        QCOMPARE(replayed.at(2).method, QByteArray("POST"));
        QCOMPARE(replayed.at(2).body, body.toLatin1());

        // Ctrl+S, a file name typed into the dialog.
        program.focusMain();
        keys(QStringLiteral("ctrl+s"));
        QVERIFY(!dialog(QStringLiteral("File Save")).isEmpty());
        type(work.filePath(QStringLiteral("journey.xml")));
        keys(QStringLiteral("Return"));
        QVERIFY2(QTest::qWaitFor([&] { return QFile::exists(work.filePath(QStringLiteral("journey.xml"))); },
                                 20000),
                 "Save as wrote no file");
        QVERIFY(!dialog(QStringLiteral("File Save")).isEmpty()); // "File saved successfully"
        keys(QStringLiteral("Return"));
        QVERIFY(windowGone(QStringLiteral("File Save")));
        QVERIFY(program.exitByMenu());
    }

    const auto step = [](const QString& url, const QString& postdata, const QString& label) {
        RecordedStep s;
        s.url = url;
        s.postdata = postdata;
        s.timeout = QStringLiteral("30");
        s.ping = QStringLiteral("N");
        s.label = label;
        return s;
    };
    expected << step(start, {}, QStringLiteral("Journey start"))
             << step(next, {}, QStringLiteral("Journey next"))
             << step(done, body, QStringLiteral("Received"));
    expected[2].keywords = QStringLiteral("Welcome back");
    QFile saved(work.filePath(QStringLiteral("journey.xml")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), transactionFileBytes(expected, {}));

    // A fresh start: open the file, then upload it with a typed user name and key.
    {
        Program program;
        QVERIFY(program.start(dataHome, serviceHost));
        program.focusMain();
        keys(QStringLiteral("ctrl+o"));
        QVERIFY(!dialog(QStringLiteral("File Open")).isEmpty());
        type(work.filePath(QStringLiteral("journey.xml")));
        keys(QStringLiteral("Return"));
        const QString editor = findWindow(editorTitle);
        QVERIFY2(!editor.isEmpty(), "Open did not show the steps");
        clickAt(editor, editorFirstRow.x(), editorFirstRow.y());
        keys(QStringLiteral("End"));
        QCOMPARE(clipboardAfter(QStringLiteral("ctrl+c")), done);

        QVERIFY(program.signIn(QStringLiteral("jdoe"), QStringLiteral("s3cret")));
        screenshot(QStringLiteral("upload.png"),
                   geometry(program.window(QStringLiteral("Upload transaction"))));
        QVERIFY(program.upload());
        QVERIFY(program.exitByMenu());
    }
    const QList<QByteArray> uploads = received();
    QCOMPARE(uploads.size(), uploadsBefore + 1);
    QCOMPARE(uploads.last(),
             transactionFileBytes(expected, {QStringLiteral("jdoe"), QStringLiteral("s3cret")}));
}

// Two recorders sharing the program's folder: each signs in (and so writes the
// shared recorder.xml) before either uploads; each upload carries the steps of
// the recorder it came from.
void TestJourney::twoInstancesUploadTheirOwnSteps()
{
    const QString dataHome = m_work.filePath(QStringLiteral("shared"));
    const QString alpha = m_site->url(QStringLiteral("/echo/alpha"));
    const QString beta = m_site->url(QStringLiteral("/echo/beta"));
    const auto recorded = [&](const QString& address) {
        for (const LoggedRequest& r : m_site->navigations()) {
            if (m_site->url(QString::fromLatin1(r.target)) == address && r.status != 0)
                return true;
        }
        return false;
    };
    const qsizetype before = received().size();
    Program a;
    Program b;
    QVERIFY(a.start(dataHome, m_serviceHost));
    QVERIFY(b.start(dataHome, m_serviceHost));
    a.go(alpha);
    QVERIFY(QTest::qWaitFor([&] { return recorded(alpha); }, 20000));
    b.go(beta);
    QVERIFY(QTest::qWaitFor([&] { return recorded(beta); }, 20000));

    QVERIFY(a.signIn(QStringLiteral("jdoe"), QStringLiteral("s3cret")));
    QVERIFY(b.signIn(QStringLiteral("jdoe"), QStringLiteral("s3cret")));
    QVERIFY(a.upload());
    QVERIFY(b.upload());

    const QList<QByteArray> uploads = received();
    QCOMPARE(uploads.size(), before + 2);
    QVERIFY2(uploads.at(before).contains(alpha.toLatin1()) && !uploads.at(before).contains(beta.toLatin1()),
             uploads.at(before).constData());
    QVERIFY2(uploads.at(before + 1).contains(beta.toLatin1()) &&
                 !uploads.at(before + 1).contains(alpha.toLatin1()),
             uploads.at(before + 1).constData());
    QVERIFY(a.exitByMenu());
    QVERIFY(b.exitByMenu());
}

QTEST_MAIN(TestJourney)
#include "tst_journey.moc"
