#include "TestSite.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

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

} // namespace

// A short check of the local test site the browser tests stand on: both
// listeners answer, a request is logged byte for byte, redirect hops are marked.
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
    void redirectHops_data();
    void redirectHops();

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

QTEST_GUILESS_MAIN(TestTestSite)
#include "tst_testsite.moc"
