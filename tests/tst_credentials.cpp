#include "Credentials.h"
#include "ProgramFolder.h"
#include "TransactionFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

int fileMode(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

bool writeRaw(const QString& path, const QByteArray& bytes, mode_t mode)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QByteArray readRaw(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString commentLines(int count)
{
    QString lines;
    for (int i = 0; i < count; ++i)
        lines += QStringLiteral("# line %1\r\n").arg(i);
    return lines;
}

} // namespace

class TestCredentials : public QObject
{
    Q_OBJECT
private slots:
    void iniFileBytes_data();
    void iniFileBytes();
    void applyIniContent_data();
    void applyIniContent();
    void applySavedUsername_data();
    void applySavedUsername();
    void fileRoundTrip_data();
    void fileRoundTrip();
    void fileIsOwnerOnly_data();
    void fileIsOwnerOnly();
    void unusablePathFails_data();
    void unusablePathFails();
    void programFolderIsCreated();
};

void TestCredentials::iniFileBytes_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("cleared") << QString() << QString() << QByteArray("username=\r\n\r\nkey=\r\n\r\n");
    QTest::newRow("kept as typed") << " a=b "
                                   << "#K3y" << QByteArray("username= a=b \r\n\r\nkey=#K3y\r\n\r\n");
    QTest::newRow("code page") << QStringLiteral("j\u00E9\u20AC") << QStringLiteral("\u0100")
                               << QByteArray("username=j\xE9\x80\r\n\r\nkey=?\r\n\r\n");
}

void TestCredentials::iniFileBytes()
{
    QFETCH(QString, username);
    QFETCH(QString, key);
    QFETCH(QByteArray, expected);

    QCOMPARE(::iniFileBytes({username, key}), expected);
}

void TestCredentials::applyIniContent_data()
{
    // Fields and cSave before reading, content, fields and cSave after.
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<bool>("cSaveBefore");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("cSave");

    const QStringList none{QString(), QString()};
    const QString comments = QStringLiteral("# a comment\r\n   \r\n  #username=x\r\n");

    QTest::newRow("saved") << none << false << "username=jdoe\r\n\r\nkey=K3y\r\n\r\n"
                           << QStringList{"jdoe", "K3y"} << true;
    QTest::newRow("cleared") << QStringList{"u", "k"} << true << "username=\r\n\r\nkey=\r\n\r\n"
                             << none << false;
    QTest::newRow("empty content") << none << true << QString() << none << true;
    QTest::newRow("comments, fields empty") << none << true << comments << none << false;
    QTest::newRow("comments, field filled")
        << QStringList{"u", ""} << false << comments << QStringList{"u", ""} << true;
    QTest::newRow("capitals") << none << false << "USERNAME=Jd\r\nKey=K" << QStringList{"Jd", "K"} << true;
    QTest::newRow("blank around name")
        << QStringList{"u", "k"} << false << " username=x\r\nkey =y" << QStringList{"u", "k"} << true;
    QTest::newRow("spaces trimmed, tabs kept")
        << none << false << "username=  a b  \r\nkey=\tk\t" << QStringList{"a b", "\tk\t"} << true;
    QTest::newRow("a=b") << none << false << "username=a=b\r\nkey= k =c" << QStringList{"a", "k"} << true;
    QTest::newRow("no = or other name")
        << QStringList{"u", "k"} << false << "username\r\nuser=x" << QStringList{"u", "k"} << true;
    QTest::newRow("later line wins") << none << false << "username=first\r\nusername=second"
                                     << QStringList{"second", ""} << true;
    QTest::newRow("username on line 22")
        << none << false << commentLines(21) + "username=late" << QStringList{"late", ""} << true;
    QTest::newRow("LF-only line ends") << none << false << "username=a\nkey=b\n"
                                       << QStringList{"a\nkey", ""} << true;
}

void TestCredentials::applyIniContent()
{
    QFETCH(QStringList, before);
    QFETCH(bool, cSaveBefore);
    QFETCH(QString, content);
    QFETCH(QStringList, after);
    QFETCH(bool, cSave);

    AccountCredentials fields{before.at(0), before.at(1)};
    bool save = cSaveBefore;
    ::applyIniContent(content, fields, save);
    QCOMPARE((QStringList{fields.username, fields.key}), after);
    QCOMPARE(save, cSave);
}

void TestCredentials::applySavedUsername_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("expected"); // the field held "before"

    QTest::newRow("saved") << "username=jdoe\r\n\r\nkey=K3y\r\n\r\n"
                           << "jdoe";
    QTest::newRow("empty content") << QString() << "before";
    QTest::newRow("only key and comments") << "key=K3y\r\n# username=x"
                                           << "before";
    QTest::newRow("first line wins") << "username=\r\nusername=second" << QString();
    QTest::newRow("capitals, a=b") << "UserName= a =b"
                                   << "a";
    QTest::newRow("username on line 21") << commentLines(20) + "username=last"
                                         << "last";
    QTest::newRow("username on line 22") << commentLines(21) + "username=late"
                                         << "before";
    QTest::newRow("LF-only line ends") << "username=a\nkey=b\n"
                                       << "a\nkey";
}

void TestCredentials::applySavedUsername()
{
    QFETCH(QString, content);
    QFETCH(QString, expected);

    QString txtUsername = QStringLiteral("before");
    ::applySavedUsername(content, txtUsername);
    QCOMPARE(txtUsername, expected);
}

void TestCredentials::fileRoundTrip_data()
{
    QTest::addColumn<bool>("clear");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("key");

    QTest::newRow("saved") << false << QStringLiteral("j\u00E9doe") << "K3y";
    QTest::newRow("cleared") << true << QString() << QString();
}

void TestCredentials::fileRoundTrip()
{
    QFETCH(bool, clear);
    QFETCH(QString, username);
    QFETCH(QString, key);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("recorder.ini"));
    QVERIFY(writeRaw(path, "username=old\r\nkey=old\r\n# longer than what replaces it\r\n", 0600));

    CredentialsFile file(path);
    QVERIFY(clear ? file.ClearINIVariables() : file.SaveINIVariables({username, key}));
    // One byte per character: the 21 bytes of the layout plus both values.
    QCOMPARE(readRaw(path).size(), 21 + username.size() + key.size());

    AccountCredentials fields{QStringLiteral("typed"), QStringLiteral("typed")};
    bool cSave = clear;
    QString txtUsername = QStringLiteral("typed");
    QVERIFY(file.LoadINIVariables(fields, cSave));
    QVERIFY(file.loadSavedUsername(txtUsername));
    QCOMPARE(fields.username, username);
    QCOMPARE(fields.key, key);
    QCOMPARE(cSave, !clear);
    QCOMPARE(txtUsername, username);
}

void TestCredentials::fileIsOwnerOnly_data()
{
    QTest::addColumn<QString>("file");      // recorder.ini or recorder.xml
    QTest::addColumn<QString>("before");    // "", "0600", "0644", "link", "dangling"
    QTest::addColumn<QString>("operation"); // load, username, save, clear (the ini); write (the xml)
    QTest::addColumn<bool>("succeeds");

    for (const char* op : {"load", "username", "save", "clear"})
        QTest::addRow("ini missing, %s", op) << "recorder.ini"
                                             << "" << op << true;
    QTest::newRow("ini 0600, save") << "recorder.ini"
                                    << "0600"
                                    << "save" << true;
    QTest::newRow("ini 0644, clear") << "recorder.ini"
                                     << "0644"
                                     << "clear" << true;
    QTest::newRow("ini link, save") << "recorder.ini"
                                    << "link"
                                    << "save" << true;
    QTest::newRow("ini dangling link, load") << "recorder.ini"
                                             << "dangling"
                                             << "load" << false;
    QTest::newRow("ini dangling link, save") << "recorder.ini"
                                             << "dangling"
                                             << "save" << true;
    QTest::newRow("xml missing") << "recorder.xml"
                                 << ""
                                 << "write" << true;
    QTest::newRow("xml 0644") << "recorder.xml"
                              << "0644"
                              << "write" << true;
    QTest::newRow("xml link") << "recorder.xml"
                              << "link"
                              << "write" << true;
    QTest::newRow("xml dangling link") << "recorder.xml"
                                       << "dangling"
                                       << "write" << true;
}

// The files that hold the key end readable by their owner only after every
// write, whatever they were, under any umask, and nothing is ever written
// through a symbolic link in their place: the link's target stays as it was.
void TestCredentials::fileIsOwnerOnly()
{
    QFETCH(QString, file);
    QFETCH(QString, before);
    QFETCH(QString, operation);
    QFETCH(bool, succeeds);

    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    const mode_t umaskBefore = ::umask(0);
    const QString folder = programFolder();
    const QString path = programFile(file);
    const QString target = dir.filePath(QStringLiteral("elsewhere.txt"));
    if (before == u"link" || before == u"dangling") {
        if (before == u"link")
            QVERIFY(writeRaw(target, "someone else's file", 0644));
        QVERIFY(QFile::link(target, path));
    } else if (!before.isEmpty()) {
        QVERIFY(writeRaw(path, "username=old\r\n", static_cast<mode_t>(before.toInt(nullptr, 8))));
    }

    CredentialsFile ini(path);
    AccountCredentials fields{QString(), QStringLiteral("typed")};
    bool cSave = false;
    QString txtUsername = QStringLiteral("typed");
    QString error;
    bool ok = false;
    if (operation == u"load")
        ok = ini.LoadINIVariables(fields, cSave);
    else if (operation == u"username")
        ok = ini.loadSavedUsername(txtUsername);
    else if (operation == u"save")
        ok = ini.SaveINIVariables({"jdoe", "K3y"});
    else if (operation == u"clear")
        ok = ini.ClearINIVariables();
    else
        ok = saveTransactionFile(path, transactionFileBytes({}, {"jdoe", "K3y"}), &error);
    ::umask(umaskBefore);

    QCOMPARE(ok, succeeds);
    QCOMPARE(fileMode(folder), 0700);
    QCOMPARE(readRaw(target), QByteArray(before == u"link" ? "someone else's file" : ""));
    QCOMPARE(QFileInfo::exists(target), before == u"link");
    if (!succeeds) {
        QVERIFY2(ini.errorString().contains(path), qPrintable(ini.errorString()));
        QVERIFY(QFileInfo(path).isSymLink());
        return;
    }
    QVERIFY(!QFileInfo(path).isSymLink());
    QCOMPARE(fileMode(path), 0600);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{file});
    // A missing file is read as an empty one, which changes no field.
    if (operation == u"load" || operation == u"username") {
        QCOMPARE(QFileInfo(path).size(), 0);
        QCOMPARE((QStringList{fields.username, fields.key, txtUsername}),
                 (QStringList{"", "typed", "typed"}));
        QCOMPARE(cSave, false);
    }
}

void TestCredentials::unusablePathFails_data()
{
    QTest::addColumn<bool>("parentIsFile");

    // Permission bits do not stop root, so the path is made unusable by its shape.
    QTest::newRow("parent is a regular file") << true;
    QTest::newRow("path is a folder") << false;
}

void TestCredentials::unusablePathFails()
{
    QFETCH(bool, parentIsFile);

    QTemporaryDir dir;
    QVERIFY(writeRaw(dir.filePath(QStringLiteral("plain")), "x", 0644));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const QString path =
        dir.filePath(parentIsFile ? QStringLiteral("plain/recorder.ini") : QStringLiteral("folder"));
    CredentialsFile file(path);

    AccountCredentials fields{QStringLiteral("u"), QStringLiteral("k")};
    bool cSave = false;
    QString txtUsername = QStringLiteral("u");
    const bool results[] = {file.LoadINIVariables(fields, cSave), file.loadSavedUsername(txtUsername),
                            file.SaveINIVariables(fields), file.ClearINIVariables()};
    QCOMPARE(std::count(std::begin(results), std::end(results), false), 4);
    QCOMPARE((QStringList{fields.username, fields.key, txtUsername}), (QStringList{"u", "k", "u"}));
    QCOMPARE(cSave, false);
    // The reason names the file and adds the system's explanation.
    QVERIFY2(file.errorString().contains(path), qPrintable(file.errorString()));
    QVERIFY(file.errorString().size() > ::fileErrorMessage(path, QString()).size());
    QCOMPARE(readRaw(dir.filePath(QStringLiteral("plain"))), QByteArray("x"));
}

void TestCredentials::programFolderIsCreated()
{
    QTemporaryDir dir;
    const QString dataHome = dir.filePath(QStringLiteral("not/yet/there"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    QCoreApplication::setApplicationName(QStringLiteral("tallyronet-recorder"));

    const QString expected = dataHome + QStringLiteral("/tallyronet-recorder");
    QCOMPARE(programFolder(), expected);
    QVERIFY(QFileInfo(expected).isDir());
    QCOMPARE(programFile(QStringLiteral("recorder.ini")), expected + QStringLiteral("/recorder.ini"));
}

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
