#include "Credentials.h"

#include "CodePage.h"
#include "Encodings.h"
#include "ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <utility>

namespace {} // namespace

QStringList iniLines(const QString& content)
{
    return content.split(QStringLiteral("\r\n"));
}

bool parseIniLine(const QString& line, QString& name, QString& value)
{
    const QString trimmed = trimSpaces(line);
    if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
        return false;
    const qsizetype first = line.indexOf(u'=');
    if (first < 0)
        return false;
    const qsizetype second = line.indexOf(u'=', first + 1);
    name = line.left(first).toLower();
    value = trimSpaces(second < 0 ? line.mid(first + 1) : line.mid(first + 1, second - first - 1));
    return true;
}

void applyIniContent(const QString& content, AccountCredentials& fields, bool& cSave)
{
    if (content.isEmpty())
        return;
    QString name;
    QString value;
    for (const QString& line : iniLines(content)) {
        if (!parseIniLine(line, name, value))
            continue;
        if (name == u"username")
            fields.username = value;
        else if (name == u"key")
            fields.key = value;
    }
    cSave = !fields.username.isEmpty() || !fields.key.isEmpty();
}

void applySavedUsername(const QString& content, QString& txtUsername)
{
    if (content.isEmpty())
        return;
    const QStringList lines = iniLines(content);
    const qsizetype count = qMin<qsizetype>(lines.size(), CredentialsFile::usernameLineLimit);
    QString name;
    QString value;
    for (qsizetype i = 0; i < count; ++i) {
        if (parseIniLine(lines.at(i), name, value) && name == u"username") {
            txtUsername = value;
            return;
        }
    }
}

QByteArray iniFileBytes(const AccountCredentials& fields)
{
    const QString text = QStringLiteral("username=") + fields.username + QStringLiteral("\r\n\r\nkey=") +
                         fields.key + QStringLiteral("\r\n\r\n");
    return codepage::toAnsi(text);
}

CredentialsFile::CredentialsFile(QString path) : m_path(std::move(path)) {}

bool CredentialsFile::fail(const QString& reason)
{
    m_error = fileErrorMessage(m_path, reason);
    return false;
}

CredentialsFile CredentialsFile::recorderIni()
{
    return CredentialsFile(programFile(QStringLiteral("recorder.ini")));
}

bool CredentialsFile::readContent(QString& content)
{
    m_error.clear();
    // Reading a missing file creates it empty, as the sign-in window expects the
    // file to exist after it has been loaded once.
    QByteArray bytes;
    QString reason;
    if (!readOrCreateFile(m_path, &bytes, &reason))
        return fail(reason);
    content = codepage::fromAnsi(bytes);
    return true;
}

bool CredentialsFile::writeContent(const QByteArray& bytes)
{
    m_error.clear();
    QString reason;
    return replaceFile(m_path, bytes, FileKind::KeyHolder, &reason) || fail(reason);
}

bool CredentialsFile::LoadINIVariables(AccountCredentials& fields, bool& cSave)
{
    QString content;
    if (!readContent(content))
        return false;
    applyIniContent(content, fields, cSave);
    return true;
}

bool CredentialsFile::loadSavedUsername(QString& txtUsername)
{
    QString content;
    if (!readContent(content))
        return false;
    applySavedUsername(content, txtUsername);
    return true;
}

bool CredentialsFile::SaveINIVariables(const AccountCredentials& fields)
{
    return writeContent(iniFileBytes(fields));
}

bool CredentialsFile::ClearINIVariables()
{
    return writeContent(iniFileBytes({}));
}
