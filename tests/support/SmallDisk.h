#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

#include <unistd.h>

// A small filesystem of its own (tmpfs) mounted on a folder for the test's
// lifetime, to make a disk full or read-only for real. Mounting needs root;
// mounted() tells whether it worked.
class SmallDisk
{
public:
    SmallDisk(const QString& folder, int kilobytes, bool readOnly = false) : m_folder(folder)
    {
        QDir().mkpath(folder);
        if (::geteuid() != 0)
            return;
        QString options = QStringLiteral("size=%1k,mode=0755").arg(kilobytes);
        if (readOnly)
            options += QStringLiteral(",ro");
        m_mounted = QProcess::execute(QStringLiteral("mount"),
                                      {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                       options, QStringLiteral("tmpfs"), folder}) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_folder});
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }

    // Fills what space is left with a file of its own.
    void fill()
    {
        QFile filler(m_folder + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        const QByteArray block(4096, 'f');
        for (int i = 0; i < 1 << 20 && filler.write(block) == block.size() && filler.flush(); ++i) {
        }
        // The last partial block: a byte at a time until the disk refuses.
        for (int i = 0; i < 4096 && filler.write("f", 1) == 1 && filler.flush(); ++i) {
        }
    }

private:
    QString m_folder;
    bool m_mounted = false;
};
