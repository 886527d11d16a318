#pragma once

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <unistd.h>

// What both start-up programs of the benchmark do with their browser, reported on
// standard output one line per event:
//   "ready <ns>"   the first page (the start page) completed; <ns> on the monotonic clock
//   "done <text>"  every page of the list completed; <text> is the program's summary
//   "error <text>" a page did not complete in time; the program exits with status 2
//   "phase <name> <ns>" a step of the program's start (see phase())
// With "--pages FILE" the program then loads the addresses in FILE (one a line) one
// after the other and, after "done", waits for a line (or the end) on standard input
// before it closes its windows. Without it the program closes after "ready".
class PageWalk : public QObject
{
public:
    using Navigate = std::function<void(const QString& url)>;
    using Close = std::function<void()>;
    using Summary = std::function<QString()>;

    static constexpr int pageTimeoutMs = 20000;

    PageWalk(const QStringList& arguments, Navigate navigate, Close close, Summary summary)
        : m_navigate(std::move(navigate)), m_close(std::move(close)), m_summary(std::move(summary))
    {
        const qsizetype at = arguments.indexOf(QStringLiteral("--pages"));
        if (at >= 0 && at + 1 < arguments.size()) {
            QFile list(arguments.at(at + 1));
            if (list.open(QIODevice::ReadOnly | QIODevice::Text)) {
                for (const QByteArray& line : list.readAll().split('\n')) {
                    if (!line.trimmed().isEmpty())
                        m_pages.append(QString::fromUtf8(line.trimmed()));
                }
            }
        }
        m_timeout.setSingleShot(true);
        m_timeout.setInterval(pageTimeoutMs);
        connect(&m_timeout, &QTimer::timeout, this, [this] {
            report("error " +
                   (m_started ? m_pages.value(m_next - 1) : QStringLiteral("start page")).toUtf8() +
                   " did not complete");
            ::_exit(2);
        });
        m_timeout.start();
    }

    // To be called for every completed document, with its address.
    void pageLoaded(const QString& url)
    {
        if (!m_started) {
            m_started = true;
            report("ready " + QByteArray::number(bench::monotonicNs()));
            if (m_pages.isEmpty()) {
                m_timeout.stop();
                QTimer::singleShot(0, this, [this] { m_close(); });
                return;
            }
            loadNext();
            return;
        }
        if (m_next == 0 || m_next > m_pages.size() || !sameAddress(url, m_pages.at(m_next - 1)))
            return; // a frame's document, or a page of the list seen again
        if (m_next < m_pages.size()) {
            // Outside the browser's own signal handling.
            QTimer::singleShot(0, this, [this] { loadNext(); });
            return;
        }
        m_timeout.stop();
        ++m_next;
        report("done " + m_summary().toUtf8());
        auto* input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(input, &QSocketNotifier::activated, this, [this, input] {
            input->setEnabled(false);
            m_close();
        });
    }

    // Reports that the program reached a named step of its start.
    static void phase(const char* name)
    {
        report(QByteArray("phase ") + name + ' ' + QByteArray::number(bench::monotonicNs()));
    }

private:
    static bool sameAddress(const QString& a, const QString& b)
    {
        return QUrl(a).toString(QUrl::FullyEncoded) == QUrl(b).toString(QUrl::FullyEncoded);
    }

    static void report(const QByteArray& line)
    {
        std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    void loadNext()
    {
        m_timeout.start();
        m_navigate(m_pages.at(m_next++));
    }

    Navigate m_navigate;
    Close m_close;
    Summary m_summary;
    QStringList m_pages;
    qsizetype m_next = 0;
    bool m_started = false;
    QTimer m_timeout;
};
