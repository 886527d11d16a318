// Start-up and memory: the recorder and a plain engine view as programs of
// their own (see PageWalk.h), started one after the other.

#include "Bench.h"
#include "BenchSupport.h"
#include "TestSite.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>

#include <algorithm>

namespace bench {

namespace {

QString childProgram(const char* name)
{
    return QCoreApplication::applicationDirPath() + u'/' + QString::fromLatin1(name);
}

struct ChildRun
{
    bool ok = false;
    double startupMs = 0;
    qint64 peakRssKiB = 0;
    qint64 pssKiB = 0;
    QString summary;
    QList<std::pair<QString, double>> phases; // ms from the start, in order
};

// Starts a child, waits for its "ready" (and with a page list for its "done"),
// sampling its process tree's memory meanwhile, then lets it close normally.
ChildRun runChild(const QString& program, const QString& pageList, const QString& stderrLog)
{
    ChildRun run;
    QProcess p;
    // A data folder of its own: what one run leaves there (a recovery copy of its
    // steps) must not change how the next one starts.
    static int runNumber = 0;
    const QString data =
        QFileInfo(stderrLog).absolutePath() + QStringLiteral("/child-data-%1").arg(++runNumber);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), data);
    p.setProcessEnvironment(env);
    p.setProgram(program);
    if (!pageList.isEmpty())
        p.setArguments({QStringLiteral("--pages"), pageList});
    p.setStandardErrorFile(stderrLog, QIODevice::Append);
    const bool sample = !pageList.isEmpty();

    const qint64 start = monotonicNs();
    p.start();
    if (!p.waitForStarted(10000)) {
        note(QStringLiteral("%1 did not start: %2").arg(program, p.errorString()));
        return run;
    }
    const int pid = int(p.processId());
    const qint64 deadline = start + qint64(sample ? 600 : 60) * 1000000000;
    bool ready = false;
    bool done = false;
    qint64 lastSample = 0;
    const auto sampleNow = [&] {
        run.peakRssKiB = std::max(run.peakRssKiB, treeRssKiB(pid));
        lastSample = monotonicNs();
    };
    while (monotonicNs() < deadline && p.state() == QProcess::Running && !(ready && (done || !sample))) {
        p.waitForReadyRead(sample ? 20 : 200);
        if (sample && monotonicNs() - lastSample >= 50000000)
            sampleNow();
        while (p.canReadLine()) {
            const QByteArray line = p.readLine().trimmed();
            if (line.startsWith("ready ")) {
                run.startupMs = double(line.mid(6).toLongLong() - start) / 1e6;
                ready = true;
            } else if (line.startsWith("done")) {
                run.summary = QString::fromUtf8(line.mid(4).trimmed());
                done = true;
            } else if (line.startsWith("phase ")) {
                const QList<QByteArray> parts = line.split(' ');
                if (parts.size() == 3)
                    run.phases.append(
                        {QString::fromLatin1(parts.at(1)), double(parts.at(2).toLongLong() - start) / 1e6});
            } else if (line.startsWith("error")) {
                note(QStringLiteral("%1: %2").arg(QFileInfo(program).fileName(), QString::fromUtf8(line)));
            }
        }
    }
    if (done) {
        // The settled state after the last page counts too.
        for (int i = 0; i < 6; ++i) {
            p.waitForFinished(50);
            sampleNow();
        }
        run.pssKiB = treePssKiB(pid);
        p.write("quit\n");
        p.closeWriteChannel();
    }
    if (!p.waitForFinished(30000)) {
        note(QStringLiteral("%1 did not end: killed").arg(program));
        p.kill();
        p.waitForFinished(5000);
    } else if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        // Its figures stand; the end did not go as it should (see the children's log).
        note(QStringLiteral("%1 ended with %2 %3")
                 .arg(QFileInfo(program).fileName(), p.exitStatus() == QProcess::NormalExit
                                                         ? QStringLiteral("exit code")
                                                         : QStringLiteral("a crash, signal"))
                 .arg(p.exitCode()));
    }
    run.ok = ready && (done || !sample);
    return run;
}

} // namespace

void measureStartup(const Options& options, const QString& logFile)
{
    section(QStringLiteral("start-up"));
    const int pairs = options.quick ? 3 : 12;
    const QString recorder = childProgram("tallyro-bench-recorder");
    const QString plain = childProgram("tallyro-bench-plain");
    // One discarded pair: the first start reads everything from disk.
    runChild(recorder, {}, logFile);
    runChild(plain, {}, logFile);

    QList<double> ratios, recorderMs, plainMs;
    QMap<QString, QList<double>> recorderPhases, plainPhases;
    QStringList recorderOrder, plainOrder;
    const auto collect = [](const ChildRun& run, QMap<QString, QList<double>>& phases, QStringList& order) {
        for (const auto& [name, ms] : run.phases) {
            if (!order.contains(name))
                order.append(name);
            phases[name].append(ms);
        }
    };
    for (int i = 0; i < pairs; ++i) {
        ChildRun r, q;
        if (i % 2 == 0) {
            r = runChild(recorder, {}, logFile);
            q = runChild(plain, {}, logFile);
        } else {
            q = runChild(plain, {}, logFile);
            r = runChild(recorder, {}, logFile);
        }
        if (!r.ok || !q.ok) {
            note(QStringLiteral("start-up pair %1 failed").arg(i));
            continue;
        }
        collect(r, recorderPhases, recorderOrder);
        collect(q, plainPhases, plainOrder);
        recorderMs.append(r.startupMs);
        plainMs.append(q.startupMs);
        ratios.append(r.startupMs / q.startupMs);
    }
    figure(QStringLiteral("start-up: %1 (median of %2 pairs; recorder %3 ms, plain view %4 ms)")
               .arg(fixed(median(ratios)))
               .arg(ratios.size())
               .arg(fixed(median(recorderMs), 0), fixed(median(plainMs), 0)));
    note(QStringLiteral("recorder ms: %1").arg(spread(recorderMs, 0)));
    note(QStringLiteral("plain view ms: %1").arg(spread(plainMs, 0)));
    note(QStringLiteral("ratio: %1").arg(spread(ratios, 2)));
    const auto phaseLine = [](const QMap<QString, QList<double>>& phases, const QStringList& order) {
        QStringList parts;
        for (const QString& name : order)
            parts.append(QStringLiteral("%1 %2").arg(name, fixed(median(phases.value(name)), 0)));
        return parts.join(QStringLiteral(", "));
    };
    note(QStringLiteral("recorder reached, ms after its start (medians): %1")
             .arg(phaseLine(recorderPhases, recorderOrder)));
    note(QStringLiteral("plain view reached, ms after its start (medians): %1")
             .arg(phaseLine(plainPhases, plainOrder)));
}

namespace {

// Pages without frames or forms: each one is one recorded step.
QStringList memoryPages(const TestSite& site)
{
    static const char* const names[] = {"plain",    "article", "table",   "links",    "styled",
                                        "scripted", "nested",  "getform", "resources"};
    QStringList pages;
    for (int i = 0; i < transactionSteps; ++i) {
        const char* name = names[i % std::size(names)];
        pages.append(site.url(QStringLiteral("/pages/%1.html?m=%2").arg(QString::fromLatin1(name)).arg(i)));
    }
    return pages;
}

} // namespace

void measureMemory(const Options& options, const TestSite& site, const QString& folder,
                   const QString& logFile)
{
    section(QStringLiteral("memory"));
    const int pairs = options.quick ? 1 : 3;
    const QString listFile = folder + QStringLiteral("/memory-pages.txt");
    {
        QFile list(listFile);
        if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            note(QStringLiteral("memory: cannot write ") + listFile);
            return;
        }
        list.write(memoryPages(site).join(u'\n').toUtf8() + '\n');
    }
    const QString recorder = childProgram("tallyro-bench-recorder");
    const QString plain = childProgram("tallyro-bench-plain");

    QList<double> ratios, recorderMiB, plainMiB, recorderPss, plainPss;
    QStringList stepCounts;
    for (int i = 0; i < pairs; ++i) {
        ChildRun r, q;
        if (i % 2 == 0) {
            r = runChild(recorder, listFile, logFile);
            q = runChild(plain, listFile, logFile);
        } else {
            q = runChild(plain, listFile, logFile);
            r = runChild(recorder, listFile, logFile);
        }
        if (!r.ok || !q.ok) {
            note(QStringLiteral("memory pair %1 failed").arg(i));
            continue;
        }
        stepCounts.append(r.summary);
        if (r.summary != QStringLiteral("steps=%1").arg(transactionSteps))
            note(QStringLiteral("memory: the recorder reported %1 after %2 pages")
                     .arg(r.summary)
                     .arg(transactionSteps));
        recorderMiB.append(double(r.peakRssKiB) / 1024.0);
        plainMiB.append(double(q.peakRssKiB) / 1024.0);
        recorderPss.append(double(r.pssKiB) / 1024.0);
        plainPss.append(double(q.pssKiB) / 1024.0);
        ratios.append(double(r.peakRssKiB) / double(q.peakRssKiB));
    }
    figure(QStringLiteral(
               "peak memory: %1 (process tree RSS, recorder after recording %2 steps against the plain "
               "view after the same %2 pages, median of %3 pairs; %4 MiB against %5 MiB)")
               .arg(fixed(median(ratios)))
               .arg(transactionSteps)
               .arg(ratios.size())
               .arg(fixed(median(recorderMiB), 0), fixed(median(plainMiB), 0)));
    note(QStringLiteral("the recorder reported: %1").arg(stepCounts.join(QStringLiteral(", "))));
    note(QStringLiteral("recorder peak RSS MiB: %1").arg(spread(recorderMiB, 0)));
    note(QStringLiteral("plain view peak RSS MiB: %1").arg(spread(plainMiB, 0)));
    note(QStringLiteral("tree PSS after the last page MiB: recorder %1, plain view %2 (ratio %3)")
             .arg(fixed(median(recorderPss), 0), fixed(median(plainPss), 0),
                  fixed(median(recorderPss) / median(plainPss))));
}

} // namespace bench
