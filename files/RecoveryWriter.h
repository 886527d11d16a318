#pragma once

#include "RecordedStep.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <memory>
#include <optional>

// Keeps the recovery copy up to date from a thread of its own. Replacing the
// file (a new file renamed over the old one) makes the file system start writing
// it out, which takes the better part of a millisecond; in the program's thread
// that slowed every page load while recording. The newest steps win: steps
// handed over while a write is under way are written right after it, any in
// between are passed over.
class RecoveryWriter : public QObject
{
    Q_OBJECT
public:
    explicit RecoveryWriter(const QString& path, QObject* parent = nullptr);
    ~RecoveryWriter() override; // writes what was handed over, then ends the thread

    // The steps to keep; none removes the copy.
    void keep(const QList<RecordedStep>& steps);

signals:
    // After each write, from the writer's thread: whether it succeeded, and why not.
    void written(bool ok, const QString& error);

private:
    void run();

    const QString m_path;
    QMutex m_mutex;
    QWaitCondition m_wake;
    std::optional<QList<RecordedStep>> m_pending;
    bool m_stop = false;
    std::unique_ptr<QThread> m_thread;
};
