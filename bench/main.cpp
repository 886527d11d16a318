// tallyro-bench: measures the recorder against a plain engine view and prints one
// line per figure on standard output; details and the machine's load go to
// standard error. Run it on a display (xvfb-run -a) or with QT_QPA_PLATFORM=offscreen.
//
//   tallyro-bench [--only overhead,startup,memory,pacing,file,check,diagnose,frames,floor] [--quick]
//
// "diagnose" (only when named) repeats the page-load comparison for parts of the
// recorder, to show where a page-load overhead comes from; "frames" (only when
// named) does so for the three-frame page alone; "floor" (only when named)
// measures the realistic pages against plain views given what a script capture
// costs before it does anything.

#include "Bench.h"
#include "BenchSupport.h"
#include "PageLoads.h"
#include "TestSite.h"
#include "WebBrowser.h"

#include <QTemporaryDir>

#include <cstdio>

using namespace bench;

int main(int argc, char* argv[])
{
    // The recorder keeps files in its data folder: use a throw-away one.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));

    WebBrowser::prepareEnvironment();
    ProfilingApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tallyronet-recorder"));
    QApplication::setOrganizationName(QStringLiteral("TallyroNet"));
    QApplication::setQuitOnLastWindowClosed(false);

    Options options;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args.at(i) == u"--quick") {
            options.quick = true;
        } else if (args.at(i) == u"--only" && i + 1 < args.size()) {
            options.only = args.at(++i).split(u',', Qt::SkipEmptyParts);
        } else {
            std::fprintf(stderr, "usage: tallyro-bench [--only "
                                 "overhead,startup,memory,pacing,file,check,diagnose,frames,floor] "
                                 "[--quick]\n");
            return 2;
        }
    }

    TestSite site;
    if (!site.isRunning()) {
        std::fprintf(stderr, "the local site did not start\n");
        return 1;
    }
    const QString logFile = home.filePath(QStringLiteral("children.log"));
    note(QStringLiteral("machine: ") + machineDescription());
    note(QStringLiteral("platform: %1").arg(QGuiApplication::platformName()));
    const qint64 begin = monotonicNs();

    // Child programs first, while this process runs no engine of its own.
    if (options.wants(QStringLiteral("file")))
        measureFile(options, home.path());
    if (options.wants(QStringLiteral("startup")))
        measureStartup(options, logFile);
    if (options.wants(QStringLiteral("memory")))
        measureMemory(options, site, home.path(), logFile);
    if (!measureInProcess(options, site))
        return 1;
    if (options.wants(QStringLiteral("check")))
        measureCheck(options, site);
    note(QStringLiteral("[end] load average %1, %2 s in all")
             .arg(loadAverage())
             .arg(double(monotonicNs() - begin) / 1e9, 0, 'f', 0));
    return 0;
}
