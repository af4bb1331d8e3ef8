
#include "EngineFixture.h"
#include "engine/records/DiscJournal.h"
#include "engine/records/ReportRows.h"
#include "engine/records/SendRecords.h"
#include "engine/report/Findings.h"
#include "support/Csv.h"
#include "support/Sha256.h"

#include <thread>

namespace {

const std::string Pydicom = ZP_PYDICOM_DATA "/test_files/";

class RunReportTest : public EngineFixture
{
protected:
    std::map<std::string, std::map<std::string, std::string>> rows; // the latest run's rows by source path
    std::map<std::string, std::string> summary;

    void Run(const std::string& pacs)
    {
        host.pacs = pacs;
        Migrate();
        const std::string report = engine.LastRun().report;
        const auto records = support::ParseCsv(ReadFile(report));
        ASSERT_EQ(records.at(0), engine::ColumnNames(engine::ReportTable()));
        rows.clear();
        for (std::size_t i = 1; i < records.size(); ++i) {
            for (std::size_t c = 0; c < records[i].size(); ++c) {
                rows[records[i][0]][records[0][c]] = records[i][c];
            }
        }
        for (const auto& record : support::ParseCsv(ReadFile(report.substr(0, report.size() - 4) + "-summary.csv"))) {
            summary[record.at(0)] = record.at(1);
        }
    }
    // The named cells of a row, joined by "|".
    std::string Cells(const std::string& path, std::initializer_list<const char*> columns)
    {
        std::string joined;
        for (const char* column : columns) {
            joined += (joined.empty() ? "" : "|") + rows[path][column];
        }
        return joined;
    }
};

[[maybe_unused]] std::string Sha(const std::string& bytes) // the Windows build leaves out its one user
{
    support::Sha256 digest;
    digest.Update(bytes);
    return digest.HexDigest();
}

} // namespace

#ifndef _WIN32 // Wine makes no links
TEST_F(RunReportTest, ARowForEveryFileTheWalkSawAndASummary)
{
    const std::string ct = ReadFile(Pydicom + "CT_small.dcm");
    WriteFile(root / "src/CT1", ct);
    WriteFile(root / "src/sub/NOTE, \"eins\"\nzwei \xff", "not DICOM at all");
    WriteFile(root / "src/sub/README.TXT", "left out by GEMED's rule");
    fs::create_symlink(root / "nowhere", root / "src/sub/dangling");
    Run("GEMED");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(Cells("CT1",
                  {"size", "source_sha256", "selected", "outcome", "written_sha256", "error", "dicom",
                      "sop_instance_uid", "study_instance_uid", "modality", "transfer_syntax", "duplicate"}),
        std::to_string(ct.size()) + "|" + Sha(ct) + "|yes|migrated|" + Sha(ct)
            + "||ok|1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322|1.3.6.1.4.1.5962.1.2.1.20040119072730.12322|CT|"
              "1.2.840.10008.1.2.1|");
    EXPECT_EQ(ReadFile(root / "dest/" + rows["CT1"]["written_file"]), ct);
    // Migrated all the same, and flagged; a byte that is not UTF-8 is written as \xHH.
    EXPECT_EQ(Cells("sub/NOTE, \"eins\"\nzwei \\xFF", {"outcome", "dicom"}).substr(0, 20), "migrated|not DICOM: ");
    EXPECT_EQ(Cells("sub/README.TXT", {"selected", "not_selected_because", "outcome", "source_sha256"}),
        "no|dot rule|skipped|");
    EXPECT_EQ(Cells("sub/dangling", {"outcome", "error"}), "failed|No such file or directory");
    EXPECT_EQ(summary["pacs"] + summary["destination"] + summary["stopped"] + summary["bytes_read"],
        "GEMED" + root / "dest" + "no" + std::to_string(ct.size() + 16));
    EXPECT_EQ(summary["files_seen"] + summary["selected"] + summary["migrated"] + summary["failed"] + summary["skipped"]
            + summary["not_dicom"] + engine::CountText(engine::ReadJournal(root / "program/Logs/Runs").at(0).selected),
        "4321113"); // the journal's "selected" is the summary's
}
#endif

TEST_F(RunReportTest, DuplicatesWithinAndAcrossRunsAreFlaggedNotSkipped)
{
    const std::string ct = ReadFile(Pydicom + "CT_small.dcm");
    for (const auto& [name, bytes] : {std::pair {"A", ct}, {"B", ct}, {"C", ReadFile(Pydicom + "MR_small.dcm")},
             {"D", ct.substr(0, ct.size() - 1) + '\x7f'}}) { // D: other pixel bytes, the same SOP Instance UID
        WriteFile(root / "src/" + name, bytes);
    }
    Run("HIPAX");
    EXPECT_EQ(Cells("A", {"duplicate"}) + Cells("C", {"duplicate"}), "");
    EXPECT_EQ(Cells("B", {"duplicate", "duplicate_of"}), "SOP Instance UID, content|" + rows["A"]["written_file"]);
    EXPECT_EQ(Cells("D", {"duplicate"}), "SOP Instance UID");
    EXPECT_EQ(engine.LastRun().findings.duplicates, 2);
    const std::string firstC = rows["C"]["written_file"];
    Run("HIPAX"); // the same disc again into the same destination: flagged, and still migrated
    for (const char* name : {"A", "B", "C", "D"}) {
        EXPECT_TRUE(Cells(name, {"outcome", "duplicate"}).starts_with("migrated|") && !rows[name]["duplicate"].empty());
    }
    EXPECT_EQ(rows["C"]["duplicate_of"], firstC);
    MakeFolders(root / "dest2");
    host.dest = root / "dest2"; // another destination knows none of them
    Run("HIPAX");
    EXPECT_EQ(rows["C"]["duplicate"], "");
}

TEST_F(RunReportTest, VerdictsFindingsAndTheStudiesOnTheDisc)
{
    const std::string data = ZP_PYDICOM_DATA "/";
    for (const auto& [name, file] : {std::pair {"CT", "test_files/CT_small.dcm"}, {"CT2", "test_files/CT_small.dcm"},
             {"GERM", "charset_files/chrGerm.dcm"}, {"BARE", "test_files/ExplVR_LitEndNoMeta.dcm"},
             {"DIR", "test_files/dicomdirtests/DICOMDIR"}, {"PAL", "palettes/fall.dcm"},
             {"TXT", "test_files/README.txt"}, {"MRCUT", "test_files/MR_truncated.dcm"}}) {
        WriteFile(root / "src/" + name, ReadFile(data + file));
    }
    const std::string ct = ReadFile(data + "test_files/CT_small.dcm");
    WriteFile(root / "src/CTCUT", ct.substr(0, ct.size() * 2 / 3)); // CT's UIDs, but no image to repeat
    Run("HIPAX");
    // A damaged file names whose image it is, as far as it can be read.
    EXPECT_EQ(Cells("MRCUT",
                  {"dicom", "sop_instance_uid", "study_instance_uid", "series_instance_uid", "patient_id",
                      "patient_name", "modality"}),
        "not DICOM: I/O suspension or premature end of stream|1.3.6.1.4.1.5962.1.1.4.1.1.20040826185059.5457|"
        "1.3.6.1.4.1.5962.1.2.4.20040826185059.5457|1.3.6.1.4.1.5962.1.3.4.1.20040826185059.5457|4MR1|"
        "CompressedSamples^MR1|MR");
    EXPECT_EQ(Cells("CTCUT", {"sop_instance_uid", "duplicate"}), rows["CT"]["sop_instance_uid"] + "|");
    EXPECT_EQ(Cells("CT", {"dicom", "series_instance_uid", "sop_class_uid"}),
        "ok|1.3.6.1.4.1.5962.1.3.1.1.20040119072730.12322|1.2.840.10008.5.1.4.1.1.2");
    EXPECT_EQ(Cells("BARE", {"dicom", "transfer_syntax"}), "no Part 10 header|1.2.840.10008.1.2.1");
    const engine::RunSummary& run = engine.LastRun();
    EXPECT_EQ(engine::StudiesLine(run.findings), "4 Bilder aus 3 Studien von 3 Patienten.");
    // The two cut images are a loss to look at, the text file is none: told apart.
    EXPECT_EQ(host.findings,
        "2 Bilder sind beschädigt und nicht lesbar; ein PACS nimmt sie nicht, bitte prüfen (siehe Bericht).\r\n"
        "1 Datei ist kein gültiges DICOM (kein Bild, etwa eine Textdatei) (siehe Bericht).\r\n2 Dateien sind keine "
        "Bilder, die ein PACS aufnimmt: "
        "DICOMDIR oder fehlende UIDs (siehe Bericht).\r\n1 Datei hat keinen DICOM-Dateikopf; strenge PACS lehnen sie "
        "ab (siehe Bericht).\r\n1 Bild war schon einmal migriert worden (siehe Bericht).\r\nBericht: "
            + Shown(run.report));
    EXPECT_EQ(summary["images"] + summary["studies"] + summary["patients"] + summary["not_an_image"]
            + summary["no_part10_header"] + summary["not_dicom"] + summary["duplicates"] + summary["damaged_images"],
        "43321312");
    const auto studies = support::ParseCsv(ReadFile(root / "program/Logs/Runs/" + summary["studies_file"]));
    std::set<std::string> studyRows; // patient ID, name, modalities, series, images
    for (const auto& study : studies) {
        studyRows.insert(study[0] + "|" + study[1] + "|" + study[6] + "|" + study[7] + "|" + study[8]);
    }
    EXPECT_EQ(studyRows,
        (std::set<std::string> {"patient_id|patient_name|modalities|series|images", "1CT1|CompressedSamples^CT1|CT|1|2",
            "SCSGERM|Äneas^Rüdiger|OT|1|1", "||RTPLAN|1|1"}));

    // A report written before the series and SOP class columns existed is still read by the next run.
    std::string older;
    for (auto record : support::ParseCsv(ReadFile(run.report))) {
        record.resize(16); // path ... duplicate_of
        older += support::CsvLine(record);
    }
    WriteFile(run.report, older);
    Run("HIPAX");
    EXPECT_EQ(Cells("GERM", {"duplicate"}), "SOP Instance UID, content");
}

// Cells are read by their file's own column names: a journal that another tool reordered and added a
// column to, and send records begun by an older version, whose later rows have the columns added since.
TEST(Records, CellsAreReadByTheirFilesOwnColumnNames)
{
    TempDir runs;
    WriteFile(runs / "discs.csv", "report,note,migrated,started\r\nr1.csv,x,7,2026-12-06T10:05:03\r\n");
    const auto journal = engine::ReadJournal(runs.Path());
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(
        journal[0].started + " " + engine::CountText(journal[0].migrated) + engine::CountText(journal[0].selected),
        "2026-12-06T10:05:03 7");
    WriteFile(runs / "r1-pacs.csv",
        "written_file,sop_instance_uid,node,store_status,store_comment,transfer_syntax_sent,verdict,checked,error\r\n"
        "a.dcm,1.2,AE@h:1,0x0000,,,committed,t,\r\nb.dcm,1.3,AE@h:1,0x0000,,,found,t,,/dest,disc1\r\n");
    const auto records = engine::ReadPacsRecords(runs / "r1-pacs.csv", "AE@h:1");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records.at("a.dcm").Confirms("1.2") && records.at("b.dcm").verdict == engine::Arrival::Found);
    EXPECT_EQ(records.at("b.dcm").disc, "disc1");
}

TEST(Journal, ProgramsWritingAtOnceKeepEveryRow)
{
    // Two programs on one program folder, each starting and ending runs: every row stays, the last
    // version of each.
    TempDir runs;
    const auto writer = [&runs](const std::string& name) {
        for (int i = 0; i < 100; ++i) {
            engine::JournalRow row;
            row.report = name + std::to_string(i) + ".csv";
            EXPECT_TRUE(engine::WriteJournalRow(runs.Path(), row));
            row.ended = "2026-12-07T10:00:00";
            row.selected = i;
            row.migrated = 3;
            row.alreadyMigrated = 0;
            row.stopped = false;
            EXPECT_TRUE(engine::WriteJournalRow(runs.Path(), row));
        }
    };
    std::thread first(writer, "a"), second(writer, "b");
    first.join();
    second.join();
    const auto rows = engine::ReadJournal(runs.Path());
    EXPECT_EQ(rows.size(), 200u);
    EXPECT_TRUE(std::all_of(rows.begin(), rows.end(), [](const auto& row) { return !row.ended.empty(); }));
    // Counts read back as written, and a count the row does not know stays unknown.
    engine::JournalRow expected;
    expected.report = "a99.csv";
    expected.ended = "2026-12-07T10:00:00";
    expected.selected = 99;
    expected.migrated = 3;
    expected.alreadyMigrated = 0;
    expected.stopped = false;
    EXPECT_EQ(std::count(rows.begin(), rows.end(), expected), 1);
    EXPECT_FALSE(rows.front().rejected || rows.front().failed);
}
