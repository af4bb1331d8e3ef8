#include "support/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <locale.h>
#include <memory>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

// The POSIX side of the file-system service: the calls that differ between systems.
namespace support {

std::error_code LastError()
{
    return {errno, std::generic_category()};
}

std::string ErrorDescription(const std::error_code& error)
{
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        if (cLocale) {
            return strerror_l(error.value(), cLocale);
        }
    }
    return error.message();
}

std::string ProgramFolder()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path()) {
        return exe.parent_path().string();
    }
    // No /proc: the path the program was started by, made absolute.
    const auto invoked = std::filesystem::absolute(program_invocation_name, ec);
    return ec ? std::string(".") : invoked.parent_path().string();
}

bool FolderExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::error_code CheckFolder(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return LastError();
    }
    return S_ISDIR(st.st_mode) ? std::error_code {} : std::make_error_code(std::errc::not_a_directory);
}

bool IsRealFolder(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool IsOwnerWritable(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) != 0;
}

std::error_code CreateFolder(const std::string& path)
{
    return ::mkdir(path.c_str(), 0777) == 0 ? std::error_code {} : LastError();
}

std::error_code DeleteFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 ? std::error_code {} : LastError();
}

std::error_code RemoveTree(const std::string& path)
{
    std::error_code error;
    std::filesystem::remove_all(PathOf(path), error);
    return error;
}

std::error_code ListFolder(const std::string& path, FolderListing& listing)
{
    listing = {};
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir) {
        return LastError();
    }
    const int dirFd = ::dirfd(dir.get());
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0) {
                return LastError();
            }
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        unsigned char type = entry->d_type;
        struct stat st;
        if (type == DT_UNKNOWN) {
            if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                listing.files.push_back(name); // vanished or unreadable: the copy will say why
                continue;
            }
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        if (type == DT_DIR) {
            listing.folders.push_back(name);
        } else if (type == DT_LNK && ::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode)) {
            listing.linkedFolders.push_back(name);
        } else {
            listing.files.push_back(name);
        }
    }
    std::sort(listing.files.begin(), listing.files.end());
    std::sort(listing.folders.begin(), listing.folders.end());
    std::sort(listing.linkedFolders.begin(), listing.linkedFolders.end());
    return {};
}

std::optional<FileIdentity> IdentityOf(const std::string& path)
{
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileIdentity {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<std::uint64_t> FreeSpace(const std::string& path)
{
    struct statvfs info;
    if (::statvfs(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

namespace {

// A sync call on the folder's own descriptor.
std::error_code OnFolder(const std::string& path, int (*sync)(int))
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return LastError();
    }
    const std::error_code error = sync(fd) == 0 ? std::error_code {} : LastError();
    ::close(fd);
    return error;
}

} // namespace

std::error_code SyncFolder(const std::string& path)
{
    return OnFolder(path, ::fsync);
}

std::error_code SyncFileSystem(const std::string& folder)
{
    return OnFolder(folder, ::syncfs);
}

std::error_code RemoveEmptyFolder(const std::string& path)
{
    return ::rmdir(path.c_str()) == 0 ? std::error_code {} : LastError();
}

std::optional<std::uint64_t> FileSize(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<FileStamp> StampOf(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileStamp {{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)},
        static_cast<std::uint64_t>(st.st_size), std::int64_t {st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace support
