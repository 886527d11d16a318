#include "CodePage.h"
#include "Files.h"
#include "HarFile.h"
#include "StepStore.h"

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
    return {url, codepage::fromAnsi(body), {}, {}, {}, {}, {}, {}, {}, {}, std::nullopt};
}

// Every settings field with a value of its own.
RecordedStep withSettings(RecordedStep s, int n)
{
    const QString i = QString::number(n);
    s.keywords = u"Welcome "_qs + i;
    s.errors = u"Error|Fehler "_qs + i;
    s.cookies = u"sid="_qs + i;
    s.httpuser = u"user"_qs + i;
    s.httppass = u"p\u00e4ss\""_qs + i;
    s.timeout = QString::number(40 + n);
    s.ping = u"Y"_qs;
    s.label = u"Step \u00ab"_qs + i + u"\u00bb"_qs;
    return s;
}

QByteArray entriesHar(const QJsonArray& entries)
{
    const QJsonObject log{{u"version"_qs, u"1.2"_qs}, {u"entries"_qs, entries}};
    return QJsonDocument(QJsonObject{{u"log"_qs, log}}).toJson();
}

// A page load as a browser logs it, with the given post data object.
QJsonObject pageLoad(const QString& url, const QJsonValue& postData = {})
{
    QJsonObject request{{u"method"_qs, postData.isUndefined() ? "GET" : "POST"}, {u"url"_qs, url}};
    if (!postData.isUndefined())
        request.insert(u"postData"_qs, postData);
    return {{u"_resourceType"_qs, u"document"_qs}, {u"request"_qs, request}};
}

} // namespace

class TestHar : public QObject
{
    Q_OBJECT
private slots:
    void schema_data()
    {
        QTest::addColumn<QByteArray>("har");
        QTest::addColumn<bool>("valid");
        const QList<RecordedStep> steps{withSettings(step("https://a.test/?a=1&b=%20"), 1),
                                        step("http://a.test/login", "user=x&pass=%C3%A9"),
                                        step("http://a.test/raw", "a=\xE9\x80 b\r\n")};
        QTest::newRow("results of some steps") << harBytes(steps, {{200, 812}, {302, 0}}, started) << true;
        QTest::newRow("no steps, no start time") << harBytes({}, {}, QDateTime()) << true;

        // The check itself: it must refuse what DevTools refuses (here: responses without content).
        QByteArray noContent = harBytes(steps, {}, started);
        QTest::newRow("content missing (refused)")
            << noContent.replace("\"content\":", "\"contents\":") << false;
    }

    // The export passes the HAR 1.2 JSON schema and DevTools' import checks.
    void schema()
    {
        QFETCH(QByteArray, har);
        QFETCH(bool, valid);
        const QString node = QStandardPaths::findExecutable(u"node"_qs);
        QVERIFY2(!node.isEmpty(), "node is missing: run scripts/install-deps.sh");
        QVERIFY2(QFile::exists(QFileInfo(validator).dir().filePath(u"node_modules/har-schema"_qs)),
                 "tools/har-schema is not installed: run scripts/install-deps.sh");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"export.har"_qs);
        QVERIFY(writeFile(path, har));
        QProcess check;
        check.start(node, {validator, path});
        QVERIFY(check.waitForFinished(30000));
        QVERIFY2((check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0) == valid,
                 check.readAllStandardError().constData());
    }

    // What a file gives: only the page loads of a browser's HAR become steps, with
    // the bytes it sent; an exported one comes back whole; a bad file leaves the
    // store as it was, with a message; a partly bad one gives what could be read.
    void import_data()
    {
        QTest::addColumn<QByteArray>("har");
        QTest::addColumn<int>("before"); // steps in the store before the import
        QTest::addColumn<bool>("read");
        QTest::addColumn<QList<RecordedStep>>("added");
        QTest::addColumn<QString>("message"); // a part of the message
        const QList<RecordedStep> none;

        QTest::newRow("chrome devtools")
            << readFile(harDir + u"chrome-devtools.har"_qs) << 0 << true
            << QList{step("https://shop.example.test/login?next=%2Faccount"),
                     step("https://shop.example.test/login",
                          "user=anna%40example.test&pass=s%C3%A9same&remember=on"),
                     step("https://ads.example.test/frame.html?slot=3")}
            << u"3 steps added. 8 requests were not page loads. 1 page "
               "load followed a server redirect (the step before it "
               "makes it)."_qs;
        QTest::newRow("firefox")
            << readFile(harDir + u"firefox.har"_qs) << 0 << true
            << QList{step("https://forum.example.test/"),
                     step("https://forum.example.test/post", "subject=Caf\xC3\xA9\r\nbody=two words\r\n"),
                     step("https://forum.example.test/embed/map"),
                     step("http://legacy.example.test/news.html")}
            << u"4 steps added. 4 requests were not page loads. 1 page load was not of a web or ftp "
               "address. 1 page load had binary, base64 or multipart post data and was skipped."_qs;
        // Recorded with tools/har-schema/record-chromium-har.js.
        const QString site = u"http://127.0.0.1:47913"_qs;
        QTest::newRow("playwright, chromium")
            << readFile(harDir + u"playwright-chromium.har"_qs) << 0 << true
            << QList{step(site + "/"), step(site + "/frame.html?slot=3"),
                     step(site + "/login", "user=anna%40example.test&pass=s%C3%A9same+%26+co"),
                     step(site + "/notes"),
                     step(site + "/notes", "subject=Caf\xC3\xA9\r\nbody=two words\r\n")}
            << u"5 steps added. 5 requests were not page loads. 1 page load followed a server "
               "redirect (the step before it makes it)."_qs;

        // An export: an address with a query and a fragment, and a body of each kind
        // the export writes (a form it lists as fields, text it cannot list, bytes
        // that are not UTF-8 text), with every setting or none. Other steps' round
        // trip is fuzz_har_import's.
        QByteArray bytes("a=\0\x01\x7F&", 6);
        for (int b = 0x80; b <= 0xFF; ++b)
            bytes += static_cast<char>(b);
        const QList<RecordedStep> steps{
            withSettings(step("https://a.test/search?q=caf%C3%A9&x=a+b#top"), 1),
            withSettings(step("http://a.test/login", "user=anna%40mail.test&pass=s%C3%A9same%21&x=%2B+%25"),
                         2),
            step("http://a.test/p", "a=%7e&b=%20&c=!&&d"),
            withSettings(
                step("ftp://files.test/pub/", "subject=Hi there\r\nbody=Caf\xC3\xA9 \xE2\x82\xAC\r\n"), 3),
            step("http://a.test/raw", bytes)};
        QTest::newRow("export") << harBytes(steps, {}, started) << 0 << true << steps << u"5 steps added."_qs;

        // The body is the bytes the browser sent, however the file holds them.
        const auto post = [](const QJsonValue& postData) {
            return entriesHar({pageLoad(u"https://a.test/"_qs, postData)});
        };
        const QString form = u"application/x-www-form-urlencoded"_qs;
        const QJsonArray fields{QJsonObject{{u"name"_qs, "q"}, {u"value"_qs, "a b&\u00e9"}},
                                QJsonObject{{u"name"_qs, "n"}, {u"value"_qs, ""}}};
        const QList<RecordedStep> fieldsBody{step("https://a.test/", "q=a+b%26%C3%A9&n=")};
        QTest::newRow("fields only") << post(QJsonObject{{u"mimeType"_qs, form + "; charset=UTF-8"},
                                                         {u"params"_qs, fields}})
                                     << 0 << true << fieldsBody << u"1 step added."_qs;
        // Playwright, when it leaves bodies out.
        QTest::newRow("empty text, fields kept")
            << post(QJsonObject{{u"mimeType"_qs, form}, {u"text"_qs, QString()}, {u"params"_qs, fields}}) << 0
            << true << fieldsBody << u"1 step added."_qs;
        QTest::newRow("empty text") << post(QJsonObject{{u"mimeType"_qs, form}, {u"text"_qs, QString()}}) << 0
                                    << true << QList{step("https://a.test/")} << u"1 step added."_qs;

        const QByteArray good =
            harBytes({step("https://b.test/1"), step("https://b.test/2", "a=1")}, {}, started);
        QTest::newRow("cut short") << good.left(good.size() / 2) << 1 << false << none << "cut short";
        QTest::newRow("log a string") << QByteArray("{\"log\":\"x\"}") << 1 << false << none << "no \"log\"";
        QTest::newRow("entries an object")
            << QByteArray("{\"log\":{\"entries\":{}}}") << 1 << false << none << "no \"entries\"";
        QTest::newRow("no entries") << entriesHar({}) << 1 << true << none << "holds no requests";
        QTest::newRow("entries of the wrong type")
            << entriesHar({1, u"x"_qs, QJsonObject{{u"request"_qs, u"GET /"_qs}},
                           QJsonObject{{u"request"_qs, QJsonObject{{u"url"_qs, 5}}}},
                           pageLoad(u"https://a.test/ok"_qs)})
            << 0 << true << QList{step("https://a.test/ok")} << "4 requests could not be read";
        QTest::newRow("post data a string") << post(u"a=1"_qs) << 0 << true << none << "could not be read";
        QTest::newRow("text a number")
            << post(QJsonObject{{u"text"_qs, 12}}) << 0 << true << none << "could not be read";
        QTest::newRow("base64 body") << post(
                                            QJsonObject{{u"text"_qs, u"YT0x"_qs}, {u"encoding"_qs, "base64"}})
                                     << 0 << true << none
                                     << "1 page load had binary, base64 or multipart post data";
        QTest::newRow("base64 param")
            << post(QJsonObject{{u"mimeType"_qs, form},
                                {u"params"_qs,
                                 QJsonArray{QJsonObject{
                                     {u"name"_qs, "a"}, {u"value"_qs, "YQ=="}, {u"encoding"_qs, "base64"}}}}})
            << 0 << true << none << "binary, base64";
        QTest::newRow("undecodable text") << post(QJsonObject{{u"text"_qs, u"\u0089PNG\ufffd\ufffd"_qs}}) << 0
                                          << true << none << "binary, base64";
        QTest::newRow("not web addresses")
            << entriesHar({pageLoad(u"about:blank"_qs), pageLoad(u"file:///etc/passwd"_qs),
                           pageLoad(u"httpx://a.test/"_qs)})
            << 0 << true << none << "3 page loads were not of web or ftp addresses";
        QTest::newRow("all duplicates") << harBytes({step("https://a.test/0")}, {}, started) << 1 << true
                                        << none << "1 step was a duplicate.";
        QTest::newRow("store nearly full")
            << good << 149 << true << QList{step("https://b.test/1")} << "full (150 steps): 1 step not added";
    }

    void import()
    {
        QFETCH(QByteArray, har);
        QFETCH(int, before);
        QFETCH(QString, message);
        StepStore store;
        for (int i = 0; i < before; ++i)
            store.addURL(u"https://a.test/%1"_qs.arg(i), {});
        const QList<RecordedStep> old = store.steps();
        const HarImport result = importHar(har, store);
        QTEST(result.read, "read");
        QCOMPARE(store.steps().mid(0, before), old);
        QTEST(store.steps().mid(before), "added");
        QVERIFY2(result.message.contains(message), qPrintable(result.message));
    }

    // A file over the limit is refused from its size, before any of it is read.
    void largeFileRefusedUnread()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(u"big.har"_qs));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(harBytes({step("https://a.test/")}, {}, started)) > 0);
        QVERIFY(file.resize(harMaxFileSize + 1)); // sparse: costs no disk
        file.close();
        StepStore store;
        const HarImport result = importHarFile(file.fileName(), store);
        QVERIFY(!result.read);
        QCOMPARE(store.count(), 0);
        QCOMPARE(result.message, u"The file is larger than 100 MB and was not read."_qs);
    }
};

QTEST_GUILESS_MAIN(TestHar)
#include "tst_har.moc"
