#include "Credentials.h"

#include <QtTest>

class TestCredentials : public QObject
{
    Q_OBJECT
private slots:
    void iniFileBytes_data()
    {
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("cleared") << QString() << QString() << QByteArray("username=\r\n\r\nkey=\r\n\r\n");
        QTest::newRow("kept as typed")
            << u" a=b "_qs << u"#K3y"_qs << QByteArray("username= a=b \r\n\r\nkey=#K3y\r\n\r\n");
        QTest::newRow("code page") << u"j\u00E9\u20AC"_qs << u"\u0100"_qs
                                   << QByteArray("username=j\xE9\x80\r\n\r\nkey=?\r\n\r\n");
    }

    void iniFileBytes()
    {
        QFETCH(QString, username);
        QFETCH(QString, key);
        QTEST(::iniFileBytes({username, key}), "expected");
    }

    // The whole file read into the sign-in window's fields and its Save box, and
    // the saved user name alone (into a field that held "before"). Empty content,
    // values holding '=' and the Save box after a file without entries over a
    // filled field are fuzz_credentials' too; a saved file read back is
    // tst_service_windows' upload.
    void readers_data()
    {
        QTest::addColumn<QStringList>("before"); // the fields and the Save box before reading
        QTest::addColumn<bool>("cSaveBefore");
        QTest::addColumn<QString>("content");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<bool>("cSave");
        QTest::addColumn<QString>("username");
        const QStringList none{QString(), QString()};
        const QStringList typed{u"u"_qs, u"k"_qs};
        const QString comments = u"# a comment\r\n   \r\n  #username=x\r\n"_qs;
        const QString comment = u"# a comment\r\n"_qs;
        QTest::newRow("cleared") << typed << true << u"username=\r\n\r\nkey=\r\n\r\n"_qs << none << false
                                 << QString();
        QTest::newRow("comments, fields empty") << none << true << comments << none << false << u"before"_qs;
        QTest::newRow("spaces trimmed, tabs kept")
            << none << false << u"username=  a b  \r\nkey=\tk\t"_qs << QStringList{u"a b"_qs, u"\tk\t"_qs}
            << true << u"a b"_qs;
        QTest::newRow("blank around the name, no =, another name")
            << typed << false << u" username=x\r\nkey =y\r\nusername\r\nuser=x"_qs << typed << true
            << u"before"_qs;
        QTest::newRow("the whole file: later line wins, the name: the first")
            << none << false << u"username=first\r\nusername=second"_qs
            << QStringList{u"second"_qs, QString()} << true << u"first"_qs;
        QTest::newRow("username on line 21") << none << false << comment.repeated(20) + u"username=last"_qs
                                             << QStringList{u"last"_qs, QString()} << true << u"last"_qs;
        QTest::newRow("username on line 22") << none << false << comment.repeated(21) + u"username=late"_qs
                                             << QStringList{u"late"_qs, QString()} << true << u"before"_qs;
        QTest::newRow("LF-only line ends") << none << false << u"username=a\nkey=b\n"_qs
                                           << QStringList{u"a\nkey"_qs, QString()} << true << u"a\nkey"_qs;
    }

    void readers()
    {
        QFETCH(QStringList, before);
        QFETCH(bool, cSaveBefore);
        QFETCH(QString, content);
        AccountCredentials fields{before.at(0), before.at(1)};
        bool save = cSaveBefore;
        applyIniContent(content, fields, save);
        QTEST((QStringList{fields.username, fields.key}), "after");
        QTEST(save, "cSave");
        QString txtUsername = u"before"_qs;
        applySavedUsername(content, txtUsername);
        QTEST(txtUsername, "username");
    }
};

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
