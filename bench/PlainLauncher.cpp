// The smallest program with an engine view: one QWebEngineView on a profile of
// its own without scripts or interceptors, starting on about:blank; the yardstick
// for the recorder's start-up and memory (see PageWalk.h).

#include "PageWalk.h"

#include <QApplication>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <unistd.h>

int main(int argc, char* argv[])
{
    PageWalk::phase("main");
    // As for the recorder: the engine cannot start its sandbox as root.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    PageWalk::phase("application");

    QWebEngineProfile profile; // off the record
    PageWalk::phase("profile");
    auto* view = new QWebEngineView;
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setPage(new QWebEnginePage(&profile, view));
    view->resize(729, 558); // the recorder's browser area
    view->show();
    PageWalk::phase("windows");

    PageWalk walk(
        QApplication::arguments(), [view](const QString& url) { view->load(QUrl(url)); },
        [view] { view->close(); }, [] { return QString(); });
    QObject::connect(view, &QWebEngineView::loadFinished, &walk,
                     [view, &walk] { walk.pageLoaded(view->url().toString(QUrl::FullyEncoded)); });
    view->load(QUrl(QStringLiteral("about:blank")));
    return QApplication::exec();
}
