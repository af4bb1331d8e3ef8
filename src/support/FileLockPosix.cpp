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
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::error_code FileLock::Lock(const std::string& path, std::uint64_t slot, Mode mode)
{
    Unlock();
    if (m_fd >= 0 && path != m_path) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_fd < 0) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
        if (m_fd < 0) {
            return LastError();
        }
        m_path = path;
    }
    if (auto error = SetLock(m_fd, F_WRLCK, slot, mode == Mode::Wait)) {
        return error;
    }
    m_slot = slot;
    m_held = true;
    return {};
}

void FileLock::Unlock()
{
    if (m_held) {
        SetLock(m_fd, F_UNLCK, m_slot, false);
        m_held = false;
    }
}

std::uint64_t LockSlot(std::string_view key)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a, 64 bits
    for (const char c : key) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    // Below 2^62, so that the slot is a valid file offset; the first 16 are for fixed uses.
    return 16 + (hash >> 2);
}

} // namespace support
