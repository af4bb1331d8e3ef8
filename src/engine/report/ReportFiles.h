#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/report/FileRecord.h"

// The files of the run reports, Logs/Runs/<start>_<PACS>.csv and <start>_<PACS>-summary.csv: their
// columns, where they lie, and reading them back for later runs and for verification. The layout is
// read by spreadsheets and by the operator's own scripts: columns are only ever added at the end.
namespace engine {

enum ReportColumn {
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
    ColumnCount
};

// Reports written before the last columns were added have this many.
inline constexpr std::size_t FirstColumnCount = DuplicateOf + 1;

inline constexpr std::string_view SummarySuffix = "-summary.csv";
inline constexpr std::string_view StudiesSuffix = "-studies.csv";

// The column names of the rows file, in order.
const std::vector<std::string>& ReportColumns();
std::string_view OutcomeName(Outcome outcome);

// The folder of the reports in a program folder.
std::string RunsFolder(const std::string& programFolder);
// The rows file that a summary file belongs to.
std::string RowsFileOf(const std::string& summaryPath);
// A summary file's values by key.
std::map<std::string, std::string> ReadSummary(const std::string& path);
// The summaries of finished reports that wrote into destination, oldest first.
std::vector<std::string> SummariesOf(const std::string& runsFolder, const std::string& destination);
// Calls take with every row of the rows file that belongs to the summary, the column names left out;
// rows of older reports come padded with empty values for the columns added since.
void ForEachRow(const std::string& summaryPath, const std::function<void(const std::vector<std::string>& row)>& take);

} // namespace engine
