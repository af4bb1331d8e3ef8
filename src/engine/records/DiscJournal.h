#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/records/Table.h"

// Logs/Runs/discs.csv: one row per run, for the operator's stack of discs. A run's row is written when
// it starts, as stopped, and completed when it ends, so that a run that was killed reads as stopped;
// how far such a run got, its report tells. Programs sharing the folder take turns at rewriting it.
namespace engine {

struct JournalRow
{
    std::string started; // local time, ISO 8601
    std::string ended; // empty while the run goes on, or when it was killed
    std::string pacs;
    std::string label;
    std::string fingerprint;
    std::string source;
    std::string destination;
    // The counts; none where the row does not know them (the files "selected", known from the start,
    // the rest once the run ended, or from its report while it goes on).
    std::optional<std::int64_t> selected; // the files to migrate, as the report's summary counts them
    std::optional<std::int64_t> migrated; // written in this run
    std::optional<std::int64_t> alreadyMigrated; // there from an earlier run of the disc
    std::optional<std::int64_t> rejected;
    std::optional<std::int64_t> failed; // rows with an error
    bool stopped = true; // until the run has ended; "yes" or "no" in the file
    std::string report; // the rows file's name in Logs/Runs: identifies the run
    std::string looksLike; // the PACS system the disc looks like, when the run's system did not fit it
    // The DICOM node its images were last sent to or checked at ("AET@HOST:PORT"), how many images that
    // were, and how many of them the node confirmed; empty until then.
    std::string pacsNode;
    std::optional<std::int64_t> pacsImages;
    std::optional<std::int64_t> pacsConfirmed;
    std::string serial; // of the disc's volume, beside its label (a later column than the label's)

    bool operator==(const JournalRow&) const = default;
    // Files the run left migrated in the destination: written then, or there from before.
    std::int64_t MigratedInAll() const;
    // The start as the operator reads it: "06.12.2026", with the time "06.12.2026 10:05:03" (two runs
    // may start in one minute).
    std::string StartedDate() const;
    std::string StartedDateAndTime() const;
    // "3/5" images confirmed by the node; empty when none was sent to one.
    std::string PacsText() const;
};

// The journal's columns, for a listing of it.
Table<JournalRow> JournalTable();

// The rows, oldest first; none when there is no journal yet.
std::vector<JournalRow> ReadJournal(const std::string& runsFolder);
// The same, with the counts of runs that did not end (killed, or still going on) as far as their
// reports got.
std::vector<JournalRow> ReadJournalWithProgress(const std::string& runsFolder);
// The counts of a run that did not end, from its report.
void ReadProgress(const std::string& runsFolder, JournalRow& row);
// Puts the row in place of the row of the same report, or adds it at the end. The journal is rewritten
// whole, through a temporary file, and synced; false when it could not be written.
bool WriteJournalRow(const std::string& runsFolder, const JournalRow& row);
// Changes the row of a report as it stands in the journal, in the same turn of the lock as its
// rewriting, so that what another program changed meanwhile stays; false when there is no such row or
// the journal could not be written.
bool UpdateJournalRow(
    const std::string& runsFolder, const std::string& report, const std::function<void(JournalRow&)>& change);
// The latest run of the disc with this fingerprint into the destination (compared as folders). A row
// whose volume serial is known and not the disc's is of another disc: discs of one system often hold
// files of the same names and sizes, which is all the fingerprint sees.
std::optional<JournalRow> LastRunOfDisc(const std::string& runsFolder, const std::string& fingerprint,
    const std::string& serial, const std::string& destination);

} // namespace engine
