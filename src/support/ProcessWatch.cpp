#include "support/ProcessWatch.h"

#include <algorithm>
#include <charconv>
#include <dirent.h>
#include <memory>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include "support/Ascii.h"
#include "support/FileSystem.h"

namespace support {

namespace {

std::string ReadSmallFile(const std::string& path)
{
    std::string content;
    ReadWholeFile(path, content); // empty when it cannot be read
    return content;
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
        return NameOf(path);
    }
    // Another user's process or a kernel thread: the command line still names the program.
    const std::string commandLine = ReadSmallFile(procEntry + "/cmdline");
    if (!commandLine.empty()) {
        return NameOf(commandLine.substr(0, commandLine.find('\0')));
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
    const std::string wanted = LowerAscii(name);
    for (const std::uint32_t id : ids) {
        if (LowerAscii(ExecutableName("/proc/" + std::to_string(id))).find(wanted) != std::string::npos) {
            return id;
        }
    }
    return 0;
}

namespace {

std::string HostTag()
{
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    std::uint32_t hash = 2166136261u; // FNV-1a: short, and the same in every process of this machine
    for (const char* c = name; *c != '\0'; ++c) {
        hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(hash));
    return text;
}

} // namespace

std::string ProcessTag()
{
    static const std::string host = HostTag();
    return host + "-" + std::to_string(::getpid());
}

bool IsProcessTag(std::string_view name)
{
    constexpr std::size_t HostDigits = 8;
    auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    return name.size() > HostDigits + 1 && std::all_of(name.begin(), name.begin() + HostDigits, isHex)
        && name[HostDigits] == '-' && std::all_of(name.begin() + HostDigits + 1, name.end(), isDigit);
}

bool IsLeftoverOfDeadProcess(std::string_view name)
{
    static const std::string prefix = HostTag() + "-";
    if (!name.starts_with(prefix)) {
        return false;
    }
    name.remove_prefix(prefix.size());
    long pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end == name.data() || pid <= 0) {
        return false;
    }
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace support
