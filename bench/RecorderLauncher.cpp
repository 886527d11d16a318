// The recorder as app/main.cpp starts it, with a report of its first completed page
// (see PageWalk.h), for the start-up and memory measurements.

#include "PageWalk.h"
#include "Recorder.h"
#include "WebBrowser.h"
#include "frmBrowser.h"
#include "frmControlPanel.h"

#include <QApplication>
#include <QComboBox>

int main(int argc, char* argv[])
{
    PageWalk::phase("main");
    WebBrowser::prepareEnvironment();
    QApplication app(argc, argv);
    PageWalk::phase("application");
    QApplication::setApplicationName(QStringLiteral("tallyronet-recorder"));
    QApplication::setOrganizationName(QStringLiteral("TallyroNet"));
    QApplication::setQuitOnLastWindowClosed(true);

    QWebEngineProfile* profile = WebBrowser::recorderProfile();
    PageWalk::phase("profile");
    Recorder recorder(profile);
    PageWalk::phase("editor");
    frmBrowser* main = recorder.start();
    PageWalk::phase("windows");

    // Pages are entered in the address box, as a user types them.
    PageWalk walk(
        QApplication::arguments(),
        [main](const QString& url) {
            main->cboAddress()->setEditText(url);
            main->cboAddress_Click();
        },
        [main] { main->close(); },
        [&recorder] { return QStringLiteral("steps=%1").arg(recorder.editor().store().count()); });
    QObject::connect(main->brwWebBrowser(), &WebBrowser::DocumentComplete, &walk, &PageWalk::pageLoaded);
    return QApplication::exec();
}
