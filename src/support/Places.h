#pragma once

#include <string>
#include <string_view>

namespace support {

// Where the programs keep Settings.ini and Logs/. A build, or a copy in a folder of its own, keeps
// both beside its executables, in the program folder, as it always has. An installed program lives
// in a folder its user may not write (and must not, when that user is root): it keeps Settings.ini
// in $XDG_CONFIG_HOME/zet-pelta (~/.config/zet-pelta) and Logs/ in $XDG_STATE_HOME/zet-pelta
// (~/.local/state/zet-pelta).
struct Places
{
    // Both in one folder, as a program folder of its own holds them.
    Places(std::string folder)
        : settings(folder)
        , logs(std::move(folder))
    { }
    Places(std::string settingsFolder, std::string logsFolder)
        : settings(std::move(settingsFolder))
        , logs(std::move(logsFolder))
    { }

    std::string settings; // the folder of Settings.ini
    std::string logs; // the folder that holds Logs/
};

// The places of a program in programFolder. Installed: the folder cannot be written, or it is a "bin"
// folder beside share/applications/zet-pelta.desktop, where an installation put it. Nothing is made:
// asking for help or the version writes nothing anywhere.
Places PlacesOf(const std::string& programFolder);

// Where the program keeps them, for both programs' --help after the paths of Settings.ini and Logs/:
// the places differ between the systems, and so does the sentence that names them.
std::string_view PlacesNote();

// Makes the per-user folders an installed program keeps its files in, readable by their user alone
// (the logs and reports name patients). One that cannot be made shows in the first file that cannot
// be written there, as a program folder that cannot be written always did.
void MakePlaceFolders(const Places& places);

} // namespace support
