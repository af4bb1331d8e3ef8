#pragma once

#include <string>
#include <vector>

namespace support {

// The five values both programs keep in Settings.ini. The window loads them when it opens and saves
// them when it closes; the console program only loads them. Section and key names are stored in
// existing files: do not change them.
struct Settings
{
    std::string tempPath;
    std::string destinationPath;
    std::string sourcePath;
    int debugValue = 0; // 0 off, 1 on, 2 the check box's third state (off)
    std::string pacs = "Arzt und Praxis";
    // [Ablauf], read only: the window starts a run when a disc arrives below the source folder, and
    // ejects it after each run. Both off unless the file says 1.
    bool autoStart = false;
    bool ejectAfterRun = false;
    // [Senden], read only: the DICOM node each run's images go to ("AET@HOST:PORT"; empty: none), our
    // own AE title, the port of our listener for the node's commitment reports, the associations at most
    // (a PACS in clinical use may want fewer), and an AE title the node reports under when it does not
    // call us under its own (empty: defaults).
    std::string sendNode {};
    std::string sendOwnAet {};
    std::string sendListenPort {};
    std::string sendConnections {};
    std::string sendReportAet {};
};

// Loads the five values; a file that is missing or cannot be read, and a missing section or key, give
// the defaults above. Values load whole.
Settings LoadSettings(const std::string& file);

// Saves in the order Temp/TempPath, Path/SourcePath, Path/DestinationPath, Debug/DebugValue, PACS/PACS,
// so a new file holds the sections Temp, Path (SourcePath first), Debug, PACS. Returns the keys that
// could not be saved; the file keeps what it held for them.
std::vector<std::string> SaveSettings(const Settings& settings, const std::string& file);

// A DebugValue as the check box takes it: a whole number 0 to 2. Anything else (empty, text, out of
// range) shows the box unchecked.
int ParseDebugValue(const std::string& text);

// The settings file in a program folder.
std::string SettingsFilePath(const std::string& settingsFolder);

} // namespace support
