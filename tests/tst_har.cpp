#include "CodePage.h"
#include "HarFile.h"
#include "StepStore.h"
#include "TransactionFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString harDir = QStringLiteral(TALLYRO_TEST_DATA_DIR "/har/");
const QString validator = QStringLiteral(TALLYRO_TEST_DATA_DIR "/../../tools/har-schema/validate.js");
const QDateTime started(QDate(2026, 12, 7), QTime(9, 30, 0), Qt::UTC);

RecordedStep step(const QString& url, const QByteArray& body = {})
{
    RecordedStep s;
    s.url = url;
    s.postdata = codepage::fromAnsi(body);
    return s;
}

// Every settings field with a value of its own.
RecordedStep withSettings(RecordedStep s, int n)
{
    const QString i = QString::number(n);
    s.keywords = QStringLiteral("Welcome ") + i;
    s.errors = QStringLiteral("Error|Fehler ") + i;
    s.cookies = QStringLiteral("sid=") + i;
    s.httpuser = QStringLiteral("user") + i;
    s.httppass = QStringLiteral("p\u00e4ss\"") + i;
    s.timeout = QString::number(40 + n);
    s.ping = QStringLiteral("Y");
    s.label = QStringLiteral("Step \u00ab") + i + QStringLiteral("\u00bb");
    return s;
}

QList<RecordedStep> stepsOf(const StepStore& store)
{
    return store.steps();
}

QByteArray entriesHar(const QJsonArray& entries)
{
    const QJsonObject log{{QStringLiteral("version"), QStringLiteral("1.2")},
                          {QStringLiteral("entries"), entries}};
    return QJsonDocument(QJsonObject{{QStringLiteral("log"), log}}).toJson();
}

// A page load as a browser logs it, with the given post data object.
QJsonObject pageLoad(const QString& url, const QJsonValue& postData = {})
{
    QJsonObject request{{QStringLiteral("method"), postData.isUndefined() ? "GET" : "POST"},
                        {QStringLiteral("url"), url}};
    if (!postData.isUndefined())
        request.insert(QStringLiteral("postData"), postData);
    return {{QStringLiteral("_resourceType"), QStringLiteral("document")},
            {QStringLiteral("request"), request}};
}

QByteArray manyPageLoads(int count)
{
    QJsonArray entries;
    for (int i = 0; i < count; ++i)
        entries.append(pageLoad(QStringLiteral("https://many.test/%1").arg(i)));
    return entriesHar(entries);
}

} // namespace

class TestHar : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void schema_data();
    void schema();
    void browserFiles_data();
    void browserFiles();
    void postDataShapes_data();
    void postDataShapes();
    void badInput_data();
    void badInput();
    void largeFileRefusedUnread();
};

void TestHar::roundTrip_data()
{
    QTest::addColumn<QList<RecordedStep>>("steps");
    QByteArray high;
    for (int b = 0x80; b <= 0xFF; ++b)
        high += static_cast<char>(b);

    QTest::newRow("get, query, fragment") << QList{step("https://a.test/search?q=caf%C3%A9&x=a+b#top")};
    QTest::newRow("form with escapes")
        << QList{step("http://a.test/login", "user=anna%40mail.test&pass=s%C3%A9same%21&x=%2B+%25")};
    QTest::newRow("escapes the form writer would not write")
        << QList{step("http://a.test/p", "a=%7e&b=%20&c=!&&d")};
    QTest::newRow("raw bytes >= 0x80") << QList{step("http://a.test/p", "name=J\xFCrgen&all=" + high)};
    QTest::newRow("utf-8 bytes") << QList{step("http://a.test/p", "name=Caf\xC3\xA9 \xE2\x82\xAC")};
    QTest::newRow("text/plain style") << QList{step("http://a.test/p", "subject=Hi there\r\nbody=a&b=c\r\n")};
    QTest::newRow("NUL and control bytes") << QList{step("http://a.test/p", QByteArray("a=\0\x01\x7F", 6))};
    QTest::newRow("json body") << QList{step("https://a.test/api", "{\"k\":[1,2]}")};
    QTest::newRow("every setting, several steps") << QList{
        withSettings(step("https://a.test/"), 1), withSettings(step("https://a.test/login", "u=a&p=b"), 2),
        withSettings(step("ftp://files.test/pub/"), 3), step("http://a.test/plain")};
}

// Export then import gives the same steps, and so the same transaction file.
void TestHar::roundTrip()
{
    QFETCH(QList<RecordedStep>, steps);
    StepStore store;
    const HarImport result = importHar(harBytes(steps, {}, started), store);
    QVERIFY2(result.read, qPrintable(result.message));
    QCOMPARE(result.added, steps.size());
    QCOMPARE(stepsOf(store), steps);
    const AccountCredentials account{QStringLiteral("me"), QStringLiteral("key")};
    QCOMPARE(transactionFileBytes(store.steps(), account), transactionFileBytes(steps, account));
}

void TestHar::schema_data()
{
    QTest::addColumn<QByteArray>("har");
    QTest::addColumn<bool>("valid");
    const QList<RecordedStep> steps{withSettings(step("https://a.test/?a=1&b=%20"), 1),
                                    step("http://a.test/login", "user=x&pass=%C3%A9"),
                                    step("http://a.test/raw", "a=\xE9\x80 b\r\n")};
    QTest::newRow("no results") << harBytes(steps, {}, started) << true;
    QTest::newRow("some results") << harBytes(steps, {{200, 812}, {302, 0}}, started) << true;
    QTest::newRow("no steps") << harBytes({}, {}, started) << true;
    QTest::newRow("no start time") << harBytes(steps, {}, QDateTime()) << true;

    // The check itself: it must refuse what DevTools refuses.
    QJsonObject root = QJsonDocument::fromJson(harBytes(steps, {}, started)).object();
    QJsonObject log = root[QStringLiteral("log")].toObject();
    QJsonArray entries = log[QStringLiteral("entries")].toArray();
    QJsonObject entry = entries[0].toObject();
    QJsonObject response = entry[QStringLiteral("response")].toObject();
    response.remove(QStringLiteral("content"));
    entry[QStringLiteral("response")] = response;
    entries[0] = entry;
    log[QStringLiteral("entries")] = entries;
    root[QStringLiteral("log")] = log;
    QTest::newRow("content missing (refused)") << QJsonDocument(root).toJson() << false;
}

// The export passes the HAR 1.2 JSON schema and DevTools' import checks.
void TestHar::schema()
{
    QFETCH(QByteArray, har);
    QFETCH(bool, valid);
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    QVERIFY2(!node.isEmpty(), "node is missing: run scripts/install-deps.sh");
    QVERIFY2(QFile::exists(QFileInfo(validator).dir().filePath(QStringLiteral("node_modules/har-schema"))),
             "tools/har-schema is not installed: run scripts/install-deps.sh");
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("export.har")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(har) == har.size());
    file.close();
    QProcess check;
    check.start(node, {validator, file.fileName()});
    QVERIFY(check.waitForFinished(30000));
    QVERIFY2((check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0) == valid,
             check.readAllStandardError().constData());
}

void TestHar::browserFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<RecordedStep>>("expected");
    QTest::addColumn<QString>("message");

    QTest::newRow("chrome devtools") << QStringLiteral("chrome-devtools.har")
                                     << QList{step("https://shop.example.test/login?next=%2Faccount"),
                                              step("https://shop.example.test/login",
                                                   "user=anna%40example.test&pass=s%C3%A9same&remember=on"),
                                              step("https://ads.example.test/frame.html?slot=3")}
                                     << QStringLiteral("3 steps added. 8 requests were not page loads. 1 page "
                                                       "load followed a server redirect (the step before it "
                                                       "makes it).");
    QTest::newRow("firefox")
        << QStringLiteral("firefox.har")
        << QList{step("https://forum.example.test/"),
                 step("https://forum.example.test/post", "subject=Caf\xC3\xA9\r\nbody=two words\r\n"),
                 step("https://forum.example.test/embed/map"), step("http://legacy.example.test/news.html")}
        << QStringLiteral(
               "4 steps added. 4 requests were not page loads. 1 page load was not of a web or ftp "
               "address. 1 page load had binary, base64 or multipart post data and was skipped.");
    // Recorded with tools/har-schema/record-chromium-har.js.
    const QString site = QStringLiteral("http://127.0.0.1:47913");
    QTest::newRow("playwright, chromium")
        << QStringLiteral("playwright-chromium.har")
        << QList{step(site + "/"),
                 step(site + "/frame.html?slot=3"),
                 step(site + "/login", "user=anna%40example.test&pass=s%C3%A9same+%26+co"),
                 step(site + "/notes"),
                 step(site + "/notes", "subject=Caf\xC3\xA9\r\nbody=two words\r\n")}
        << QStringLiteral("5 steps added. 5 requests were not page loads. 1 page load followed a server "
                          "redirect (the step before it makes it).");
}

// Only the page loads of a browser's HAR become steps, with the bytes it sent.
void TestHar::browserFiles()
{
    QFETCH(QString, file);
    QFETCH(QList<RecordedStep>, expected);
    QFETCH(QString, message);
    StepStore store;
    const HarImport result = importHarFile(harDir + file, store);
    QCOMPARE(stepsOf(store), expected);
    QCOMPARE(result.message, message);
}

void TestHar::postDataShapes_data()
{
    QTest::addColumn<QJsonObject>("postData");
    QTest::addColumn<QByteArray>("body");
    const QString form = QStringLiteral("application/x-www-form-urlencoded");
    const QJsonArray fields{
        QJsonObject{{QStringLiteral("name"), "q"}, {QStringLiteral("value"), "a b&\u00e9"}},
        QJsonObject{{QStringLiteral("name"), "n"}, {QStringLiteral("value"), ""}}};
    QTest::newRow("text") << QJsonObject{{QStringLiteral("mimeType"), form},
                                         {QStringLiteral("text"), QStringLiteral("a=%41 \u00e9")}}
                          << QByteArray("a=%41 \xC3\xA9");
    QTest::newRow("fields only") << QJsonObject{{QStringLiteral("mimeType"), form + "; charset=UTF-8"},
                                                {QStringLiteral("params"), fields}}
                                 << QByteArray("q=a+b%26%C3%A9&n=");
    // Playwright, when it leaves bodies out.
    QTest::newRow("empty text, fields kept") << QJsonObject{{QStringLiteral("mimeType"), form},
                                                            {QStringLiteral("text"), QString()},
                                                            {QStringLiteral("params"), fields}}
                                             << QByteArray("q=a+b%26%C3%A9&n=");
    QTest::newRow("empty") << QJsonObject{{QStringLiteral("mimeType"), form},
                                          {QStringLiteral("text"), QString()}}
                           << QByteArray();
}

// The body is the bytes the browser sent, however the file holds them.
void TestHar::postDataShapes()
{
    QFETCH(QJsonObject, postData);
    QFETCH(QByteArray, body);
    StepStore store;
    QCOMPARE(importHar(entriesHar({pageLoad(QStringLiteral("https://a.test/"), postData)}), store).added, 1);
    QCOMPARE(codepage::toAnsi(store.at(0).postdata), body);
}

void TestHar::badInput_data()
{
    QTest::addColumn<QByteArray>("har");
    QTest::addColumn<int>("before"); // steps in the store before the import
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("added");
    QTest::addColumn<QString>("message"); // a part of the message

    const QByteArray good =
        harBytes({step("https://b.test/1"), step("https://b.test/2", "a=1")}, {}, started);
    const auto post = [](const QJsonValue& postData) {
        return entriesHar({pageLoad(QStringLiteral("https://a.test/"), postData)});
    };
    const QJsonObject form{{QStringLiteral("mimeType"), QStringLiteral("application/x-www-form-urlencoded")}};

    QTest::newRow("empty") << QByteArray() << 1 << false << 0 << "not JSON";
    QTest::newRow("not json") << QByteArray("GIF89a\x01\x00\xff", 9) << 1 << false << 0 << "not JSON";
    QTest::newRow("cut short") << good.left(good.size() / 2) << 1 << false << 0 << "cut short";
    QTest::newRow("array") << QByteArray("[1,2]") << 1 << false << 0 << "no \"log\"";
    QTest::newRow("log missing") << QByteArray("{\"entries\":[]}") << 1 << false << 0 << "no \"log\"";
    QTest::newRow("log a string") << QByteArray("{\"log\":\"x\"}") << 1 << false << 0 << "no \"log\"";
    QTest::newRow("entries an object")
        << QByteArray("{\"log\":{\"entries\":{}}}") << 1 << false << 0 << "no \"entries\"";
    QTest::newRow("deep nesting") << QByteArray(100000, '[') << 1 << false << 0 << "not JSON";
    QTest::newRow("no entries") << entriesHar({}) << 1 << true << 0 << "holds no requests";
    QTest::newRow("entries of the wrong type")
        << entriesHar({1, QStringLiteral("x"),
                       QJsonObject{{QStringLiteral("request"), QStringLiteral("GET /")}},
                       QJsonObject{{QStringLiteral("request"), QJsonObject{{QStringLiteral("url"), 5}}}},
                       pageLoad(QStringLiteral("https://a.test/ok"))})
        << 0 << true << 1 << "4 requests could not be read";
    QTest::newRow("post data a string")
        << post(QStringLiteral("a=1")) << 0 << true << 0 << "could not be read";
    QTest::newRow("text a number") << post(QJsonObject{{QStringLiteral("text"), 12}}) << 0 << true << 0
                                   << "could not be read";
    QTest::newRow("base64 body") << post(QJsonObject{{QStringLiteral("text"), QStringLiteral("YT0x")},
                                                     {QStringLiteral("encoding"), "base64"}})
                                 << 0 << true << 0 << "1 page load had binary, base64 or multipart post data";
    QTest::newRow("base64 param") << post(QJsonObject{
                                         {QStringLiteral("mimeType"), form[QStringLiteral("mimeType")]},
                                         {QStringLiteral("params"),
                                          QJsonArray{QJsonObject{{QStringLiteral("name"), "a"},
                                                                 {QStringLiteral("value"), "YQ=="},
                                                                 {QStringLiteral("encoding"), "base64"}}}}})
                                  << 0 << true << 0 << "binary, base64";
    QTest::newRow("undecodable text")
        << post(QJsonObject{{QStringLiteral("text"), QStringLiteral("\u0089PNG\ufffd\ufffd")}}) << 0 << true
        << 0 << "binary, base64";
    QTest::newRow("multipart text")
        << post(
               QJsonObject{{QStringLiteral("mimeType"), QStringLiteral("multipart/form-data; boundary=--x")},
                           {QStringLiteral("text"), QStringLiteral("----x\r\nContent-Disposition: form-data; "
                                                                   "name=\"a\"\r\n\r\n1\r\n----x--\r\n")}})
        << 0 << true << 0 << "multipart";
    QTest::newRow("not web addresses") << entriesHar({pageLoad(QStringLiteral("about:blank")),
                                                      pageLoad(QStringLiteral("file:///etc/passwd")),
                                                      pageLoad(QStringLiteral("httpx://a.test/"))})
                                       << 0 << true << 0 << "3 page loads were not of web or ftp addresses";
    QTest::newRow("all duplicates") << harBytes({step("https://a.test/0")}, {}, started) << 1 << true << 0
                                    << "1 step was a duplicate.";
    QTest::newRow("thousands of entries") << manyPageLoads(5000) << 0 << true << 150
                                          << "The transaction is full (150 steps): 4850 steps not added.";
    QTest::newRow("store nearly full") << good << 149 << true << 1 << "full (150 steps): 1 step not added";
}

// Bad files leave the store as it was, with a message; partly bad ones give what could be read.
void TestHar::badInput()
{
    QFETCH(QByteArray, har);
    QFETCH(int, before);
    QFETCH(bool, read);
    QFETCH(int, added);
    QFETCH(QString, message);
    StepStore store;
    for (int i = 0; i < before; ++i)
        store.addURL(QStringLiteral("https://a.test/%1").arg(i), {});
    const QList<RecordedStep> old = store.steps();
    const HarImport result = importHar(har, store);
    QCOMPARE(result.read, read);
    QCOMPARE(result.added, added);
    QCOMPARE(store.count(), before + added);
    QCOMPARE(store.steps().mid(0, before), old);
    QVERIFY2(result.message.contains(message), qPrintable(result.message));
}

// A file over the limit is refused from its size, before any of it is read.
void TestHar::largeFileRefusedUnread()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("big.har")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(harBytes({step("https://a.test/")}, {}, started)) > 0);
    QVERIFY(file.resize(harMaxFileSize + 1)); // sparse: costs no disk
    file.close();
    StepStore store;
    const HarImport result = importHarFile(file.fileName(), store);
    QVERIFY(!result.read);
    QCOMPARE(store.count(), 0);
    QCOMPARE(result.message, QStringLiteral("The file is larger than 100 MB and was not read."));
}

QTEST_GUILESS_MAIN(TestHar)
#include "tst_har.moc"
