#include "common/TempTree.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <csignal>
#include <sys/resource.h>

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "zet-pelta-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Tests may leave read-only folders behind; make everything removable first.
    for (auto it = fs::recursive_directory_iterator(m_path, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(m_path, ignored);
}

void MakeFolders(const std::string& path)
{
    fs::create_directories(path);
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    const fs::path p(path);
    if (p.has_parent_path()) {
        fs::create_directories(p.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
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
        if (entry.is_regular_file() && !entry.is_symlink()) {
            files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path().string());
        }
    }
    return files;
}

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Filter(const std::string& command, const std::string& input)
{
    const TempDir dir;
    WriteFile(dir / "in", input);
    const std::string line = "(" + command + ") <'" + dir / "in" + "' >'" + dir / "out" + "'";
    if (std::system(line.c_str()) != 0) {
        throw std::runtime_error("command failed: " + command);
    }
    return ReadFile(dir / "out");
}

std::vector<std::string> LogLines(const std::string& path)
{
    std::vector<std::string> lines;
    if (!fs::exists(path)) {
        return lines;
    }
    const std::string content = ReadFile(path);
    size_t start = 0;
    while (start < content.size()) {
        const auto end = content.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(content.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

FileSizeLimit::FileSizeLimit(unsigned long long maxBytes)
{
    rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    m_oldSoft = limit.rlim_cur;
    limit.rlim_cur = maxBytes;
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        throw std::runtime_error("setrlimit failed");
    }
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = m_oldSoft;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, m_oldHandler);
}

bool IsDestinationName(std::string_view name)
{
    constexpr std::string_view Shape = "xxxxxxxx-xxxx-7xxx-yxxx-xxxxxxxxxxxx.dcm";
    if (name.size() != Shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const char c = name[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        const bool ok = Shape[i] == 'x' ? hex
            : Shape[i] == 'y'           ? (c == '8' || c == '9' || c == 'a' || c == 'b')
                                        : c == Shape[i];
        if (!ok) {
            return false;
        }
    }
    return true;
}

} // namespace testing_support
