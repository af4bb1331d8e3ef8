#include "engine/records/SendRecords.h"

#include "engine/records/RunsFolder.h"
#include "support/AppendFile.h"
#include "support/Csv.h"
#include "support/FileLock.h"
#include "support/FileSystem.h"

namespace engine {

namespace {

using P = PacsRecord;
const Column<P> PacsColumns[] = {
    TextColumn<P, &P::writtenFile>("written_file"),
    TextColumn<P, &P::sopInstanceUid>("sop_instance_uid"),
    TextColumn<P, &P::node>("node"),
    TextColumn<P, &P::storeStatus>("store_status"),
    TextColumn<P, &P::storeComment>("store_comment"),
    TextColumn<P, &P::syntaxSent>("transfer_syntax_sent"),
    {"verdict", [](const P& record) { return std::string(ArrivalName(record.verdict)); },
        [](P& record, std::string&& cell) { record.verdict = ArrivalOf(cell); }},
    TextColumn<P, &P::checked>("checked"),
    TextColumn<P, &P::error>("error"),
    TextColumn<P, &P::destination>("destination"),
    TextColumn<P, &P::disc>("disc"),
};
// Records written before they named their folder and disc have this many cells; fewer: cut short by a kill.
constexpr std::size_t FirstPacsColumns = 9;

} // namespace

Table<PacsRecord> PacsTable()
{
    return PacsColumns;
}

std::map<std::string, PacsRecord> ReadPacsRecords(
    const std::string& pacsPath, const std::string& node, const std::string& destination)
{
    std::map<std::string, PacsRecord> records;
    std::string content;
    if (support::ReadWholeFile(pacsPath, content)) {
        return records;
    }
    const std::string wanted = destination.empty() ? std::string() : FolderKey(destination);
    std::map<std::string, bool> sameFolder; // by a record's destination, as written
    TableReader<PacsRecord> reader(PacsColumns, FirstPacsColumns);
    PacsRecord record;
    for (auto& cells : support::ParseCsv(content)) {
        if (!reader.Read(cells, record) || record.node != node) {
            continue;
        }
        if (!wanted.empty() && !record.destination.empty()) {
            const auto known = sameFolder.find(record.destination);
            const bool same = known != sameFolder.end()
                ? known->second
                : sameFolder.emplace(record.destination, FolderKey(record.destination) == wanted).first->second;
            if (!same) {
                continue;
            }
        }
        records[record.writtenFile] = std::move(record);
    }
    return records;
}

bool AppendPacsRecords(const std::string& pacsPath, const std::vector<PacsRecord>& records)
{
    support::AppendFile file;
    bool created = false;
    if (file.OpenOrCreate(pacsPath, created)) {
        return false;
    }
    std::string text = created ? HeaderLine<PacsRecord>(PacsColumns) : std::string();
    for (const PacsRecord& record : records) {
        text += Line<PacsRecord>(PacsColumns, record);
    }
    return !file.Write(text) && !file.Sync() && !file.Close()
        && (!created || !support::SyncFolder(support::FolderOf(pacsPath)));
}

bool AppendUnreportedRecords(const std::string& runsFolder, const std::vector<PacsRecord>& records)
{
    support::FileLock lock;
    lock.Lock(LocksFile(runsFolder), UnreportedLockSlot(), support::FileLock::Mode::Wait);
    return AppendPacsRecords(UnreportedPacsFile(runsFolder), records);
}

} // namespace engine
