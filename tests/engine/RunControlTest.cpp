#include "EngineFixture.h"

#include <filesystem>

using namespace testing_support;
namespace fs = std::filesystem;

using RunControl = EngineFixture;

TEST_F(RunControl, FailedChecksLogReportAndReleaseBeendenInOrder)
{
    struct Case
    {
        const char* name;
        std::function<void(EngineWorld&)> arrange;
        const char* logLine;
        const char* box;
    };
    const std::vector<Case> cases = {
        {"source missing, dest missing too",
            [](EngineWorld& f) {
                f.host.source = f.root / "nope";
                f.host.dest = "";
            },
            "S - -1 - Source folder doesn´t exist. - Start", "Quellverzeichnis exestiert nicht."},
        {"source empty", [](EngineWorld& f) { f.host.source = ""; }, "S - -1 - Source folder doesn´t exist. - Start",
            "Quellverzeichnis exestiert nicht."},
        {"dest missing", [](EngineWorld& f) { f.host.dest = f.root / "nope"; },
            "S - -1 - Destination folder doesn´t exist. - Start", "Zielordner exestiert nicht."},
        {"temp is a file",
            [](EngineWorld& f) {
                WriteFile(f.root / "tfile", "");
                f.host.temp = f.root / "tfile";
            },
            "S - -1 - Temp folder doesn´t exist. - Start", "Tempverzeichnis exestiert nicht."},
        {"unknown PACS", [](EngineWorld& f) { f.host.pacs = "Hipax 2"; }, "S - -1 - Unknown PACS system. - Start",
            "PACS-System ist unbekannt."},
        {"work folder blocked", [](EngineWorld& f) { WriteFile(f.root / "temp/TempPelta", "a file"); },
            "S - -1 - Temp work folder could not be created. - Start",
            "Arbeitsverzeichnis konnte nicht angelegt werden."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineWorld fresh;
        c.arrange(fresh);
        fresh.engine->StartRun();

        EXPECT_EQ(fresh.ErrorLines(), std::vector<std::string> {c.logLine});
        ASSERT_EQ(fresh.host.messages.size(), 1u);
        EXPECT_EQ(fresh.host.messages[0].kind, engine::MessageKind::Stop);
        EXPECT_EQ(fresh.host.messages[0].text, c.box);
        EXPECT_EQ(fresh.host.messages[0].caption, "Zet-Pelta");
        EXPECT_EQ(fresh.host.calls.front(), "quit 0");
        EXPECT_EQ(fresh.host.calls.back(), "quit 1");
        EXPECT_FALSE(fresh.engine->TimerEnabled());
        EXPECT_FALSE(fs::is_directory(fresh.root / "temp/TempPelta"));
    }
}

TEST_F(RunControl, DebugSwitchAddsTheMirrorLineOnlyWhenOn)
{
    host.source = "";
    host.debug = 2; // the check box's third state counts as off
    engine->StartRun();
    EXPECT_TRUE(DebugLines().empty());

    host.debug = 1;
    engine->StartRun();
    EXPECT_EQ(DebugLines(), std::vector<std::string> {"S - ERROR: -1 - Source folder doesn´t exist."});
    EXPECT_EQ(ErrorLines().size(), 2u);
}

TEST_F(RunControl, RunArmsTheTimerThenSummarisesCleansUpAndResets)
{
    WriteFile(root / "src/a", "1");
    WriteFile(root / "src/sub/b", "22");
    WriteFile(root / "src/sub/c", "333");
    MakeFolders(root / "temp/TempPelta"); // an existing work folder is reused
    WriteFile(root / "temp/TempPelta/left-over", "x");

    engine->StartRun();
    EXPECT_TRUE(engine->TimerEnabled());
    EXPECT_FALSE(host.quitEnabled);
    EXPECT_TRUE(host.messages.empty()) << "nothing happens before the tick";
    EXPECT_TRUE(fs::exists(root / "temp/TempPelta/left-over"));

    engine->OnTimerTick();
    EXPECT_FALSE(engine->TimerEnabled());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, engine::MessageKind::Information);
    EXPECT_EQ(host.messages[0].caption, "Migration abgeschlossen");
    EXPECT_EQ(host.messages[0].text, Summary(3, 3));
    // The closing text counts the whole run, not the last folder; it stands before the summary box.
    const auto box = std::find(host.calls.begin(), host.calls.end(), "message " + Summary(3, 3));
    ASSERT_NE(box, host.calls.begin());
    EXPECT_EQ(*std::prev(box), "text 3 von 3 Dateien wurden überprüft.");
    EXPECT_EQ(std::vector<std::string>(std::next(box), host.calls.end()),
        (std::vector<std::string> {"text ", "value 0", "status ", "quit 1"}));

    EXPECT_FALSE(fs::exists(root / "temp/TempPelta"));
    EXPECT_EQ(engine->State().CheckedCount, 0);
    EXPECT_EQ(engine->State().MigratedCount, 0);
    EXPECT_EQ(engine->LastRun().migrated, 3);
    EXPECT_EQ(engine->State().FileFilter, engine::Profile::Hipax);
    EXPECT_TRUE(ErrorLines().empty());
}

TEST_F(RunControl, OnlyTheRunsOwnWorkFolderIsRemoved)
{
    WriteFile(root / "src/a", "1");
    MakeFolders(root / "other/TempPelta");
    WriteFile(root / "other/TempPelta/keep", "k");
    host.onPump = [&](int) { host.temp = root / "other"; }; // the operator edits the temp field mid-run
    Migrate();
    EXPECT_FALSE(fs::exists(root / "temp/TempPelta"));
    EXPECT_EQ(ReadFile(root / "other/TempPelta/keep"), "k");

    // A work folder that is a symbolic link is used but never deleted through the link.
    host.temp = root / "linked";
    MakeFolders(root / "linked");
    fs::create_directory_symlink(root / "other/TempPelta", root / "linked/TempPelta");
    Migrate();
    EXPECT_TRUE(fs::is_symlink(root / "linked/TempPelta"));
    EXPECT_EQ(ReadFile(root / "other/TempPelta/keep"), "k");
}

TEST_F(RunControl, MigrierenDuringARunQueuesOneFurtherRun)
{
    WriteFile(root / "src/a.dcm", "1");
    WriteFile(root / "src/b", "2");
    host.onPump = [&](int pump) {
        if (pump == 1) {
            host.pacs = "GEMED"; // the running run stays HIPAX
            engine->StartRun();
            engine->StartRun(); // a second click queues nothing more
            EXPECT_TRUE(engine->RunQueued());
            EXPECT_FALSE(engine->TimerEnabled()) << "no tick may nest inside the running one";
        }
    };
    engine->StartRun();
    engine->OnTimerTick();
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(LastMessage(), Summary(2, 2));
    EXPECT_TRUE(engine->TimerEnabled()) << "the queued run passed its checks and is armed";
    EXPECT_FALSE(host.quitEnabled);

    engine->RunUntilIdle();
    EXPECT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(LastMessage(), Summary(1, 2)) << "the queued run uses the new profile: a.dcm is left out";
    EXPECT_EQ(DestContents(), (std::vector<std::string> {"1", "2", "2"}));
    EXPECT_TRUE(host.quitEnabled);
}

TEST_F(RunControl, StopRequestEndsAfterTheCurrentFileWithoutSummary)
{
    for (const char* name : {"a", "b", "c", "d"}) {
        WriteFile(root / "src" + "/" + name, name);
    }
    WriteFile(root / "src/sub/e", "e");
    host.onPump = [&](int pump) {
        if (pump == 5) { // while the second file is in hand (three pumps per file)
            engine->StartRun(); // a queued run is dropped by the stop
            engine->RequestStop();
        }
    };
    Migrate();
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(engine->LastRun().stopped);
    EXPECT_EQ(engine->LastRun().migrated, 2);
    EXPECT_EQ(DestContents(), (std::vector<std::string> {"a", "b"}));
    EXPECT_FALSE(fs::exists(root / "temp/TempPelta"));
    EXPECT_FALSE(engine->TimerEnabled());

    // Armed but not yet ticked: the work folder goes too.
    engine->StartRun();
    ASSERT_TRUE(fs::exists(root / "temp/TempPelta"));
    engine->RequestStop();
    EXPECT_FALSE(fs::exists(root / "temp/TempPelta"));
    EXPECT_FALSE(engine->TimerEnabled());
}
