#include <gtest/gtest.h>

#include <filesystem>

#include "common/TempTree.h"
#include "support/Log.h"

using namespace testing_support;

namespace {

std::tm At(int hour, int minute, int second)
{
    std::tm t {};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

// A clock that numbers its stamps, so the order of lines across the two logs shows.
support::Log::Clock CountingClock()
{
    return [n = 0]() mutable { return "T" + std::to_string(++n); };
}

} // namespace

TEST(TimeStamp, ShortDateBlankLongTimeAndDateAloneAtMidnight)
{
    // German regional settings: D_FMT "%d.%m.%Y", T_FMT "%T".
    EXPECT_EQ(support::FormatTimeStamp(At(7, 5, 9), "%d.%m.%Y", "%T"), "06.12.2026 07:05:09");
    EXPECT_EQ(support::FormatTimeStamp(At(0, 0, 0), "%d.%m.%Y", "%T"), "06.12.2026");
    EXPECT_EQ(support::FormatTimeStamp(At(0, 0, 1), "%d.%m.%Y", "%T"), "06.12.2026 00:00:01");
    // The C locale's formats, which LocalTimeStamp falls back to.
    EXPECT_EQ(support::FormatTimeStamp(At(23, 59, 59), "%m/%d/%y", "%H:%M:%S"), "12/06/26 23:59:59");
}

TEST(Log, ErrorLinesWithAndWithoutExtra)
{
    TempDir program;
    const support::Log log(
        program.Path(), [] { return false; }, [] { return std::string("06.12.2026 07:05:09"); });
    log.WriteError(-1, "Source folder doesn´t exist.", "Start", "");
    log.WriteError(2, "No such file or directory", "ScanFolder", "IMG 01.Z");
    log.WriteError(5, "a - b", "ScanFolder", "x");

    EXPECT_EQ(ReadFile(program / "Logs/Error.txt"),
        "06.12.2026 07:05:09 - -1 - Source folder doesn´t exist. - Start\r\n"
        "06.12.2026 07:05:09 - 2 - No such file or directory - ScanFolder - IMG 01.Z\r\n"
        "06.12.2026 07:05:09 - 5 - a - b - ScanFolder - x\r\n");
    EXPECT_TRUE(LogLines(program / "Logs/DebugPelta.log").empty()) << "debug switch off: no debug log";
}

TEST(Log, DebugSwitchMirrorsEachErrorFirstWithoutSource)
{
    TempDir program;
    bool debug = true;
    const support::Log log(
        program.Path(), [&] { return debug; }, CountingClock());
    log.WriteError(-1, "Temp folder doesn´t exist.", "Start", "");
    log.WriteError(13, "Permission denied", "ScanFolder", "a.ar");
    log.WriteDebug("IMG1.Z is migrated.");
    debug = false; // read at every call, like the window's check box
    log.WriteError(-1, "late", "Start", "");

    EXPECT_EQ(LogLines(program / "Logs/DebugPelta.log"),
        (std::vector<std::string> {"T1 - ERROR: -1 - Temp folder doesn´t exist.",
            "T3 - ERROR: 13 - Permission denied - a.ar", "T5 - IMG1.Z is migrated."}));
    EXPECT_EQ(LogLines(program / "Logs/Error.txt"),
        (std::vector<std::string> {"T2 - -1 - Temp folder doesn´t exist. - Start",
            "T4 - 13 - Permission denied - ScanFolder - a.ar", "T6 - -1 - late - Start"}));
}

TEST(Log, LineBreaksInsideTextsStayOnOneLine)
{
    TempDir program;
    const support::Log log(
        program.Path(), [] { return false; }, [] { return std::string("S"); });
    log.WriteError(2, "No such file or directory", "ScanFolder", "evil\nname\r.Z");
    EXPECT_EQ(
        ReadFile(program / "Logs/Error.txt"), "S - 2 - No such file or directory - ScanFolder - evil\\nname\\r.Z\r\n");
}

TEST(Log, UnwritableLogLosesTheLineAndNothingElse)
{
    TempDir program;
    WriteFile(program / "Logs", "a file where the folder should be");
    const support::Log log(program.Path(), [] { return true; });
    log.WriteError(-1, "Source folder doesn´t exist.", "Start", "");
    log.WriteDebug("text");
    EXPECT_EQ(ReadFile(program / "Logs"), "a file where the folder should be");

    // A program folder that does not exist at all.
    const support::Log nowhere(program / "missing/deeper", [] { return true; });
    nowhere.WriteError(-1, "x", "Start", "");
    EXPECT_FALSE(std::filesystem::exists(program / "missing"));
}
