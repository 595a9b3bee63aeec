// Draws the program's emblem as the desktop's icon files, one PNG per size:
//   kestrix-icon DIRECTORY  ->  DIRECTORY/<size>x<size>/kestrix.png
#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>

#include "shell/artwork.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrix-icon DIRECTORY\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1x%1").arg(size);
        const QString file = root.filePath(folder + QStringLiteral("/kestrix.png"));
        // The blue emblem is the one the running program shows.
        if (!root.mkpath(folder) || !kestrix::emblem(kestrix::kIconBlue, size).save(file, "PNG")) {
            std::fprintf(stderr, "kestrix-icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
