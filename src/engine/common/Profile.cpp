#include "engine/common/Profile.h"

#include "support/Ascii.h"

namespace engine {

std::optional<Profile> ProfileFor(std::string_view pacsText)
{
    const std::string pacs = support::UpperAscii(pacsText);
    for (const Profile profile : Profiles) {
        if (pacs == support::UpperAscii(SystemName(profile))) {
            return profile;
        }
    }
    return std::nullopt;
}

std::string SystemList()
{
    std::string list;
    for (const Profile profile : Profiles) {
        list.append(list.empty() ? "" : ", ").append(SystemName(profile));
    }
    return list;
}

std::string_view SystemName(Profile profile)
{
    switch (profile) {
    case Profile::ArztUndPraxis:
        return "Arzt und Praxis";
    case Profile::Gemed:
        return "GEMED";
    case Profile::Hipax:
        return "HIPAX";
    case Profile::Starc:
        break;
    }
    return "STARC";
}

bool IsSelected(Profile profile, std::string_view fileName)
{
    const std::string name = support::UpperAscii(fileName);
    switch (profile) {
    case Profile::ArztUndPraxis:
        return name.ends_with('Z') || name.ends_with('R');
    case Profile::Starc:
        return name.ends_with(".AR");
    case Profile::Gemed:
    case Profile::Hipax:
        break;
    }
    return true;
}

bool IsCompressed(Profile profile)
{
    return profile == Profile::ArztUndPraxis || profile == Profile::Starc;
}

bool SkippedByDotRule(Profile profile, std::string_view fileName)
{
    return profile == Profile::Gemed && fileName.find('.') != std::string_view::npos;
}

std::string BaseName(std::string_view fileName)
{
    return std::string(fileName.substr(0, fileName.rfind('.')));
}

} // namespace engine
