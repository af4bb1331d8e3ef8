// Renders the main window to a PNG without a display, as the README shows it:
//
//   QT_QPA_PLATFORM=offscreen zet-pelta-window-shot OUT.png [PAGE]
//
// PAGE 0 shows "Allgmein", 1 (the default) "Einstellungen", the page the window opens with. The
// window gets a program folder of its own with example settings, so no real Settings.ini is touched.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabBar>
#include <QTemporaryDir>

#include "app/AppFonts.h"
#include "app/FrmMain.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zet-pelta-window-shot OUT.png [PAGE]\n");
        return 2;
    }
    const int page = argc > 2 ? std::atoi(argv[2]) : 1;

    QTemporaryDir programFolder;
    std::ofstream(programFolder.filePath("Settings.ini").toStdString())
        << "[Temp]\r\nTempPath=/var/tmp\r\n[Path]\r\nSourcePath=/media/cdrom\r\n"
           "DestinationPath=/srv/pacs-import\r\n[Debug]\r\nDebugValue=0\r\n[PACS]\r\nPACS=HIPAX\r\n";

    app::LoadWindowFonts();
    QApplication::setFont(app::WindowFont());
    app::FrmMain window(programFolder.path().toStdString());
    window.Open();
    window.findChild<QTabBar*>()->setCurrentIndex(page);
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "zet-pelta-window-shot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
