#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include "support/InputFile.h"

namespace support {

// An advisory lock on one slot (a byte) of a lock file, for programs that share a program folder or a
// destination: the journal's rewrite, one disc into one destination at a time. The system drops the
// lock when its holder ends, however it ends, so a killed program never keeps others out. Each
// FileLock is its own holder, also against another FileLock of the same process.
class FileLock
{
public:
    enum class Mode { Wait, Try };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Locks slot of the file at path (created when missing). With Mode::Try a slot another holder has
    // gives std::errc::resource_unavailable_try_again at once; Mode::Wait waits for it. A FileLock
    // holds one slot at a time: locking another releases the first.
    std::error_code Lock(const std::string& path, std::uint64_t slot, Mode mode);
    void Unlock();
    bool Held() const { return m_held; }

private:
    FileHandle m_handle = NoFile;
    std::string m_path;
    std::uint64_t m_slot = 0;
    bool m_held = false;
};

// A slot number for a key (a destination, a disc): distinct keys practically never share one.
std::uint64_t LockSlot(std::string_view key);

} // namespace support
