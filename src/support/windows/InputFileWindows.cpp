#include "support/InputFile.h"

#include <algorithm>

#include "support/FileSystem.h"
#include "support/windows/WindowsApi.h"

namespace support {

namespace {

// What tells a file apart on Windows: its volume, its index there, its size and its time.
struct Facts
{
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    FileTime modified;
    bool folder = false;
};

bool FactsOf(HANDLE file, Facts& facts)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file, &info)) {
        return false;
    }
    facts.volume = info.dwVolumeSerialNumber;
    facts.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    facts.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts.modified = windows::FromFileTime(info.ftLastWriteTime);
    facts.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

} // namespace

void InputFile::Close()
{
    if (m_handle != NoFile) {
        ::CloseHandle(windows::Native(m_handle));
        m_handle = NoFile;
    }
}

std::error_code InputFile::Open(const std::string& path)
{
    // Others may go on reading, writing or removing it: a reader must not stand in anyone's way.
    const HANDLE file = ::CreateFileW(windows::LongPath(path).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
        nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(windows::LongPath(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return FileError::NotARegularFile; // a folder does not open as a file here at all
        }
        return windows::ErrorOf(code);
    }
    m_handle = reinterpret_cast<FileHandle>(file);
    Facts facts;
    if (!FactsOf(file, facts)) {
        return windows::LastError();
    }
    if (facts.folder || ::GetFileType(file) != FILE_TYPE_DISK) {
        return FileError::NotARegularFile;
    }
    m_device = facts.volume;
    m_inode = facts.index;
    m_size = facts.size;
    m_modified = facts.modified;
    m_opened = true;
    return {};
}

bool InputFile::IsStill(const std::string& path) const
{
    if (!m_opened) {
        return false;
    }
    const windows::Handle file(::CreateFileW(windows::LongPath(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
        nullptr));
    Facts facts;
    return file.Valid() && FactsOf(file.Get(), facts) && facts.volume == m_device && facts.index == m_inode
        && facts.size == m_size && facts.modified == m_modified;
}

std::error_code InputFile::Read(std::span<char> buffer, std::size_t& got)
{
    DWORD read = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
    got = 0;
    if (!::ReadFile(windows::Native(m_handle), buffer.data(), wanted, &read, nullptr)) {
        return windows::LastError();
    }
    got = read;
    return {};
}

std::error_code InputFile::Seek(std::uint64_t offset)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(windows::Native(m_handle), to, nullptr, FILE_BEGIN) ? std::error_code {} : windows::LastError();
}

} // namespace support
