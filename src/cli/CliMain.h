#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

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

} // namespace cli
