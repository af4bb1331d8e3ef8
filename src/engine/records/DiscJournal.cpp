#include "engine/records/DiscJournal.h"

#include <algorithm>

#include "engine/records/ReportRows.h"
#include "engine/records/RunsFolder.h"
#include "support/AtomicFile.h"
#include "support/Csv.h"
#include "support/FileLock.h"
#include "support/FileSystem.h"

namespace engine {

namespace {

using J = JournalRow;
const Column<J> JournalColumns[] = {
    TextColumn<J, &J::started>("started"),
    TextColumn<J, &J::ended>("ended"),
    TextColumn<J, &J::pacs>("pacs"),
    TextColumn<J, &J::label>("label"),
    TextColumn<J, &J::fingerprint>("fingerprint"),
    TextColumn<J, &J::source>("source"),
    TextColumn<J, &J::destination>("destination"),
    MaybeCountColumn<J, &J::selected>("selected"),
    MaybeCountColumn<J, &J::migrated>("migrated"),
    MaybeCountColumn<J, &J::alreadyMigrated>("already_migrated"),
    MaybeCountColumn<J, &J::rejected>("rejected"),
    MaybeCountColumn<J, &J::failed>("failed"),
    {"stopped", [](const J& row) { return std::string(row.stopped ? "yes" : "no"); },
        [](J& row, std::string&& cell) { row.stopped = cell != "no"; }},
    TextColumn<J, &J::report>("report"),
    TextColumn<J, &J::looksLike>("looks_like"),
    TextColumn<J, &J::pacsNode>("pacs_node"),
    MaybeCountColumn<J, &J::pacsImages>("pacs_images"),
    MaybeCountColumn<J, &J::pacsConfirmed>("pacs_confirmed"),
    TextColumn<J, &J::serial>("serial"),
};

} // namespace

std::int64_t JournalRow::MigratedInAll() const
{
    return migrated.value_or(0) + alreadyMigrated.value_or(0); // an unfinished row has none
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

Table<JournalRow> JournalTable()
{
    return JournalColumns;
}

std::vector<JournalRow> ReadJournal(const std::string& runsFolder)
{
    std::string content;
    std::vector<JournalRow> rows;
    if (support::ReadWholeFile(JournalPath(runsFolder), content)) {
        return rows;
    }
    TableReader<JournalRow> reader(JournalColumns, 1);
    JournalRow row;
    for (auto& record : support::ParseCsv(content)) {
        if (reader.Read(record, row) && !row.report.empty()) {
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

void ReadProgress(const std::string& runsFolder, JournalRow& row)
{
    std::int64_t migrated = 0, alreadyMigrated = 0, rejected = 0, failed = 0;
    ReadRows(runsFolder + "/" + row.report, [&](const ReportRow& file) {
        migrated += file.Is(Outcome::Migrated) ? 1 : 0;
        alreadyMigrated += file.Is(Outcome::AlreadyMigrated) ? 1 : 0;
        rejected += file.Rejected() ? 1 : 0;
        failed += file.error.empty() ? 0 : 1; // as a run counts its failures: every row with an error
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
    std::string text = HeaderLine<JournalRow>(JournalColumns);
    for (const JournalRow& each : rows) {
        text += Line<JournalRow>(JournalColumns, each);
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

std::optional<JournalRow> LastRunOfDisc(const std::string& runsFolder, const std::string& fingerprint,
    const std::string& serial, const std::string& destination)
{
    const auto target = support::IdentityOf(destination);
    std::optional<JournalRow> found;
    for (JournalRow& row : ReadJournal(runsFolder)) {
        const bool otherVolume = !row.serial.empty() && !serial.empty() && row.serial != serial;
        if (target && row.fingerprint == fingerprint && !otherVolume
            && support::IdentityOf(row.destination) == target) {
            found = std::move(row);
        }
    }
    if (found && found->ended.empty()) {
        ReadProgress(runsFolder, *found);
    }
    return found;
}

} // namespace engine
