// The recorder.ini readers on any file content: lines, entries, the whole file
// and the saved user name; what is read and saved again reads back the same.
#include "Credentials.h"
#include "FuzzSupport.h"

namespace {

const QString crlf = QStringLiteral("\r\n");

void checkLines(const QString& content)
{
    const QStringList lines = iniLines(content);
    FUZZ_CHECK(lines.join(crlf) == content);
    QString name;
    QString value;
    for (const QString& line : lines) {
        FUZZ_CHECK(!line.contains(crlf));
        if (!parseIniLine(line, name, value))
            continue;
        FUZZ_CHECK(name == name.toLower());
        FUZZ_CHECK(!value.contains(u'='));
        FUZZ_CHECK(!value.startsWith(u' ') && !value.endsWith(u' '));
    }
}

void checkFile(const QString& content)
{
    // Fields the window held before the file was read.
    AccountCredentials fields{QStringLiteral("typed user"), QStringLiteral("typed key")};
    bool cSave = false;
    applyIniContent(content, fields, cSave);
    if (content.isEmpty()) {
        FUZZ_CHECK(fields.username == u"typed user" && fields.key == u"typed key" && !cSave);
    } else {
        FUZZ_CHECK(cSave == (!fields.username.isEmpty() || !fields.key.isEmpty()));
    }

    // Read into empty fields, save, read again: the same pair.
    AccountCredentials read;
    bool readSave = false;
    applyIniContent(content, read, readSave);
    const QString saved = codepage::fromAnsi(iniFileBytes(read));
    AccountCredentials again;
    bool againSave = false;
    applyIniContent(saved, again, againSave);
    FUZZ_CHECK(again.username == read.username);
    FUZZ_CHECK(again.key == read.key);
    FUZZ_CHECK(againSave == readSave);

    QString savedName = QStringLiteral("typed user");
    applySavedUsername(saved, savedName);
    FUZZ_CHECK(savedName == read.username);

    QString txtUsername = QStringLiteral("typed user");
    applySavedUsername(content, txtUsername);
    FUZZ_CHECK(!txtUsername.contains(u'=') && !txtUsername.contains(crlf));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The file is read one character per byte in the code page.
    const QString content = fuzz::codePageText(data, size);
    checkLines(content);
    checkFile(content);
    return 0;
}
