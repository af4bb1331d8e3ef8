#include "engine/pacs/DicomNode.h"

#include <algorithm>
#include <charconv>

namespace engine {

bool CheckAet(std::string_view aet, std::string& error)
{
    // Leading and trailing blanks are not significant in an AE title, so they would be lost on the wire.
    const bool printable
        = std::all_of(aet.begin(), aet.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; });
    if (aet.empty() || aet.size() > 16 || !printable || aet.front() == ' ' || aet.back() == ' ') {
        error = "AE-Titel \"" + std::string(aet)
            + "\" ist ungültig: 1 bis 16 Zeichen, Buchstaben, Ziffern und einfache Zeichen, ohne \\.";
        return false;
    }
    return true;
}

std::optional<std::uint16_t> ParsePort(std::string_view text)
{
    unsigned value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<DicomNode> ParseNode(std::string_view text, std::string& error)
{
    const std::string shown(text);
    const auto at = text.rfind('@');
    const auto colon = text.rfind(':');
    if (at == std::string_view::npos || colon == std::string_view::npos || colon < at) {
        error = "PACS-Knoten \"" + shown + "\" ist nicht in der Form AE-TITEL@RECHNER:PORT angegeben.";
        return std::nullopt;
    }
    DicomNode node;
    node.aet = std::string(text.substr(0, at));
    node.host = std::string(text.substr(at + 1, colon - at - 1));
    if (node.host.size() > 2 && node.host.front() == '[' && node.host.back() == ']') {
        node.host = node.host.substr(1, node.host.size() - 2);
    }
    const auto port = ParsePort(text.substr(colon + 1));
    if (!CheckAet(node.aet, error)) {
        return std::nullopt;
    }
    // DCMTK's network layer as built here connects over IPv4 only; an IPv6 address would end in a retry
    // until the node counts as unreachable.
    if (node.host.find(':') != std::string::npos) {
        error = "PACS-Knoten \"" + shown
            + "\": IPv6-Adressen werden nicht unterstützt; bitte die IPv4-Adresse oder den Rechnernamen angeben.";
        return std::nullopt;
    }
    if (node.host.empty() || node.host.find_first_of(" @[]") != std::string::npos) {
        error = "PACS-Knoten \"" + shown + "\": der Rechnername fehlt oder ist ungültig.";
        return std::nullopt;
    }
    if (!port) {
        error = "PACS-Knoten \"" + shown + "\": der Port muss eine Zahl von 1 bis 65535 sein.";
        return std::nullopt;
    }
    node.port = *port;
    return node;
}

} // namespace engine
