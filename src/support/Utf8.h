#pragma once

#include <string>
#include <string_view>

// Texts from old discs arrive in whatever encoding their writer used; reports and the console want
// UTF-8. These helpers never fail: a text that is not UTF-8 is read as Latin-1, the encoding that
// German systems of that time wrote without saying so.
namespace support {

// Length of the valid UTF-8 sequence at the start of text, or 0.
std::size_t Utf8SequenceLength(std::string_view text);
bool IsValidUtf8(std::string_view text);
// The text itself when it is valid UTF-8, else each byte read as a Latin-1 character.
std::string AsUtf8(std::string_view text);
// Text in the 7-bit ISO 2022 encoding that Japanese systems write (escape sequences switch between
// ASCII, JIS X 0201 and JIS X 0208), as UTF-8; empty when it is not such text.
std::string FromIso2022Jp(std::string_view text);

} // namespace support
