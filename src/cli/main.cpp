#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliMain.h"
#include "support/FileSystem.h"
#include "support/Places.h"
#include "support/StopSignals.h"
#include "support/Terminal.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt()
{
    g_interrupted = 1;
}

} // namespace

int main(int argc, char** argv)
{
    support::WatchConsoleStop(OnInterrupt);
    support::UseUtf8Console();
    const std::vector<std::string> args = support::ProgramArguments(argc, argv);
    const cli::Environment env {support::PlacesOf(support::ProgramFolder()), std::cout, std::cerr,
        support::StderrIsTerminal(), support::StderrColumns(), [] { return g_interrupted != 0; }};
    return static_cast<int>(cli::RunCli(args, env));
}
