#include "support/Log.h"

#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/FileSystem.h"
#include "support/LocalTime.h"

namespace support {

namespace {

std::string Strftime(const std::tm& local, const std::string& format)
{
    char buffer[128];
    const size_t n = std::strftime(buffer, sizeof buffer, format.c_str(), &local);
    return std::string(buffer, n);
}

void AppendEscaped(std::string& out, std::string_view text)
{
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
}

// Line bodies without time stamp and line end; an empty extra adds nothing, not even " - ".
std::string ErrorLineText(int number, std::string_view message, std::string_view source, std::string_view extra)
{
    std::string text = std::to_string(number);
    text.append(" - ").append(message).append(" - ").append(source);
    if (!extra.empty()) {
        text.append(" - ").append(extra);
    }
    return text;
}

std::string ErrorMirrorText(int number, std::string_view message, std::string_view extra)
{
    std::string text = "ERROR: " + std::to_string(number);
    text.append(" - ").append(message);
    if (!extra.empty()) {
        text.append(" - ").append(extra);
    }
    return text;
}

} // namespace

std::string FormatTimeStamp(const std::tm& local, std::string_view dateFormat, std::string_view timeFormat)
{
    std::string stamp = Strftime(local, std::string(dateFormat));
    if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
        stamp += ' ';
        stamp += Strftime(local, std::string(timeFormat));
    }
    return stamp;
}

std::string LocalTimeStamp()
{
    // The locale is resolved once: its formats do not change while the program runs.
    static const TimeFormats formats = UserTimeFormats();
    return FormatTimeStamp(LocalTimeNow(), formats.date, formats.time);
}

Log::Log(std::string logsHome, DebugSwitch debugOn, Clock timeStamp)
    : m_logsHome(std::move(logsHome))
    , m_debugOn(std::move(debugOn))
    , m_timeStamp(std::move(timeStamp))
{ }

std::string LogsFolder(const std::string& logsHome)
{
    return logsHome + "/Logs";
}

std::string Log::ErrorLogPath() const
{
    return LogsFolder(m_logsHome) + "/Error.txt";
}

std::string Log::DebugLogPath() const
{
    return LogsFolder(m_logsHome) + "/DebugPelta.log";
}

bool Log::DebugOn() const
{
    try {
        return m_debugOn && m_debugOn();
    } catch (...) {
        return false;
    }
}

void Log::WriteError(int number, std::string_view message, std::string_view source, std::string_view extra) const
{
    if (DebugOn()) {
        WriteDebug(ErrorMirrorText(number, message, extra));
    }
    try {
        AppendLine(ErrorLogPath(), ErrorLineText(number, message, source, extra));
    } catch (...) {
        // dropped: see the class comment
    }
}

void Log::WriteDebug(std::string_view text) const
{
    try {
        AppendLine(DebugLogPath(), text);
    } catch (...) {
        // dropped: see the class comment
    }
}

void Log::AppendLine(const std::string& path, std::string_view text) const
{
    std::error_code ignored;
    std::filesystem::create_directory(PathOf(LogsFolder(m_logsHome)), ignored);

    std::string line = m_timeStamp();
    line += " - ";
    AppendEscaped(line, text);
    line += "\r\n";

    // Append mode, so two programs logging at once cannot overwrite each other's lines. A failure only
    // sets the stream's state, which is deliberately not read.
    std::ofstream file(PathOf(path), std::ios::binary | std::ios::app);
    file.write(line.data(), static_cast<std::streamsize>(line.size()));
}

} // namespace support
