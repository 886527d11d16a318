// Writes the program icon as PNG files in the hicolor theme layout, for the
// build to install: OUTDIR/NxN/apps/NAME.png for every size N given.
//
//   tallyro-icon-gen OUTDIR NAME SIZE...

#include "Pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Drawing needs a GUI session but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QStringList args = QGuiApplication::arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: tallyro-icon-gen OUTDIR NAME SIZE...\n");
        return 2;
    }
    const QDir outDir(args.at(1));
    const QString name = args.at(2);
    for (qsizetype i = 3; i < args.size(); ++i) {
        bool ok = false;
        const int size = args.at(i).toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "tallyro-icon-gen: bad size '%s'\n", qPrintable(args.at(i)));
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString path = outDir.filePath(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
        if (!outDir.mkpath(folder) || !pictures::icon(size).save(path, "PNG")) {
            std::fprintf(stderr, "tallyro-icon-gen: cannot write %s\n", qPrintable(path));
            return 1;
        }
        // Read it back: a file that does not load as a size x size picture is no icon.
        const QImage written(path);
        if (written.size() != QSize(size, size)) {
            std::fprintf(stderr, "tallyro-icon-gen: %s did not come back as %dx%d\n", qPrintable(path), size,
                         size);
            return 1;
        }
    }
    return 0;
}
