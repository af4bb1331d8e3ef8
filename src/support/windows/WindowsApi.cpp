#include "support/windows/WindowsApi.h"

#include <cerrno>
#include <filesystem>

namespace support::windows {

std::wstring Wide(std::string_view utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::string Utf8(std::wstring_view wide)
{
    if (wide.empty()) {
        return {};
    }
    const int size
        = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(
        CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::wstring LongPath(const std::string& utf8)
{
    std::wstring path = Wide(utf8);
    if (path.starts_with(L"\\\\?\\") || path.empty()) {
        return path;
    }
    // GetFullPathNameW resolves "." and ".." and the working folder, which "\\?\" paths do not.
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(length);
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2); // a network share
    }
    return L"\\\\?\\" + full;
}

std::error_code ErrorOf(DWORD code)
{
    switch (code) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return std::make_error_code(std::errc::file_exists);
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
        return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return std::make_error_code(std::errc::permission_denied);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return std::make_error_code(std::errc::no_space_on_device);
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_NOT_READY:
        return std::make_error_code(std::errc::io_error); // a disc that struggles: read again later
    case ERROR_LOCK_VIOLATION:
        return std::make_error_code(std::errc::resource_unavailable_try_again);
    case ERROR_DIRECTORY:
        return std::make_error_code(std::errc::not_a_directory);
    case ERROR_DIR_NOT_EMPTY:
        return std::make_error_code(std::errc::directory_not_empty);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return std::make_error_code(std::errc::not_enough_memory);
    case ERROR_TOO_MANY_OPEN_FILES:
        return std::make_error_code(std::errc::too_many_files_open);
    case ERROR_NOT_SUPPORTED:
        return std::make_error_code(std::errc::not_supported);
    default:
        return {static_cast<int>(code), std::system_category()};
    }
}

std::error_code LastError()
{
    return ErrorOf(::GetLastError());
}

namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t EpochDifference = 116444736000000000;

} // namespace

FileTime FromFileTime(const FILETIME& time)
{
    const std::int64_t ticks
        = static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime)
        - EpochDifference;
    std::int64_t seconds = ticks / 10000000;
    std::int64_t rest = ticks % 10000000;
    if (rest < 0) {
        --seconds;
        rest += 10000000;
    }
    return {seconds, rest * 100};
}

FILETIME ToFileTime(const FileTime& time)
{
    const std::uint64_t ticks
        = static_cast<std::uint64_t>(time.seconds * 10000000 + time.nanoseconds / 100 + EpochDifference);
    return {static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}

} // namespace support::windows
