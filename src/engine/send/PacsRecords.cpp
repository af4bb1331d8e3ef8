#include "engine/send/PacsRecords.h"

#include <set>

#include "engine/journal/DiscJournal.h"
#include "engine/report/ReportFiles.h"
#include "support/AppendFile.h"
#include "support/Csv.h"
#include "support/FileSystem.h"
#include "support/LocalTime.h"
#include "support/Log.h"

namespace engine {

namespace {

std::vector<std::string> Values(const PacsRecord& record)
{
    return {record.writtenFile, record.sopInstanceUid, record.node, record.storeStatus, record.storeComment,
        record.syntaxSent, record.verdict, record.checked, record.error};
}

// Files a PACS can take: migrated images the check read as DICOM images.
bool Sendable(const ReportRow& row)
{
    using enum ReportColumn;
    const std::string& outcome = row[OutcomeColumn];
    const std::string& verdict = row[Dicom];
    return (outcome == OutcomeName(Outcome::Migrated) || outcome == OutcomeName(Outcome::AlreadyMigrated))
        && !row[WrittenFile].empty() && !row[SopUid].empty()
        && (verdict == "ok" || verdict == "no Part 10 header"); // DicomInfo::VerdictText's words
}

// The folder a report file lies in, Logs/Runs.
std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

std::string PacsFileOf(const std::string& rowsPath)
{
    return rowsPath.substr(0, rowsPath.size() - std::string_view(".csv").size()) + std::string(PacsSuffix);
}

const std::vector<std::string>& PacsColumns()
{
    static const std::vector<std::string> columns = {"written_file", "sop_instance_uid", "node", "store_status",
        "store_comment", "transfer_syntax_sent", "verdict", "checked", "error"};
    return columns;
}

std::map<std::string, PacsRecord> ReadPacsRecords(const std::string& pacsPath, const std::string& node)
{
    std::map<std::string, PacsRecord> records;
    std::string content;
    if (support::ReadWholeFile(pacsPath, content)) {
        return records;
    }
    const auto rows = support::ParseCsv(content);
    for (std::size_t i = 1; i < rows.size(); ++i) { // after the column names
        std::vector<std::string> cells = rows[i];
        if (cells.size() < PacsColumns().size()) {
            continue; // cut short by a kill
        }
        PacsRecord record {cells[0], cells[1], cells[2], cells[3], cells[4], cells[5], cells[6], cells[7], cells[8]};
        if (record.node == node) {
            records[record.writtenFile] = std::move(record);
        }
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
    // The byte-order mark tells spreadsheets that the file is UTF-8.
    std::string text = created ? "\xEF\xBB\xBF" + support::CsvLine(PacsColumns()) : std::string();
    for (const PacsRecord& record : records) {
        text += support::CsvLine(Values(record));
    }
    return !file.Write(text) && !file.Sync() && !file.Close() && (!created || !support::SyncFolder(FolderOf(pacsPath)));
}

SendPlan PlanOfReports(const std::vector<std::string>& rowsPaths, const std::string& destination, const DicomNode& node)
{
    SendPlan plan;
    plan.destination = destination;
    plan.reports = rowsPaths;
    std::map<std::string, std::size_t> itemOf; // by written file
    for (std::size_t report = 0; report < rowsPaths.size(); ++report) {
        const std::map<std::string, PacsRecord> records = ReadPacsRecords(PacsFileOf(rowsPaths[report]), node.Text());
        ReadRows(rowsPaths[report], [&](const ReportRow& row) {
            using enum ReportColumn;
            if (!Sendable(row)) {
                return;
            }
            const std::string& written = row[WrittenFile];
            auto [at, added] = itemOf.emplace(written, plan.items.size());
            if (added) {
                plan.items.push_back({support::JoinPath(destination, written), row[SopClassUid], row[SopUid],
                    row[TransferSyntax], row[StudyUid], row[SeriesUid]});
                plan.writtenFiles.push_back(written);
                plan.reportsOf.emplace_back();
                plan.confirmedBefore.emplace_back();
            }
            plan.reportsOf[at->second].push_back(report);
            // Confirmed by this node for the same instance: not sent again.
            const auto record = records.find(written);
            if (record != records.end() && record->second.sopInstanceUid == row[SopUid]
                && Arrived(ArrivalOf(record->second.verdict))) {
                plan.confirmedBefore[at->second] = record->second;
            }
        });
    }
    return plan;
}

PacsTally SendPlanned(const SendSettings& settings, const SendPlan& plan, bool confirmOnly, const support::Log& log,
    const std::function<void(const SendProgress&)>& progress, const std::function<bool()>& stop)
{
    std::vector<std::size_t> asked; // indices into plan.items
    std::vector<SendItem> items;
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        if (confirmOnly || !plan.confirmedBefore[i]) {
            asked.push_back(i);
            items.push_back(plan.items[i]);
        }
    }
    std::vector<SendOutcome> outcomes;
    const SendResult result = confirmOnly ? ConfirmImages(settings, items, outcomes, progress, stop)
                                          : SendImages(settings, items, outcomes, progress, stop);

    PacsTally tally;
    tally.total = static_cast<std::int64_t>(plan.items.size());
    tally.reached = result.reached || items.empty();
    tally.problems = result.problems;
    std::vector<bool> arrived(plan.items.size());
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        arrived[i] = plan.confirmedBefore[i].has_value();
    }
    // The records, by report; the images that did not arrive, for the operator and the error log.
    std::vector<std::vector<PacsRecord>> recordsOf(plan.reports.size());
    const std::string now = support::LocalIsoTime();
    for (std::size_t k = 0; k < asked.size(); ++k) {
        const std::size_t i = asked[k];
        const SendOutcome& outcome = outcomes[k];
        arrived[i] = Arrived(outcome.arrival);
        std::string comment = outcome.storeComment;
        if (outcome.alreadyThere) {
            comment = "schon im PACS, nicht erneut gesendet";
        }
        const PacsRecord record {plan.writtenFiles[i], plan.items[i].sopInstanceUid, settings.node.Text(),
            outcome.storeStatus, comment, outcome.syntaxSent, ArrivalName(outcome.arrival), now, outcome.error};
        for (const std::size_t report : plan.reportsOf[i]) {
            recordsOf[report].push_back(record);
        }
        if (!arrived[i]) {
            tally.problems.push_back(support::ShownPath(plan.items[i].file) + ": " + outcome.error);
            log.WriteError(-1, outcome.error, "SendToPacs", plan.items[i].file);
        }
    }
    // Each report's images and how many of them arrived, for its journal row.
    std::vector<std::int64_t> imagesOf(plan.reports.size()), confirmedOf(plan.reports.size());
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        tally.confirmed += arrived[i] ? 1 : 0;
        for (const std::size_t report : plan.reportsOf[i]) {
            ++imagesOf[report];
            confirmedOf[report] += arrived[i] ? 1 : 0;
        }
    }
    if (log.DebugOn()) {
        log.WriteDebug("PACS " + settings.node.Text() + ": " + std::to_string(result.storesSent)
            + " C-STORE requests for " + std::to_string(items.size()) + " images asked about; "
            + ConfirmedLine(tally.confirmed, tally.total));
    }
    for (std::size_t report = 0; report < plan.reports.size(); ++report) {
        const std::string& rows = plan.reports[report];
        if (!recordsOf[report].empty() && !AppendPacsRecords(PacsFileOf(rows), recordsOf[report])) {
            tally.problems.push_back("Sendebericht nicht geschrieben: " + support::ShownPath(PacsFileOf(rows)));
        }
        // A node that was not reached at all (a wrong address, say) does not replace what the row tells
        // of the node the images went to. The records are durable before the row counts them.
        if (tally.reached) {
            UpdateJournalRow(FolderOf(rows), support::NameOf(rows), [&](JournalRow& row) {
                row.pacsNode = settings.node.Text();
                row.pacsImages = imagesOf[report];
                row.pacsConfirmed = confirmedOf[report];
            });
        }
    }
    return tally;
}

std::optional<SendSettings> MakeSendSettings(
    std::string_view node, std::string_view ownAet, std::string_view listenPort, std::string& error)
{
    SendSettings settings;
    const auto parsed = ParseNode(node, error);
    if (!parsed) {
        return std::nullopt;
    }
    settings.node = *parsed;
    if (!ownAet.empty()) {
        if (!CheckAet(ownAet, error)) {
            return std::nullopt;
        }
        settings.ownAet = std::string(ownAet);
    }
    if (!listenPort.empty()) {
        const auto port = ParsePort(listenPort);
        if (!port) {
            error = "Empfangsport \"" + std::string(listenPort) + "\" ist keine Zahl von 1 bis 65535.";
            return std::nullopt;
        }
        settings.listenPort = *port;
    }
    return settings;
}

std::string SendProgressText(const DicomNode& node, const SendProgress& progress)
{
    const std::string name = "PACS " + node.aet + ": ";
    switch (progress.phase) {
    case SendProgress::Phase::Echo:
        return name + "Verbindung wird aufgebaut";
    case SendProgress::Phase::Asking:
        return name + "schon vorhandene Bilder werden erfragt";
    case SendProgress::Phase::Storing:
        return name + std::to_string(progress.stored) + " von " + std::to_string(progress.toStore) + " gesendet";
    case SendProgress::Phase::Confirming:
        return name + "Bestätigung für " + std::to_string(progress.total) + " Bilder wird abgefragt";
    case SendProgress::Phase::Waiting:
        return name + "nicht erreichbar, neuer Versuch folgt";
    case SendProgress::Phase::Done:
        break;
    }
    return name + "fertig";
}

std::string ConfirmedLine(std::int64_t confirmed, std::int64_t total)
{
    return std::to_string(confirmed) + " von " + std::to_string(total) + " Bildern im PACS bestätigt.";
}

} // namespace engine
