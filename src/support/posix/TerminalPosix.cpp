#include "support/Terminal.h"

#include <algorithm>
#include <cstdlib>

#include <sys/ioctl.h>
#include <unistd.h>

namespace support {

bool StderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

int StderrColumns()
{
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + std::min(argc, 1), argv + argc); // UTF-8 already
}

void UseUtf8Console() {} // terminals here take UTF-8

void SetEnvironmentValue(const std::string& name, const std::string& value)
{
    ::setenv(name.c_str(), value.c_str(), 1);
}

} // namespace support
