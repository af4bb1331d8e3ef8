#include "cli/CliMain.h"

#include <algorithm>

#include "cli/ConsoleHost.h"
#include "engine/run/RunController.h"
#include "engine/common/Texts.h"
#include "engine/report/Findings.h"
#include "engine/records/RunsFolder.h"
#include "engine/report/Verification.h"
#include "support/FileSystem.h"
#include "support/Places.h"
#include "support/Settings.h"

namespace cli {

namespace {

// "--name value" or "--name=value". An option after the name means the value was forgotten
// ("--pacs --source X"); a value that starts with "-" is given as "--name=-value".
bool TakeValue(const std::vector<std::string>& args, size_t& i, std::string_view name, std::optional<std::string>& into,
    std::string& error)
{
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size() || (args[i + 1].size() > 1 && args[i + 1].starts_with("-"))) {
            error = "Option " + std::string(name) + " braucht einen Wert.";
            return true;
        }
        into = args[++i];
        return true;
    }
    if (arg.starts_with(std::string(name) + "=")) {
        into = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

std::string RunCounts(const engine::RunController& engine)
{
    const engine::RunTally& counts = engine.Counts();
    return std::to_string(engine.State().CheckedCount) + " ausgewählt, " + std::to_string(counts.Migrated())
        + " migriert, " + std::to_string(counts.withError + counts.Rejected()) + " Fehler";
}

// After the summary: the studies, what the report found, and the report itself as the last line.
void PrintReportLines(const engine::RunSummary& run, const Environment& env)
{
    const std::string studies = engine::StudiesLine(run.findings);
    if (!studies.empty()) {
        env.out << studies << "\n";
    }
    for (const std::string& line : engine::FindingLines(run.findings)) {
        env.out << line << "\n";
    }
    env.out << engine::ReportLine(run.report) << "\n";
}

ExitStatus VerifyCli(const std::string& destination, const Environment& env)
{
    const engine::Verification result = engine::VerifyDestination(env.places.logs, destination);
    if (result.discs.empty()) {
        PrintNoReport(destination, env);
        return ExitStatus::NotStarted;
    }
    for (const std::string& problem : result.problems) {
        env.err << problem << "\n";
    }
    for (const engine::DiscVerification& disc : result.discs) {
        env.out << disc.name << ": " << disc.present << " von " << disc.listed << " vorhanden\n";
    }
    const std::string reports
        = std::to_string(result.discs.size()) + (result.discs.size() == 1 ? " Laufbericht" : " Laufberichten");
    const std::string counted = std::to_string(result.rowsChecked) + " Berichtszeilen geprüft, "
        + std::to_string(result.filesInFolder) + " Dateien im Ordner";
    if (result.Matches()) {
        env.out << destination << " stimmt mit " << reports << " überein: " << counted
                << ", alle vorhanden und unverändert.\n";
        return ExitStatus::Completed;
    }
    env.out << destination << " weicht von " << reports << " ab: " << counted << ", " << result.missing << " fehlen, "
            << result.changed << " verändert, " << result.verdictChanged << " mit anderem DICOM-Befund, "
            << result.added << " hinzugekommen, " << result.leftovers << " verwaiste Teildateien.\n";
    return ExitStatus::WithFailures;
}

} // namespace

void PrintNoReport(const std::string& destination, const Environment& env)
{
    env.out << "Kein Laufbericht in " << support::ShownPath(engine::RunsFolder(env.places.logs)) << " hat nach "
            << destination << " geschrieben.\n";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error)
{
    Options options;
    error.clear();
    for (size_t i = 0; i < args.size() && error.empty(); ++i) {
        const std::string& arg = args[i];
        // "--send" without a node takes the one Settings.ini names.
        if (arg == "--send" && (i + 1 >= args.size() || args[i + 1].starts_with("-"))) {
            options.send = std::string();
            continue;
        }
        if (TakeValue(args, i, "--pacs", options.pacs, error) || TakeValue(args, i, "--source", options.source, error)
            || TakeValue(args, i, "--dest", options.dest, error) || TakeValue(args, i, "--temp", options.temp, error)
            || TakeValue(args, i, "--verify", options.verify, error)
            || TakeValue(args, i, "--send", options.send, error)
            || TakeValue(args, i, "--send-only", options.sendOnly, error)
            || TakeValue(args, i, "--aet", options.aet, error) || TakeValue(args, i, "--listen", options.listen, error)
            || TakeValue(args, i, "--connections", options.connections, error)) {
            continue;
        }
        if (arg == "--discs") {
            // The destination is optional: the next argument when it is not an option.
            const bool given = i + 1 < args.size() && !args[i + 1].starts_with("-");
            options.discs = given ? args[++i] : options.discs.value_or(std::string());
        } else if (options.discs && options.discs->empty() && !arg.starts_with("-")) {
            options.discs = arg; // "--discs --csv DIR": the folder in any place
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--only-missing") {
            options.onlyMissing = true;
        } else if (arg == "--watch") {
            options.watch = true;
        } else if (arg == "--debug") {
            options.debug = true;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version" || arg == "-V") {
            options.version = true;
        } else {
            error = "Unbekannte Option: " + arg;
        }
    }
    if (error.empty() && options.sendOnly && !options.send) {
        error = "--send-only braucht --send (mit AET@RECHNER:PORT, oder allein für den Knoten aus Settings.ini).";
    }
    if (!error.empty()) {
        return std::nullopt;
    }
    return options;
}

std::string UsageText(const support::Places& places)
{
    return "Aufruf: zet-pelta-cli [--pacs NAME] [--source DIR] [--dest DIR] [--temp DIR] [--debug]\n"
           "                     [-q | --quiet] [--only-missing] [--watch]\n"
           "                     [--send [AET@RECHNER:PORT] [--aet NAME] [--listen PORT] [--connections N]]\n"
           "       zet-pelta-cli --send-only DIR --send [AET@RECHNER:PORT] [--aet NAME] [--listen PORT]\n"
           "                     [--connections N]\n"
           "       zet-pelta-cli --verify DIR [--send [AET@RECHNER:PORT]]\n"
           "       zet-pelta-cli --discs [DIR] [--csv]\n"
           "\n"
           "Migriert die Bilder einer PACS-Archiv-CD/DVD in einen Ordner mit DICOM-Dateien,\n"
           "genau wie \"Migrieren\" im Fenster von Zet-Pelta.\n"
           "\n"
           "  --pacs NAME      PACS-System: \"Arzt und Praxis\", \"GEMED\", \"HIPAX\" oder \"STARC\"\n"
           "  --source DIR     Quellverzeichnis (die eingelegte CD/DVD)\n"
           "  --dest DIR       Zielverzeichnis für die .dcm-Dateien\n"
           "  --temp DIR       Tempverzeichnis; der Lauf legt darin TempPelta an und entfernt es am Ende\n"
           "  --debug          zusätzlich Logs/DebugPelta.log schreiben\n"
           "  -q, --quiet      keine Fortschrittsanzeige, nur die Zusammenfassung\n"
           "  --only-missing   eine schon einmal migrierte CD / DVD: nur die Dateien migrieren, die im\n"
           "                   Zielverzeichnis fehlen (ohne: alle, mit einem Hinweis)\n"
           "  --watch          auf CDs / DVDs warten, die unter dem Quellverzeichnis eingehängt werden,\n"
           "                   jede migrieren und aus dem Laufwerk auswerfen; Strg+C beendet\n"
           "  --verify DIR     ein Zielverzeichnis mit allen Laufberichten vergleichen, die hineingeschrieben\n"
           "                   haben: alle Dateien da, Prüfsummen und DICOM-Befund gleich, keine fremden\n"
           "                   Dateien (Exit-Status 0 wenn ja)\n"
           "  --send [AET@RECHNER:PORT]\n"
           "                   nach dem Lauf alle Bilder des Zielverzeichnisses an diesen DICOM-Knoten (das\n"
           "                   neue PACS) senden und ihre Ankunft bestätigen lassen (Speicherbestätigung,\n"
           "                   sonst C-FIND); ohne Knoten der aus Settings.ini, [Senden] Knoten=. Ohne\n"
           "                   --send sendet zet-pelta-cli nie. Mit --verify: das PACS erneut fragen\n"
           "  --send-only DIR  ohne Lauf alle Bilder in DIR senden (auch die, die kein Laufbericht dieses\n"
           "                   Programms nennt); schon bestätigte werden nicht erneut gesendet\n"
           "  --aet NAME       eigener AE-Titel (Vorgabe ZETPELTA; [Senden] EigenerAETitel=)\n"
           "  --listen PORT    Port für die Speicherbestätigungen des PACS (Vorgabe 11113; [Senden]\n"
           "                   Empfangsport=); er muss in der Firewall offen sein\n"
           "  --connections N  höchstens N Verbindungen zugleich zum PACS (Vorgabe 16; [Senden]\n"
           "                   Verbindungen=); ein PACS im Betrieb verträgt oft weniger\n"
           "  --discs [DIR]    alle migrierten CDs / DVDs (in DIR) als Tabelle\n"
           "  --csv            mit --discs: die Liste als CSV\n"
           "  -h, --help       diese Hilfe anzeigen\n"
           "  -V, --version    Version anzeigen\n"
           "\n"
           "Fehlende Angaben kommen aus Settings.ini (die Datei wird nicht geändert):\n"
           "  "
        + support::ShownPath(support::SettingsFilePath(places.settings))
        + "\n"
          "Fehler stehen in Logs/Error.txt, jeder Lauf schreibt einen Bericht (CSV) nach Logs/Runs;\n"
          "die letzte Zeile nennt ihn. Logs/ liegt in:\n"
          "  "
        + support::ShownPath(places.logs) + "\n" + std::string(support::PlacesNote())
        + "\n"
          "Exit-Status: 0 Lauf beendet, alle ausgewählten Dateien migriert (mit --send: und alle\n"
          "               Bilder des Zielverzeichnisses vom PACS bestätigt);\n"
          "             1 Lauf beendet, mindestens eine Datei oder ein Ordner mit Fehler, oder die\n"
          "               CD / DVD sieht aus wie eine eines anderen PACS-Systems, oder die Quelle\n"
          "               enthält keine Dateien;\n"
          "             2 Lauf nicht gestartet (Prüfung fehlgeschlagen, etwa ein Zielverzeichnis, in\n"
          "               das nicht geschrieben werden kann; falscher Aufruf; dieselbe\n"
          "               CD / DVD wird gerade in dasselbe Zielverzeichnis migriert; --send-only:\n"
          "               kein Ordner oder keine Bilder darin);\n"
          "             3 migriert, aber nicht jedes Bild vom PACS bestätigt (erneut: --send-only DIR);\n"
          "             4 migriert, aber nichts gesendet: PACS nicht erreichbar oder lehnt ab;\n"
          "           130 mit Strg+C abgebrochen.\n"
          "Trifft mehreres zu, gilt die erste Zeile von unten nach oben: 130, 2, 1, 4, 3.\n";
}

ExitStatus RunCli(const std::vector<std::string>& args, const Environment& env)
{
    std::string error;
    const auto options = ParseOptions(args, error);
    if (!options) {
        env.err << "zet-pelta-cli: " << error << "\nHilfe: zet-pelta-cli --help\n";
        return ExitStatus::NotStarted;
    }
    if (options->help) {
        env.out << UsageText(env.places);
        return ExitStatus::Completed;
    }
    if (options->version) {
        env.out << "zet-pelta-cli " << ZP_VERSION << "\n";
        return ExitStatus::Completed;
    }
    support::MakePlaceFolders(env.places);

    std::optional<engine::SendSettings> send;
    if (options->send) {
        send = SendSettingsOf(*options, env);
        if (!send) {
            return ExitStatus::NotStarted;
        }
    }
    if (options->verify) {
        const ExitStatus files = VerifyCli(*options->verify, env);
        if (!send) {
            return files;
        }
        // The node is asked about every image of the folder, also when no report of ours wrote into it.
        const ExitStatus confirmed = SendFolder(*options->verify, *send, engine::SendMode::ConfirmOnly, *options, env);
        return files == ExitStatus::NotStarted ? confirmed : Worse(files, confirmed);
    }
    if (options->sendOnly) {
        return SendFolder(*options->sendOnly, *send, engine::SendMode::Send, *options, env);
    }

    if (options->discs) {
        return DiscsCli(*options, env);
    }
    if (options->watch) {
        return WatchCli(*options, env);
    }
    return MigrateOnce(*options, env);
}

ExitStatus MigrateOnce(const Options& options, const Environment& env, const std::optional<std::string>& source)
{
    support::Settings fields = support::LoadSettings(support::SettingsFilePath(env.places.settings));
    fields.pacs = options.pacs.value_or(fields.pacs);
    fields.sourcePath = source.value_or(options.source.value_or(fields.sourcePath));
    fields.destinationPath = options.dest.value_or(fields.destinationPath);
    fields.tempPath = options.temp.value_or(fields.tempPath);
    if (options.debug) {
        fields.debugValue = 1;
    }

    ConsoleHost host(fields, {env.out, env.err, env.stderrIsTerminal && !options.quiet, env.columns});
    engine::RunController engine(host, env.places.logs);
    if (options.send) {
        engine.SetPacsTarget(SendSettingsOf(options, env));
    }
    host.SetInterruptCheck(env.interrupted, [&engine] { engine.RequestStop(); });
    host.SetCountsSource([&engine] { return RunCounts(engine); });
    host.SetOnlyMissing(options.onlyMissing);

    engine.StartRun();
    if (!engine.TimerEnabled()) {
        return ExitStatus::NotStarted; // the check's German text is already on err
    }
    engine.RunUntilIdle();
    host.EndLiveLine();

    const engine::RunSummary& run = engine.LastRun();
    if (run.refused) {
        return ExitStatus::NotStarted; // its German text is on err
    }
    if (run.stopped) {
        env.err << "Migration abgebrochen: " << run.migrated << " von " << run.checked
                << " Dateien wurden bis dahin migriert.\n";
        PrintReportLines(run, env);
        return ExitStatus::Interrupted;
    }
    const std::int64_t failures = run.failed + run.rejected;
    if (failures > 0 && !options.quiet) {
        env.err << failures << " Dateien oder Ordner mit Fehler; Einzelheiten in " << engine.Log().ErrorLogPath()
                << "\n";
    }
    PrintReportLines(run, env);
    // A disc of another system, or no disc at all, is not done with, whatever its files' outcomes.
    const ExitStatus migrated
        = failures > 0 || !run.looksLike.empty() || run.scanned == 0 ? ExitStatus::WithFailures : ExitStatus::Completed;
    if (!run.pacs) {
        return migrated;
    }
    // The confirmed count is the summary's last line already.
    PrintSendProblems(*run.pacs, env);
    return Worse(migrated, SendStatus(*run.pacs));
}

ExitStatus Worse(ExitStatus a, ExitStatus b)
{
    for (const ExitStatus first : {ExitStatus::Interrupted, ExitStatus::NotStarted, ExitStatus::WithFailures,
             ExitStatus::NotSent, ExitStatus::NotConfirmed}) {
        if (a == first || b == first) {
            return first;
        }
    }
    return ExitStatus::Completed;
}

} // namespace cli
