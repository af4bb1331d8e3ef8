#pragma once

#include <optional>
#include <string>
#include <string_view>

// Which files of a disc a PACS system's profile treats as images, and where they go. Pure rules,
// no file access.
namespace engine {

// The run's selection code: "Z" ("Arzt und Praxis"), "STARC", or "" ("GEMED", "HIPAX"); matched
// without regard to letter case. Any other text has no profile.
std::optional<std::string> FileFilterFor(std::string_view pacsText);

// "Z": the upper-cased name ends with "Z" or "R"; "STARC": it ends with ".AR"; "": every name.
bool IsSelected(std::string_view fileFilter, std::string_view fileName);

// The profiles whose images are compressed and are decompressed on their way to the destination.
bool IsCompressedProfile(std::string_view fileFilter);

// The "." rule of the plain profile: apart from "HIPAX", only names without any "." are migrated.
bool SkippedByDotRule(std::string_view pacsText, std::string_view fileName);

// The name up to, not including, its last "."; a name without "." is its own base name.
std::string BaseName(std::string_view fileName);

std::string UpperAscii(std::string_view text);

} // namespace engine
