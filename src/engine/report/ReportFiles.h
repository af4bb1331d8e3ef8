#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/report/FileRecord.h"
#include "support/Csv.h"

// The files of the run reports, Logs/Runs/<start>_<PACS>.csv and <start>_<PACS>-summary.csv: their
// columns, where they lie, and reading them back for later runs and for verification. The layout is
// read by spreadsheets and by the operator's own scripts: columns are only ever added at the end.
namespace engine {

enum class ReportColumn : std::size_t {
    Path,
    Size,
    SourceSha,
    Selected,
    NotSelectedBecause,
    OutcomeColumn,
    WrittenFile,
    WrittenSha,
    Error,
    Dicom,
    SopUid,
    StudyUid,
    Modality,
    TransferSyntax,
    Duplicate,
    DuplicateOf,
    SeriesUid,
    SopClassUid,
    Retried,
    PatientId,
    PatientName,
};
inline constexpr std::size_t ColumnCount = static_cast<std::size_t>(ReportColumn::PatientName) + 1;

// Reports written before the last columns were added have this many.
inline constexpr std::size_t FirstColumnCount = static_cast<std::size_t>(ReportColumn::DuplicateOf) + 1;

inline constexpr std::string_view SummarySuffix = "-summary.csv";
inline constexpr std::string_view StudiesSuffix = "-studies.csv";

// The column names of the rows file, in order.
const std::vector<std::string>& ReportColumns();
std::string_view OutcomeName(Outcome outcome);

// The folder of the reports, Logs/Runs, in the folder that holds Logs/ (Places::logs).
std::string RunsFolder(const std::string& logsHome);
// The lock file of programs that share the reports folder: one slot for the journal, one per
// destination for the reports' rows, one per disc and destination for the run.
std::string LocksFile(const std::string& runsFolder);
inline constexpr std::uint64_t JournalLockSlot = 0;
// A folder as a lock key: the same folder under any path.
std::string FolderKey(const std::string& folder);
// The rows file that a summary file belongs to.
std::string RowsFileOf(const std::string& summaryPath);
// A summary file's values by key.
std::map<std::string, std::string> ReadSummary(const std::string& path);
// A run writes its summary when it starts, with an empty "ended", and again when it ends: a summary
// without an end belongs to a run that is still going on or was killed.
inline bool RunEnded(const std::map<std::string, std::string>& summary)
{
    const auto ended = summary.find("ended");
    return ended != summary.end() && !ended->second.empty();
}
// The summaries of the reports that wrote into destination, oldest first: of finished runs, of runs
// that were killed and of runs still going on.
std::vector<std::string> SummariesOf(const std::string& runsFolder, const std::string& destination);

// A row of a rows file as read back: its cells by column, every column there.
class ReportRow
{
public:
    explicit ReportRow(std::vector<std::string> cells)
        : m_cells(std::move(cells))
    { }
    const std::string& operator[](ReportColumn column) const { return m_cells[static_cast<std::size_t>(column)]; }
    const std::vector<std::string>& Cells() const { return m_cells; }

private:
    std::vector<std::string> m_cells;
};

using RowTake = std::function<void(const ReportRow& row)>;
// Reads the rows of a rows file fed in pieces: the column names are left out, rows of older reports
// come padded with empty values for the columns added since, and a last row that was cut short (its
// writer was killed while writing it) never comes, as it never ends.
class RowParser
{
public:
    explicit RowParser(RowTake take);
    RowParser(const RowParser&) = delete; // its parser calls back into it
    RowParser& operator=(const RowParser&) = delete;
    void Feed(std::string_view piece) { m_parser.Feed(piece); }

private:
    support::CsvParser m_parser;
    bool m_header = true;
};
// Calls take with every row of a rows file, as RowParser reads them.
void ReadRows(const std::string& rowsPath, const RowTake& take);
// The same for the rows file that belongs to a summary.
inline void ForEachRow(const std::string& summaryPath, const RowTake& take)
{
    ReadRows(RowsFileOf(summaryPath), take);
}

} // namespace engine
