#include "Pictures.h"
#include "Recorder.h"
#include "WebBrowser.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    WebBrowser::prepareEnvironment();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tallyronet-recorder"));
    QApplication::setOrganizationName(QStringLiteral("TallyroNet"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tallyronet-recorder"));
    QApplication::setWindowIcon(pictures::appIcon());
    QApplication::setQuitOnLastWindowClosed(true);

    Recorder recorder(WebBrowser::recorderProfile());
    recorder.start();
    return QApplication::exec();
}
