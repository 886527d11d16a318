#include "TestSite.h"

#include <QTcpSocket>
#include <QTest>
#include <QUrl>

namespace {

// One request to the site and what its log must say about it.
struct Sent
{
    int listener; // 0: main, 1: other origin
    QByteArray method;
    QByteArray target;
    QByteArray body;
    int status;
    bool hop;
};

// Sends a request on a fresh connection; the status code of the answer.
int exchange(quint16 port, const Sent& r)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return 0;
    socket.write(r.method + ' ' + r.target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                 "Content-Type: application/octet-stream\r\nContent-Length: " +
                 QByteArray::number(r.body.size()) + "\r\n\r\n" + r.body);
    QByteArray answer;
    while (socket.waitForReadyRead(5000)) // the site closes the connection after its answer
        answer += socket.readAll();
    return answer.split(' ').value(1).toInt();
}

} // namespace

// A short check of the site the browser tests compare the recorder with: both
// listeners answer, a request is logged byte for byte, and only the request
// that follows a redirect on its listener is marked as the redirect's hop.
class TestTestSite : public QObject
{
    Q_OBJECT
private slots:
    void logsWhatItReceived_data();
    void logsWhatItReceived();
};

void TestTestSite::logsWhatItReceived_data()
{
    QTest::addColumn<QList<Sent>>("sent");
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.append(char(i));
    const QByteArray get = "GET";
    QTest::newRow("a page on each listener")
        << QList<Sent>{{0, get, "/index.html", {}, 200, false}, {1, get, "/index.html", {}, 200, false}};
    QTest::newRow("every byte value posted")
        << QList<Sent>{{0, "POST", "/post/bytes?n=256", allBytes, 200, false}};
    QTest::newRow("a redirect's hop, on its own listener only")
        << QList<Sent>{{0, get, "/redirect?code=302&to=/echo/x", {}, 302, false},
                       {1, get, "/echo/x", {}, 200, false},
                       {0, get, "/echo/x", {}, 200, true},
                       {0, get, "/echo/x", {}, 200, false}};
}

void TestTestSite::logsWhatItReceived()
{
    QFETCH(QList<Sent>, sent);
    TestSite site;
    QVERIFY(site.isRunning());
    const quint16 ports[] = {quint16(QUrl(site.url({})).port()), quint16(QUrl(site.otherUrl({})).port())};
    QVERIFY(ports[0] != ports[1]);
    for (const Sent& r : sent)
        QCOMPARE(exchange(ports[r.listener], r), r.status);

    const QList<LoggedRequest> log = site.requests();
    QCOMPARE(log.size(), sent.size());
    for (qsizetype i = 0; i < log.size(); ++i) {
        QCOMPARE(log[i].port, ports[sent[i].listener]);
        QCOMPARE(log[i].method, sent[i].method);
        QCOMPARE(log[i].target, sent[i].target);
        QCOMPARE(log[i].body, sent[i].body);
        QCOMPARE(log[i].status, sent[i].status);
        QCOMPARE(log[i].redirectHop, sent[i].hop);
    }
}

QTEST_GUILESS_MAIN(TestTestSite)
#include "tst_testsite.moc"
