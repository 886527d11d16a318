#include "CodePage.h"
#include "RecoveryFile.h"
#include "TestSite.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestRecovery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void copyRoundTrip_data();
    void copyRoundTrip();
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

// Every field comes back exactly, including text a transaction file would change.
void TestRecovery::copyRoundTrip()
{
    QFETCH(int, count);
    QList<RecordedStep> steps;
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(i);
        steps.append({QStringLiteral("http://a.test/") + n, codepage::fromAnsi(QByteArray("a=\0\xff", 4)) + n,
                      QStringLiteral("k\u00e9 ") + n, QStringLiteral("e"), QString(), QStringLiteral("y"),
                      QStringLiteral("c=1; d=2"), QStringLiteral("u"), QStringLiteral("p\u20ac"),
                      QString(1000, u'L') + n});
    }
    const QString path = m_data.filePath(QStringLiteral("copy.dat"));
    QString error;
    QVERIFY2(saveRecovery(path, steps, &error), qPrintable(error));
    QCOMPARE(QFile(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
             QFileDevice::Permissions());
    const auto back = loadRecovery(path);
    QVERIFY(back.has_value());
    QCOMPARE(*back, steps);
    // A damaged copy is no copy.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.resize(qMax<qint64>(4, file.size() / 2));
    file.close();
    if (count > 0)
        QVERIFY(!loadRecovery(path).has_value());
    QVERIFY(!loadRecovery(m_data.filePath(QStringLiteral("missing.dat"))).has_value());
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
