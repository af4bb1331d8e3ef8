#include "common/TestKit.h"
#include "support/ProfileFile.h"
#include "support/Settings.h"

TEST(ProfileFile, ReadsAsEditorsLeaveFilesAndEveryValueWrittenReadsBack)
{
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    WriteFile(file,
        "\xEF\xBB\xBF[Temp]\r\nTempPath=C:\\Temp\r\n[debug]\r\n  debugvalue = 1  \r\n; a comment=no key\r\n"
        "[PACS]\r\nPACS=\r\n[Quoted]\nvalue=\"kept\"\nKey=a=b\n[Temp]\nTempPath=second\n");
    // After a byte-order mark; names ignore case, values lose blanks; the first section wins; present
    // but empty is not missing.
    const std::tuple<const char*, const char*, const char*> values[] = {{"Temp", "TempPath", "C:\\Temp"},
        {"Debug", "DebugValue", "1"}, {"PACS", "PACS", ""}, {"Quoted", "value", "\"kept\""}, {"Quoted", "key", "a=b"},
        {"PACS", "Other", "dflt"}, {"Nope", "PACS", "dflt"}, {"Debug", "; a comment", "dflt"}};
    for (const auto& [section, key, value] : values) {
        EXPECT_EQ(support::ReadIniValue(section, key, "dflt", file), value) << section << "/" << key;
    }
    for (const std::string& value : {""s, "/" + std::string(299, 'p'), "/Bänder \xff[x]=;\"q\""s}) {
        ASSERT_TRUE(support::WriteIniValue("Path", "SourcePath", value, file));
        EXPECT_EQ(support::ReadIniValue("Path", "SourcePath", "default", file), value);
    }
    // Refused writes leave the file as it was, and no temporary file.
    const std::string before = ReadFile(file);
    EXPECT_FALSE(support::WriteIniValue("Path", "SourcePath", "line\nbreak", file));
    EXPECT_FALSE(support::WriteIniValue("Path", "SourcePath", "x", dir / "no/such/folder/Settings.ini"));
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string> {"Settings.ini"});
}

TEST(Settings, SavedInTheirOrderAndLoadedWholeOrAsDefaults)
{
    TempDir dir;
    support::SaveSettings({"/tmp", "/ziel", "/cdrom", 1, "STARC"}, dir / "Settings.ini");
    EXPECT_EQ(ReadFile(dir / "Settings.ini"),
        "[Temp]\r\nTempPath=/tmp\r\n[Path]\r\nSourcePath=/cdrom\r\n"
        "DestinationPath=/ziel\r\n[Debug]\r\nDebugValue=1\r\n[PACS]\r\nPACS=STARC\r\n");
    WriteFile(dir / "garbage/Settings.ini", RandomBytes(4096, 1));
    MakeFolders(dir / "folder/Settings.ini");
    // Missing, a folder, or binary garbage: the defaults, and no complaint.
    for (const auto& [folder, loaded] :
        {std::pair {dir.Path(), "/tmp/ziel/cdromSTARC1"s}, {dir / "missing", "Arzt und Praxis0"s},
            {dir / "folder", "Arzt und Praxis0"s}, {dir / "garbage", "Arzt und Praxis0"s}}) {
        const support::Settings s = support::LoadSettings(folder + "/Settings.ini");
        EXPECT_EQ(s.tempPath + s.destinationPath + s.sourcePath + s.pacs + std::to_string(s.debugValue), loaded)
            << folder;
    }
    for (const auto& [text, value] : {std::pair {"1", 1}, {"2", 2}, {"3", 0}, {"-1", 0}, {"", 0}, {"1x", 0}}) {
        EXPECT_EQ(support::ParseDebugValue(text), value) << text;
    }
}
