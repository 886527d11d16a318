#include "CodePage.h"
#include "RecoveryFile.h"
#include "TestSite.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Steps whose every field holds a value of its own, so that a field lost or
// taken for another shows; text a transaction file would change included.
QList<RecordedStep> distinctSteps(int count)
{
    QList<RecordedStep> steps;
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(i);
        steps.append({QStringLiteral("http://a.test/") + n, codepage::fromAnsi(QByteArray("a=\0\xff", 4)) + n,
                      QStringLiteral("k\u00e9ywords ") + n, QStringLiteral("errors ") + n,
                      QStringLiteral("c=1; d=") + n, QStringLiteral("user ") + n,
                      QStringLiteral("p\u20ac ") + n, QStringLiteral("4") + n,
                      i % 2 ? QStringLiteral("Y") : QStringLiteral("N"), QString(1000, u'L') + n,
                      i % 3 ? std::optional(QStringList{QStringLiteral("token ") + n}) : std::nullopt});
    }
    return steps;
}

// The steps as the restarted recorder prints them.
QJsonArray json(const QList<RecordedStep>& steps)
{
    QJsonArray array;
    for (const RecordedStep& s : steps)
        array.append(QJsonArray{s.url, s.postdata, s.keywords, s.errors, s.timeout, s.ping, s.cookies,
                                s.httpuser, s.httppass, s.label});
    return array;
}

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void copyRoundTrip_data();
    void copyRoundTrip();
    void copiesAtStartUp_data();
    void copiesAtStartUp();
    void killedRunComesBack();

private:
    QByteArray run(const QStringList& args, bool waitForExit);
    QTemporaryDir m_data;
    QProcess m_child;
};

void TestRecovery::initTestCase()
{
    QVERIFY(m_data.isValid());
}

void TestRecovery::copyRoundTrip_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("full store") << 150;
}

// Every field comes back exactly (the file's permissions are tst_transactionfile's).
void TestRecovery::copyRoundTrip()
{
    QFETCH(int, count);
    const QList<RecordedStep> steps = distinctSteps(count);
    const QString path = m_data.filePath(QStringLiteral("copy.dat"));
    QString error;
    QVERIFY2(saveRecovery(path, steps, &error), qPrintable(error));
    const auto back = loadRecovery(path);
    QVERIFY(back.has_value());
    QCOMPARE(back->steps, steps);
    QVERIFY(!back->damaged);
    QVERIFY(!loadRecovery(m_data.filePath(QStringLiteral("missing.dat"))).has_value());
}

void TestRecovery::copiesAtStartUp_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("readable");
    QTest::newRow("undamaged") << "" << 3;
    QTest::newRow("cut inside the third step") << "cut" << 2;
    QTest::newRow("cut inside the header") << "cut-header" << 0;
    QTest::newRow("empty") << "empty" << 0;
    QTest::newRow("a length inside the third step flipped") << "flip" << 2;
    QTest::newRow("bad header") << "magic" << 0;
    QTest::newRow("huge count") << "huge-count" << 3;
    QTest::newRow("negative count") << "negative-count" << 3;
    QTest::newRow("bytes after the last step") << "trailing" << 3;
}

// A damaged copy gives back every step before the damage, and says it is
// damaged; the restarted recorder restores those steps with every field.
void TestRecovery::copiesAtStartUp()
{
    QFETCH(QString, damage);
    QFETCH(int, readable);
    const QList<RecordedStep> steps = distinctSteps(3);
    const auto bytesOf = [&](qsizetype count) {
        const QString path = m_data.filePath(QStringLiteral("part.dat"));
        QString error;
        return saveRecovery(path, steps.mid(0, count), &error) ? readFile(path) : QByteArray();
    };
    QByteArray bytes = bytesOf(3);
    const qsizetype twoSteps = bytesOf(2).size(); // the header and the first two steps
    constexpr int header = 12;                    // magic, version, count
    if (damage == u"cut")
        bytes.truncate(twoSteps + 10);
    else if (damage == u"cut-header")
        bytes.truncate(7);
    else if (damage == u"empty")
        bytes.clear();
    else if (damage == u"flip")
        bytes[twoSteps] = char(bytes.at(twoSteps) ^ 0x40); // the third step's first length, high byte
    else if (damage == u"magic")
        bytes[0] = 'X';
    else if (damage == u"huge-count")
        bytes.replace(header - 4, 4, QByteArray("\x7f\xff\xff\xff", 4));
    else if (damage == u"negative-count")
        bytes.replace(header - 4, 4, QByteArray("\xff\xff\xff\xfe", 4));
    else if (damage == u"trailing")
        bytes.append("garbage");

    const RecoveryRead read = readRecovery(bytes);
    QCOMPARE(read.damaged, !damage.isEmpty());
    QCOMPARE(read.steps, steps.mid(0, readable));

    // At start-up the readable steps are offered and the damaged file is moved aside.
    const QString folder = m_data.filePath(QStringLiteral("recovery_child"));
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(folder + QStringLiteral("/recovery.dat"), bytes));
    const QList<QByteArray> lines = run({QStringLiteral("restore")}, true).split('\n');
    QCOMPARE(m_child.exitCode(), 0);
    QCOMPARE(lines.value(0), QByteArray("ASKED ") + QByteArray::number(readable));
    QCOMPARE(QJsonDocument::fromJson(lines.value(1)).array(), json(steps.mid(0, readable)));
    QCOMPARE(lines.value(2).contains("damaged"), !damage.isEmpty());
    if (damage.isEmpty())
        return;
    const QStringList aside = QDir(folder).entryList({QStringLiteral("recovery.dat.damaged-*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(readFile(folder + u'/' + aside.first()), bytes);
    QCOMPARE(QFile::permissions(folder + u'/' + aside.first()) &
                 ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
             QFileDevice::Permissions());
}

QByteArray TestRecovery::run(const QStringList& args, bool waitForExit)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_data.path());
    m_child.setProcessEnvironment(env);
    m_child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_child.start(QStringLiteral(TALLYRO_RECOVERY_CHILD), args);
    if (!m_child.waitForStarted(10000))
        return {};
    QByteArray out;
    if (waitForExit) {
        m_child.waitForFinished(60000);
        return m_child.readAllStandardOutput();
    }
    for (int i = 0; i < 600 && !out.contains('\n'); ++i) {
        m_child.waitForReadyRead(100);
        out += m_child.readAllStandardOutput();
    }
    return out;
}

void TestRecovery::killedRunComesBack()
{
    TestSite site;
    const QStringList pages{site.url(QStringLiteral("/echo/one")), site.url(QStringLiteral("/links.html")),
                            site.url(QStringLiteral("/echo/three?x=1"))};
    const QByteArray recorded = run(QStringList{QStringLiteral("record")} + pages, false);
    QVERIFY2(recorded.startsWith("RECORDED 3"), recorded.constData());
    QTRY_VERIFY(QFile::exists(m_data.filePath(QStringLiteral("TallyroNet/recovery_child/recovery.dat"))) ||
                QFile::exists(m_data.filePath(QStringLiteral("recovery_child/recovery.dat"))));
    ::kill(pid_t(m_child.processId()), SIGKILL);
    QVERIFY(m_child.waitForFinished(10000));

    const QByteArray restored = run({QStringLiteral("restore")}, true);
    QCOMPARE(m_child.exitCode(), 0);
    const QList<QByteArray> lines = restored.split('\n');
    QCOMPARE(lines.value(0), QByteArray("ASKED 3"));
    const QJsonArray steps = QJsonDocument::fromJson(lines.value(1)).array();
    QCOMPARE(steps.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QJsonArray s = steps.at(i).toArray();
        QCOMPARE(s.at(0).toString(), pages.at(i));
        QCOMPARE(s.at(2).toString(), QStringLiteral("kw %1").arg(i + 2));
        QCOMPARE(s.at(6).toString(), QStringLiteral("c=%1").arg(i + 2));
        QCOMPARE(s.at(4).toString(), QStringLiteral("30"));
        QVERIFY(!s.at(9).toString().isEmpty()); // the page title as label
    }
    // That run ended normally: nothing is offered next time.
    const QByteArray fresh = run({QStringLiteral("list")}, true);
    QVERIFY2(fresh.startsWith("ASKED -1\n[]"), fresh.constData());
}

QTEST_GUILESS_MAIN(TestRecovery)
#include "tst_recovery.moc"
