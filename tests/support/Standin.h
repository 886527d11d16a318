#pragma once

#include <QProcess>

// Starts the local stand-in of the service (the test's TALLYRO_STANDIN_SERVICE)
// on a free port of 127.0.0.1 with an accounts file, a folder for what it
// receives and further options; its "host:port", or nothing when it did not come up.
inline QByteArray startStandin(QProcess& process, const QString& accounts, const QString& store,
                               const QStringList& options = {})
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(TALLYRO_STANDIN_SERVICE),
                  QStringList{u"--port"_qs, u"0"_qs, u"--accounts"_qs, accounts, u"--store"_qs, store} +
                      options);
    if (!process.waitForStarted(5000))
        return {};
    QByteArray line;
    for (int i = 0; i < 50 && !line.endsWith('\n'); ++i) {
        process.waitForReadyRead(200);
        line += process.readLine();
    }
    return line.startsWith("Listening on ") ? line.mid(13).trimmed() : QByteArray();
}
