#include "common/TestKit.h"

#include <regex>
#include <sstream>

#include "SampleDisc.h"
#include "cli/CliMain.h"
#include "engine/common/Texts.h"
#include "engine/records/DiscJournal.h"
#include "support/Csv.h"
#include "support/ProcessWatch.h"
#include "support/Settings.h"

namespace {

// The summary lines of the output, without the report lines after them; the output's last line.
std::string SummaryPart(const std::string& out)
{
    return out.substr(0, out.find("CD / DVD ein.\n") + std::string_view("CD / DVD ein.\n").size());
}

std::string LastLine(const std::string& out)
{
    return out.substr(out.rfind('\n', out.size() - 2) + 1, out.size() - out.rfind('\n', out.size() - 2) - 2);
}

std::string SummaryLines(int migrated, int checked)
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
    bool terminal = false, interrupted = false;

    void SetUp() override
    {
        WriteFile(root / "src/a", "a");
        WriteFile(root / "src/sub/b.dcm", "b");
        for (const char* folder : {"dest", "temp", "program"}) {
            MakeFolders(root / folder);
        }
        support::SaveSettings({root / "temp", root / "dest", root / "src", 0, "HIPAX"}, root / "program/Settings.ini");
    }
    cli::ExitStatus Run(const std::vector<std::string>& args)
    {
        out.str("");
        err.str("");
        return cli::RunCli(args, {root / "program", out, err, terminal, 60, [this] { return interrupted; }});
    }
};

} // namespace

TEST_F(Cli, OptionsOverrideSettingsWhichStayUntouched)
{
    const std::string settings = ReadFile(root / "program/Settings.ini");
    EXPECT_EQ(Run({}), cli::ExitStatus::Completed);
    EXPECT_EQ(SummaryPart(out.str()) + err.str(), SummaryLines(2, 2));
    EXPECT_TRUE(LastLine(out.str()).starts_with("Bericht: " + Shown(root / "program/Logs/Runs/"))) << out.str();
    EXPECT_EQ(Run({"--pacs", "GEMED", "--dest", root / "dest2"}), cli::ExitStatus::NotStarted);
    EXPECT_EQ(out.str() + err.str(), "Zielordner exestiert nicht.\n");
    MakeFolders(root / "dest2");
    EXPECT_EQ(
        Run({"--pacs=GEMED", "--dest=" + root / "dest2", "--temp", root / "temp", "-q"}), cli::ExitStatus::Completed);
    EXPECT_EQ(Names(root / "dest2").size(), 1u) << "GEMED leaves b.dcm out";
    EXPECT_EQ(ReadFile(root / "program/Settings.ini"), settings);
    EXPECT_EQ(Run({"--source"}), cli::ExitStatus::NotStarted);
    EXPECT_EQ(Run({"extra"}), cli::ExitStatus::NotStarted);
    EXPECT_EQ(err.str(), "zet-pelta-cli: Unbekannte Option: extra\nHilfe: zet-pelta-cli --help\n");
    EXPECT_EQ(Run({"--pacs", "--source", root / "src"}), cli::ExitStatus::NotStarted);
    EXPECT_EQ(err.str(), "zet-pelta-cli: Option --pacs braucht einen Wert.\nHilfe: zet-pelta-cli --help\n");
    // Any spelling chooses the system; the report is named as the system spells itself.
    EXPECT_EQ(Run({"-q", "--pacs", "hipax", "--dest=" + root / "dest2"}), cli::ExitStatus::Completed);
    EXPECT_TRUE(std::regex_search(LastLine(out.str()), std::regex("_HIPAX(_[0-9]+)?\\.csv$"))) << out.str();
    EXPECT_EQ(Run({"-q", "--pacs", "Hipax 2"}), cli::ExitStatus::NotStarted);
    EXPECT_EQ(err.str(), "PACS-System ist unbekannt.\nPACS-Systeme: Arzt und Praxis, GEMED, HIPAX, STARC\n");
    // Sending: the node and our own settings are checked before anything runs.
    const std::pair<std::vector<std::string>, std::string> wrongSends[] = {
        {{"--send-only", root / "dest"}, "--send-only braucht --send"},
        {{"--send-only", root / "dest", "--send"}, "--send ohne Knoten, und Settings.ini nennt in [Senden] keinen"},
        {{"--send", "-q"}, "--send ohne Knoten"},
        {{"--send", "PACS@[::1]:104"}, "PACS-Knoten \"PACS@[::1]:104\": IPv6-Adressen werden nicht unterstützt"},
        {{"--send", "ORTHANC@host:104", "--connections", "100"}, "Verbindungen \"100\" ist keine Zahl von 1 bis 64."},
        {{"--send", "ORTHANC@host"},
            "PACS-Knoten \"ORTHANC@host\" ist nicht in der Form AE-TITEL@RECHNER:PORT angegeben."},
        {{"--send", "ORTHANC@host:104", "--aet", "ZU_LANGER_AE_TITEL"}, "AE-Titel \"ZU_LANGER_AE_TITEL\" ist ungültig"},
        {{"--send", "ORTHANC@host:104", "--listen", "0"}, "Empfangsport \"0\" ist keine Zahl von 1 bis 65535."},
    };
    const std::size_t reports = Names(root / "program/Logs/Runs").size();
    for (const auto& [args, message] : wrongSends) {
        EXPECT_EQ(Run(args), cli::ExitStatus::NotStarted) << message;
        EXPECT_NE(err.str().find("zet-pelta-cli: " + message), std::string::npos) << err.str();
        EXPECT_EQ(Names(root / "program/Logs/Runs").size(), reports) << "no run, no send";
    }
    EXPECT_EQ(Run({"--help"}), cli::ExitStatus::Completed);
    EXPECT_NE(out.str().find("  --send-only DIR  "), std::string::npos);
    EXPECT_EQ(Run({"-V"}), cli::ExitStatus::Completed);
    EXPECT_EQ(out.str(), "zet-pelta-cli 0.1.0\n");
}

#ifndef _WIN32 // Wine makes no links
TEST_F(Cli, FailuresGiveExitOneWithAHintAndCtrlCStopsAfterTheFileInHand)
{
    WriteFile(root / "program/Logs", "blocks the log folder: the run must go on regardless");
    fs::create_symlink(root / "nowhere", root / "src/dangling");
    EXPECT_EQ(Run({}), cli::ExitStatus::WithFailures);
    EXPECT_EQ(SummaryPart(out.str()), SummaryLines(2, 3));
    EXPECT_EQ(err.str(), "1 Dateien oder Ordner mit Fehler; Einzelheiten in " + root / "program/Logs/Error.txt" + "\n");
    EXPECT_EQ(Run({"--quiet"}), cli::ExitStatus::WithFailures);
    EXPECT_EQ(err.str(), "");
    terminal = true; // a live line, drawn at once and cleared before the summary, unless quiet
    EXPECT_EQ(Run({}), cli::ExitStatus::WithFailures);
    EXPECT_TRUE(err.str().starts_with("\r\x1b[K[##########..........] 1/2  0 ausgewählt, 0 migriert, 0 Fehler"))
        << err.str();
    EXPECT_NE(err.str().find("\r\x1b[K1 Dateien oder Ordner mit Fehler"), std::string::npos) << err.str();
    interrupted = true;
    EXPECT_EQ(Run({"-q"}), cli::ExitStatus::Interrupted);
    EXPECT_EQ(out.str().find("konnten erfolgreich migriert"), std::string::npos) << "no summary for a stopped run";
    EXPECT_TRUE(LastLine(out.str()).starts_with("Bericht: ")) << "but its report";
    EXPECT_EQ(err.str(), "Migration abgebrochen: 1 von 1 Dateien wurden bis dahin migriert.\n");
    EXPECT_FALSE(fs::exists(root / "temp/TempPelta"));
}
#endif

TEST_F(Cli, VerifyCoversEveryDiscThatWroteIntoTheDestination)
{
    // A disc's line is named by its report: "2026-12-06_10-05-03 HIPAX: ".
    const auto runDisc = [this] {
        EXPECT_EQ(Run({"--quiet"}), cli::ExitStatus::Completed);
        const std::string report = LastLine(out.str()).substr(std::string("Bericht: ").size());
        return std::pair {report, fs::path(report).filename().string().substr(0, 19) + " HIPAX: "};
    };
    const auto [firstReport, first] = runDisc();
    const std::vector<std::string> firstDisc = Names(root / "dest");
    WriteFile(root / "src/c", "c");
    const auto [secondReport, second] = runDisc();
    EXPECT_EQ(Run({"--verify", root / "dest"}), cli::ExitStatus::Completed);
    EXPECT_EQ(out.str() + err.str(),
        first + "2 von 2 vorhanden\n" + second + "3 von 3 vorhanden\n" + root / "dest"
            + " stimmt mit 2 Laufberichten überein: 5 Berichtszeilen geprüft, 5 Dateien im Ordner, alle vorhanden und "
              "unverändert.\n");

    // The first disc's files deleted and changed, a stray file in a sub-folder, a temporary file of a
    // writer that died and one of a writer that runs (this process), and a report whose verdict no
    // longer holds.
    fs::remove(root / "dest/" + firstDisc[0]);
    WriteFile(root / "dest/" + firstDisc[1], "changed");
    WriteFile(root / "dest/sub/stray.dcm", "added");
    const std::string tag = support::ProcessTag();
    WriteFile(root / "dest/.zet-pelta-" + tag.substr(0, tag.rfind('-')) + "-4194305-1.part", "left over");
    WriteFile(root / "dest/.zet-pelta-" + tag + "-2.part", "being written");
    const std::string rows = ReadFile(secondReport);
    const std::size_t verdict = rows.rfind("not DICOM");
    WriteFile(secondReport, rows.substr(0, verdict) + "no DICOM" + rows.substr(verdict + 9));
    EXPECT_EQ(Run({"--verify", root / "dest"}), cli::ExitStatus::WithFailures);
    EXPECT_EQ(out.str(),
        first + "0 von 2 vorhanden\n" + second + "2 von 3 vorhanden\n" + root / "dest"
            + " weicht von 2 Laufberichten ab: 5 Berichtszeilen geprüft, 7 Dateien im Ordner, 1 fehlen, 1 verändert, 1 "
              "mit anderem DICOM-Befund, 1 "
              "hinzugekommen, 1 verwaiste Teildateien.\n");
    for (const char* problem : {"missing: ", "changed: ", "verdict: ", "added: sub/stray.dcm\n",
             "-4194305-1.part (its writer no longer runs)", "-2.part (its writer runs"}) {
        EXPECT_NE(err.str().find(problem), std::string::npos) << problem << " in " << err.str();
    }
    EXPECT_EQ(Run({"--verify", root / "temp"}), cli::ExitStatus::NotStarted);
    EXPECT_EQ(out.str(),
        "Kein Laufbericht in " + Shown(root / "program/Logs/Runs") + " hat nach " + root / "temp" + " geschrieben.\n");
}

// Another disc of the system whose files have the same names and sizes looks like the first to the
// journal's fingerprint (here both are folders, without a volume serial): "only the missing files"
// migrates each of its files, none of which is a file an earlier run read; the first disc again then
// finds its own outputs among both discs' and writes nothing twice.
TEST_F(Cli, AnotherDiscOfTheSameNamesAndSizesIsNotTakenForMigrated)
{
    for (const char* disc : {"first disc ", "other disc ", "first disc "}) {
        for (int i = 0; i < 3; ++i) {
            WriteFile(root / "src/IMG" + std::to_string(i), disc + std::to_string(i));
        }
        ASSERT_EQ(Run({"-q", "--only-missing"}), cli::ExitStatus::Completed);
    }
    std::multiset<std::string> written;
    for (const auto& [name, bytes] : Snapshot(root / "dest")) {
        written.insert(bytes);
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(
            written.count("first disc " + std::to_string(i)) + written.count("other disc " + std::to_string(i)), 2u)
            << i;
    }
}

TEST_F(Cli, TheSameDiscAgainMigratesOnlyWhatIsMissingAndTheJournalListsEveryRun)
{
    for (int i = 0; i < 4; ++i) {
        WriteFile(root / "src/IMG" + std::to_string(i), "image " + std::to_string(i));
    }
    ASSERT_EQ(Run({"-q"}), cli::ExitStatus::Completed);
    const std::map<std::string, std::string> first = Snapshot(root / "dest");
    ASSERT_EQ(first.size(), 6u);
    // Again, and again after three outputs were deleted: nothing new, then exactly those three.
    const auto alreadyThere = [](int count) {
        return "ein.\n\n" + std::to_string(count)
            + " Bilder waren schon im Zielordner und wurden nicht noch einmal geschrieben.\n";
    };
    EXPECT_EQ(out.str().find("schon im Zielordner"), std::string::npos) << "a first run has nothing already there";
    EXPECT_EQ(Run({"-q", "--only-missing"}), cli::ExitStatus::Completed);
    EXPECT_EQ(SummaryPart(out.str()) + err.str(), SummaryLines(6, 6));
    EXPECT_NE(out.str().find(alreadyThere(6)), std::string::npos) << out.str();
    EXPECT_EQ(Snapshot(root / "dest"), first);
    // "Already there" means the same bytes: an output deleted, one cut short and one replaced by other
    // bytes of the same size are each written again, and --verify names the two that are not as written.
    std::multiset<std::string> deleted;
    std::vector<std::string> altered;
    for (const auto& [name, bytes] : first) {
        if (deleted.empty()) {
            fs::remove(root / "dest/" + name);
        } else if (deleted.size() == 1) {
            WriteFile(root / "dest/" + name, bytes.substr(0, bytes.size() / 2));
            altered.push_back(name);
        } else if (deleted.size() == 2) {
            std::string other = bytes;
            other.back() ^= 1;
            WriteFile(root / "dest/" + name, other);
            altered.push_back(name);
        } else {
            break;
        }
        deleted.insert(bytes);
    }
    EXPECT_EQ(Run({"-q", "--only-missing"}), cli::ExitStatus::Completed);
    EXPECT_NE(out.str().find(alreadyThere(3)), std::string::npos) << out.str();
    EXPECT_EQ(Run({"--verify", root / "dest"}), cli::ExitStatus::WithFailures);
    for (const std::string& name : altered) {
        EXPECT_NE(err.str().find("changed: " + name), std::string::npos) << name << " in " << err.str();
    }
    std::multiset<std::string> back;
    for (const auto& [name, bytes] : Snapshot(root / "dest")) {
        if (!first.contains(name)) {
            back.insert(bytes);
        }
    }
    EXPECT_EQ(back, deleted);
    // Without the option the disc is migrated whole, as always, with a note.
    const std::map<std::string, std::string> beforeWhole = Snapshot(root / "dest");
    EXPECT_EQ(Run({"-q"}), cli::ExitStatus::Completed);
    EXPECT_EQ(Snapshot(root / "dest").size(), 14u);
    EXPECT_EQ(out.str().find("schon im Zielordner"), std::string::npos) << "the whole disc written again";
    // Told as what the console program does, and which option does the other: it has nobody to ask.
    EXPECT_TRUE(err.str().starts_with("Hinweis: Diese CD / DVD wurde am ")
        && err.str().ends_with("(6 von 6 Dateien). Sie wird ganz migriert; nur die fehlenden Dateien migriert ein "
                               "Aufruf mit --only-missing.\n"))
        << err.str();

    // The journal: four runs, newest last. Whether each still verifies: the first two list files that
    // were deleted, the last one a file changed now.
    for (const std::string& name : Names(root / "dest")) {
        if (!beforeWhole.contains(name)) {
            WriteFile(root / "dest/" + name, "changed");
            break;
        }
    }
    // Files in the folder and rows of the reports are counted apart: 12 files, listed 6 + 6 + 6 + 6 times.
    EXPECT_EQ(Run({"--verify", root / "dest"}), cli::ExitStatus::WithFailures);
    EXPECT_NE(out.str().find(": 24 Berichtszeilen geprüft, 14 Dateien im Ordner, "), std::string::npos) << out.str();
    EXPECT_EQ(Run({"--discs", root / "dest"}), cli::ExitStatus::Completed);
    const std::string table = out.str();
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 5) << table;
    // Written and already there apart, to the second, and no destination column for one destination.
    EXPECT_NE(
        table.find(
            "HIPAX            -                        0         6          0       0  nein         nein     -\n"),
        std::string::npos)
        << table;
    EXPECT_NE(table.find("HIPAX            -                        3         3  "), std::string::npos) << table;
    EXPECT_TRUE(
        std::regex_search(table, std::regex("\n[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}  HIPAX")))
        << table;
    EXPECT_EQ(table.find(Shown(root / "dest")), std::string::npos) << table;
    EXPECT_EQ(Run({"--discs", "--csv"}), cli::ExitStatus::Completed);
    const auto rows = support::ParseCsv(out.str());
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[2][8] + "|" + rows[2][9] + "|" + rows[2][12], "0|6|no"); // migrated, already there, stopped
    EXPECT_EQ(rows[1][4], rows[4][4]) << "one disc, one fingerprint";
    EXPECT_EQ(rows[1][14] + rows[2][14] + rows[3][14] + rows[4][14], "neinneinjanein");
    // Runs into two destinations: each row names its own.
    MakeFolders(root / "dest2");
    EXPECT_EQ(Run({"-q", "--dest", root / "dest2"}), cli::ExitStatus::Completed);
    EXPECT_EQ(Run({"--discs"}), cli::ExitStatus::Completed);
    EXPECT_NE(out.str().find("  Zielverzeichnis\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("  nein     -        " + Shown(root / "dest") + "\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("  ja       -        " + Shown(root / "dest2") + "\n"), std::string::npos) << out.str();
}

// What the operator meets with no disc, a destination that cannot be written, a GEMED disc's index files,
// and --discs written in any order or for a folder no disc went into.
TEST_F(Cli, NoDiscAReadOnlyDestinationIndexFilesAndTheDiscsListAreToldForWhatTheyAre)
{
    // An empty mount point: the summary stays, a line says why, and a script does not read it as done.
    MakeFolders(root / "empty/sub");
    EXPECT_EQ(Run({"-q", "--source", root / "empty"}), cli::ExitStatus::WithFailures);
    EXPECT_TRUE(out.str().starts_with(
        SummaryLines(0, 0) + "\nDie Quelle enthält keine Dateien. Ist eine CD / DVD eingelegt?\n"))
        << out.str();
#ifndef _WIN32
    // Even root cannot make a file in /proc: the run stops before it reads the disc, naming the folder.
    const auto summaries = [this] { return Names(root / "program/Logs/Runs").size(); };
    const std::size_t before = summaries();
    EXPECT_EQ(Run({"-q", "--dest", "/proc"}), cli::ExitStatus::NotStarted);
    EXPECT_TRUE(err.str().starts_with("In den Zielordner kann nicht geschrieben werden: /proc (")) << err.str();
    EXPECT_EQ(summaries(), before) << "no run, no report";
#endif
    // GEMED's index files are counted and left out: one line says they are no failure.
    ASSERT_GT(corpus::WriteDisc("GEMED", root / "gemed", {16, 2048, 4}), 0);
    EXPECT_EQ(Run({"-q", "--pacs", "GEMED", "--source", root / "gemed"}), cli::ExitStatus::Completed);
    EXPECT_NE(out.str().find(SummaryLines(16, 20)
                  + "\n4 Dateien sind keine Bilder dieses PACS-Systems (Namen mit "
                    "Punkt, etwa Indexdateien) und wurden nicht kopiert; kein Fehler.\n"),
        std::string::npos)
        << out.str();
    // --discs: the folder in any place; one no disc went into, and one that does not exist.
    EXPECT_EQ(Run({"--discs", "--csv", root / "dest"}), cli::ExitStatus::Completed);
    EXPECT_EQ(support::ParseCsv(out.str()).size(), 3u) << out.str() << err.str();
    EXPECT_EQ(Run({"--discs", root / "temp"}), cli::ExitStatus::Completed);
    EXPECT_TRUE(out.str().starts_with("Noch keine CD / DVD migriert nach " + Shown(root / "temp") + " (")) << out.str();
    EXPECT_EQ(Run({"--discs", root / "nope"}), cli::ExitStatus::NotStarted);
    EXPECT_EQ(err.str(), "zet-pelta-cli: Ordner " + Shown(root / "nope") + " gibt es nicht.\n");
}

// The operator's mistakes a run can catch: a disc of another PACS system than the one chosen, and the
// destination as the source.
TEST_F(Cli, EachSystemsDiscRunAsEachOtherIsToldWhereItWouldMigrateNothingOrTheWrongBytes)
{
    const std::string systems[] = {"Arzt und Praxis", "GEMED", "HIPAX", "STARC"};
    for (const std::string& system : systems) {
        ASSERT_GT(corpus::WriteDisc(system, root / system, {16, 2048, 4}), 0);
    }
    // A viewer's sample image beside the compressed ones: HIPAX would make one right image of the disc.
    fs::copy_file(ZP_PYDICOM_DATA "/test_files/CT_small.dcm", root / "Arzt und Praxis/CT_small.dcm");
    const auto looksLike = [this] { return engine::ReadJournal(root / "program/Logs/Runs").back().looksLike; };
    for (const std::string& disc : systems) {
        for (const std::string& pacs : systems) {
            SCOPED_TRACE(disc + " disc run as " + pacs);
            // A GEMED disc's images are migrated right by HIPAX too, which copies its index files as well.
            const bool told = disc != pacs && !(disc == "GEMED" && pacs == "HIPAX");
            EXPECT_EQ(Run({"-q", "--pacs", pacs, "--source", root / disc}),
                told ? cli::ExitStatus::WithFailures : cli::ExitStatus::Completed);
            EXPECT_EQ(out.str().find("ein.\n\n" + engine::texts::LooksLike(disc) + "\n") != std::string::npos, told);
            EXPECT_EQ(out.str().find("sieht aus wie") != std::string::npos, told) << out.str();
            EXPECT_EQ(looksLike(), told ? disc : "");
        }
    }
    // A real archive's worth of files (python3-pydicom's, a few compressed among them) as they are: a
    // HIPAX disc. HIPAX is right although it copies compressed files; GEMED migrates its files without
    // a "." right; "Arzt und Praxis" takes only its names that end in "R" or "Z", which fail.
    for (const auto& [pacs, told] : {std::pair {"HIPAX", false}, {"GEMED", false}, {"Arzt und Praxis", true}}) {
        Run({"-q", "--pacs", pacs, "--source", ZP_PYDICOM_DATA "/test_files"});
        EXPECT_EQ(looksLike(), told ? "HIPAX" : "") << pacs;
    }
}

TEST_F(Cli, TheDestinationAsTheSourceIsRefusedBeforeAnythingIsWritten)
{
    WriteFile(root / "dest/BadObjects/IMG2.err", "quarantined");
    for (const auto& [source, dest, text] :
        {std::tuple {root / "src", root / "src", "Quellverzeichnis und Zielverzeichnis sind derselbe Ordner"},
            {root / "src/.", root / "src/", "Quellverzeichnis und Zielverzeichnis sind derselbe Ordner"},
            {root / "dest/BadObjects", root / "dest", "Quellverzeichnis ist der Ordner BadObjects"}}) {
        SCOPED_TRACE(source + " into " + dest);
        const auto before = Snapshot(root / "src"), quarantined = Snapshot(root / "dest");
        EXPECT_EQ(Run({"--source", source, "--dest", dest}), cli::ExitStatus::NotStarted);
        EXPECT_TRUE(err.str().starts_with(text) && out.str().empty()) << err.str();
        EXPECT_EQ(Snapshot(root / "src"), before);
        EXPECT_EQ(Snapshot(root / "dest"), quarantined);
        EXPECT_FALSE(fs::exists(root / "program/Logs/Runs/discs.csv")) << "no run, no journal row";
    }
}
