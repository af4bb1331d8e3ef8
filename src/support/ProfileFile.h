#pragma once

#include <optional>
#include <string>
#include <string_view>

// Settings.ini in the classic profile format: "[Section]" lines and "key=value" entries, values as
// plain bytes without quotes or escapes. Written by hand because existing files must be read and
// rewritten exactly as the program always has; a generic INI library quotes, escapes and reorders.
//
// Section and key names ignore ASCII letter case and surrounding blanks, a value loses its
// surrounding blanks, the first matching section and key win, lines that begin with ';' are
// comments. Quotes around a value are kept, so that every value the program
// writes reads back unchanged (unless it begins or ends with a blank). Lines may end in CR LF or LF.
// Byte-order marks at the front of the file (any number) are skipped, and kept when it is rewritten.
namespace support {

// The stored value, whole; the default when the file, the section or the key is missing, and when the
// file cannot be read (a folder of that name, say). A key
// that is present with an empty value gives the empty text.
std::string ReadIniValue(
    std::string_view section, std::string_view key, std::string_view defaultValue, const std::string& file);

// Creates the file, the section and the key as needed; replaces an existing key's value in place. A new
// section goes to the end of the file, a new key to the end of its section; new lines end in CR LF. The
// file is rewritten through a temporary file and a rename, so a failed write leaves the old content.
// Returns false when nothing was written: an unwritable folder, a full disk, or a value that would not
// read back as written (a text holding a line break, which the format cannot store, say).
bool WriteIniValue(std::string_view section, std::string_view key, std::string_view value, const std::string& file);

// The same two operations on the file's content, for callers that hold it already (and for fuzzing).
// FindIniValue gives nothing where ReadIniValue would give the default; SetIniValue gives the new
// content, or nothing for a value that would not read back from it.
std::optional<std::string> FindIniValue(const std::string& content, std::string_view section, std::string_view key);
std::optional<std::string> SetIniValue(
    const std::string& content, std::string_view section, std::string_view key, std::string_view value);

} // namespace support
