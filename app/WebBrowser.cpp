#include "WebBrowser.h"

#include "FormBody.h"
#include "NavigationTracker.h"
#include "OneTime.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMenu>
#include <QPointer>
#include <QStackedLayout>
#include <QTimer>
#include <QUuid>
#include <QWebEngineCertificateError>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <algorithm>
#include <optional>
#include <utility>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcBrowser, "tallyro.browser", QtWarningMsg)

namespace {

const QString blankPage = QStringLiteral("about:blank");

// The blank page a window no other window can reach shows when the program
// asks for the blank page: the engine's blank page at an address of its own,
// which the blank documents' script leaves out (see captureScript). Pages
// cannot guess it.
const QString& ownBlank()
{
    static const QString address =
        QStringLiteral("about:blank?") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    return address;
}

// An address of the engine as the program shows it: the own blank page is the blank page.
QUrl shownUrl(const QUrl& url)
{
    return url.scheme() == u"about" && url.toString(QUrl::FullyEncoded) == ownBlank() ? QUrl(blankPage) : url;
}

// A new prefix for the console messages by which a page script reports to the
// program; the page's own scripts never see it.
QString newConsoleMarker()
{
    return QStringLiteral("\u0001tallyro-") + QUuid::createUuid().toString(QUuid::WithoutBraces) + u':';
}

// The prefix of the blank documents' script, which all pages share.
const QString& blankMarker()
{
    static const QString marker = newConsoleMarker();
    return marker;
}

// Where a page script runs. In the page's own world only where no other
// document's script can reach the document before the script starts: the top
// document of a window no other window can reach. Frames, blank documents and
// every document of a window another window can reach run it in a world of the
// program's own, which costs each document a second script context. Once a
// frame has that context, the engine gives one to each later document of the
// frame too (and a script there that reaches another window gives that
// window's document one): so the top frame of a window that runs the script in
// the page's world never gets one. The frames' script leaves out the address
// a top document is requested from until that document exists, and the blank
// documents' script the window's own blank page. A frame takes the page's
// scripts as they are when it comes into being, the top frame each change.
enum class ScriptPlace
{
    TopDocument, // the page's own world, the top document only
    Frames,      // the program's world, every frame but the top document (or one at the address given)
    Everywhere,  // the program's world, every document
    Blank        // the program's world, blank documents but the own blank page (the others leave them out)
};

// A script header's rule leaving out one address; none for an address the rule
// cannot hold ('*' is a wildcard there and cannot be escaped).
QString excludeRule(const QString& address)
{
    if (address.isEmpty() || address.contains(u'*') || address.contains(u'\n'))
        return {};
    return QStringLiteral("// @exclude ") + address;
}

// The page script's source for a place, headed by its address rules.
QString captureSource(const QString& marker, ScriptPlace place, const QString& top = {})
{
    static const QString source = [] {
        QFile file(QStringLiteral(":/tallyro/capture.js"));
        if (!file.open(QIODevice::ReadOnly))
            qFatal("page script missing from the program's resources");
        return QString::fromUtf8(file.readAll());
    }();
    const bool pageWorld = place == ScriptPlace::TopDocument;
    // The body depends on the window and the place only: kept, so that the
    // frames' rule, which changes at every navigation, does not rebuild it.
    static QHash<QString, QString> bodies;
    const QString key = marker + QString::number(int(place));
    auto body = bodies.constFind(key);
    if (body == bodies.cend()) {
        if (bodies.size() >= 16)
            bodies.clear();
        body = bodies.insert(key, QString(source)
                                      .replace(QStringLiteral("@MARKER@"), marker)
                                      .replace(QStringLiteral("@PAGE_WORLD@"),
                                               pageWorld ? QStringLiteral("true") : QStringLiteral("false"))
                                      .replace(QStringLiteral("@FRAMES_ONLY@"),
                                               place == ScriptPlace::Frames ? QStringLiteral("true")
                                                                            : QStringLiteral("false")));
    }
    // A document the rules leave out gets no context of the script's world.
    QStringList header;
    if (place == ScriptPlace::Blank) {
        header << QStringLiteral("// @include about:*") << excludeRule(ownBlank());
    } else {
        header << QStringLiteral("// @exclude about:*");
        if (place == ScriptPlace::Frames)
            header << excludeRule(top);
    }
    header.removeAll(QString());
    return QStringLiteral("// ==UserScript==\n%1\n// ==/UserScript==\n").arg(header.join(u'\n')) + *body;
}

QWebEngineScript captureScript(const QString& marker, ScriptPlace place, const QString& top = {})
{
    const bool pageWorld = place == ScriptPlace::TopDocument;
    QWebEngineScript script;
    script.setName(place == ScriptPlace::TopDocument ? QStringLiteral("tallyro-capture-top")
                   : place == ScriptPlace::Frames    ? QStringLiteral("tallyro-capture-frames")
                   : place == ScriptPlace::Blank     ? QStringLiteral("tallyro-capture-blank")
                                                     : QStringLiteral("tallyro-capture"));
    script.setSourceCode(captureSource(marker, place, top));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(pageWorld ? QWebEngineScript::MainWorld : QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(!pageWorld);
    return script;
}

qint64 now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.elapsed();
}

NavigationTracker::Type trackerType(QWebEnginePage::NavigationType type)
{
    switch (type) {
    case QWebEnginePage::NavigationTypeLinkClicked:
        return NavigationTracker::Type::Link;
    case QWebEnginePage::NavigationTypeTyped:
        return NavigationTracker::Type::Typed;
    case QWebEnginePage::NavigationTypeFormSubmitted:
        return NavigationTracker::Type::Form;
    case QWebEnginePage::NavigationTypeBackForward:
        return NavigationTracker::Type::BackForward;
    case QWebEnginePage::NavigationTypeReload:
        return NavigationTracker::Type::Reload;
    case QWebEnginePage::NavigationTypeRedirect:
        return NavigationTracker::Type::Redirect;
    case QWebEnginePage::NavigationTypeOther:
        break;
    }
    return NavigationTracker::Type::Other;
}

NavigationTracker::Type trackerType(QWebEngineUrlRequestInfo::NavigationType type)
{
    switch (type) {
    case QWebEngineUrlRequestInfo::NavigationTypeLink:
        return NavigationTracker::Type::Link;
    case QWebEngineUrlRequestInfo::NavigationTypeTyped:
        return NavigationTracker::Type::Typed;
    case QWebEngineUrlRequestInfo::NavigationTypeFormSubmitted:
        return NavigationTracker::Type::Form;
    case QWebEngineUrlRequestInfo::NavigationTypeBackForward:
        return NavigationTracker::Type::BackForward;
    case QWebEngineUrlRequestInfo::NavigationTypeReload:
        return NavigationTracker::Type::Reload;
    case QWebEngineUrlRequestInfo::NavigationTypeRedirect:
        return NavigationTracker::Type::Redirect;
    default:
        break;
    }
    return NavigationTracker::Type::Other;
}

// The body a reported form submission sends.
QByteArray formBody(const QJsonObject& m)
{
    QList<formbody::Entry> entries;
    const QJsonArray list =
        QJsonDocument::fromJson(m.value(QStringLiteral("entries")).toString().toUtf8()).array();
    for (const QJsonValue& entry : list) {
        const QJsonArray pair = entry.toArray();
        entries.append({pair.at(0).toString(), pair.at(1).toString()});
    }
    return formbody::encode(entries, m.value(QStringLiteral("enctype")).toString(),
                            m.value(QStringLiteral("charset")).toString());
}

// The entries of a reported form that hold one-time values the site gave.
QStringList oneTimeEntries(const QJsonObject& m)
{
    const QJsonArray list =
        QJsonDocument::fromJson(m.value(QStringLiteral("entries")).toString().toUtf8()).array();
    const QString origins = m.value(QStringLiteral("origins")).toString();
    QList<onetime::Entry> entries;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonArray pair = list.at(i).toArray();
        entries.append(
            {pair.at(0).toString(), pair.at(1).toString(),
             i < origins.size() && origins.at(i) == u'u' ? onetime::Origin::User : onetime::Origin::Site});
    }
    return onetime::flagged(entries);
}

} // namespace

class RecorderPage;

struct WebBrowser::Private
{
    Private(WebBrowser* q, CaptureStore& captures, Origin origin) : q(q), origin(origin), captures(captures)
    {}
    static Private* of(WebBrowser* browser) { return browser->d.get(); }

    WebBrowser* q;
    Origin origin;
    bool startPageSkipped = false; // a new window's start-up request for the blank page
    RecorderPage* page = nullptr;
    QWebEngineView* view = nullptr;
    QStackedLayout* stack = nullptr;
    CaptureStore& captures;
    NavigationTracker tracker{captures};
    const QString consoleMarker = newConsoleMarker();
    // The page script runs in the program's world in every document: another
    // window's documents may reach this page's (a window a page opened, or one
    // that opened another).
    bool separateEverywhere = origin == Origin::NewWindow;
    QString scriptTop; // the top address the frames' script leaves out
    // The frames' script, made once and changed in place: a page whose scripts
    // were given a few hundred new scripts stops running its earlier ones (the
    // top document's and the profile's among them), while a changed script
    // keeps its place.
    std::optional<QWebEngineScript> framesScript;
    QList<NavigationTracker::Started> outbox;
    // A file the page was answered with, held until the navigation that asked
    // for it has been raised: FileOffered follows its BeforeNavigate2.
    std::optional<QPair<QUrl, QString>> heldFile;
    QTimer flushTimer;
    QTimer pollTimer;
    bool loading = false;
    bool mainCommitted = false; // the main frame's current load committed its document
    bool loadSucceeded = true;
    bool documentKept = false;

    // Sub-frame documents on their way (address key, when requested): the
    // window is busy while any frame loads.
    QList<QPair<QString, qint64>> frameLoads;

    // Each history entry (by its index): what started it, so that a return to
    // the entry carries the body that created it, and the document it shows
    // (entries a navigation inside the document added share their page's). Once
    // the history is full the engine drops its oldest entry for each new one,
    // and the indices move.
    struct HistoryEntry
    {
        std::optional<NavigationTracker::Started> start;
        quint64 document = 0; // 0: not known
    };
    std::optional<NavigationTracker::Started> lastMainStarted;
    // The last navigation that started for each address in a frame: what a
    // frame's return to a history entry of that address sends again.
    QHash<QString, NavigationTracker::Started> frameStarts;
    QHash<int, HistoryEntry> historyEntries;
    quint64 documents = 0; // main-frame documents committed; the last one's number
    // The history as the last commit left it: its size, the current entry's
    // index and the time that entry was shown (which no other entry shares).
    int historyCount = 0;
    int historyIndex = -1;
    qint64 historyShown = 0;

    // A POST the program itself loads (replay): its body for the event.
    QString programPostKey;
    QByteArray programPostBody;

    // A new window's page is shown only once that cannot crash the engine: after
    // it committed a real document, or after its blank document was reloaded
    // from a snapshot of its content.
    bool shown = false;
    bool adopted = false;
    QWebEngineUrlRequestInterceptor* requestWatcher = nullptr; // owned by the page
    bool firstNavigationSeen = false;
    bool ownReload = false;
    QUrl openerUrl;
    QTimer blankTimer;

    void queue(const QList<NavigationTracker::Started>& started);
    void flush();
    void raiseBeforeNavigate(const NavigationTracker::Started& started);
    void offerFile(const QUrl& url, const QString& fileName);
    void releaseFile();
    std::optional<NavigationTracker::Started> historyStart(const QUrl& url) const;
    void mainDocumentCommitted(const QUrl& url, bool sameDocument);
    void frameLoaded(const QUrl& url);
    bool framesLoading();
    void schedulePoll();
    void handleScriptMessage(const QString& text);
    void navigationRequested(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame);
    void requestIntercepted(QWebEngineUrlRequestInfo& info);
    void urlChanged(const QUrl& url);
    void loadFinished(bool ok);
    void adopt(const QUrl& opener);
    void reloadBlankFromSnapshot();
    void showPage();
    void placeCapture(const QString& top);
    void topRequested(const QUrl& url);
    void topCreated();
};

class RecorderPage : public QWebEnginePage
{
public:
    RecorderPage(QWebEngineProfile* profile, WebBrowser::Private* d) : QWebEnginePage(profile), d(d) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        d->navigationRequested(shownUrl(url), type, isMainFrame);
        return true;
    }

    QWebEnginePage* createWindow(WebWindowType) override
    {
        // The new window's documents can reach this page's from now on.
        d->separateEverywhere = true;
        d->placeCapture({});
        WebBrowser* browser = nullptr;
        emit d->q->NewWindow2(&browser);
        if (!browser)
            return nullptr;
        WebBrowser::Private* other = WebBrowser::Private::of(browser);
        other->adopt(url());
        return other->page;
    }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override
    {
        for (const QString& marker : {d->consoleMarker, blankMarker()}) {
            if (message.startsWith(marker)) {
                d->handleScriptMessage(message.mid(marker.size()));
                return;
            }
        }
        QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
    }

private:
    WebBrowser::Private* d;
};

// Sees the requests of the page's documents (main frame and frames).
class FrameRequestWatcher : public QWebEngineUrlRequestInterceptor
{
public:
    FrameRequestWatcher(WebBrowser::Private* d, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent), d(d)
    {}
    void interceptRequest(QWebEngineUrlRequestInfo& info) override { d->requestIntercepted(info); }

private:
    WebBrowser::Private* d;
};

void WebBrowser::prepareEnvironment()
{
    // The engine refuses to start its sandbox as root (CI); ordinary users keep it.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

QWebEngineScript WebBrowser::framesCaptureScript(const QString& marker, const QString& top)
{
    return captureScript(marker, ScriptPlace::Frames, top);
}

QWebEngineProfile* WebBrowser::recorderProfile()
{
    static QPointer<QWebEngineProfile> profile;
    if (profile)
        return profile;
    profile = new QWebEngineProfile(QCoreApplication::instance()); // off the record
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    // A PDF document shows in the engine's viewer, as a browser shows it, rather
    // than being offered as a file (the viewer is a plugin).
    profile->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    // Only the profile's scripts reach the blank documents of frames a page
    // builds (a page's reach a frame only after its first document).
    profile->scripts()->insert(captureScript(blankMarker(), ScriptPlace::Blank));
    return profile;
}

WebBrowser::WebBrowser(QWebEngineProfile* profile, CaptureStore& captures, Origin origin, QWidget* parent)
    : QWidget(parent), d(std::make_unique<Private>(this, captures, origin))
{
    d->page = new RecorderPage(profile, d.get());
    d->page->setParent(this);
    d->requestWatcher = new FrameRequestWatcher(d.get(), d->page);
    d->page->setUrlRequestInterceptor(d->requestWatcher);

    d->placeCapture({});

    d->stack = new QStackedLayout(this);
    d->stack->setContentsMargins(0, 0, 0, 0);
    auto* placeholder = new QWidget;
    placeholder->setAutoFillBackground(true);
    d->stack->addWidget(placeholder);
    if (origin == Origin::OwnWindow)
        d->showPage();

    d->flushTimer.setSingleShot(true);
    d->flushTimer.setInterval(0);
    connect(&d->flushTimer, &QTimer::timeout, this, [this] { d->flush(); });
    d->pollTimer.setInterval(20);
    connect(&d->pollTimer, &QTimer::timeout, this, [this] {
        d->queue(d->tracker.poll(now()));
        if (!d->tracker.hasPending()) {
            d->pollTimer.stop();
            if (d->outbox.isEmpty())
                d->releaseFile(); // its navigation was judged no navigation of the page
        }
    });
    d->blankTimer.setSingleShot(true);
    d->blankTimer.setInterval(2000); // only if the blank document never reports its load
    connect(&d->blankTimer, &QTimer::timeout, this, [this] {
        if (!d->firstNavigationSeen && !d->shown)
            d->reloadBlankFromSnapshot();
    });

    connect(d->page, &QWebEnginePage::loadStarted, this, [this] {
        d->loading = true;
        d->mainCommitted = false;
    });
    connect(d->page, &QWebEnginePage::loadFinished, this, [this](bool ok) { d->loadFinished(ok); });
    connect(d->page, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) { d->urlChanged(url); });
    connect(d->page, &QWebEnginePage::windowCloseRequested, this, [this] {
        // Outside the engine's callback: the handler may show a message box.
        QTimer::singleShot(0, this, [this] {
            bool cancel = false;
            emit WindowClosing(d->origin == Origin::NewWindow, &cancel);
        });
    });
    // The engine waits for the answer: the handler may ask the user in a modal box.
    const auto authenticate = [this](const QUrl& url, bool proxy, const QString& host,
                                     QAuthenticator* answer) {
        emit AuthenticationRequired(url.toString(QUrl::FullyEncoded), proxy, host, answer);
        if (answer->user().isEmpty() && answer->password().isEmpty())
            *answer = QAuthenticator(); // refused: the engine shows the site's refusal
    };
    connect(d->page, &QWebEnginePage::authenticationRequired, this,
            [authenticate](const QUrl& url, QAuthenticator* answer) {
                authenticate(url, false, url.host(), answer);
            });
    connect(d->page, &QWebEnginePage::proxyAuthenticationRequired, this,
            [authenticate](const QUrl& url, QAuthenticator* answer, const QString& proxyHost) {
                authenticate(url, true, proxyHost, answer);
            });
    connect(d->page, &QWebEnginePage::certificateError, this,
            [this](const QWebEngineCertificateError& error) {
                if (!error.isOverridable())
                    return; // refused, and the engine shows why
                // Asked outside the engine's callback, since the handler asks the user.
                QWebEngineCertificateError pending = error;
                pending.defer();
                QTimer::singleShot(0, this, [this, pending]() mutable {
                    bool goOn = false;
                    emit CertificateError(pending.url().toString(QUrl::FullyEncoded), pending.description(),
                                          &goOn);
                    if (goOn)
                        pending.acceptCertificate();
                    else
                        pending.rejectCertificate();
                });
            });
    // The profile is every window's: each takes the files its own page is offered.
    connect(profile, &QWebEngineProfile::downloadRequested, this, [this](QWebEngineDownloadRequest* file) {
        if (file->page() != d->page)
            return;
        file->cancel(); // nothing is saved
        d->offerFile(file->url(), file->downloadFileName());
    });
    connect(d->page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                if (status == QWebEnginePage::NormalTerminationStatus)
                    return;
                d->loading = false;
                d->frameLoads.clear();
                const QString reason = status == QWebEnginePage::KilledTerminationStatus
                                           ? QStringLiteral("killed")
                                           : QStringLiteral("crashed (exit code %1)").arg(exitCode);
                emit RendererCrashed(reason);
            });
}

WebBrowser::~WebBrowser()
{
    // The view goes before its page.
    delete d->view;
    d->view = nullptr;
    delete d->page;
    d->page = nullptr;
}

bool WebBrowser::isAddress(const QString& url)
{
    return url == blankPage || QUrl::fromUserInput(url).isValid();
}

void WebBrowser::Navigate(const QString& url)
{
    if (url == blankPage) {
        // The engine reports no navigation to the blank page: raise it here.
        bool cancel = false;
        emit BeforeNavigate2(url, {}, &cancel);
        // A new window's first page is what its opener asked for, which the engine
        // delivers: its start-up request for the blank page is not loaded. Later
        // ones (Reset) are.
        const bool startUp = d->origin == Origin::NewWindow && !d->startPageSkipped;
        d->startPageSkipped = true;
        if (cancel || startUp)
            return;
        d->page->load(QUrl(d->separateEverywhere ? blankPage : ownBlank()));
        return;
    }
    // An empty or invalid address would load the blank page, past its rules.
    const QUrl target = QUrl::fromUserInput(url);
    if (target.isValid())
        d->page->load(target);
}

QWebEngineHttpRequest WebBrowser::request(const QUrl& url, const QByteArray& postData, const QString& headers)
{
    QWebEngineHttpRequest request(url, postData.isEmpty() ? QWebEngineHttpRequest::Get
                                                          : QWebEngineHttpRequest::Post);
    request.setPostData(postData);
    const QString scheme = url.scheme().toLower();
    if (scheme != u"http" && scheme != u"https")
        return request;
    for (const QString& line : headers.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon > 0)
            request.setHeader(line.left(colon).trimmed().toLatin1(),
                              line.mid(colon + 1).trimmed().toLatin1());
    }
    return request;
}

void WebBrowser::Navigate2(const QString& url, const QByteArray& postData, const QString& headers)
{
    if (url == blankPage || (postData.isEmpty() && headers.isEmpty())) {
        Navigate(url);
        return;
    }
    const QUrl target = QUrl::fromUserInput(url);
    if (!target.isValid())
        return;
    if (!postData.isEmpty()) {
        d->programPostKey = NavigationTracker::key(target);
        d->programPostBody = postData;
    }
    d->page->load(request(target, postData, headers));
}

void WebBrowser::GoBack()
{
    // Entries a navigation inside the document added (a fragment, pushState)
    // belong to the page shown: back goes past them to the page before.
    QWebEngineHistory* history = d->page->history();
    const int current = history->currentItemIndex();
    const quint64 shown = d->historyEntries.value(current).document;
    int target = current - 1;
    while (shown != 0 && target > 0 && d->historyEntries.value(target).document == shown)
        --target;
    if (target >= 0 && target < current - 1 && d->historyEntries.value(target).document != shown)
        history->goToItem(history->itemAt(target));
    else
        d->page->triggerAction(QWebEnginePage::Back);
}

void WebBrowser::Stop()
{
    d->page->triggerAction(QWebEnginePage::Stop);
}

bool WebBrowser::Busy() const
{
    return d->loading || d->framesLoading();
}

QString WebBrowser::LocationURL() const
{
    return shownUrl(d->page->url()).toString(QUrl::FullyEncoded);
}

QString WebBrowser::LocationName() const
{
    return d->page->title();
}

bool WebBrowser::loadSucceeded() const
{
    return d->loadSucceeded;
}

bool WebBrowser::documentKept() const
{
    return d->documentKept;
}

bool WebBrowser::isPageShown() const
{
    return d->shown;
}

bool WebBrowser::hasDocument() const
{
    return d->page->history()->count() > 0;
}

QWebEnginePage* WebBrowser::page() const
{
    return d->page;
}

QWebEngineView* WebBrowser::view() const
{
    return d->view;
}

void WebBrowser::Private::queue(const QList<NavigationTracker::Started>& started)
{
    if (started.isEmpty())
        return;
    outbox.append(started);
    flushTimer.start();
}

void WebBrowser::Private::flush()
{
    while (!outbox.isEmpty())
        raiseBeforeNavigate(outbox.takeFirst());
    // A file from a server's redirect comes from another address than the one asked for.
    if (!tracker.hasPending())
        releaseFile();
}

void WebBrowser::Private::offerFile(const QUrl& url, const QString& fileName)
{
    // A new window's first navigation is still being judged when its file arrives.
    heldFile = {url, fileName};
    flush();
}

void WebBrowser::Private::releaseFile()
{
    if (!heldFile)
        return;
    const auto [url, fileName] = *std::exchange(heldFile, std::nullopt);
    emit q->FileOffered(url.toString(QUrl::FullyEncoded), fileName);
}

void WebBrowser::Private::raiseBeforeNavigate(const NavigationTracker::Started& started)
{
    bool cancel = false;
    qCDebug(lcBrowser) << "navigation started:" << started.url << started.body.left(100);
    if (started.mainFrame) {
        lastMainStarted = started;
    } else {
        if (frameStarts.size() >= 512)
            frameStarts.clear();
        frameStarts.insert(NavigationTracker::key(started.url), started);
    }
    emit q->BeforeNavigate2(started.url.toString(QUrl::FullyEncoded), started.body, &cancel);
    // The engine's navigation is already under way; a cancel stops it.
    if (cancel)
        page->triggerAction(QWebEnginePage::Stop);
    if (heldFile && NavigationTracker::key(heldFile->first) == NavigationTracker::key(started.url))
        releaseFile();
}

void WebBrowser::Private::schedulePoll()
{
    if (tracker.hasPending() && !pollTimer.isActive())
        pollTimer.start();
}

void WebBrowser::Private::navigationRequested(const QUrl& url, QWebEnginePage::NavigationType type,
                                              bool isMainFrame)
{
    qCDebug(lcBrowser) << "navigation requested:" << url << type << (isMainFrame ? "main" : "sub");
    if (ownReload && url.scheme() == u"data")
        return; // the snapshot reload of a new window: not a navigation of the page
    if (isMainFrame)
        topRequested(url);
    NavigationTracker::Type t = trackerType(type);
    if (origin == Origin::NewWindow && isMainFrame && !firstNavigationSeen) {
        firstNavigationSeen = true;
        // The contents asking are the ones the engine handed over: watch them
        // (again, should the timer set at adoption not have run yet).
        if (adopted)
            page->setUrlRequestInterceptor(requestWatcher);
        // A form posted into a new window arrives under various types: let the
        // request tell whether it carries a body.
        if (t != NavigationTracker::Type::Redirect)
            t = NavigationTracker::Type::Form;
    }
    if (isMainFrame && !programPostKey.isEmpty() && t == NavigationTracker::Type::Typed &&
        NavigationTracker::key(url) == programPostKey) {
        const QByteArray body = programPostBody;
        programPostKey.clear();
        programPostBody.clear();
        queue({{url, body, true}});
        return;
    }
    if (!isMainFrame && url.scheme() != u"about" && url.scheme() != u"data")
        frameLoads.append({NavigationTracker::key(url), now()});
    auto body = tracker.navigationRequested(url, t, isMainFrame, now());
    if (t == NavigationTracker::Type::BackForward || t == NavigationTracker::Type::Reload) {
        // A return to a history entry, or a reload of it, sends what created the
        // entry: a posted page comes back as its POST, not as a GET no one made.
        // The engine's history tells which top document an entry holds but not
        // which frame document: a frame sends what last took a frame there.
        std::optional<NavigationTracker::Started> start;
        if (isMainFrame)
            start = historyStart(url);
        else if (auto it = frameStarts.constFind(NavigationTracker::key(url)); it != frameStarts.cend())
            start = *it;
        if (start) {
            queue({*start});
            return;
        }
    }
    if (body)
        queue({{url, *body, isMainFrame}});
    schedulePoll();
}

void WebBrowser::Private::requestIntercepted(QWebEngineUrlRequestInfo& info)
{
    const auto resource = info.resourceType();
    if (resource != QWebEngineUrlRequestInfo::ResourceTypeMainFrame &&
        resource != QWebEngineUrlRequestInfo::ResourceTypeSubFrame)
        return;
    const bool mainFrame = resource == QWebEngineUrlRequestInfo::ResourceTypeMainFrame;
    qCDebug(lcBrowser) << "request:" << info.requestMethod() << info.requestUrl() << info.navigationType()
                       << (mainFrame ? "main" : "sub");
    // A server's redirect shows here: the document comes from this address.
    if (mainFrame)
        topRequested(info.requestUrl());
    if (auto started = tracker.intercepted(info.requestUrl(), info.requestMethod(),
                                           trackerType(info.navigationType()), mainFrame, now()))
        queue({*started});
    schedulePoll();
}

void WebBrowser::Private::handleScriptMessage(const QString& text)
{
    qCDebug(lcBrowser) << "page script:" << text.left(300);
    const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString kind = m.value(QStringLiteral("k")).toString();
    const bool top = m.value(QStringLiteral("top")).toBool();
    const QUrl url(m.value(QStringLiteral("url")).toString());
    if (kind == u"doc" && top)
        topCreated();
    if (kind == u"form") {
        FormCapture c;
        c.frame = m.value(QStringLiteral("frame")).toString();
        c.group = m.value(QStringLiteral("group")).toInt();
        c.event = m.value(QStringLiteral("event")).toInt();
        c.submitted = m.value(QStringLiteral("submitted")).toBool();
        c.method = m.value(QStringLiteral("method")).toString();
        c.action = m.value(QStringLiteral("action")).toString();
        c.body = formBody(m);
        c.time = now();
        captures.add(c, oneTimeEntries(m));
        queue(tracker.poll(now()));
    } else if (kind == u"nav") {
        tracker.announced(url, now());
        captures.announced(url, now());
    } else if (kind == u"doc" && !top) {
        queue(tracker.committed(url, false, now()));
        flush();
        emit q->NavigateComplete2();
    } else if (kind == u"doc" && top && loading && !mainCommitted && url == page->url()) {
        // A document that kept the address: the engine reports no change of it.
        mainDocumentCommitted(url, false);
    } else if (kind == u"load" && !top) {
        flush();
        frameLoaded(url);
        emit q->DocumentComplete(url.toString(QUrl::FullyEncoded));
    } else if (kind == u"blank" && top) {
        // The page asked for the blank page; the engine reports no navigation to
        // it, so the script held it back and the program decides.
        QTimer::singleShot(0, q, [this] { q->Navigate(blankPage); });
    }
    schedulePoll();
}

void WebBrowser::Private::urlChanged(const QUrl& url)
{
    if (ownReload)
        return;
    // Outside a load the document stayed (a fragment, the page's pushState or
    // replaceState, history between such entries): the engine reports no load,
    // and the navigation is complete as soon as it is committed. A new window
    // not shown yet still holds its first, blank document: its load decides.
    const bool sameDocument = !loading && (origin != Origin::NewWindow || shown);
    mainDocumentCommitted(shownUrl(url), sameDocument);
    if (sameDocument) {
        documentKept = true;
        emit q->DocumentComplete(shownUrl(page->url()).toString(QUrl::FullyEncoded));
        documentKept = false;
    }
}

void WebBrowser::Private::mainDocumentCommitted(const QUrl& url, bool sameDocument)
{
    mainCommitted = true;
    queue(tracker.committed(url, true, now()));
    flush();
    const QWebEngineHistory* history = page->history();
    const int count = history->count();
    const int index = history->currentItemIndex();
    // A new last entry of a full history: the one that was last moved down a place.
    if (count >= 2 && count == historyCount && index == count - 1 && historyIndex == index &&
        history->itemAt(index - 1).lastVisited().toMSecsSinceEpoch() == historyShown) {
        QHash<int, HistoryEntry> moved;
        for (auto it = historyEntries.cbegin(); it != historyEntries.cend(); ++it)
            if (it.key() > 0)
                moved.insert(it.key() - 1, it.value());
        historyEntries = std::move(moved);
    }
    // A new window shows its opener's address before its history has an entry:
    // what started its page belongs to the entry its commit makes.
    if (index >= 0) {
        HistoryEntry& entry = historyEntries[index];
        if (!sameDocument)
            ++documents;
        entry.document = documents;
        if (lastMainStarted) {
            entry.start = *lastMainStarted;
            lastMainStarted.reset();
        }
    }
    historyCount = count;
    historyIndex = index;
    historyShown = history->currentItem().lastVisited().toMSecsSinceEpoch();
    if (origin == Origin::NewWindow && !shown && url.isValid() && url.toString() != blankPage)
        showPage();
    emit q->NavigateComplete2();
}

std::optional<NavigationTracker::Started> WebBrowser::Private::historyStart(const QUrl& url) const
{
    // The entry of that address nearest to the current one (which the engine
    // may already have moved to the entry it returns to), back or forward.
    const QWebEngineHistory* history = page->history();
    const int current = history->currentItemIndex();
    const QString wanted = NavigationTracker::key(url);
    for (int distance = 0; distance < history->count(); ++distance) {
        for (const int i : {current - distance, current + distance}) {
            if (i < 0 || i >= history->count() ||
                NavigationTracker::key(shownUrl(history->itemAt(i).url())) != wanted)
                continue;
            // A start of another address belongs to an entry that has moved
            // unseen (a frame's navigation dropped an entry of a full history).
            if (auto it = historyEntries.constFind(i);
                it != historyEntries.cend() && it->start && NavigationTracker::key(it->start->url) == wanted)
                return it->start;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void WebBrowser::Private::frameLoaded(const QUrl& url)
{
    const QString k = NavigationTracker::key(url);
    const auto it =
        std::find_if(frameLoads.begin(), frameLoads.end(), [&](const auto& f) { return f.first == k; });
    // A frame that was redirected loads under another address: the oldest goes.
    if (it != frameLoads.end())
        frameLoads.erase(it);
    else if (!frameLoads.isEmpty())
        frameLoads.removeFirst();
}

bool WebBrowser::Private::framesLoading()
{
    // A frame whose load never reports (its document failed) stops counting after a while.
    const qint64 oldest = now() - 30000;
    frameLoads.removeIf([oldest](const auto& f) { return f.second < oldest; });
    return !frameLoads.isEmpty();
}

void WebBrowser::Private::loadFinished(bool ok)
{
    loading = false;
    loadSucceeded = ok;
    frameLoads.clear(); // the engine's load ends after the frames it loaded
    if (ownReload) {
        ownReload = false;
        showPage();
        return;
    }
    flush();
    if (origin == Origin::NewWindow && !shown && adopted) {
        // Nothing real committed: the page still holds its first, blank document.
        reloadBlankFromSnapshot();
        return;
    }
    emit q->DocumentComplete(shownUrl(page->url()).toString(QUrl::FullyEncoded));
}

void WebBrowser::Private::adopt(const QUrl& opener)
{
    adopted = true;
    openerUrl = opener;
    blankTimer.start();
    // The engine gives the page the opener's new contents once this returns;
    // they know no request watcher: without one no request of this window is
    // seen. Set it once they are there (a frame a script writes into the window
    // may ask before any navigation of its own) and at its first navigation.
    QTimer::singleShot(0, page, [this] { page->setUrlRequestInterceptor(requestWatcher); });
}

void WebBrowser::Private::reloadBlankFromSnapshot()
{
    if (ownReload || shown)
        return;
    ownReload = true;
    QPointer<QWebEnginePage> guard(page);
    page->runJavaScript(
        QStringLiteral("[document.URL, document.documentElement ? document.documentElement.outerHTML : '']"),
        QWebEngineScript::ApplicationWorld, [this, guard](const QVariant& result) {
            if (!guard)
                return;
            const QVariantList parts = result.toList();
            const QString documentUrl = parts.value(0).toString();
            const QString html = parts.value(1).toString();
            const QUrl base =
                documentUrl.isEmpty() || documentUrl == blankPage ? openerUrl : QUrl(documentUrl);
            page->setHtml(html, base);
        });
}

// The page script's places for the window's next documents.
void WebBrowser::Private::placeCapture(const QString& top)
{
    QWebEngineScriptCollection& scripts = page->scripts();
    if (separateEverywhere) {
        if (scripts.find(QStringLiteral("tallyro-capture")).isEmpty()) {
            scripts.clear();
            scripts.insert(captureScript(consoleMarker, ScriptPlace::Everywhere));
        }
        return;
    }
    if (scripts.isEmpty())
        scripts.insert(captureScript(consoleMarker, ScriptPlace::TopDocument));
    const QList<QWebEngineScript> frames = scripts.find(QStringLiteral("tallyro-capture-frames"));
    if (!frames.isEmpty() && top == scriptTop)
        return;
    for (const QWebEngineScript& old : frames)
        scripts.remove(old);
    if (!framesScript)
        framesScript = captureScript(consoleMarker, ScriptPlace::Frames);
    framesScript->setSourceCode(captureSource(consoleMarker, ScriptPlace::Frames, top));
    scripts.insert(*framesScript);
    scriptTop = top;
}

void WebBrowser::Private::topRequested(const QUrl& url)
{
    // The top document that comes from this request gets no context of the
    // program's world.
    placeCapture(url.toString(QUrl::FullyEncoded));
}

void WebBrowser::Private::topCreated()
{
    // The frames the top document makes, one at its own address included, take
    // the page script as it is when they come into being; the top frame keeps
    // it, so the next top request leaves its address out again.
    placeCapture({});
}

void WebBrowser::Private::showPage()
{
    if (shown)
        return;
    shown = true;
    blankTimer.stop();
    // The view comes into being with the page it shows: a view without a page
    // would make a page of its own.
    view = new QWebEngineView(page, q);
    // The engine's own menu, with what the window adds for the selection.
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(view, &QWidget::customContextMenuRequested, q, [this](const QPoint& at) {
        QMenu* menu = view->createStandardContextMenu();
        // Not offered: saving, which the recorder does not do (the entries would do
        // nothing), and the page's source, which would open as a recorder window
        // whose completion relabels the last step.
        for (const QWebEnginePage::WebAction left :
             {QWebEnginePage::SavePage, QWebEnginePage::DownloadLinkToDisk,
              QWebEnginePage::DownloadImageToDisk, QWebEnginePage::DownloadMediaToDisk,
              QWebEnginePage::ViewSource})
            menu->removeAction(page->action(left));
        const QWebEngineContextMenuRequest* request = view->lastContextMenuRequest();
        emit q->ContextMenu(menu, request ? request->selectedText() : QString());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(view->mapToGlobal(at));
    });
    stack->addWidget(view);
    stack->setCurrentWidget(view);
}
