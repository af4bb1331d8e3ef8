#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A DICOM node as the operator names it: "AET@HOST:PORT", the way the node's own set-up page shows it.
namespace engine {

inline constexpr const char* DefaultOwnAet = "ZETPELTA";
inline constexpr std::uint16_t DefaultListenPort = 11113;

struct DicomNode
{
    std::string aet;
    std::string host;
    std::uint16_t port = 0;

    std::string Text() const { return aet + "@" + host + ":" + std::to_string(port); }
    bool operator==(const DicomNode&) const = default;
};

// nullopt with a German error for the operator when the text is not a node. An AE title is 1 to 16
// characters of the default repertoire without "\" (a PACS compares it byte for byte, so it is taken
// as written); an IPv6 address ("PACS@[::1]:104") is refused with its own reason.
std::optional<DicomNode> ParseNode(std::string_view text, std::string& error);
// A port of ours or of the node: 1 to 65535.
std::optional<std::uint16_t> ParsePort(std::string_view text);
// Whether the text is an AE title we can use; the German error otherwise.
bool CheckAet(std::string_view aet, std::string& error);

} // namespace engine
