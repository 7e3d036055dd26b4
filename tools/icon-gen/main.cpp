// korvane-icon-gen: writes the desktop program's icon as the PNG files of an
// icon theme, from the drawing the program itself shows, so the installed
// icon and the window's icon cannot drift apart. The build runs it; the same
// Qt draws the same bytes every time (no time or text chunks are written).
//
//   korvane-icon-gen DIR SIZE...   writes DIR/SIZExSIZE/apps/korvane-field-loader.png

#include "app/AppIcon.h"

#include <QDir>
#include <QImageWriter>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: korvane-icon-gen DIR SIZE...\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end != '\0' || size < 8 || size > 1024) {
            std::fprintf(stderr, "korvane-icon-gen: \"%s\" is not a size from 8 to 1024\n", argv[i]);
            return 2;
        }
        const QString folder = QString("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = folder + "/korvane-field-loader.png";
        QImageWriter writer(file, "png");
        // Quality 0 is zlib's best compression for PNG; the level is part of the bytes.
        writer.setQuality(0);
        if (!QDir().mkpath(folder) || !writer.write(korvane::appIconImage(static_cast<int>(size)))) {
            std::fprintf(stderr, "korvane-icon-gen: cannot write %s: %s\n", qPrintable(file),
                         qPrintable(writer.errorString()));
            return 1;
        }
    }
    return 0;
}
