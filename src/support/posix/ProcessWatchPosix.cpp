#include "support/ProcessWatchNative.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace support::native {

std::string HostName()
{
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

long ProcessId()
{
    return static_cast<long>(::getpid());
}

bool ProcessGone(long pid)
{
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace support::native
