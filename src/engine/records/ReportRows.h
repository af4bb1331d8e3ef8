#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/check/DicomCheck.h"
#include "engine/records/RunsFolder.h"
#include "engine/records/Table.h"
#include "support/AppendFile.h"
#include "support/Csv.h"

// The files of a run's report: <start>_<PACS>.csv with a row for every file the walk saw,
// <start>_<PACS>-studies.csv with a row for every study it wrote, and <start>_<PACS>-summary.csv with
// the run's folders, times and totals as key and value. All are UTF-8 CSV (RFC 4180) that a spreadsheet
// opens as they are.
namespace engine {

// AlreadyMigrated and AlreadyRejected: a run of a disc again found the file's output of an earlier run
// in the destination, and left the file alone.
enum class Outcome { Migrated, Rejected, Failed, Skipped, AlreadyMigrated, AlreadyRejected };
inline constexpr int OutcomeCount = 6;
std::string_view OutcomeName(Outcome outcome);
// Migrated now, or there from an earlier run of the disc.
inline bool IsMigrated(Outcome outcome)
{
    return outcome == Outcome::Migrated || outcome == Outcome::AlreadyMigrated;
}
inline bool IsRejected(Outcome outcome)
{
    return outcome == Outcome::Rejected || outcome == Outcome::AlreadyRejected;
}

// Why a file the walk saw was not migrated: the profile does not select it, or the "." rule left it out.
inline constexpr const char* LeftOutByProfile = "profile";
inline constexpr const char* LeftOutByDotRule = "dot rule";

// A row of the rows file.
struct ReportRow
{
    std::string path; // relative to the source folder; a folder that could not be read ends in "/"
    std::optional<std::uint64_t> size;
    std::string sourceSha256;
    bool selected = false;
    std::string notSelectedBecause; // LeftOutByProfile or LeftOutByDotRule
    std::optional<Outcome> outcome; // none: a word this version does not know
    std::string writtenFile; // relative to the destination: a name, or "BadObjects/<name>"
    std::string writtenSha256;
    std::string error;
    std::string dicom; // DicomInfo::VerdictText; empty when the file was not checked
    std::string sopInstanceUid;
    std::string studyInstanceUid;
    std::string modality;
    std::string transferSyntax;
    std::string duplicate; // "SOP Instance UID", "content" or both, when an earlier image had them
    std::string duplicateOf;
    std::string seriesInstanceUid;
    std::string sopClassUid;
    bool retried = false;
    std::string patientId;
    std::string patientName;

    bool Is(Outcome wanted) const { return outcome == wanted; }
    bool Migrated() const { return outcome && IsMigrated(*outcome); }
    bool Rejected() const { return outcome && IsRejected(*outcome); }
    // The verdict of the dicom column; none when the file was not checked.
    std::optional<DicomVerdict> Verdict() const { return VerdictOfText(dicom); }
    // Migrated, and read as an image a PACS files.
    bool Sendable() const;
};
Table<ReportRow> ReportTable();

// Reads the rows of a rows file fed in pieces: the header is read for the columns' order, rows of older
// reports come with the columns added since left empty, and a last row that was cut short (its writer
// was killed while writing it) never comes, as it never ends.
using RowTake = std::function<void(const ReportRow& row)>;
class RowParser
{
public:
    explicit RowParser(RowTake take);
    RowParser(const RowParser&) = delete; // its parser calls back into it
    RowParser& operator=(const RowParser&) = delete;
    void Feed(std::string_view piece) { m_parser.Feed(piece); }

private:
    TableReader<ReportRow> m_reader;
    ReportRow m_row;
    support::CsvParser m_parser;
};
// Calls take with every row of a rows file, as RowParser reads them.
void ReadRows(const std::string& rowsPath, const RowTake& take);

// The summary file.
struct ReportSummary
{
    std::string pacs;
    std::string source;
    std::string destination;
    std::string temp;
    std::string started; // local time, ISO 8601
    std::string ended; // empty while the run goes on, or when it was killed
    bool stopped = true;
    std::int64_t filesSeen = 0; // every row
    std::int64_t selected = 0;
    std::int64_t migrated = 0;
    std::int64_t rejected = 0;
    std::int64_t failed = 0;
    std::int64_t skipped = 0;
    std::int64_t notDicom = 0;
    std::int64_t duplicates = 0;
    std::int64_t bytesRead = 0;
    std::int64_t bytesWritten = 0;
    std::string rows; // the rows file's name
    std::int64_t notAnImage = 0;
    std::int64_t noPart10Header = 0;
    std::int64_t images = 0;
    std::int64_t studies = 0;
    std::int64_t patients = 0;
    std::string studiesFile;
    std::string label;
    std::string fingerprint;
    std::int64_t alreadyMigrated = 0;
    std::int64_t alreadyRejected = 0;
    std::int64_t retried = 0;
    std::string writer; // while the run has not ended: whether it still runs
    std::string looksLike;
    std::int64_t damagedImages = 0; // of notDicom

    // A run writes its summary when it starts, without an end, and again when it ends: a summary without
    // an end belongs to a run that is still going on or was killed.
    bool Ended() const { return !ended.empty(); }
};
ReportSummary ReadSummary(const std::string& path);

// A run's report as its summary file finds it.
struct ReportOfRun
{
    std::string rows; // the rows file
    ReportSummary summary;
};
// The reports of the runs that wrote into destination (compared as folders), oldest first: of finished
// runs, of runs that were killed and of runs still going on.
std::vector<ReportOfRun> RunsInto(const std::string& runsFolder, const std::string& destination);

// A row of the studies file.
struct StudyRow
{
    std::string patientId;
    std::string patientName;
    std::string patientBirthDate;
    std::string studyDate;
    std::string studyDescription;
    std::string accessionNumber;
    std::string modalities; // "CT\MR"
    std::int64_t series = 0;
    std::int64_t images = 0;
    std::string studyInstanceUid;
};

// Writes a run's report files. Rows are appended as the run goes, so a killed run leaves every row it
// wrote; the summary is written when the report is created, without an end, and replaced by the full one
// at the end, after the studies.
class ReportWriter
{
public:
    // Creates the rows file <stem>.csv in runsFolder (<stem>_2.csv ... where one is there: never over
    // another report) with its header, and the summary opening; false when no report could be begun.
    bool Create(const std::string& runsFolder, const std::string& stem, ReportSummary opening);
    bool IsOpen() const { return m_rows.IsOpen(); }
    // The rows file's name; empty when there is none.
    std::string RowsName() const { return m_stem.empty() ? std::string() : m_stem + std::string(RowsSuffix); }
    std::string RowsPath() const { return m_folder + "/" + RowsName(); }
    // The rows' lines (Line of ReportTable), written at once; Sync makes them durable.
    void Write(const std::string& lines);
    void Sync();
    // Closes the rows and publishes the studies and the summary; false when the report is not whole.
    bool Finish(const std::vector<StudyRow>& studies, ReportSummary summary);
    void Close();

private:
    bool Publish(std::string_view suffix, const std::string& text, bool replace) const;

    support::AppendFile m_rows;
    bool m_failed = false; // something could not be written: the report is not whole
    std::string m_folder;
    std::string m_stem;
};

} // namespace engine
