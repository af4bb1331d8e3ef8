#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <system_error>

namespace support {

// Files are read, copied and hashed a piece of this size at a time: large enough for an optical
// drive's stream, small enough that a stop or a repaint waits for little.
inline constexpr std::size_t FilePieceBytes = std::size_t {1} << 20;

// When a file was last changed, to the nanosecond where the file system keeps it.
struct FileTime
{
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
    bool operator==(const FileTime&) const = default;
};

// The system's handle of an open file (a descriptor on POSIX, a HANDLE on Windows), as a number that
// holds either.
using FileHandle = std::intptr_t;
inline constexpr FileHandle NoFile = -1;

// A file opened for reading, closed on every path out of its scope.
class InputFile
{
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Refuses anything but a regular file (FileError::NotARegularFile) without blocking on a FIFO.
    std::error_code Open(const std::string& path);
    // Reads up to buffer.size() bytes; got is 0 at the end of the file.
    std::error_code Read(std::span<char> buffer, std::size_t& got);
    // Reading goes on from offset.
    std::error_code Seek(std::uint64_t offset);
    // Reads the rest of the file into the front of buffer and sets length. The buffer only grows, so
    // that one serves many files. A file that ends before its size at opening reports
    // FileError::SizeChanged. With stopped, the file is read a MiB at a time and stopped is asked
    // after each piece: true ends the reading with std::errc::operation_canceled.
    std::error_code ReadRest(std::string& buffer, std::size_t& length, const std::function<bool()>& stopped = {});

    // Gives the file back to the system early; what was learnt at opening stays.
    void Close();

    std::uint64_t SizeAtOpen() const { return m_size; }
    const FileTime& ModifiedAtOpen() const { return m_modified; }
    // True while path still names the file as it was opened: the same file, size and modification
    // time. For a file that was read ahead of its turn, also once it is closed.
    bool IsStill(const std::string& path) const;

private:
    FileHandle m_handle = NoFile;
    bool m_opened = false;
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
    std::uint64_t m_size = 0;
    FileTime m_modified;
};

} // namespace support
