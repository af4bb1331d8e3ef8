#include "support/ProcessWatch.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>
#include <vector>

namespace support {

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

std::string FileNameOf(std::string path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadSmallFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ExecutableName(const std::string& procEntry)
{
    char target[4096];
    const ssize_t n = ::readlink((procEntry + "/exe").c_str(), target, sizeof target);
    if (n > 0) {
        std::string path(target, static_cast<std::size_t>(n));
        constexpr std::string_view deleted = " (deleted)"; // the file was replaced while it runs
        if (path.ends_with(deleted)) {
            path.resize(path.size() - deleted.size());
        }
        return FileNameOf(path);
    }
    // Another user's process or a kernel thread: the command line still names the program.
    const std::string commandLine = ReadSmallFile(procEntry + "/cmdline");
    if (!commandLine.empty()) {
        return FileNameOf(commandLine.substr(0, commandLine.find('\0')));
    }
    std::string comm = ReadSmallFile(procEntry + "/comm");
    if (!comm.empty() && comm.back() == '\n') {
        comm.pop_back();
    }
    return comm;
}

} // namespace

std::uint32_t FindProcess(const std::string& name)
{
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) {
        return 0;
    }
    std::vector<std::uint32_t> ids;
    while (const dirent* entry = ::readdir(proc.get())) {
        std::uint32_t id = 0;
        const std::string_view text = entry->d_name;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
        if (error == std::errc {} && end == text.data() + text.size() && id > 0) {
            ids.push_back(id);
        }
    }
    std::sort(ids.begin(), ids.end()); // /proc lists in this order already; make sure of it
    const std::string wanted = Lower(name);
    for (const std::uint32_t id : ids) {
        if (Lower(ExecutableName("/proc/" + std::to_string(id))).find(wanted) != std::string::npos) {
            return id;
        }
    }
    return 0;
}

} // namespace support
