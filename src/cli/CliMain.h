#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "engine/send/SendPlan.h"
#include "support/Mounts.h"
#include "support/Places.h"

namespace cli {

// Stored in scripts that migrate a stack of discs: a retry must be able to tell a run that did not start
// (2) from one whose images only wait for the PACS (3, 4), or it migrates a disc twice.
enum class ExitStatus : int {
    Completed = 0, // the run ended and every selected file was migrated (or left out by the "." rule)
    WithFailures = 1, // the run ended, but at least one file or folder failed or was rejected
    NotStarted = 2, // a check failed, or the command line was wrong
    NotConfirmed = 3, // migrated, but not every image of the folder is confirmed by the PACS
    NotSent = 4, // migrated, but nothing could be sent: the PACS was not reached, or refused us
    Interrupted = 130,
};
// The status of two parts of one call (a run and its send, a verification and its check at the node):
// a stop, then a start that failed, then the run's failures, then the send's.
ExitStatus Worse(ExitStatus a, ExitStatus b);

struct Options
{
    std::optional<std::string> pacs;
    std::optional<std::string> source;
    std::optional<std::string> dest;
    std::optional<std::string> temp;
    std::optional<std::string> verify; // a destination to check against every run report that wrote into it
    std::optional<std::string> discs; // --discs: the journal, of one destination when given ("" for all)
    std::optional<std::string> send; // a DICOM node, "AET@HOST:PORT", to send the images to; "": Settings.ini's
    std::optional<std::string> sendOnly; // a destination whose reported images are sent, without a run
    std::optional<std::string> aet; // our own AE title
    std::optional<std::string> listen; // the port of our listener for the node's commitment reports
    std::optional<std::string> connections; // associations with the node at most
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
// For --verify: no run report wrote into the destination.
void PrintNoReport(const std::string& destination, const Environment& env);
// Sending to a DICOM node (--send, --send-only, --verify with --send); in SendCli.cpp. The node's
// settings from the options, Settings.ini filling in what they leave out (the node too, for "--send"
// alone); nullopt after telling err why they are wrong.
std::optional<engine::SendSettings> SendSettingsOf(const Options& options, const Environment& env);
// Sends every image of the folder (SendMode::ConfirmOnly: asks the node about each), then prints what
// did not arrive on err and the confirmed count on out.
ExitStatus SendFolder(const std::string& destination, const engine::SendSettings& settings, engine::SendMode mode,
    const Options& options, const Environment& env);
// The exit status after a send: 4 when nothing could be sent, 3 when not every image is confirmed.
ExitStatus SendStatus(const engine::PacsTally& tally);
// The node's faults and the images that did not arrive, on err.
void PrintSendProblems(const engine::PacsTally& tally, const Environment& env);

} // namespace cli
