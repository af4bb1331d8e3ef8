#include "EngineFixture.h"

#include <filesystem>
#include <sys/stat.h>

using namespace testing_support;
namespace fs = std::filesystem;

using ScanFolder = EngineFixture;

TEST_F(ScanFolder, HipaxCopiesEveryFileOfANestedTreeUnchanged)
{
    WriteFile(root / "src/DICOMDIR", "dir");
    WriteFile(root / "src/P1/S1/IMG 0001.dcm", "image " + std::string(5000, 'i'));
    WriteFile(root / "src/P1/S1/Bänder \xff.raw", std::string("\0\r\n\x1a", 4)); // not UTF-8, binary
    WriteFile(root / "src/P2/0002", "two");
    MakeFolders(root / "src/P3/empty");
    ::chmod((root / "src/P2/0002").c_str(), 0444);
    const auto sourceBefore = Snapshot(root / "src");

    Migrate();

    EXPECT_EQ(LastMessage(), Summary(4, 4));
    EXPECT_EQ(DestContents(),
        (std::vector<std::string> {std::string("\0\r\n\x1a", 4), "dir", "image " + std::string(5000, 'i'), "two"}));
    for (const auto& name : Names(root / "dest")) {
        EXPECT_TRUE(fs::status(root / "dest" + "/" + name).permissions() >= fs::perms::owner_write) << name;
    }
    EXPECT_EQ(Snapshot(root / "src"), sourceBefore);
    EXPECT_TRUE(ErrorLines().empty());
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(),
                  "status Datei " + root / "src/P1/S1/Bänder \xff.raw" + " wird migriert..."),
        host.calls.end());
}

TEST_F(ScanFolder, GemedMigratesOnlyNamesWithoutDot)
{
    WriteFile(root / "src/1234", "a");
    WriteFile(root / "src/1234.dcm", "b");
    WriteFile(root / "src/sub/INDEX.DAT", "c");
    host.pacs = "GEMED";
    Migrate();
    EXPECT_EQ(LastMessage(), Summary(1, 3)) << "dotted names are counted as checked, not copied";
    EXPECT_EQ(DestContents(), std::vector<std::string> {"a"});
    EXPECT_EQ(engine->LastRun().skipped, 2);
    EXPECT_TRUE(ErrorLines().empty());
}

TEST_F(ScanFolder, ProgressRestartsPerFolderFilesFirstThenSubfolders)
{
    for (const char* name : {"a", "b", "c"}) {
        WriteFile(root / "src" + "/" + name, name);
    }
    MakeFolders(root / "src/m-empty");
    WriteFile(root / "src/z-sub/d", "d");
    Migrate();

    std::vector<std::string> walk;
    for (const auto& call : host.calls) {
        if (call.starts_with("max") || call.starts_with("value") || call.starts_with("text")
            || call.starts_with("status")) {
            walk.push_back(call);
        }
    }
    const std::string src = root / "src";
    const std::vector<std::string> expected = {"max 3", "text 0 von 3 Dateien durchsucht ...", "value 1",
        "status Datei " + src + "/a wird migriert...", "text 1 von 3 Dateien durchsucht ...", "value 2",
        "status Datei " + src + "/b wird migriert...", "text 2 von 3 Dateien durchsucht ...", "value 3",
        "status Datei " + src + "/c wird migriert...",
        // the empty folder leaves the bar as it was; the next folder's smaller maximum comes first
        "max 1", "text 0 von 1 Dateien durchsucht ...", "value 1", "status Datei " + src + "/z-sub/d wird migriert...",
        "text 4 von 4 Dateien wurden überprüft.", "text ", "value 0", "status "};
    EXPECT_EQ(walk, expected);
}

TEST_F(ScanFolder, SymbolicLinksToFoldersAreNotDescendedIntoAndOwnOutputIsNotRead)
{
    WriteFile(root / "src/a/file", "f");
    fs::create_directory_symlink(root / "src", root / "src/a/loop");
    fs::create_directory_symlink(root / "elsewhere", root / "src/outside");
    WriteFile(root / "elsewhere/x", "x");
    // Destination and temp folder inside the source tree.
    MakeFolders(root / "src/out");
    MakeFolders(root / "src/tmp");
    host.dest = root / "src/out";
    host.temp = root / "src/tmp";
    host.debug = 1;

    Migrate();
    EXPECT_EQ(LastMessage(), Summary(1, 1));
    EXPECT_EQ(Names(root / "src/out").size(), 1u);
    // Each folder's links are noted before its sub-folders are walked.
    EXPECT_EQ(DebugLines(),
        (std::vector<std::string> {"S - Symbolic link to a folder not followed: " + root / "src/outside",
            "S - Symbolic link to a folder not followed: " + root / "src/a/loop"}));
}

TEST_F(ScanFolder, FileErrorsAreLoggedAndTheWalkGoesOn)
{
    WriteFile(root / "src/1 ok", "1");
    fs::create_symlink(root / "nowhere", root / "src/2 dangling");
    ::mkfifo((root / "src/3 fifo").c_str(), 0644);
    WriteFile(root / "src/4 ok", "4");
    host.debug = 1;
    Migrate();
    EXPECT_EQ(LastMessage(), Summary(2, 4));
    EXPECT_EQ(ErrorLines(),
        (std::vector<std::string> {"S - 2 - No such file or directory - ScanFolder - 2 dangling",
            "S - -1 - Not a regular file. - ScanFolder - 3 fifo"}));
    EXPECT_EQ(DebugLines(),
        (std::vector<std::string> {
            "S - ERROR: 2 - No such file or directory - 2 dangling", "S - ERROR: -1 - Not a regular file. - 3 fifo"}));
    EXPECT_EQ(engine->LastRun().failed, 2);
}

TEST_F(ScanFolder, AVanishingFolderIsLoggedAndItsSiblingsAreWalked)
{
    WriteFile(root / "src/a", "a");
    WriteFile(root / "src/b-gone/x", "x");
    WriteFile(root / "src/c/y", "y");
    host.onPump = [&](int pump) {
        if (pump == 1) {
            fs::remove_all(root / "src/b-gone");
        }
    };
    Migrate();
    EXPECT_EQ(ErrorLines(),
        std::vector<std::string> {"S - 2 - No such file or directory - ScanFolder - " + root / "src/b-gone"});
    EXPECT_EQ(DestContents(), (std::vector<std::string> {"a", "y"}));
}

TEST_F(ScanFolder, AFullDestinationLeavesNoPartialFileAndCountsNothing)
{
    WriteFile(root / "src/big", std::string(512 * 1024, 'b'));
    WriteFile(root / "src/small", "s");
    {
        const FileSizeLimit fullDisk(64 * 1024);
        Migrate();
    }
    EXPECT_EQ(ErrorLines(), std::vector<std::string> {"S - 27 - File too large - ScanFolder - big"});
    EXPECT_EQ(DestContents(), std::vector<std::string> {"s"}) << "no temporary or truncated file remains";
    EXPECT_EQ(LastMessage(), Summary(1, 2));

    // With room again, a rerun migrates it.
    Migrate();
    EXPECT_EQ(LastMessage(), Summary(2, 2));
}

TEST_F(ScanFolder, ADestinationThatGoesAwayFailsEachFileLoudly)
{
    WriteFile(root / "src/a", "a");
    WriteFile(root / "src/b", "b");
    host.onPump = [&](int pump) {
        if (pump == 1) {
            fs::remove_all(root / "dest");
        }
    };
    Migrate();
    EXPECT_EQ(ErrorLines(),
        (std::vector<std::string> {"S - 2 - No such file or directory - ScanFolder - a",
            "S - 2 - No such file or directory - ScanFolder - b"}));
    EXPECT_EQ(LastMessage(), Summary(0, 2));
}

TEST_F(ScanFolder, UnwritableLogsDoNotStopTheRun)
{
    WriteFile(root / "program/Logs", "not a folder");
    WriteFile(root / "src/a", "a");
    fs::create_symlink(root / "nowhere", root / "src/b");
    host.debug = 1;
    Migrate();
    EXPECT_EQ(LastMessage(), Summary(1, 2));
    EXPECT_EQ(engine->LastRun().failed, 1);
}
