#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>

#include "engine/report/FileRecord.h"
#include "engine/report/Findings.h"
#include "engine/report/KnownImages.h"
#include "engine/report/StudyList.h"

// The report of a run, the operator's proof that a disc arrived: Logs/Runs/<start>_<PACS>.csv with a
// row for every file the walk saw, <start>_<PACS>-studies.csv with a row for every study it wrote, and
// <start>_<PACS>-summary.csv with the run's folders, times and totals. Both are UTF-8 CSV (RFC 4180) that a spreadsheet
// opens as they are. The rows are written as the run goes, so memory does not grow with the disc; the summary is
// written last, so a report without one belongs to a run that did not end.
namespace engine {

struct RunDescription
{
    std::string pacs;
    std::string source;
    std::string destination;
    std::string temp;
    std::string started; // local time, ISO 8601
    std::string label; // the disc's volume label, when it has one
    std::string fingerprint; // of the disc's selected files
};

class RunReport
{
public:
    RunReport() = default;
    ~RunReport();
    RunReport(const RunReport&) = delete;
    RunReport& operator=(const RunReport&) = delete;

    // Starts the report of a run. Images that earlier reports of the same destination list are
    // remembered, so that duplicates across runs are flagged; pump is called now and then while they
    // are read. A report that cannot be written is given up without a word: it must never stop a
    // migration.
    void Begin(const std::string& programFolder, const RunDescription& run, const std::function<void()>& pump = {});
    // Takes the row of a file; it is written, and flagged as a duplicate where it is one, once its
    // digests are ready, in the order the rows came.
    void Add(FileRecord record);
    // Writes the remaining rows and the summary; returns the rows file's path, empty when there is no
    // report. The findings are final only after it.
    std::string End(const std::string& ended, bool stopped);

    Findings RunFindings() const;
    // The rows file's name in Logs/Runs once Begin made it; empty when there is no report.
    std::string RowsName() const { return m_stem.empty() ? std::string() : m_stem + ".csv"; }
    // The run as Begin took it, its folders made absolute.
    const RunDescription& Description() const { return m_run; }
    std::int64_t Count(Outcome outcome) const { return m_counts[static_cast<int>(outcome)]; }

private:
    void RememberEarlierRuns(
        const std::string& runsFolder, const std::string& destination, const std::function<void()>& pump);
    void WriteReadyRows(bool wait);
    void Write(FileRecord& record);

    // Rows waiting for the background thread beyond this many are waited for.
    static constexpr std::size_t MaxWaitingRows = 64;

    std::FILE* m_rows = nullptr;
    std::deque<FileRecord> m_waiting; // rows whose digests are still being computed
    std::string m_folder;
    std::string m_stem;
    RunDescription m_run;
    KnownImages m_known;
    std::int64_t m_counts[6] = {}; // by Outcome
    std::int64_t m_seen = 0;
    std::int64_t m_selected = 0;
    Findings m_findings; // without the studies, which m_studies counts
    StudyList m_studies;
    std::uint64_t m_bytesRead = 0;
    std::uint64_t m_bytesWritten = 0;
};

} // namespace engine
