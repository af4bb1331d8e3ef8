// Writes the program's icon, the drawn migration symbol, as PNG files at the sizes desktops ask for,
// in the layout of an icon theme:
//
//   zet-pelta-icons FOLDER      -> FOLDER/16x16/apps/zet-pelta.png ... FOLDER/256x256/apps/zet-pelta.png
#include <cstdio>
#include <string>

#include <QDir>
#include <QImage>

#include "app/Artwork.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zet-pelta-icons FOLDER\n");
        return 2;
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/%1x%1/apps").arg(size);
        if (!QDir().mkpath(folder) || !app::MigrationImage(size).save(folder + QStringLiteral("/zet-pelta.png"))) {
            std::fprintf(stderr, "zet-pelta-icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
