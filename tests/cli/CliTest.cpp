#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/CliMain.h"
#include "common/CliOutput.h"
#include "common/TempTree.h"
#include "support/Settings.h"

using namespace testing_support;

namespace {

const std::string SummaryLines(int migrated, int checked)
{
    return std::to_string(migrated) + " von " + std::to_string(checked)
        + " Dateien konnten erfolgreich migriert werden.\n\nBitte legen Sie die nächste CD / DVD ein.\n";
}

// A program folder with Settings.ini pointing at a small HIPAX disc, and the console streams.
class Cli : public ::testing::Test
{
protected:
    TempDir root;
    std::ostringstream out, err;
    bool terminal = false;
    bool interrupted = false;

    void SetUp() override
    {
        WriteFile(root / "src/a", "a");
        WriteFile(root / "src/sub/b.dcm", "b");
        MakeFolders(root / "dest");
        MakeFolders(root / "temp");
        MakeFolders(root / "program");
        support::SaveSettings({root / "temp", root / "dest", root / "src", 0, "HIPAX"}, SettingsFile());
    }

    std::string SettingsFile() const { return support::SettingsFilePath(root / "program"); }

    int Cli_(std::vector<std::string> args)
    {
        const cli::Environment env {root / "program", out, err, terminal, 60, [this] { return interrupted; }};
        return cli::RunCli(args, env);
    }
};

} // namespace

TEST(CliOptions, ParsesValuesFlagsAndRejectsTheRest)
{
    std::string error;
    auto options = cli::ParseOptions(
        {"--pacs", "Arzt und Praxis", "--source=/media/cdrom", "--dest", "/z", "--temp=", "--debug", "-q"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->pacs, "Arzt und Praxis");
    EXPECT_EQ(options->source, "/media/cdrom");
    EXPECT_EQ(options->dest, "/z");
    EXPECT_EQ(options->temp, "");
    EXPECT_TRUE(options->debug);
    EXPECT_TRUE(options->quiet);

    for (const auto& bad : std::vector<std::vector<std::string>> {{"--pacs"}, {"--frobnicate"}, {"extra"}}) {
        EXPECT_FALSE(cli::ParseOptions(bad, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST_F(Cli, SettingsFillWhatTheOptionsLeaveOutAndStayUntouched)
{
    const std::string settingsBefore = ReadFile(SettingsFile());
    EXPECT_EQ(Cli_({}), cli::ExitCompleted);
    EXPECT_EQ(SummaryPart(out.str()), SummaryLines(2, 2));
    EXPECT_TRUE(LastLine(out.str()).starts_with("Bericht: " + root / "program/Logs/Runs/")) << out.str();
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(Names(root / "dest").size(), 2u);

    out.str("");
    EXPECT_EQ(Cli_({"--pacs", "GEMED", "--dest", root / "dest2"}), cli::ExitNotStarted);
    EXPECT_EQ(err.str(), "Zielordner exestiert nicht.\n");
    EXPECT_EQ(out.str(), "");

    MakeFolders(root / "dest2");
    EXPECT_EQ(Cli_({"--pacs", "GEMED", "--dest", root / "dest2"}), cli::ExitCompleted);
    EXPECT_EQ(Names(root / "dest2").size(), 1u) << "GEMED leaves b.dcm out";
    EXPECT_EQ(ReadFile(SettingsFile()), settingsBefore);
}

TEST_F(Cli, FailuresGiveExitOneAndAHintUnlessQuiet)
{
    WriteFile(root / "program/Logs", "blocks the log folder: the run must go on regardless");
    std::filesystem::create_symlink(root / "nowhere", root / "src/dangling");
    EXPECT_EQ(Cli_({}), cli::ExitWithFailures);
    EXPECT_EQ(SummaryPart(out.str()), SummaryLines(2, 3));
    EXPECT_EQ(err.str(), "1 Dateien oder Ordner mit Fehler; Einzelheiten in " + root / "program/Logs/Error.txt" + "\n");

    out.str("");
    err.str("");
    EXPECT_EQ(Cli_({"--quiet"}), cli::ExitWithFailures);
    EXPECT_EQ(SummaryPart(out.str()), SummaryLines(2, 3));
    EXPECT_EQ(err.str(), "");
}

TEST_F(Cli, LiveProgressOnlyOnATerminalAndNotWhenQuiet)
{
    terminal = true;
    EXPECT_EQ(Cli_({}), cli::ExitCompleted);
    const std::string live = err.str();
    // The first frame is drawn at once; later ones at most ten times a second.
    EXPECT_TRUE(live.starts_with("\r\x1b[K[####################] 1/1  0 ausgewählt, 0 migriert, 0 Fehler")) << live;
    EXPECT_TRUE(live.ends_with("\r\x1b[K")) << "the live line is cleared before the summary";
    EXPECT_EQ(SummaryPart(out.str()), SummaryLines(2, 2));

    err.str("");
    EXPECT_EQ(Cli_({"-q"}), cli::ExitCompleted);
    EXPECT_EQ(err.str(), "");
}

TEST_F(Cli, InterruptStopsAfterTheCurrentFile)
{
    interrupted = true;
    EXPECT_EQ(Cli_({}), cli::ExitInterrupted);
    EXPECT_EQ(out.str().find("konnten erfolgreich migriert"), std::string::npos) << "no summary for a stopped run";
    EXPECT_TRUE(LastLine(out.str()).starts_with("Bericht: ")) << "but its report";
    EXPECT_EQ(err.str(), "Migration abgebrochen: 1 von 1 Dateien wurden bis dahin migriert.\n");
    EXPECT_FALSE(std::filesystem::exists(root / "temp/TempPelta"));
}

TEST_F(Cli, HelpVersionAndUsageErrors)
{
    EXPECT_EQ(Cli_({"--help"}), cli::ExitCompleted);
    EXPECT_TRUE(out.str().starts_with("Aufruf: zet-pelta-cli [--pacs NAME]"));
    EXPECT_NE(out.str().find(root / "program"), std::string::npos) << "help names the program folder";
    out.str("");
    EXPECT_EQ(Cli_({"-V"}), cli::ExitCompleted);
    EXPECT_EQ(out.str(), "zet-pelta-cli 0.1.0\n");
    EXPECT_EQ(Cli_({"--source"}), cli::ExitNotStarted);
    EXPECT_EQ(err.str(), "zet-pelta-cli: Option --source braucht einen Wert.\nHilfe: zet-pelta-cli --help\n");
    EXPECT_TRUE(Names(root / "dest").empty());
}

TEST_F(Cli, VerifyComparesTheDestinationWithItsLatestReport)
{
    ASSERT_EQ(Cli_({"--quiet"}), cli::ExitCompleted);
    const std::string report = LastLine(out.str()).substr(std::string("Bericht: ").size());

    out.str("");
    EXPECT_EQ(Cli_({"--verify", root / "dest"}), cli::ExitCompleted);
    EXPECT_EQ(out.str(),
        root / "dest" + " stimmt mit " + report + " überein: 2 Dateien geprüft, alle vorhanden und unverändert.\n");

    std::filesystem::remove(root / "dest/" + Names(root / "dest")[0]);
    out.str("");
    EXPECT_EQ(Cli_({"--verify", root / "dest"}), cli::ExitWithFailures);
    EXPECT_EQ(out.str(),
        root / "dest" + " weicht von " + report
            + " ab: 2 Dateien geprüft, 1 fehlen, 0 verändert, 0 hinzugekommen, 0 kein gültiges DICOM mehr.\n");
    EXPECT_TRUE(err.str().starts_with("missing: ")) << err.str();

    out.str("");
    EXPECT_EQ(Cli_({"--verify", root / "temp"}), cli::ExitNotStarted);
    EXPECT_TRUE(out.str().starts_with("Kein Laufbericht")) << out.str();
}
