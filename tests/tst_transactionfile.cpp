#include "CodePage.h"
#include "Credentials.h"
#include "ProgramFolder.h"
#include "RecoveryFile.h"
#include "SmallDisk.h"
#include "TransactionFile.h"
#include "TransactionImport.h"
#include "frmControlPanel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString openError = QStringLiteral("Error opening file ");
const QString noSteps = QStringLiteral("No steps found");
const QString notAll = QStringLiteral("Some steps were not imported to avoid duplicates");
const QString parserError = QStringLiteral(
    "Cannot initialize XML parser. Please check if you have MSXML6.0 installed and registered correctly.");
const QString storeFull = QStringLiteral("Too many steps in a transaction...maximum = 150!");

RecordedStep oldStep()
{
    RecordedStep s;
    s.url = QStringLiteral("http://old.test/");
    s.label = QStringLiteral("recorded before");
    return s;
}

// The import as Open applies it: a store with a step recorded before, the step
// editor showing it, the messages the import asks for.
struct Importer
{
    RecordingSession session;
    frmControlPanel editor{session};
    StepStore& store = session.store();
    bool recording = false;
    QStringList messages; // every message box, the store's limit box included

    Importer() { store.add(oldStep()); }
    void run(const QString& path)
    {
        const TransactionImport result = importTransactionFile(path, store);
        recording = result.recording;
        editor.applyImport(result);
        for (const TransactionImport::Message& m : result.messages)
            messages << m.text;
    }
    int selected() const { return editor.selectedLine(); }
};

// Readable form of steps for comparisons.
QStringList describe(const QList<RecordedStep>& steps)
{
    QStringList lines;
    for (const RecordedStep& s : steps)
        lines << QStringList{s.url,  s.postdata, s.keywords, s.errors,   s.timeout,
                             s.ping, s.cookies,  s.httpuser, s.httppass, s.label}
                     .join(u'|');
    return lines;
}

// One step element's children as file text, in the writer's order.
struct FileStep
{
    QByteArray url;
    QByteArray postdata;
    QByteArray keywords;
    QByteArray errors;
    QByteArray timeout;
    QByteArray ping;
    QByteArray cookies;
    QByteArray httpuser;
    QByteArray httppass;
    QByteArray label;

    QByteArray xml() const
    {
        return "<step><id>1</id><url>" + url + "</url><method>G</method><keywords>" + keywords +
               "</keywords><errors>" + errors + "</errors><timeout>" + timeout + "</timeout><ping>" + ping +
               "</ping><postdata>" + postdata + "</postdata><cookies>" + cookies + "</cookies><httpuser>" +
               httpuser + "</httpuser><httppass>" + httppass + "</httppass><label>" + label +
               "</label></step>\r\n";
    }
};

QByteArray document(const QList<QByteArray>& stepElements)
{
    QByteArray xml = "<?xml version = '1.0'?>\r\n<data>\r\n<username>u</username>\r\n<key>k</key>\r\n"
                     "<transaction>\r\n";
    for (const QByteArray& element : stepElements)
        xml += element;
    return xml + "</transaction>\r\n</data>\r\n";
}

// A plain step i in both forms: the file's text and the step it imports as.
FileStep fileStep(int i)
{
    const QByteArray n = QByteArray::number(i);
    return {"http://site.test/p" + n, "a=" + n, "kw+" + n,  "err" + n,  QByteArray::number(10 + i % 50),
            i % 2 ? "Y" : "N",        "c=" + n, "user" + n, "pass" + n, "Label+" + n};
}

RecordedStep importedStep(int i)
{
    const QString n = QString::number(i);
    RecordedStep s;
    s.url = QStringLiteral("http://site.test/p") + n;
    s.postdata = QStringLiteral("a=") + n;
    s.keywords = QStringLiteral("kw ") + n;
    s.errors = QStringLiteral("err") + n;
    s.timeout = QString::number(10 + i % 50);
    s.ping = i % 2 ? QStringLiteral("Y") : QStringLiteral("N");
    s.cookies = QStringLiteral("c=") + n;
    s.httpuser = QStringLiteral("user") + n;
    s.httppass = QStringLiteral("pass") + n;
    s.label = QStringLiteral("Label ") + n;
    return s;
}

StepSettings settingsOf(const RecordedStep& s)
{
    return {s.keywords, s.errors, s.cookies, s.httpuser, s.httppass, s.timeout, s.ping, s.label};
}

RecordedStep withSettings(RecordedStep s, const StepSettings& from)
{
    s.keywords = from.keywords;
    s.errors = from.errors;
    s.cookies = from.cookies;
    s.timeout = from.timeout;
    s.ping = from.ping;
    s.httpuser = from.httpuser;
    s.httppass = from.httppass;
    s.label = from.label;
    return s;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString dataFile(const QString& name)
{
    return QStringLiteral(TALLYRO_TEST_DATA_DIR "/") + name;
}

// Every field set, text outside ASCII included (all of it in the code page, so
// the steps themselves survive too).
QList<RecordedStep> fullSteps(int count)
{
    QString allBytes;
    for (int b = 1; b < 256; ++b)
        allBytes += codepage::fromAnsiCode(b);
    QList<RecordedStep> steps;
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(i);
        RecordedStep s;
        s.url = QStringLiteral("https://www.example.test/caf\u00E9/p?i=") + n + QStringLiteral("&q=a b+c%");
        s.postdata =
            i == 0 ? allBytes : QStringLiteral("name=J\u00F6rg+%26&n=") + n + QStringLiteral("\r\nx");
        s.keywords = QStringLiteral("Welcome \"back\" <b> ") + n;
        s.errors = QStringLiteral("Fehler \u00DF \u20AC ") + n;
        s.timeout = QStringLiteral("3\u00E9") + n; // written without encoding
        s.ping = i % 2 ? QStringLiteral("Y") : QStringLiteral("N");
        s.cookies = QStringLiteral("sid=") + n + QStringLiteral("; lang=fr");
        s.httpuser = QStringLiteral("us\u00E9r") + n;
        s.httppass = QStringLiteral("p@ss'w\"d ") + n;
        s.label = QStringLiteral("Log in & go \u2014 ") + n;
        steps << s;
    }
    return steps;
}

int fileMode(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Marks a folder unwritable for this process, as root too (immutable flag).
// Returns false when neither works here.
bool makeUnwritable(const QString& folder, bool& immutable)
{
    immutable = false;
    const QByteArray native = QFile::encodeName(folder);
    if (::chmod(native.constData(), 0555) != 0)
        return false;
    const QString probe = folder + QStringLiteral("/probe");
    {
        QFile file(probe);
        if (!file.open(QIODevice::WriteOnly))
            return true;
    }
    QFile::remove(probe);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags |= FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    immutable = ok;
    return ok;
}

void makeWritable(const QString& folder, bool immutable)
{
    const QByteArray native = QFile::encodeName(folder);
    if (immutable) {
        const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        if (fd >= 0)
            ::close(fd);
    }
    ::chmod(native.constData(), 0755);
}

// Limits the size of files this process may write; writes beyond fail with EFBIG.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool active() const { return m_active; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};

} // namespace

class TestTransactionFile : public QObject
{
    Q_OBJECT
private slots:
    void writerMatchesReference_data();
    void writerMatchesReference();
    void writeImportWrite_data();
    void writeImportWrite();
    void import_data();
    void import();
    void importOutcomes_data();
    void importOutcomes();
    void fileWrites_data();
    void fileWrites();
};

void TestTransactionFile::writerMatchesReference_data()
{
    QTest::addColumn<QList<RecordedStep>>("steps");
    QTest::addColumn<AccountCredentials>("account");
    QTest::addColumn<QString>("reference");

    RecordedStep login;
    login.url = QStringLiteral("http://shop.test/login?next=/cart&x=1");
    login.keywords = QStringLiteral("Welcome back");
    login.label = QStringLiteral("Log in & go");

    RecordedStep post;
    post.url = QStringLiteral("http://shop.test/login");
    post.postdata = QStringLiteral("user=j%40doe&pass=a+b");
    post.keywords = QStringLiteral("Caf\u00E9");
    post.errors = QStringLiteral("<error>");
    post.timeout = QStringLiteral("45");
    post.ping = QStringLiteral("Y");
    post.cookies = QStringLiteral("sid=1; lang=en");
    post.httpuser = QStringLiteral("bob");
    post.httppass = QStringLiteral("p\"w'd");
    post.label = QStringLiteral("Cart \u2014 5 \u20AC");

    RecordedStep ftp;
    ftp.url = QStringLiteral("ftp://files.test/a b.txt");
    ftp.postdata = QStringLiteral("x");
    ftp.ping = QStringLiteral("N");
    ftp.label = QStringLiteral("\u03A9"); // outside the code page

    QTest::newRow("empty store") << QList<RecordedStep>{} << AccountCredentials{}
                                 << QStringLiteral("transaction-empty.xml");
    QTest::newRow("three steps") << QList<RecordedStep>{login, post, ftp}
                                 << AccountCredentials{QStringLiteral("j<doe"), QStringLiteral("K3y&\u00E9")}
                                 << QStringLiteral("transaction-known.xml");
}

void TestTransactionFile::writerMatchesReference()
{
    QFETCH(QList<RecordedStep>, steps);
    QFETCH(AccountCredentials, account);
    QFETCH(QString, reference);

    const QByteArray expected = readFile(dataFile(reference));
    QVERIFY(!expected.isEmpty());
    QCOMPARE(transactionFileBytes(steps, account), expected);
}

void TestTransactionFile::writeImportWrite_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("markup"); // put into every unencoded field
    QTest::newRow("150 steps") << 150 << QString();
    QTest::newRow("markup in the unencoded fields") << 3 << QStringLiteral("1<2 & 3>2 </timeout>&amp;");
}

void TestTransactionFile::writeImportWrite()
{
    QFETCH(int, count);
    QFETCH(QString, markup);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("t.xml"));
    const AccountCredentials account{QStringLiteral("J\u00F6rg") + markup,
                                     QStringLiteral("k\u00E9y 1") + markup};
    QList<RecordedStep> steps = fullSteps(count);
    for (RecordedStep& s : steps)
        s.timeout += markup;

    const QByteArray written = transactionFileBytes(steps, account);
    QString error;
    QVERIFY2(saveTransactionFile(path, written, &error), qPrintable(error));
    QCOMPARE(readFile(path), written);

    Importer target;
    target.run(path);
    QCOMPARE(target.messages, QStringList());
    QCOMPARE(describe(target.store.steps()), describe(steps));
    QCOMPARE(transactionFileBytes(target.store.steps(), account), written);
}

void TestTransactionFile::import_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QList<RecordedStep>>("steps");
    QTest::addColumn<int>("selected");

    const FileStep a = fileStep(1);
    const FileStep b = fileStep(2);
    const FileStep c = fileStep(3);
    const RecordedStep ia = importedStep(1);
    const RecordedStep ib = importedStep(2);
    const RecordedStep ic = importedStep(3);

    QTest::newRow("one step, nothing selected")
        << document({a.xml()}) << QStringList() << QList<RecordedStep>{ia} << -1;
    QTest::newRow("three steps, the one before the last selected")
        << document({a.xml(), b.xml(), c.xml()}) << QStringList() << QList<RecordedStep>{ia, ib, ic} << 1;

    {
        // Read by position, whatever the names: the fourth child fills the
        // keywords, here the post data moved up after the method.
        QByteArray renamed = "<step>";
        const QList<QByteArray> values{
            "1", "http://m.test/", "P", "a=1", "kw", "err", "45", "Y", "c", "u", "p", "L"};
        for (int i = 0; i < values.size(); ++i)
            renamed +=
                "<c" + QByteArray::number(i) + ">" + values.at(i) + "</c" + QByteArray::number(i) + ">";
        renamed += "</step>";
        RecordedStep m;
        m.url = QStringLiteral("http://m.test/");
        m.keywords = QStringLiteral("a=1");
        m.errors = QStringLiteral("kw");
        m.timeout = QStringLiteral("err");
        m.ping = QStringLiteral("45");
        m.postdata = QStringLiteral("Y");
        m.cookies = QStringLiteral("c");
        m.httpuser = QStringLiteral("u");
        m.httppass = QStringLiteral("p");
        m.label = QStringLiteral("L");
        QTest::newRow("read by position")
            << document({renamed, b.xml(), c.xml()}) << QStringList() << QList<RecordedStep>{m, ib, ic} << 1;
    }
    {
        FileStep bad = a;
        bad.keywords = "%zz";
        bad.label = "ok%4";
        bad.cookies = "x%4+";
        RecordedStep ibad = ia;
        ibad.keywords.clear();
        ibad.label = QStringLiteral("ok%4");
        ibad.cookies.clear();
        QTest::newRow("bad escape empties the field")
            << document({bad.xml(), b.xml(), c.xml()}) << QStringList() << QList<RecordedStep>{ibad, ib, ic}
            << 1;
    }
    {
        // The first step keeps what it read; the last one gets what the editor's
        // selector showed for it, which the closing commit writes back.
        FileStep lower = a;
        lower.ping = "y";
        FileStep lowerLast = lower;
        lowerLast.url = "http://site.test/last";
        RecordedStep ilower = ia;
        ilower.ping = QStringLiteral("y");
        RecordedStep ilowerLast = ia;
        ilowerLast.url = QStringLiteral("http://site.test/last");
        ilowerLast.ping = QStringLiteral("N");
        QTest::newRow("lower-case ping") << document({lower.xml(), b.xml(), lowerLast.xml()}) << QStringList()
                                         << QList<RecordedStep>{ilower, ib, ilowerLast} << 1;

        FileStep escaped = a;
        escaped.ping = "%59";
        FileStep escapedLast = c;
        escapedLast.ping = "%59";
        RecordedStep iescaped = ia;
        iescaped.ping = QStringLiteral("Y");
        RecordedStep iescapedLast = ic;
        iescapedLast.ping = QStringLiteral("N");
        QTest::newRow("ping read raw for the selector, decoded for the step")
            << document({escaped.xml(), b.xml(), escapedLast.xml()}) << QStringList()
            << QList<RecordedStep>{iescaped, ib, iescapedLast} << 1;
    }
    {
        FileStep again = a; // same address and post data, other settings
        again.label = "again";
        again.keywords = "other";
        QTest::newRow("duplicate refused") << document({a.xml(), again.xml(), b.xml()}) << QStringList{notAll}
                                           << QList<RecordedStep>{ia, ib} << 1;
        RecordedStep iagain = ia;
        iagain.label = QStringLiteral("again");
        iagain.keywords = QStringLiteral("other");
        // The refused last element's values stay in the editor and the closing
        // commit writes them into the last step added.
        const RecordedStep ibWithAgain = withSettings(ib, settingsOf(iagain));
        QTest::newRow("last element refused")
            << document({a.xml(), b.xml(), again.xml()}) << QStringList{notAll}
            << QList<RecordedStep>{ia, ibWithAgain} << 1;
    }
    QTest::newRow("extra children are ignored")
        << document({QByteArray(a.xml()).replace("</label>", "</label><more>x</more>")}) << QStringList()
        << QList<RecordedStep>{ia} << -1;

    {
        // Hand-edited: indentation, comments, a declaration, entities, CDATA and
        // markup inside values.
        const QByteArray edited =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- saved by hand -->\n"
            "<data>\n  <transaction>\n    <step>\n      <id>1</id>\n"
            "      <!-- the address -->\n      <url>http://e.test/?a=1&amp;b=2</url>\n"
            "      <method>G</method>\n      <keywords>Caf\xC3\xA9</keywords>\n"
            "      <errors>Caf\xE9</errors>\n      <timeout>30</timeout>\n"
            "      <ping>N</ping>\n      <postdata/>\n      <cookies><![CDATA[a=<1>]]></cookies>\n"
            "      <httpuser>u<b>s</b>er</httpuser>\n      <httppass>&lt;p&gt;</httppass>\n"
            "      <label>Log<i>+in</i><![CDATA[+%26]]>+go</label>\n    </step>\n"
            "  </transaction>\n</data>\n";
        RecordedStep e;
        e.url = QStringLiteral("http://e.test/?a=1&b=2");
        e.keywords = QStringLiteral("Caf\u00E9");
        e.errors = QStringLiteral("Caf\u00E9");
        e.timeout = QStringLiteral("30");
        e.ping = QStringLiteral("N");
        e.cookies = QStringLiteral("a=<1>");
        e.httpuser = QStringLiteral("user");
        e.httppass = QStringLiteral("<p>");
        e.label = QStringLiteral("Log in & go");
        QTest::newRow("hand-edited file") << edited << QStringList() << QList<RecordedStep>{e} << -1;
    }
}

void TestTransactionFile::import()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, messages);
    QFETCH(QList<RecordedStep>, steps);
    QFETCH(int, selected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("in.xml"));
    QVERIFY(writeFile(path, file));

    Importer target;
    target.run(path);

    QCOMPARE(target.messages, messages.replaceInStrings(QStringLiteral("%path"), path));
    QCOMPARE(describe(target.store.steps()), describe(steps));
    QCOMPARE(target.selected(), selected);
    QVERIFY(target.recording);
}

// What an import does with a file that is not a plain transaction file: the
// messages, and the steps left (-1: the store untouched, Recording as it was).
// Malformed and step-less documents in general are fuzz_import's; these are
// the paths it cannot give and the outcomes it leaves open.
void TestTransactionFile::importOutcomes_data()
{
    QTest::addColumn<QString>("shape"); // a kind of path, a file of tests/data/broken, or a huge document
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("stepsLeft");

    const QStringList open{openError + QStringLiteral("%path")};
    QTest::newRow("missing file") << "missing" << open << -1;
    QTest::newRow("folder") << "folder" << open << -1;
    QTest::newRow("named pipe") << "fifo" << open << -1;
    QTest::newRow("device") << "device" << open << -1;
    QTest::newRow("eleven children") << "eleven-children.xml" << QStringList{parserError} << 0;
    QTest::newRow("second step short") << "second-step-short.xml" << QStringList{parserError} << 1;
    QTest::newRow("entity definitions are not expanded") << "entity-expansion.xml" << QStringList() << 1;
    QTest::newRow("100,000 step elements") << "many" << QStringList{storeFull, notAll} << 150;
    QTest::newRow("a million empty step elements") << "million-empty" << QStringList{parserError} << 0;
    QTest::newRow("a million levels inside a value") << "deep-value" << QStringList() << 1;
    QTest::newRow("a million levels, no steps") << "deep-no-steps" << QStringList{noSteps} << -1;
    QTest::newRow("a million unclosed levels") << "deep-unclosed" << open << -1;
    QTest::newRow("a 100 MB value") << "big-value" << QStringList() << 1;
}

void TestTransactionFile::importOutcomes()
{
    QFETCH(QString, shape);
    QFETCH(QStringList, messages);
    QFETCH(int, stepsLeft);

    constexpr int million = 1000000;
    constexpr qsizetype hundredMB = 100 * 1024 * 1024;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("x.xml"));
    QByteArray bytes;
    if (shape == u"folder") {
        QVERIFY(QDir().mkdir(path));
    } else if (shape == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); // nobody ever writes into it
    } else if (shape == u"device") {
        path = QStringLiteral("/dev/zero");
    } else if (shape.endsWith(u".xml")) {
        path = dataFile(QStringLiteral("broken/") + shape);
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    } else if (shape == u"many") {
        QList<QByteArray> elements;
        for (int i = 0; i < 100000; ++i)
            elements << fileStep(i).xml();
        bytes = document(elements);
    } else if (shape == u"million-empty") {
        bytes = document(QList<QByteArray>(million, QByteArrayLiteral("<step/>")));
    } else if (shape == u"deep-value") {
        const QByteArray value =
            QByteArray("<a>").repeated(million) + "http://deep.test/" + QByteArray("</a>").repeated(million);
        bytes = document({QByteArray(fileStep(0).xml()).replace("http://site.test/p0", value)});
    } else if (shape == u"deep-no-steps") {
        bytes =
            "<data>" + QByteArray("<x>").repeated(million) + QByteArray("</x>").repeated(million) + "</data>";
    } else if (shape == u"deep-unclosed") {
        bytes = "<data><transaction><step>" + QByteArray("<a>").repeated(million);
    } else if (shape == u"big-value") {
        bytes = document({QByteArray(fileStep(0).xml()).replace("a=0", QByteArray(hundredMB, 'a'))});
    }
    if (!bytes.isEmpty())
        QVERIFY(writeFile(path, bytes));

    Importer target;
    target.run(path);
    QCOMPARE(target.messages, messages.replaceInStrings(QStringLiteral("%path"), path));
    QCOMPARE(target.recording, stepsLeft >= 0);
    if (stepsLeft < 0)
        QCOMPARE(describe(target.store.steps()), describe({oldStep()}));
    else
        QCOMPARE(target.store.count(), stepsLeft);
    if (shape == u"deep-value")
        QCOMPARE(target.store.at(0).url, QStringLiteral("http://deep.test/"));
    if (shape == u"big-value")
        QCOMPARE(target.store.at(0).postdata.size(), hundredMB);
}

// Every writer of a file, on success and on failure. All of them replace the
// file whole or not at all; each with its kind's permissions: a file the user
// chose keeps its own (a new one is its owner's alone) and is written through a
// link, while the program's own files holding the key (recorder.xml,
// recorder.ini, the recovery copy) end their owner's alone in a folder of his
// alone, and replace a link in their place rather than write through it.
void TestTransactionFile::fileWrites_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<QString>("before"); // what stands at the path, or what makes the write fail
    QTest::addColumn<int>("mode");       // of the file afterwards; -1: the write fails

    QTest::newRow("chosen, new") << "chosen"
                                 << "" << 0600;
    QTest::newRow("chosen, 0644") << "chosen"
                                  << "0644" << 0644;
    QTest::newRow("chosen, link") << "chosen"
                                  << "link" << 0644;
    for (const char* writer : {"own xml", "ini save", "ini clear", "recovery"}) {
        for (const char* before : {"", "0644", "link", "dangling"})
            QTest::addRow("%s, %s", writer, *before ? before : "new") << writer << before << 0600;
    }
    // Reading creates a missing file empty; a dangling link is not followed.
    for (const char* reader : {"ini load", "ini username"}) {
        QTest::addRow("%s, new", reader) << reader << "" << 0600;
        QTest::addRow("%s, dangling", reader) << reader << "dangling" << -1;
    }
    for (const char* failure :
         {"unwritable folder", "write fails part way", "folder missing", "full disk", "read-only mount"})
        QTest::addRow("chosen, %s", failure) << "chosen" << failure << -1;
    // Permission bits do not stop root: these paths are unusable by their shape.
    for (const char* writer : {"chosen", "ini save", "ini clear", "ini load", "ini username", "recovery"}) {
        for (const char* failure : {"path is a folder", "parent is a file"})
            QTest::addRow("%s, %s", writer, failure) << writer << failure << -1;
    }
}

void TestTransactionFile::fileWrites()
{
    QFETCH(QString, writer);
    QFETCH(QString, before);
    QFETCH(int, mode);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    const mode_t umaskBefore = ::umask(0); // the modes come from the writers, not the umask
    const auto restoreUmask = qScopeGuard([&] { ::umask(umaskBefore); });

    const bool chosen = writer == u"chosen";
    const QString name = writer.startsWith(u"ini") ? QStringLiteral("recorder.ini")
                         : writer == u"recovery"   ? QStringLiteral("recovery.dat")
                                                   : QStringLiteral("recorder.xml");
    QString folder = chosen ? dir.filePath(QStringLiteral("f")) : programFolder();
    QVERIFY(QDir().mkpath(folder));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.txt"));
    const QByteArray old = "username=old\r\n# longer than what replaces it " + QByteArray(9000, 'x');
    std::optional<SmallDisk> disk;
    if (before == u"full disk" || before == u"read-only mount") {
        folder = dir.filePath(QStringLiteral("disk"));
        disk.emplace(folder, 64);
        if (!disk->mounted())
            QSKIP("mounting a small disk needs root");
    } else if (before == u"folder missing") {
        folder = dir.filePath(QStringLiteral("none"));
    } else if (before == u"parent is a file") {
        QVERIFY(writeFile(dir.filePath(QStringLiteral("plain")), "x"));
        folder = dir.filePath(QStringLiteral("plain"));
    }
    const QString path = folder + u'/' + name;

    if (before == u"link" || before == u"dangling") {
        if (before == u"link")
            QVERIFY(writeFile(elsewhere, old) &&
                    ::chmod(QFile::encodeName(elsewhere).constData(), 0644) == 0);
        QVERIFY(QFile::link(elsewhere, path));
    } else if (before == u"path is a folder") {
        QVERIFY(QDir().mkdir(path));
    } else if (!before.isEmpty() && before != u"folder missing" && before != u"parent is a file") {
        QVERIFY(writeFile(path, old) && ::chmod(QFile::encodeName(path).constData(), 0644) == 0);
    }
    if (before == u"full disk")
        disk->fill();
    if (before == u"read-only mount")
        QCOMPARE(QProcess::execute(QStringLiteral("mount"),
                                   {QStringLiteral("-o"), QStringLiteral("remount,ro"), folder}),
                 0);
    bool immutable = false;
    if (before == u"unwritable folder" && !makeUnwritable(folder, immutable)) {
        makeWritable(folder, immutable);
        QSKIP("cannot make a folder unwritable here");
    }
    const QDir::Filters all = QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    const QStringList entriesBefore = QDir(folder).entryList(all);
    const QByteArray contentBefore = readFile(path);

    // The writer at work, with the fields a sign-in window held.
    const QList<RecordedStep> steps = fullSteps(150);
    const AccountCredentials account{QStringLiteral("jdoe"), QStringLiteral("K3y")};
    AccountCredentials fields{QStringLiteral("typed"), QStringLiteral("typed")};
    QByteArray bytes;
    QString error;
    bool ok = false;
    {
        std::optional<FileSizeLimit> limit;
        if (before == u"write fails part way")
            QVERIFY(limit.emplace(4096).active());
        CredentialsFile ini(path);
        bool cSave = false;
        if (writer == u"chosen" || writer == u"own xml") {
            bytes = transactionFileBytes(steps, account);
            ok = saveTransactionFile(path, bytes, &error);
        } else if (writer == u"recovery") {
            bytes = recoveryBytes(steps);
            ok = saveRecovery(path, steps, &error);
        } else {
            bytes = iniFileBytes(writer == u"ini save" ? account : AccountCredentials{});
            if (writer == u"ini save")
                ok = ini.SaveINIVariables(account);
            else if (writer == u"ini clear")
                ok = ini.ClearINIVariables();
            else if (writer == u"ini load")
                ok = ini.LoadINIVariables(fields, cSave);
            else
                ok = ini.loadSavedUsername(fields.username);
            error = ini.errorString();
            QVERIFY(!cSave);
            if (writer == u"ini load" || writer == u"ini username")
                bytes.clear(); // a reader leaves a new file empty
        }
    }
    if (before == u"unwritable folder")
        makeWritable(folder, immutable);
    // Reading an empty or unusable file changes no field.
    QCOMPARE((QStringList{fields.username, fields.key}), (QStringList{"typed", "typed"}));

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
    if (chosen && before == u"link") {
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(fileMode(elsewhere), mode);
        return;
    }
    QVERIFY(!QFileInfo(path).isSymLink());
    QCOMPARE(fileMode(path), mode);
    QCOMPARE(readFile(elsewhere), before == u"link" ? old : QByteArray());
    QCOMPARE(QFileInfo::exists(elsewhere), before == u"link");
    if (!chosen)
        QCOMPARE(fileMode(folder), 0700);
}

QTEST_MAIN(TestTransactionFile)
#include "tst_transactionfile.moc"
