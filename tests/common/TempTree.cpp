#include "common/TempTree.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <stdexcept>
#include <utility>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "support/FileSystem.h"
#include "support/Sha256.h"

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir()
{
    // A random name made here, as mkdtemp does: create_directory fails rather than share a folder.
    static thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "zet-pelta-test-%012llx",
            static_cast<unsigned long long>(random() & 0xffffffffffffULL));
        const fs::path path = fs::temp_directory_path() / name;
        if (fs::create_directory(path)) {
            m_path = support::Utf8Of(path.generic_u8string());
            return;
        }
    }
    throw std::runtime_error("cannot make a temp folder");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Tests may leave folders without permissions behind; make everything removable first.
    for (auto it = fs::recursive_directory_iterator(support::PathOf(m_path), ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ignored);
    }
    fs::remove_all(support::PathOf(m_path), ignored);
}

void MakeFolders(const std::string& path)
{
    fs::create_directories(support::PathOf(path));
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    fs::create_directories(support::PathOf(path).parent_path());
    std::ofstream out(support::PathOf(path), std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(support::PathOf(path), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> Snapshot(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(support::PathOf(root))) {
        std::ifstream in(entry.path(), std::ios::binary); // a path longer than the system opens is left out
        if (entry.is_regular_file() && !entry.is_symlink() && in) {
            files[support::Utf8Of(fs::relative(entry.path(), support::PathOf(root)).generic_u8string())].assign(std::istreambuf_iterator<char>(in), {});
        }
    }
    return files;
}

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(support::PathOf(folder))) {
        const std::string name = support::Utf8Of(entry.path().filename());
        names.insert(std::upper_bound(names.begin(), names.end(), name), name);
    }
    return names;
}

std::string RandomBytes(std::size_t size, std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() >> 56);
    }
    return bytes;
}

// The Windows build has no gzip or compress. The Linux build's tests, run with ZP_FILTER_RECORDS naming
// a folder, leave there what each command made of each input (its exit status, then its output),
// under the hash of both; the Windows tests read it back from the folder of that name. gzip writes the
// time into its output, so the records of one run belong together.
FilterRun RunFilter(const std::string& command, const std::string& input)
{
    const char* records = std::getenv("ZP_FILTER_RECORDS");
    support::Sha256 key;
    key.Update(command + '\0');
    key.Update(input);
    const std::string record = records == nullptr ? "" : std::string(records) + "/" + key.HexDigest();
#ifdef _WIN32
    if (record.empty() || !fs::exists(support::PathOf(record))) {
        throw std::runtime_error("no recorded output of `" + command + "` for this input in ZP_FILTER_RECORDS ("
            + (records == nullptr ? "not set" : records) + "): the Linux build's tests make it");
    }
    const std::string recorded = ReadFile(record);
    return {static_cast<unsigned char>(recorded.at(0)), recorded.substr(1)};
#else
    const TempDir dir;
    WriteFile(dir / "in", input);
    const int status = std::system(("(" + command + ") <'" + dir / "in" + "' >'" + dir / "out" + "'").c_str());
    FilterRun run {WIFEXITED(status) ? WEXITSTATUS(status) : 255, ReadFile(dir / "out")};
    if (!record.empty()) {
        WriteFile(record, static_cast<char>(run.status) + run.output);
    }
    return run;
#endif
}

std::string Filter(const std::string& command, const std::string& input)
{
    FilterRun run = RunFilter(command, input);
    if (run.status != 0) {
        throw std::runtime_error("command failed: " + command);
    }
    return std::move(run.output);
}

std::vector<std::string> LogLines(const std::string& path)
{
    std::vector<std::string> lines;
    const std::string content = fs::exists(support::PathOf(path)) ? ReadFile(path) : "";
    for (std::size_t start = 0; start < content.size();) {
        const auto end = content.find("\r\n", start);
        lines.push_back(
            end == std::string::npos ? content.substr(start) + "<no CR LF>" : content.substr(start, end - start));
        start = end == std::string::npos ? content.size() : end + 2;
    }
    return lines;
}

std::string Shown(std::string path)
{
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

bool IsDestinationName(std::string_view name)
{
    static const std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\\.dcm");
    return std::regex_match(name.begin(), name.end(), shape);
}

} // namespace testing_support
