#include "TestSite.h"

#include "Httplib.h"

#include <QtCore>

#include <array>
#include <atomic>
#include <condition_variable>
#include <thread>

namespace {

// Each request is handled start to end on one worker thread: its Content-Type
// travels from the pre-routing hook to the handler here.
thread_local std::string t_contentType;

QByteArray bytes(const std::string& s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

QByteArray escaped(const std::string& raw)
{
    return QString::fromStdString(raw).toHtmlEscaped().toUtf8();
}

void setPage(httplib::Response& res, int status, const QByteArray& title, const QByteArray& body)
{
    const QByteArray page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
                            "</title></head>\n<body>\n" + body + "</body></html>\n";
    res.status = status;
    res.set_content(page.toStdString(), "text/html; charset=utf-8");
}

} // namespace

struct TestSite::Private
{
    struct Listener
    {
        httplib::Server server;
        std::thread thread;
        quint16 port = 0;
    };
    // A Location the site answered with: the request that follows it is a redirect hop.
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
    QList<PendingHop> hops;
    std::mutex stopMutex;
    std::condition_variable stopWake;
    bool stopping = false;

    QByteArray base(int i) const { return "http://127.0.0.1:" + QByteArray::number(listeners[i].port); }
    void handle(const httplib::Request& req, httplib::Response& res);
    void redirect(const httplib::Request& req, httplib::Response& res);
    void staticFile(const httplib::Request& req, httplib::Response& res);
};

void TestSite::Private::handle(const httplib::Request& req, httplib::Response& res)
{
    LoggedRequest r{bytes(req.method), bytes(req.target), bytes(req.body), {}, quint16(req.local_port)};
    for (const auto& [name, value] : req.headers) {
        const QByteArray key = bytes(name).toLower();
        // The library adds the peer's and its own address as pseudo headers.
        if (!key.startsWith("remote_") && !key.startsWith("local_"))
            r.headers[key] += (r.headers.contains(key) ? ", " : "") + bytes(value);
    }
    if (!t_contentType.empty()) // taken out before the library could parse the body
        r.headers["content-type"] = bytes(t_contentType);
    const QByteArray dest = r.headers.value("sec-fetch-dest").trimmed().toLower();
    r.navigation = dest == "document" || dest == "iframe" || dest == "frame";

    QMutexLocker lock(&logMutex);
    const auto now = std::chrono::steady_clock::now();
    hops.removeIf([now](const PendingHop& h) { return h.expires < now; });
    for (qsizetype i = 0; i < hops.size() && !r.redirectHop; ++i) {
        r.redirectHop = hops[i].port == r.port && hops[i].target == r.target;
        if (r.redirectHop)
            hops.removeAt(i);
    }
    log.append(r);
    lock.unlock();
    const QByteArray path = bytes(req.path);
    // Any answer can come late, as from a server farther away: delay=N milliseconds
    // (the bench's pages, slow steps). The wait ends early when the site shuts down.
    const int delay = std::clamp(QByteArray::fromStdString(req.get_param_value("delay")).toInt(), 0, 5000);
    std::unique_lock wait(stopMutex);
    stopWake.wait_for(wait, std::chrono::milliseconds(delay), [this] { return stopping; });
    wait.unlock();
    if (path == "/redirect") {
        redirect(req, res);
    } else if (path == "/auth") {
        // HTTP Basic authentication with the user and password the query names.
        const QByteArray user = QByteArray::fromStdString(req.get_param_value("user"));
        const QByteArray expected =
            "Basic " + (user + ':' + QByteArray::fromStdString(req.get_param_value("pass"))).toBase64();
        if (QByteArray::fromStdString(req.get_header_value("Authorization")) == expected) {
            setPage(res, 200, "Welcome", "<p>Welcome, " + escaped(user.toStdString()) + "</p>\n");
        } else {
            setPage(res, 401, "Unauthorized", "<p>Sign in first.</p>\n");
            res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
        }
    } else if (path == "/download") {
        // A file to save, not a page: name=FILE.
        res.status = 200;
        res.set_header("Content-Disposition", "attachment; filename=\"" + req.get_param_value("name") + "\"");
        res.set_content(std::string(5000, 'x'), "application/octet-stream");
    } else if (path == "/nocontent") {
        res.status = 204;
    } else if (path == "/favicon.ico") {
        setPage(res, 404, "Not Found", "<p>No icon.</p>\n");
    } else if (req.method == "POST") {
        setPage(res, 200, "Received",
                "<p id=\"target\">" + escaped(req.target) + "</p>\n<p id=\"type\">" + escaped(t_contentType) +
                    "</p>\n<p id=\"length\">" + QByteArray::number(qsizetype(req.body.size())) + "</p>\n");
    } else if (path.startsWith("/echo")) {
        setPage(res, 200, "Echo " + escaped(req.path), "<p id=\"target\">" + escaped(req.target) + "</p>\n");
    } else {
        staticFile(req, res);
    }
    // maxage=N: the answer may be kept and reused for N seconds, as many sites allow.
    if (req.has_param("maxage")) {
        res.headers.erase("Cache-Control");
        res.set_header("Cache-Control", "max-age=" + req.get_param_value("maxage"));
    }
}

void TestSite::Private::redirect(const httplib::Request& req, httplib::Response& res)
{
    const int code = QByteArray::fromStdString(req.get_param_value("code")).toInt();
    const QByteArray to = bytes(req.get_param_value("to"));
    // Only this site's own addresses: a path, or one of the two base URLs and a path.
    int hopListener =
        to.startsWith('/') && !to.startsWith("//") ? (req.local_port == listeners[0].port ? 0 : 1) : -1;
    QByteArray hopTarget = hopListener < 0 ? QByteArray() : to;
    for (int i = 0; i < 2 && hopListener < 0; ++i) {
        if (to.startsWith(base(i) + '/')) {
            hopListener = i;
            hopTarget = to.mid(base(i).size());
        }
    }
    if (!QList<int>{301, 302, 303, 307, 308}.contains(code) || hopListener < 0) {
        setPage(res, 400, "Bad Request", "<p>Expected code=301|302|303|307|308 and to=/path.</p>\n");
        return;
    }
    QMutexLocker lock(&logMutex);
    // The browser leaves the fragment out of the request it sends.
    hops.append({listeners[hopListener].port, hopTarget.split('#').first(),
                 std::chrono::steady_clock::now() + std::chrono::seconds(5)});
    res.status = code;
    res.set_header("Location", to.toStdString());
}

void TestSite::Private::staticFile(const httplib::Request& req, httplib::Response& res)
{
    QString file = QDir::cleanPath(root + u'/' + QString::fromStdString(req.path));
    if (QFileInfo(file).isDir())
        file += u"/index.html"_qs;
    // Nothing outside the site folder, also not through a link.
    const QString canonical = QFileInfo(file).canonicalFilePath();
    QFile f(canonical);
    if (req.path.find('\\') != std::string::npos || !canonical.startsWith(root + u'/') ||
        !f.open(QIODevice::ReadOnly)) {
        setPage(res, 404, "Not Found", "<p>" + escaped(req.path) + "</p>\n");
        return;
    }
    QByteArray content = f.readAll();
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (suffix.startsWith(u"htm") || suffix == u"js")
        content.replace("{{MAIN}}", base(0)).replace("{{OTHER}}", base(1));
    // Pages in other encodings (.htm) name theirs in a meta element.
    const char* type = suffix == u"html"  ? "text/html; charset=utf-8"
                       : suffix == u"htm" ? "text/html"
                       : suffix == u"js"  ? "text/javascript; charset=utf-8"
                       : suffix == u"css" ? "text/css; charset=utf-8"
                       : suffix == u"svg" ? "image/svg+xml"
                       : suffix == u"pdf" ? "application/pdf"
                                          : "application/octet-stream";
    res.status = 200;
    res.set_content(content.toStdString(), type);
}

TestSite::TestSite() : d(std::make_unique<Private>())
{
    d->root = QFileInfo(siteDir()).canonicalFilePath();
    for (Private::Listener& l : d->listeners) {
        httplib::Server& s = l.server;
        s.new_task_queue = [] { return new httplib::ThreadPool(16); };
        // Short idle and read limits keep shutdown quick: a worker blocked on an idle
        // keep-alive connection only notices the stop when its wait ends.
        s.set_keep_alive_timeout(1);
        s.set_read_timeout(2, 0);
        s.set_write_timeout(2, 0);
        s.set_payload_max_length(64 * 1024 * 1024);
        s.set_default_headers({{"Cache-Control", "no-store"}});
        s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
            // The library parses multipart bodies into parts and refuses urlencoded
            // bodies over 8 KB; without a Content-Type it keeps any body as raw bytes.
            // The request object is the library's own non-const local, handed over as const.
            t_contentType = req.get_header_value("Content-Type");
            const_cast<httplib::Request&>(req).headers.erase("Content-Type");
            return httplib::Server::HandlerResponse::Unhandled;
        });
        const auto handler = [this](const httplib::Request& req, httplib::Response& res) {
            d->handle(req, res);
        };
        s.Get(".*", handler);
        s.Post(".*", handler);
        l.port = quint16(std::max(0, s.bind_to_any_port("127.0.0.1")));
    }
    for (Private::Listener& l : d->listeners) {
        l.thread = std::thread([&l] { l.server.listen_after_bind(); });
        // stop() only reaches a server whose accept loop has begun.
        for (int i = 0; i < 500 && !l.server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TestSite::~TestSite()
{
    {
        std::lock_guard lock(d->stopMutex);
        d->stopping = true;
    }
    d->stopWake.notify_all();
    for (Private::Listener& l : d->listeners) {
        l.server.stop();
        l.thread.join();
    }
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
    for (const LoggedRequest& r : std::as_const(d->log))
        if (r.navigation && !r.redirectHop && !r.target.startsWith("/favicon.ico"))
            result.append(r);
    return result;
}

void TestSite::clear()
{
    QMutexLocker lock(&d->logMutex);
    d->log.clear();
}
