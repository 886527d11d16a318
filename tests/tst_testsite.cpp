#include "TestSite.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <thread>

namespace {

struct Reply
{
    bool received = false;
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QList<QByteArray> values(const QByteArray& name) const
    {
        QList<QByteArray> found;
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                found.append(value);
        }
        return found;
    }
    QByteArray value(const QByteArray& name) const { return values(name).value(0); }
};

quint16 portOf(const QString& url)
{
    return quint16(QUrl(url).port());
}

// Sends the bytes on a fresh connection and reads until the site closes it.
Reply exchange(quint16 port, const QByteArray& request, int timeoutMs = 10000)
{
    Reply reply;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(timeoutMs))
        return reply;
    socket.write(request);
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (socket.waitForReadyRead(100))
            data += socket.readAll();
        else if (socket.state() != QAbstractSocket::ConnectedState)
            break;
    }
    data += socket.readAll();

    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0)
        return reply;
    const QList<QByteArray> lines = data.left(end).split('\n');
    const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
    reply.status = statusLine.value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            reply.headers.append({lines[i].left(colon), lines[i].mid(colon + 1).trimmed()});
    }
    reply.body = data.mid(end + 4);
    reply.received = true;
    return reply;
}

QByteArray request(const QByteArray& method, const QByteArray& target, const QByteArray& body = {},
                   const QByteArray& extraHeaders = {},
                   const QByteArray& contentType = "application/x-www-form-urlencoded")
{
    QByteArray r =
        method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extraHeaders;
    if (method == "POST" || method == "PUT" || !body.isEmpty())
        r += "Content-Type: " + contentType + "\r\nContent-Length: " + QByteArray::number(body.size()) +
             "\r\n";
    return r + "\r\n" + body;
}

QByteArray allByteValues()
{
    QByteArray b;
    for (int i = 0; i < 256; ++i)
        b.append(char(i));
    return b;
}

QByteArray readSiteFile(const QString& relative)
{
    QFile f(TestSite::siteDir() + QLatin1Char('/') + relative);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestTestSite : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void bothListenersAnswer_data();
    void bothListenersAnswer();
    void logsRequestExactly_data();
    void logsRequestExactly();
    void navigationClassification_data();
    void navigationClassification();
    void redirectHops_data();
    void redirectHops();
    void redirectRefused_data();
    void redirectRefused();
    void routes_data();
    void routes();
    void slowIsBounded_data();
    void slowIsBounded();
    void placeholdersReplaced_data();
    void placeholdersReplaced();
    void concurrentRequestsAllLogged();
    void clearDuringRequest();
    void shutdownDoesNotHang();
    void manifestDescribesCorpus();
    void corpusTimersAreShort();

private:
    quint16 port(int listener) const
    {
        return portOf(listener == 0 ? m_site->url(QStringLiteral("/"))
                                    : m_site->otherUrl(QStringLiteral("/")));
    }
    QByteArray withBases(QByteArray text) const
    {
        text.replace("{{MAIN}}", m_site->url(QString()).toLatin1());
        return text.replace("{{OTHER}}", m_site->otherUrl(QString()).toLatin1());
    }

    std::unique_ptr<TestSite> m_site;
};

void TestTestSite::initTestCase()
{
    m_site = std::make_unique<TestSite>();
    QVERIFY(m_site->isRunning());
    QVERIFY(m_site->url(QStringLiteral("/a?b")).startsWith(QLatin1String("http://127.0.0.1:")));
    QVERIFY(m_site->url(QStringLiteral("/a?b")).endsWith(QLatin1String("/a?b")));
    QVERIFY(port(0) != 0);
    QVERIFY(port(1) != 0);
    QVERIFY(port(0) != port(1));
}

void TestTestSite::init()
{
    m_site->clear();
}

void TestTestSite::bothListenersAnswer_data()
{
    QTest::addColumn<int>("listener");
    QTest::newRow("main") << 0;
    QTest::newRow("other origin") << 1;
}

void TestTestSite::bothListenersAnswer()
{
    QFETCH(int, listener);
    const Reply reply = exchange(port(listener), request("GET", "/index.html"));
    QVERIFY(reply.received);
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.contains("<title>Test site</title>"));

    const QList<LoggedRequest> log = m_site->requests();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0].port, port(listener));
    QCOMPARE(log[0].status, 200);
}

void TestTestSite::logsRequestExactly_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    const QByteArray form = "application/x-www-form-urlencoded";
    QByteArray big;
    for (int i = 0; big.size() < 150000; ++i)
        big += "field" + QByteArray::number(i) + "=a+b%26c%3D%C3%A9&";
    const QByteArray multipart =
        "--XyZ\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nline\r\nbreak\r\n"
        "--XyZ\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"b.bin\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" +
        allByteValues() + "\r\n--XyZ--\r\n";

    QTest::newRow("get with query") << QByteArray("GET") << QByteArray("/echo/a?x=1&y=%20z&e=%C3%A9&e=2")
                                    << QByteArray() << QByteArray() << 200;
    QTest::newRow("encoded path") << QByteArray("GET") << QByteArray("/echo/%E2%82%AC+x/%2F?q=a+b%2B")
                                  << QByteArray() << QByteArray() << 200;
    QTest::newRow("every byte value")
        << QByteArray("POST") << QByteArray("/post/bytes?n=256") << form << allByteValues() << 200;
    QTest::newRow("empty body") << QByteArray("POST") << QByteArray("/post/empty") << form << QByteArray()
                                << 200;
    QTest::newRow("150 KB urlencoded") << QByteArray("POST") << QByteArray("/post/big") << form << big << 200;
    QTest::newRow("multipart") << QByteArray("POST") << QByteArray("/post/multipart")
                               << QByteArray("multipart/form-data; boundary=XyZ") << multipart << 200;
    QTest::newRow("multipart without boundary")
        << QByteArray("POST") << QByteArray("/post/multipart") << QByteArray("multipart/form-data")
        << QByteArray("--x\r\n") << 200;
    QTest::newRow("text/plain") << QByteArray("POST") << QByteArray("/post/plain") << QByteArray("text/plain")
                                << QByteArray("a=1\r\nb=two words\r\n") << 200;
    QTest::newRow("post to a page") << QByteArray("POST") << QByteArray("/forms/submit-named.html") << form
                                    << QByteArray("user=alice&action=save") << 200;
    QTest::newRow("head") << QByteArray("HEAD") << QByteArray("/links.html") << QByteArray() << QByteArray()
                          << 200;
    QTest::newRow("put") << QByteArray("PUT") << QByteArray("/put/here") << form << QByteArray("a=1") << 405;
}

void TestTestSite::logsRequestExactly()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    const QByteArray rowName = QTest::currentDataTag();
    const Reply reply = exchange(
        port(0), request(method, target, body,
                         "X-Mixed-Case: Row " + rowName + "\r\nX-Dup: one\r\nX-Dup: two\r\n", contentType));
    QVERIFY(reply.received);
    QCOMPARE(reply.status, status);
    if (method == "POST") {
        QVERIFY(reply.body.contains("<title>Received</title>"));
        QVERIFY(reply.body.contains("<p id=\"length\">" + QByteArray::number(body.size()) + "</p>"));
        QVERIFY(reply.body.contains("<p id=\"type\">" +
                                    QString::fromLatin1(contentType).toHtmlEscaped().toLatin1() + "</p>"));
    }

    const QList<LoggedRequest> log = m_site->requests();
    QCOMPARE(log.size(), 1);
    const LoggedRequest& r = log[0];
    QCOMPARE(r.method, method);
    QCOMPARE(r.target, target);
    QCOMPARE(r.body.size(), body.size());
    QCOMPARE(r.body, body);
    QCOMPARE(r.status, status);
    QCOMPARE(r.port, port(0));
    QCOMPARE(r.headers.value("x-mixed-case"), "Row " + rowName);
    QCOMPARE(r.headers.value("x-dup"), QByteArray("one, two"));
    QCOMPARE(r.headers.value("host"), QByteArray("127.0.0.1"));
    QCOMPARE(r.headers.value("content-type"), contentType);
    QCOMPARE(r.headers.value("content-type"), contentType);
    for (const QByteArray& name : r.headers.keys())
        QCOMPARE(name, name.toLower());
    QVERIFY(!r.headers.contains("remote_addr"));
    QVERIFY(!r.headers.contains("local_port"));
    QVERIFY(!r.navigation);
    QVERIFY(!r.redirectHop);
}

void TestTestSite::navigationClassification_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("dest"); // null: no Sec-Fetch-Dest header
    QTest::addColumn<bool>("navigation");
    QTest::addColumn<bool>("listed");

    QTest::newRow("document") << QByteArray("/links.html") << QByteArray("document") << true << true;
    QTest::newRow("iframe") << QByteArray("/frames/inner.html") << QByteArray("iframe") << true << true;
    QTest::newRow("frame") << QByteArray("/frames/top.html") << QByteArray("frame") << true << true;
    QTest::newRow("empty (fetch)") << QByteArray("/echo/fetch") << QByteArray("empty") << false << false;
    QTest::newRow("script") << QByteArray("/echo/script") << QByteArray("script") << false << false;
    QTest::newRow("image") << QByteArray("/img/button.svg") << QByteArray("image") << false << false;
    QTest::newRow("style") << QByteArray("/echo/style") << QByteArray("style") << false << false;
    QTest::newRow("no header") << QByteArray("/links.html") << QByteArray() << false << false;
    QTest::newRow("favicon as document")
        << QByteArray("/favicon.ico") << QByteArray("document") << true << false;
    QTest::newRow("favicon with query")
        << QByteArray("/favicon.ico?v=2") << QByteArray("document") << true << false;
}

void TestTestSite::navigationClassification()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, dest);
    QFETCH(bool, navigation);
    QFETCH(bool, listed);

    const QByteArray header = dest.isNull() ? QByteArray() : "Sec-Fetch-Dest: " + dest + "\r\n";
    QVERIFY(exchange(port(1), request("GET", target, {}, header)).received);

    const QList<LoggedRequest> log = m_site->requests();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0].navigation, navigation);
    QCOMPARE(m_site->navigations().size(), listed ? 1 : 0);
    if (listed)
        QCOMPARE(m_site->navigations()[0].target, target);
}

void TestTestSite::redirectHops_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<int>("from");      // listener answering the redirect
    QTest::addColumn<QByteArray>("to"); // value of the to parameter, percent-encoded as in a link
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<int>("hopListener"); // listener the hop goes to
    QTest::addColumn<QByteArray>("hopTarget");

    for (int code : {301, 302, 303, 307, 308}) {
        const QByteArray path = "/echo/code" + QByteArray::number(code);
        QTest::addRow("%d", code) << code << QByteArray("GET") << 0 << path << path << 0 << path;
    }
    QTest::newRow("307 keeps a POST") << 307 << QByteArray("POST") << 0 << QByteArray("/echo/post307")
                                      << QByteArray("/echo/post307") << 0 << QByteArray("/echo/post307");
    QTest::newRow("query in the location")
        << 302 << QByteArray("GET") << 0 << QByteArray("%2Fecho%2Fq%3Fa%3D1%26b%3D%252F")
        << QByteArray("/echo/q?a=1&b=%2F") << 0 << QByteArray("/echo/q?a=1&b=%2F");
    QTest::newRow("fragment left out") << 302 << QByteArray("GET") << 0 << QByteArray("/echo/frag%23part")
                                       << QByteArray("/echo/frag#part") << 0 << QByteArray("/echo/frag");
    QTest::newRow("on the other listener")
        << 302 << QByteArray("GET") << 1 << QByteArray("/echo/on-other") << QByteArray("/echo/on-other") << 1
        << QByteArray("/echo/on-other");
    QTest::newRow("to the other origin")
        << 302 << QByteArray("GET") << 0 << QByteArray("{{OTHER}}/echo/crossed")
        << QByteArray("{{OTHER}}/echo/crossed") << 1 << QByteArray("/echo/crossed");
    QTest::newRow("back to the main origin")
        << 307 << QByteArray("POST") << 1 << QByteArray("{{MAIN}}/echo/back")
        << QByteArray("{{MAIN}}/echo/back") << 0 << QByteArray("/echo/back");
    QTest::newRow("to another redirect")
        << 302 << QByteArray("GET") << 0 << QByteArray("%2Fredirect%3Fcode%3D307%26to%3D%2Fecho%2Fchained")
        << QByteArray("/redirect?code=307&to=/echo/chained") << 0
        << QByteArray("/redirect?code=307&to=/echo/chained");
}

void TestTestSite::redirectHops()
{
    QFETCH(int, code);
    QFETCH(QByteArray, method);
    QFETCH(int, from);
    QFETCH(QByteArray, to);
    QFETCH(QByteArray, location);
    QFETCH(int, hopListener);
    QFETCH(QByteArray, hopTarget);
    to = withBases(to);
    location = withBases(location);

    // Nothing is a hop before the site sent a Location.
    QVERIFY(exchange(port(hopListener), request(method, hopTarget, "x=1")).received);

    const QByteArray target = "/redirect?code=" + QByteArray::number(code) + "&to=" + to;
    const Reply reply = exchange(port(from), request(method, target, "x=1"));
    QCOMPARE(reply.status, code);
    QCOMPARE(reply.values("Location"), QList<QByteArray>{location});

    // The hop on the wrong listener is not one; on the right listener it is, once.
    QVERIFY(exchange(port(1 - hopListener), request(method, hopTarget, "x=1")).received);
    QVERIFY(exchange(port(hopListener), request(method, hopTarget, "x=1")).received);
    QVERIFY(exchange(port(hopListener), request(method, hopTarget, "x=1")).received);

    const QList<LoggedRequest> log = m_site->requests();
    QCOMPARE(log.size(), 5);
    const QList<bool> hops = {log[0].redirectHop, log[1].redirectHop, log[2].redirectHop, log[3].redirectHop,
                              log[4].redirectHop};
    QCOMPARE(hops, (QList<bool>{false, false, false, true, false}));
    QCOMPARE(log[1].status, code);
    QCOMPARE(log[3].port, port(hopListener));
    QCOMPARE(log[3].target, hopTarget);
}

void TestTestSite::redirectRefused_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("probe"); // a target that must not count as a hop afterwards

    QTest::newRow("status 200") << QByteArray("code=200&to=/echo/refused") << QByteArray("/echo/refused");
    QTest::newRow("status not a number")
        << QByteArray("code=abc&to=/echo/refused") << QByteArray("/echo/refused");
    QTest::newRow("no status") << QByteArray("to=/echo/refused") << QByteArray("/echo/refused");
    QTest::newRow("no location") << QByteArray("code=302") << QByteArray("/");
    QTest::newRow("relative location")
        << QByteArray("code=302&to=echo/refused") << QByteArray("/echo/refused");
    QTest::newRow("scheme-relative host")
        << QByteArray("code=302&to=//example.test/echo/refused") << QByteArray("/echo/refused");
    QTest::newRow("backslash host") << QByteArray("code=302&to=/%5Cexample.test/echo/refused")
                                    << QByteArray("/\\example.test/echo/refused");
    QTest::newRow("foreign site") << QByteArray("code=302&to=http://example.test/echo/refused")
                                  << QByteArray("/echo/refused");
    QTest::newRow("unused port") << QByteArray("code=302&to=http://127.0.0.1:1/echo/refused")
                                 << QByteArray("/echo/refused");
    QTest::newRow("base URL without path") << QByteArray("code=302&to={{MAIN}}") << QByteArray("/");
}

void TestTestSite::redirectRefused()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, probe);

    const Reply reply = exchange(port(0), request("GET", "/redirect?" + withBases(query)));
    QCOMPARE(reply.status, 400);
    QVERIFY(reply.values("Location").isEmpty());

    QVERIFY(exchange(port(0), request("GET", probe)).received);
    const QList<LoggedRequest> log = m_site->requests();
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[0].status, 400);
    QVERIFY(!log[1].redirectHop);
}

void TestTestSite::routes_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType"); // start of the Content-Type; empty: no body expected
    QTest::addColumn<QByteArray>("contains");

    const QByteArray html = "text/html; charset=utf-8";
    QTest::newRow("root") << QByteArray("GET") << QByteArray("/") << 200 << html
                          << QByteArray("<title>Test site</title>");
    QTest::newRow("page") << QByteArray("GET") << QByteArray("/links.html?unused=1") << 200 << html
                          << QByteArray("<title>Links</title>");
    QTest::newRow("folder") << QByteArray("GET") << QByteArray("/forms/") << 200 << html
                            << QByteArray("<title>Form corpus</title>");
    QTest::newRow("svg") << QByteArray("GET") << QByteArray("/img/button.svg") << 200
                         << QByteArray("image/svg+xml") << QByteArray("<svg");
    QTest::newRow("tsv") << QByteArray("GET") << QByteArray("/forms/manifest.tsv") << 200
                         << QByteArray("text/tab-separated-values") << QByteArray("\tauto\t");
    QTest::newRow("missing file") << QByteArray("GET") << QByteArray("/missing.html") << 404 << html
                                  << QByteArray("Not Found");
    QTest::newRow("dot-dot") << QByteArray("GET") << QByteArray("/../tst_testsite.cpp") << 404 << html
                             << QByteArray("Not Found");
    QTest::newRow("encoded dot-dot") << QByteArray("GET") << QByteArray("/%2e%2e/tst_testsite.cpp") << 404
                                     << html << QByteArray("Not Found");
    QTest::newRow("encoded slashes") << QByteArray("GET") << QByteArray("/forms%2F..%2F..%2Ftst_testsite.cpp")
                                     << 404 << html << QByteArray("Not Found");
    QTest::newRow("favicon") << QByteArray("GET") << QByteArray("/favicon.ico") << 404 << html
                             << QByteArray();
    QTest::newRow("no content") << QByteArray("GET") << QByteArray("/nocontent") << 204 << QByteArray()
                                << QByteArray();
    QTest::newRow("no content, POST")
        << QByteArray("POST") << QByteArray("/nocontent") << 204 << QByteArray() << QByteArray();
    QTest::newRow("echo") << QByteArray("GET") << QByteArray("/echo/abc?x=1") << 200 << html
                          << QByteArray("<title>Echo /echo/abc</title>");
    QTest::newRow("echo escapes") << QByteArray("GET") << QByteArray("/echo/%3Cb%3E") << 200 << html
                                  << QByteArray("<title>Echo /echo/&lt;b&gt;</title>");
    QTest::newRow("post anywhere") << QByteArray("POST") << QByteArray("/any/path/at/all") << 200 << html
                                   << QByteArray("<title>Received</title>");
    QTest::newRow("post to echo") << QByteArray("POST") << QByteArray("/echo/x") << 200 << html
                                  << QByteArray("<title>Received</title>");
    QTest::newRow("post to a file") << QByteArray("POST") << QByteArray("/links.html") << 200 << html
                                    << QByteArray("<title>Received</title>");
    QTest::newRow("delete") << QByteArray("DELETE") << QByteArray("/links.html") << 405 << html
                            << QByteArray();
    QTest::newRow("slow without ms") << QByteArray("GET") << QByteArray("/slow?ms=abc") << 400 << html
                                     << QByteArray();
}

void TestTestSite::routes()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, contains);

    const Reply reply = exchange(port(0), request(method, target));
    QVERIFY(reply.received);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.values("Cache-Control"), QList<QByteArray>{"no-store"});
    if (contentType.isEmpty()) {
        QVERIFY(reply.body.isEmpty());
    } else {
        QVERIFY2(reply.value("Content-Type").startsWith(contentType),
                 reply.value("Content-Type").constData());
        QVERIFY2(reply.body.contains(contains), reply.body.left(300).constData());
    }
    const QList<LoggedRequest> log = m_site->requests();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0].status, status);
}

void TestTestSite::slowIsBounded_data()
{
    QTest::addColumn<QByteArray>("ms");
    QTest::addColumn<int>("atLeast");
    QTest::addColumn<int>("below");

    QTest::newRow("0") << QByteArray("0") << 0 << 1500;
    QTest::newRow("250") << QByteArray("250") << 250 << 2000;
    QTest::newRow("negative") << QByteArray("-40") << 0 << 1500;
    QTest::newRow("over the limit") << QByteArray("99999") << 5000 << 7500;
}

void TestTestSite::slowIsBounded()
{
    QFETCH(QByteArray, ms);
    QFETCH(int, atLeast);
    QFETCH(int, below);

    QElapsedTimer timer;
    timer.start();
    const Reply reply = exchange(port(0), request("GET", "/slow?ms=" + ms), 15000);
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(reply.status, 200);
    QVERIFY2(elapsed >= atLeast && elapsed < below, QByteArray::number(elapsed).constData());
}

void TestTestSite::placeholdersReplaced_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("listener");

    QDirIterator it(TestSite::siteDir(), {QStringLiteral("*.html"), QStringLiteral("*.js")}, QDir::Files,
                    QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext())
        files.append(QDir(TestSite::siteDir()).relativeFilePath(it.next()));
    files.sort();
    QVERIFY(files.size() > 30);
    for (const QString& file : std::as_const(files)) {
        QTest::addRow("%s main", qPrintable(file)) << file << 0;
        QTest::addRow("%s other", qPrintable(file)) << file << 1;
    }
}

void TestTestSite::placeholdersReplaced()
{
    QFETCH(QString, file);
    QFETCH(int, listener);

    const QByteArray source = readSiteFile(file);
    QVERIFY(!source.isEmpty());
    const Reply reply = exchange(port(listener), request("GET", QUrl(QLatin1Char('/') + file).toEncoded()));
    QCOMPARE(reply.status, 200);
    QVERIFY(!reply.body.contains("{{"));
    QCOMPARE(reply.body, withBases(source));
    if (source.contains("{{OTHER}}"))
        QVERIFY(reply.body.contains(m_site->otherUrl(QStringLiteral("/")).toLatin1()));
}

void TestTestSite::concurrentRequestsAllLogged()
{
    constexpr int threads = 8;
    constexpr int perThread = 12;
    const quint16 ports[2] = {port(0), port(1)};
    std::atomic<int> answered{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, &ports, &answered] {
            for (int i = 0; i < perThread; ++i) {
                const QByteArray id = QByteArray::number(t) + '-' + QByteArray::number(i);
                const QByteArray target = i % 4 == 0 ? "/slow?ms=20&id=" + id : "/post/" + id;
                if (exchange(ports[i % 2], request("POST", target, "id=" + id)).status == 200)
                    ++answered;
            }
        });
    }
    // Readers run alongside the writers.
    QElapsedTimer timer;
    timer.start();
    while (answered < threads * perThread && timer.elapsed() < 20000) {
        QVERIFY(m_site->requests().size() <= threads * perThread);
        m_site->navigations();
        QTest::qWait(1);
    }
    for (std::thread& w : workers)
        w.join();
    QCOMPARE(answered.load(), threads * perThread);

    const QList<LoggedRequest> log = m_site->requests();
    QCOMPARE(log.size(), threads * perThread);
    QSet<QByteArray> bodies;
    for (const LoggedRequest& r : log) {
        QCOMPARE(r.status, 200);
        const QByteArray id = r.body.mid(3);
        const bool slow = id.split('-').value(1).toInt() % 4 == 0;
        QCOMPARE(r.target, slow ? "/slow?ms=20&id=" + id : "/post/" + id);
        bodies.insert(r.body);
    }
    QCOMPARE(bodies.size(), threads * perThread);
}

void TestTestSite::clearDuringRequest()
{
    std::atomic<int> slowStatus{0};
    const quint16 main = port(0);
    std::thread slow([main, &slowStatus] {
        slowStatus = exchange(main, request("POST", "/slow?ms=400", "slow=1")).status;
    });
    QTRY_COMPARE_WITH_TIMEOUT(m_site->requests().size(), 1, 5000);
    m_site->clear();
    QCOMPARE(exchange(main, request("GET", "/echo/after-clear")).status, 200);
    slow.join();
    QCOMPARE(slowStatus.load(), 200);

    // The answer to the cleared request must not land on the entry logged after it.
    const QList<LoggedRequest> log = m_site->requests();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0].target, QByteArray("/echo/after-clear"));
    QCOMPARE(log[0].method, QByteArray("GET"));
    QVERIFY(log[0].body.isEmpty());
    QCOMPARE(log[0].status, 200);
}

void TestTestSite::shutdownDoesNotHang()
{
    auto site = std::make_unique<TestSite>();
    QVERIFY(site->isRunning());
    const quint16 main = portOf(site->url(QStringLiteral("/")));
    const quint16 other = portOf(site->otherUrl(QStringLiteral("/")));

    QTcpSocket idle, partial, keptAlive, slow;
    for (QTcpSocket* s : {&idle, &partial, &keptAlive, &slow}) {
        s->connectToHost(QStringLiteral("127.0.0.1"), s == &keptAlive ? other : main);
        QVERIFY(s->waitForConnected(5000));
    }
    partial.write("POST /post/partial HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\nonly part");
    keptAlive.write("GET /links.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QVERIFY(keptAlive.waitForReadyRead(5000));
    slow.write("GET /slow?ms=5000 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    for (QTcpSocket* s : {&idle, &partial, &slow})
        QVERIFY(s->waitForBytesWritten(5000) || s->bytesToWrite() == 0);
    QTRY_COMPARE_WITH_TIMEOUT(site->requests().size(), 3, 5000);

    QElapsedTimer timer;
    timer.start();
    site.reset();
    QVERIFY2(timer.elapsed() < 4000, QByteArray::number(timer.elapsed()).constData());

    QTcpSocket after;
    after.connectToHost(QStringLiteral("127.0.0.1"), main);
    QVERIFY(!after.waitForConnected(2000));
}

void TestTestSite::manifestDescribesCorpus()
{
    const QByteArray manifest = readSiteFile(QStringLiteral("forms/manifest.tsv"));
    QVERIFY(manifest.endsWith('\n'));
    static const QRegularExpression trigger(QStringLiteral("^(auto|click \\S.*|enter \\S.*|js \\S.*)$"));
    static const QRegularExpression idSelector(QStringLiteral("^(click|enter) #([\\w-]+)$"));

    QSet<QString> listed;
    int postPages = 0;
    for (const QByteArray& line : manifest.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split('\t');
        QCOMPARE(fields.size(), 3);
        const QString path = QString::fromUtf8(fields[0]);
        const QString how = QString::fromUtf8(fields[1]);
        QVERIFY2(path.startsWith(QLatin1String("/forms/")) && path.endsWith(QLatin1String(".html")),
                 qPrintable(path));
        QVERIFY2(!listed.contains(path), qPrintable(path));
        listed.insert(path);
        QVERIFY2(trigger.match(how).hasMatch(), qPrintable(how));
        bool numeric = false;
        const int posts = fields[2].toInt(&numeric);
        QVERIFY2(numeric && posts >= 0, fields[2].constData());
        postPages += posts > 0 ? 1 : 0;

        const QByteArray page = readSiteFile(path.mid(1));
        QVERIFY2(!page.isEmpty(), qPrintable(path));
        const QRegularExpressionMatch byId = idSelector.match(how);
        if (byId.hasMatch())
            QVERIFY2(page.contains("id=\"" + byId.captured(2).toUtf8() + '"'), qPrintable(path + u' ' + how));
    }
    QVERIFY(postPages >= 30);

    // Every page of the corpus is described (its frames and popups live in inner/).
    QDir forms(TestSite::siteDir() + QStringLiteral("/forms"));
    for (const QString& name : forms.entryList({QStringLiteral("*.html")}, QDir::Files)) {
        if (name != QLatin1String("index.html"))
            QVERIFY2(listed.contains(QStringLiteral("/forms/") + name), qPrintable(name));
    }
}

void TestTestSite::corpusTimersAreShort()
{
    static const QRegularExpression timer(QStringLiteral("setTimeout\\(.*?,\\s*(\\d+)\\s*\\)"),
                                          QRegularExpression::DotMatchesEverythingOption);
    QDirIterator it(TestSite::siteDir() + QStringLiteral("/forms"), {QStringLiteral("*.html")}, QDir::Files,
                    QDirIterator::Subdirectories);
    int timers = 0;
    while (it.hasNext()) {
        const QString file = it.next();
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        for (auto m = timer.globalMatch(text); m.hasNext();) {
            ++timers;
            QVERIFY2(m.next().captured(1).toInt() <= 300, qPrintable(file));
        }
    }
    QVERIFY(timers > 0);
}

QTEST_GUILESS_MAIN(TestTestSite)
#include "tst_testsite.moc"
