#pragma once

#include "FileReplace.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The service account's sign-in pair, as the user typed it.
struct AccountCredentials
{
    QString username;
    QString key;
};

// Contents of the credentials file (recorder.ini), without any file access.
// Lines end with CR LF only; a line that, with spaces trimmed, is empty or
// starts with "#" is ignored; an entry is name "=" value, where the name is
// lower-cased but not trimmed and the value (up to a second "=") is trimmed of
// spaces.

// The content split at every CR LF pair.
QStringList iniLines(const QString& content);

// Reads one line as an entry. False for blank and comment lines and for lines
// without "=".
bool parseIniLine(const QString& line, QString& name, QString& value);

// Applies every "username" and "key" entry in order, later ones overriding
// earlier ones, then sets cSave when either field is non-empty. Empty content
// changes nothing, cSave included.
void applyIniContent(const QString& content, AccountCredentials& fields, bool& cSave);

// Takes the first "username" entry among the first 21 lines; txtUsername keeps
// its text when there is none.
void applySavedUsername(const QString& content, QString& txtUsername);

// The file's bytes: "username=" name, two line breaks, "key=" key, two line
// breaks, in the program's code page.
QByteArray iniFileBytes(const AccountCredentials& fields);

// The credentials file itself. It holds the key in plain text, so it is kept
// readable and writable by its owner only. Each method opens and closes the
// file; on failure it returns false, changes nothing, and errorString() names
// the file and the reason.
class CredentialsFile
{
public:
    static constexpr int usernameLineLimit = 21;

    explicit CredentialsFile(QString path);
    // The program's own: recorder.ini in its data folder.
    static CredentialsFile recorderIni();

    const QString& path() const { return m_path; }

    // Reads the file into the fields (see applyIniContent). A missing file is
    // created empty.
    bool LoadINIVariables(AccountCredentials& fields, bool& cSave);
    // Reads only the user name (see applySavedUsername). A missing file is
    // created empty.
    bool loadSavedUsername(QString& txtUsername);
    // Replaces the file as a whole with the fields.
    bool SaveINIVariables(const AccountCredentials& fields);
    // Replaces the file as a whole with both values empty.
    bool ClearINIVariables();

    // Why the last call failed, as a sentence naming the file; empty after success.
    QString errorString() const { return m_error; }

private:
    bool readContent(QString& content);
    bool writeContent(const QByteArray& bytes);
    bool fail(const QString& reason);

    QString m_path;
    QString m_error;
};
