#include "support/AppendFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "support/FileSystem.h"

namespace support {

AppendFile::~AppendFile()
{
    Close();
}

std::error_code AppendFile::CreateNew(const std::string& path)
{
    Close();
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOCTTY, 0666);
    return m_fd >= 0 ? std::error_code {} : LastError();
}

std::error_code AppendFile::Write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

std::error_code AppendFile::Sync()
{
    return ::fdatasync(m_fd) == 0 ? std::error_code {} : LastError();
}

std::error_code AppendFile::Close()
{
    if (m_fd < 0) {
        return {};
    }
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0 ? std::error_code {} : LastError();
}

} // namespace support
