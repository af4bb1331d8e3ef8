#include "support/NativeFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/FileSystem.h"

namespace support::native {

namespace {

int Fd(FileHandle handle)
{
    return static_cast<int>(handle);
}

} // namespace

std::error_code CreateNew(const std::string& path, FileHandle& handle)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        return LastError();
    }
    handle = fd;
    // "Normal attributes": a copy of a disc's read-only file must end writable by its owner.
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        return LastError();
    }
    if ((st.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR)
        && ::fchmod(fd, (st.st_mode & 07777) | S_IRUSR | S_IWUSR) != 0) {
        return LastError();
    }
    return {};
}

std::error_code WriteAll(FileHandle handle, std::string_view bytes)
{
    const char* data = bytes.data();
    std::size_t size = bytes.size();
    while (size > 0) {
        const ssize_t n = ::write(Fd(handle), data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

void SetModified(FileHandle handle, const FileTime& time)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time.seconds, time.nanoseconds}};
    ::futimens(Fd(handle), times);
}

void StartWriteOut(FileHandle handle)
{
    // With delayed allocation, a file first written out by its sync would make each sync of a batch
    // write the journal again; started now, the bytes are on their way when the batch is synced.
    ::sync_file_range(Fd(handle), 0, 0, SYNC_FILE_RANGE_WRITE);
}

std::error_code Close(FileHandle handle)
{
    return ::close(Fd(handle)) == 0 ? std::error_code {} : LastError();
}

std::error_code SyncData(FileHandle handle)
{
    return ::fdatasync(Fd(handle)) == 0 ? std::error_code {} : LastError();
}

std::error_code SyncData(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return LastError();
    }
    const std::error_code error = ::fdatasync(fd) == 0 ? std::error_code {} : LastError();
    ::close(fd); // read only: nothing of the file's is lost with it
    return error;
}

std::error_code Rename(const std::string& from, const std::string& to, Replace replace)
{
    if (replace == Replace::Allowed) {
        return ::rename(from.c_str(), to.c_str()) == 0 ? std::error_code {} : LastError();
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return LastError();
    }
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return {};
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) {
        return LastError();
    }
    // A file system without either: test and rename, the only way left there.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
        return std::make_error_code(std::errc::file_exists);
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? std::error_code {} : LastError();
}

} // namespace support::native
