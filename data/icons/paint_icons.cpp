// Writes Corvane's icon as PNG files of the hicolor sizes into a folder:
//   corvane_paint_icons OUTDIR  ->  OUTDIR/<N>x<N>/apps/org.corvane.Corvane.png
#include "shell/appicon.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane_paint_icons OUTDIR\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = out.filePath(QStringLiteral("%1x%1/apps").arg(size));
        if (!QDir().mkpath(folder)
            || !corvane::desktop::corvaneIconImage(size).save(QDir(folder).filePath(QStringLiteral("org.corvane.Corvane.png"))))
            return 1;
    }
    return 0;
}
