#include "FileReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool fail(QString* reason, const QString& why)
{
    if (reason)
        *reason = why;
    return false;
}

// Makes the rename itself durable.
void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool replaceFile(const QString& path, const QByteArray& bytes, FileKind kind, QString* reason)
{
    const QFileInfo info(path);
    const bool keyHolder = kind != FileKind::UserFile;
    // A user's link is written through, as the user chose it; a key holder's
    // link is replaced by the file itself.
    const QString target = !keyHolder && info.isSymLink() ? info.symLinkTarget() : path;
    const QFileInfo targetInfo(target);
    QFileDevice::Permissions permissions = ownerOnly;
    if (!keyHolder && targetInfo.exists())
        permissions = QFile::permissions(target);

    QTemporaryFile file(targetInfo.absolutePath() + QStringLiteral("/.") + targetInfo.fileName() +
                        QStringLiteral(".XXXXXX"));
    if (!file.open())
        return fail(reason,
                    QStringLiteral("it could not be opened for writing (%1)").arg(file.errorString()));
    if (!file.setPermissions(permissions))
        return fail(reason, QStringLiteral("its permissions could not be set (%1)").arg(file.errorString()));
    // The write is buffered: only the flush tells whether the bytes found room.
    if (file.write(bytes) != bytes.size() || !file.flush())
        return fail(reason, QStringLiteral("it could not be written (%1)").arg(file.errorString()));
    if (kind != FileKind::RecoveryCopy && ::fsync(file.handle()) != 0)
        return fail(reason, QStringLiteral("it could not be written (%1)").arg(systemError()));
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(target).constData()) !=
        0)
        return fail(reason, QStringLiteral("it could not be replaced (%1)").arg(systemError()));
    file.setAutoRemove(false);
    if (kind != FileKind::RecoveryCopy)
        syncFolder(targetInfo.absolutePath());
    return true;
}

bool readOrCreateFile(const QString& path, QByteArray* bytes, QString* reason)
{
    bytes->clear();
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        *bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return fail(reason, QStringLiteral("it could not be read (%1)").arg(file.errorString()));
        return true;
    }
    if (QFileInfo::exists(path) || file.error() != QFileDevice::OpenError)
        return fail(reason,
                    QStringLiteral("it could not be opened for reading (%1)").arg(file.errorString()));
    if (QFileInfo(path).isSymLink())
        return fail(reason, QStringLiteral("it is a symbolic link to a missing file, which is not followed"));
    // O_EXCL with O_NOFOLLOW: a link that appeared meanwhile is not followed either.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(reason, QStringLiteral("it could not be created (%1)").arg(systemError()));
    ::close(fd);
    return true;
}

QString fileErrorMessage(const QString& path, const QString& reason)
{
    return QStringLiteral("There is a problem with the file \"%1\": %2.")
        .arg(QDir::toNativeSeparators(path), reason);
}
