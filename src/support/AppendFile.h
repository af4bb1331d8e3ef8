#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "support/InputFile.h"

namespace support {

// A file that grows by whole records, such as a run report's rows: each Write reaches the system at
// once (nothing waits in a buffer of the process, so a killed program loses no record it wrote), and
// Sync makes what was written durable. Closed on every path out of its scope.
class AppendFile
{
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Creates the file; an existing one is std::errc::file_exists and stays as it is.
    std::error_code CreateNew(const std::string& path);
    // Opens the file to add to its end, creating it when it is not there; created tells which.
    std::error_code OpenOrCreate(const std::string& path, bool& created);
    std::error_code Write(std::string_view bytes);
    std::error_code Sync();
    std::error_code Close();
    bool IsOpen() const { return m_handle != NoFile; }

private:
    FileHandle m_handle = NoFile;
};

} // namespace support
