#include "RecoveryWriter.h"

#include "RecoveryFile.h"

#include <QFile>

#include <sys/resource.h>
#include <unistd.h>

RecoveryWriter::RecoveryWriter(const QString& path, QObject* parent) : QObject(parent), m_path(path)
{
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->start();
}

RecoveryWriter::~RecoveryWriter()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_wake.wakeAll();
    }
    m_thread->wait();
}

void RecoveryWriter::keep(const QList<RecordedStep>& steps)
{
    QMutexLocker lock(&m_mutex);
    m_pending = steps; // shares the strings: no copy of the steps' text
    m_wake.wakeAll();
}

void RecoveryWriter::run()
{
    // At the lowest priority: woken at every recorded step, the writer would
    // otherwise take the processor from the program's thread in the middle of a
    // page load. It still gets its share, so the copy follows within moments.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    QMutexLocker lock(&m_mutex);
    for (;;) {
        while (!m_pending && !m_stop)
            m_wake.wait(&m_mutex);
        if (!m_pending)
            return; // stopped, everything written
        const QList<RecordedStep> steps = std::move(*m_pending);
        m_pending.reset();
        lock.unlock();
        if (steps.isEmpty()) {
            QFile::remove(m_path);
        } else {
            QString error;
            const bool ok = saveRecovery(m_path, steps, &error);
            emit written(ok, error);
        }
        lock.relock();
    }
}
