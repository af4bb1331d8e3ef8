#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace support {

// The time stamp of a log line: the locale's short date, a blank and its long time; at exactly
// midnight the date alone. The formats are strftime patterns (the locale's D_FMT and T_FMT).
std::string FormatTimeStamp(const std::tm& local, std::string_view dateFormat, std::string_view timeFormat);

// The current local time under the user's LC_TIME (LC_ALL, LC_TIME, LANG), falling back to the
// C locale's formats when that locale is not installed.
std::string LocalTimeStamp();

// The folder of the logs and run reports, Logs/, in logsHome: the program folder, or an installed
// program's state folder (Places::logs).
std::string LogsFolder(const std::string& logsHome);

// The error log "Logs/Error.txt" and the debug log "Logs/DebugPelta.log" in the program folder.
// Every call opens the file for appending, writes one line ending in CR LF and closes it again, so
// no handle is held between lines. A line that cannot be written (no Logs folder possible, full
// disk, read-only program folder) is dropped: logging never stops a migration and never throws.
// CR and LF inside a text are written as the two characters "\r" and "\n", so that a file name
// holding a line break cannot split an entry.
class Log
{
public:
    using DebugSwitch = std::function<bool()>;
    using Clock = std::function<std::string()>;

    // debugOn is asked at every WriteError call (the window's switch is read at the moment of use).
    Log(std::string logsHome, DebugSwitch debugOn, Clock timeStamp = LocalTimeStamp);

    // With the debug switch on, the mirror line goes to the debug log first, then the error line.
    void WriteError(int number, std::string_view message, std::string_view source, std::string_view extra) const;
    void WriteDebug(std::string_view text) const;
    // The debug switch as it stands now; callers ask it before writing lines that only the debug log has.
    bool DebugOn() const;

    std::string ErrorLogPath() const;
    std::string DebugLogPath() const;

private:
    void AppendLine(const std::string& path, std::string_view text) const;

    std::string m_logsHome;
    DebugSwitch m_debugOn;
    Clock m_timeStamp;
};

} // namespace support
