#include "engine/common/Profile.h"

#include "support/Ascii.h"

namespace engine {

std::optional<Profile> ProfileFor(std::string_view pacsText)
{
    const std::string pacs = support::UpperAscii(pacsText);
    if (pacs == "ARZT UND PRAXIS") {
        return Profile::ArztUndPraxis;
    }
    if (pacs == "STARC") {
        return Profile::Starc;
    }
    if (pacs == "GEMED") {
        return Profile::Gemed;
    }
    if (pacs == "HIPAX") {
        return Profile::Hipax;
    }
    return std::nullopt;
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
