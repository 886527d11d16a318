// Write and import of a large transaction file.

#include "Bench.h"
#include "BenchSupport.h"
#include "Credentials.h"
#include "Encodings.h"
#include "StepStore.h"
#include "TransactionFile.h"
#include "TransactionImport.h"
#include "frmControlPanel.h"

#include <QFile>

namespace bench {
namespace {

constexpr int fieldLength = 1024;

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

// The import as the main window applies it, without the message boxes.
QStringList importInto(const QString& path, StepStore& store, frmControlPanel* editor)
{
    const TransactionImport result = importTransactionFile(path, store);
    if (editor)
        editor->applyImport(result);
    QStringList messages;
    for (const TransactionImport::Message& m : result.messages)
        messages << m.text;
    return messages;
}

} // namespace

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
    RecordingSession session;
    frmControlPanel editor(session);
    QList<double> importEditor, importStore;
    for (int i = 0; i < runs + 2; ++i) {
        const qint64 t0 = monotonicNs();
        const QStringList messages = importInto(path, editor.store(), &editor);
        const qint64 t1 = monotonicNs();
        if (!messages.isEmpty() || editor.store().count() != transactionSteps) {
            note(QStringLiteral("file: import ended with %1 steps, messages: %2")
                     .arg(editor.store().count())
                     .arg(messages.join(QStringLiteral(" | "))));
            return;
        }
        if (i >= 2)
            importEditor.append(double(t1 - t0) / 1000.0);
    }
    StepStore store;
    for (int i = 0; i < runs + 2; ++i) {
        const qint64 t0 = monotonicNs();
        importInto(path, store, nullptr);
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

} // namespace bench
