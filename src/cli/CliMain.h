#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "engine/send/PacsRecords.h"
#include "support/Mounts.h"
#include "support/Places.h"

namespace cli {

enum class ExitStatus : int {
    Completed = 0, // the run ended and every selected file was migrated (or left out by the "." rule)
    WithFailures = 1, // the run ended, but at least one file or folder failed or was rejected
    NotStarted = 2, // a check failed, or the command line was wrong
    Interrupted = 130,
};

struct Options
{
    std::optional<std::string> pacs;
    std::optional<std::string> source;
    std::optional<std::string> dest;
    std::optional<std::string> temp;
    std::optional<std::string> verify; // a destination to check against every run report that wrote into it
    std::optional<std::string> discs; // --discs: the journal, of one destination when given ("" for all)
    std::optional<std::string> send; // a DICOM node, "AET@HOST:PORT", to send the images to
    std::optional<std::string> sendOnly; // a destination whose reported images are sent, without a run
    std::optional<std::string> aet; // our own AE title
    std::optional<std::string> listen; // the port of our listener for the node's commitment reports
    bool csv = false; // --discs as CSV
    bool onlyMissing = false;
    bool watch = false;
    bool debug = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name; on a usage error returns nullopt and sets error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

struct Environment
{
    support::Places places; // of Settings.ini and Logs/
    std::ostream& out;
    std::ostream& err;
    bool stderrIsTerminal = false;
    int columns = 80;
    std::function<bool()> interrupted; // Ctrl+C seen
    // Opens an optical drive's tray after --watch migrated its disc; none: support::EjectDisc.
    std::function<std::error_code(const support::Mount& disc)> eject = {};
    std::chrono::milliseconds watchInterval {1000}; // how often --watch looks for a new disc
};

// One migration as the window's "Migrieren" runs it; options left out come from Settings.ini in the
// program folder, which is never written. Returns the process's exit status.
ExitStatus RunCli(const std::vector<std::string>& args, const Environment& env);

std::string UsageText(const support::Places& places);

// The journal of the discs as a table or CSV (--discs), and the loop that migrates every disc that
// is mounted at or below the source folder (--watch); in DiscsCli.cpp.
ExitStatus DiscsCli(const Options& options, const Environment& env);
ExitStatus WatchCli(const Options& options, const Environment& env);
// One migration with the options and Settings.ini, as "Migrieren" runs it; source replaces the
// source folder when given.
ExitStatus MigrateOnce(const Options& options, const Environment& env, const std::optional<std::string>& source = {});
// For --verify and --send-only: no run report wrote into the destination.
void PrintNoReport(const std::string& destination, const Environment& env);
// Sending to a DICOM node (--send, --send-only, --verify with --send); in SendCli.cpp. The node's
// settings from the options, Settings.ini filling in what they leave out; nullopt after telling err why
// they are wrong.
std::optional<engine::SendSettings> SendSettingsOf(const Options& options, const Environment& env);
ExitStatus SendOnlyCli(const Options& options, const engine::SendSettings& settings, const Environment& env);
// Asks the node about every image of the destination's reports, after a --verify.
ExitStatus ConfirmCli(
    const std::string& destination, const engine::SendSettings& settings, const Options& options, const Environment& env);
// The exit status after a send: 2 when nothing could be sent, 1 when not every image is confirmed.
ExitStatus SendStatus(const engine::PacsTally& tally);
// The lines after a send: every image that did not arrive on err, then the confirmed count on out.
void PrintSendLines(const engine::PacsTally& tally, const Environment& env);

} // namespace cli
