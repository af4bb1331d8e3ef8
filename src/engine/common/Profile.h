#pragma once

#include <optional>
#include <string>
#include <string_view>

// Which files of a disc a PACS system's profile treats as images, and what becomes of them. Pure rules,
// no file access.
namespace engine {

enum class Profile {
    ArztUndPraxis, // names ending in "Z" or "R"; gzip or compress containers, cut to their DICOM data
    Gemed, // every name, but only names without any "." are migrated; copied as they are
    Hipax, // every file, copied as it is
    Starc, // names ending in ".AR"; gzip or compress, decompressed as they are
};

// The systems in the order the window lists them: every list of the systems is made from this one.
inline constexpr Profile Profiles[] = {Profile::ArztUndPraxis, Profile::Gemed, Profile::Hipax, Profile::Starc};

// The profile of a PACS system's name, letter case ignored; nothing for any other text.
std::optional<Profile> ProfileFor(std::string_view pacsText);

// "Arzt und Praxis", "GEMED", "HIPAX", "STARC": the system's name as the window lists it, whatever
// spelling chose it.
std::string_view SystemName(Profile profile);

// "Arzt und Praxis, GEMED, HIPAX, STARC".
std::string SystemList();

bool IsSelected(Profile profile, std::string_view fileName);

// The profiles whose images are compressed and are decompressed on their way to the destination.
bool IsCompressed(Profile profile);

// The "." rule: "GEMED" counts every file as selected but migrates only names without any ".".
bool SkippedByDotRule(Profile profile, std::string_view fileName);

// The name up to, not including, its last "."; a name without "." is its own base name.
std::string BaseName(std::string_view fileName);

} // namespace engine
