#include "CodePage.h"
#include "Files.h"
#include "RecoveryFile.h"
#include "RecoveryWriter.h"
#include "Steps.h"
#include "TestSite.h"

#include <QtTest>

#include <csignal>

namespace {

// Steps whose every field holds a value of its own, so that a field lost or
// taken for another shows; text a transaction file would change included. The
// one-time flags go in turn unknown (a step opened from a file), several, none.
QList<RecordedStep> distinctSteps(int count)
{
    QList<RecordedStep> steps;
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(i);
        steps.append(step(u"http://a.test/"_qs + n, codepage::fromAnsi(QByteArray("a=\0\xff", 4)) + n,
                          u"k\u00e9ywords "_qs + n, u"errors "_qs + n, u"c=1; d="_qs + n, u"user "_qs + n,
                          u"p\u20ac "_qs + n, u"4"_qs + n, i % 2 ? u"Y"_qs : u"N"_qs,
                          QString(1000, u'L') + n));
        if (i % 3)
            steps.last().oneTime =
                i % 3 == 1 ? QStringList{u"token "_qs + n, u"__VIEWSTATE"_qs} : QStringList();
    }
    return steps;
}

// The steps the restarted recorder prints.
QList<RecordedStep> printedSteps(const QByteArray& line)
{
    return readRecovery(QByteArray::fromBase64(line)).steps;
}

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT
private slots:

    void copiesAtStartUp_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("readable");
        QTest::newRow("undamaged") << "" << 3;
        QTest::newRow("cut inside the third step") << "cut" << 2;
        QTest::newRow("bad header") << "magic" << 0;
        QTest::newRow("huge count") << "huge-count" << 3;
        QTest::newRow("bytes after the last step") << "trailing" << 3;
    }

    // A copy saved and read back gives every field exactly (the file's permissions
    // are tst_transactionfile's; what any bytes read as, fuzz_recovery's). A damaged
    // copy gives back every step before the damage, and says it is damaged; the
    // restarted recorder restores those steps with every field.
    void copiesAtStartUp()
    {
        QFETCH(QString, damage);
        QFETCH(int, readable);
        const QList<RecordedStep> steps = distinctSteps(3);
        const auto bytesOf = [&](qsizetype count) {
            const QString path = m_data.filePath(u"part.dat"_qs);
            QString error;
            return saveRecovery(path, steps.mid(0, count), &error) ? readFile(path) : QByteArray();
        };
        QByteArray bytes = bytesOf(3);
        const qsizetype twoSteps = bytesOf(2).size(); // the header and the first two steps
        constexpr int header = 12;                    // magic, version, count
        if (damage == u"cut")
            bytes.truncate(twoSteps + 10);
        else if (damage == u"magic")
            bytes[0] = 'X';
        else if (damage == u"huge-count")
            bytes.replace(header - 4, 4, QByteArray("\x7f\xff\xff\xff", 4));
        else if (damage == u"trailing")
            bytes.append("garbage");
        const RecoveryRead read = readRecovery(bytes);
        QCOMPARE(read.damaged, !damage.isEmpty());
        QCOMPARE(read.steps, steps.mid(0, readable));
        // At start-up the readable steps are offered and the damaged file is moved aside.
        const QString folder = m_data.filePath(u"recovery_child"_qs);
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(writeFile(folder + u"/recovery.dat"_qs, bytes));
        const QList<QByteArray> lines = run({u"restore"_qs}, true).split('\n');
        QCOMPARE(m_child.exitCode(), 0);
        QCOMPARE(lines.value(0), QByteArray("ASKED ") + QByteArray::number(readable));
        QCOMPARE(printedSteps(lines.value(1)), steps.mid(0, readable));
        QCOMPARE(lines.value(2).contains("damaged"), !damage.isEmpty());
        if (damage.isEmpty())
            return;
        const QStringList aside = QDir(folder).entryList({u"recovery.dat.damaged-*"_qs}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readFile(folder + u'/' + aside.first()), bytes);
        QCOMPARE(QFile::permissions(folder + u'/' + aside.first()) &
                     ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFileDevice::Permissions());
    }

    // Handed over one after another, the newest steps are the copy once the
    // writer is done; no steps remove it; a copy that cannot be written says why.
    void writerKeepsTheNewest()
    {
        const QString path = m_data.filePath(u"writer.dat"_qs);
        {
            RecoveryWriter writer(path);
            QSignalSpy written(&writer, &RecoveryWriter::written);
            for (int n = 1; n <= 20; ++n)
                writer.keep(distinctSteps(n));
            QTRY_VERIFY(!written.isEmpty() && written.last().at(0).toBool());
        } // ending writes what was handed over last
        QCOMPARE(loadRecovery(path)->steps, distinctSteps(20));
        RecoveryWriter(path).keep({});
        QVERIFY(!QFile::exists(path));

        RecoveryWriter blocked(m_data.filePath(u"no/such/folder/r.dat"_qs));
        QSignalSpy failed(&blocked, &RecoveryWriter::written);
        blocked.keep(distinctSteps(1));
        QTRY_COMPARE(failed.size(), 1);
        QVERIFY(!failed.first().at(0).toBool());
        QVERIFY(failed.first().at(1).toString().contains(u"r.dat"_qs));
    }

    void killedRunComesBack()
    {
        TestSite site;
        const QStringList pages{site.url(u"/echo/one"_qs), site.url(u"/links.html"_qs),
                                site.url(u"/echo/three?x=1"_qs)};
        const QByteArray recorded = run(QStringList{u"record"_qs} + pages, false);
        QVERIFY2(recorded.startsWith("RECORDED 3"), recorded.constData());
        QTRY_VERIFY(QFile::exists(m_data.filePath(u"recovery_child/recovery.dat"_qs)));
        ::kill(pid_t(m_child.processId()), SIGKILL);
        QVERIFY(m_child.waitForFinished(10000));
        const QByteArray restored = run({u"restore"_qs}, true);
        QCOMPARE(m_child.exitCode(), 0);
        const QList<QByteArray> lines = restored.split('\n');
        QCOMPARE(lines.value(0), QByteArray("ASKED 3"));
        const QList<RecordedStep> steps = printedSteps(lines.value(1));
        QCOMPARE(steps.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(steps.at(i).url, pages.at(i));
            QCOMPARE(steps.at(i).keywords, u"kw %1"_qs.arg(i + 2));
            QCOMPARE(steps.at(i).cookies, u"c=%1"_qs.arg(i + 2));
            QCOMPARE(steps.at(i).timeout, u"30"_qs);
            QVERIFY(!steps.at(i).label.isEmpty()); // the page title as label
        }
        // That run ended normally: nothing is offered next time.
        const QList<QByteArray> fresh = run({u"list"_qs}, true).split('\n');
        QCOMPARE(fresh.value(0), QByteArray("ASKED -1"));
        QCOMPARE(fresh.value(1), recoveryBytes({}).toBase64());
    }

private:
    QByteArray run(const QStringList& args, bool waitForExit)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_DATA_HOME"_qs, m_data.path());
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
    QTemporaryDir m_data;
    QProcess m_child;
};

QTEST_GUILESS_MAIN(TestRecovery)
#include "tst_recovery.moc"
