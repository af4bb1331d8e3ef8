#pragma once

#include <ctime>
#include <string>

namespace support {

// The user's short date and long time formats (strftime's), as the log's time stamps show them.
struct TimeFormats
{
    std::string date = "%m/%d/%y";
    std::string time = "%H:%M:%S";
};
// The formats of the user's locale; the C formats where it has none or is not installed.
TimeFormats UserTimeFormats();

// The time now, broken down in the local time zone.
std::tm LocalTimeNow();

// The local time now as the reports write it: "2026-12-06T10:05:03".
inline std::string LocalIsoTime()
{
    const std::tm local = LocalTimeNow();
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

} // namespace support
