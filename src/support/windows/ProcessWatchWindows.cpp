#include "support/ProcessWatchNative.h"

#include "support/windows/WindowsApi.h"

namespace support::native {

std::string HostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ::GetComputerNameW(name, &size);
    return windows::Utf8(std::wstring_view(name, size));
}

long ProcessId()
{
    return static_cast<long>(::GetCurrentProcessId());
}

bool ProcessGone(long pid)
{
    const windows::Handle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    if (!process.Valid()) {
        // No such process; one that runs under another user refuses us instead, and counts as running.
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    }
    return ::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0; // ended, its handle still held
}

} // namespace support::native
