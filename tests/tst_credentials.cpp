#include "Credentials.h"
#include "ProgramFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

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
