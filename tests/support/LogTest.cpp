#include "common/TestKit.h"
#include "support/Log.h"

TEST(Log, TimeStampsLinesInOrderAndTheirDebugMirrorOneLineEach)
{
    std::tm t {};
    t.tm_year = 2026 - 1900, t.tm_mon = 11, t.tm_mday = 6;
    EXPECT_EQ(support::FormatTimeStamp(t, "%d.%m.%Y", "%T"), "06.12.2026"); // the date alone at midnight
    t.tm_sec = 1;
    EXPECT_EQ(support::FormatTimeStamp(t, "%m/%d/%y", "%H:%M:%S"), "12/06/26 00:00:01");

    TempDir program;
    bool debug = false;
    int tick = 0;
    const support::Log log(
        program.Path(), [&] { return debug; }, [&] { return std::string("T").append(std::to_string(++tick)); });
    log.WriteError(-1, "Source folder doesn´t exist.", "Start", "");
    debug = true; // read at every call, like the window's check box
    log.WriteError(2, "No such file or directory", "ScanFolder", "evil\nname\r.Z");
    log.WriteDebug("IMG1.Z is migrated.");
    EXPECT_EQ(ReadFile(program / "Logs/Error.txt"),
        "T1 - -1 - Source folder doesn´t exist. - Start\r\n"
        "T3 - 2 - No such file or directory - ScanFolder - evil\\nname\\r.Z\r\n");
    EXPECT_EQ(ReadFile(program / "Logs/DebugPelta.log"),
        "T2 - ERROR: 2 - No such file or directory - evil\\nname\\r.Z\r\nT4 - IMG1.Z is migrated.\r\n");

    // A log that cannot be written loses the line and nothing else.
    WriteFile(program / "Logs2/Logs", "a file where the folder should be");
    support::Log(program / "Logs2", [] { return true; }).WriteError(-1, "x", "Start", "");
    support::Log(program / "missing", [] { return true; }).WriteError(-1, "x", "Start", "");
    EXPECT_EQ(ReadFile(program / "Logs2/Logs"), "a file where the folder should be");
    EXPECT_FALSE(fs::exists(program / "missing"));
}
