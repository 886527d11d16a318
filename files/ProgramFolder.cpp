#include "ProgramFolder.h"

#include <QDir>
#include <QStandardPaths>

QString programFolder()
{
    const QString folder = QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    QDir().mkpath(folder);
    return folder;
}

QString programFile(const QString& name)
{
    return programFolder() + u'/' + name;
}
