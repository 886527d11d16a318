// A person's first session with the built program, driven from outside with
// xdotool on the test run's X server: the program runs as its own process with
// a data folder of its own, against the local test site and the local stand-in
// of the service. What the site and the stand-in received, and the saved file's
// bytes, are the checks.
#include "Files.h"
#include "Standin.h"
#include "Steps.h"
#include "TestSite.h"
#include "TransactionFile.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>

namespace {

// One xdotool call; its output, trimmed.
QString xdo(const QStringList& args)
{
    QProcess p;
    p.start(u"xdotool"_qs, args);
    if (!p.waitForFinished(15000))
        p.kill();
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// The visible window whose title matches exactly (of the given process, when
// one is given), waited for (empty when none came).
QString findWindow(const QString& title, int ms = 20000, qint64 pid = 0)
{
    QString found;
    QStringList args{u"search"_qs, u"--onlyvisible"_qs};
    if (pid != 0) // both conditions, not either (xdotool's default)
        args << u"--all"_qs << u"--pid"_qs << QString::number(pid);
    args << u"--name"_qs << QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
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
    (void)QTest::qWaitFor([&] { return xdo({u"getwindowfocus"_qs}) == window; }, 5000);
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
    for (const QString& line :
         xdo({u"getwindowgeometry"_qs, u"--shell"_qs, window}).split(QLatin1Char('\n'))) {
        const QStringList kv = line.split(QLatin1Char('='));
        if (kv.size() == 2)
            v.insert(kv.at(0), kv.at(1).toInt());
    }
    return {v.value(u"X"_qs), v.value(u"Y"_qs), v.value(u"WIDTH"_qs), v.value(u"HEIGHT"_qs)};
}

// A left click at a point of a window (relative to its top left corner), the
// window brought to the front first; the window then has the keyboard.
void clickAt(const QString& window, int x, int y)
{
    xdo({u"windowraise"_qs, window});
    xdo({u"mousemove"_qs, u"--window"_qs, window, QString::number(x), QString::number(y)});
    xdo({u"click"_qs, u"1"_qs});
    waitForKeyboard(window);
}

void keys(const QString& combination)
{
    xdo({u"key"_qs, u"--clearmodifiers"_qs, combination});
}

void type(const QString& text)
{
    xdo({u"type"_qs, u"--delay"_qs, u"8"_qs, text});
}

// A file name typed into a file dialog and Return. The dialog may take the keys
// only after X gave it the focus: typed again (the whole field replaced) until
// stop() holds, each time waiting for done() a while.
void typeFileName(const QString& file, const std::function<bool()>& done,
                  const std::function<bool()>& stop = {})
{
    for (int attempt = 0; attempt < 3 && !(stop ? stop() : done()); ++attempt) {
        keys(u"ctrl+a"_qs);
        type(file);
        keys(u"Return"_qs);
        (void)QTest::qWaitFor(done, 7000);
    }
}

// The program's own windows: titles, and where their controls sit (pixels
// from the window's corner, at the test run's 96 dpi).
const QString editorTitle = u"Control Panel"_qs;
const QPoint editorKeywords(150, 300); // "Alert me if the following keywords are not found"
const QPoint editorFirstRow(100, 31);  // the step list's first row

struct Program
{
    QProcess process;
    QString main; // the main window

    bool start(const QString& dataHome, const QString& m_serviceHost)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_DATA_HOME"_qs, dataHome);
        env.insert(u"TALLYRO_SERVICE_HOST"_qs, m_serviceHost);
        env.remove(u"QT_QPA_PLATFORM"_qs);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(TALLYRO_RECORDER_PROGRAM), {});
        if (!process.waitForStarted(10000))
            return false;
        main = findWindow(u"TallyroNet Transaction Recorder 1.0.0"_qs, 30000, process.processId());
        return !main.isEmpty();
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
        return QTest::qWaitFor([&] { return xdo({u"getwindowname"_qs, main}) == title; }, 20000);
    }
    bool exitByMenu()
    {
        focusMain();
        keys(u"alt+f"_qs);
        keys(u"x"_qs);
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
    QProcess::execute(u"import"_qs,
                      {u"-window"_qs, u"root"_qs, u"-crop"_qs,
                       u"%1x%2+%3+%4"_qs.arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y()),
                       u"+repage"_qs, QDir(folder).filePath(name)});
}

} // namespace

class TestJourney : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_site = std::make_unique<TestSite>();
        QVERIFY(m_site->isRunning());
        QVERIFY(m_work.isValid());
        // The stand-in service with one account.
        const QString accounts = m_work.filePath(u"accounts.txt"_qs);
        QVERIFY(writeFile(accounts, "account jdoe s3cret\ntransaction 12 Login\n"));
        m_serviceHost =
            QString::fromLatin1(startStandin(m_standin, accounts, m_work.filePath(u"received"_qs)));
        QVERIFY(!m_serviceHost.isEmpty());
    }

    void cleanupTestCase()
    {
        m_standin.kill();
        m_standin.waitForFinished(5000);
    }

    void firstSession()
    {
        TestSite& site = *m_site;
        const QString dataHome = m_work.filePath(u"data"_qs);
        const QString file = m_work.filePath(u"journey.xml"_qs);
        const QString start = site.url(u"/journey/start.html"_qs);
        const QString next = site.url(u"/journey/next.html"_qs);
        const QString done = site.url(u"/journey/done"_qs);
        const QString body = u"name=Jane+Doe&city=Z%C3%BCrich"_qs;
        // Record: type an address and press Enter, click a link, click a form's button.
        {
            Program program;
            QVERIFY(program.start(dataHome, m_serviceHost));
            // Typed again while the page did not come (keys sent before the
            // window took the keyboard go nowhere).
            QString editor;
            for (int attempt = 0; attempt < 3 && editor.isEmpty(); ++attempt) {
                program.focusMain();
                keys(u"alt+a"_qs); // the address box
                keys(u"ctrl+a"_qs);
                type(start);
                keys(u"Return"_qs);
                editor = findWindow(editorTitle, 10000);
            }
            QVERIFY(!editor.isEmpty());
            QVERIFY(geometry(editor).left() >= geometry(program.main).right()); // leaving the page free
            QVERIFY(program.shows(u"Journey start"_qs));
            clickAt(program.main, 200, 320);
            QVERIFY(program.shows(u"Journey next"_qs));
            clickAt(program.main, 200, 320);
            QVERIFY(program.shows(u"Received"_qs)); // the page is complete, its step labelled
            // The editor is shown again. Keywords for the form's step (the list's
            // last row, which the saved file shows), committed by a click on the list.
            QVERIFY(!findWindow(editorTitle).isEmpty());
            clickAt(editor, editorFirstRow.x(), editorFirstRow.y());
            keys(u"End"_qs);
            clickAt(editor, editorKeywords.x(), editorKeywords.y());
            type(u"Welcome back"_qs);
            screenshot(u"recording.png"_qs, geometry(program.main) | geometry(editor));
            clickAt(editor, editorFirstRow.x(), editorFirstRow.y());
            // Ctrl+P in the editor: the editor goes, the steps are requested once each.
            site.clear();
            clickAt(editor, editorKeywords.x(), editorKeywords.y());
            keys(u"ctrl+p"_qs);
            QVERIFY(windowGone(editorTitle));
            // One request every five seconds.
            QElapsedTimer clock;
            clock.start();
            QList<qint64> arrivals;
            for (int n = 1; n <= 3; ++n) {
                QVERIFY(QTest::qWaitFor([&] { return site.navigations().size() >= n; }, 15000));
                arrivals << clock.elapsed();
            }
            QVERIFY(arrivals.at(1) - arrivals.at(0) >= 4000 && arrivals.at(2) - arrivals.at(1) >= 4000);
            QTest::qWait(6000);   // a second run would request again within the next tick
            QStringList replayed; // each request's method, target and body
            for (const LoggedRequest& r : site.navigations())
                replayed << QString::fromLatin1(r.method + ' ' + r.target + ' ' + r.body);
            QCOMPARE(replayed, (QStringList{u"GET /journey/start.html "_qs, u"GET /journey/next.html "_qs,
                                            u"POST /journey/done "_qs + body}));
            // Ctrl+S, a file name typed into the dialog.
            program.focusMain();
            keys(u"ctrl+s"_qs);
            QVERIFY(!dialog(u"File Save"_qs).isEmpty());
            typeFileName(file, [&] { return QFile::exists(file); });
            QVERIFY(QFile::exists(file));
            QVERIFY(!dialog(u"File Save"_qs).isEmpty()); // "File saved successfully"
            keys(u"Return"_qs);
            QVERIFY(windowGone(u"File Save"_qs));
            QVERIFY(program.exitByMenu());
        }

        const QString t = u"30"_qs, n = u"N"_qs;
        const QList<RecordedStep> expected{
            step(start, {}, {}, {}, {}, {}, {}, t, n, u"Journey start"_qs),
            step(next, {}, {}, {}, {}, {}, {}, t, n, u"Journey next"_qs),
            step(done, body, u"Welcome back"_qs, {}, {}, {}, {}, t, n, u"Received"_qs)};
        QCOMPARE(readFile(file), transactionFileBytes(expected, {}));
        // A fresh start: open the file, then upload it with a typed user name and key.
        {
            Program program;
            QVERIFY(program.start(dataHome, m_serviceHost));
            program.focusMain();
            keys(u"ctrl+o"_qs);
            QVERIFY(!dialog(u"File Open"_qs).isEmpty());
            typeFileName(
                file, [&] { return !findWindow(editorTitle, 0).isEmpty(); },
                [&] { return findWindow(u"File Open"_qs, 0).isEmpty(); });
            QVERIFY(!findWindow(editorTitle).isEmpty()); // the steps are read; the upload shows which
            // Ctrl+U, the account typed into the sign-in window, its Upload button.
            program.focusMain();
            keys(u"ctrl+u"_qs);
            QVERIFY(!dialog(u"Upload Form"_qs, program.process.processId()).isEmpty());
            type(u"jdoe"_qs);
            keys(u"Tab"_qs);
            type(u"s3cret"_qs);
            keys(u"Tab"_qs);
            keys(u"space"_qs);
            const QString upload = findWindow(u"Upload transaction"_qs, 20000, program.process.processId());
            QVERIFY(!upload.isEmpty());
            screenshot(u"upload.png"_qs, geometry(upload));
            // "Upload !": a click on the window's text gives it the keyboard, the button keeps the focus.
            clickAt(upload, 12, 8);
            keys(u"space"_qs);
            QVERIFY(!dialog(u"Upload Status"_qs, program.process.processId()).isEmpty());
            keys(u"Return"_qs); // the outcome's box
            QVERIFY(windowGone(u"Upload Status"_qs));
            QVERIFY(program.exitByMenu());
        }
        QCOMPARE(readFile(m_work.filePath(u"received/upload-1/recorder.xml"_qs)),
                 transactionFileBytes(expected, {u"jdoe"_qs, u"s3cret"_qs}));
    }

private:
    std::unique_ptr<TestSite> m_site;
    QTemporaryDir m_work;
    QProcess m_standin;
    QString m_serviceHost;
};

QTEST_MAIN(TestJourney)
#include "tst_journey.moc"
