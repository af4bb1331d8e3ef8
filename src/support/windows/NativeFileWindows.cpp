#include "support/NativeFile.h"

#include <algorithm>

#include "support/windows/WindowsApi.h"

namespace support::native {

std::error_code CreateNew(const std::string& path, FileHandle& handle)
{
    // Others may read it (a second program checking the destination) but not write it. Created with
    // normal attributes: a copy of a disc's read-only file must end writable.
    const HANDLE file = ::CreateFileW(windows::LongPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return windows::LastError();
    }
    handle = reinterpret_cast<FileHandle>(file);
    return {};
}

std::error_code WriteAll(FileHandle handle, std::string_view bytes)
{
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(windows::Native(handle), bytes.data(), chunk, &written, nullptr)) {
            return windows::LastError();
        }
        bytes.remove_prefix(written);
    }
    return {};
}

void SetModified(FileHandle handle, const FileTime& time)
{
    const FILETIME modified = windows::ToFileTime(time);
    ::SetFileTime(windows::Native(handle), nullptr, nullptr, &modified);
}

void StartWriteOut(FileHandle)
{
    // Windows has no call that starts writing a file out without waiting for it; Sync does it all.
}

std::error_code Close(FileHandle handle)
{
    return ::CloseHandle(windows::Native(handle)) ? std::error_code {} : windows::LastError();
}

std::error_code SyncData(FileHandle handle)
{
    return ::FlushFileBuffers(windows::Native(handle)) ? std::error_code {} : windows::LastError();
}

std::error_code SyncData(const std::string& path)
{
    // Flushing needs a handle that may write, though nothing is written through it.
    const windows::Handle file(::CreateFileW(windows::LongPath(path).c_str(), GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return windows::LastError();
    }
    return ::FlushFileBuffers(file.Get()) ? std::error_code {} : windows::LastError();
}

std::error_code Rename(const std::string& from, const std::string& to, Replace replace)
{
    // Without MOVEFILE_REPLACE_EXISTING an existing target fails the move itself, atomically. Written
    // through: the new name is on the disk when the call returns (a folder cannot be synced here).
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace == Replace::Allowed ? MOVEFILE_REPLACE_EXISTING : 0);
    if (::MoveFileExW(windows::LongPath(from).c_str(), windows::LongPath(to).c_str(), flags)) {
        return {};
    }
    return windows::LastError();
}

} // namespace support::native
