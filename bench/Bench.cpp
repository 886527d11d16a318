#include "Bench.h"

#include "BenchSupport.h"

#include <QEventLoop>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace bench {

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
    note(QStringLiteral("[%1] load average %2").arg(name, loadAverage()));
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString spread(const QList<double>& values, int decimals)
{
    return QStringLiteral("p10 %1 / median %2 / p90 %3")
        .arg(fixed(quantile(values, 0.1), decimals), fixed(median(values), decimals),
             fixed(quantile(values, 0.9), decimals));
}

bool sameAddress(const QString& a, const QString& b)
{
    return QUrl(a).toString(QUrl::FullyEncoded) == QUrl(b).toString(QUrl::FullyEncoded);
}

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace bench
