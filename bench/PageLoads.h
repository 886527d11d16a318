#pragma once

#include "Bench.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QMap>
#include <QMetaEnum>
#include <QString>
#include <QTimer>

namespace bench {

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

} // namespace bench
