#include <gtest/gtest.h>

#include "common/TempTree.h"
#include "support/ProfileFile.h"
#include "support/Settings.h"

using namespace testing_support;
using support::ReadIniValue;
using support::WriteIniValue;

TEST(ProfileFile, ReadsFilesAsThePlatformWritesAndEditorsLeaveThem)
{
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    WriteFile(file,
        "[Temp]\r\nTempPath=C:\\Temp\r\n"
        "[Path]\r\nSourcePath=D:\\\r\nDestinationPath=\\\\server\\share\\Bilder\r\n"
        "[debug]\r\n  debugvalue = 1  \r\n"
        "; a comment=not a key\r\n"
        "[PACS]\r\nPACS=\r\n"
        "[Quoted]\nvalue=\"kept\"\nKey=a=b\n");

    EXPECT_EQ(ReadIniValue("Temp", "TempPath", "x", file), "C:\\Temp");
    EXPECT_EQ(ReadIniValue("Path", "SourcePath", "x", file), "D:\\");
    EXPECT_EQ(ReadIniValue("Path", "DestinationPath", "x", file), "\\\\server\\share\\Bilder");
    EXPECT_EQ(ReadIniValue("Debug", "DebugValue", "0", file), "1") << "names ignore case, values lose blanks";
    EXPECT_EQ(ReadIniValue("PACS", "PACS", "Arzt und Praxis", file), "") << "present but empty is not missing";
    EXPECT_EQ(ReadIniValue("Quoted", "value", "", file), "\"kept\"");
    EXPECT_EQ(ReadIniValue("Quoted", "key", "", file), "a=b");

    EXPECT_EQ(ReadIniValue("PACS", "Other", "Arzt und Praxis", file), "Arzt und Praxis");
    EXPECT_EQ(ReadIniValue("Nope", "PACS", "dflt", file), "dflt");
    EXPECT_EQ(ReadIniValue("Temp", "TempPath", "dflt", dir / "missing.ini"), "dflt");
    EXPECT_EQ(ReadIniValue("Debug", "a comment", "dflt", file), "dflt");
}

TEST(ProfileFile, WritesLikeThePlatform)
{
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    WriteFile(file, "[Path]\r\nSourcePath=old\r\nOther=1\r\n\r\n[PACS]\r\nPACS=GEMED");

    EXPECT_TRUE(WriteIniValue("path", "SOURCEPATH", "new", file)); // an existing key keeps its place
    EXPECT_TRUE(WriteIniValue("Path", "DestinationPath", "d", file)); // a new key ends its section
    EXPECT_TRUE(WriteIniValue("Debug", "DebugValue", "1", file)); // a new section ends the file
    EXPECT_EQ(ReadFile(file),
        "[Path]\r\nSourcePath=new\r\nOther=1\r\nDestinationPath=d\r\n\r\n"
        "[PACS]\r\nPACS=GEMED\r\n[Debug]\r\nDebugValue=1\r\n");
}

TEST(ProfileFile, EveryValueReadsBackWholeAndUnchanged)
{
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    const std::string longPath = "/" + std::string(299, 'p');
    for (const std::string& value : {std::string(""), longPath, std::string("/mnt/Bänder \xff[x]=;\"q\"")}) {
        SCOPED_TRACE(value);
        ASSERT_TRUE(WriteIniValue("Path", "SourcePath", value, file));
        EXPECT_EQ(ReadIniValue("Path", "SourcePath", "default", file), value);
    }
}

TEST(ProfileFile, RefusedWritesLeaveTheFileAsItWas)
{
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    WriteFile(file, "[Path]\r\nSourcePath=a\r\n");
    EXPECT_FALSE(WriteIniValue("Path", "SourcePath", "line\nbreak", file));
    EXPECT_FALSE(WriteIniValue("Path", "SourcePath", "x", dir / "no/such/folder/Settings.ini"));
    EXPECT_EQ(ReadFile(file), "[Path]\r\nSourcePath=a\r\n");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string> {"Settings.ini"}) << "no temporary file left";
}

TEST(Settings, FirstSaveWritesTheSectionsInSaveOrder)
{
    TempDir dir;
    const std::string file = support::SettingsFilePath(dir.Path());
    const support::Settings loaded = support::LoadSettings(file);
    EXPECT_EQ(loaded.tempPath, "");
    EXPECT_EQ(loaded.debugValue, 0);
    EXPECT_EQ(loaded.pacs, "Arzt und Praxis");

    support::SaveSettings({"/tmp", "/ziel", "/cdrom", 1, "STARC"}, file);
    EXPECT_EQ(ReadFile(file),
        "[Temp]\r\nTempPath=/tmp\r\n[Path]\r\nSourcePath=/cdrom\r\nDestinationPath=/ziel\r\n"
        "[Debug]\r\nDebugValue=1\r\n[PACS]\r\nPACS=STARC\r\n");
    const support::Settings again = support::LoadSettings(file);
    EXPECT_EQ(again.destinationPath, "/ziel");
    EXPECT_EQ(again.sourcePath, "/cdrom");
    EXPECT_EQ(again.debugValue, 1);
    EXPECT_EQ(again.pacs, "STARC");
}

TEST(Settings, DebugValueOutsideZeroToTwoShowsOff)
{
    for (const auto& [text, expected] : std::vector<std::pair<std::string, int>> {
             {"0", 0}, {"1", 1}, {"2", 2}, {"3", 0}, {"-1", 0}, {"", 0}, {"1x", 0}, {"ja", 0}}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(support::ParseDebugValue(text), expected);
    }
}
