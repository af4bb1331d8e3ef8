#include "support/AppendFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "support/FileSystem.h"

namespace support {

namespace {

int Fd(FileHandle handle)
{
    return static_cast<int>(handle);
}

} // namespace

AppendFile::~AppendFile()
{
    Close();
}

std::error_code AppendFile::CreateNew(const std::string& path)
{
    Close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        return LastError();
    }
    m_handle = fd;
    return {};
}

std::error_code AppendFile::OpenOrCreate(const std::string& path, bool& created)
{
    created = !CreateNew(path);
    if (created) {
        return {};
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return LastError();
    }
    m_handle = fd;
    return {};
}

std::error_code AppendFile::Write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(Fd(m_handle), bytes.data(), bytes.size());
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
    return ::fdatasync(Fd(m_handle)) == 0 ? std::error_code {} : LastError();
}

std::error_code AppendFile::Close()
{
    if (m_handle == NoFile) {
        return {};
    }
    const int fd = Fd(m_handle);
    m_handle = NoFile;
    return ::close(fd) == 0 ? std::error_code {} : LastError();
}

} // namespace support
