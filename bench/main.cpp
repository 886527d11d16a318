// tallyro-bench: measures the recorder against a plain engine view and prints one
// line per figure on standard output; details and the machine's load go to
// standard error. Run it on a display (xvfb-run -a) or with QT_QPA_PLATFORM=offscreen.
//
//   tallyro-bench [--only overhead,startup,memory,pacing,file,diagnose] [--quick]
//
// "diagnose" (only when named) repeats the page-load comparison for parts of the
// recorder, to show where a page-load overhead comes from.

#include "BenchSupport.h"
#include "Credentials.h"
#include "Encodings.h"
#include "Recorder.h"
#include "StepStore.h"
#include "TestSite.h"
#include "TransactionFile.h"
#include "TransactionImport.h"
#include "WebBrowser.h"
#include "frmBrowser.h"
#include "frmControlPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QMetaEnum>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

using bench::median;
using bench::monotonicNs;

namespace {

constexpr int paceInterval = 5000; // the replay's real pace
constexpr int transactionSteps = 150;
constexpr int fieldLength = 1024;

struct Options
{
    QStringList only;
    bool quick = false;
    bool wants(const QString& figure) const { return only.isEmpty() || only.contains(figure); }
};

void figure(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void note(const QString& line)
{
    const QByteArray bytes = "  " + line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void section(const QString& name)
{
    note(QStringLiteral("[%1] load average %2").arg(name, bench::loadAverage()));
}

QString fixed(double value, int decimals = 2)
{
    return QString::number(value, 'f', decimals);
}

QString spread(const QList<double>& values, int decimals = 1)
{
    return QStringLiteral("p10 %1 / median %2 / p90 %3")
        .arg(fixed(bench::quantile(values, 0.1), decimals), fixed(median(values), decimals),
             fixed(bench::quantile(values, 0.9), decimals));
}

bool sameAddress(const QString& a, const QString& b)
{
    return QUrl(a).toString(QUrl::FullyEncoded) == QUrl(b).toString(QUrl::FullyEncoded);
}

// Runs the event loop for a while.
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Where the program's thread spends its time while a page load is timed: the
// events it handles (the engine's own browser-side work arrives as events too),
// summed per receiver class and event type under the name of the browser loading.
class ProfilingApplication : public QApplication
{
public:
    using QApplication::QApplication;

    struct Cost
    {
        qint64 count = 0;
        qint64 ns = 0;
    };
    static inline bool enabled = false;
    static inline QString bucket; // the browser whose load is being timed
    static inline QMap<QString, QMap<QString, Cost>> costs;
    static inline QMap<QString, int> loads;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!enabled || bucket.isEmpty() || m_depth > 0)
            return QApplication::notify(receiver, event);
        const QString key = keyOf(receiver, event);
        const QString in = bucket;
        ++m_depth;
        const qint64 t0 = monotonicNs();
        const bool result = QApplication::notify(receiver, event);
        const qint64 ns = monotonicNs() - t0;
        --m_depth;
        Cost& c = costs[in][key];
        ++c.count;
        c.ns += ns;
        return result;
    }

    static void report(const QString& name)
    {
        const QMap<QString, Cost>& byKey = costs.value(name);
        const int n = std::max(1, loads.value(name));
        qint64 total = 0;
        QList<std::pair<QString, Cost>> sorted;
        for (auto it = byKey.cbegin(); it != byKey.cend(); ++it) {
            total += it.value().ns;
            sorted.append({it.key(), it.value()});
        }
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto& a, const auto& b) { return a.second.ns > b.second.ns; });
        note(QStringLiteral("  %1: program thread busy %2 ms per load (%3 loads); largest:")
                 .arg(name, fixed(double(total) / 1e6 / n))
                 .arg(n));
        for (qsizetype i = 0; i < std::min<qsizetype>(6, sorted.size()); ++i)
            note(QStringLiteral("    %1 ms, %2 events per load: %3")
                     .arg(fixed(double(sorted.at(i).second.ns) / 1e6 / n),
                          fixed(double(sorted.at(i).second.count) / n, 1), sorted.at(i).first));
    }

private:
    static QString keyOf(QObject* receiver, QEvent* event)
    {
        QString name = QString::fromLatin1(receiver->metaObject()->className());
        if (auto* timer = qobject_cast<QTimer*>(receiver))
            name += QStringLiteral("(%1 ms)").arg(timer->interval());
        const char* type = QMetaEnum::fromType<QEvent::Type>().valueToKey(event->type());
        return name + u' ' + (type ? QString::fromLatin1(type) : QString::number(int(event->type())));
    }

    int m_depth = 0;
};

// Stops every repeating 1 ms timer at its first tick (the recorder window's
// busy poll), to see what page loads cost without it.
class FastTimerStopper : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer) {
            auto* timer = qobject_cast<QTimer*>(watched);
            if (timer && timer->interval() == 1 && !timer->isSingleShot()) {
                timer->stop();
                return true;
            }
        }
        return false;
    }
};

// ---------------------------------------------------------------------------
// File: write and import of a large transaction

// 1 KB of text for one field, varied per step and field, with characters that the
// file encodes (blanks, marks, code-page letters) between plain ones.
QString fieldText(int step, int field, const QString& prefix, const QString& pool)
{
    QString text = prefix;
    for (int i = 0; text.size() < fieldLength; ++i)
        text += pool.at((step * 31 + field * 7 + i) % pool.size());
    return text;
}

QList<RecordedStep> largeTransaction()
{
    const QString mixed =
        QStringLiteral("abcdefghij KLMNOP 0123456789 <>&\"'%+=;,:/.?_-()\u00e9\u00fc\u00df\u20ac\u00c5");
    const QString digits = QStringLiteral("0123456789");
    QList<RecordedStep> steps;
    for (int i = 0; i < transactionSteps; ++i) {
        RecordedStep s;
        s.url = fieldText(i, 0, QStringLiteral("http://127.0.0.1/step%1/").arg(i), mixed);
        s.postdata = fieldText(i, 1, QStringLiteral("field%1=").arg(i), mixed);
        s.keywords = fieldText(i, 2, {}, mixed);
        s.errors = fieldText(i, 3, {}, mixed);
        // Timeout and ping are written unencoded: text the file can hold as it is.
        s.timeout = fieldText(i, 4, {}, digits);
        s.ping = fieldText(i, 5, {}, QStringLiteral("YN"));
        s.cookies = fieldText(i, 6, {}, mixed);
        s.httpuser = fieldText(i, 7, {}, mixed);
        s.httppass = fieldText(i, 8, {}, mixed);
        s.label = fieldText(i, 9, {}, mixed);
        steps.append(s);
    }
    return steps;
}

// The import as the main window runs it, without the message boxes; with no
// editor, the store alone.
class BenchImportTarget : public ImportTarget
{
public:
    BenchImportTarget(StepStore& store, frmControlPanel* editor) : m_store(store), m_editor(editor) {}
    void checkRecording() override {}
    void clearitems() override
    {
        if (m_editor)
            m_editor->clearitems();
        else
            m_store.clearitems();
    }
    StepStore::AddResult addURL(const RecordedStep& s, bool) override
    {
        return m_store.addURL(s.url, s.postdata, s.keywords, s.errors, s.cookies, s.httpuser, s.httppass,
                              s.timeout, s.ping, s.label);
    }
    void setEditorFields(const RecordedStep& values, const QString& rawPing) override
    {
        if (m_editor)
            m_editor->setFieldsFrom(values, rawPing);
    }
    int listCount() const override { return m_store.count(); }
    void selectLine(int row) override
    {
        if (m_editor)
            m_editor->selectLine(row);
    }
    void recordedItems_Click() override
    {
        if (m_editor)
            m_editor->recordedItems_Click();
    }
    void showMessage(const QString& text) override { messages.append(text); }

    QStringList messages;

private:
    StepStore& m_store;
    frmControlPanel* m_editor;
};

void measureFile(const Options& options, const QString& folder)
{
    section(QStringLiteral("file"));
    const int runs = options.quick ? 5 : 40;
    const QList<RecordedStep> steps = largeTransaction();
    const AccountCredentials account{QStringLiteral("bench-user"), QStringLiteral("bench-key")};
    const QString path = folder + QStringLiteral("/large-transaction.xml");

    QList<double> build, save, write;
    qsizetype fileSize = 0;
    for (int i = 0; i < runs + 2; ++i) {
        QFile::remove(path); // every run writes a new file, as Save as does
        const qint64 t0 = monotonicNs();
        const QByteArray bytes = transactionFileBytes(steps, account);
        const qint64 t1 = monotonicNs();
        QString error;
        if (!saveTransactionFile(path, bytes, &error)) {
            note(QStringLiteral("file: write failed: ") + error);
            return;
        }
        const qint64 t2 = monotonicNs();
        fileSize = bytes.size();
        if (i < 2)
            continue; // warm-up
        build.append(double(t1 - t0) / 1000.0);
        save.append(double(t2 - t1) / 1000.0);
        write.append(double(t2 - t0) / 1000.0);
    }

    // Import into the step editor, as Open does; then into the store alone.
    frmControlPanel editor;
    QList<double> importEditor, importStore;
    for (int i = 0; i < runs + 2; ++i) {
        BenchImportTarget target(editor.store(), &editor);
        const qint64 t0 = monotonicNs();
        importTransactionFile(path, target);
        const qint64 t1 = monotonicNs();
        if (!target.messages.isEmpty() || editor.store().count() != transactionSteps) {
            note(QStringLiteral("file: import ended with %1 steps, messages: %2")
                     .arg(editor.store().count())
                     .arg(target.messages.join(QStringLiteral(" | "))));
            return;
        }
        if (i >= 2)
            importEditor.append(double(t1 - t0) / 1000.0);
    }
    StepStore store;
    for (int i = 0; i < runs + 2; ++i) {
        BenchImportTarget target(store, nullptr);
        const qint64 t0 = monotonicNs();
        importTransactionFile(path, target);
        const qint64 t1 = monotonicNs();
        if (i >= 2)
            importStore.append(double(t1 - t0) / 1000.0);
    }
    const bool exact = store.steps() == steps;

    figure(
        QStringLiteral("file write: %1 us per write (%2 steps, every field 1 KB, %3 KB file, median of %4)")
            .arg(fixed(median(write), 0))
            .arg(transactionSteps)
            .arg(fileSize / 1024)
            .arg(write.size()));
    figure(QStringLiteral("file import: %1 us per import (into the step editor, median of %2)")
               .arg(fixed(median(importEditor), 0))
               .arg(importEditor.size()));
    note(QStringLiteral("write: building the bytes %1 us, saving %2 us (medians)")
             .arg(fixed(median(build), 0), fixed(median(save), 0)));
    note(QStringLiteral("write us: %1").arg(spread(write, 0)));
    note(QStringLiteral("import into the editor us: %1").arg(spread(importEditor, 0)));
    note(QStringLiteral("import into the store alone us: %1").arg(spread(importStore, 0)));
    note(QStringLiteral("read back exactly as written: %1").arg(exact ? "yes" : "NO"));

    // The share of the field encoding in both directions: every free-text field
    // of the transaction through escapeSymbols, and every field back through URLDecode.
    QStringList fields, encoded;
    for (const RecordedStep& s : steps) {
        for (const QString* f :
             {&s.url, &s.keywords, &s.errors, &s.postdata, &s.cookies, &s.httpuser, &s.httppass, &s.label})
            fields.append(*f);
    }
    for (const QString& f : std::as_const(fields))
        encoded.append(escapeSymbols(f));
    QList<double> escapeUs, decodeUs;
    for (int i = 0; i < runs; ++i) {
        qsizetype sink = 0;
        const qint64 t0 = monotonicNs();
        for (const QString& f : std::as_const(fields))
            sink += escapeSymbols(f).size();
        const qint64 t1 = monotonicNs();
        for (const QString& e : std::as_const(encoded))
            sink += URLDecode(e).size();
        const qint64 t2 = monotonicNs();
        if (sink == 0)
            note(QStringLiteral("nothing encoded"));
        escapeUs.append(double(t1 - t0) / 1000.0);
        decodeUs.append(double(t2 - t1) / 1000.0);
    }
    note(QStringLiteral(
             "escapeSymbols over the %1 free-text fields: %2 us; URLDecode of them: %3 us (medians)")
             .arg(fields.size())
             .arg(fixed(median(escapeUs), 0), fixed(median(decodeUs), 0)));
}

// ---------------------------------------------------------------------------
// Child programs: start-up and memory

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
        run.peakRssKiB = std::max(run.peakRssKiB, bench::treeRssKiB(pid));
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
        run.pssKiB = bench::treePssKiB(pid);
        p.write("quit\n");
        p.closeWriteChannel();
    }
    if (!p.waitForFinished(30000)) {
        note(QStringLiteral("%1 did not end: killed").arg(program));
        p.kill();
        p.waitForFinished(5000);
    }
    run.ok = ready && (done || !sample);
    return run;
}

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

// ---------------------------------------------------------------------------
// In the same process: recording overhead and playback pacing

// A browser whose page loads are timed: from the moment the load is asked for to
// the completion of the document at the expected address. For the recorder that
// is when its DocumentComplete reaches the bench, after the window's own handler
// (connected first) has run: what recording does with a finished page counts.
class Subject : public QObject
{
public:
    virtual QString name() const = 0;
    virtual QWebEnginePage* page() const = 0;

    // Opens a page; ns receives the time to its completed document.
    bool open(const QString& url, qint64* ns = nullptr)
    {
        return measure(url, ns, [&] { navigate(url); });
    }
    // Clicks the page's submit button #go; the answer comes from target.
    bool submit(const QString& target, qint64* ns)
    {
        return measure(target, ns, [this] {
            page()->runJavaScript(QStringLiteral("document.getElementById('go').click()"));
        });
    }
    // Waits for a document at url the subject loads by itself (a start page).
    bool await(const QString& url)
    {
        m_expected = url;
        m_doneAt = 0;
        return wait(20000);
    }

protected:
    virtual void navigate(const QString& url) = 0;

    void completed(const QString& url)
    {
        if (m_doneAt || m_expected.isEmpty() || !sameAddress(url, m_expected))
            return;
        m_doneAt = monotonicNs();
        if (m_loop)
            m_loop->quit();
    }

private:
    template <typename Start> bool measure(const QString& url, qint64* ns, Start start)
    {
        m_expected = url;
        m_doneAt = 0;
        if (ns) {
            ProfilingApplication::bucket = name();
            ++ProfilingApplication::loads[name()];
        }
        const qint64 t0 = monotonicNs();
        start();
        const bool ok = wait(20000);
        ProfilingApplication::bucket.clear();
        m_expected.clear();
        if (!ok) {
            note(QStringLiteral("%1 did not complete %2").arg(name(), url));
            return false;
        }
        if (ns)
            *ns = m_doneAt - t0;
        return true;
    }

    bool wait(int ms)
    {
        if (m_doneAt)
            return true;
        QEventLoop loop;
        m_loop = &loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        m_loop = nullptr;
        return m_doneAt != 0;
    }

    QString m_expected;
    qint64 m_doneAt = 0;
    QEventLoop* m_loop = nullptr;
};

// A plain QWebEngineView; with no profile given, on a profile of its own with
// nothing installed.
class PlainSubject : public Subject
{
public:
    // What the recorder's browser adds to a page, one at a time.
    enum Extra
    {
        Nothing,
        RequestInterceptor, // sees every request, does nothing
        WebChannel          // a channel in the script world the recorder uses, one object
    };

    PlainSubject(const QString& name, QWebEngineProfile* profile, QSize size, Extra extra = Nothing)
        : m_name(name)
    {
        if (!profile)
            profile = m_ownProfile = new QWebEngineProfile(this); // off the record
        m_view = std::make_unique<QWebEngineView>();
        auto* page = new QWebEnginePage(profile, m_view.get());
        if (extra == RequestInterceptor)
            page->setUrlRequestInterceptor(new IdleInterceptor(page));
        if (extra == WebChannel) {
            auto* channel = new QWebChannel(page);
            channel->registerObject(QStringLiteral("benchObject"), new QObject(channel));
            page->setWebChannel(channel, QWebEngineScript::ApplicationWorld);
        }
        m_view->setPage(page);
        m_view->resize(size);
        m_view->show();
        connect(m_view.get(), &QWebEngineView::loadFinished, this,
                [this] { completed(m_view->url().toString(QUrl::FullyEncoded)); });
    }
    ~PlainSubject() override { m_view.reset(); } // the page goes before its profile
    QString name() const override { return m_name; }
    QWebEnginePage* page() const override { return m_view->page(); }

protected:
    void navigate(const QString& url) override { m_view->load(QUrl(url)); }

private:
    class IdleInterceptor : public QWebEngineUrlRequestInterceptor
    {
    public:
        using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
        void interceptRequest(QWebEngineUrlRequestInfo&) override {}
    };

    QString m_name;
    QWebEngineProfile* m_ownProfile = nullptr;
    std::unique_ptr<QWebEngineView> m_view;
};

// The recorder's embedded browser alone, in a bare window: what the engine
// wrapper costs without the recorder's window around it.
class BrowserSubject : public Subject
{
public:
    explicit BrowserSubject(QSize size)
    {
        m_window = std::make_unique<QWidget>();
        m_browser =
            new WebBrowser(WebBrowser::recorderProfile(), WebBrowser::Origin::OwnWindow, m_window.get());
        m_browser->resize(size);
        m_window->resize(size);
        m_window->show();
        connect(m_browser, &WebBrowser::DocumentComplete, this, &BrowserSubject::completed);
    }
    QString name() const override { return QStringLiteral("browser alone"); }
    QWebEnginePage* page() const override { return m_browser->page(); }

protected:
    void navigate(const QString& url) override { m_browser->Navigate(url); }

private:
    std::unique_ptr<QWidget> m_window;
    WebBrowser* m_browser = nullptr;
};

// The recorder's main window, driven as a user does: addresses typed into the
// address box.
class RecorderSubject : public Subject
{
public:
    RecorderSubject()
    {
        recorder = std::make_unique<Recorder>(WebBrowser::recorderProfile());
        main = recorder->start();
        connect(main->brwWebBrowser(), &WebBrowser::DocumentComplete, this, &RecorderSubject::completed);
    }
    ~RecorderSubject() override { recorder.reset(); }
    QString name() const override
    {
        return (main->chkSave()->isChecked() ? QStringLiteral("recorder")
                                             : QStringLiteral("recorder, not recording")) +
               suffix;
    }
    QWebEnginePage* page() const override { return main->brwWebBrowser()->page(); }

    std::unique_ptr<Recorder> recorder;
    frmBrowser* main = nullptr;
    QString suffix; // names a variant of the measurement

protected:
    void navigate(const QString& url) override
    {
        main->cboAddress()->setEditText(url);
        main->cboAddress_Click();
    }
};

struct PageItem
{
    QString kind;
    QString url;       // the page, or for a form the page holding it
    QString submitsTo; // a form: where its POST goes
};

QList<PageItem> overheadPages(const TestSite& site)
{
    QList<PageItem> items;
    for (int v = 1; v <= 3; ++v) {
        for (const char* name :
             {"plain", "article", "table", "links", "styled", "scripted", "nested", "getform"})
            items.append(
                {QStringLiteral("static"),
                 site.url(QStringLiteral("/pages/%1.html?v=%2").arg(QString::fromLatin1(name)).arg(v)),
                 {}});
        items.append({QStringLiteral("20 sub-resources"),
                      site.url(QStringLiteral("/pages/resources.html?v=%1").arg(v)),
                      {}});
        items.append(
            {QStringLiteral("three frames"), site.url(QStringLiteral("/pages/frames.html?v=%1").arg(v)), {}});
    }
    for (int v = 1; v <= 2; ++v)
        items.append({QStringLiteral("POST form"),
                      site.url(QStringLiteral("/pages/postform.html?v=%1").arg(v)),
                      site.url(QStringLiteral("/received"))});
    return items;
}

struct Comparison
{
    QList<double> ratios, subjectMs, plainMs;
    QMap<QString, QList<double>> byKind;
};

// Loads every page in both, alternating which goes first; before each round
// beforeRound runs (the recorder's store is emptied so that it never fills).
Comparison compare(Subject& subject, Subject& plain, const QList<PageItem>& items, int rounds,
                   const std::function<void()>& beforeRound, bool warmUp = true)
{
    const auto load = [](Subject& b, const PageItem& item, qint64* ns) {
        settle(40); // the previous page's after-work is not this page's load
        if (item.submitsTo.isEmpty())
            return b.open(item.url, ns);
        if (!b.open(item.url))
            return false;
        settle(40);
        return b.submit(item.submitsTo, ns);
    };
    // Both see every page once before the measured rounds.
    if (beforeRound)
        beforeRound();
    for (qsizetype i = 0; warmUp && i < items.size(); ++i) {
        load(subject, items.at(i), nullptr);
        load(plain, items.at(i), nullptr);
    }

    Comparison c;
    int pair = 0;
    for (int round = 0; round < rounds; ++round) {
        if (beforeRound)
            beforeRound();
        for (const PageItem& item : items) {
            qint64 a = 0;
            qint64 b = 0;
            const bool subjectFirst = pair++ % 2 == 0;
            const bool ok = subjectFirst ? load(subject, item, &a) && load(plain, item, &b)
                                         : load(plain, item, &b) && load(subject, item, &a);
            if (!ok)
                continue;
            c.subjectMs.append(double(a) / 1e6);
            c.plainMs.append(double(b) / 1e6);
            c.ratios.append(double(a) / double(b));
            c.byKind[item.kind].append(double(a) / double(b));
        }
    }
    return c;
}

void describe(const QString& what, const Comparison& c)
{
    note(QStringLiteral("%1 ms: %2").arg(what, spread(c.subjectMs)));
    note(QStringLiteral("plain view ms: %1").arg(spread(c.plainMs)));
    note(QStringLiteral("ratio of the medians: %1").arg(fixed(median(c.subjectMs) / median(c.plainMs))));
    for (auto it = c.byKind.cbegin(); it != c.byKind.cend(); ++it)
        note(QStringLiteral("ratio, %1 (%2 pairs): %3")
                 .arg(it.key())
                 .arg(it.value().size())
                 .arg(spread(it.value(), 2)));
}

void measureOverhead(const Options& options, const TestSite& site, RecorderSubject& recorder, Subject& plain)
{
    section(QStringLiteral("recording overhead"));
    recorder.main->chkSave()->setChecked(true);
    const Comparison c = compare(recorder, plain, overheadPages(site), options.quick ? 1 : 4,
                                 [&recorder] { recorder.recorder->editor().clearitems(); });
    figure(QStringLiteral("recording overhead: %1 (median of %2 pairs)")
               .arg(fixed(median(c.ratios)))
               .arg(c.ratios.size()));
    describe(QStringLiteral("recorder"), c);
    note(QStringLiteral("steps recorded in the last round: %1")
             .arg(recorder.recorder->editor().store().count()));
}

// Where the overhead comes from: the same comparison for parts of the recorder
// and for a plain view given one of the recorder's additions at a time. The
// variants take turns, one pass over the pages each, so that a change in the
// machine's load touches them all alike.
void diagnoseOverhead(const Options& options, const TestSite& site, RecorderSubject& recorder, Subject& plain)
{
    section(QStringLiteral("overhead by part"));
    const QList<PageItem> items = overheadPages(site);
    const int rounds = options.quick ? 1 : 3;
    const QSize size = recorder.main->brwWebBrowser()->size();
    PlainSubject scripted(QStringLiteral("plain view + the recorder's page script"),
                          WebBrowser::recorderProfile(), size);
    PlainSubject intercepted(QStringLiteral("plain view + an idle request interceptor"), nullptr, size,
                             PlainSubject::RequestInterceptor);
    PlainSubject channelled(QStringLiteral("plain view + a web channel"), nullptr, size,
                            PlainSubject::WebChannel);
    BrowserSubject browser(size);
    FastTimerStopper stopper;

    struct Variant
    {
        Subject* subject;
        bool recording;
        bool stopPoll;
        Comparison result;
    };
    QList<Variant> variants = {{&scripted, false, false, {}},   {&intercepted, false, false, {}},
                               {&channelled, false, false, {}}, {&browser, false, false, {}},
                               {&recorder, false, false, {}},   {&recorder, true, false, {}},
                               {&recorder, true, true, {}}};
    const auto clearSteps = [&recorder] { recorder.recorder->editor().clearitems(); };
    ProfilingApplication::enabled = true;
    for (int round = 0; round < rounds; ++round) {
        for (Variant& v : variants) {
            recorder.main->chkSave()->setChecked(v.recording);
            recorder.suffix = v.stopPoll ? QStringLiteral(", 1 ms poll timer stopped") : QString();
            if (v.stopPoll)
                qApp->installEventFilter(&stopper);
            const Comparison c = compare(*v.subject, plain, items, 1, clearSteps, round == 0);
            qApp->removeEventFilter(&stopper);
            v.result.ratios += c.ratios;
            v.result.subjectMs += c.subjectMs;
            v.result.plainMs += c.plainMs;
            for (auto it = c.byKind.cbegin(); it != c.byKind.cend(); ++it)
                v.result.byKind[it.key()] += it.value();
        }
    }
    ProfilingApplication::enabled = false;
    QStringList names;
    for (Variant& v : variants) {
        recorder.main->chkSave()->setChecked(v.recording);
        recorder.suffix = v.stopPoll ? QStringLiteral(", 1 ms poll timer stopped") : QString();
        const QString name = v.subject->name();
        note(QStringLiteral("%1: %2 (median of %3 pairs)")
                 .arg(name, fixed(median(v.result.ratios)))
                 .arg(v.result.ratios.size()));
        describe(name, v.result);
        names.append(name);
    }
    recorder.main->chkSave()->setChecked(true);
    recorder.suffix.clear();
    names.append(plain.name());
    for (const QString& name : std::as_const(names))
        ProfilingApplication::report(name);
}

// Stamps every request the site logs, from a thread of its own, so that the
// stamps do not wait for the program's event loop.
class ArrivalWatcher
{
public:
    explicit ArrivalWatcher(const TestSite& site) : m_site(site)
    {
        m_thread = std::thread([this] {
            qsizetype seen = 0;
            while (!m_stop) {
                const QList<LoggedRequest> log = m_site.requests();
                const qint64 now = monotonicNs();
                QMutexLocker lock(&m_mutex);
                for (qsizetype i = seen; i < log.size(); ++i)
                    m_arrivals.append({log.at(i), now});
                seen = log.size();
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }
    ~ArrivalWatcher()
    {
        m_stop = true;
        m_thread.join();
    }
    QList<qint64> arrivals(const QByteArray& prefix) const
    {
        QList<qint64> times;
        QMutexLocker lock(&m_mutex);
        for (const auto& [request, at] : m_arrivals) {
            if (request.method == "GET" && request.navigation && request.target.startsWith(prefix))
                times.append(at);
        }
        return times;
    }

private:
    const TestSite& m_site;
    mutable QMutex m_mutex;
    QList<std::pair<LoggedRequest, qint64>> m_arrivals;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void measurePacing(const Options& options, TestSite& site, RecorderSubject& s)
{
    section(QStringLiteral("playback pacing"));
    const int steps = options.quick ? 3 : 10;
    const QByteArray prefix = "/echo/pace-";
    s.recorder->editor().clearitems();
    s.main->chkSave()->setChecked(true);
    for (int i = 1; i <= steps; ++i) {
        if (!s.open(site.url(QString::fromLatin1(prefix) + QString::number(i))))
            return;
    }
    if (s.recorder->editor().store().count() != steps) {
        note(QStringLiteral("pacing: %1 steps recorded instead of %2")
                 .arg(s.recorder->editor().store().count())
                 .arg(steps));
        return;
    }
    settle(500);
    site.clear();
    ArrivalWatcher watcher(site);
    const qint64 play = monotonicNs();
    s.main->Label2_Click();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (watcher.arrivals(prefix).size() >= steps ||
            monotonicNs() - play > qint64(steps + 4) * paceInterval * 1000000)
            loop.quit();
    });
    poll.start(50);
    loop.exec();
    // Let the run end (one more tick) before anything else uses the window.
    for (int i = 0; i < 200 && s.recorder->editor().playback().isActive(); ++i)
        settle(50);

    const QList<qint64> at = watcher.arrivals(prefix);
    if (at.size() != steps) {
        note(QStringLiteral("pacing: the site received %1 of %2 requests").arg(at.size()).arg(steps));
        if (at.size() < 2)
            return;
    }
    double worst = 0;
    double worstFromPlay = 0;
    QStringList offsets;
    for (qsizetype i = 0; i < at.size(); ++i) {
        const double deviation = double(at.at(i) - at.first()) / 1e6 - double(paceInterval) * double(i);
        const double fromPlay = double(at.at(i) - play) / 1e6 - double(paceInterval) * double(i);
        if (std::abs(deviation) > std::abs(worst))
            worst = deviation;
        if (std::abs(fromPlay) > std::abs(worstFromPlay))
            worstFromPlay = fromPlay;
        offsets.append(fixed(fromPlay, 1));
    }
    figure(QStringLiteral("playback pacing: largest deviation %1%2 ms from the %3 ms slots (%4 requests)")
               .arg(worst >= 0 ? QStringLiteral("+") : QString())
               .arg(fixed(worst, 1))
               .arg(paceInterval)
               .arg(at.size()));
    note(QStringLiteral(
             "slots counted from the first request's arrival; from the Play command the largest is %1 ms")
             .arg(fixed(worstFromPlay, 1)));
    note(QStringLiteral("arrival minus slot, from Play, ms: %1").arg(offsets.join(QStringLiteral(", "))));
}

} // namespace

int main(int argc, char* argv[])
{
    // The recorder keeps files in its data folder: use a throw-away one.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));

    WebBrowser::prepareEnvironment();
    ProfilingApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tallyronet-recorder"));
    QApplication::setOrganizationName(QStringLiteral("TallyroNet"));
    QApplication::setQuitOnLastWindowClosed(false);

    Options options;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args.at(i) == u"--quick")
            options.quick = true;
        else if (args.at(i) == u"--only" && i + 1 < args.size())
            options.only = args.at(++i).split(u',', Qt::SkipEmptyParts);
        else {
            std::fprintf(
                stderr,
                "usage: tallyro-bench [--only overhead,startup,memory,pacing,file,diagnose] [--quick]\n");
            return 2;
        }
    }

    TestSite site;
    if (!site.isRunning()) {
        std::fprintf(stderr, "the local site did not start\n");
        return 1;
    }
    const QString logFile = home.filePath(QStringLiteral("children.log"));
    note(QStringLiteral("machine: ") + bench::machineDescription());
    note(QStringLiteral("platform: %1").arg(QGuiApplication::platformName()));
    const qint64 begin = monotonicNs();

    // Children first, while this process runs no engine of its own.
    if (options.wants(QStringLiteral("file")))
        measureFile(options, home.path());
    if (options.wants(QStringLiteral("startup")))
        measureStartup(options, logFile);
    if (options.wants(QStringLiteral("memory")))
        measureMemory(options, site, home.path(), logFile);
    const bool overhead = options.wants(QStringLiteral("overhead"));
    const bool diagnose = options.only.contains(QStringLiteral("diagnose"));
    if (overhead || diagnose || options.wants(QStringLiteral("pacing"))) {
        RecorderSubject recorder;
        if (!recorder.await(QStringLiteral("about:blank"))) {
            note(QStringLiteral("the recorder's start page did not complete"));
            return 1;
        }
        std::optional<PlainSubject> plain;
        if (overhead || diagnose)
            plain.emplace(QStringLiteral("plain view"), nullptr, recorder.main->brwWebBrowser()->size());
        if (overhead)
            measureOverhead(options, site, recorder, *plain);
        if (diagnose)
            diagnoseOverhead(options, site, recorder, *plain);
        if (options.wants(QStringLiteral("pacing")))
            measurePacing(options, site, recorder);
    }
    note(QStringLiteral("[end] load average %1, %2 s in all")
             .arg(bench::loadAverage())
             .arg(double(monotonicNs() - begin) / 1e9, 0, 'f', 0));
    return 0;
}
