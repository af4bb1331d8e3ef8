#include "support/Settings.h"

#include <charconv>

#include "support/ProfileFile.h"

namespace support {

Settings LoadSettings(const std::string& file)
{
    Settings s;
    s.tempPath = ReadIniValue("Temp", "TempPath", "", file);
    s.destinationPath = ReadIniValue("Path", "DestinationPath", "", file);
    s.sourcePath = ReadIniValue("Path", "SourcePath", "", file);
    s.debugValue = ParseDebugValue(ReadIniValue("Debug", "DebugValue", "0", file));
    s.pacs = ReadIniValue("PACS", "PACS", "Arzt und Praxis", file);
    return s;
}

void SaveSettings(const Settings& s, const std::string& file)
{
    WriteIniValue("Temp", "TempPath", s.tempPath, file);
    WriteIniValue("Path", "SourcePath", s.sourcePath, file);
    WriteIniValue("Path", "DestinationPath", s.destinationPath, file);
    WriteIniValue("Debug", "DebugValue", std::to_string(s.debugValue), file);
    WriteIniValue("PACS", "PACS", s.pacs, file);
}

int ParseDebugValue(const std::string& text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc {} || end != text.data() + text.size() || value < 0 || value > 2) {
        return 0;
    }
    return value;
}

std::string SettingsFilePath(const std::string& programFolder)
{
    return programFolder + "/Settings.ini";
}

} // namespace support
