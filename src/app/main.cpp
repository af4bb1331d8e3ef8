#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include <QApplication>
#include <QSocketNotifier>

#include "app/AppFonts.h"
#include "app/FrmMain.h"
#include "app/InstanceLock.h"
#include "engine/common/Texts.h"
#include "support/FileSystem.h"
#include "support/Log.h"
#include "support/Places.h"
#include "support/Settings.h"
#include "support/StopSignals.h"

namespace {

std::string UsageText(const support::Places& places)
{
    return "Aufruf: zet-pelta [--help] [--version]\n"
           "\n"
           "Öffnet das Fenster von Zet-Pelta, das die Bilder einer PACS-Archiv-CD/DVD in einen Ordner\n"
           "mit DICOM-Dateien migriert. Ohne Fenster: zet-pelta-cli --help.\n"
           "\n"
           "  -h, --help     diese Hilfe anzeigen\n"
           "  -V, --version  Version anzeigen\n"
           "\n"
           "Settings.ini kann außer den Feldern des Fensters nennen (das Fenster schreibt sie nie):\n"
           "  [Ablauf]  AutoStart=1  einen Lauf starten, sobald unter dem Quellverzeichnis eine CD / DVD\n"
           "                         eingehängt wird\n"
           "            Auswerfen=1  die CD / DVD nach dem Lauf auswerfen\n"
           "  [Senden]  Knoten=AET@RECHNER:PORT  nach jedem Lauf jedes Bild des Zielverzeichnisses an\n"
           "                         dieses PACS senden und die Ankunft belegen lassen\n"
           "            EigenerAETitel= (ZETPELTA), Empfangsport= (11113, in der Firewall öffnen),\n"
           "            Verbindungen= (16), BerichtAETitel= (ein zweiter AE-Titel des PACS)\n"
           "\n"
           "Einstellungen: "
        + support::ShownPath(support::SettingsFilePath(places.settings))
        + "\n"
          "Logs und Laufberichte: "
        + support::ShownPath(support::LogsFolder(places.logs)) + "\n" + std::string(support::PlacesNote());
}

} // namespace

int main(int argc, char** argv)
{
    const support::Places places = support::PlacesOf(support::ProgramFolder());
    // Answered before Qt starts: no window, and no display needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << UsageText(places);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
            std::cout << "zet-pelta " << ZP_VERSION << "\n";
            return 0;
        }
    }
    support::MakePlaceFolders(places);
    // From here on, a request to end waits for the window rather than killing the program.
    const int stopSignals = support::StopSignalDescriptor();
    QApplication application(argc, argv);

    // A second copy ends before it reads or writes anything; one settings file, one window.
    app::InstanceLock lock(app::InstanceLock::PathFor(places.settings));
    if (!lock.TryAcquire()) {
        std::cerr << "zet-pelta: Das Programm läuft bereits.\n";
        return 0;
    }

    // One look on every system: the fixed layout's sizes were set for this style, and the native
    // Windows style's wider button margins cut the toolbar's texts ("Mig...ren").
    QApplication::setStyle(QStringLiteral("Fusion"));
    app::LoadWindowFonts();
    QApplication::setFont(app::WindowFont());
    app::FrmMain window(places);
    // Asked to end (logout, shutdown, kill): closed as "Beenden" closes it, settings saved; a box that is
    // open (also one the window shows while it opens) is closed first, as it would hold the end up.
    bool stopRequested = false;
    std::unique_ptr<QSocketNotifier> stop;
    if (stopSignals >= 0) {
        stop = std::make_unique<QSocketNotifier>(stopSignals, QSocketNotifier::Read);
        QObject::connect(stop.get(), &QSocketNotifier::activated, &window, [&window, &stopRequested] {
            stopRequested = true;
            if (QWidget* box = QApplication::activeModalWidget()) {
                box->close();
            }
            if (window.isVisible()) {
                window.close();
            }
        });
    }
    window.Open();
    if (stopRequested) {
        window.close();
        return 0;
    }
    window.show();
    return QApplication::exec();
}
