#include "support/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "support/FileSystem.h"
#include "support/ProcessWatch.h"
#include "support/Sha256.h"

namespace support {

namespace {

std::string RandomHex()
{
    thread_local std::mt19937_64 generator {std::random_device {}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

// Temporary names carry the writing process's tag, so that a later run can tell the leftovers of a
// killed writer from the files a live one is still writing: ".zet-pelta-<host>-<pid>-<random>.part".
std::string TempFileName()
{
    return TempFilePrefix + ProcessTag() + "-" + RandomHex() + ".part";
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::error_code WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
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

// Folders that received a committed file and were not synced since.
struct CommittedFolders
{
    std::mutex lock;
    std::set<std::string> folders;
};

CommittedFolders& Committed()
{
    static CommittedFolders committed;
    return committed;
}

} // namespace

AtomicFile::~AtomicFile()
{
    Discard();
}

void AtomicFile::Discard()
{
    if (m_fd >= 0 && !m_closed) {
        ::close(m_fd);
        m_closed = true;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
}

std::error_code AtomicFile::Create(const std::string& target)
{
    m_target = target;
    const std::string folder = FolderOf(target);
    for (int attempt = 0;; ++attempt) {
        const std::string temp = JoinPath(folder, TempFileName());
        m_fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (m_fd >= 0) {
            m_temp = temp;
            break;
        }
        if (errno != EEXIST || attempt == 16) {
            return LastError();
        }
    }
    // "Normal attributes": a copy of a disc's read-only file must end writable by its owner.
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        return LastError();
    }
    if ((st.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR)
        && ::fchmod(m_fd, (st.st_mode & 07777) | S_IRUSR | S_IWUSR) != 0) {
        return LastError();
    }
    return {};
}

std::error_code AtomicFile::CreateAsCopy(const std::string& source, const std::string& target, Sha256& digest,
    const std::function<void()>& afterChunk, bool* readFailed)
{
    bool ignored = false;
    bool& failed = readFailed != nullptr ? *readFailed : ignored;
    failed = false;
    InputFile in;
    if (auto error = in.Open(source)) {
        failed = true;
        return error;
    }
    if (auto error = Create(target)) {
        return error;
    }
    // One buffer for every copy the thread makes: allocating (and clearing) a fresh one per file cost
    // more than copying a small file.
    thread_local std::string buffer(FilePieceBytes, '\0');
    std::uint64_t copied = 0;
    for (std::size_t got = 0;; copied += got) {
        if (auto error = in.Read(buffer, got)) {
            failed = true;
            return error;
        }
        if (got == 0) {
            break;
        }
        if (auto error = Write(std::string_view(buffer).substr(0, got))) {
            return error;
        }
        digest.Update(std::string_view(buffer).substr(0, got));
        if (afterChunk) {
            afterChunk();
        }
    }
    if (copied < in.SizeAtOpen()) {
        return FileError::SizeChanged; // the source shrank while it was read: a truncated copy
    }
    SetModified(in.ModifiedAtOpen());
    return {};
}

std::error_code AtomicFile::Write(std::string_view bytes)
{
    if (auto error = WriteAll(m_fd, bytes.data(), bytes.size())) {
        return error;
    }
    if (m_head.size() < HeadBytes) {
        m_head.append(bytes.substr(0, HeadBytes - m_head.size()));
    }
    m_written += bytes.size();
    return {};
}

void AtomicFile::SetModified(const struct timespec& time)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, time};
    ::futimens(m_fd, times); // a lost time stamp is no reason to lose the image
}

std::error_code AtomicFile::Close()
{
    if (m_closed) {
        return {};
    }
    m_closed = true;
    // The bytes start on their way to the disk now, so that Sync later finds them written: with delayed
    // allocation, a file first written out by its sync would make each sync of a batch write the
    // journal again. Only a start; what it cannot do, Sync does.
    ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    // Reported here too: on some file systems a failed write only shows at close.
    return ::close(m_fd) == 0 ? std::error_code {} : LastError();
}

std::error_code AtomicFile::Sync()
{
    if (m_synced) {
        return {};
    }
    if (m_temp.empty()) {
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    if (!m_closed) {
        if (::fdatasync(m_fd) != 0) {
            return LastError();
        }
    } else {
        const int fd = ::open(m_temp.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            return LastError();
        }
        const std::error_code error = ::fdatasync(fd) == 0 ? std::error_code {} : LastError();
        ::close(fd); // read only: nothing of the file's is lost with it
        if (error) {
            return error;
        }
    }
    m_synced = true;
    return {};
}

std::error_code AtomicFile::Commit(Replace replace)
{
    if (auto error = Sync()) {
        return error;
    }
    if (auto error = Close()) {
        return error;
    }
    if (auto error = PublishFile(m_temp, m_target, replace)) {
        return error;
    }
    m_temp.clear();
    {
        const std::lock_guard lock(Committed().lock);
        Committed().folders.insert(FolderOf(m_target));
    }
    return {};
}

std::error_code SyncCommittedFolders()
{
    std::set<std::string> folders;
    {
        const std::lock_guard lock(Committed().lock);
        folders.swap(Committed().folders);
    }
    std::error_code first;
    for (const std::string& folder : folders) {
        if (auto error = SyncFolder(folder); error && !first) {
            first = error;
        }
    }
    return first;
}

std::error_code AtomicFile::CommitAs(const std::string& target, Replace replace)
{
    m_target = target;
    return Commit(replace);
}

std::error_code PublishFile(const std::string& temp, const std::string& target, Replace replace)
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

std::size_t RemoveStaleTempFiles(const std::string& folder)
{
    FolderListing listing;
    if (ListFolder(folder, listing)) {
        return 0;
    }
    const std::string_view prefix = TempFilePrefix;
    std::size_t removed = 0;
    for (const std::string& name : listing.files) {
        if (name.starts_with(prefix) && name.ends_with(".part")
            && IsLeftoverOfDeadProcess(std::string_view(name).substr(prefix.size()))
            && ::unlink(JoinPath(folder, name).c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

} // namespace support
