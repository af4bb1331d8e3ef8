#include "support/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>

namespace support {

namespace {

int g_write = -1;
void (*volatile g_onStop)() = nullptr;

extern "C" void OnStopSignal(int)
{
    const char byte = 1;
    // Only an async-signal-safe call here; a full pipe already says it all.
    [[maybe_unused]] const auto ignored = ::write(g_write, &byte, 1);
}

int MakeDescriptor()
{
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        return -1;
    }
    g_write = ends[1];
    struct sigaction action
    { };
    action.sa_handler = OnStopSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        ::sigaction(signal, &action, nullptr);
    }
    return ends[0];
}

} // namespace

void WatchConsoleStop(void (*onStop)())
{
    g_onStop = onStop;
    for (const int signal : {SIGINT, SIGTERM}) {
        std::signal(signal, [](int) { g_onStop(); });
    }
}

int StopSignalDescriptor()
{
    static const int descriptor = MakeDescriptor();
    return descriptor;
}

} // namespace support
