#include "support/AppendFile.h"

#include <algorithm>

#include "support/windows/WindowsApi.h"

namespace support {

AppendFile::~AppendFile()
{
    Close();
}

std::error_code AppendFile::CreateNew(const std::string& path)
{
    Close();
    // Appending only: every write lands at the end, as one piece, also when others append too.
    const HANDLE file = ::CreateFileW(windows::LongPath(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return windows::LastError();
    }
    m_handle = reinterpret_cast<FileHandle>(file);
    return {};
}

std::error_code AppendFile::OpenOrCreate(const std::string& path, bool& created)
{
    Close();
    const HANDLE file = ::CreateFileW(windows::LongPath(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return windows::LastError();
    }
    created = ::GetLastError() != ERROR_ALREADY_EXISTS;
    m_handle = reinterpret_cast<FileHandle>(file);
    return {};
}

std::error_code AppendFile::Write(std::string_view bytes)
{
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(reinterpret_cast<HANDLE>(m_handle), bytes.data(), chunk, &written, nullptr)) {
            return windows::LastError();
        }
        bytes.remove_prefix(written);
    }
    return {};
}

std::error_code AppendFile::Sync()
{
    return ::FlushFileBuffers(reinterpret_cast<HANDLE>(m_handle)) ? std::error_code {} : windows::LastError();
}

std::error_code AppendFile::Close()
{
    if (m_handle == NoFile) {
        return {};
    }
    const HANDLE file = reinterpret_cast<HANDLE>(m_handle);
    m_handle = NoFile;
    return ::CloseHandle(file) ? std::error_code {} : windows::LastError();
}

} // namespace support
