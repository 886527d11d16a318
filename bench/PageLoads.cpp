// Page loads in this process: the recorder's main window against a plain view,
// and the replay's pace as the local site sees it.

#include "PageLoads.h"

#include "Bench.h"
#include "Recorder.h"
#include "TestSite.h"
#include "WebBrowser.h"
#include "frmBrowser.h"
#include "frmControlPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMetaEnum>
#include <QMutex>
#include <QMutexLocker>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace bench {
namespace {

// Stops every repeating 1 ms timer at its first tick (the recorder window's
// busy poll), to see what page loads cost without it.
class FastTimerStopper : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer) {
            auto* timer = qobject_cast<QTimer*>(watched);
            if (timer && timer->objectName() == QLatin1String("timTimer")) {
                timer->stop();
                return true;
            }
        }
        return false;
    }
};

// A browser whose page loads are timed: from the moment the load is asked for to
// the completion of the document at the expected address. For the recorder that
// is when its DocumentComplete reaches the bench, after the window's own handler
// (connected first) has run: what recording does with a finished page counts.
class Subject : public QObject
{
public:
    virtual QString name() const = 0;
    virtual QWebEnginePage* page() const = 0;

    // Opens a page; ns receives the time to its completed document. What a
    // person does before asking for the load (typing the address) and the window's
    // repaint for it come before the clock starts.
    bool open(const QString& url, qint64* ns = nullptr)
    {
        if (type(url))
            settle(20);
        return measure(url, ns, [&] { navigate(url); });
    }
    // Clicks the page's submit button #go; the answer comes from target.
    bool submit(const QString& target, qint64* ns)
    {
        return measure(target, ns, [this, &target] {
            requesting(target);
            page()->runJavaScript(QStringLiteral("document.getElementById('go').click()"));
        });
    }
    // Waits for a document at url the subject loads by itself (a start page).
    bool await(const QString& url)
    {
        m_expected = url;
        m_doneAt = 0;
        return wait(20000);
    }

    // Waits (at most a second) until the browser has shown what it shows: a
    // window that holds repaints back after a load must not leave them to the
    // next load, least of all to another browser's.
    virtual void quiet() {}

protected:
    // Puts the address where a person types it; false if the subject has no such place.
    virtual bool type(const QString&) { return false; }
    // Asks for the load of url.
    virtual void navigate(const QString& url) = 0;
    // A top document is about to be requested from url (as a form's answer).
    virtual void requesting(const QString&) {}

    void completed(const QString& url)
    {
        if (m_doneAt || m_expected.isEmpty() || !sameAddress(url, m_expected))
            return;
        m_doneAt = monotonicNs();
        if (m_loop)
            m_loop->quit();
    }

private:
    template <typename Start> bool measure(const QString& url, qint64* ns, Start start)
    {
        m_expected = url;
        m_doneAt = 0;
        if (ns) {
            ProfilingApplication::bucket = name();
            ++ProfilingApplication::loads[name()];
        }
        const qint64 t0 = monotonicNs();
        start();
        const bool ok = wait(20000);
        ProfilingApplication::bucket.clear();
        m_expected.clear();
        if (!ok) {
            note(QStringLiteral("%1 did not complete %2").arg(name(), url));
            return false;
        }
        if (ns)
            *ns = m_doneAt - t0;
        return true;
    }

    bool wait(int ms)
    {
        if (m_doneAt)
            return true;
        QEventLoop loop;
        m_loop = &loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        m_loop = nullptr;
        return m_doneAt != 0;
    }

    QString m_expected;
    qint64 m_doneAt = 0;
    QEventLoop* m_loop = nullptr;
};

// A plain QWebEngineView; with no profile given, on a profile of its own with
// nothing installed.
class PlainSubject : public Subject
{
public:
    // What the recorder's browser adds to a page, one at a time.
    enum Extra
    {
        Nothing = 0,
        RequestInterceptor = 1, // sees every request, does nothing
        WebChannel = 2,         // a channel in the script world the recorder uses, one object
        EmptyScript = 4,        // an empty script in that world, in every frame, at document creation
        EmptyMainScript = 8,    // the same in the page's own world
        StatusLine = 16,        // a status line under the page, in the same window, telling a load
                                // when it starts and when it ends (as the recorder's does)
        // Scripts in the recorder's world that run in some documents only.
        NoMatchScript = 32, // one whose address rule matches no page
        BlankScript = 64,   // one for blank documents only, the profile's (as the page
                            // script must be to reach the frames a page builds)
        FramesScript = 128, // one for every document but the top one: the top
                            // document's address left out, set before each load
        // Once the recorder's world has a context in the top frame, each later
        // document of that frame gets one at once, script or not.
        BlankFirst = 256,      // the view shows the blank page before the first load
        WorldUsedOnce = 512,   // no script: one run in the recorder's world in the first page loaded
        FramesReachTop = 1024, // the frames' script reads window.top, which gives the top
                               // document a context in the recorder's world
        FramesCapture = 2048,  // the frames' script is the recorder's capture script
        EmptyTopScript = 4096, // an empty script in the page's own world, the top document only
        // What any capture of this kind needs before it does anything: a script in
        // every document, a channel to the program, a look at every request.
        CaptureFloor = RequestInterceptor | WebChannel | EmptyScript
    };

    PlainSubject(const QString& name, QWebEngineProfile* profile, QSize size, int extra = Nothing)
        : m_name(name)
    {
        if (!profile)
            profile = m_ownProfile = new QWebEngineProfile(this); // off the record
        m_view = std::make_unique<QWebEngineView>();
        auto* page = new QWebEnginePage(profile, m_view.get());
        if (extra & RequestInterceptor)
            page->setUrlRequestInterceptor(new IdleInterceptor(page));
        if (extra & WebChannel) {
            auto* channel = new QWebChannel(page);
            channel->registerObject(QStringLiteral("benchObject"), new QObject(channel));
            page->setWebChannel(channel, QWebEngineScript::ApplicationWorld);
        }
        if (extra & (EmptyScript | EmptyMainScript))
            page->scripts().insert(emptyScript((extra & EmptyScript) ? QWebEngineScript::ApplicationWorld
                                                                     : QWebEngineScript::MainWorld));
        if (extra & EmptyTopScript) {
            QWebEngineScript script = emptyScript(QWebEngineScript::MainWorld);
            script.setRunsOnSubFrames(false);
            page->scripts().insert(script);
        }
        if (extra & NoMatchScript)
            page->scripts().insert(emptyScript(QWebEngineScript::ApplicationWorld,
                                               QStringLiteral("@include http://no-page.invalid/*")));
        // Only a profile's scripts reach blank frames; so only a profile of its own takes one.
        if ((extra & BlankScript) && m_ownProfile)
            m_ownProfile->scripts()->insert(
                emptyScript(QWebEngineScript::ApplicationWorld, QStringLiteral("@include about:*")));
        m_framesScript = extra & (FramesScript | FramesReachTop | FramesCapture);
        m_framesCapture = extra & FramesCapture;
        m_framesReachTop = extra & FramesReachTop;
        m_view->setPage(page);
        m_view->resize(size);
        QLabel* status = nullptr;
        if (extra & StatusLine) {
            m_window = std::make_unique<QWidget>();
            auto* layout = new QVBoxLayout(m_window.get());
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(0);
            m_view->setParent(m_window.get());
            layout->addWidget(m_view.get());
            status = new QLabel(QStringLiteral("Done"), m_window.get());
            layout->addWidget(status);
            m_window->resize(size.width(), size.height() + status->sizeHint().height());
            m_window->show();
            connect(m_view.get(), &QWebEngineView::loadStarted, status,
                    [status] { status->setText(QStringLiteral("Opening page...")); });
        } else {
            m_view->show();
        }
        m_useWorldOnce = extra & WorldUsedOnce;
        if (extra & BlankFirst) {
            QEventLoop loop;
            connect(m_view.get(), &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
            m_view->load(QUrl(QStringLiteral("about:blank")));
            QTimer::singleShot(5000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        connect(m_view.get(), &QWebEngineView::loadFinished, this, [this, status] {
            if (m_useWorldOnce && m_view->url().scheme() == QLatin1String("http")) {
                m_useWorldOnce = false;
                m_view->page()->runJavaScript(QStringLiteral("0"), QWebEngineScript::ApplicationWorld);
            }
            if (status)
                status->setText(QStringLiteral("Done"));
            completed(m_view->url().toString(QUrl::FullyEncoded));
        });
    }
    ~PlainSubject() override
    {
        // The page goes before its profile; a view in a window goes with it.
        if (m_window)
            m_view.release();
        m_view.reset();
        m_window.reset();
    }
    QString name() const override { return m_name; }
    QWebEnginePage* page() const override { return m_view->page(); }

    // Puts the view in a window of the given size, at the given place in it (as
    // a browser window holds its page under an address row), the rest empty.
    void placeInWindow(QSize window, QRect view)
    {
        if (m_window)
            return;
        m_window = std::make_unique<QWidget>();
        m_view->setParent(m_window.get());
        m_view->setGeometry(view);
        m_window->resize(window);
        m_view->show();
        m_window->show();
    }

protected:
    void navigate(const QString& url) override
    {
        requesting(url);
        m_view->load(QUrl(url));
    }
    // The frames' script leaves out the top document's address, as the
    // recorder's does from each top request on.
    void requesting(const QString& url) override
    {
        if (m_framesScript) {
            QWebEngineScriptCollection& scripts = m_view->page()->scripts();
            for (const QWebEngineScript& old : scripts.find(QStringLiteral("frames")))
                scripts.remove(old);
            // With the capture: the recorder's page script as its frames get it, reporting to no one.
            QWebEngineScript script =
                m_framesCapture ? WebBrowser::framesCaptureScript(QStringLiteral("\u0001bench:"), url)
                                : emptyScript(QWebEngineScript::ApplicationWorld,
                                              QStringLiteral("@exclude about:*\n// @exclude ") + url, {},
                                              m_framesReachTop ? QStringLiteral("window.top;") : QString());
            // Changed in place, as the recorder's: new scripts by the hundred
            // would stop the page's earlier ones.
            if (m_frames) {
                m_frames->setSourceCode(script.sourceCode());
            } else {
                script.setName(QStringLiteral("frames"));
                m_frames = script;
            }
            scripts.insert(*m_frames);
        }
    }

private:
    class IdleInterceptor : public QWebEngineUrlRequestInterceptor
    {
    public:
        using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
        void interceptRequest(QWebEngineUrlRequestInfo&) override {}
    };

    // An empty script (or the statement given) in the given world, in every
    // frame, at document creation; with an address rule, run only where the rule lets it.
    static QWebEngineScript emptyScript(QWebEngineScript::ScriptWorldId world, const QString& rule = {},
                                        const QString& name = {}, const QString& statement = {})
    {
        QWebEngineScript script;
        script.setName(name);
        const QString body = QStringLiteral("(function () {%1})();").arg(statement);
        script.setSourceCode(
            rule.isEmpty()
                ? body
                : QStringLiteral("// ==UserScript==\n// %1\n// ==/UserScript==\n").arg(rule) + body);
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(world);
        script.setRunsOnSubFrames(true);
        return script;
    }

    QString m_name;
    QWebEngineProfile* m_ownProfile = nullptr;
    bool m_framesScript = false;
    std::optional<QWebEngineScript> m_frames;
    bool m_framesReachTop = false;
    bool m_framesCapture = false;
    bool m_useWorldOnce = false;
    std::unique_ptr<QWidget> m_window; // holds the view when it has a status line
    std::unique_ptr<QWebEngineView> m_view;
};

// The recorder's embedded browser alone, in a bare window: what the engine
// wrapper costs without the recorder's window around it.
class BrowserSubject : public Subject
{
public:
    explicit BrowserSubject(QSize size)
    {
        m_window = std::make_unique<QWidget>();
        m_browser = new WebBrowser(WebBrowser::recorderProfile(), m_captures, WebBrowser::Origin::OwnWindow,
                                   m_window.get());
        m_browser->resize(size);
        m_window->resize(size);
        m_window->show();
        connect(m_browser, &WebBrowser::DocumentComplete, this, &BrowserSubject::completed);
    }
    QString name() const override { return QStringLiteral("browser alone"); }
    QWebEnginePage* page() const override { return m_browser->page(); }

protected:
    void navigate(const QString& url) override { m_browser->Navigate(url); }

private:
    CaptureStore m_captures;
    std::unique_ptr<QWidget> m_window;
    WebBrowser* m_browser = nullptr;
};

// The recorder's main window, driven as a user does: addresses typed into the
// address box.
class RecorderSubject : public Subject
{
public:
    RecorderSubject()
    {
        recorder = std::make_unique<Recorder>(WebBrowser::recorderProfile());
        main = recorder->start();
        connect(main->brwWebBrowser(), &WebBrowser::DocumentComplete, this, &RecorderSubject::completed);
    }
    ~RecorderSubject() override { recorder.reset(); }
    QString name() const override
    {
        return (main->chkSave()->isChecked() ? QStringLiteral("recorder")
                                             : QStringLiteral("recorder, not recording")) +
               suffix;
    }
    QWebEnginePage* page() const override { return main->brwWebBrowser()->page(); }

    // Empties the store before each round, so that it never fills.
    std::function<void()> clearSteps() const
    {
        return [r = recorder.get()] { r->editor().clearitems(); };
    }

    std::unique_ptr<Recorder> recorder;
    frmBrowser* main = nullptr;
    QString suffix; // names a variant of the measurement

    void quiet() override
    {
        // Holding the status line's container holds the status line with it.
        const QList<QWidget*> held = {main->StatusBar(), main->cboAddress()};
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 1000 &&
               std::any_of(held.begin(), held.end(), [](QWidget* w) { return w && !w->updatesEnabled(); }))
            settle(5);
    }

protected:
    bool type(const QString& url) override
    {
        main->cboAddress()->setEditText(url);
        return true;
    }
    // Enter in the address box, which type() filled.
    void navigate(const QString&) override { main->cboAddress_Click(); }
};

struct PageItem
{
    QString kind;
    QString url;       // the page, or for a form the page holding it
    QString submitsTo; // a form: where its POST goes
};

QList<PageItem> overheadPages(const TestSite& site)
{
    QList<PageItem> items;
    for (int v = 1; v <= 3; ++v) {
        for (const char* name :
             {"plain", "article", "table", "links", "styled", "scripted", "nested", "getform"})
            items.append(
                {QStringLiteral("static"),
                 site.url(QStringLiteral("/pages/%1.html?v=%2").arg(QString::fromLatin1(name)).arg(v)),
                 {}});
        items.append({QStringLiteral("20 sub-resources"),
                      site.url(QStringLiteral("/pages/resources.html?v=%1").arg(v)),
                      {}});
        items.append(
            {QStringLiteral("three frames"), site.url(QStringLiteral("/pages/frames.html?v=%1").arg(v)), {}});
    }
    for (int v = 1; v <= 2; ++v)
        items.append({QStringLiteral("POST form"),
                      site.url(QStringLiteral("/pages/postform.html?v=%1").arg(v)),
                      site.url(QStringLiteral("/received"))});
    return items;
}

// Pages as a site on the network serves them: every document answered after
// 40 ms, a page with 20 sub-resources, a three-frame page, a form post.
QList<PageItem> realisticPages(const TestSite& site)
{
    QList<PageItem> items;
    for (int v = 1; v <= 4; ++v) {
        for (const char* name : {"article", "resources", "frames"})
            items.append(
                {QStringLiteral("late ") + QString::fromLatin1(name),
                 site.url(
                     QStringLiteral("/pages/%1.html?delay=40&v=%2").arg(QString::fromLatin1(name)).arg(v)),
                 {}});
        items.append({QStringLiteral("late POST form"),
                      site.url(QStringLiteral("/pages/postform-late.html?delay=40&v=%1").arg(v)),
                      site.url(QStringLiteral("/received?delay=40"))});
    }
    return items;
}

struct Comparison
{
    QList<double> ratios, subjectMs, plainMs;
    QMap<QString, QList<double>> byKind;

    void add(const Comparison& other)
    {
        ratios += other.ratios;
        subjectMs += other.subjectMs;
        plainMs += other.plainMs;
        for (auto it = other.byKind.cbegin(); it != other.byKind.cend(); ++it)
            byKind[it.key()] += it.value();
    }
};

// Loads every page in both, alternating which goes first, each page both ways
// over the rounds; before each round beforeRound runs (the recorder's store is
// emptied so that it never fills). firstRound: the number of the first round,
// for a caller that measures one round per call; only round 0 has a warm-up.
Comparison compare(Subject& subject, Subject& plain, const QList<PageItem>& items, int rounds,
                   const std::function<void()>& beforeRound, int firstRound = 0)
{
    const auto load = [&subject, &plain](Subject& b, const PageItem& item, qint64* ns) {
        // The previous page's after-work is not this page's load.
        subject.quiet();
        plain.quiet();
        settle(40);
        if (item.submitsTo.isEmpty())
            return b.open(item.url, ns);
        if (!b.open(item.url))
            return false;
        b.quiet();
        settle(40);
        return b.submit(item.submitsTo, ns);
    };
    // Both see every page once before the measured rounds.
    if (beforeRound)
        beforeRound();
    for (qsizetype i = 0; firstRound == 0 && i < items.size(); ++i) {
        load(subject, items.at(i), nullptr);
        load(plain, items.at(i), nullptr);
    }

    Comparison c;
    for (int round = 0; round < rounds; ++round) {
        if (beforeRound)
            beforeRound();
        for (qsizetype i = 0; i < items.size(); ++i) {
            const PageItem& item = items.at(i);
            qint64 a = 0;
            qint64 b = 0;
            // Turns from page to page, and each page the other way in the next
            // round, whether the number of pages is even or odd.
            const bool subjectFirst = (i + firstRound + round) % 2 == 0;
            const bool ok = subjectFirst ? load(subject, item, &a) && load(plain, item, &b)
                                         : load(plain, item, &b) && load(subject, item, &a);
            if (!ok)
                continue;
            c.subjectMs.append(double(a) / 1e6);
            c.plainMs.append(double(b) / 1e6);
            c.ratios.append(double(a) / double(b));
            c.byKind[item.kind].append(double(a) / double(b));
        }
    }
    return c;
}

using Results = QList<std::pair<Subject*, Comparison>>;

// Each subject against the plain view, one pass over the pages each in turn,
// round by round, so that a change in the machine's load touches them all
// alike; each result adds up its subject's pairs. beforeTurn(i) and afterTurn()
// run around subject i's pass.
void compareInTurns(Results& results, Subject& plain, const QList<PageItem>& items, int rounds,
                    const std::function<void()>& beforeRound,
                    const std::function<void(qsizetype)>& beforeTurn = {},
                    const std::function<void()>& afterTurn = {})
{
    for (int round = 0; round < rounds; ++round) {
        for (qsizetype i = 0; i < results.size(); ++i) {
            if (beforeTurn)
                beforeTurn(i);
            results[i].second.add(compare(*results[i].first, plain, items, 1, beforeRound, round));
            if (afterTurn)
                afterTurn();
        }
    }
}

void describeKinds(const Comparison& c)
{
    for (auto it = c.byKind.cbegin(); it != c.byKind.cend(); ++it)
        note(QStringLiteral("ratio, %1 (%2 pairs): %3")
                 .arg(it.key())
                 .arg(it.value().size())
                 .arg(spread(it.value(), 2)));
}

void describe(const QString& what, const Comparison& c)
{
    note(QStringLiteral("%1 ms: %2").arg(what, spread(c.subjectMs)));
    note(QStringLiteral("plain view ms: %1").arg(spread(c.plainMs)));
    note(QStringLiteral("ratio of the medians: %1").arg(fixed(median(c.subjectMs) / median(c.plainMs))));
    describeKinds(c);
}

void measureOverhead(const Options& options, const TestSite& site, RecorderSubject& recorder, Subject& plain)
{
    section(QStringLiteral("recording overhead"));
    recorder.main->chkSave()->setChecked(true);
    const Comparison c =
        compare(recorder, plain, overheadPages(site), options.quick ? 1 : 4, recorder.clearSteps());
    figure(QStringLiteral("recording overhead: %1 (median of %2 pairs)")
               .arg(fixed(median(c.ratios)))
               .arg(c.ratios.size()));
    describe(QStringLiteral("recorder"), c);
    note(QStringLiteral("steps recorded in the last round: %1")
             .arg(recorder.recorder->editor().store().count()));
    const Comparison r =
        compare(recorder, plain, realisticPages(site), options.quick ? 1 : 4, recorder.clearSteps());
    figure(QStringLiteral("recording overhead, realistic pages: %1 (median of %2 pairs)")
               .arg(fixed(median(r.ratios)))
               .arg(r.ratios.size()));
    describe(QStringLiteral("recorder, realistic pages"), r);
}

// Where the overhead comes from: the same comparison for parts of the recorder
// and for a plain view given one of the recorder's additions at a time. The
// variants take turns, one pass over the pages each, so that a change in the
// machine's load touches them all alike. The realistic pages are measured for
// the variants that bound what any capture of this kind can reach.
void diagnoseOverhead(const Options& options, const TestSite& site, RecorderSubject& recorder, Subject& plain)
{
    const int rounds = options.quick ? 1 : 3;
    const QSize size = recorder.main->brwWebBrowser()->size();
    // The recorder's profile holds the blank documents' script only; the rest
    // of the page script is each browser's own.
    PlainSubject scripted(
        QStringLiteral("plain view on the recorder's profile (its blank documents' script)"),
        WebBrowser::recorderProfile(), size);
    PlainSubject intercepted(QStringLiteral("plain view + an idle request interceptor"), nullptr, size,
                             PlainSubject::RequestInterceptor);
    PlainSubject channelled(QStringLiteral("plain view + a web channel"), nullptr, size,
                            PlainSubject::WebChannel);
    PlainSubject emptyScript(QStringLiteral("plain view + an empty script in the recorder's script world"),
                             nullptr, size, PlainSubject::EmptyScript);
    PlainSubject emptyMainScript(QStringLiteral("plain view + an empty script in the page's own world"),
                                 nullptr, size, PlainSubject::EmptyMainScript);
    PlainSubject floor(QStringLiteral("plain view + empty script, web channel and idle interceptor together"),
                       nullptr, size, PlainSubject::CaptureFloor);
    PlainSubject statusLine(QStringLiteral("plain view + a status line told when a load starts and ends"),
                            nullptr, size, PlainSubject::StatusLine);
    // The same floor for a capture in the page's own world, reporting by console
    // messages: no separate world, no channel.
    PlainSubject mainFloorStatus(QStringLiteral("plain view + empty script in the page's own world, idle "
                                                "interceptor and a status line"),
                                 nullptr, size,
                                 PlainSubject::EmptyMainScript | PlainSubject::RequestInterceptor |
                                     PlainSubject::StatusLine);
    PlainSubject floorStatus(QStringLiteral("plain view + empty script, web channel, idle interceptor and "
                                            "a status line"),
                             nullptr, size, PlainSubject::CaptureFloor | PlainSubject::StatusLine);
    // Where the separate world's cost arises: a script there that runs nowhere,
    // one for blank documents only, one for frames only beside the page's world.
    PlainSubject noMatch(QStringLiteral("plain view + a script in the recorder's world that matches no page"),
                         nullptr, size, PlainSubject::NoMatchScript);
    PlainSubject blankScript(QStringLiteral("plain view + a script in the recorder's world for blank "
                                            "documents only"),
                             nullptr, size, PlainSubject::BlankScript);
    PlainSubject blankScriptShown(
        QStringLiteral("plain view + a script in the recorder's world for blank "
                       "documents only, the view having shown the blank page first"),
        nullptr, size, PlainSubject::BlankScript | PlainSubject::BlankFirst);
    PlainSubject worldUsedOnce(QStringLiteral("plain view, no script, the recorder's world used once in the "
                                              "first page loaded"),
                               nullptr, size, PlainSubject::WorldUsedOnce);
    PlainSubject framesScript(
        QStringLiteral("plain view + an empty script in the page's own world and one in "
                       "the recorder's world for frames only"),
        nullptr, size, PlainSubject::EmptyMainScript | PlainSubject::FramesScript);
    PlainSubject framesReachTop(
        QStringLiteral("plain view + an empty script in the page's own world and one in "
                       "the recorder's world for frames only that reads window.top"),
        nullptr, size, PlainSubject::EmptyMainScript | PlainSubject::FramesReachTop);
    BrowserSubject browser(size);
    FastTimerStopper stopper;

    struct Variant
    {
        Subject* subject;
        bool recording = false;
        bool stopPoll = false;
    };
    const auto label = [&recorder](const Variant& v) {
        recorder.main->chkSave()->setChecked(v.recording);
        recorder.suffix = v.stopPoll ? QStringLiteral(", load poll stopped") : QString();
    };
    const auto measure = [&](const QString& title, const QList<PageItem>& items, QList<Variant> variants) {
        section(title);
        Results results;
        for (const Variant& v : std::as_const(variants))
            results.append(std::pair<Subject*, Comparison>(v.subject, {}));
        ProfilingApplication::enabled = true;
        compareInTurns(
            results, plain, items, rounds, recorder.clearSteps(),
            [&](qsizetype i) {
                label(variants.at(i));
                if (variants.at(i).stopPoll)
                    qApp->installEventFilter(&stopper);
            },
            [&] { qApp->removeEventFilter(&stopper); });
        ProfilingApplication::enabled = false;
        QStringList names;
        for (qsizetype i = 0; i < variants.size(); ++i) {
            label(variants.at(i));
            const QString name = variants.at(i).subject->name();
            const Comparison& result = results.at(i).second;
            note(QStringLiteral("%1: %2 (median of %3 pairs)")
                     .arg(name, fixed(median(result.ratios)))
                     .arg(result.ratios.size()));
            describe(name, result);
            names.append(name);
        }
        names.append(plain.name());
        for (const QString& name : std::as_const(names))
            ProfilingApplication::report(name);
        ProfilingApplication::costs.clear();
        ProfilingApplication::loads.clear();
    };
    measure(QStringLiteral("overhead by part"), overheadPages(site),
            {{&scripted},
             {&emptyScript},
             {&emptyMainScript},
             {&noMatch},
             {&blankScript},
             {&blankScriptShown},
             {&worldUsedOnce},
             {&framesScript},
             {&framesReachTop},
             {&intercepted},
             {&channelled},
             {&floor},
             {&statusLine},
             {&floorStatus},
             {&mainFloorStatus},
             {&browser},
             {&recorder},
             {&recorder, true},
             {&recorder, true, true}});
    measure(QStringLiteral("overhead by part, realistic pages"), realisticPages(site),
            {{&emptyScript},
             {&floor},
             {&statusLine},
             {&floorStatus},
             {&mainFloorStatus},
             {&scripted},
             {&recorder, true}});
    recorder.main->chkSave()->setChecked(true);
    recorder.suffix.clear();
}

// The three-frame page alone, local and answered after 40 ms: a plain view
// with an empty script in the page's own world, given a script for the frames
// in the recorder's world (empty, or the recorder's page script, also with an
// idle request interceptor), and the recorder recording; each against the
// plain view, taking turns by round, with what each costs the program's thread.
void measureFrames(const Options& options, const TestSite& site, RecorderSubject& recorder, Subject& plain)
{
    section(QStringLiteral("frames"));
    const QSize size = recorder.main->brwWebBrowser()->size();
    PlainSubject pageWorld(QStringLiteral("plain view + an empty script in the page's own world"), nullptr,
                           size, PlainSubject::EmptyMainScript);
    PlainSubject emptyFrames(QStringLiteral("the same + an empty script in the recorder's world for frames"),
                             nullptr, size, PlainSubject::EmptyMainScript | PlainSubject::FramesScript);
    PlainSubject captureFrames(
        QStringLiteral("the same + the recorder's page script in the recorder's world for frames"), nullptr,
        size, PlainSubject::EmptyMainScript | PlainSubject::FramesCapture);
    PlainSubject interceptedFrames(
        QStringLiteral("the same + an idle request interceptor (as the recorder looks at every request)"),
        nullptr, size,
        PlainSubject::EmptyMainScript | PlainSubject::FramesCapture | PlainSubject::RequestInterceptor);
    recorder.main->chkSave()->setChecked(true);
    recorder.suffix.clear();
    QList<PageItem> items;
    for (int v = 1; v <= 8; ++v) {
        items.append(
            {QStringLiteral("local"), site.url(QStringLiteral("/pages/frames.html?v=%1").arg(v)), {}});
        items.append({QStringLiteral("realistic"),
                      site.url(QStringLiteral("/pages/frames.html?delay=40&v=%1").arg(v)),
                      {}});
    }
    Results results = {{&pageWorld, {}},
                       {&emptyFrames, {}},
                       {&captureFrames, {}},
                       {&interceptedFrames, {}},
                       {&recorder, {}}};
    ProfilingApplication::enabled = true;
    compareInTurns(results, plain, items, options.quick ? 1 : 5, recorder.clearSteps());
    ProfilingApplication::enabled = false;
    for (const auto& [subject, result] : std::as_const(results))
        ProfilingApplication::report(subject->name());
    ProfilingApplication::report(plain.name());
    for (const auto& [subject, result] : std::as_const(results)) {
        for (auto it = result.byKind.cbegin(); it != result.byKind.cend(); ++it)
            figure(QStringLiteral("three frames, %1: %2 (%3 pairs): %4")
                       .arg(it.key(), subject->name())
                       .arg(it.value().size())
                       .arg(spread(it.value(), 2)));
    }
}

// The realistic pages in the recorder and in plain views given what a script
// capture costs before it does anything: the least any capture costs (an empty
// script in the top document, where a page's own script makes a context anyway),
// and empty scripts where the recorder puts its own (the page's world in the top
// document, the program's world in frames) with an idle request interceptor.
// A second plain view shows how far two equal browsers differ, one in a window
// of the recorder's window's size what the window's size costs. All against
// the plain view, taking turns by round.
void measureFloor(const Options& options, const TestSite& site, RecorderSubject& recorder, Subject& plain)
{
    section(QStringLiteral("floor"));
    const QSize size = recorder.main->brwWebBrowser()->size();
    PlainSubject twin(QStringLiteral("a second plain view"), nullptr, size);
    PlainSubject windowed(QStringLiteral("plain view in a window of the recorder's window's size"), nullptr,
                          size);
    WebBrowser* view = recorder.main->brwWebBrowser();
    windowed.placeInWindow(recorder.main->size(),
                           QRect(view->mapTo(recorder.main, QPoint(0, 0)), view->size()));
    PlainSubject least(
        QStringLiteral("plain view + an empty script in the page's own world, top document only"), nullptr,
        size, PlainSubject::EmptyTopScript);
    PlainSubject watched(QStringLiteral("the same + an idle request interceptor"), nullptr, size,
                         PlainSubject::EmptyTopScript | PlainSubject::RequestInterceptor);
    PlainSubject places(
        QStringLiteral("the same + an empty script in the recorder's world for frames"), nullptr, size,
        PlainSubject::EmptyTopScript | PlainSubject::FramesScript | PlainSubject::RequestInterceptor);
    recorder.main->chkSave()->setChecked(true);
    recorder.suffix.clear();
    const QList<PageItem> items = realisticPages(site);
    Results results = {{&twin, {}},    {&windowed, {}}, {&least, {}},
                       {&watched, {}}, {&places, {}},   {&recorder, {}}};
    compareInTurns(results, plain, items, options.quick ? 1 : 4, recorder.clearSteps());
    for (const auto& [subject, result] : std::as_const(results)) {
        figure(QStringLiteral("realistic pages, %1: %2 (median of %3 pairs)")
                   .arg(subject->name(), fixed(median(result.ratios)))
                   .arg(result.ratios.size()));
        describeKinds(result);
    }
}

// Stamps every request the site logs, from a thread of its own, so that the
// stamps do not wait for the program's event loop.
class ArrivalWatcher
{
public:
    explicit ArrivalWatcher(const TestSite& site) : m_site(site)
    {
        m_thread = std::thread([this] {
            qsizetype seen = 0;
            while (!m_stop) {
                const QList<LoggedRequest> log = m_site.requests();
                const qint64 now = monotonicNs();
                QMutexLocker lock(&m_mutex);
                for (qsizetype i = seen; i < log.size(); ++i)
                    m_arrivals.append({log.at(i), now});
                seen = log.size();
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }
    ~ArrivalWatcher()
    {
        m_stop = true;
        m_thread.join();
    }
    QList<qint64> arrivals(const QByteArray& prefix) const
    {
        QList<qint64> times;
        QMutexLocker lock(&m_mutex);
        for (const auto& [request, at] : m_arrivals) {
            if (request.method == "GET" && request.navigation && request.target.startsWith(prefix))
                times.append(at);
        }
        return times;
    }

private:
    const TestSite& m_site;
    mutable QMutex m_mutex;
    QList<std::pair<LoggedRequest, qint64>> m_arrivals;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void measurePacing(const Options& options, TestSite& site, RecorderSubject& s)
{
    section(QStringLiteral("playback pacing"));
    const int steps = options.quick ? 3 : 10;
    const QByteArray prefix = "/echo/pace-";
    s.recorder->editor().clearitems();
    s.main->chkSave()->setChecked(true);
    for (int i = 1; i <= steps; ++i) {
        if (!s.open(site.url(QString::fromLatin1(prefix) + QString::number(i))))
            return;
    }
    if (s.recorder->editor().store().count() != steps) {
        note(QStringLiteral("pacing: %1 steps recorded instead of %2")
                 .arg(s.recorder->editor().store().count())
                 .arg(steps));
        return;
    }
    settle(500);
    site.clear();
    ArrivalWatcher watcher(site);
    const qint64 play = monotonicNs();
    s.main->Label2_Click();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (watcher.arrivals(prefix).size() >= steps ||
            monotonicNs() - play > qint64(steps + 4) * paceInterval * 1000000)
            loop.quit();
    });
    poll.start(50);
    loop.exec();
    // Let the run end (one more tick) before anything else uses the window.
    for (int i = 0; i < 200 && s.recorder->editor().playback().isActive(); ++i)
        settle(50);

    const QList<qint64> at = watcher.arrivals(prefix);
    if (at.size() != steps) {
        note(QStringLiteral("pacing: the site received %1 of %2 requests").arg(at.size()).arg(steps));
        if (at.size() < 2)
            return;
    }
    double worst = 0;
    double worstFromPlay = 0;
    QStringList offsets;
    for (qsizetype i = 0; i < at.size(); ++i) {
        const double deviation = double(at.at(i) - at.first()) / 1e6 - double(paceInterval) * double(i);
        const double fromPlay = double(at.at(i) - play) / 1e6 - double(paceInterval) * double(i);
        if (std::abs(deviation) > std::abs(worst))
            worst = deviation;
        if (std::abs(fromPlay) > std::abs(worstFromPlay))
            worstFromPlay = fromPlay;
        offsets.append(fixed(fromPlay, 1));
    }
    figure(QStringLiteral("playback pacing: largest deviation %1%2 ms from the %3 ms slots (%4 requests)")
               .arg(worst >= 0 ? QStringLiteral("+") : QString())
               .arg(fixed(worst, 1))
               .arg(paceInterval)
               .arg(at.size()));
    note(QStringLiteral(
             "slots counted from the first request's arrival; from the Play command the largest is %1 ms")
             .arg(fixed(worstFromPlay, 1)));
    note(QStringLiteral("arrival minus slot, from Play, ms: %1").arg(offsets.join(QStringLiteral(", "))));
}

} // namespace

bool measureInProcess(const Options& options, TestSite& site)
{
    const bool overhead = options.wants(QStringLiteral("overhead"));
    const bool diagnose = options.only.contains(QStringLiteral("diagnose"));
    const bool frames = options.only.contains(QStringLiteral("frames"));
    const bool floor = options.only.contains(QStringLiteral("floor"));
    if (!overhead && !diagnose && !frames && !floor && !options.wants(QStringLiteral("pacing")))
        return true;
    RecorderSubject recorder;
    if (!recorder.await(QStringLiteral("about:blank"))) {
        note(QStringLiteral("the recorder's start page did not complete"));
        return false;
    }
    std::optional<PlainSubject> plain;
    if (overhead || diagnose || frames || floor)
        plain.emplace(QStringLiteral("plain view"), nullptr, recorder.main->brwWebBrowser()->size());
    if (frames)
        measureFrames(options, site, recorder, *plain);
    if (floor)
        measureFloor(options, site, recorder, *plain);
    if (overhead)
        measureOverhead(options, site, recorder, *plain);
    if (diagnose)
        diagnoseOverhead(options, site, recorder, *plain);
    if (options.wants(QStringLiteral("pacing")))
        measurePacing(options, site, recorder);
    return true;
}

} // namespace bench
