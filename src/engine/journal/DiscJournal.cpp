#include "engine/journal/DiscJournal.h"

#include <algorithm>
#include <charconv>

#include "engine/report/ReportFiles.h"
#include "support/AtomicFile.h"
#include "support/Csv.h"
#include "support/FileLock.h"
#include "support/FileSystem.h"

namespace engine {

namespace {

const std::vector<std::string> Columns = {"started", "ended", "pacs", "label", "fingerprint", "source", "destination",
    "selected", "migrated", "already_migrated", "rejected", "failed", "stopped", "report", "looks_like", "pacs_node",
    "pacs_images", "pacs_confirmed"};

std::optional<std::int64_t> CountOf(const std::string& text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? std::optional(value) : std::nullopt;
}

std::vector<std::string> Values(const JournalRow& row)
{
    return {row.started, row.ended, row.pacs, row.label, row.fingerprint, row.source, row.destination,
        CountText(row.checked), CountText(row.migrated), CountText(row.alreadyMigrated), CountText(row.rejected),
        CountText(row.failed), row.stopped ? "yes" : "no", row.report, row.looksLike, row.pacsNode,
        CountText(row.pacsImages), CountText(row.pacsConfirmed)};
}

JournalRow RowOf(std::vector<std::string> values)
{
    values.resize(Columns.size());
    JournalRow row;
    row.started = values[0];
    row.ended = values[1];
    row.pacs = values[2];
    row.label = values[3];
    row.fingerprint = values[4];
    row.source = values[5];
    row.destination = values[6];
    row.checked = CountOf(values[7]);
    row.migrated = CountOf(values[8]);
    row.alreadyMigrated = CountOf(values[9]);
    row.rejected = CountOf(values[10]);
    row.failed = CountOf(values[11]);
    row.stopped = values[12] != "no";
    row.report = values[13];
    row.looksLike = values[14];
    row.pacsNode = values[15];
    row.pacsImages = CountOf(values[16]);
    row.pacsConfirmed = CountOf(values[17]);
    return row;
}

} // namespace

std::int64_t JournalRow::MigratedInAll() const
{
    return migrated.value_or(0) + alreadyMigrated.value_or(0); // an unfinished row has none
}

std::string CountText(const std::optional<std::int64_t>& count)
{
    return count ? std::to_string(*count) : std::string();
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

std::string JournalRow::PacsText() const
{
    return pacsImages ? CountText(pacsConfirmed.value_or(0)) + "/" + CountText(pacsImages) : std::string();
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
        JournalRow row = RowOf(records[i]);
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
    row.migrated = migrated;
    row.alreadyMigrated = alreadyMigrated;
    row.rejected = rejected;
    row.failed = failed;
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

namespace {

// Read, changed by change (true when it changed something) and written while no other program sharing
// the folder does the same: two runs that end at once would otherwise each write the journal as it was
// without the other's row.
bool RewriteJournal(const std::string& runsFolder, const std::function<bool(std::vector<JournalRow>&)>& change)
{
    support::FileLock lock;
    lock.Lock(LocksFile(runsFolder), JournalLockSlot, support::FileLock::Mode::Wait);
    std::vector<JournalRow> rows = ReadJournal(runsFolder);
    if (!change(rows)) {
        return false;
    }
    // The byte-order mark tells spreadsheets that the file is UTF-8.
    std::string text = "\xEF\xBB\xBF" + support::CsvLine(Columns);
    for (const JournalRow& each : rows) {
        text += support::CsvLine(Values(each));
    }
    support::AtomicFile file;
    const bool written
        = !file.Create(JournalPath(runsFolder)) && !file.Write(text) && !file.Commit(support::Replace::Allowed);
    return written && !support::SyncCommittedFolders();
}

} // namespace

bool WriteJournalRow(const std::string& runsFolder, const JournalRow& row)
{
    return RewriteJournal(runsFolder, [&row](std::vector<JournalRow>& rows) {
        const auto existing = std::find_if(
            rows.begin(), rows.end(), [&row](const JournalRow& each) { return each.report == row.report; });
        if (existing == rows.end()) {
            rows.push_back(row);
        } else {
            *existing = row;
        }
        return true;
    });
}

bool UpdateJournalRow(
    const std::string& runsFolder, const std::string& report, const std::function<void(JournalRow&)>& change)
{
    return RewriteJournal(runsFolder, [&](std::vector<JournalRow>& rows) {
        const auto existing = std::find_if(
            rows.begin(), rows.end(), [&report](const JournalRow& each) { return each.report == report; });
        if (existing == rows.end()) {
            return false;
        }
        change(*existing);
        return true;
    });
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
