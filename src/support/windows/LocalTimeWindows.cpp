#include "support/LocalTime.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "support/windows/WindowsApi.h"

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
        // Fields by their letter: the strftime format for one letter, for two, three and four or more.
        static const struct
        {
            wchar_t letter;
            const char* formats[4];
        } fields[] = {
            {L'd', {"%#d", "%d", "%a", "%A"}},
            {L'M', {"%#m", "%m", "%b", "%B"}},
            {L'y', {"%y", "%y", "%Y", "%Y"}},
            {L'H', {"%#H", "%H", "%H", "%H"}},
            {L'h', {"%#I", "%I", "%I", "%I"}},
            {L'm', {"%#M", "%M", "%M", "%M"}},
            {L's', {"%#S", "%S", "%S", "%S"}},
        };
        const auto field = std::find_if(
            std::begin(fields), std::end(fields), [letter](const auto& entry) { return entry.letter == letter; });
        if (field != std::end(fields)) {
            format += field->formats[std::min<std::size_t>(count, 4) - 1];
            i += count;
            continue;
        }
        switch (letter) {
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
