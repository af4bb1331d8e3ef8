#include "cli/CliMain.h"

#include "engine/report/ReportFiles.h"
#include "support/FileSystem.h"
#include "support/Log.h"
#include "support/Settings.h"

namespace cli {

namespace {

// The sending as one line that rewrites itself, on a terminal only.
std::function<void(const engine::SendProgress&)> LiveProgress(
    const Options& options, const engine::SendSettings& settings, const Environment& env)
{
    if (!env.stderrIsTerminal || options.quiet) {
        return {};
    }
    return [&env, node = settings.node](const engine::SendProgress& progress) {
        std::string text = engine::SendProgressText(node, progress);
        text.resize(static_cast<std::size_t>(std::max(1, env.columns - 1)), ' ');
        env.err << "\r" << text << std::flush;
    };
}

void EndLiveProgress(const Options& options, const Environment& env)
{
    if (env.stderrIsTerminal && !options.quiet) {
        env.err << "\r" << std::string(static_cast<std::size_t>(std::max(1, env.columns - 1)), ' ') << "\r"
                << std::flush;
    }
}

// The rows files of the reports that wrote into the destination; none after telling out so.
std::vector<std::string> ReportsOf(const std::string& destination, const Environment& env)
{
    std::vector<std::string> rows;
    for (const std::string& summary : engine::SummariesOf(engine::RunsFolder(env.places.logs), destination)) {
        rows.push_back(engine::RowsFileOf(summary));
    }
    if (rows.empty()) {
        PrintNoReport(destination, env);
    }
    return rows;
}

ExitStatus SendDestination(const std::string& destination, const engine::SendSettings& settings, bool confirmOnly,
    const Options& options, const Environment& env)
{
    const std::vector<std::string> reports = ReportsOf(destination, env);
    if (reports.empty()) {
        return ExitStatus::NotStarted;
    }
    const engine::SendPlan plan = engine::PlanOfReports(reports, destination, settings.node);
    const support::Log log(env.places.logs, [&options] { return options.debug; });
    const engine::PacsTally tally
        = engine::SendPlanned(settings, plan, confirmOnly, log, LiveProgress(options, settings, env), env.interrupted);
    EndLiveProgress(options, env);
    PrintSendLines(tally, env);
    return env.interrupted() ? ExitStatus::Interrupted : SendStatus(tally);
}

} // namespace

std::optional<engine::SendSettings> SendSettingsOf(const Options& options, const Environment& env)
{
    const support::Settings fields = support::LoadSettings(support::SettingsFilePath(env.places.settings));
    std::string error;
    auto settings = engine::MakeSendSettings(options.send.value_or(fields.sendNode),
        options.aet.value_or(fields.sendOwnAet), options.listen.value_or(fields.sendListenPort), error);
    if (!settings) {
        env.err << "zet-pelta-cli: " << error << "\n";
    }
    return settings;
}

ExitStatus SendStatus(const engine::PacsTally& tally)
{
    if (!tally.reached) {
        return ExitStatus::NotStarted;
    }
    return tally.confirmed == tally.total ? ExitStatus::Completed : ExitStatus::WithFailures;
}

void PrintSendLines(const engine::PacsTally& tally, const Environment& env)
{
    for (const std::string& problem : tally.problems) {
        env.err << problem << "\n";
    }
    env.out << engine::ConfirmedLine(tally.confirmed, tally.total) << "\n";
}

ExitStatus SendOnlyCli(const Options& options, const engine::SendSettings& settings, const Environment& env)
{
    return SendDestination(*options.sendOnly, settings, false, options, env);
}

ExitStatus ConfirmCli(const std::string& destination, const engine::SendSettings& settings, const Options& options,
    const Environment& env)
{
    return SendDestination(destination, settings, true, options, env);
}

} // namespace cli
