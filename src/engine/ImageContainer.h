#pragma once

#include <optional>
#include <string_view>

namespace engine {

// Cuts the DICOM data out of an "Arzt und Praxis" container: a leading block without zero bytes, then
// the DICOM data, which begins with the first zero byte, then a trailer that begins with the first
// "#*lastfile*#" after it. The result is a view into content: from the first 0x00 up to, not
// including, that marker. Empty when there is no zero byte or no marker after it (a marker inside
// the leading block does not count). Two forward scans; nothing is copied.
std::optional<std::string_view> CorrectImage(std::string_view content);

} // namespace engine
