#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

enum ExitStatus : int {
    ExitCompleted = 0, // the run ended and every selected file was migrated (or left out by the "." rule)
    ExitWithFailures = 1, // the run ended, but at least one file or folder failed or was rejected
    ExitNotStarted = 2, // a check failed, or the command line was wrong
    ExitInterrupted = 130,
};

struct Options
{
    std::optional<std::string> pacs;
    std::optional<std::string> source;
    std::optional<std::string> dest;
    std::optional<std::string> temp;
    std::optional<std::string> verify; // a destination to check against every run report that wrote into it
    bool debug = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name; on a usage error returns nullopt and sets error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

struct Environment
{
    std::string programFolder;
    std::ostream& out;
    std::ostream& err;
    bool stderrIsTerminal = false;
    int columns = 80;
    std::function<bool()> interrupted; // Ctrl+C seen
};

// One migration as the window's "Migrieren" runs it; options left out come from Settings.ini in the
// program folder, which is never written. Returns the process's exit status.
int RunCli(const std::vector<std::string>& args, const Environment& env);

std::string UsageText(const std::string& programFolder);

} // namespace cli
