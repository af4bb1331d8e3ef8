#include <iostream>

#include <QApplication>

#include "app/AppFonts.h"
#include "app/FrmMain.h"
#include "app/InstanceLock.h"
#include "support/FileSystem.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const std::string programFolder = support::ProgramFolder();

    // A second copy ends before it reads or writes anything.
    app::InstanceLock lock(app::InstanceLock::PathFor(programFolder));
    if (!lock.TryAcquire()) {
        std::cerr << "zet-pelta: the program is already running.\n";
        return 0;
    }

    app::LoadWindowFonts();
    QApplication::setFont(app::WindowFont());
    app::FrmMain window(programFolder);
    window.Open();
    window.show();
    return QApplication::exec();
}
