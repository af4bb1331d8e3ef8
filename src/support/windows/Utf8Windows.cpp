#include "support/Utf8.h"

#include "support/windows/WindowsApi.h"

namespace support {

namespace {

// The system's EUC-JP code page, which holds JIS X 0208 and 0212 with their high bits set.
constexpr UINT EucJp = 20932;

enum class Set { Ascii, Roman, Katakana, Jis0208, Jis0212 };

// JIS X 0208 or 0212 bytes in their EUC-JP form, as UTF-16; false for a pair the system cannot map.
bool AppendEucJp(const std::string& euc, std::wstring& out)
{
    if (euc.empty()) {
        return true;
    }
    const int size = ::MultiByteToWideChar(EucJp, MB_ERR_INVALID_CHARS, euc.data(), static_cast<int>(euc.size()), nullptr, 0);
    if (size <= 0) {
        return false;
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(size));
    ::MultiByteToWideChar(EucJp, MB_ERR_INVALID_CHARS, euc.data(), static_cast<int>(euc.size()), out.data() + at, size);
    return true;
}

} // namespace

// The system has no ISO 2022 Japanese decoder that every Windows (and Wine) offers, but each has
// EUC-JP: the escape sequences are read here, and the double-byte sets' bytes handed to EUC-JP.
std::string FromIso2022Jp(std::string_view text)
{
    std::wstring wide;
    std::string euc; // double-byte characters not yet converted
    Set set = Set::Ascii;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == 0x1B) {
            if (!AppendEucJp(euc, wide)) {
                return {};
            }
            euc.clear();
            const std::string_view rest = text.substr(i + 1);
            const std::pair<std::string_view, Set> escapes[] = {{"(B", Set::Ascii}, {"(J", Set::Roman},
                {"(I", Set::Katakana}, {"$@", Set::Jis0208}, {"$B", Set::Jis0208}, {"$(D", Set::Jis0212}};
            bool known = false;
            for (const auto& [sequence, next] : escapes) {
                if (rest.starts_with(sequence)) {
                    set = next;
                    i += 1 + sequence.size();
                    known = true;
                    break;
                }
            }
            if (!known) {
                return {};
            }
            continue;
        }
        if (byte >= 0x80) {
            return {}; // 7 bits only
        }
        const bool control = byte < 0x21 || byte == 0x7F;
        if (control || set == Set::Ascii) {
            if (!AppendEucJp(euc, wide)) {
                return {};
            }
            euc.clear();
            wide += static_cast<wchar_t>(byte);
            ++i;
        } else if (set == Set::Roman) {
            wide += byte == 0x5C ? L'\u00A5' : byte == 0x7E ? L'\u203E' : static_cast<wchar_t>(byte);
            ++i;
        } else if (set == Set::Katakana) {
            if (byte > 0x5F) {
                return {};
            }
            wide += static_cast<wchar_t>(0xFF61 + (byte - 0x21));
            ++i;
        } else {
            if (i + 1 >= text.size()) {
                return {}; // half a character
            }
            if (set == Set::Jis0212) {
                euc += '\x8F';
            }
            euc += static_cast<char>(byte | 0x80);
            euc += static_cast<char>(static_cast<unsigned char>(text[i + 1]) | 0x80);
            i += 2;
        }
    }
    if (!AppendEucJp(euc, wide)) {
        return {};
    }
    return windows::Utf8(wide);
}

} // namespace support
