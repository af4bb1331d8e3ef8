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

void WriteFile(const std::string& path, const std::string& bytes); // creates the parent folders
std::string ReadFile(const std::string& path);
void MakeFolders(const std::string& path);
// Relative path -> content of every regular file below root that can be read; links are not followed.
std::map<std::string, std::string> Snapshot(const std::string& root);
std::vector<std::string> Names(const std::string& folder); // directly in the folder, sorted
// Noise: size pseudo-random bytes, the same for the same seed.
std::string RandomBytes(std::size_t size, std::uint64_t seed);
// A shell command fed with input: its exit status and output. On Windows, the Linux tests' record of it.
struct FilterRun
{
    int status;
    std::string output;
};
FilterRun RunFilter(const std::string& command, const std::string& input);
// Its output, e.g. Filter("gzip -9", bytes); throws when it fails.
std::string Filter(const std::string& command, const std::string& input);
// A path as the programs show it: with the system's own separators ("\" on Windows).
std::string Shown(std::string path);
// Whether name is what the program gives a destination file: a lower-case UUID version 7 and ".dcm".
bool IsDestinationName(std::string_view name);
// Lines of a log file without their CR LF (a last line without one is marked); none for a missing file.
std::vector<std::string> LogLines(const std::string& path);

} // namespace testing_support
