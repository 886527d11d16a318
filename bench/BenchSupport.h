#pragma once

#include <QList>
#include <QString>

// Small measuring helpers shared by the benchmark and its start-up programs.
namespace bench {

// Nanoseconds on the system's monotonic clock: the same clock in every process,
// so a child can stamp an event that its parent compares with its own stamps.
qint64 monotonicNs();

// Order statistics of a sample; 0 for an empty one. p in [0, 1], interpolated.
double quantile(QList<double> values, double p);
inline double median(const QList<double>& values)
{
    return quantile(values, 0.5);
}

// The process and all its descendants (from /proc), the process first.
QList<int> processTree(int pid);
// Resident set size of one process in KiB (0 once it is gone).
qint64 rssKiB(int pid);
// Proportional set size of one process in KiB: shared pages counted once across the tree.
qint64 pssKiB(int pid);
// Sum over the process tree.
qint64 treeRssKiB(int pid);
qint64 treePssKiB(int pid);

// The 1, 5 and 15 minute load averages as printed by uptime.
QString loadAverage();
// CPU model, cores, memory, kernel and Qt version, on one line.
QString machineDescription();

} // namespace bench
