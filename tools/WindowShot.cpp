// Renders the main window to a PNG without a display, as the README shows it:
//
//   QT_QPA_PLATFORM=offscreen zet-pelta-window-shot OUT.png [PAGE]
//   QT_QPA_PLATFORM=offscreen zet-pelta-window-shot OUT.png summary DISC
//
// PAGE 0 shows "Allgmein", 1 (the default) "Einstellungen", the page the window opens with. The
// window gets a program folder of its own with example settings, so no real Settings.ini is touched.
// "summary" migrates the folder DISC as "HIPAX" into a temporary destination and renders the box that
// ends the run.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>

#include "app/AppFonts.h"
#include "app/FrmMain.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zet-pelta-window-shot OUT.png [PAGE]\n");
        return 2;
    }
    const bool summary = argc > 3 && std::string(argv[2]) == "summary";
    const int page = argc > 2 && !summary ? std::atoi(argv[2]) : 1;

    QTemporaryDir programFolder;
    QTemporaryDir destination;
    const std::string source = summary ? argv[3] : "/media/cdrom";
    const std::string target = summary ? destination.path().toStdString() : "/srv/pacs-import";
    std::ofstream(programFolder.filePath("Settings.ini").toStdString())
        << "[Temp]\r\nTempPath=/var/tmp\r\n[Path]\r\nSourcePath=" << source << "\r\nDestinationPath=" << target
        << "\r\n[Debug]\r\nDebugValue=0\r\n[PACS]\r\nPACS=HIPAX\r\n";

    app::LoadWindowFonts();
    QApplication::setFont(app::WindowFont());
    app::FrmMain window(programFolder.path().toStdString());
    window.Open();
    window.findChild<QTabBar*>()->setCurrentIndex(page);
    window.show();
    QApplication::processEvents();
    if (summary) {
        // The box is modal: it is rendered and closed from a timer that runs inside its event loop.
        bool saved = false;
        QTimer watch;
        watch.callOnTimeout([&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                saved = box->grab().save(QString::fromLocal8Bit(argv[1]));
                box->accept();
            }
        });
        watch.start(50);
        window.OnToolbarButtonClick(QStringLiteral("Migrieren"));
        QElapsedTimer waited;
        waited.start();
        while (!saved && waited.elapsed() < 600000) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        return saved ? 0 : 1;
    }
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "zet-pelta-window-shot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
