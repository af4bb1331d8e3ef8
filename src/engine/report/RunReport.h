#pragma once

#include <cstdint>
#include <chrono>
#include <deque>
#include <functional>
#include <string>

#include "engine/report/FileRecord.h"
#include "engine/report/Findings.h"
#include "engine/report/KnownImages.h"
#include "engine/report/OtherRuns.h"
#include "engine/report/StudyList.h"
#include "support/FileLock.h"

// The report of a run, the operator's proof that a disc arrived: a row for every file the walk saw, a
// row for every study it wrote and a summary with the run's folders, times and totals, in the files the
// records part writes (ReportWriter). The rows are written as the run goes, so memory does not grow with
// the disc, and a killed run leaves every row it wrote. They are made durable in batches, each after the
// destination folders of the files they name. The summary is written when the run starts, without an
// end, and again when it ends: the reports of runs that were killed are found and read like the others.
// Programs that write into one destination at once take turns at writing a row, so that an image two of
// them wrote is flagged as a duplicate once, as within one run.
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

// The run's counts, kept once, by its report.
struct RunTally
{
    std::int64_t rows = 0; // every file walked, and every folder that could not be read
    std::int64_t scanned = 0; // the files
    std::int64_t checked = 0; // of them, counted by the profile (those the "." rule leaves out too)
    std::int64_t selected = 0; // of those, the files to migrate: the report's column "selected"
    std::int64_t withError = 0; // rows with an error line (a rejected file whose copy failed too)
    std::int64_t dotRule = 0; // left out by the "." rule
    std::int64_t byOutcome[OutcomeCount] = {};

    std::int64_t Count(Outcome outcome) const { return byOutcome[static_cast<int>(outcome)]; }
    // Migrated now, or there from an earlier run of the disc: as the summary counts them.
    std::int64_t Migrated() const { return Count(Outcome::Migrated) + Count(Outcome::AlreadyMigrated); }
    std::int64_t Rejected() const { return Count(Outcome::Rejected) + Count(Outcome::AlreadyRejected); }
};

class RunReport
{
public:
    RunReport() = default;
    ~RunReport();
    RunReport(const RunReport&) = delete;
    RunReport& operator=(const RunReport&) = delete;

    // Starts the report of a run. Images that the other reports of the same destination list are
    // remembered, so that duplicates across runs are flagged; pump is called now and then while they
    // are read. A report that cannot be written is given up without a word: it must never stop a
    // migration.
    void Begin(const std::string& logsHome, const RunDescription& run, const std::function<void()>& pump = {});
    // Takes the row of a file; it is written, and flagged as a duplicate where it is one, once its
    // digests are ready, in the order the rows came (by WriteReady, or when too many wait).
    void Add(FileRecord record);
    // Writes the rows whose digests are ready, without waiting, every 50 ms at most or when a batch's
    // worth waits: called at every file as the run goes.
    void WriteReady();
    // Writes the remaining rows and the summary; returns the rows file's path, empty when there is no
    // report. The findings are final only after it. looksLike names the PACS system the disc looks
    // like when the run's system migrated nothing of it, or the wrong bytes.
    std::string End(const std::string& ended, bool stopped, const std::string& looksLike = {});

    Findings RunFindings() const;
    // The rows file's name in Logs/Runs once Begin made it; empty when there is no report.
    std::string RowsName() const { return m_writer.RowsName(); }
    // The run as Begin took it, its folders made absolute.
    const RunDescription& Description() const { return m_run; }
    // The run's counts: of every record added so far (all of them once the run has ended).
    const RunTally& Counts() const { return m_tally; }
    std::int64_t Count(Outcome outcome) const { return m_tally.Count(outcome); }
    // A failure without a row of its own (the walk itself failed unexpectedly).
    void CountFailure() { ++m_tally.withError; }

private:
    void RememberRow(const ReportRow& row);
    void WriteReadyRows(bool wait);
    // Writes the first count rows waiting, in one turn of the destination's lock.
    void WriteRows(std::size_t count);
    // Flags a row's duplicates, counts it and gives its line.
    std::string Row(FileRecord& record);
    void MakeDurable();
    ReportSummary Summary(const std::string& ended, bool stopped, const std::string& looksLike) const;

    // Rows waiting for the background thread beyond this many are waited for.
    static constexpr std::size_t MaxWaitingRows = 64;

    ReportWriter m_writer;
    std::size_t m_unsynced = 0; // rows written since the last sync
    std::chrono::steady_clock::time_point m_synced;
    std::chrono::steady_clock::time_point m_lookedForReady;
    support::FileLock m_destinationLock; // taken for each row
    std::uint64_t m_destinationSlot = 0;
    OtherRuns m_others;
    std::deque<FileRecord> m_waiting; // rows whose digests are still being computed
    std::string m_folder;
    RunDescription m_run;
    KnownImages m_known;
    RunTally m_tally;
    Findings m_findings; // without the studies, which m_studies counts
    StudyList m_studies;
    std::uint64_t m_bytesRead = 0;
    std::uint64_t m_bytesWritten = 0;
};

} // namespace engine
