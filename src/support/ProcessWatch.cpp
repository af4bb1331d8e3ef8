#include "support/ProcessWatch.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "support/ProcessWatchNative.h"

namespace support {

namespace {

std::string HostTag()
{
    std::uint32_t hash = 2166136261u; // FNV-1a: short, and the same in every process of this machine
    for (const char c : native::HostName()) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(hash));
    return text;
}

} // namespace

std::string ProcessTag()
{
    static const std::string host = HostTag();
    return host + "-" + std::to_string(native::ProcessId());
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
    return native::ProcessGone(pid);
}

} // namespace support
