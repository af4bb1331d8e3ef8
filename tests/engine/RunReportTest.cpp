#include <filesystem>

#include "EngineFixture.h"
#include "engine/report/ReportFiles.h"
#include "engine/report/Verification.h"
#include "support/Csv.h"
#include "support/Sha256.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string Pydicom = std::string(ZP_PYDICOM_DATA) + "/test_files/";
const std::string CtUid = "1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322";

std::string Sha(const std::string& bytes)
{
    support::Sha256 digest;
    digest.Update(bytes);
    return digest.HexDigest();
}

// The rows of the run's report by source path, and its summary as key -> value.
struct Report
{
    std::map<std::string, std::map<std::string, std::string>> rows;
    std::map<std::string, std::string> summary;
};

Report ReadReport(const std::string& rowsPath)
{
    Report report;
    const auto records = support::ParseCsv(ReadFile(rowsPath));
    EXPECT_EQ(records.at(0), engine::ReportColumns());
    for (std::size_t i = 1; i < records.size(); ++i) {
        std::map<std::string, std::string> row;
        for (std::size_t c = 0; c < records[i].size(); ++c) {
            row[engine::ReportColumns()[c]] = records[i][c];
        }
        report.rows[row["path"]] = row;
    }
    const std::string summary = rowsPath.substr(0, rowsPath.size() - 4) + "-summary.csv";
    for (const auto& record : support::ParseCsv(ReadFile(summary))) {
        report.summary[record.at(0)] = record.at(1);
    }
    return report;
}

class RunReportTest : public EngineFixture
{
protected:
    Report Run(const std::string& pacs)
    {
        host.pacs = pacs;
        Migrate();
        EXPECT_FALSE(engine->LastRun().report.empty());
        return ReadReport(engine->LastRun().report);
    }

    // A row's written file, read back from the destination.
    std::string Written(const std::map<std::string, std::string>& row) const
    {
        return ReadFile(root / "dest/" + row.at("written_file"));
    }
};

} // namespace

TEST(Csv, QuotesWhatNeedsItAndEscapesBytesThatAreNotUtf8)
{
    struct Case
    {
        std::string text;
        std::string field;
        std::string readBack;
    };
    const Case cases[] = {
        {"plain", "plain", "plain"},
        {"a,b", "\"a,b\"", "a,b"},
        {"say \"hi\"", "\"say \"\"hi\"\"\"", "say \"hi\""},
        {"line\nbreak", "\"line\nbreak\"", "line\nbreak"},
        {"cr\r", "\"cr\r\"", "cr\r"},
        {"Röntgen ä", "Röntgen ä", "Röntgen ä"},
        {"Bild\xff\xfe", "Bild\\xFF\\xFE", "Bild\\xFF\\xFE"},
        {"\xc3", "\\xC3", "\\xC3"}, // a sequence cut short
        {"\xed\xa0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80"}, // a surrogate
        {"", "", ""},
    };
    std::vector<std::string> fields;
    for (const Case& c : cases) {
        EXPECT_EQ(support::CsvField(c.text), c.field) << c.text;
        fields.push_back(c.text);
    }
    // A whole line reads back field for field, line breaks inside fields included.
    const auto records = support::ParseCsv("\xEF\xBB\xBF" + support::CsvLine(fields) + support::CsvLine({"x", "y"}));
    ASSERT_EQ(records.size(), 2u);
    ASSERT_EQ(records[0].size(), fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(records[0][i], cases[i].readBack);
    }
    EXPECT_EQ(records[1], (std::vector<std::string> {"x", "y"}));

    // Fed in pieces of any size (a doubled quote, a CR LF or the byte-order mark split between two),
    // the same records come out; a last line without its line break counts.
    const std::string content
        = "\xEF\xBB\xBF" + support::CsvLine(fields) + support::CsvLine({"x", "y"}) + "a,\"b\"\"\",c\nlast,\"q\"";
    const auto whole = support::ParseCsv(content);
    ASSERT_EQ(whole.size(), 4u);
    EXPECT_EQ(whole[2], (std::vector<std::string> {"a", "b\"", "c"}));
    EXPECT_EQ(whole[3], (std::vector<std::string> {"last", "q"}));
    for (std::size_t piece : {1, 2, 3, 7}) {
        std::vector<std::vector<std::string>> pieces;
        support::CsvParser parser([&](std::vector<std::string>& record) { pieces.push_back(record); });
        for (std::size_t at = 0; at < content.size(); at += piece) {
            parser.Feed(std::string_view(content).substr(at, piece));
        }
        parser.Finish();
        EXPECT_EQ(pieces, whole) << "pieces of " << piece;
    }
}

TEST_F(RunReportTest, PlainProfileRowsForEveryOutcome)
{
    const std::string ct = ReadFile(Pydicom + "CT_small.dcm");
    WriteFile(root / "src/CT1", ct);
    WriteFile(root / "src/sub/NOTE, \"eins\"\nzwei", "not DICOM at all");
    WriteFile(root / "src/sub/README.TXT", "left out by GEMED's rule");
    fs::create_symlink(root / "nowhere", root / "src/sub/dangling");

    const Report report = Run("GEMED");
    ASSERT_EQ(report.rows.size(), 4u);

    const auto& image = report.rows.at("CT1");
    EXPECT_EQ(image.at("outcome"), "migrated");
    EXPECT_EQ(image.at("selected"), "yes");
    EXPECT_EQ(image.at("size"), std::to_string(ct.size()));
    EXPECT_EQ(image.at("source_sha256"), Sha(ct));
    EXPECT_EQ(image.at("written_sha256"), Sha(ct));
    EXPECT_EQ(Written(image), ct);
    EXPECT_EQ(image.at("dicom"), "ok");
    EXPECT_EQ(image.at("sop_instance_uid"), CtUid);
    EXPECT_EQ(image.at("study_instance_uid"), "1.3.6.1.4.1.5962.1.2.1.20040119072730.12322");
    EXPECT_EQ(image.at("modality"), "CT");
    EXPECT_EQ(image.at("transfer_syntax"), "1.2.840.10008.1.2.1");

    // A payload that is no DICOM is migrated all the same, and flagged.
    const auto& note = report.rows.at("sub/NOTE, \"eins\"\nzwei");
    EXPECT_EQ(note.at("outcome"), "migrated");
    EXPECT_TRUE(note.at("dicom").starts_with("not DICOM: ")) << note.at("dicom");
    EXPECT_EQ(Written(note), "not DICOM at all");

    const auto& left = report.rows.at("sub/README.TXT");
    EXPECT_EQ(left.at("selected"), "no");
    EXPECT_EQ(left.at("not_selected_because"), "dot rule");
    EXPECT_EQ(left.at("outcome"), "skipped");
    EXPECT_EQ(left.at("source_sha256"), "") << "a file left out is not read";

    const auto& failed = report.rows.at("sub/dangling");
    EXPECT_EQ(failed.at("outcome"), "failed");
    EXPECT_EQ(failed.at("error"), "No such file or directory");

    EXPECT_EQ(report.summary.at("pacs"), "GEMED");
    EXPECT_EQ(report.summary.at("destination"), root / "dest");
    EXPECT_EQ(report.summary.at("files_seen"), "4");
    EXPECT_EQ(report.summary.at("migrated"), "2");
    EXPECT_EQ(report.summary.at("failed"), "1");
    EXPECT_EQ(report.summary.at("skipped"), "1");
    EXPECT_EQ(report.summary.at("not_dicom"), "1");
    EXPECT_EQ(report.summary.at("bytes_read"), std::to_string(ct.size() + 16));
    EXPECT_EQ(report.summary.at("stopped"), "no");
    EXPECT_EQ(engine->LastRun().notDicom, 1);
}

TEST_F(RunReportTest, CompressedProfilesRowsForEveryOutcome)
{
    // The test file's preamble holds a TIFF header; the containers' images begin with a zero one.
    const std::string mr = std::string(128, '\0') + ReadFile(Pydicom + "MR_small.dcm").substr(128);
    const std::string container = "HEADER" + mr + "#*lastfile*#trailer";
    WriteFile(root / "src/IMG1.Z", Filter("gzip -c -n", container));
    WriteFile(root / "src/IMG2.Z", Filter("gzip -c -n", "no image in here"));
    WriteFile(root / "src/INDEX.DB", "not selected");
    const Report aup = Run("Arzt und Praxis");

    const auto& image = aup.rows.at("IMG1.Z");
    EXPECT_EQ(image.at("outcome"), "migrated");
    EXPECT_EQ(image.at("source_sha256"), Sha(ReadFile(root / "src/IMG1.Z")));
    EXPECT_EQ(image.at("written_sha256"), Sha(mr));
    EXPECT_EQ(image.at("dicom"), "ok");
    EXPECT_EQ(image.at("modality"), "MR");
    const auto& bad = aup.rows.at("IMG2.Z");
    EXPECT_EQ(bad.at("outcome"), "rejected");
    EXPECT_EQ(bad.at("written_file"), "BadObjects/IMG2.err");
    EXPECT_EQ(bad.at("written_sha256"), Sha(ReadFile(root / "src/IMG2.Z")));
    EXPECT_EQ(bad.at("dicom"), "");
    EXPECT_EQ(aup.rows.at("INDEX.DB").at("not_selected_because"), "profile");

    // STARC, where a cut LZW image decodes "successfully" to a shorter file: the DICOM check sees it.
    fs::remove_all(root / "src");
    MakeFolders(root / "src");
    const std::string z = Filter("compress -c -f", mr);
    WriteFile(root / "src/WHOLE.AR", z);
    WriteFile(root / "src/CUT.AR", z.substr(0, z.size() / 2));
    const Report starc = Run("STARC");
    EXPECT_EQ(starc.rows.at("WHOLE.AR").at("dicom"), "ok");
    EXPECT_EQ(starc.rows.at("CUT.AR").at("outcome"), "migrated");
    EXPECT_TRUE(starc.rows.at("CUT.AR").at("dicom").starts_with("not DICOM: "));
    EXPECT_EQ(Written(starc.rows.at("WHOLE.AR")), mr);
}

TEST_F(RunReportTest, DuplicatesWithinAndAcrossRunsAreFlaggedNotSkipped)
{
    const std::string ct = ReadFile(Pydicom + "CT_small.dcm");
    WriteFile(root / "src/A", ct);
    WriteFile(root / "src/B", ct);
    WriteFile(root / "src/C", ReadFile(Pydicom + "MR_small.dcm"));
    const Report first = Run("HIPAX");
    EXPECT_EQ(first.rows.at("A").at("duplicate"), "");
    EXPECT_EQ(first.rows.at("B").at("duplicate"), "SOP Instance UID, content");
    EXPECT_EQ(first.rows.at("B").at("duplicate_of"), first.rows.at("A").at("written_file"));
    EXPECT_EQ(first.rows.at("C").at("duplicate"), "");
    EXPECT_EQ(engine->LastRun().duplicates, 1);

    // The same disc again into the same destination: every image is flagged, and still migrated.
    const Report second = Run("HIPAX");
    for (const char* name : {"A", "B", "C"}) {
        EXPECT_EQ(second.rows.at(name).at("outcome"), "migrated");
        EXPECT_FALSE(second.rows.at(name).at("duplicate").empty()) << name;
    }
    EXPECT_EQ(second.rows.at("C").at("duplicate_of"), first.rows.at("C").at("written_file"));
    EXPECT_EQ(Names(root / "dest").size(), 6u);

    // Another destination knows none of them.
    MakeFolders(root / "dest2");
    host.dest = root / "dest2";
    EXPECT_EQ(Run("HIPAX").rows.at("C").at("duplicate"), "");
}

TEST_F(RunReportTest, VerifyFindsMissingChangedAndAddedFiles)
{
    WriteFile(root / "src/A", ReadFile(Pydicom + "CT_small.dcm"));
    WriteFile(root / "src/B", ReadFile(Pydicom + "MR_small.dcm"));
    WriteFile(root / "src/C.Z", "not compressed");
    Run("HIPAX");
    const auto checked = engine::VerifyDestination(root / "program", root / "dest");
    EXPECT_EQ(checked.report, engine->LastRun().report);
    EXPECT_TRUE(checked.Matches());
    EXPECT_EQ(checked.checked, 3);

    const auto files = Names(root / "dest");
    fs::remove(root / "dest/" + files[0]);
    WriteFile(root / "dest/" + files[1], "changed");
    WriteFile(root / "dest/stranger.dcm", "added");
    const auto broken = engine::VerifyDestination(root / "program", root / "dest");
    EXPECT_FALSE(broken.Matches());
    EXPECT_EQ(broken.missing, 1);
    EXPECT_EQ(broken.changed, 1);
    EXPECT_EQ(broken.added, 1);
    EXPECT_EQ(broken.problems.size(), 3u);

    EXPECT_TRUE(engine::VerifyDestination(root / "program", root / "src").report.empty());
}
