#include "engine/ImageContainer.h"

namespace engine {

namespace {

constexpr std::string_view TrailerMarker = "#*lastfile*#";

} // namespace

std::optional<std::string_view> CorrectImage(std::string_view content)
{
    const auto start = content.find('\0');
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view data = content.substr(start);
    const auto end = data.find(TrailerMarker);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return data.substr(0, end);
}

} // namespace engine
