#include "engine/SelectionProfile.h"

namespace engine {

std::string UpperAscii(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

std::optional<std::string> FileFilterFor(std::string_view pacsText)
{
    const std::string pacs = UpperAscii(pacsText);
    if (pacs == "ARZT UND PRAXIS") {
        return "Z";
    }
    if (pacs == "STARC") {
        return "STARC";
    }
    if (pacs == "GEMED" || pacs == "HIPAX") {
        return "";
    }
    return std::nullopt;
}

bool IsSelected(std::string_view fileFilter, std::string_view fileName)
{
    const std::string name = UpperAscii(fileName);
    if (fileFilter == "Z") {
        return name.ends_with('Z') || name.ends_with('R');
    }
    if (fileFilter == "STARC") {
        return name.ends_with(".AR");
    }
    return fileFilter.empty();
}

bool IsCompressedProfile(std::string_view fileFilter)
{
    return fileFilter == "Z" || fileFilter == "STARC";
}

bool SkippedByDotRule(std::string_view pacsText, std::string_view fileName)
{
    return UpperAscii(pacsText) != "HIPAX" && fileName.find('.') != std::string_view::npos;
}

std::string BaseName(std::string_view fileName)
{
    return std::string(fileName.substr(0, fileName.rfind('.')));
}

} // namespace engine
