#include "support/Places.h"

#include <filesystem>

#include "support/FileSystem.h"
#include "support/windows/WindowsApi.h"

#include <shlobj.h>

namespace support {

namespace {

constexpr const wchar_t* ProgramName = L"Zet-Pelta";

// A folder's rights on Windows are its access list's: the honest test is to make a file there.
bool IsWritable(const std::string& folder)
{
    const std::wstring probe = windows::LongPath(JoinPath(folder, ".zet-pelta-write-test"));
    const HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_FILE_EXISTS; // another program is trying the same just now
    }
    ::CloseHandle(file);
    return true;
}

std::string KnownFolder(const KNOWNFOLDERID& id)
{
    wchar_t* path = nullptr;
    std::string folder;
    if (::SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK) {
        folder = Utf8Of(std::filesystem::path(path) / ProgramName);
    }
    ::CoTaskMemFree(path);
    return folder;
}

} // namespace

// Installed under Program Files, the program folder cannot be written: Settings.ini then goes to the
// roaming application data (%APPDATA%\Zet-Pelta), the logs and reports, which are large and belong to
// this PC, to the local one (%LOCALAPPDATA%\Zet-Pelta).
Places PlacesOf(const std::string& programFolder)
{
    if (IsWritable(programFolder)) {
        return Places(programFolder);
    }
    return Places(KnownFolder(FOLDERID_RoamingAppData), KnownFolder(FOLDERID_LocalAppData));
}

void MakePlaceFolders(const Places& places)
{
    // The user's application-data folders are the user's alone already.
    for (const std::string& folder : {places.settings, places.logs}) {
        std::error_code ignored;
        std::filesystem::create_directories(PathOf(folder), ignored);
    }
}

std::string_view PlacesNote()
{
    return "Neben dem Programm, wenn dessen Ordner beschreibbar ist; installiert (unter Programme)\n"
           "Settings.ini in %APPDATA%\\Zet-Pelta und Logs\\ in %LOCALAPPDATA%\\Zet-Pelta.\n";
}

} // namespace support
