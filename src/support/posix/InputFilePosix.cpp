#include "support/InputFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/FileSystem.h"

namespace support {

namespace {

int Fd(FileHandle handle)
{
    return static_cast<int>(handle);
}

} // namespace

void InputFile::Close()
{
    if (Fd(m_handle) >= 0) {
        ::close(Fd(m_handle));
        m_handle = NoFile;
    }
}

std::error_code InputFile::Open(const std::string& path)
{
    // O_NONBLOCK: a FIFO among the files must not block the walk; it is refused just below.
    m_handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (Fd(m_handle) < 0) {
        return LastError();
    }
    struct stat st;
    if (::fstat(Fd(m_handle), &st) != 0) {
        return LastError();
    }
    if (!S_ISREG(st.st_mode)) {
        return FileError::NotARegularFile;
    }
    m_device = static_cast<std::uint64_t>(st.st_dev);
    m_inode = static_cast<std::uint64_t>(st.st_ino);
    m_size = static_cast<std::uint64_t>(st.st_size);
    m_modified = {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    m_opened = true;
    return {};
}

bool InputFile::IsStill(const std::string& path) const
{
    struct stat st;
    return m_opened && ::stat(path.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == m_device
        && static_cast<std::uint64_t>(st.st_ino) == m_inode && static_cast<std::uint64_t>(st.st_size) == m_size
        && st.st_mtim.tv_sec == m_modified.seconds && st.st_mtim.tv_nsec == m_modified.nanoseconds;
}

std::error_code InputFile::Read(std::span<char> buffer, std::size_t& got)
{
    for (;;) {
        const ssize_t n = ::read(Fd(m_handle), buffer.data(), buffer.size());
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return {};
        }
        if (errno != EINTR) {
            got = 0;
            return LastError();
        }
    }
}

std::error_code InputFile::Seek(std::uint64_t offset)
{
    return ::lseek(Fd(m_handle), static_cast<off_t>(offset), SEEK_SET) >= 0 ? std::error_code {} : LastError();
}

} // namespace support
