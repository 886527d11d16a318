#include "RecoveryFile.h"

#include "FileReplace.h"
#include "ProgramFolder.h"

#include <QDataStream>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QtEndian>

namespace {

constexpr quint32 magic = 0x54524543; // "TREC"
constexpr quint32 version = 2;        // 2: the steps' one-time entries follow their label
constexpr qint32 maxSteps = 100000;   // far above what the store holds: a bound for damaged copies

QDataStream& operator<<(QDataStream& out, const RecordedStep& s)
{
    // One-time entries: none known (a null text), or "=" and the names, one per line.
    const QString oneTime = s.oneTime ? QStringLiteral("=") + s.oneTime->join(u'\n') : QString();
    return out << s.url << s.postdata << s.keywords << s.errors << s.timeout << s.ping << s.cookies
               << s.httpuser << s.httppass << s.label << oneTime;
}

// Reads one text, refusing a length the rest of the copy cannot hold: a damaged
// length must not make the reader allocate for text that is not there.
QDataStream& readText(QDataStream& in, QString& text)
{
    const QByteArray head = in.device()->peek(4);
    if (head.size() == 4) {
        const quint32 bytes = qFromBigEndian<quint32>(head.constData());
        if (bytes != 0xffffffffu && bytes > quint64(in.device()->bytesAvailable() - 4)) {
            in.setStatus(QDataStream::ReadCorruptData);
            return in;
        }
    }
    return in >> text;
}

void readStep(QDataStream& in, RecordedStep& s, quint32 copyVersion)
{
    for (QString* text : {&s.url, &s.postdata, &s.keywords, &s.errors, &s.timeout, &s.ping, &s.cookies,
                          &s.httpuser, &s.httppass, &s.label})
        readText(in, *text);
    if (copyVersion < 2)
        return;
    QString oneTime;
    readText(in, oneTime);
    if (oneTime.startsWith(u'='))
        s.oneTime = oneTime.mid(1).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

QString recoveryFile()
{
    return programFile(QStringLiteral("recovery.dat"));
}

QByteArray recoveryBytes(const QList<RecordedStep>& steps)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << magic << version << qint32(steps.size());
    for (const RecordedStep& s : steps)
        out << s;
    return bytes;
}

bool saveRecovery(const QString& path, const QList<RecordedStep>& steps, QString* error)
{
    const QByteArray bytes = recoveryBytes(steps);
    QString reason;
    if (replaceFile(path, bytes, FileKind::RecoveryCopy, &reason))
        return true;
    if (error)
        *error = fileErrorMessage(path, reason);
    return false;
}

RecoveryRead readRecovery(const QByteArray& bytes)
{
    RecoveryRead read;
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_4);
    quint32 m = 0;
    quint32 v = 0;
    qint32 count = 0;
    in >> m >> v >> count;
    if (in.status() != QDataStream::Ok || m != magic || v < 1 || v > version) {
        read.damaged = true;
        return read;
    }
    // A count beyond what could be stored is damage too; the steps that follow
    // are still read, up to where the bytes stop making steps.
    read.damaged = count < 0 || count > maxSteps;
    const qint32 wanted = read.damaged ? maxSteps : count;
    for (qint32 i = 0; i < wanted; ++i) {
        RecordedStep s;
        readStep(in, s, v);
        if (in.status() != QDataStream::Ok) {
            read.damaged = true;
            return read;
        }
        read.steps.append(s);
    }
    if (!in.atEnd())
        read.damaged = true;
    return read;
}

std::optional<RecoveryRead> loadRecovery(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        return RecoveryRead{{}, true};
    // Far more than 150 steps of any size the editor takes; a larger file is damaged.
    constexpr qint64 largest = 256LL * 1024 * 1024;
    if (file.size() > largest)
        return RecoveryRead{{}, true};
    return readRecovery(file.readAll());
}

QString keepDamagedCopy(const QString& path)
{
    const QString stem = path + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = stem;
    for (int n = 1; QFileInfo::exists(aside) && n < 1000; ++n)
        aside = stem + QStringLiteral("-%1").arg(n);
    if (!QFile::rename(path, aside))
        return {};
    QFile::setPermissions(aside, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return aside;
}
