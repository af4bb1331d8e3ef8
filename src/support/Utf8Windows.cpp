#include "support/Utf8.h"

#include "support/WindowsApi.h"

namespace support {

std::string FromIso2022Jp(std::string_view text)
{
    // The system's ISO 2022 Japanese code page (JIS X 0201 katakana allowed).
    constexpr UINT Iso2022Jp = 50221;
    if (text.empty()) {
        return {};
    }
    const int size = ::MultiByteToWideChar(Iso2022Jp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(Iso2022Jp, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return windows::Utf8(wide);
}

} // namespace support
