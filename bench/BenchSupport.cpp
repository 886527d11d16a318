#include "BenchSupport.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <QSysInfo>
#include <QThread>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace bench {

namespace {

QByteArray readProcFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll(); // files in /proc report size 0: read until the end
}

// Value in kB of a "Name:   1234 kB" line.
qint64 kbField(const QByteArray& text, const QByteArray& name)
{
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith(name)) {
            const QList<QByteArray> parts = line.mid(name.size()).simplified().split(' ');
            return parts.isEmpty() ? 0 : parts.first().toLongLong();
        }
    }
    return 0;
}

// Parent pid from /proc/<pid>/stat; the command name may hold blanks and brackets.
int parentOf(int pid)
{
    const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 1 ? fields.at(1).toInt() : -1;
}

} // namespace

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double quantile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const double pos = std::clamp(p, 0.0, 1.0) * double(values.size() - 1);
    const auto lower = qsizetype(std::floor(pos));
    const auto upper = qsizetype(std::ceil(pos));
    const double frac = pos - double(lower);
    return values.at(lower) * (1 - frac) + values.at(upper) * frac;
}

QList<int> processTree(int pid)
{
    QHash<int, QList<int>> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : entries) {
        bool numeric = false;
        const int p = name.toInt(&numeric);
        if (numeric)
            children[parentOf(p)].append(p);
    }
    QList<int> tree{pid};
    for (qsizetype i = 0; i < tree.size(); ++i)
        tree.append(children.value(tree.at(i)));
    return tree;
}

qint64 rssKiB(int pid)
{
    return kbField(readProcFile(QStringLiteral("/proc/%1/status").arg(pid)), "VmRSS:");
}

qint64 pssKiB(int pid)
{
    return kbField(readProcFile(QStringLiteral("/proc/%1/smaps_rollup").arg(pid)), "Pss:");
}

qint64 treeRssKiB(int pid)
{
    qint64 sum = 0;
    for (int p : processTree(pid))
        sum += rssKiB(p);
    return sum;
}

qint64 treePssKiB(int pid)
{
    qint64 sum = 0;
    for (int p : processTree(pid))
        sum += pssKiB(p);
    return sum;
}

QString loadAverage()
{
    const QList<QByteArray> parts = readProcFile(QStringLiteral("/proc/loadavg")).split(' ');
    if (parts.size() < 3)
        return QStringLiteral("?");
    return QString::fromLatin1(parts.at(0) + ' ' + parts.at(1) + ' ' + parts.at(2));
}

QString machineDescription()
{
    QString cpu = QStringLiteral("unknown CPU");
    for (const QByteArray& line : readProcFile(QStringLiteral("/proc/cpuinfo")).split('\n')) {
        if (line.startsWith("model name")) {
            cpu = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
            break;
        }
    }
    const qint64 memKiB = kbField(readProcFile(QStringLiteral("/proc/meminfo")), "MemTotal:");
    return QStringLiteral("%1, %2 cores, %3 GiB RAM, %4 %5, kernel %6, Qt %7")
        .arg(cpu)
        .arg(QThread::idealThreadCount())
        .arg(double(memKiB) / (1024.0 * 1024.0), 0, 'f', 1)
        .arg(QSysInfo::prettyProductName(), QSysInfo::currentCpuArchitecture(), QSysInfo::kernelVersion(),
             QString::fromLatin1(qVersion()));
}

} // namespace bench
