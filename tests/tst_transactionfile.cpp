#include "CodePage.h"
#include "Credentials.h"
#include "Files.h"
#include "ProgramFolder.h"
#include "RecoveryFile.h"
#include "Steps.h"
#include "TransactionFile.h"
#include "TransactionImport.h"
#include "frmControlPanel.h"

#include <QtTest>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString notAll = u"Some steps were not imported to avoid duplicates"_qs;
const QString parserError =
    u"Cannot initialize XML parser. Please check if you have MSXML6.0 installed and registered correctly."_qs;
const RecordedStep oldStep =
    step(u"http://old.test/"_qs, {}, {}, {}, {}, {}, {}, {}, {}, u"recorded before"_qs);

// The import as Open applies it: a store with a step recorded before, the step
// editor showing it, the messages the import asks for.
struct Importer
{
    RecordingSession session;
    frmControlPanel editor{session};
    StepStore& store = session.store();
    bool recording = false;
    QStringList messages; // every message box, the store's limit box included

    Importer() { store.add(oldStep); }
    void run(const QString& path)
    {
        const TransactionImport result = importTransactionFile(path, store);
        recording = result.recording;
        editor.applyImport(result);
        for (const TransactionImport::Message& m : result.messages)
            messages << m.text;
    }
};

QByteArray document(const QList<QByteArray>& stepElements)
{
    return "<?xml version = '1.0'?>\r\n<data>\r\n<username>u</username>\r\n<key>k</key>\r\n"
           "<transaction>\r\n" +
           stepElements.join() + "</transaction>\r\n</data>\r\n";
}

// A plain step i in both forms: the file's text and the step it imports as.
QByteArray fileStep(int i)
{
    const QByteArray n = QByteArray::number(i);
    return "<step><id>1</id><url>http://site.test/p" + n + "</url><method>G</method><keywords>kw+" + n +
           "</keywords><errors>err" + n + "</errors><timeout>" + QByteArray::number(10 + i % 50) +
           "</timeout><ping>" + (i % 2 ? "Y" : "N") + "</ping><postdata>a=" + n +
           "</postdata><cookies>c=" + n + "</cookies><httpuser>user" + n + "</httpuser><httppass>pass" + n +
           "</httppass><label>Label+" + n + "</label></step>\r\n";
}

RecordedStep importedStep(int i)
{
    const QString n = QString::number(i);
    return step(u"http://site.test/p"_qs + n, u"a="_qs + n, u"kw "_qs + n, u"err"_qs + n, u"c="_qs + n,
                u"user"_qs + n, u"pass"_qs + n, QString::number(10 + i % 50), i % 2 ? u"Y"_qs : u"N"_qs,
                u"Label "_qs + n);
}

QString dataFile(const QString& name)
{
    return QStringLiteral(TALLYRO_TEST_DATA_DIR "/") + name;
}

// Every field set, text outside ASCII included (all of it in the code page, so
// the steps themselves survive too); the timeout is written without encoding.
QList<RecordedStep> fullSteps(int count)
{
    QString allBytes;
    for (int b = 1; b < 256; ++b)
        allBytes += codepage::fromAnsiCode(b);
    QList<RecordedStep> steps;
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(i);
        steps.append(step(u"https://www.example.test/caf\u00E9/p?i="_qs + n + u"&q=a b+c%"_qs,
                          i == 0 ? allBytes : u"name=J\u00F6rg+%26&n="_qs + n + u"\r\nx"_qs,
                          u"Welcome \"back\" <b> "_qs + n, u"Fehler \u00DF \u20AC "_qs + n,
                          u"sid="_qs + n + u"; lang=fr"_qs, u"us\u00E9r"_qs + n, u"p@ss'w\"d "_qs + n,
                          u"3\u00E9"_qs + n, i % 2 ? u"Y"_qs : u"N"_qs, u"Log in & go \u2014 "_qs + n));
    }
    return steps;
}

int fileMode(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Limits the size of files this process may write; writes beyond fail with EFBIG.
struct FileSizeLimit
{
    rlimit old{};
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    bool active = false;
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = bytes;
        active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
};

} // namespace

class TestTransactionFile : public QObject
{
    Q_OBJECT
private slots:
    // The writer's bytes, with nothing and with steps of every kind.
    void writerMatchesReference()
    {
        const RecordedStep login = step(u"http://shop.test/login?next=/cart&x=1"_qs, {}, u"Welcome back"_qs,
                                        {}, {}, {}, {}, {}, {}, u"Log in & go"_qs);
        const RecordedStep post = step(u"http://shop.test/login"_qs, u"user=j%40doe&pass=a+b"_qs,
                                       u"Caf\u00E9"_qs, u"<error>"_qs, u"sid=1; lang=en"_qs, u"bob"_qs,
                                       u"p\"w'd"_qs, u"45"_qs, u"Y"_qs, u"Cart \u2014 5 \u20AC"_qs);
        const RecordedStep ftp =
            step(u"ftp://files.test/a b.txt"_qs, u"x"_qs, {}, {}, {}, {}, {}, {}, u"N"_qs,
                 u"\u03A9"_qs); // the label is outside the code page
        QCOMPARE(transactionFileBytes({}, {}), readFile(dataFile(u"transaction-empty.xml"_qs)));
        QCOMPARE(transactionFileBytes({login, post, ftp}, {u"j<doe"_qs, u"K3y&\u00E9"_qs}),
                 readFile(dataFile(u"transaction-known.xml"_qs)));
    }

    // Open applied to a file: the messages, the steps then in the store (the old
    // step alone: the store untouched, Recording as it was) and the line selected.
    // The messages and the selection in general are fuzz_import's; these rows pin
    // where each value lands, and give paths and sizes fuzz_import cannot give.
    void import_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no file; "fifo": a named pipe
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QList<RecordedStep>>("steps");
        QTest::addColumn<int>("selected");
        // A full store as written, markup in the fields written without encoding.
        const QString markup = u"1<2 & 3>2 </timeout>&amp;"_qs;
        QList<RecordedStep> full = fullSteps(StepStore::capacity);
        for (RecordedStep& s : full)
            s.timeout += markup;
        QTest::newRow("a full store as written")
            << transactionFileBytes(full, {u"J\u00F6rg"_qs + markup, u"k\u00E9y"_qs + markup})
            << QStringList() << full << StepStore::capacity - 2;
        const QByteArray a = fileStep(1);
        const QByteArray b = fileStep(2);
        const RecordedStep ia = importedStep(1);
        const RecordedStep ib = importedStep(2);
        // Read by position, whatever the names: the fourth child fills the
        // keywords, here the post data moved up after the method.
        const QByteArray renamed =
            "<step><c0>1</c0><c1>http://m.test/</c1><c2>P</c2><c3>a=1</c3><c4>kw</c4>"
            "<c5>err</c5><c6>45</c6><c7>Y</c7><c8>c</c8><c9>u</c9><c10>p</c10><c11>L</c11></step>";
        const RecordedStep m = step(u"http://m.test/"_qs, u"Y"_qs, u"a=1"_qs, u"kw"_qs, u"c"_qs, u"u"_qs,
                                    u"p"_qs, u"err"_qs, u"45"_qs, u"L"_qs);
        QTest::newRow("read by position, the step before the last selected")
            << document({renamed, b, fileStep(3)}) << QStringList()
            << QList<RecordedStep>{m, ib, importedStep(3)} << 1;
        // a's file text with values replaced.
        const auto aWith = [&](const QList<std::pair<QByteArray, QByteArray>>& edits) {
            QByteArray xml = a;
            for (const auto& [from, to] : edits)
                xml.replace(from, to);
            return xml;
        };
        // The first step keeps the ping it read; the last one gets what the
        // editor's selector showed for it, which the closing commit writes back.
        RecordedStep ilower = ia;
        ilower.ping = u"y"_qs;
        RecordedStep iLast = ia;
        iLast.url = u"http://site.test/last"_qs;
        iLast.ping = u"N"_qs;
        QTest::newRow("lower-case ping")
            << document({aWith({{">Y<", ">y<"}}), b, aWith({{">Y<", ">y<"}, {"/p1<", "/last<"}})})
            << QStringList() << QList<RecordedStep>{ilower, ib, iLast} << 1;
        QTest::newRow("ping read raw for the selector, decoded for the step")
            << document({aWith({{">Y<", ">%59<"}}), b, aWith({{">Y<", ">%59<"}, {"/p1<", "/last<"}})})
            << QStringList() << QList<RecordedStep>{ia, ib, iLast} << 1;
        // A refused last element (the first one's address and post data): its values
        // stay in the editor and the closing commit writes them into the last step added.
        RecordedStep ibWithAgain = ia;
        ibWithAgain.url = ib.url;
        ibWithAgain.postdata = ib.postdata;
        ibWithAgain.label = u"again"_qs;
        QTest::newRow("last element refused")
            << document({a, b, aWith({{">Label+1<", ">again<"}})}) << QStringList{notAll}
            << QList<RecordedStep>{ia, ibWithAgain} << 1;
        QTest::newRow("extra children are ignored")
            << document({aWith({{"</label>", "</label><more>x</more>"}})}) << QStringList()
            << QList<RecordedStep>{ia} << -1;
        // Hand-edited: indentation, comments, a declaration, entities, CDATA and markup inside values.
        const RecordedStep e = step(u"http://e.test/?a=1&b=2"_qs, {}, u"Caf\u00E9"_qs, u"Caf\u00E9"_qs,
                                    u"a=<1>"_qs, u"user"_qs, u"<p>"_qs, u"30"_qs, u"N"_qs, u"Log in & go"_qs);
        QTest::newRow("hand-edited file")
            << readFile(dataFile(u"hand-edited.xml"_qs)) << QStringList() << QList<RecordedStep>{e} << -1;
        // The same saved by an editor as "Unicode": UTF-16 with a byte-order mark
        // (its one code-page letter read as such first).
        const QString handEdited =
            QString::fromUtf8(readFile(dataFile(u"hand-edited.xml"_qs)).replace("Caf\xE9<", "Caf\xC3\xA9<"));
        QTest::newRow("hand-edited file in UTF-16")
            << QByteArray("\xFF\xFE", 2) +
                   QByteArray(reinterpret_cast<const char*>(handEdited.utf16()), handEdited.size() * 2)
            << QStringList() << QList<RecordedStep>{e} << -1;
        // UTF-8 read as such wherever its bytes fall in a long value: in its first
        // eight bytes, across the eighth, and after the last eight.
        RecordedStep utf8 = ia;
        utf8.keywords = u"\u00E92345678ab"_qs;
        utf8.cookies = u"1234567\u00E9"_qs;
        utf8.errors = u"12345678abcdefgh\u00E9"_qs;
        QTest::newRow("UTF-8 in long values") << document({aWith({{"kw+1", "\xC3\xA9"
                                                                           "2345678ab"},
                                                                  {"c=1", "1234567\xC3\xA9"},
                                                                  {"err1", "12345678abcdefgh\xC3\xA9"}})})
                                              << QStringList() << QList<RecordedStep>{utf8} << -1;
        const QList<RecordedStep> untouched{oldStep};
        const QStringList open{u"Error opening file %path"_qs};
        QTest::newRow("missing file") << QByteArray() << open << untouched << -1;
        QTest::newRow("named pipe") << QByteArray("fifo") << open << untouched << -1; // any file not regular
        const auto broken = [](const char* name) { return readFile(dataFile(u"broken/"_qs + name)); };
        const RecordedStep plainA =
            step(u"http://a.test/"_qs, {}, {}, {}, {}, {}, {}, u"30"_qs, u"N"_qs, u"a"_qs);
        QTest::newRow("second step short")
            << broken("second-step-short.xml") << QStringList{parserError} << QList{plainA} << -1;
        RecordedStep unexpanded = plainA;
        unexpanded.label = u"&lol9;"_qs;
        QTest::newRow("entity definitions are not expanded")
            << broken("entity-expansion.xml") << QStringList() << QList{unexpanded} << -1;
        QList<QByteArray> elements;
        QList<RecordedStep> first;
        for (int i = 0; i < 100000; ++i)
            elements << fileStep(i);
        for (int i = 0; i < StepStore::capacity; ++i)
            first << importedStep(i);
        // The last element's settings go into the last step added, as above.
        first.last() = importedStep(elements.size() - 1);
        first.last().url = u"http://site.test/p149"_qs;
        first.last().postdata = u"a=149"_qs;
        QTest::newRow("100,000 step elements")
            << document(elements)
            << QStringList{u"Too many steps in a transaction...maximum = 150!"_qs, notAll} << first
            << StepStore::capacity - 1;
        constexpr int million = 1000000;
        RecordedStep deep = importedStep(0);
        deep.url = u"http://deep.test/"_qs;
        const QByteArray levels =
            QByteArray("<a>").repeated(million) + "http://deep.test/" + QByteArray("</a>").repeated(million);
        QTest::newRow("a million levels inside a value")
            << document({fileStep(0).replace("http://site.test/p0", levels)}) << QStringList() << QList{deep}
            << -1;
        constexpr qsizetype hundredMB = 100 * 1024 * 1024;
        RecordedStep big = importedStep(0);
        big.postdata = QString(hundredMB, u'a');
        QTest::newRow("a 100 MB value") << document({fileStep(0).replace("a=0", QByteArray(hundredMB, 'a'))})
                                        << QStringList() << QList{big} << -1;
    }

    void import()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, messages);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"in.xml"_qs);
        if (file == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); // nobody ever writes into it
        else if (!file.isNull())
            QVERIFY(writeFile(path, file));
        Importer target;
        target.run(path);
        QCOMPARE(target.messages, messages.replaceInStrings(u"%path"_qs, path));
        QTEST(target.store.steps(), "steps");
        QTEST(target.editor.selectedLine(), "selected");
        QCOMPARE(target.recording, target.store.steps() != QList{oldStep});
    }

    // Every writer, on success and on failure: the file is replaced whole or not at
    // all. A file the user chose keeps its permissions (a new one: its owner's alone)
    // and is written through a link; the program's own files holding the key end
    // their owner's alone in a folder of his alone, replacing a link in their place.
    void fileWrites_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<QString>("before"); // what stands at the path, or what makes the write fail
        QTest::addColumn<int>("mode");       // of the file afterwards; -1: the write fails
        for (const char* before : {"", "0644", "link"}) // the link is to a file of mode 0644
            QTest::addRow("chosen, %s", *before ? before : "new")
                << "chosen" << before << (*before ? 0644 : 0600);
        // A writer replaces a dangling link as it replaces one to a file: the "link" rows.
        for (const char* writer : {"own xml", "ini save", "recovery"}) {
            for (const char* before : {"", "0644", "link"})
                QTest::addRow("%s, %s", writer, *before ? before : "new") << writer << before << 0600;
        }
        // Reading creates a missing file empty; a dangling link is not followed.
        QTest::newRow("ini load, new") << u"ini load"_qs << QString() << 0600;
        QTest::newRow("ini load, dangling") << u"ini load"_qs << u"dangling"_qs << -1;
        // A write that fails part way (as on a full disk); a temporary file that
        // cannot be made (as in a folder without write permission, which does not
        // stop root) is the "parent is a file" rows'.
        QTest::newRow("chosen, write fails part way") << u"chosen"_qs << u"write fails part way"_qs << -1;
        for (const char* writer : {"chosen", "ini save", "ini load", "recovery"}) {
            for (const char* failure : {"path is a folder", "parent is a file"})
                QTest::addRow("%s, %s", writer, failure) << writer << failure << -1;
        }
    }

    void fileWrites()
    {
        QFETCH(QString, writer);
        QFETCH(QString, before);
        QFETCH(int, mode);
        QTemporaryDir dir;
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(u"data"_qs)));
        const mode_t umaskBefore = ::umask(0); // the modes come from the writers, not the umask
        const auto restoreUmask = qScopeGuard([&] { ::umask(umaskBefore); });
        const bool chosen = writer == u"chosen";
        const QString name = writer.startsWith(u"ini") ? u"recorder.ini"_qs
                             : writer == u"recovery"   ? u"recovery.dat"_qs
                                                       : u"recorder.xml"_qs;
        QString folder = chosen ? dir.filePath(u"f"_qs) : programFolder();
        QVERIFY(QDir().mkpath(folder));
        const QString elsewhere = dir.filePath(u"elsewhere.txt"_qs);
        const QByteArray old = "username=old\r\n# longer than what replaces it " + QByteArray(9000, 'x');
        if (before == u"parent is a file") {
            QVERIFY(writeFile(dir.filePath(u"plain"_qs), "x"));
            folder = dir.filePath(u"plain"_qs);
        }
        const QString path = folder + u'/' + name;
        if (before == u"link" || before == u"dangling") {
            if (before == u"link")
                QVERIFY(writeFile(elsewhere, old) &&
                        ::chmod(QFile::encodeName(elsewhere).constData(), 0644) == 0);
            QVERIFY(QFile::link(elsewhere, path));
        } else if (before == u"path is a folder") {
            QVERIFY(QDir().mkdir(path));
        } else if (before == u"0644") {
            QVERIFY(writeFile(path, old) && ::chmod(QFile::encodeName(path).constData(), 0644) == 0);
        }
        const QDir::Filters all =
            QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
        const QStringList entriesBefore = QDir(folder).entryList(all);
        const QByteArray contentBefore = readFile(path);
        const QList<RecordedStep> steps = fullSteps(150);
        const AccountCredentials account{u"jdoe"_qs, u"K3y"_qs};
        QByteArray bytes;
        QString error;
        bool ok = false;
        {
            std::optional<FileSizeLimit> limit;
            if (before == u"write fails part way")
                QVERIFY(limit.emplace(4096).active);
            if (writer == u"chosen" || writer == u"own xml") {
                bytes = transactionFileBytes(steps, account);
                ok = saveTransactionFile(path, bytes, &error);
            } else if (writer == u"recovery") {
                bytes = recoveryBytes(steps);
                ok = saveRecovery(path, steps, &error);
            } else { // the credentials file saved, or read (a new one stays empty)
                CredentialsFile ini(path);
                AccountCredentials fields;
                bool cSave = false;
                const bool save = writer == u"ini save";
                bytes = save ? iniFileBytes(account) : QByteArray();
                ok = save ? ini.SaveINIVariables(account) : ini.LoadINIVariables(fields, cSave);
                error = ini.errorString();
            }
        }
        if (mode < 0) {
            QVERIFY(!ok);
            QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
            QVERIFY2(error.size() > fileErrorMessage(path, QString()).size(), qPrintable(error)); // and why
            QCOMPARE(readFile(path), contentBefore);
            QCOMPARE(QDir(folder).entryList(all), entriesBefore);
            return;
        }
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(readFile(path), bytes);
        QCOMPARE(QDir(folder).entryList(all), QStringList{name});
        const bool throughLink = chosen && before == u"link";
        QCOMPARE(QFileInfo(path).isSymLink(), throughLink);
        QCOMPARE(fileMode(throughLink ? elsewhere : path), mode);
        if (before == u"link" && !chosen) // left as it was
            QCOMPARE(readFile(elsewhere), old);
        if (!chosen)
            QCOMPARE(fileMode(folder), 0700);
    }
};

QTEST_MAIN(TestTransactionFile)
#include "tst_transactionfile.moc"
