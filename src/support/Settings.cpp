#include "support/Settings.h"

#include <charconv>

#include "support/FileSystem.h"
#include "support/ProfileFile.h"

namespace support {

Settings LoadSettings(const std::string& file)
{
    // A file that cannot be read (missing, a folder, unreadable) gives the defaults, as do its
    // missing entries.
    std::string content;
    ReadWholeFile(file, content);
    Settings s;
    const auto value = [&content](std::string_view section, std::string_view key, std::string fallback) {
        return FindIniValue(content, section, key).value_or(std::move(fallback));
    };
    s.tempPath = value("Temp", "TempPath", "");
    s.destinationPath = value("Path", "DestinationPath", "");
    s.sourcePath = value("Path", "SourcePath", "");
    s.debugValue = ParseDebugValue(value("Debug", "DebugValue", "0"));
    s.pacs = value("PACS", "PACS", s.pacs);
    s.autoStart = value("Ablauf", "AutoStart", "0") == "1";
    s.ejectAfterRun = value("Ablauf", "Auswerfen", "0") == "1";
    s.sendNode = value("Senden", "Knoten", "");
    s.sendOwnAet = value("Senden", "EigenerAETitel", "");
    s.sendListenPort = value("Senden", "Empfangsport", "");
    s.sendConnections = value("Senden", "Verbindungen", "");
    s.sendReportAet = value("Senden", "BerichtAETitel", "");
    return s;
}

std::vector<std::string> SaveSettings(const Settings& s, const std::string& file)
{
    const struct
    {
        const char* section;
        const char* key;
        std::string value;
    } entries[] = {{"Temp", "TempPath", s.tempPath}, {"Path", "SourcePath", s.sourcePath},
        {"Path", "DestinationPath", s.destinationPath}, {"Debug", "DebugValue", std::to_string(s.debugValue)},
        {"PACS", "PACS", s.pacs}};
    std::vector<std::string> unsaved;
    for (const auto& [section, key, value] : entries) {
        if (!WriteIniValue(section, key, value, file)) {
            unsaved.emplace_back(key);
        }
    }
    return unsaved;
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

std::string SettingsFilePath(const std::string& settingsFolder)
{
    return settingsFolder + "/Settings.ini";
}

} // namespace support
