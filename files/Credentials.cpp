#include "Credentials.h"

#include "CodePage.h"
#include "Encodings.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <utility>

namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

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

QString fileErrorMessage(const QString& path, const QString& reason)
{
    return QStringLiteral("There is a problem with the file \"%1\": %2.")
        .arg(QDir::toNativeSeparators(path), reason);
}

bool replaceFile(const QString& path, const QByteArray& bytes, bool restrict, QString* reason)
{
    const auto fail = [&](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("it could not be opened for writing (%1)").arg(file.errorString()));
    // The temporary file takes the place of the old one on commit, so its
    // permissions become the file's; set them before anything is written.
    if (restrict && !file.setPermissions(ownerOnly)) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(QStringLiteral("its permissions could not be restricted (%1)").arg(why));
    }
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(QStringLiteral("it could not be written (%1)").arg(why));
    }
    if (!file.commit())
        return fail(QStringLiteral("it could not be written (%1)").arg(file.errorString()));
    return true;
}

CredentialsFile::CredentialsFile(QString path) : m_path(std::move(path)) {}

bool CredentialsFile::fail(const QString& reason)
{
    m_error = fileErrorMessage(m_path, reason);
    return false;
}

bool CredentialsFile::readContent(QString& content)
{
    m_error.clear();
    QFile file(m_path);
    if (!file.exists()) {
        // Reading a missing file creates it empty, as the sign-in window expects
        // the file to exist after it has been loaded once.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly))
            return fail(QStringLiteral("it could not be created (%1)").arg(file.errorString()));
        file.close();
        content.clear();
        return true;
    }
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("it could not be opened for reading (%1)").arg(file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("it could not be read (%1)").arg(file.errorString()));
    content = codepage::fromAnsi(bytes);
    return true;
}

bool CredentialsFile::writeContent(const QByteArray& bytes)
{
    m_error.clear();
    QString reason;
    return replaceFile(m_path, bytes, true, &reason) || fail(reason);
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
