#include "support/FileLock.h"

#include "support/windows/WindowsApi.h"

namespace support {

namespace {

OVERLAPPED At(std::uint64_t slot)
{
    OVERLAPPED at {};
    at.Offset = static_cast<DWORD>(slot & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(slot >> 32);
    return at;
}

} // namespace

// Byte-range locks of the handle: two holders in one process exclude each other, and the system drops
// them when the process ends, however it ends.
FileLock::~FileLock()
{
    Unlock();
    if (m_handle != NoFile) {
        ::CloseHandle(windows::Native(m_handle));
    }
}

std::error_code FileLock::Lock(const std::string& path, std::uint64_t slot, Mode mode)
{
    Unlock();
    if (m_handle != NoFile && path != m_path) {
        ::CloseHandle(windows::Native(m_handle));
        m_handle = NoFile;
    }
    if (m_handle == NoFile) {
        const HANDLE file = ::CreateFileW(windows::LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
            nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return windows::LastError();
        }
        m_handle = reinterpret_cast<FileHandle>(file);
        m_path = path;
    }
    OVERLAPPED at = At(slot);
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (mode == Mode::Try ? LOCKFILE_FAIL_IMMEDIATELY : 0);
    if (!::LockFileEx(windows::Native(m_handle), flags, 0, 1, 0, &at)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
            return std::make_error_code(std::errc::resource_unavailable_try_again);
        }
        return windows::ErrorOf(code);
    }
    m_slot = slot;
    m_held = true;
    return {};
}

void FileLock::Unlock()
{
    if (m_held) {
        OVERLAPPED at = At(m_slot);
        ::UnlockFileEx(windows::Native(m_handle), 0, 1, 0, &at);
        m_held = false;
    }
}

} // namespace support
