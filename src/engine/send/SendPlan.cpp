#include "engine/send/SendPlan.h"

#include <set>

#include "engine/common/Texts.h"
#include "engine/records/DiscJournal.h"
#include "engine/records/ReportRows.h"
#include "engine/records/RunsFolder.h"
#include "engine/report/Verification.h"
#include "support/FileSystem.h"
#include "support/LocalTime.h"
#include "support/Log.h"
#include "support/Settings.h"

namespace engine {

namespace {

// More images than this that did not arrive for one and the same reason are one line for the operator.
constexpr std::size_t LinesPerReason = 3;

// The plan's items from the run reports; listed gets every file any of them names.
void AddReportedImages(SendPlan& plan, const DicomNode& node, std::set<std::string>& listed)
{
    std::map<std::string, std::size_t> itemOf; // by written file
    for (std::size_t report = 0; report < plan.reports.size(); ++report) {
        const std::map<std::string, PacsRecord> records
            = ReadPacsRecords(PacsFileOf(plan.reports[report]), node.Text());
        ReadRows(plan.reports[report], [&](const ReportRow& row) {
            if (!row.writtenFile.empty()) {
                listed.insert(row.writtenFile);
            }
            if (!row.Sendable()) {
                return;
            }
            const std::string& written = row.writtenFile;
            auto [at, added] = itemOf.emplace(written, plan.items.size());
            if (added) {
                plan.items.push_back({support::JoinPath(plan.destination, written), row.sopClassUid, row.sopInstanceUid,
                    row.transferSyntax, row.studyInstanceUid, row.seriesInstanceUid});
                plan.writtenFiles.push_back(written);
                plan.reportsOf.emplace_back();
                plan.confirmedBefore.emplace_back();
            }
            plan.reportsOf[at->second].push_back(report);
            // Confirmed by this node for the same instance: not sent again.
            const auto record = records.find(written);
            if (record != records.end() && record->second.Confirms(row.sopInstanceUid)) {
                plan.confirmedBefore[at->second] = record->second;
            }
        });
    }
}

} // namespace

SendPlan PlanOfDestination(const std::string& runsFolder, const std::string& destination, const DicomNode& node)
{
    SendPlan plan;
    plan.runsFolder = runsFolder;
    plan.destination = destination;
    for (const ReportOfRun& run : RunsInto(runsFolder, destination)) {
        plan.reports.push_back(run.rows);
    }
    std::set<std::string> listed;
    AddReportedImages(plan, node, listed);
    const std::map<std::string, PacsRecord> records
        = ReadPacsRecords(UnreportedPacsFile(runsFolder), node.Text(), destination);
    for (const FolderImage& image : UnlistedImages(destination, listed)) {
        const DicomInfo& info = image.info;
        plan.items.push_back({support::JoinPath(destination, image.relative), info.sopClassUid, info.sopInstanceUid,
            info.transferSyntax, info.studyInstanceUid, info.seriesInstanceUid});
        plan.writtenFiles.push_back(image.relative);
        plan.reportsOf.emplace_back();
        const auto record = records.find(image.relative);
        const bool confirmed = record != records.end() && record->second.Confirms(info.sopInstanceUid);
        plan.confirmedBefore.push_back(confirmed ? std::optional(record->second) : std::nullopt);
        ++plan.unreported;
    }
    return plan;
}

PacsTally SendPlanned(const SendSettings& settings, const SendPlan& plan, SendMode mode, const support::Log& log,
    const std::function<void(const SendProgress&)>& progress, const std::function<bool()>& stop)
{
    std::vector<std::size_t> asked; // indices into plan.items
    std::vector<SendItem> items;
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        if (mode == SendMode::ConfirmOnly || !plan.confirmedBefore[i]) {
            asked.push_back(i);
            items.push_back(plan.items[i]);
        }
    }
    std::vector<SendOutcome> outcomes;
    const SendResult result = SendImages(settings, mode, items, outcomes, progress, stop);

    PacsTally tally;
    tally.total = static_cast<std::int64_t>(plan.items.size());
    tally.unreported = plan.unreported;
    tally.reached = result.reached || items.empty();
    tally.problems = result.problems;
    for (const std::string& problem : result.problems) {
        log.WriteError(-1, problem, "SendToPacs", settings.node.Text());
    }
    std::vector<bool> arrived(plan.items.size());
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        arrived[i] = plan.confirmedBefore[i].has_value();
    }
    // The records, by report (and those of no report); the images that did not arrive, by reason.
    std::vector<std::vector<PacsRecord>> recordsOf(plan.reports.size());
    std::vector<PacsRecord> unreported;
    std::map<std::string, std::vector<std::string>> filesOf; // by the reason they did not arrive
    std::vector<std::string> reasons; // in the order they came
    const std::string now = support::LocalIsoTime();
    for (std::size_t k = 0; k < asked.size(); ++k) {
        const std::size_t i = asked[k];
        const SendOutcome& outcome = outcomes[k];
        arrived[i] = Arrived(outcome.arrival);
        const std::string comment = outcome.alreadyThere ? std::string(texts::AlreadyInPacs) : outcome.storeComment;
        PacsRecord record {plan.writtenFiles[i], plan.items[i].sopInstanceUid, settings.node.Text(),
            outcome.storeStatus, comment, outcome.syntaxSent, outcome.arrival, now, outcome.error, plan.destination,
            {}};
        if (plan.reportsOf[i].empty()) {
            unreported.push_back(record);
        }
        for (const std::size_t report : plan.reportsOf[i]) {
            record.disc = DiscOf(plan.reports[report]);
            recordsOf[report].push_back(record);
        }
        if (!arrived[i]) {
            auto& files = filesOf[outcome.error];
            if (files.empty()) {
                reasons.push_back(outcome.error);
            }
            files.push_back(support::ShownPath(plan.items[i].file));
            log.WriteError(-1, outcome.error, "SendToPacs", plan.items[i].file);
        }
    }
    for (const std::string& reason : reasons) {
        const std::vector<std::string>& files = filesOf[reason];
        if (files.size() <= LinesPerReason) {
            for (const std::string& file : files) {
                tally.problems.push_back(file + ": " + reason);
            }
        } else {
            tally.problems.push_back(std::to_string(files.size()) + " Bilder: " + reason + " (jedes einzeln in "
                + support::ShownPath(log.ErrorLogPath()) + ")");
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
            + texts::ConfirmedLine(tally.confirmed, tally.total));
    }
    if (!unreported.empty() && !AppendUnreportedRecords(plan.runsFolder, unreported)) {
        tally.problems.push_back(texts::SendRecordsNotWritten(support::ShownPath(UnreportedPacsFile(plan.runsFolder))));
    }
    for (std::size_t report = 0; report < plan.reports.size(); ++report) {
        const std::string& rows = plan.reports[report];
        if (!recordsOf[report].empty() && !AppendPacsRecords(PacsFileOf(rows), recordsOf[report])) {
            tally.problems.push_back(texts::SendRecordsNotWritten(support::ShownPath(PacsFileOf(rows))));
        }
        // A node that was not reached at all (a wrong address, say) does not replace what the row tells
        // of the node the images went to. The records are durable before the row counts them.
        if (tally.reached) {
            UpdateJournalRow(plan.runsFolder, support::NameOf(rows), [&](JournalRow& row) {
                row.pacsNode = settings.node.Text();
                row.pacsImages = imagesOf[report];
                row.pacsConfirmed = confirmedOf[report];
            });
        }
    }
    return tally;
}

std::optional<SendSettings> MakeSendSettings(const SendTexts& texts, std::string& error)
{
    SendSettings settings;
    const auto parsed = ParseNode(texts.node, error);
    if (!parsed) {
        return std::nullopt;
    }
    settings.node = *parsed;
    if (!texts.ownAet.empty()) {
        if (!CheckAet(texts.ownAet, error)) {
            return std::nullopt;
        }
        settings.ownAet = std::string(texts.ownAet);
    }
    if (!texts.reportAet.empty()) {
        if (!CheckAet(texts.reportAet, error)) {
            return std::nullopt;
        }
        settings.reportAet = std::string(texts.reportAet);
    }
    if (!texts.listenPort.empty()) {
        const auto port = ParsePort(texts.listenPort);
        if (!port) {
            error = "Empfangsport \"" + std::string(texts.listenPort) + "\" ist keine Zahl von 1 bis 65535.";
            return std::nullopt;
        }
        settings.listenPort = *port;
    }
    if (!texts.connections.empty()) {
        const auto count = ParsePort(texts.connections);
        if (!count || *count > 64) {
            error = "Verbindungen \"" + std::string(texts.connections) + "\" ist keine Zahl von 1 bis 64.";
            return std::nullopt;
        }
        settings.associations = *count;
    }
    return settings;
}

SendTexts SendTextsOf(const support::Settings& fields)
{
    return {fields.sendNode, fields.sendOwnAet, fields.sendListenPort, fields.sendConnections, fields.sendReportAet};
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

} // namespace engine
