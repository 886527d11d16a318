#include "BoxGeometry.h"
#include "BusyWait.h"
#include "MessageBox.h"
#include "MessageBoxCatcher.h"
#include "ServiceExchange.h"
#include "ServiceRules.h"

#include <QApplication>
#include <QCursor>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A one-connection HTTP server on 127.0.0.1 that records the raw bytes of the
// request it receives and then answers, streams a long or slow answer, closes
// without answering, or stays silent until it is destroyed.
class RawServer
{
public:
    enum class Behaviour
    {
        Answer,
        CloseSilently,
        NeverAnswer,
        Stream
    };

    // How a streamed answer marks its end.
    enum class Framing
    {
        Length,     // a Content-Length header
        UntilClose, // closing the connection
        Chunked     // chunked transfer coding
    };

    // An answer of size bytes (streamBody) sent in pieces, each after a pause.
    struct Stream
    {
        qint64 size = 0;
        Framing framing = Framing::Length;
        int piece = 64 * 1024;
        int pauseMs = 0;
    };

    // The bytes of a streamed answer from a position on: letters only, so
    // trimming leaves them as they are.
    static QByteArray streamBody(qint64 from, qint64 count)
    {
        QByteArray bytes(count, Qt::Uninitialized);
        for (qint64 i = 0; i < count; ++i)
            bytes[i] = char('a' + (from + i) % 26);
        return bytes;
    }

    explicit RawServer(Stream stream) : m_behaviour(Behaviour::Stream), m_stream(stream) { listen(); }

    RawServer(Behaviour behaviour, QByteArray response = {}) : m_behaviour(behaviour), m_response(response)
    {
        listen();
    }

    ~RawServer()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_stopped.notify_all();
        m_thread.join();
        ::close(m_listener);
    }

    quint16 port() const { return m_port; }
    QByteArray hostAndPort() const { return "127.0.0.1:" + QByteArray::number(m_port); }

    // The bytes of a streamed answer that went out before it ended or the
    // client went away; waits (bounded) for the server to be done.
    qint64 streamedBytes()
    {
        std::unique_lock lock(m_mutex);
        m_finished.wait_for(lock, 10s, [this] { return m_done; });
        return m_streamed;
    }

private:
    void listen()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listener, 4) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            qFatal("the test server cannot listen");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            serve();
            std::lock_guard lock(m_mutex);
            m_done = true;
            m_finished.notify_all();
        });
    }

public:
    // The request as received; waits (bounded) for it to be complete.
    QByteArray request()
    {
        std::unique_lock lock(m_mutex);
        m_received.wait_for(lock, 5s, [this] { return m_complete; });
        return m_request;
    }

    // A full HTTP response with this body.
    static QByteArray response(const QByteArray& body, const QByteArray& status = "200 OK")
    {
        return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }

private:
    void serve()
    {
        // Waits for the client in short slices so that destruction never waits long.
        pollfd waiting{m_listener, POLLIN, 0};
        for (int slice = 0; slice < 100; ++slice) {
            if (::poll(&waiting, 1, 50) > 0)
                break;
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
        }
        if (!(waiting.revents & POLLIN))
            return;
        const int connection = ::accept(m_listener, nullptr, nullptr);
        if (connection < 0)
            return;
        readRequest(connection);
        if (m_behaviour == Behaviour::Answer) {
            // In pieces, so the client reads the answer in several parts.
            for (qsizetype at = 0; at < m_response.size(); at += 700) {
                const QByteArray piece = m_response.mid(at, 700);
                if (::send(connection, piece.constData(), piece.size(), MSG_NOSIGNAL) < 0)
                    break;
            }
        } else if (m_behaviour == Behaviour::NeverAnswer) {
            std::unique_lock lock(m_mutex);
            m_stopped.wait_for(lock, 10s, [this] { return m_stopping; });
        } else if (m_behaviour == Behaviour::Stream) {
            stream(connection);
        }
        ::close(connection);
    }

    void stream(int connection)
    {
        QByteArray head = "HTTP/1.1 200 OK\r\n";
        if (m_stream.framing == Framing::Length)
            head += "Content-Length: " + QByteArray::number(m_stream.size) + "\r\n";
        else if (m_stream.framing == Framing::Chunked)
            head += "Transfer-Encoding: chunked\r\n";
        head += "Connection: close\r\n\r\n";
        if (!sendAll(connection, head))
            return;
        for (qint64 at = 0; at < m_stream.size;) {
            {
                std::unique_lock lock(m_mutex);
                if (m_stopped.wait_for(lock, std::chrono::milliseconds(m_stream.pauseMs),
                                       [this] { return m_stopping; }))
                    return;
            }
            const qint64 count = std::min<qint64>(m_stream.piece, m_stream.size - at);
            QByteArray piece = streamBody(at, count);
            if (m_stream.framing == Framing::Chunked)
                piece = QByteArray::number(count, 16) + "\r\n" + piece + "\r\n";
            if (!sendAll(connection, piece))
                return;
            at += count;
            std::lock_guard lock(m_mutex);
            m_streamed = at;
        }
        if (m_stream.framing == Framing::Chunked)
            sendAll(connection, "0\r\n\r\n");
    }

    // False once the client has gone away (or after 10 s of a full socket).
    static bool sendAll(int connection, const QByteArray& bytes)
    {
        for (qsizetype sent = 0; sent < bytes.size();) {
            pollfd writable{connection, POLLOUT, 0};
            if (::poll(&writable, 1, 10'000) <= 0)
                return false;
            const ssize_t n = ::send(connection, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }

    void readRequest(int connection)
    {
        QByteArray bytes;
        qsizetype expected = -1;
        char buffer[4096];
        while (expected < 0 || bytes.size() < expected) {
            pollfd readable{connection, POLLIN, 0};
            if (::poll(&readable, 1, 5000) <= 0)
                break;
            const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            bytes.append(buffer, got);
            const qsizetype headersEnd = bytes.indexOf("\r\n\r\n");
            if (expected < 0 && headersEnd >= 0) {
                qsizetype length = 0;
                for (const QByteArray& line : bytes.left(headersEnd).split('\n')) {
                    if (line.toLower().startsWith("content-length:"))
                        length = line.mid(15).trimmed().toLongLong();
                }
                expected = headersEnd + 4 + length;
            }
        }
        std::lock_guard lock(m_mutex);
        m_request = bytes;
        m_complete = true;
        m_received.notify_all();
    }

    Behaviour m_behaviour;
    QByteArray m_response;
    Stream m_stream;
    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_received;
    std::condition_variable m_stopped;
    std::condition_variable m_finished;
    QByteArray m_request;
    qint64 m_streamed = 0;
    bool m_complete = false;
    bool m_stopping = false;
    bool m_done = false;
};

// A request split into its request line, header lines (sorted) and body.
struct SplitRequest
{
    QByteArray requestLine;
    QList<QByteArray> headers;
    QByteArray body;
};

SplitRequest split(const QByteArray& raw)
{
    SplitRequest request;
    const qsizetype headersEnd = raw.indexOf("\r\n\r\n");
    QList<QByteArray> lines = raw.left(headersEnd).split('\n');
    for (QByteArray& line : lines)
        line.chop(line.endsWith('\r') ? 1 : 0);
    request.requestLine = lines.takeFirst();
    std::sort(lines.begin(), lines.end());
    request.headers = lines;
    request.body = raw.mid(headersEnd + 4);
    return request;
}

// A transaction file with CR LF line ends and bytes above 0x7F, as the writer
// produces them.
const QByteArray knownFile = "<?xml version = '1.0'?>\r\n<data>\r\n<username>jdoe</username>\r\n"
                             "<key>k\xe9y</key>\r\n<transaction>\r\n</transaction>\r\n</data>\r\n";

const QByteArray contentTypeLine = "Content-Type: multipart/form-data; boundary=--Xu02=$";

QByteArray filePart(const QByteArray& path, const QByteArray& file)
{
    return "----Xu02=$\r\n"
           "Content-Disposition: form-data; name=\"file\"; filename=\"" +
           path + "\"\r\nContent-type: text/xml\r\n\r\n" + file + "\r\n";
}

QByteArray uploadBody(const QByteArray& path, const QByteArray& file)
{
    return filePart(path, file) +
           "----Xu02=$\r\nContent-Disposition: form-data; name=\"upl\"\r\n\r\nUpload\r\n"
           "----Xu02=$--";
}

QByteArray textPart(const QByteArray& name, const QByteArray& value)
{
    return "----Xu02=$\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\nContent-type: text/plain\r\n\r\n" + value + "\r\n";
}

} // namespace

class TestService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void formBody_data();
    void formBody();
    void partHoldingDelimiter_data();
    void partHoldingDelimiter();
    void transactionList_data();
    void transactionList();
    void successAnswer_data();
    void successAnswer();
    void requestTarget_data();
    void requestTarget();

    void requestOnTheWire_data();
    void requestOnTheWire();
    void responseText_data();
    void responseText();
    void unreachable_data();
    void unreachable();
    void largeOrSlowAnswer_data();
    void largeOrSlowAnswer();

    void busyWaitKeepsEventsButDropsInput();
    void longMessageFitsTheScreen_data();
    void longMessageFitsTheScreen();

private:
    QTemporaryDir m_dir;
};

void TestService::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The exchanges go straight to the local test servers.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
}

void TestService::formBody_data()
{
    QTest::addColumn<QList<FormPart>>("parts");
    QTest::addColumn<QByteArray>("expected");

    const QString path = QStringLiteral("/home/u/recorder.xml");
    QTest::newRow("upload") << uploadParts(path, knownFile) << uploadBody(path.toLatin1(), knownFile);
    QTest::newRow("upload, empty file") << uploadParts(path, QByteArray()) << uploadBody(path.toLatin1(), "");
    QTest::newRow("report") << reportParts(path, knownFile, QStringLiteral("Ann \u00e9"),
                                           QStringLiteral("a@b.c"), QString(),
                                           QStringLiteral("line 1\r\nline 2"))
                            << filePart(path.toLatin1(), knownFile) + textPart("name", "Ann \xe9") +
                                   textPart("email", "a@b.c") + textPart("user", "") +
                                   textPart("description", "line 1\r\nline 2") + "----Xu02=$--";
    QTest::newRow("no parts") << QList<FormPart>() << QByteArray("----Xu02=$--");
}

void TestService::formBody()
{
    QFETCH(QList<FormPart>, parts);
    QFETCH(QByteArray, expected);
    QCOMPARE(buildFormBody(parts), expected);
}

void TestService::partHoldingDelimiter_data()
{
    QTest::addColumn<QList<FormPart>>("parts");
    QTest::addColumn<std::optional<QString>>("found");
    const QString file = QStringLiteral("/data/recorder.xml");
    const QByteArray xml("<data>\r\n</data>\r\n");
    QTest::newRow("none") << reportParts(file, xml, QStringLiteral("Ann"), QStringLiteral("a@b.c"),
                                         QStringLiteral("u"), QStringLiteral("----Xu02 and Xu02=$"))
                          << std::optional<QString>();
    QTest::newRow("e-mail, inside the line")
        << reportParts(file, xml, QStringLiteral("Ann"), QStringLiteral("x----Xu02=$"), QStringLiteral("u"),
                       QStringLiteral("d"))
        << std::optional<QString>(QStringLiteral("email"));
    QTest::newRow("a part without a name")
        << QList<FormPart>{FormPart::text(QString(), QStringLiteral("----Xu02=$"))}
        << std::optional<QString>(QString());
    QTest::newRow("the file, first of several")
        << reportParts(file, "<url>----Xu02=$</url>", QStringLiteral("----Xu02=$"), QStringLiteral("a@b.c"),
                       QStringLiteral("u"), QStringLiteral("d"))
        << std::optional<QString>(QStringLiteral("file"));
}

void TestService::partHoldingDelimiter()
{
    QFETCH(QList<FormPart>, parts);
    QFETCH(std::optional<QString>, found);
    QCOMPARE(::partHoldingDelimiter(parts), found);
}

void TestService::transactionList_data()
{
    using Kind = TransactionList::Kind;
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QList<TransactionEntry>>("entries");

    const QList<TransactionEntry> none;
    QTest::newRow("two records") << QStringLiteral("7;;Checkout\r\n12;;Login\r\n") << int(Kind::Entries)
                                 << QList<TransactionEntry>{{7, QStringLiteral("Checkout")},
                                                            {12, QStringLiteral("Login")}};
    QTest::newRow("no transactions") << QStringLiteral("0") << int(Kind::NoTransactions) << none;
    QTest::newRow("error") << QStringLiteral("Error: Invalid username or key") << int(Kind::Refused) << none;
    QTest::newRow("records without ;; or numeric id are skipped")
        << QStringLiteral("Checkout\r\nx1;;Bad\r\n;;Empty id\r\n3;;Three\r\n") << int(Kind::Entries)
        << QList<TransactionEntry>{{3, QStringLiteral("Three")}};
    QTest::newRow("fields after the name, signs, empty name")
        << QStringLiteral("-4;;Minus;;extra\r\n+9;;\r\n 8 ;;Spaced\r\n") << int(Kind::Entries)
        << QList<TransactionEntry>{
               {-4, QStringLiteral("Minus")}, {9, QString()}, {8, QStringLiteral("Spaced")}};
    QTest::newRow("ids beyond 32 bits are skipped")
        << QStringLiteral("2147483647;;Max\r\n2147483648;;Over\r\n-2147483648;;Min\r\n-2147483649;;Under\r\n")
        << int(Kind::Entries)
        << QList<TransactionEntry>{{2147483647, QStringLiteral("Max")},
                                   {-2147483647 - 1, QStringLiteral("Min")}};
}

void TestService::transactionList()
{
    QFETCH(QString, answer);
    QFETCH(int, kind);
    QFETCH(QList<TransactionEntry>, entries);
    const TransactionList list = parseTransactionList(answer);
    QCOMPARE(int(list.kind), kind);
    QCOMPARE(list.entries, entries);
    QCOMPARE(list.message, kind == int(TransactionList::Kind::Refused) ? answer : QString());
}

void TestService::successAnswer_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("success");
    QTest::newRow("OK") << QStringLiteral("OK") << true;
    QTest::newRow("OK and more") << QStringLiteral("OK Transaction uploaded") << true;
    QTest::newRow("lower case") << QStringLiteral("ok") << false;
    QTest::newRow("error") << QStringLiteral("Error: no") << false;
    QTest::newRow("tab before") << QStringLiteral("\tOK") << false;
}

void TestService::successAnswer()
{
    QFETCH(QString, answer);
    QFETCH(bool, success);
    QCOMPARE(isSuccessAnswer(answer), success);
}

void TestService::requestTarget_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("as typed") << QStringLiteral("/uploadtrans.php?username=jdoe&key=a%2B=b")
                              << QByteArray("/uploadtrans.php?username=jdoe&key=a%2B=b");
    QTest::newRow("blanks and fragment mark")
        << QStringLiteral("/u.php?username=j doe&key=a#b") << QByteArray("/u.php?username=j%20doe&key=a%23b");
    QTest::newRow("line breaks cannot split the request")
        << QStringLiteral("/u.php?username=a\r\nX-Injected: 1")
        << QByteArray("/u.php?username=a%0D%0AX-Injected:%201");
    QTest::newRow("code page bytes") << QStringLiteral("/u.php?username=J\u00fcrgen\u20ac")
                                     << QByteArray("/u.php?username=J%FCrgen%80");
}

void TestService::requestTarget()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, target);
    QCOMPARE(::requestTarget(path), target);
}

void TestService::requestOnTheWire_data()
{
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("requestLine");

    const QString file = m_dir.filePath(QStringLiteral("recorder.xml"));
    const QByteArray upload = buildFormBody(uploadParts(file, knownFile));
    QTest::newRow("list") << QStringLiteral("GET")
                          << listObjectPath(QStringLiteral("jdoe"), QStringLiteral("k&1")) << QByteArray()
                          << QByteArray("GET /uploadtrans.php?username=jdoe&key=k&1 HTTP/1.1");
    QTest::newRow("upload mode 0") << QStringLiteral("POST")
                                   << ::uploadObjectPath(UploadMode::Performance, 12) << upload
                                   << QByteArray("POST /uploadtrans.php HTTP/1.1");
    QTest::newRow("upload mode 1") << QStringLiteral("POST") << ::uploadObjectPath(UploadMode::FullPage, 12)
                                   << upload << QByteArray("POST /uploadtrans.php?fp=1 HTTP/1.1");
    QTest::newRow("upload mode 2") << QStringLiteral("POST") << ::uploadObjectPath(UploadMode::Replace, 12)
                                   << upload << QByteArray("POST /uploadtrans.php?trid=12 HTTP/1.1");
    const QByteArray report =
        buildFormBody(reportParts(file, knownFile, QStringLiteral("Ann"), QStringLiteral("a@b.c"),
                                  QStringLiteral("jdoe"), QStringLiteral("It fails.")));
    QTest::newRow("report") << QStringLiteral("POST") << reportObjectPath() << report
                            << QByteArray("POST /uploadtrans.php?report=problem HTTP/1.1");
    // Above the size at which HTTP clients ask for "100-continue" first.
    QTest::newRow("large upload") << QStringLiteral("POST") << ::uploadObjectPath(UploadMode::Performance, 0)
                                  << buildFormBody(uploadParts(file, knownFile.repeated(12000)))
                                  << QByteArray("POST /uploadtrans.php HTTP/1.1");
}

void TestService::requestOnTheWire()
{
    QFETCH(QString, verb);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, requestLine);

    RawServer server(RawServer::Behaviour::Answer, RawServer::response("OK"));
    qputenv("TALLYRO_SERVICE_HOST", server.hostAndPort());
    const bool post = verb == u"POST";
    QString response;
    QString error;
    QVERIFY2(sendServiceRequest(verb, path, post ? multipartHeader() : QString(), body, &response, &error),
             qPrintable(error));
    QCOMPARE(response, QStringLiteral("OK"));

    const SplitRequest request = split(server.request());
    QCOMPARE(request.requestLine, requestLine);
    QList<QByteArray> headers{"Host: " + server.hostAndPort(), "User-Agent: Tallyro Recorder"};
    if (post)
        headers << "Content-Length: " + QByteArray::number(body.size()) << contentTypeLine;
    std::sort(headers.begin(), headers.end());
    QCOMPARE(request.headers, headers);
    QCOMPARE(request.body, body);
}

void TestService::responseText_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("text");

    QByteArray longer;
    for (int i = 0; longer.size() < 3000; ++i)
        longer += QByteArray::number(i) + ';';
    QByteArray exact(1024, 'x');
    exact[0] = 'a';
    exact[1023] = 'z';
    QTest::newRow("longer than 1024 bytes") << longer << QString::fromLatin1(longer);
    QTest::newRow("exactly 1024 bytes") << exact << QString::fromLatin1(exact);
    QTest::newRow("only spaces") << QByteArray("     ") << QString();
    QTest::newRow("spaces trimmed, tabs and line breaks kept")
        << QByteArray("  \tOK\r\n  ") << QStringLiteral("\tOK\r\n");
    QTest::newRow("code page") << QByteArray("Caf\xe9 \x80") << QStringLiteral("Caf\u00e9 \u20ac");
}

void TestService::responseText()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, text);
    for (const QByteArray& status : {QByteArray("200 OK"), QByteArray("500 Internal Server Error")}) {
        RawServer server(RawServer::Behaviour::Answer, RawServer::response(answer, status));
        qputenv("TALLYRO_SERVICE_HOST", server.hostAndPort());
        QString response;
        QString error;
        QVERIFY2(sendServiceRequest(QStringLiteral("GET"), QStringLiteral("/uploadtrans.php"), QString(),
                                    QByteArray(), &response, &error),
                 qPrintable(error));
        QCOMPARE(response, text);
    }
}

void TestService::unreachable_data()
{
    QTest::addColumn<int>("behaviour"); // -1: nobody listens
    QTest::addColumn<QByteArray>("host");
    QTest::newRow("refused") << -1 << QByteArray();
    QTest::newRow("unknown host") << -1 << QByteArray("host.invalid");
    QTest::newRow("closes without answering") << int(RawServer::Behaviour::CloseSilently) << QByteArray();
    QTest::newRow("never answers") << int(RawServer::Behaviour::NeverAnswer) << QByteArray();
}

void TestService::unreachable()
{
    QFETCH(int, behaviour);
    QFETCH(QByteArray, host);

    std::optional<RawServer> server;
    if (behaviour >= 0) {
        server.emplace(RawServer::Behaviour(behaviour));
        host = server->hostAndPort();
    } else if (host.isEmpty()) {
        // A port that was just free.
        host = RawServer(RawServer::Behaviour::CloseSilently).hostAndPort();
    }
    qputenv("TALLYRO_SERVICE_HOST", host);

    QElapsedTimer timer;
    timer.start();
    QString response = QStringLiteral("stale");
    QString error;
    QVERIFY(!sendServiceRequest(QStringLiteral("POST"), reportObjectPath(), multipartHeader(), "----Xu02=$--",
                                &response, &error, ExchangeLimits{1000ms, 1500ms}));
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(response, QString());
    QVERIFY(!error.isEmpty());
}

void TestService::busyWaitKeepsEventsButDropsInput()
{
    QWidget widget;
    widget.resize(100, 100);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));

    struct PressCounter : QObject
    {
        int presses = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            presses += event->type() == QEvent::MouseButtonPress;
            return false;
        }
    } counter;
    widget.installEventFilter(&counter);

    std::atomic<bool> timerFired = false;
    bool busyCursorShown = false;
    QTimer::singleShot(0, &widget, [&] {
        busyCursorShown =
            QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
        QTest::mousePress(&widget, Qt::LeftButton);
        timerFired = true;
    });
    runWhileBusy([&] {
        for (int i = 0; i < 500 && !timerFired; ++i)
            std::this_thread::sleep_for(10ms);
    });
    QVERIFY(timerFired);
    QVERIFY(busyCursorShown);
    QCOMPARE(counter.presses, 0);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    QTest::mousePress(&widget, Qt::LeftButton);
    QCOMPARE(counter.presses, 1);
}

void TestService::largeOrSlowAnswer_data()
{
    using Framing = RawServer::Framing;
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("framing");
    QTest::addColumn<int>("piece");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<qint64>("limitBytes"); // 0: the usual one
    QTest::addColumn<int>("totalMs");       // 0: the usual one
    QTest::addColumn<QString>("outcome");   // "answer", "too large" or "time-out"

    const qint64 mb = 1024 * 1024;
    const int big = 64 * 1024;
    const QString answer = QStringLiteral("answer");
    const QString tooLarge = QStringLiteral("too large");
    QTest::newRow("50 MB with its length")
        << 50 * mb << int(Framing::Length) << big << 0 << 0LL << 0 << tooLarge;
    QTest::newRow("50 MB until the connection closes")
        << 50 * mb << int(Framing::UntilClose) << big << 0 << 0LL << 0 << tooLarge;
    QTest::newRow("the usual limit exactly, chunked")
        << mb << int(Framing::Chunked) << 1000 << 0 << 0LL << 0 << answer;
    QTest::newRow("a lowered limit exactly, until the connection closes")
        << 4096LL << int(Framing::UntilClose) << 1000 << 0 << 4096LL << 0 << answer;
    QTest::newRow("a byte over a lowered limit, until the connection closes")
        << 4097LL << int(Framing::UntilClose) << 1000 << 0 << 4096LL << 0 << tooLarge;
    QTest::newRow("a byte over a lowered limit, with its length")
        << 4097LL << int(Framing::Length) << 1000 << 0 << 4096LL << 0 << tooLarge;
    QTest::newRow("a byte over a lowered limit, chunked")
        << 4097LL << int(Framing::Chunked) << 1000 << 0 << 4096LL << 0 << tooLarge;
    QTest::newRow("slow, within the total time")
        << 40LL << int(Framing::Length) << 4 << 50 << 0LL << 0 << answer;
    QTest::newRow("slow, beyond a lowered total time")
        << 400LL << int(Framing::Length) << 4 << 50 << 0LL << 1500 << QStringLiteral("time-out");
}

void TestService::largeOrSlowAnswer()
{
    QFETCH(qint64, size);
    QFETCH(int, framing);
    QFETCH(int, piece);
    QFETCH(int, pauseMs);
    QFETCH(qint64, limitBytes);
    QFETCH(int, totalMs);
    QFETCH(QString, outcome);

    RawServer server(RawServer::Stream{size, RawServer::Framing(framing), piece, pauseMs});
    qputenv("TALLYRO_SERVICE_HOST", server.hostAndPort());
    ExchangeLimits limits;
    if (limitBytes > 0)
        limits.answerBytes = limitBytes;
    if (totalMs > 0)
        limits.total = std::chrono::milliseconds(totalMs);

    QElapsedTimer timer;
    timer.start();
    QString response = QStringLiteral("stale");
    QString error = QStringLiteral("stale");
    const bool reached = sendServiceRequest(QStringLiteral("GET"), QStringLiteral("/uploadtrans.php"),
                                            QString(), QByteArray(), &response, &error, limits);
    // Far within the usual minute, however much the server had to send.
    QVERIFY2(timer.elapsed() < 10'000, qPrintable(QString::number(timer.elapsed())));

    if (outcome == u"answer") {
        QVERIFY2(reached, qPrintable(error));
        QCOMPARE(response.size(), size);
        QVERIFY(response == QString::fromLatin1(RawServer::streamBody(0, size)));
        QCOMPARE(error, QString());
        return;
    }
    QVERIFY(!reached);
    QCOMPARE(response, QString());
    if (outcome == u"too large") {
        QCOMPARE(error, answerTooLargeText(limits.answerBytes));
        // The rest was not read: the server could not send it all. (Sockets
        // hold a few megabytes in flight, so only a far larger answer shows it.)
        if (size > 20 * 1024 * 1024)
            QVERIFY2(server.streamedBytes() < size, qPrintable(QString::number(server.streamedBytes())));
    } else {
        QVERIFY2(error.contains(QStringLiteral("timed out"), Qt::CaseInsensitive), qPrintable(error));
    }
}

void TestService::longMessageFitsTheScreen_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("cut");

    const qsizetype mb = 1024 * 1024;
    QString lines;
    for (int i = 0; lines.size() < mb; ++i)
        lines +=
            QStringLiteral("Line %1 of the answer, as a web server's error page might hold it.\r\n").arg(i);
    QTest::newRow("short") << QStringLiteral(
                                  "Error uploading transaction: \r\nError: Invalid username or key")
                           << false;
    QTest::newRow("a megabyte of lines") << lines << true;
    QTest::newRow("a megabyte of words on one line") << QStringLiteral("word ").repeated(mb / 5) << true;
    QTest::newRow("a megabyte without a break") << QString(mb, u'x') << true;
    QTest::newRow("wide characters") << QString(200'000, QChar(0x6f22)) << true;
    QTest::newRow("characters beyond 16 bits") << QStringLiteral("\U0001F600").repeated(100'000) << true;
    QTest::newRow("lines of one character") << QStringLiteral("x\n").repeated(100'000) << true;
}

void TestService::longMessageFitsTheScreen()
{
    QFETCH(QString, text);
    QFETCH(bool, cut);

    MessageBoxCatcher boxes;
    BoxGeometry geometry;
    messagebox::show(nullptr, QMessageBox::Critical, QStringLiteral("Upload Status"), text);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(geometry.seen.size(), 1);
    const BoxGeometry::Seen box = geometry.seen.last();
    QCOMPARE(box.text, boxes.last().text);

    // The box and its OK button stand within the screen's usable area.
    QVERIFY2(
        box.available.contains(box.frame),
        qPrintable(QDebug::toString(box.frame) + QStringLiteral(" on ") + QDebug::toString(box.available)));
    QVERIFY(box.okShown);
    QVERIFY(!box.okButton.isEmpty() && box.frame.contains(box.okButton));

    // Words too wide for the box may hold zero-width spaces, where they wrap.
    const QString shown = QString(box.text).remove(QChar(0x200B));
    if (!cut) {
        QCOMPARE(shown, text);
        return;
    }
    // What shows is the text's beginning and a note counting what was left out.
    static const QRegularExpression count(QStringLiteral("(\\d+) more characters"));
    const QRegularExpressionMatch match = count.match(shown.section(u'\n', -1));
    QVERIFY2(match.hasMatch(), qPrintable(shown.right(200)));
    const qsizetype leftOut = match.captured(1).toLongLong();
    QVERIFY(leftOut > 0 && leftOut < text.size());
    const QString kept = text.left(text.size() - leftOut);
    QCOMPARE(shown, kept + QStringLiteral("\n\n") + messagebox::cutTextNote(leftOut));
    QVERIFY(!kept.back().isHighSurrogate());
    // A screenful, not a few lines.
    QVERIFY2(box.frame.height() > box.available.height() / 4,
             qPrintable(QString::number(box.frame.height())));
}

QTEST_MAIN(TestService)
#include "tst_service.moc"
