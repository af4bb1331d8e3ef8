#include "EngineFixture.h"

#include "support/ProcessWatch.h"

using RunControl = EngineFixture;

TEST_F(RunControl, FailedChecksLogShowAStopBoxAndReleaseBeenden)
{
    WriteFile(root / "a file", "");
    WriteFile(root / "blocked/TempPelta", "a file where the work folder should be");
    using Field = std::string RecordingHost::*;
    const std::string file = root / "a file";
    // A folder that is not there keeps the old texts; a file in its place, and a destination that cannot
    // be written (even root cannot make a file in /proc), are told with the path.
    const std::tuple<Field, std::string, std::string, std::string> cases[]
        = {{&RecordingHost::source, root / "nope", "Source folder doesn´t exist.", "Quellverzeichnis exestiert nicht."},
            {&RecordingHost::source, "", "Source folder doesn´t exist.", "Quellverzeichnis exestiert nicht."},
            {&RecordingHost::source, file, "Source folder is a file. - Start - " + file,
                "Quellverzeichnis ist kein Ordner, sondern eine Datei: " + Shown(file)},
            {&RecordingHost::dest, root / "nope", "Destination folder doesn´t exist.", "Zielordner exestiert nicht."},
            {&RecordingHost::dest, file, "Destination folder is a file. - Start - " + file,
                "Zielordner ist kein Ordner, sondern eine Datei: " + Shown(file)},
#ifndef _WIN32
            {&RecordingHost::dest, "/proc", "Destination folder cannot be written. - Start - /proc",
                "In den Zielordner kann nicht geschrieben werden: /proc ("},
#endif
            {&RecordingHost::temp, root / "nope", "Temp folder doesn´t exist.", "Tempverzeichnis exestiert nicht."},
            {&RecordingHost::temp, file, "Temp folder is a file. - Start - " + file,
                "Tempverzeichnis ist kein Ordner, sondern eine Datei: " + Shown(file)},
            {&RecordingHost::pacs, "Hipax 2", "Unknown PACS system.",
                "PACS-System ist unbekannt.\r\nPACS-Systeme: Arzt und Praxis, GEMED, HIPAX, STARC"},
            {&RecordingHost::temp, root / "blocked", "Temp work folder could not be created.",
                "Arbeitsverzeichnis konnte nicht angelegt werden."}};
    for (const auto& [field, value, log, box] : cases) {
        SCOPED_TRACE(value);
        EngineWorld fresh;
        fresh.host.*field = value;
        if (field == &RecordingHost::source) {
            fresh.host.dest = ""; // a missing source is told before anything else is looked at
        }
        fresh.host.debug = 2; // the check box's third state counts as off
        fresh.engine.StartRun();
        const std::string line = "S - -1 - " + log + (log.find(" - Start") == std::string::npos ? " - Start" : "");
        EXPECT_EQ(fresh.ErrorLines(), std::vector<std::string> {line});
        ASSERT_EQ(fresh.host.calls.size(), 3u);
        EXPECT_TRUE(fresh.host.calls[0] == "quit 0" && fresh.host.calls[1].starts_with("message " + box)
            && fresh.host.calls[2] == "quit 1")
            << testing::PrintToString(fresh.host.calls);
        EXPECT_TRUE(fresh.host.messages.at(0).kind == engine::MessageKind::Stop
            && fresh.host.messages.at(0).caption == "Zet-Pelta" && fresh.DebugLines().empty());
        EXPECT_FALSE(fresh.engine.TimerEnabled() || fs::is_directory(value + "/TempPelta")
            || fs::exists(fresh.root / "temp/TempPelta"));
    }
}

TEST_F(RunControl, ARunWalksFilesFirstThenSubFoldersAndEndsWithTheSummary)
{
    for (const char* name : {"a", "b", "c", "z-sub/d"}) {
        WriteFile(root / "src/" + name, name);
    }
    MakeFolders(root / "src/m-empty");
    WriteFile(root / "temp/TempPelta/left-over", "x"); // an existing work folder is used as it is
    // What killed runs left: writers of this machine that no longer run (process 2^22 + 1 is beyond the
    // system's limit), one that still does (this one) and one of another machine sharing the folder.
    const std::string tag = support::ProcessTag(), host8 = tag.substr(0, 8), dead = "-4194305-1.part";
    const std::string other = (host8[0] == '0' ? "1" : "0") + host8.substr(1);
    for (const std::string& name :
        {host8 + dead, "BadObjects/.zet-pelta-" + host8 + dead, tag + "-2.part", other + dead}) {
        WriteFile(root / "dest/" + (name.starts_with("BadObjects") ? name : ".zet-pelta-" + name), "");
    }

    engine.StartRun();
    EXPECT_TRUE(engine.TimerEnabled() && !host.quitEnabled && host.messages.empty())
        << "nothing happens before the tick";
    engine.OnTimerTick();

    std::erase_if(host.calls, [](const std::string& call) { return call.starts_with("timer"); });
    const std::string src = root / "src";
    EXPECT_EQ(host.calls,
        (std::vector<std::string> {"quit 0", "max 3", "text 0 von 3 Dateien durchsucht ...", "value 1",
            "status Datei " + src + "/a wird migriert...", "text 1 von 3 Dateien durchsucht ...", "value 2",
            "status Datei " + src + "/b wird migriert...", "text 2 von 3 Dateien durchsucht ...", "value 3",
            "status Datei " + src + "/c wird migriert...",
            // the empty folder leaves the bar as it was; the next folder's smaller maximum comes first
            "max 1", "text 0 von 1 Dateien durchsucht ...", "value 1",
            "status Datei " + src + "/z-sub/d wird migriert...",
            // no file in hand once the walk ended; the whole run's count, before the box; the box before
            // the counters are reset
            "status ", "text 4 von 4 Dateien wurden überprüft.", "message " + Summary(4, 4), "text ", "value 0",
            "status ", "quit 1"}));
    EXPECT_TRUE(host.messages[0].kind == engine::MessageKind::Information
        && host.messages[0].caption == "Migration abgeschlossen");
    EXPECT_FALSE(engine.TimerEnabled() || fs::exists(root / "temp/TempPelta"));
    EXPECT_EQ(engine.State().CheckedCount + engine.State().MigratedCount + ErrorLines().size(), 0u);
    std::multiset<std::string> contents;
    for (const auto& [name, bytes] : Snapshot(root / "dest")) {
        contents.insert(IsDestinationName(name) ? bytes : name);
    }
    EXPECT_EQ(contents,
        (std::multiset<std::string> {
            "a", "b", "c", "z-sub/d", ".zet-pelta-" + tag + "-2.part", ".zet-pelta-" + other + dead}));
}

#ifndef _WIN32 // Wine makes no links
TEST_F(RunControl, TheWalkKeepsOutOfLinksAndItsOwnOutputAndGoesOnPastFoldersThatVanish)
{
    WriteFile(root / "src/a/file", "f");
    WriteFile(root / "src/b-gone/x", "x");
    WriteFile(root / "src/b-gone/deeper/z", "z"); // goes with its folder: no line of its own
    WriteFile(root / "src/c/y", "y");
    fs::create_directory_symlink(root / "src", root / "src/a/loop");
    fs::create_directory_symlink(root / "src/c", root / "src/link");
    WriteFile(root / "src/out/earlier.dcm", "e"); // the destination inside the source tree, not read
    host.dest = root / "src/out";
    host.debug = 1;
    host.onPump = [&](int pump) {
        if (pump == 1) {
            fs::remove_all(root / "src/b-gone");
        }
    };
    Migrate();
    EXPECT_EQ(LastMessage(), Summary(2, 2));
    EXPECT_EQ(Names(root / "src/out").size() * 10 + engine.LastRun().failed, 31u);
    EXPECT_EQ(ErrorLines(),
        std::vector<std::string> {"S - 2 - No such file or directory - ScanFolder - " + root / "src/b-gone"});
    auto debug = DebugLines();
    std::erase_if(debug, [](const std::string& line) { return line.starts_with("S - Run report: "); });
    // Each folder's links are noted after its files, before its sub-folders are walked.
    EXPECT_EQ(debug,
        (std::vector<std::string> {"S - Symbolic link to a folder not followed: " + root / "src/link",
            "S - Symbolic link to a folder not followed: " + root / "src/a/loop",
            "S - ERROR: 2 - No such file or directory - " + root / "src/b-gone"}));
}
#endif

// The reader reads what the walk will reach, from the one listing of the disc: the run never has to
// read a compressed file itself.
TEST_F(RunControl, TheReaderHasEveryCompressedFileTheWalkReaches)
{
    std::set<std::string> images;
    for (const char* name : {"1.AR", "a/2.AR", "a/b/3.AR", "a/b/4.AR", "c/5.AR", "c/notes.txt"}) {
        const std::string image = std::string("DICM image ") + name;
        WriteFile(root / ("src/" + std::string(name)), Filter("gzip -c", image));
        images.insert(std::string(name).ends_with(".AR") ? image : "");
    }
    images.erase("");
    host.pacs = "STARC";
    Migrate();
    EXPECT_EQ(LastMessage(), Summary(5, 5));
    std::set<std::string> written;
    for (const std::string& name : Names(root / "dest")) {
        written.insert(ReadFile(root / ("dest/" + name)));
    }
    EXPECT_EQ(written, images);
    EXPECT_EQ(engine.ReadByRun(), 0);
}

// The debug log tells the files in the walk's order, though outputs are named in batches later on.
TEST_F(RunControl, TheDebugLogFollowsTheWalk)
{
    const std::string container = "APX header;\0\0\0\0DICM image#*lastfile*#"s;
    WriteFile(root / "src/1.Z", Filter("gzip -c", container));
    WriteFile(root / "src/2.Z", "not compressed");
    WriteFile(root / "src/3.Z", Filter("gzip -c", container + "3"));
    host.pacs = "Arzt und Praxis";
    host.debug = 1;
    Migrate();
    auto debug = DebugLines();
    std::erase_if(debug, [](const std::string& line) { return line.starts_with("S - Run report: "); });
    EXPECT_EQ(debug,
        (std::vector<std::string> {"S - 1.Z is migrated.", "S - 2.Z: not in gzip format",
            "S - ERROR: -1 - File 2.Z could not be migrated.", "S - 3.Z is migrated."}));
}

// No disc in the drive: the box is a warning, so that nobody puts the next disc in.
TEST_F(RunControl, AnEmptySourceEndsWithAWarningNotTheUsualSummary)
{
    MakeFolders(root / "src/empty-folder");
    Migrate();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, engine::MessageKind::Warning);
    EXPECT_EQ(LastMessage(), Summary(0, 0) + "\r\n\r\nDie Quelle enthält keine Dateien. Ist eine CD / DVD eingelegt?");
}

TEST_F(RunControl, MigrierenDuringARunQueuesOneFurtherRunWithItsOwnProfile)
{
    WriteFile(root / "src/a.dcm", "1");
    WriteFile(root / "src/b", "2");
    host.onPump = [&](int pump) {
        if (pump == 1) {
            host.pacs = "GEMED"; // the running run stays HIPAX
            engine.StartRun();
            engine.StartRun(); // a second click queues nothing more
            EXPECT_TRUE(engine.RunQueued() && !engine.TimerEnabled()) << "no tick may nest inside the running one";
        }
    };
    engine.StartRun();
    engine.OnTimerTick();
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(LastMessage(), Summary(2, 2));
    EXPECT_TRUE(engine.TimerEnabled() && !host.quitEnabled) << "the queued run passed its checks and is armed";
    engine.RunUntilIdle();
    // The queued run is GEMED: a.dcm is counted, not copied, and the box says that it is no failure.
    EXPECT_EQ(LastMessage(),
        Summary(1, 2) + "\r\n\r\n"
            + "1 Datei ist kein Bild dieses PACS-Systems (Name mit "
              "Punkt, etwa eine Indexdatei) und wurde nicht kopiert; kein Fehler.");
    EXPECT_EQ(engine.LastRun().skipped * 10 + Names(root / "dest").size(), 13u);
    EXPECT_TRUE(host.quitEnabled);
}

#ifndef _WIN32 // Wine makes no links
TEST_F(RunControl, StopEndsAfterTheFileInHandAndOnlyTheRunsOwnWorkFolderIsRemoved)
{
    for (const char* name : {"a", "b", "c", "sub/e"}) {
        WriteFile(root / "src/" + name, name);
    }
    host.onPump = [&](int pump) {
        if (pump == 5) { // while the second file is in hand (three pumps per file)
            engine.StartRun(); // a queued run is dropped by the stop
            engine.RequestStop();
        }
    };
    Migrate();
    EXPECT_TRUE(host.messages.empty() && engine.LastRun().stopped && !engine.TimerEnabled());
    EXPECT_EQ(engine.LastRun().migrated * 10 + Names(root / "dest").size(), 22u);
    EXPECT_FALSE(fs::exists(root / "temp/TempPelta"));
    engine.StartRun(); // armed but not yet ticked: the work folder goes too
    ASSERT_TRUE(fs::exists(root / "temp/TempPelta"));
    engine.RequestStop();
    EXPECT_FALSE(fs::exists(root / "temp/TempPelta") || engine.TimerEnabled());

    // The temp field edited during the run: the run removes its own work folder, not the new field's.
    WriteFile(root / "other/TempPelta/keep", "k");
    host.onPump = [&](int) { host.temp = root / "other"; };
    Migrate();
    EXPECT_FALSE(fs::exists(root / "temp/TempPelta"));
    EXPECT_EQ(ReadFile(root / "other/TempPelta/keep"), "k");
    // A work folder that is a symbolic link is used, but never deleted through the link.
    host.temp = root / "linked";
    fs::create_directories(root / "linked");
    fs::create_directory_symlink(root / "other/TempPelta", root / "linked/TempPelta");
    Migrate();
    EXPECT_TRUE(fs::is_symlink(root / "linked/TempPelta"));
    EXPECT_EQ(ReadFile(root / "other/TempPelta/keep"), "k");
}
#endif
