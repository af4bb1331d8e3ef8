#include "common/TempTree.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir()
    : m_path((fs::temp_directory_path() / "zet-pelta-test-XXXXXX").string())
{
    if (!::mkdtemp(m_path.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Tests may leave folders without permissions behind; make everything removable first.
    for (auto it = fs::recursive_directory_iterator(m_path, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ignored);
    }
    fs::remove_all(m_path, ignored);
}

void MakeFolders(const std::string& path)
{
    fs::create_directories(path);
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    MakeFolders(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> Snapshot(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::ifstream in(entry.path(), std::ios::binary); // a path longer than the system opens is left out
        if (entry.is_regular_file() && !entry.is_symlink() && in) {
            files[fs::relative(entry.path(), root).string()].assign(std::istreambuf_iterator<char>(in), {});
        }
    }
    return files;
}

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(std::upper_bound(names.begin(), names.end(), entry.path().filename()), entry.path().filename());
    }
    return names;
}

std::string Filter(const std::string& command, const std::string& input)
{
    const TempDir dir;
    WriteFile(dir / "in", input);
    if (std::system(("(" + command + ") <'" + dir / "in" + "' >'" + dir / "out" + "'").c_str()) != 0) {
        throw std::runtime_error("command failed: " + command);
    }
    return ReadFile(dir / "out");
}

std::vector<std::string> LogLines(const std::string& path)
{
    std::vector<std::string> lines;
    const std::string content = fs::exists(path) ? ReadFile(path) : "";
    for (std::size_t start = 0; start < content.size();) {
        const auto end = content.find("\r\n", start);
        lines.push_back(
            end == std::string::npos ? content.substr(start) + "<no CR LF>" : content.substr(start, end - start));
        start = end == std::string::npos ? content.size() : end + 2;
    }
    return lines;
}

bool IsDestinationName(std::string_view name)
{
    static const std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\\.dcm");
    return std::regex_match(name.begin(), name.end(), shape);
}

} // namespace testing_support
