#pragma once

// Shared by the Windows platform files only: wide-character paths and the system's error codes.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The system's headers name their calls by macros; one of them is also a function of support's.
#undef DeleteFile

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "support/InputFile.h"

namespace support::windows {

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
// A path for the wide-character file calls: absolute, with backslashes, and "\\?\" in front, so that
// it may be longer than 260 characters and may end in a dot or a space as a disc's names can.
std::wstring LongPath(const std::string& utf8);
// The error of the last failed call, as the generic condition callers compare (file_exists, ...)
// where there is one, so that the engine reads the same verdicts on every system.
std::error_code LastError();
std::error_code ErrorOf(DWORD code);

// A handle closed on every path out of its scope.
class Handle
{
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE)
        : m_handle(handle)
    { }
    ~Handle()
    {
        if (Valid()) {
            ::CloseHandle(m_handle);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// The system's handle behind support's FileHandle.
inline HANDLE Native(FileHandle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// FILETIME (100 ns since 1601) to and from the Unix epoch, to the nanosecond.
FileTime FromFileTime(const FILETIME& time);
FILETIME ToFileTime(const FileTime& time);

} // namespace support::windows
