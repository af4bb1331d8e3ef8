#include "support/StopSignals.h"

#include <chrono>
#include <thread>

#include "support/windows/WindowsApi.h"

namespace support {

namespace {

void (*volatile g_onStop)() = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    g_onStop();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The system ends the process once this returns (or after about five seconds): the run has
        // that long to finish the file in hand and write its report.
        std::this_thread::sleep_for(std::chrono::seconds(4));
    }
    return TRUE;
}

} // namespace

void WatchConsoleStop(void (*onStop)())
{
    g_onStop = onStop;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// The window learns of a logout or shutdown from the system's own messages to it (Qt closes it as
// its user would); there is no descriptor to watch here.
int StopSignalDescriptor()
{
    return -1;
}

} // namespace support
