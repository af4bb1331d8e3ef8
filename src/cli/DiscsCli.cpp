#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include "cli/CliMain.h"
#include "engine/records/DiscJournal.h"
#include "engine/records/RunsFolder.h"
#include "engine/report/Verification.h"
#include "support/Csv.h"
#include "support/FileSystem.h"
#include "support/Mounts.h"
#include "support/Settings.h"

namespace cli {

namespace {

// Whether each run's files still are in its destination as its report lists them, by report name:
// "ja", "nein", or "-" for a run without a finished report.
std::map<std::string, std::string> VerifiedRuns(
    const std::string& logsFolder, const std::vector<engine::JournalRow>& rows)
{
    std::map<std::string, std::string> verified;
    std::set<std::string> destinations;
    for (const engine::JournalRow& row : rows) {
        destinations.insert(row.destination);
    }
    for (const std::string& destination : destinations) {
        for (const engine::DiscVerification& disc : engine::VerifyDestination(logsFolder, destination).discs) {
            verified[support::NameOf(disc.report)] = disc.present == disc.listed ? "ja" : "nein";
        }
    }
    return verified;
}

} // namespace

ExitStatus DiscsCli(const Options& options, const Environment& env)
{
    const std::string runs = engine::RunsFolder(env.places.logs);
    if (!options.discs->empty() && !support::FolderExists(*options.discs)) {
        env.err << "zet-pelta-cli: Ordner " << support::ShownPath(*options.discs) << " gibt es nicht.\n";
        return ExitStatus::NotStarted;
    }
    std::vector<engine::JournalRow> rows = engine::ReadJournalWithProgress(runs);
    if (!options.discs->empty()) {
        const auto wanted = support::IdentityOf(*options.discs);
        std::erase_if(rows,
            [&](const engine::JournalRow& row) { return !wanted || support::IdentityOf(row.destination) != wanted; });
    }
    const std::map<std::string, std::string> verified = VerifiedRuns(env.places.logs, rows);
    const auto verifiedOf = [&verified](const engine::JournalRow& row) {
        const auto found = verified.find(row.report);
        return found == verified.end() ? std::string("-") : found->second;
    };
    if (options.csv) {
        // The journal's columns, and after "report" whether its files are still there.
        const std::vector<std::string> names = engine::ColumnNames(engine::JournalTable());
        const auto verifiedAt = std::find(names.begin(), names.end(), "report") - names.begin() + 1;
        const auto withVerified = [verifiedAt](std::vector<std::string> cells, std::string cell) {
            cells.insert(cells.begin() + verifiedAt, std::move(cell));
            return support::CsvLine(cells);
        };
        env.out << withVerified(names, "verified");
        for (const engine::JournalRow& row : rows) {
            env.out << withVerified(engine::Cells(engine::JournalTable(), row), verifiedOf(row));
        }
        return ExitStatus::Completed;
    }
    if (rows.empty()) {
        // For one folder, the journal may well hold other discs: the line says which are meant.
        env.out << "Noch keine CD / DVD migriert"
                << (options.discs->empty() ? std::string() : " nach " + support::ShownPath(*options.discs)) << " ("
                << support::ShownPath(engine::JournalPath(runs)) << ").\n";
        return ExitStatus::Completed;
    }
    // Runs into several destinations are told apart by a last column; one destination needs none.
    std::set<std::string> destinations;
    for (const engine::JournalRow& row : rows) {
        destinations.insert(row.destination);
    }
    const bool withDestination = destinations.size() > 1;
    const auto dash = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    char line[1024];
    std::snprintf(line, sizeof line, "%-19s  %-15s  %-16s  %8s  %8s  %9s  %6s  %-11s  %-7s  %s%s\n", "Datum", "System",
        "Label", "migriert", "schon da", "abgelehnt", "Fehler", "abgebrochen", "geprüft", "im PACS",
        withDestination ? "  Zielverzeichnis" : "");
    env.out << line;
    for (const engine::JournalRow& row : rows) {
        std::snprintf(line, sizeof line, "%-19s  %-15s  %-16s  %8s  %8s  %9s  %6s  %-11s  ",
            row.StartedDateAndTime().c_str(), row.pacs.c_str(), dash(row.label).c_str(),
            dash(engine::CountText(row.migrated)).c_str(), dash(engine::CountText(row.alreadyMigrated)).c_str(),
            dash(engine::CountText(row.rejected)).c_str(), dash(engine::CountText(row.failed)).c_str(),
            row.stopped ? "ja" : "nein");
        std::string verdict = verifiedOf(row);
        verdict.resize(std::max<std::size_t>(verdict.size(), 7), ' ');
        verdict += "  " + dash(row.PacsText());
        if (withDestination) {
            verdict.resize(std::max<std::size_t>(verdict.size(), 7 + 2 + 7), ' ');
            verdict += "  " + row.destination;
        }
        env.out << line << verdict << "\n";
    }
    return ExitStatus::Completed;
}

ExitStatus WatchCli(const Options& options, const Environment& env)
{
    const std::string source
        = options.source.value_or(support::LoadSettings(support::SettingsFilePath(env.places.settings)).sourcePath);
    if (!support::FolderExists(source)) {
        env.err << "Quellverzeichnis exestiert nicht.\n";
        return ExitStatus::NotStarted;
    }
    const auto eject = env.eject ? env.eject : support::EjectDisc;
    env.out << "Warte auf CDs / DVDs unter " << source << " (Strg+C beendet) ...\n" << std::flush;
    support::MountWatch discs; // a disc still in the drive is not started again
    ExitStatus status = ExitStatus::Completed;
    while (!env.interrupted()) {
        for (const support::Mount& disc : discs.Arrived(source)) {
            if (env.interrupted()) {
                break;
            }
            env.out << "CD / DVD unter " << disc.mountPoint << ":\n" << std::flush;
            const ExitStatus result = MigrateOnce(options, env, disc.mountPoint);
            if (result == ExitStatus::Interrupted) {
                return ExitStatus::Interrupted;
            }
            status = std::max(status, result);
            // A disc another program is migrating stays in the drive.
            if (result != ExitStatus::NotStarted && support::IsOpticalDrive(disc)) {
                if (const auto error = eject(disc)) {
                    env.err << "Auswerfen von " << disc.device << " fehlgeschlagen: " << error.message() << "\n";
                }
            }
            env.out << "Warte auf die nächste CD / DVD ...\n" << std::flush;
        }
        for (auto waited = std::chrono::milliseconds(0); waited < env.watchInterval && !env.interrupted();
             waited += std::chrono::milliseconds(50)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    env.out << "Beendet.\n";
    return status;
}

} // namespace cli
