#include "support/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <limits.h>
#include <locale.h>
#include <memory>
#include <random>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace support {

namespace {

std::error_code LastError()
{
    return {errno, std::generic_category()};
}

class FileErrorCategoryImpl : public std::error_category
{
public:
    const char* name() const noexcept override { return "zet-pelta file"; }
    std::string message(int value) const override
    {
        switch (static_cast<FileError>(value)) {
        case FileError::NotARegularFile:
            return "Not a regular file.";
        case FileError::SizeChanged:
            return "File changed its size while it was copied.";
        }
        return "Unknown file error.";
    }
};

// Closes on every path out of a function, so no handle stays open after an error.
class Fd
{
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    { }
    ~Fd()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void Reset(int fd)
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }
    // Closes now and reports what close said: on some file systems a failed write shows only here.
    std::error_code Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 ? std::error_code {} : LastError();
    }

private:
    int m_fd;
};

std::string RandomHex()
{
    thread_local std::mt19937_64 generator {std::random_device {}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::error_code CopyBytes(int in, int out, std::uint64_t& copied)
{
    copied = 0;
    // In-kernel copy first; some file systems (and cross-device pairs on older kernels) refuse it,
    // and then the plain read/write loop takes over from where it stopped.
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n > 0) {
            copied += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n == 0) {
            return {};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF) {
            break;
        }
        return LastError();
    }
    auto buffer = std::make_unique<char[]>(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.get(), 1 << 20);
        if (n == 0) {
            return {};
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(out, buffer.get() + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return LastError();
            }
            done += w;
        }
        copied += static_cast<std::uint64_t>(n);
    }
}

// Moves the finished temporary file to its name. Without replacing, the name must not exist: the
// kernel checks that atomically where the file system supports it, a hard link does it elsewhere.
std::error_code Publish(const std::string& temp, const std::string& target, Replace replace)
{
    if (replace == Replace::Allowed) {
        return ::rename(temp.c_str(), target.c_str()) == 0 ? std::error_code {} : LastError();
    }
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return LastError();
    }
    if (::link(temp.c_str(), target.c_str()) == 0) {
        ::unlink(temp.c_str());
        return {};
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) {
        return LastError();
    }
    // A file system without either: test and rename, the only way left there.
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0) {
        return std::make_error_code(std::errc::file_exists);
    }
    return ::rename(temp.c_str(), target.c_str()) == 0 ? std::error_code {} : LastError();
}

} // namespace

const std::error_category& FileErrorCategory()
{
    static const FileErrorCategoryImpl category;
    return category;
}

std::error_code make_error_code(FileError e)
{
    return {static_cast<int>(e), FileErrorCategory()};
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

int ErrorNumber(const std::error_code& error)
{
    const bool fromSystem = error.category() == std::generic_category() || error.category() == std::system_category();
    return fromSystem ? error.value() : -1;
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

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

bool FolderExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRealFolder(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
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

std::error_code RemoveTree(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return ec;
}

std::error_code DeleteFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 ? std::error_code {} : LastError();
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

std::error_code CopyFileAtomic(const std::string& source, const std::string& target, Replace replace)
{
    // O_NONBLOCK: a FIFO among the files must not block the walk; it is refused just below.
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (in.get() < 0) {
        return LastError();
    }
    struct stat sourceStat;
    if (::fstat(in.get(), &sourceStat) != 0) {
        return LastError();
    }
    if (!S_ISREG(sourceStat.st_mode)) {
        return FileError::NotARegularFile;
    }

    const std::string folder = FolderOf(target);
    std::string temp;
    Fd out;
    for (int attempt = 0; out.get() < 0; ++attempt) {
        temp = JoinPath(folder, TempFilePrefix + RandomHex() + ".part");
        out.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
        if (out.get() < 0 && (errno != EEXIST || attempt == 16)) {
            return LastError();
        }
    }

    auto fail = [&temp](std::error_code error) {
        ::unlink(temp.c_str());
        return error;
    };

    std::uint64_t copied = 0;
    if (auto error = CopyBytes(in.get(), out.get(), copied)) {
        return fail(error);
    }
    if (copied < static_cast<std::uint64_t>(sourceStat.st_size)) {
        return fail(FileError::SizeChanged);
    }
    struct stat targetStat;
    if (::fstat(out.get(), &targetStat) != 0) {
        return fail(LastError());
    }
    if ((targetStat.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR)
        && ::fchmod(out.get(), (targetStat.st_mode & 07777) | S_IRUSR | S_IWUSR) != 0) {
        return fail(LastError());
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, sourceStat.st_mtim};
    ::futimens(out.get(), times); // a lost time stamp is no reason to lose the image
    if (auto error = out.Close()) {
        return fail(error);
    }
    if (auto error = Publish(temp, target, replace)) {
        return fail(error);
    }
    return {};
}

} // namespace support
