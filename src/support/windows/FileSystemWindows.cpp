#include "support/FileSystem.h"

#include <algorithm>
#include <cstring>

#include "support/windows/WindowsApi.h"

// The Windows side of the file-system service: wide-character calls on "\\?\" paths, so that names
// with umlauts and paths beyond 260 characters work as they do elsewhere.
namespace support {

namespace {

// The attributes at path, without following a link at its end; nothing when it is not there.
bool AttributesOf(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data)
{
    return !path.empty() && ::GetFileAttributesExW(windows::LongPath(path).c_str(), GetFileExInfoStandard, &data);
}

bool IsFolder(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The facts of the file or folder at path, following links as the POSIX side's stat does.
bool InfoOf(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    const windows::Handle file(::CreateFileW(windows::LongPath(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
        nullptr));
    return file.Valid() && ::GetFileInformationByHandle(file.Get(), &info);
}

std::uint64_t Join(DWORD high, DWORD low)
{
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

} // namespace

std::error_code LastError()
{
    return windows::LastError();
}

std::string ErrorDescription(const std::error_code& error)
{
    if (error.category() == std::generic_category()) {
        return std::strerror(error.value()); // the C runtime's English texts
    }
    return error.message();
}

std::string ProgramFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return ".";
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return Utf8Of(std::filesystem::path(path).parent_path());
}

bool FolderExists(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info;
    return !path.empty() && InfoOf(path, info) && IsFolder(info.dwFileAttributes);
}

std::error_code CheckFolder(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(path, info)) {
        return windows::LastError();
    }
    return IsFolder(info.dwFileAttributes) ? std::error_code {} : std::make_error_code(std::errc::not_a_directory);
}

bool IsRealFolder(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return AttributesOf(path, data) && IsFolder(data.dwFileAttributes) && !IsLink(data.dwFileAttributes);
}

bool PathExists(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return AttributesOf(path, data);
}

bool IsOwnerWritable(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return AttributesOf(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
}

std::error_code CreateFolder(const std::string& path)
{
    return ::CreateDirectoryW(windows::LongPath(path).c_str(), nullptr) ? std::error_code {} : windows::LastError();
}

std::error_code DeleteFile(const std::string& path)
{
    return ::DeleteFileW(windows::LongPath(path).c_str()) ? std::error_code {} : windows::LastError();
}

// By Windows' own calls on the long form of each path: the standard library's remove_all uses the
// plain form, which ends at 260 characters, and with MinGW's runtime never came back from a deeper
// work folder. A link to a folder is removed, never followed.
std::error_code RemoveTree(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!AttributesOf(path, data)) {
        const DWORD code = ::GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? std::error_code {}
                                                                            : windows::ErrorOf(code);
    }
    if (!IsFolder(data.dwFileAttributes)) {
        return DeleteFile(path);
    }
    if (!IsLink(data.dwFileAttributes)) {
        FolderListing listing;
        if (const auto error = ListFolder(path, listing)) {
            return error;
        }
        for (const auto* names : {&listing.files, &listing.folders, &listing.linkedFolders}) {
            for (const std::string& name : *names) {
                if (const auto error = RemoveTree(JoinPath(path, name))) {
                    return error;
                }
            }
        }
    }
    return RemoveEmptyFolder(path);
}

std::error_code ListFolder(const std::string& path, FolderListing& listing)
{
    listing = {};
    WIN32_FIND_DATAW entry;
    const HANDLE find = ::FindFirstFileExW(
        windows::LongPath(JoinPath(path, "*")).c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (AttributesOf(path, data) && !IsFolder(data.dwFileAttributes)) {
            return std::make_error_code(std::errc::not_a_directory); // systems differ in what they say here
        }
        return windows::ErrorOf(code);
    }
    do {
        const std::string name = windows::Utf8(entry.cFileName);
        if (name == "." || name == "..") {
            continue;
        }
        const DWORD attributes = entry.dwFileAttributes;
        if (IsFolder(attributes) && !IsLink(attributes)) {
            listing.folders.push_back(name);
        } else if (IsFolder(attributes)) {
            listing.linkedFolders.push_back(name); // a junction or a link to a folder: never followed
        } else {
            listing.files.push_back(name);
        }
    } while (::FindNextFileW(find, &entry));
    const DWORD ended = ::GetLastError();
    ::FindClose(find);
    if (ended != ERROR_NO_MORE_FILES) {
        return windows::ErrorOf(ended);
    }
    std::sort(listing.files.begin(), listing.files.end());
    std::sort(listing.folders.begin(), listing.folders.end());
    std::sort(listing.linkedFolders.begin(), listing.linkedFolders.end());
    return {};
}

std::optional<FileIdentity> IdentityOf(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (path.empty() || !InfoOf(path, info)) {
        return std::nullopt;
    }
    return FileIdentity {info.dwVolumeSerialNumber, Join(info.nFileIndexHigh, info.nFileIndexLow)};
}

std::optional<std::uint64_t> FreeSpace(const std::string& path)
{
    ULARGE_INTEGER available;
    if (!::GetDiskFreeSpaceExW(windows::LongPath(path).c_str(), &available, nullptr, nullptr)) {
        return std::nullopt;
    }
    return available.QuadPart;
}

std::error_code SyncFolder(const std::string&)
{
    // Renames are written through as they are made (see NativeFileWindows.cpp); a folder itself
    // cannot be flushed here.
    return {};
}

std::error_code SyncFileSystem(const std::string&)
{
    // A whole volume is flushed only with administrator rights: each file is flushed by itself.
    return std::make_error_code(std::errc::function_not_supported);
}

std::error_code RemoveEmptyFolder(const std::string& path)
{
    return ::RemoveDirectoryW(windows::LongPath(path).c_str()) ? std::error_code {} : windows::LastError();
}

std::optional<std::uint64_t> FileSize(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(path, info)) {
        return std::nullopt;
    }
    return Join(info.nFileSizeHigh, info.nFileSizeLow);
}

std::optional<FileStamp> StampOf(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(path, info)) {
        return std::nullopt;
    }
    const FileTime modified = windows::FromFileTime(info.ftLastWriteTime);
    return FileStamp {{info.dwVolumeSerialNumber, Join(info.nFileIndexHigh, info.nFileIndexLow)},
        Join(info.nFileSizeHigh, info.nFileSizeLow), modified.seconds * 1000000000 + modified.nanoseconds};
}

} // namespace support
