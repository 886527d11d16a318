#include "TestSite.h"

// Debian's libcpp-httplib is built with these; the layout of httplib::Request
// depends on them, so this file must see the same declarations.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#ifndef CPPHTTPLIB_ZLIB_SUPPORT
#define CPPHTTPLIB_ZLIB_SUPPORT
#endif
#ifndef CPPHTTPLIB_BROTLI_SUPPORT
#define CPPHTTPLIB_BROTLI_SUPPORT
#endif
#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr int kMaxSlowMs = 5000;
// A browser follows a Location within milliseconds; a Location nobody followed
// in this time no longer marks a request as a redirect hop.
constexpr std::chrono::seconds kHopLifetime{5};
constexpr std::size_t kMaxBody = 64 * 1024 * 1024;
constexpr std::size_t kWorkerThreads = 16;

// Each request is handled start to end on one worker thread: the id of its log
// entry and its Content-Type travel from the pre-routing hook to the handler and
// the logger here.
thread_local qint64 t_entryId = -1;
thread_local std::string t_contentType;

QByteArray bytes(const std::string& s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

std::string stdString(const QByteArray& b)
{
    return std::string(b.constData(), std::size_t(b.size()));
}

QByteArray htmlEscaped(const QByteArray& raw)
{
    return QString::fromUtf8(raw).toHtmlEscaped().toUtf8();
}

QByteArray targetPath(const QByteArray& target)
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

const char* contentTypeFor(const QString& suffix)
{
    static const QMap<QString, const char*> types = {
        {QStringLiteral("html"), "text/html; charset=utf-8"},
        // Pages in other encodings: their own meta element names it.
        {QStringLiteral("htm"), "text/html"},
        {QStringLiteral("js"), "text/javascript; charset=utf-8"},
        {QStringLiteral("css"), "text/css; charset=utf-8"},
        {QStringLiteral("txt"), "text/plain; charset=utf-8"},
        {QStringLiteral("tsv"), "text/tab-separated-values; charset=utf-8"},
        {QStringLiteral("json"), "application/json"},
        {QStringLiteral("svg"), "image/svg+xml"},
        {QStringLiteral("png"), "image/png"},
        {QStringLiteral("gif"), "image/gif"},
        {QStringLiteral("jpg"), "image/jpeg"},
        {QStringLiteral("jpeg"), "image/jpeg"},
        {QStringLiteral("ico"), "image/x-icon"},
    };
    return types.value(suffix.toLower(), "application/octet-stream");
}

bool isNavigationDest(const QByteArray& dest)
{
    const QByteArray d = dest.trimmed().toLower();
    return d == "document" || d == "iframe" || d == "frame";
}

void setPage(httplib::Response& res, int status, const QByteArray& title, const QByteArray& body)
{
    const QByteArray page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
                            "</title></head>\n<body>\n" + body + "</body></html>\n";
    res.status = status;
    res.set_content(page.constData(), std::size_t(page.size()), "text/html; charset=utf-8");
}

} // namespace

struct TestSite::Private
{
    struct Listener
    {
        httplib::Server server;
        std::thread thread;
        std::atomic<bool> finished{false};
        quint16 port = 0;
    };
    struct PendingHop
    {
        quint16 port;
        QByteArray target;
        std::chrono::steady_clock::time_point expires;
    };

    QString root;
    std::array<Listener, 2> listeners; // [0] main, [1] other origin

    mutable QMutex logMutex;
    QList<LoggedRequest> log;
    qint64 firstId = 0; // id of log[0]; ids of cleared entries fall below it
    qint64 nextId = 0;
    QList<PendingHop> hops;

    std::mutex stopMutex;
    std::condition_variable stopWake;
    bool stopping = false;

    QByteArray base(int i) const { return "http://127.0.0.1:" + QByteArray::number(listeners[i].port); }
    void start();
    void stop();
    void configure(Listener& l);

    void arrived(const httplib::Request& req);
    void answered(const httplib::Request& req, int status, bool withBody);
    void handle(const httplib::Request& req, httplib::Response& res);
    void redirect(const httplib::Request& req, httplib::Response& res);
    void slow(const httplib::Request& req, httplib::Response& res);
    void staticFile(const httplib::Request& req, httplib::Response& res);
};

void TestSite::Private::configure(Listener& l)
{
    httplib::Server& s = l.server;
    s.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    // Short idle and read limits keep shutdown quick: a worker blocked on an idle
    // keep-alive connection only notices the stop when its wait ends.
    s.set_keep_alive_timeout(1);
    s.set_read_timeout(2, 0);
    s.set_write_timeout(2, 0);
    s.set_payload_max_length(kMaxBody);
    s.set_tcp_nodelay(true);
    s.set_default_headers({{"Cache-Control", "no-store"}});
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        arrived(req);
        // The library parses multipart bodies into parts and refuses urlencoded bodies over
        // 8 KB; without a Content-Type it keeps any body as raw bytes. The request object is
        // the library's own non-const local, handed over as const.
        auto& headers = const_cast<httplib::Request&>(req).headers;
        t_contentType = req.get_header_value("Content-Type");
        headers.erase("Content-Type");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    const auto handler = [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); };
    s.Get(".*", handler);
    s.Post(".*", handler);
    s.Put(".*", handler);
    s.Patch(".*", handler);
    s.Delete(".*", handler);
    s.Options(".*", handler);
    // Answers made by the library itself (a malformed request, a body too large)
    // get their status here, after they were sent.
    s.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        answered(req, res.status, false);
        t_entryId = -1;
    });
}

void TestSite::Private::start()
{
    for (Listener& l : listeners)
        configure(l);
    for (Listener& l : listeners) {
        const int port = l.server.bind_to_any_port("127.0.0.1");
        if (port <= 0)
            return;
        l.port = quint16(port);
    }
    for (Listener& l : listeners) {
        l.thread = std::thread([&l] {
            l.server.listen_after_bind();
            l.finished = true;
        });
    }
    // stop() only reaches a server whose accept loop has begun.
    for (Listener& l : listeners) {
        for (int i = 0; i < 500 && !l.server.is_running() && !l.finished; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void TestSite::Private::stop()
{
    {
        std::lock_guard lock(stopMutex);
        stopping = true;
    }
    stopWake.notify_all();
    for (Listener& l : listeners) {
        if (!l.thread.joinable())
            continue;
        // stop() is lost on a server whose accept loop has not begun: wait for it first.
        while (!l.finished && !l.server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!l.finished)
            l.server.stop();
        l.thread.join();
    }
}

void TestSite::Private::arrived(const httplib::Request& req)
{
    LoggedRequest r;
    r.method = bytes(req.method);
    r.target = bytes(req.target);
    r.port = quint16(req.local_port);
    for (const auto& [name, value] : req.headers) {
        const QByteArray key = bytes(name).toLower();
        // The library adds the peer's and its own address as pseudo headers.
        if (key == "remote_addr" || key == "remote_port" || key == "local_addr" || key == "local_port")
            continue;
        const auto it = r.headers.find(key);
        if (it == r.headers.end())
            r.headers.insert(key, bytes(value));
        else
            *it += ", " + bytes(value);
    }
    r.navigation = isNavigationDest(r.headers.value("sec-fetch-dest"));

    QMutexLocker lock(&logMutex);
    const auto now = std::chrono::steady_clock::now();
    hops.removeIf([now](const PendingHop& h) { return h.expires < now; });
    for (qsizetype i = 0; i < hops.size(); ++i) {
        if (hops[i].port == r.port && hops[i].target == r.target) {
            r.redirectHop = true;
            hops.removeAt(i);
            break;
        }
    }
    t_entryId = nextId++;
    log.append(r);
}

void TestSite::Private::answered(const httplib::Request& req, int status, bool withBody)
{
    QMutexLocker lock(&logMutex);
    const qint64 index = t_entryId - firstId;
    if (t_entryId < 0 || index < 0 || index >= log.size())
        return;
    LoggedRequest& r = log[index];
    // A request the library rejected before routing never had an entry of its own.
    if (r.target != bytes(req.target) || r.method != bytes(req.method))
        return;
    if (withBody)
        r.body = bytes(req.body);
    if (r.status == 0)
        r.status = status;
}

void TestSite::Private::handle(const httplib::Request& req, httplib::Response& res)
{
    const QByteArray path = bytes(req.path);
    const QByteArray method = bytes(req.method);
    const bool get = method == "GET" || method == "HEAD";

    // Any answer can come late, as from a server farther away: delay=N milliseconds.
    if (req.has_param("delay")) {
        const int wait =
            std::clamp(QByteArray::fromStdString(req.get_param_value("delay")).toInt(), 0, kMaxSlowMs);
        std::unique_lock lock(stopMutex);
        stopWake.wait_for(lock, std::chrono::milliseconds(wait), [this] { return stopping; });
    }

    if (path == "/redirect")
        redirect(req, res);
    else if (path == "/slow")
        slow(req, res);
    else if (path == "/nocontent")
        res.status = 204;
    else if (path == "/auth") {
        // HTTP Basic authentication with the user and password the query names.
        const QByteArray expected =
            "Basic " +
            (bytes(req.get_param_value("user")) + ':' + bytes(req.get_param_value("pass"))).toBase64();
        if (bytes(req.get_header_value("Authorization")) == expected) {
            setPage(res, 200, "Welcome",
                    "<p>Welcome, " + htmlEscaped(bytes(req.get_param_value("user"))) + "</p>\n");
        } else {
            setPage(res, 401, "Unauthorized", "<p>Sign in first.</p>\n");
            res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
        }
    } else if (path == "/favicon.ico")
        setPage(res, 404, "Not Found", "<p>No icon.</p>\n");
    else if (method == "POST")
        setPage(res, 200, "Received",
                "<p id=\"target\">" + htmlEscaped(bytes(req.target)) + "</p>\n<p id=\"type\">" +
                    htmlEscaped(bytes(t_contentType)) + "</p>\n<p id=\"length\">" +
                    QByteArray::number(qsizetype(req.body.size())) + "</p>\n");
    else if (get && path.startsWith("/echo"))
        setPage(res, 200, "Echo " + htmlEscaped(path),
                "<p id=\"target\">" + htmlEscaped(bytes(req.target)) + "</p>\n");
    else if (get)
        staticFile(req, res);
    else
        setPage(res, 405, "Method Not Allowed", "");

    answered(req, res.status, true);
}

void TestSite::Private::redirect(const httplib::Request& req, httplib::Response& res)
{
    static const QList<int> codes = {301, 302, 303, 307, 308};
    bool numeric = false;
    const int code = QByteArray::fromStdString(req.get_param_value("code")).toInt(&numeric);
    const QByteArray to = bytes(req.get_param_value("to"));

    // Only this site's own addresses: a path, or one of the two base URLs and a path.
    int hopListener = -1;
    QByteArray hopTarget;
    if (to.startsWith('/') && !to.startsWith("//") && !to.startsWith("/\\")) {
        hopListener = req.local_port == listeners[0].port ? 0 : 1;
        hopTarget = to;
    } else {
        for (int i = 0; i < 2; ++i) {
            if (to.startsWith(base(i) + '/')) {
                hopListener = i;
                hopTarget = to.mid(base(i).size());
            }
        }
    }
    if (!numeric || !codes.contains(code) || hopListener < 0) {
        setPage(res, 400, "Bad Request", "<p>Expected code=301|302|303|307|308 and to=/path.</p>\n");
        return;
    }
    // The browser leaves the fragment out of the request it sends.
    const qsizetype hash = hopTarget.indexOf('#');
    if (hash >= 0)
        hopTarget.truncate(hash);
    {
        QMutexLocker lock(&logMutex);
        hops.append(
            {listeners[hopListener].port, hopTarget, std::chrono::steady_clock::now() + kHopLifetime});
    }
    res.status = code;
    res.set_header("Location", stdString(to));
}

void TestSite::Private::slow(const httplib::Request& req, httplib::Response& res)
{
    bool numeric = false;
    const int ms = QByteArray::fromStdString(req.get_param_value("ms")).toInt(&numeric);
    if (!numeric) {
        setPage(res, 400, "Bad Request", "<p>Expected ms=N.</p>\n");
        return;
    }
    const int wait = std::clamp(ms, 0, kMaxSlowMs);
    {
        // Woken early when the site shuts down.
        std::unique_lock lock(stopMutex);
        stopWake.wait_for(lock, std::chrono::milliseconds(wait), [this] { return stopping; });
    }
    setPage(res, 200, "Slow", "<p>Answered after " + QByteArray::number(wait) + " ms.</p>\n");
}

void TestSite::Private::staticFile(const httplib::Request& req, httplib::Response& res)
{
    const QString path = QString::fromUtf8(bytes(req.path));
    QString file;
    if (!path.contains(QChar(0)) && !path.contains(QLatin1Char('\\'))) {
        file = QDir::cleanPath(root + QLatin1Char('/') + path);
        if (QFileInfo(file).isDir())
            file += QStringLiteral("/index.html");
        // Nothing outside the site folder, also not through a link.
        const QString canonical = QFileInfo(file).canonicalFilePath();
        if (canonical.isEmpty() || !canonical.startsWith(root + QLatin1Char('/')))
            file.clear();
    }
    QFile f(file);
    if (file.isEmpty() || !f.open(QIODevice::ReadOnly)) {
        setPage(res, 404, "Not Found", "<p>" + htmlEscaped(bytes(req.path)) + "</p>\n");
        return;
    }
    QByteArray content = f.readAll();
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm") || suffix == QLatin1String("js")) {
        content.replace("{{MAIN}}", base(0));
        content.replace("{{OTHER}}", base(1));
    }
    res.status = 200;
    res.set_content(content.constData(), std::size_t(content.size()), contentTypeFor(suffix));
}

TestSite::TestSite() : d(std::make_unique<Private>())
{
    d->root = QFileInfo(siteDir()).canonicalFilePath();
    if (!d->root.isEmpty())
        d->start();
}

TestSite::~TestSite()
{
    d->stop();
}

QString TestSite::siteDir()
{
#ifdef TALLYRO_TEST_SITE_DIR
    return QStringLiteral(TALLYRO_TEST_SITE_DIR);
#else
    return QDir::cleanPath(QStringLiteral(TALLYRO_TEST_DATA_DIR "/../site"));
#endif
}

bool TestSite::isRunning() const
{
    return !d->root.isEmpty() && d->listeners[0].server.is_running() && d->listeners[1].server.is_running();
}

QString TestSite::url(const QString& pathAndQuery) const
{
    return QString::fromLatin1(d->base(0)) + pathAndQuery;
}

QString TestSite::otherUrl(const QString& pathAndQuery) const
{
    return QString::fromLatin1(d->base(1)) + pathAndQuery;
}

QList<LoggedRequest> TestSite::requests() const
{
    QMutexLocker lock(&d->logMutex);
    return d->log;
}

QList<LoggedRequest> TestSite::navigations() const
{
    QList<LoggedRequest> result;
    QMutexLocker lock(&d->logMutex);
    for (const LoggedRequest& r : std::as_const(d->log)) {
        if (r.navigation && !r.redirectHop && targetPath(r.target) != "/favicon.ico")
            result.append(r);
    }
    return result;
}

void TestSite::clear()
{
    QMutexLocker lock(&d->logMutex);
    d->firstId = d->nextId;
    d->log.clear();
}
