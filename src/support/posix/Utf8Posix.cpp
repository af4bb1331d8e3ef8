#include "support/Utf8.h"

#include <iconv.h>

namespace support {

std::string FromIso2022Jp(std::string_view text)
{
    const iconv_t converter = ::iconv_open("UTF-8", "ISO-2022-JP-2");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return {};
    }
    std::string input(text);
    std::string output(text.size() * 4 + 16, '\0'); // a character of 2 bytes at most takes 4 in UTF-8
    char* in = input.data();
    char* out = output.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = output.size();
    const bool converted = ::iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)
        && ::iconv(converter, nullptr, nullptr, &out, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(converter);
    if (!converted) {
        return {};
    }
    output.resize(output.size() - outLeft);
    return output;
}

} // namespace support
