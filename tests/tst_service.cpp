#include "BoxGeometry.h"
#include "MessageBox.h"
#include "MessageBoxCatcher.h"
#include "ServiceExchange.h"
#include "ServiceRules.h"

#include <QtTest>
#include <QtWidgets>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A one-connection server on 127.0.0.1 that keeps the exact bytes of the request
// it receives, then sends `answer` (none: it closes without answering): its head
// at once, the rest in pieces, each after a pause, counting the bytes that went
// out. One that does not accept leaves a client waiting for an answer that never comes.
class RawServer
{
public:
    explicit RawServer(const QByteArray& answer = {}, bool accepting = true, qsizetype piece = 1 << 30,
                       int pauseMs = 0)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* a = reinterpret_cast<sockaddr*>(&address);
        if (m_listener < 0 || ::bind(m_listener, a, length) != 0 || ::listen(m_listener, 4) != 0 ||
            ::getsockname(m_listener, a, &length) != 0)
            qFatal("the test server cannot listen");
        host = "127.0.0.1:" + QByteArray::number(ntohs(address.sin_port));
        if (accepting)
            m_thread = std::thread([=, this] { serve(answer, piece, pauseMs); });
    }
    ~RawServer()
    {
        finish();
        ::close(m_listener);
    }
    // The request as received; waits (bounded) for it to be complete.
    QByteArray request()
    {
        auto future = m_request.get_future();
        return future.wait_for(5s) == std::future_status::ready ? future.get() : QByteArray();
    }
    // The bytes of the answer that went out, once the server is done.
    qint64 finish()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_sent;
    }
    QByteArray host;

private:
    void serve(const QByteArray& answer, qsizetype piece, int pauseMs)
    {
        pollfd in{m_listener, POLLIN, 0};
        const int connection = ::poll(&in, 1, 5000) > 0 ? ::accept(m_listener, nullptr, nullptr) : -1;
        QByteArray bytes;
        char buffer[4096];
        for (qsizetype expected = -1; connection >= 0 && (expected < 0 || bytes.size() < expected);) {
            in = {connection, POLLIN, 0};
            const ssize_t got = ::poll(&in, 1, 5000) > 0 ? ::recv(connection, buffer, sizeof buffer, 0) : -1;
            if (got <= 0)
                break;
            bytes.append(buffer, got);
            const qsizetype headersEnd = bytes.indexOf("\r\n\r\n");
            static const QRegularExpression length(u"\r\ncontent-length: *(\\d+)"_qs,
                                                   QRegularExpression::CaseInsensitiveOption);
            const auto match = length.match(QString::fromLatin1(bytes.left(headersEnd)));
            if (headersEnd >= 0)
                expected = headersEnd + 4 + match.captured(1).toLongLong();
        }
        m_request.set_value(bytes);
        const timeval sendLimit{5, 0}; // a client that stops reading does not hold the server forever
        ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
        for (qsizetype at = 0, end = answer.indexOf("\r\n\r\n") + 4; connection >= 0 && at < answer.size();
             at = end, end += piece) {
            std::this_thread::sleep_for(std::chrono::milliseconds(at > 0 ? pauseMs : 0));
            const QByteArray part = answer.mid(at, end - at);
            if (::send(connection, part.constData(), part.size(), MSG_NOSIGNAL) != part.size())
                break;
            m_sent = at + part.size();
        }
        ::close(connection);
    }

    int m_listener = -1;
    std::thread m_thread;
    std::promise<QByteArray> m_request;
    qint64 m_sent = 0;
};

// How the test server answers: framed as asked, or not at all.
enum Server
{
    Length,     // the body after its length
    UntilClose, // the body until the connection closes
    Chunked,
    Closes, // closes the connection without answering
    Silent, // never accepts the connection
    UnknownHost
};

// An HTTP answer with this status and body, framed as asked (chunks of `chunk` bytes).
QByteArray httpAnswer(const QByteArray& body, Server framing, int status, qsizetype chunk)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nContent-Type: text/plain\r\n";
    if (framing == Length)
        return head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    if (framing == UntilClose)
        return head + "Connection: close\r\n\r\n" + body;
    head += "Transfer-Encoding: chunked\r\n\r\n";
    for (qsizetype at = 0; at < body.size(); at += chunk)
        head += QByteArray::number(qMin(chunk, body.size() - at), 16) + "\r\n" + body.mid(at, chunk) + "\r\n";
    return head + "0\r\n\r\n";
}

// Letters only, so trimming leaves them be.
QByteArray letters(qint64 count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i)
        bytes[i] = char('a' + i % 26);
    return bytes;
}

// A transaction file with CR LF line ends and a byte above 0x7F, as the writer makes them.
const QByteArray knownFile = "<?xml version = '1.0'?>\r\n<data>\r\n<username>jdoe</username>\r\n"
                             "<key>k\xe9y</key>\r\n<transaction>\r\n</transaction>\r\n</data>\r\n";

QByteArray filePart(const QByteArray& path, const QByteArray& file)
{
    return "----Xu02=$\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + path +
           "\"\r\nContent-type: text/xml\r\n\r\n" + file + "\r\n";
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

bool exchange(const QByteArray& host, QString* response, QString* error, const ExchangeLimits& limits = {},
              const QString& verb = u"GET"_qs, const QString& path = u"/u.php"_qs,
              const QByteArray& body = {})
{
    qputenv("TALLYRO_SERVICE_HOST", host);
    return sendServiceRequest(verb, path, verb == u"POST" ? multipartHeader() : QString(), body, response,
                              error, limits);
}

} // namespace

class TestService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    // The part whose value holds the delimiter line; a body's bytes are requestOnTheWire's.
    void partHoldingDelimiter_data()
    {
        QTest::addColumn<QList<FormPart>>("parts");
        QTest::addColumn<std::optional<QString>>("holding");
        const auto report = [](const char* xml, const char* email, const char* text) {
            return reportParts(u"/home/u/recorder.xml"_qs, xml, u"Ann"_qs, QString::fromLatin1(email),
                               u"u"_qs, QString::fromLatin1(text));
        };
        QTest::newRow("none, near the delimiter")
            << report("<data/>", "a@b.c", "----Xu02 and Xu02=$") << std::optional<QString>();
        QTest::newRow("inside a line, in the e-mail and after it: the first")
            << report("<data/>", "x----Xu02=$", "----Xu02=$") << std::optional(u"email"_qs);
        QTest::newRow("in a part without a name")
            << QList<FormPart>{FormPart::text(QString(), u"----Xu02=$"_qs)} << std::optional(QString());
    }

    void partHoldingDelimiter()
    {
        QFETCH(QList<FormPart>, parts);
        QTEST(::partHoldingDelimiter(parts), "holding");
    }

    // The answer's kinds and a round trip are fuzz_transaction_list's; these rows pin the record rules.
    void transactionList_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QList<TransactionEntry>>("entries");
        QTest::newRow("records without ;; or numeric id are skipped")
            << u"Checkout\r\nx1;;Bad\r\n;;Empty id\r\n3;;Three\r\n"_qs
            << QList<TransactionEntry>{{3, u"Three"_qs}};
        QTest::newRow("fields after the name, signs, empty name")
            << u"-4;;Minus;;extra\r\n+9;;\r\n 8 ;;Spaced\r\n"_qs
            << QList<TransactionEntry>{{-4, u"Minus"_qs}, {9, QString()}, {8, u"Spaced"_qs}};
        QTest::newRow("ids beyond 32 bits are skipped")
            << u"2147483647;;Max\r\n2147483648;;Over\r\n-2147483648;;Min\r\n-2147483649;;Under\r\n"_qs
            << QList<TransactionEntry>{{2147483647, u"Max"_qs}, {-2147483647 - 1, u"Min"_qs}};
    }

    void transactionList()
    {
        QFETCH(QString, answer);
        QTEST(parseTransactionList(answer).entries, "entries");
    }

    void successAnswer()
    {
        for (const char* answer : {"OK", "OK Transaction uploaded"})
            QVERIFY(isSuccessAnswer(QString::fromLatin1(answer)));
        for (const char* answer : {"ok", "Error: no", "\tOK"})
            QVERIFY(!isSuccessAnswer(QString::fromLatin1(answer)));
    }

    // The request line, the headers and the body, byte for byte.
    void requestOnTheWire_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QList<FormPart>>("parts"); // none: GET
        QTest::addColumn<QByteArray>("requestLine");
        QTest::addColumn<QByteArray>("body");
        const QString file = u"/tmp/recorder.xml"_qs;
        const QList<FormPart> none;
        // Only what cannot stand in a request line is escaped (& % + = go as typed);
        // line breaks cannot split the request.
        QTest::newRow("list") << listObjectPath(u"J\u00fc\u20ac d\r\nX: 1"_qs, u"k&1%2B=b#c"_qs) << none
                              << QByteArray("GET /uploadtrans.php?username=J%FC%80%20d%0D%0AX:%201"
                                            "&key=k&1%2B=b%23c HTTP/1.1")
                              << QByteArray();
        QTest::newRow("report") << reportObjectPath()
                                << reportParts(file, knownFile, u"Ann \u00e9"_qs, u"a@b.c"_qs, QString(),
                                               u"line 1\r\nline 2"_qs)
                                << QByteArray("POST /uploadtrans.php?report=problem HTTP/1.1")
                                << filePart(file.toLatin1(), knownFile) + textPart("name", "Ann \xe9") +
                                       textPart("email", "a@b.c") + textPart("user", "") +
                                       textPart("description", "line 1\r\nline 2") + "----Xu02=$--";
        // Mode 0, above the size at which HTTP clients ask for "100-continue" first.
        QTest::newRow("large upload, mode 0")
            << uploadObjectPath(UploadMode::Performance, 0) << uploadParts(file, knownFile.repeated(12000))
            << QByteArray("POST /uploadtrans.php HTTP/1.1")
            << uploadBody(file.toLatin1(), knownFile.repeated(12000));
    }

    void requestOnTheWire()
    {
        QFETCH(QString, path);
        QFETCH(QList<FormPart>, parts);
        QFETCH(QByteArray, requestLine);
        QFETCH(QByteArray, body);
        RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK");
        QString response;
        QString error;
        const bool post = !parts.isEmpty();
        QVERIFY2(exchange(server.host, &response, &error, {}, QLatin1String(post ? "POST" : "GET"), path,
                          buildFormBody(parts)),
                 qPrintable(error));
        QCOMPARE(response, u"OK"_qs);
        const QByteArray raw = server.request();
        const qsizetype headersEnd = raw.indexOf("\r\n\r\n");
        QList<QByteArray> lines = raw.left(headersEnd).split('\n');
        for (QByteArray& line : lines)
            line = line.trimmed();
        QCOMPARE(lines.takeFirst(), requestLine);
        QList<QByteArray> headers{"Host: " + server.host, "User-Agent: Tallyro Recorder"};
        if (post)
            headers << "Content-Length: " + QByteArray::number(body.size())
                    << "Content-Type: multipart/form-data; boundary=--Xu02=$";
        std::sort(headers.begin(), headers.end());
        std::sort(lines.begin(), lines.end());
        QCOMPARE(lines, headers);
        QCOMPARE(raw.mid(headersEnd + 4), body);
    }

    // Any status: the answer's body, trimmed of spaces, in the code page. Too
    // large, too slow or none: no answer, and why.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("server");
        QTest::addColumn<int>("piece");
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<qint64>("limitBytes"); // 0: the usual one
        QTest::addColumn<int>("totalMs");       // 0: the usual one
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("response"); // "too large", "timed out", "no answer": none
        const qint64 mb = 1024 * 1024;
        const QString tooLarge = u"too large"_qs;
        QTest::newRow("only spaces") << QByteArray("     ") << int(Length) << 700 << 0 << 0LL << 0 << 200
                                     << QString();
        QTest::newRow("spaces trimmed, tabs and line breaks kept, code page, an error status")
            << QByteArray("  \tCaf\xe9 \x80\r\n  ") << int(Length) << 700 << 0 << 0LL << 0 << 500
            << u"\tCaf\u00e9 \u20ac\r\n"_qs;
        QTest::newRow("50 MB with its length")
            << letters(50 * mb) << int(Length) << 65536 << 0 << 0LL << 0 << 200 << tooLarge;
        QTest::newRow("50 MB until the connection closes")
            << letters(50 * mb) << int(UntilClose) << 65536 << 0 << 0LL << 0 << 200 << tooLarge;
        QTest::newRow("the usual limit exactly, chunked") << letters(mb) << int(Chunked) << 1000 << 0 << 0LL
                                                          << 0 << 200 << QString::fromLatin1(letters(mb));
        QTest::newRow("a byte over a lowered limit, until the connection closes")
            << letters(4097) << int(UntilClose) << 1000 << 0 << 4096LL << 0 << 200 << tooLarge;
        QTest::newRow("slow, within the total time")
            << letters(40) << int(Length) << 4 << 50 << 0LL << 0 << 200 << QString::fromLatin1(letters(40));
        QTest::newRow("slow, beyond a lowered total time")
            << letters(400) << int(Length) << 4 << 50 << 0LL << 1500 << 200 << u"timed out"_qs;
        QTest::newRow("never answers")
            << QByteArray() << int(Silent) << 0 << 0 << 0LL << 1500 << 200 << u"timed out"_qs;
        for (const auto& [name, server] :
             {std::pair{"unknown host", UnknownHost}, {"closes without answering", Closes}})
            QTest::newRow(name) << QByteArray() << int(server) << 0 << 0 << 0LL << 1500 << 200
                                << u"no answer"_qs;
    }

    void answers()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, server);
        QFETCH(int, piece);
        QFETCH(int, pauseMs);
        QFETCH(qint64, limitBytes);
        QFETCH(int, totalMs);
        QFETCH(int, status);
        QFETCH(QString, response);
        const QByteArray answer = server <= Chunked ? httpAnswer(body, Server(server), status, piece) : "";
        RawServer raw(answer, server <= Closes, piece, pauseMs);
        const QByteArray host = server == UnknownHost ? QByteArray("host.invalid") : raw.host;
        ExchangeLimits limits;
        limits.answerBytes = limitBytes > 0 ? limitBytes : limits.answerBytes;
        limits.total = totalMs > 0 ? std::chrono::milliseconds(totalMs) : limits.total;
        QElapsedTimer timer;
        timer.start();
        QString received = u"stale"_qs;
        QString error = u"stale"_qs;
        const bool reached = exchange(host, &received, &error, limits);
        // Far within the usual minute, however much the server had to send.
        QVERIFY2(timer.elapsed() < 10'000, qPrintable(QString::number(timer.elapsed())));
        if (response != u"too large" && response != u"timed out" && response != u"no answer") {
            QVERIFY2(reached, qPrintable(error));
            QVERIFY(received == response);
            QCOMPARE(error, QString());
            return;
        }
        QVERIFY(!reached);
        QCOMPARE(received, QString());
        QVERIFY(!error.isEmpty());
        if (response == u"timed out")
            QVERIFY2(error.contains(response, Qt::CaseInsensitive), qPrintable(error));
        if (response != u"too large")
            return;
        QCOMPARE(error, answerTooLargeText(limits.answerBytes));
        // The rest was not read: the server could not send it all. (Sockets hold a
        // few megabytes in flight, so only a far larger answer shows it.)
        const qint64 sent = raw.finish();
        if (body.size() > 20 * 1024 * 1024)
            QVERIFY2(sent < answer.size(), qPrintable(QString::number(sent)));
    }

    // A text too long for the screen: its beginning and a note of what was left
    // out, in a box that fits. (Short texts show whole; tst_service_windows compares them.)
    void longMessageFitsTheScreen_data()
    {
        QTest::addColumn<QString>("text");
        const qsizetype mb = 1024 * 1024;
        QString lines;
        for (int i = 0; lines.size() < mb; ++i)
            lines += u"Line %1 of the answer, as a web server's error page might hold it.\r\n"_qs.arg(i);
        QTest::newRow("a megabyte of lines") << lines;
        QTest::newRow("a megabyte without a break") << QString(mb, u'x');
        QTest::newRow("wide characters") << QString(200'000, QChar(0x6f22));
        QTest::newRow("characters beyond 16 bits") << u"\U0001F600"_qs.repeated(100'000);
    }

    void longMessageFitsTheScreen()
    {
        QFETCH(QString, text);
        MessageBoxCatcher boxes;
        BoxGeometry geometry;
        messagebox::show(nullptr, QMessageBox::Critical, u"Upload Status"_qs, text);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(geometry.seen.size(), 1);
        const BoxGeometry::Seen box = geometry.seen.last();
        QCOMPARE(box.text, boxes.last().text);
        // The box and its OK button stand within the screen's usable area.
        QVERIFY(box.available.contains(box.frame));
        QVERIFY(box.okShown && !box.okButton.isEmpty() && box.frame.contains(box.okButton));
        // Words too wide for the box may hold zero-width spaces, where they wrap.
        const QString shown = QString(box.text).remove(QChar(0x200B));
        // The text's beginning and a note counting what was left out.
        static const QRegularExpression count(u"(\\d+) more characters"_qs);
        const QRegularExpressionMatch match = count.match(shown.section(u'\n', -1));
        QVERIFY2(match.hasMatch(), qPrintable(shown.right(200)));
        const qsizetype leftOut = match.captured(1).toLongLong();
        QVERIFY(leftOut > 0 && leftOut < text.size());
        const QString kept = text.left(text.size() - leftOut);
        QCOMPARE(shown, kept + u"\n\n"_qs + messagebox::cutTextNote(leftOut));
        QVERIFY(!kept.back().isHighSurrogate());
        QVERIFY(box.frame.height() > box.available.height() / 4); // a screenful, not a few lines
    }
};

QTEST_MAIN(TestService)
#include "tst_service.moc"
