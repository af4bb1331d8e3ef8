#include "support/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "support/FileSystem.h"

namespace support {

namespace {

// Open-file-description locks: owned by the descriptor, not the process, so two holders in one
// process exclude each other, and closing another descriptor of the same file does not drop them.
std::error_code SetLock(int fd, short type, std::uint64_t slot, bool wait)
{
    struct flock lock
    { };
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(slot);
    lock.l_len = 1;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) {
            return {};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EACCES || errno == EAGAIN) {
            return std::make_error_code(std::errc::resource_unavailable_try_again);
        }
        return LastError();
    }
}

} // namespace

FileLock::~FileLock()
{
    Unlock();
    if (m_handle != NoFile) {
        ::close(static_cast<int>(m_handle));
    }
}

std::error_code FileLock::Lock(const std::string& path, std::uint64_t slot, Mode mode)
{
    Unlock();
    if (m_handle != NoFile && path != m_path) {
        ::close(static_cast<int>(m_handle));
        m_handle = NoFile;
    }
    if (m_handle == NoFile) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd < 0) {
            return LastError();
        }
        m_handle = fd;
        m_path = path;
    }
    if (auto error = SetLock(static_cast<int>(m_handle), F_WRLCK, slot, mode == Mode::Wait)) {
        return error;
    }
    m_slot = slot;
    m_held = true;
    return {};
}

void FileLock::Unlock()
{
    if (m_held) {
        SetLock(static_cast<int>(m_handle), F_UNLCK, m_slot, false);
        m_held = false;
    }
}

} // namespace support
