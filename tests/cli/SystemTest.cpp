#include "common/TestKit.h"

#include <sstream>

#include "SampleDisc.h"
#include "cli/CliMain.h"
#include "engine/report/DiscJournal.h"

// The operator's mistakes a run can catch: a disc of another PACS system than the one chosen, and the
// destination as the source.
namespace {

const char* const Systems[] = {"Arzt und Praxis", "GEMED", "HIPAX", "STARC"};

struct CliRun
{
    int status;
    std::string out, err, looksLike; // the journal's verdict
};

CliRun Migrate(const std::string& pacs, const std::string& source, const std::string& dest = {})
{
    const TempDir root;
    for (const char* folder : {"program", "dest", "temp"}) {
        MakeFolders(root / folder);
    }
    std::ostringstream out, err;
    const int status = cli::RunCli({"-q", "--pacs", pacs, "--source", source, "--dest",
                                       dest.empty() ? root / "dest" : dest, "--temp", root / "temp"},
        {root / "program", out, err, false, 80, [] { return false; }});
    const auto journal = engine::ReadJournal(root / "program/Logs/Runs");
    return {status, out.str(), err.str(), journal.empty() ? "-" : journal.back().looksLike};
}

} // namespace

TEST(WrongSystem, EachSystemsDiscRunAsEachOtherIsToldWhereItWouldMigrateNothingOrTheWrongBytes)
{
    TempDir discs;
    for (const char* system : Systems) {
        ASSERT_GT(corpus::WriteDisc(system, discs / system, {16, 2048, 4}), 0);
    }
    for (const char* disc : Systems) {
        for (const char* pacs : Systems) {
            SCOPED_TRACE(std::string(disc) + " disc run as " + pacs);
            // A GEMED disc's images are migrated right by HIPAX too, which copies its index files as well.
            const bool told = disc != std::string(pacs) && !(disc == "GEMED"s && pacs == "HIPAX"s);
            const CliRun run = Migrate(pacs, discs / disc);
            const std::string line
                = "Die CD / DVD sieht aus wie eine von " + std::string(disc) + "; bitte das PACS-System prüfen.\n";
            EXPECT_EQ(run.out.find("ein.\n\n" + line) != std::string::npos, told) << run.out;
            EXPECT_EQ(run.out.find("sieht aus wie") != std::string::npos, told);
            EXPECT_EQ(run.looksLike, told ? disc : "");
            EXPECT_EQ(run.status, told ? cli::ExitWithFailures : cli::ExitCompleted);
        }
    }
    // A real archive's worth of files (python3-pydicom's, a few compressed among them) as they are: a
    // HIPAX disc. HIPAX is right although it copies compressed files; GEMED migrates its files without
    // a "." right; "Arzt und Praxis" takes only its two names that end in "R" or "Z", which fail.
    const std::string pydicom = ZP_PYDICOM_DATA "/test_files";
    for (const auto& [pacs, told] : {std::pair {"HIPAX", false}, {"GEMED", false}, {"Arzt und Praxis", true}}) {
        SCOPED_TRACE(std::string("pydicom's files run as ") + pacs);
        EXPECT_EQ(Migrate(pacs, pydicom).looksLike, told ? "HIPAX" : "");
    }
}

TEST(WrongSystem, TheDestinationAsTheSourceIsRefusedBeforeAnythingIsWritten)
{
    TempDir root;
    WriteFile(root / "folder/IMG1", "image");
    WriteFile(root / "dest/BadObjects/IMG2.err", "quarantined");
    for (const auto& [source, dest, text] :
        {std::tuple {root / "folder", root / "folder", "Quellverzeichnis und Zielverzeichnis sind derselbe Ordner"},
            {root / "folder/.", root / "folder/", "Quellverzeichnis und Zielverzeichnis sind derselbe Ordner"},
            {root / "dest/BadObjects", root / "dest", "Quellverzeichnis ist der Ordner BadObjects"}}) {
        SCOPED_TRACE(source + " into " + dest);
        const auto before = Snapshot(root.Path());
        const CliRun run = Migrate("HIPAX", source, dest);
        EXPECT_EQ(run.status, cli::ExitNotStarted);
        EXPECT_TRUE(run.err.starts_with(text) && run.out.empty()) << run.err;
        EXPECT_EQ(run.looksLike, "-") << "no run, no journal row";
        EXPECT_EQ(Snapshot(root.Path()), before);
    }
}
