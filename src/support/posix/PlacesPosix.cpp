#include "support/Places.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace support {

namespace {

constexpr const char* ProgramName = "zet-pelta";

bool IsInstalled(const std::string& programFolder)
{
    const std::filesystem::path folder(programFolder);
    std::error_code ignored;
    return ::access(programFolder.c_str(), W_OK) != 0
        || (folder.filename() == "bin"
            && std::filesystem::exists(
                folder.parent_path() / "share/applications" / (std::string(ProgramName) + ".desktop"), ignored));
}

// An XDG base folder: the variable when it holds an absolute path (relative ones are to be ignored),
// else the default below the home folder.
std::filesystem::path BaseFolder(const char* variable, const char* belowHome)
{
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') {
        return value;
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr && home[0] != '\0' ? home : "/tmp") / belowHome;
}

} // namespace

Places PlacesOf(const std::string& programFolder)
{
    if (!IsInstalled(programFolder)) {
        return Places(programFolder);
    }
    const std::filesystem::path settings = BaseFolder("XDG_CONFIG_HOME", ".config") / ProgramName;
    const std::filesystem::path logs = BaseFolder("XDG_STATE_HOME", ".local/state") / ProgramName;
    return Places(settings.string(), logs.string());
}

void MakePlaceFolders(const Places& places)
{
    for (const std::string& folder : {places.settings, places.logs}) {
        std::error_code ignored;
        if (std::filesystem::create_directories(folder, ignored)) {
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ignored);
        }
    }
}

std::string_view PlacesNote()
{
    return "Neben dem Programm, wenn dessen Ordner beschreibbar ist; installiert in\n"
           "$XDG_CONFIG_HOME/zet-pelta (~/.config/zet-pelta) und $XDG_STATE_HOME/zet-pelta\n"
           "(~/.local/state/zet-pelta).\n";
}

} // namespace support
