#include "support/LocalTime.h"

#include <chrono>

#include "support/WindowsApi.h"

namespace support {

namespace {

// The user's date or time picture ("dd.MM.yyyy", "HH:mm:ss") as a strftime format. A letter repeated
// says the field's width: "d" is the day without its leading zero ("%#d"), "dd" with it; text in
// single quotes stays as it is.
std::string StrftimeFormat(const std::wstring& picture)
{
    std::string format;
    for (std::size_t i = 0; i < picture.size();) {
        const wchar_t letter = picture[i];
        std::size_t count = 1;
        while (i + count < picture.size() && picture[i + count] == letter) {
            ++count;
        }
        const bool one = count == 1;
        switch (letter) {
        case L'd':
            format += count >= 4 ? "%A" : count == 3 ? "%a" : one ? "%#d" : "%d";
            break;
        case L'M':
            format += count >= 4 ? "%B" : count == 3 ? "%b" : one ? "%#m" : "%m";
            break;
        case L'y':
            format += count >= 3 ? "%Y" : "%y";
            break;
        case L'H':
            format += one ? "%#H" : "%H";
            break;
        case L'h':
            format += one ? "%#I" : "%I";
            break;
        case L'm':
            format += one ? "%#M" : "%M";
            break;
        case L's':
            format += one ? "%#S" : "%S";
            break;
        case L't':
            format += "%p";
            break;
        case L'\'': {
            const std::size_t end = picture.find(L'\'', i + 1);
            format += windows::Utf8(picture.substr(i + 1, (end == std::wstring::npos ? picture.size() : end) - i - 1));
            i = end == std::wstring::npos ? picture.size() : end + 1;
            continue;
        }
        default:
            format += windows::Utf8(picture.substr(i, count));
            break;
        }
        i += count;
    }
    return format;
}

std::wstring Picture(LCTYPE item)
{
    wchar_t text[128] = {};
    return ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, text, 128) > 0 ? std::wstring(text) : std::wstring();
}

} // namespace

TimeFormats UserTimeFormats()
{
    TimeFormats formats;
    if (const std::wstring date = Picture(LOCALE_SSHORTDATE); !date.empty()) {
        formats.date = StrftimeFormat(date);
    }
    if (const std::wstring time = Picture(LOCALE_STIMEFORMAT); !time.empty()) {
        formats.time = StrftimeFormat(time);
    }
    return formats;
}

std::tm LocalTimeNow()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local {};
    localtime_s(&local, &now);
    return local;
}

} // namespace support
