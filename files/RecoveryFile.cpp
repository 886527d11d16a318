#include "RecoveryFile.h"

#include "Credentials.h"
#include "ProgramFolder.h"

#include <QDataStream>
#include <QFile>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr quint32 magic = 0x54524543; // "TREC"
constexpr quint32 version = 1;
constexpr qint32 maxSteps = 100000; // far above what the store holds: a bound for damaged copies

QDataStream& operator<<(QDataStream& out, const RecordedStep& s)
{
    return out << s.url << s.postdata << s.keywords << s.errors << s.timeout << s.ping << s.cookies
               << s.httpuser << s.httppass << s.label;
}

QDataStream& operator>>(QDataStream& in, RecordedStep& s)
{
    return in >> s.url >> s.postdata >> s.keywords >> s.errors >> s.timeout >> s.ping >> s.cookies >>
           s.httpuser >> s.httppass >> s.label;
}

// Replaces the file by renaming a finished temporary copy over it, so a reader
// sees the old copy or the new one, never a part. Unlike the user's files it is
// not synced to disk: the copy guards against the program dying, not the machine,
// and it is written several times per recorded page.
bool replaceUnsynced(const QString& path, const QByteArray& bytes, QString* reason)
{
    QTemporaryFile file(path + QStringLiteral(".XXXXXX")); // created readable by its owner only
    if (!file.open()) {
        *reason = QStringLiteral("it could not be opened for writing (%1)").arg(file.errorString());
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *reason = QStringLiteral("it could not be written (%1)").arg(file.errorString());
        return false;
    }
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
        *reason = QStringLiteral("it could not be written (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    file.setAutoRemove(false);
    return true;
}

} // namespace

QString recoveryFile()
{
    return programFile(QStringLiteral("recovery.dat"));
}

bool saveRecovery(const QString& path, const QList<RecordedStep>& steps, QString* error)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << magic << version << qint32(steps.size());
    for (const RecordedStep& s : steps)
        out << s;
    QString reason;
    if (replaceUnsynced(path, bytes, &reason))
        return true;
    if (error)
        *error = fileErrorMessage(path, reason);
    return false;
}

std::optional<QList<RecordedStep>> loadRecovery(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QDataStream in(&file);
    in.setVersion(QDataStream::Qt_6_4);
    quint32 m = 0;
    quint32 v = 0;
    qint32 count = 0;
    in >> m >> v >> count;
    if (in.status() != QDataStream::Ok || m != magic || v != version || count < 0 || count > maxSteps)
        return std::nullopt;
    QList<RecordedStep> steps;
    for (qint32 i = 0; i < count; ++i) {
        RecordedStep s;
        in >> s;
        if (in.status() != QDataStream::Ok)
            return std::nullopt;
        steps.append(s);
    }
    return steps;
}
