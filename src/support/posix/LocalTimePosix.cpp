#include "support/LocalTime.h"

#include <chrono>
#include <langinfo.h>
#include <locale.h>

namespace support {

TimeFormats UserTimeFormats()
{
    TimeFormats formats;
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (!loc) {
        return formats; // the user's locale is not installed: keep the C formats
    }
    if (const char* d = nl_langinfo_l(D_FMT, loc); d && *d) {
        formats.date = d;
    }
    if (const char* t = nl_langinfo_l(T_FMT, loc); t && *t) {
        formats.time = t;
    }
    freelocale(loc);
    return formats;
}

std::tm LocalTimeNow()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local {};
    localtime_r(&now, &local);
    return local;
}

} // namespace support
