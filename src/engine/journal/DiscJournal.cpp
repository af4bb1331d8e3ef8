#include "engine/journal/DiscJournal.h"

#include <charconv>

#include "engine/report/ReportFiles.h"
#include "support/AtomicFile.h"
#include "support/Csv.h"
#include "support/FileLock.h"
#include "support/FileSystem.h"

namespace engine {

namespace {

const std::vector<std::string> Columns = {"started", "ended", "pacs", "label", "fingerprint", "source", "destination",
    "selected", "migrated", "already_migrated", "rejected", "failed", "stopped", "report", "looks_like"};

std::vector<std::string*> Fields(JournalRow& row)
{
    return {&row.started, &row.ended, &row.pacs, &row.label, &row.fingerprint, &row.source, &row.destination,
        &row.selected, &row.migrated, &row.alreadyMigrated, &row.rejected, &row.failed, &row.stopped, &row.report,
        &row.looksLike};
}

} // namespace

std::int64_t JournalRow::MigratedInAll() const
{
    const auto count = [](const std::string& text) {
        std::int64_t value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value); // an unfinished row has none
        return value;
    };
    return count(migrated) + count(alreadyMigrated);
}

std::string JournalRow::StartedDate() const
{
    // "2026-12-06T10:05:03"
    return started.size() < 10 ? started
                               : started.substr(8, 2) + "." + started.substr(5, 2) + "." + started.substr(0, 4);
}

std::string JournalRow::StartedDateAndTime() const
{
    return started.size() < 19 ? started : StartedDate() + " " + started.substr(11, 8);
}

std::string JournalPath(const std::string& runsFolder)
{
    return runsFolder + "/discs.csv";
}

std::vector<JournalRow> ReadJournal(const std::string& runsFolder)
{
    std::string content;
    std::vector<JournalRow> rows;
    if (support::ReadWholeFile(JournalPath(runsFolder), content)) {
        return rows;
    }
    const auto records = support::ParseCsv(content);
    for (std::size_t i = 1; i < records.size(); ++i) { // after the column names
        JournalRow row;
        const auto fields = Fields(row);
        for (std::size_t c = 0; c < fields.size() && c < records[i].size(); ++c) {
            *fields[c] = records[i][c];
        }
        if (!row.report.empty()) {
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

void ReadProgress(const std::string& runsFolder, JournalRow& row)
{
    std::int64_t migrated = 0, alreadyMigrated = 0, rejected = 0, failed = 0;
    ReadRows(runsFolder + "/" + row.report, [&](const ReportRow& file) {
        using enum ReportColumn;
        const std::string& outcome = file[OutcomeColumn];
        migrated += outcome == OutcomeName(Outcome::Migrated) ? 1 : 0;
        alreadyMigrated += outcome == OutcomeName(Outcome::AlreadyMigrated) ? 1 : 0;
        rejected
            += outcome == OutcomeName(Outcome::Rejected) || outcome == OutcomeName(Outcome::AlreadyRejected) ? 1 : 0;
        failed += file[Error].empty() ? 0 : 1; // as a run counts its failures: every row with an error
    });
    row.migrated = std::to_string(migrated);
    row.alreadyMigrated = std::to_string(alreadyMigrated);
    row.rejected = std::to_string(rejected);
    row.failed = std::to_string(failed);
}

std::vector<JournalRow> ReadJournalWithProgress(const std::string& runsFolder)
{
    std::vector<JournalRow> rows = ReadJournal(runsFolder);
    for (JournalRow& row : rows) {
        if (row.ended.empty()) {
            ReadProgress(runsFolder, row);
        }
    }
    return rows;
}

bool WriteJournalRow(const std::string& runsFolder, const JournalRow& row)
{
    // Read, changed and written while no other program sharing the folder does the same: two runs that
    // end at once would otherwise each write the journal as it was without the other's row.
    support::FileLock lock;
    lock.Lock(LocksFile(runsFolder), JournalLockSlot, support::FileLock::Mode::Wait);
    std::vector<JournalRow> rows = ReadJournal(runsFolder);
    bool replaced = false;
    for (JournalRow& existing : rows) {
        if (existing.report == row.report) {
            existing = row;
            replaced = true;
        }
    }
    if (!replaced) {
        rows.push_back(row);
    }
    // The byte-order mark tells spreadsheets that the file is UTF-8.
    std::string text = "\xEF\xBB\xBF" + support::CsvLine(Columns);
    for (JournalRow& each : rows) {
        std::vector<std::string> values;
        for (const std::string* field : Fields(each)) {
            values.push_back(*field);
        }
        text += support::CsvLine(values);
    }
    support::AtomicFile file;
    const bool written
        = !file.Create(JournalPath(runsFolder)) && !file.Write(text) && !file.Commit(support::Replace::Allowed);
    return written && !support::SyncCommittedFolders();
}

std::optional<JournalRow> LastRunOfDisc(
    const std::string& runsFolder, const std::string& fingerprint, const std::string& destination)
{
    const auto target = support::IdentityOf(destination);
    std::optional<JournalRow> found;
    for (JournalRow& row : ReadJournal(runsFolder)) {
        if (target && row.fingerprint == fingerprint && support::IdentityOf(row.destination) == target) {
            found = std::move(row);
        }
    }
    if (found && found->ended.empty()) {
        ReadProgress(runsFolder, *found);
    }
    return found;
}

} // namespace engine
