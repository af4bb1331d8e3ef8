#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// A folder of its own under the system's temp folder, removed with everything in it at the end.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + "/" + relative; }

private:
    std::string m_path;
};

// Writes bytes to a file, creating its parent folders.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
void MakeFolders(const std::string& path);

// Relative path -> content of every regular file below root (symbolic links are not followed).
std::map<std::string, std::string> Snapshot(const std::string& root);
// Names directly in a folder, sorted.
std::vector<std::string> Names(const std::string& folder);

// The output of a shell command fed with input on its standard input, e.g. Filter("gzip -9", bytes).
// Throws when the command fails.
std::string Filter(const std::string& command, const std::string& input);

// Whether name is what the program gives a destination file: a lower-case UUID version 7 and ".dcm".
bool IsDestinationName(std::string_view name);

// Lines of a log file without their CR LF; an empty list for a missing file.
std::vector<std::string> LogLines(const std::string& path);

} // namespace testing_support

namespace testing_support {

// While alive, no file of this process may grow beyond maxBytes: writes past it fail with EFBIG, as
// on a full disk, instead of killing the process with SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(unsigned long long maxBytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long m_oldSoft;
    void (*m_oldHandler)(int);
};

} // namespace testing_support
