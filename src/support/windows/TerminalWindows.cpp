#include "support/Terminal.h"

#include <cstdio>
#include <cstdlib>
#include <io.h>

#include "support/windows/WindowsApi.h"

#include <shellapi.h>

namespace support {

bool StderrIsTerminal()
{
    DWORD mode = 0;
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (!::GetConsoleMode(error, &mode)) {
        return false;
    }
    // The progress line moves the cursor with escape sequences, which a console shows only with
    // virtual-terminal processing on.
    return ::SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int StderrColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 80;
}

std::vector<std::string> ProgramArguments(int, char**)
{
    // The narrow arguments are in the system's code page; the wide ones have every character.
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i) {
        arguments.push_back(windows::Utf8(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

void UseUtf8Console()
{
    ::SetConsoleOutputCP(CP_UTF8);
}

// The C runtime's copy, which getenv reads (SetEnvironmentVariable would not reach it).
void SetEnvironmentValue(const std::string& name, const std::string& value)
{
    ::_putenv_s(name.c_str(), value.c_str());
}

} // namespace support
