#include "cli/CliMain.h"

#include "engine/common/Texts.h"
#include "engine/records/RunsFolder.h"
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

} // namespace

std::optional<engine::SendSettings> SendSettingsOf(const Options& options, const Environment& env)
{
    const support::Settings fields = support::LoadSettings(support::SettingsFilePath(env.places.settings));
    engine::SendTexts texts = engine::SendTextsOf(fields);
    // "--send" alone takes the node Settings.ini names, as the window does.
    if (options.send && !options.send->empty()) {
        texts.node = *options.send;
    }
    if (texts.node.empty()) {
        env.err << "zet-pelta-cli: --send ohne Knoten, und Settings.ini nennt in [Senden] keinen "
                   "(Knoten=AET@RECHNER:PORT).\n";
        return std::nullopt;
    }
    texts.ownAet = options.aet ? std::string_view(*options.aet) : texts.ownAet;
    texts.listenPort = options.listen ? std::string_view(*options.listen) : texts.listenPort;
    texts.connections = options.connections ? std::string_view(*options.connections) : texts.connections;
    std::string error;
    auto settings = engine::MakeSendSettings(texts, error);
    if (!settings) {
        env.err << "zet-pelta-cli: " << error << "\n";
    }
    return settings;
}

ExitStatus SendStatus(const engine::PacsTally& tally)
{
    if (!tally.reached) {
        return ExitStatus::NotSent;
    }
    return tally.confirmed == tally.total ? ExitStatus::Completed : ExitStatus::NotConfirmed;
}

void PrintSendProblems(const engine::PacsTally& tally, const Environment& env)
{
    for (const std::string& problem : tally.problems) {
        env.err << problem << "\n";
    }
}

ExitStatus SendFolder(const std::string& destination, const engine::SendSettings& settings, engine::SendMode mode,
    const Options& options, const Environment& env)
{
    if (!support::FolderExists(destination)) {
        env.err << "zet-pelta-cli: Ordner " << support::ShownPath(destination) << " gibt es nicht.\n";
        return ExitStatus::NotStarted;
    }
    const engine::SendPlan plan
        = engine::PlanOfDestination(engine::RunsFolder(env.places.logs), destination, settings.node);
    if (plan.items.empty()) {
        env.out << "In " << support::ShownPath(destination) << " liegen keine Bilder, die ein PACS aufnimmt.\n";
        return ExitStatus::NotStarted;
    }
    const support::Log log(env.places.logs, [&options] { return options.debug; });
    const engine::PacsTally tally
        = engine::SendPlanned(settings, plan, mode, log, LiveProgress(options, settings, env), env.interrupted);
    EndLiveProgress(options, env);
    PrintSendProblems(tally, env);
    env.out << engine::texts::ConfirmedLine(tally.confirmed, tally.total) << "\n";
    if (tally.unreported > 0) {
        env.out << engine::texts::UnreportedLine(tally.unreported) << "\n";
    }
    return env.interrupted() ? ExitStatus::Interrupted : SendStatus(tally);
}

} // namespace cli
